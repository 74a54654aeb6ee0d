// The "Show images from the web" option reaches the reading pane when a feed
// is shown, also from a configuration written before the option existed.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "AppTestSupport.h"
#include "fMain.h"

namespace {

TEST(WebImagesOption, ShowingAFeedAppliesTheOption) {
    apptest::TStagedHome home;
    auto form = std::make_unique<TFormMain>();
    form->Updates().Stop();
    QTreeWidgetItem* node = apptest::AddConfiguredFeed(*form, "1", "http://127.0.0.1:1/", "News");

    const struct {
        const char* stored;  // nullptr: no such element
        bool shown;
        const char* afterwards;
    } cases[] = {
        {"False", false, "False"}, {"True", true, "True"}, {"0", false, "0"},
        {nullptr, true, "True"},   {"", true, "True"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "(absent)");
        xml::Node general = form->Options().GetConfigNode("general");
        if (xml::Node old = general.ChildByName("ShowWebImages")) old.Remove();
        if (c.stored) general.AppendElement("ShowWebImages").SetText(c.stored);
        form->ReadingPane->SetShowWebImages(!c.shown);
        apptest::ShowFeed(*form, node);
        EXPECT_EQ(form->ReadingPane->ShowWebImages(), c.shown);
        // A helper started later by the pane, or again after a release,
        // gets the same setting.
        form->ReadingPane->ReleaseBrowser();
        EXPECT_EQ(form->ReadingPane->ShowWebImages(), c.shown);
        EXPECT_EQ(general.ChildByName("ShowWebImages").Text(), c.afterwards);
    }
    form.reset();
}

}  // namespace

// The Feed Properties dialog driven as a person would, from Edit Feed: each
// change reaches the feed's element, its place in the tree and the saved
// config.xml; Cancel and an untouched OK change nothing.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "AppTestSupport.h"
#include "XmlDom.h"
#include "fFeedProperties.h"
#include "fMain.h"

namespace {

using TAttributes = std::map<std::string, std::optional<std::string>>;

std::string Fixture(const std::string& relative) {
    std::ifstream in(std::string(QUILLET_TEST_DATA_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

xml::Node FindItem(const xml::Node& container, const std::string& id) {
    for (const xml::Node& child : container.ChildElements()) {
        if (child.Name() == "item" && child.Attribute("id") == id) return child;
        if (child.Name() == "folder")
            if (xml::Node found = FindItem(child, id)) return found;
    }
    return {};
}

// "News/Local": the folders above a feed's element in the saved file.
std::string FolderPath(xml::Node element) {
    std::string path;
    for (xml::Node up = element.Parent(); up && up.Name() == "folder"; up = up.Parent())
        path = up.Attribute("caption").value_or("") + (path.empty() ? "" : "/" + path);
    return path;
}

class FeedPropertiesTest : public ::testing::Test {
protected:
    void Start() {
        form.reset();
        home.WriteFile("config.xml", Fixture("config/feed_properties.xml"));
        form = std::make_unique<TFormMain>();
        form->Updates().Stop();
    }
    void TearDown() override { form.reset(); }

    // Opens Edit Feed on a feed, lets `act` change the dialog, and closes it
    // with OK or Cancel.
    void Edit(const std::string& id, const std::function<void(TFormFeedProperties&)>& act, bool ok = true) {
        form->Tree().setCurrentItem(form->Tree().FindFeedNodeById(id));
        bool seen = false;
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<TFormFeedProperties*>(QApplication::activeModalWidget());
            if (!dialog) return;
            poll.stop();
            seen = true;
            act(*dialog);
            (ok ? dialog->OKBtn : dialog->CancelBtn)->click();
        });
        poll.start();
        form->Actions().EditFeed->trigger();
        EXPECT_TRUE(seen) << "no dialog for feed " << id;
    }

    apptest::TStagedHome home;
    std::unique_ptr<TFormMain> form;
};

TEST_F(FeedPropertiesTest, EachChangeReachesTheElementTheTreeAndTheSavedFile) {
    struct Case {
        const char* name;
        const char* id;
        std::function<void(TFormFeedProperties&)> act;
        TAttributes expected;  // nullopt: the attribute is absent
        const char* folder;    // the folders above the feed afterwards
        bool failureCleared;
    } cases[] = {
        {"caption and address",
         "1",
         [](TFormFeedProperties& d) {
             d.EditCaption->setText("Top Stories");
             d.EditURL->setText("http://127.0.0.1:1/top2.xml");
         },
         {{"caption", "Top Stories"},
          {"url", "http://127.0.0.1:1/top2.xml"},
          {"etag", std::nullopt},
          {"lastmodified", std::nullopt},
          {"notify", std::nullopt},
          {"fullarticle", std::nullopt},
          {"interval", std::nullopt}},
         "",
         true},
        {"into a nested folder",
         "4",
         [](TFormFeedProperties& d) { d.ComboFolder->setCurrentIndex(2); },
         {{"caption", "Plain"}, {"notify", std::nullopt}, {"interval", std::nullopt}},
         "News/Local",
         false},
        {"out to the root",
         "3",
         [](TFormFeedProperties& d) { d.ComboFolder->setCurrentIndex(0); },
         {{"interval", "7200"}},
         "",
         false},
        {"announcements off keeps the validators",
         "1",
         [](TFormFeedProperties& d) { d.CheckNotify->setChecked(false); },
         {{"notify", "False"}, {"etag", "\"v1\""}, {"url", "http://127.0.0.1:1/top.xml"}},
         "",
         false},
        {"announcements on again",
         "2",
         [](TFormFeedProperties& d) { d.CheckNotify->setChecked(true); },
         {{"notify", "True"}, {"interval", "90"}},
         "News",
         false},
        {"full articles on",
         "4",
         [](TFormFeedProperties& d) { d.CheckFullArticle->setChecked(true); },
         {{"fullarticle", "True"}, {"notify", std::nullopt}},
         "",
         false},
        {"an interval of its own in minutes",
         "4",
         [](TFormFeedProperties& d) {
             d.RadioIntervalOwn->setChecked(true);
             d.SpinInterval->setValue(45);
             d.ComboIntervalUnit->setCurrentIndex(0);
         },
         {{"interval", "2700"}},
         "",
         false},
        {"in hours",
         "1",
         [](TFormFeedProperties& d) {
             d.RadioIntervalOwn->setChecked(true);
             d.SpinInterval->setValue(3);
             d.ComboIntervalUnit->setCurrentIndex(1);
         },
         {{"interval", "10800"}},
         "",
         false},
        {"back to the options",
         "3",
         [](TFormFeedProperties& d) { d.RadioIntervalDefault->setChecked(true); },
         {{"interval", std::nullopt}},
         "News/Local",
         false},
        {"an interval the controls round stays exact",
         "2",
         [](TFormFeedProperties&) {},
         {{"interval", "90"}, {"notify", "False"}},
         "News",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Start();
        form->Updates().MarkFeedFailed(c.id, "HTTP/1.1 404 Not Found");
        Edit(c.id, c.act);

        xml::Document saved;
        saved.LoadFromFile((home.Dir() / "config.xml").string());
        const xml::Node item = FindItem(
            saved.DocumentElement().ChildByName("internal").ChildByName("feedlist").ChildByName("items"), c.id);
        ASSERT_TRUE(item);
        for (const auto& [name, value] : c.expected) {
            EXPECT_EQ(item.Attribute(name), value) << name << " in config.xml";
            EXPECT_EQ(apptest::StoredFeedElement(*form, c.id).Attribute(name), value) << name << " in memory";
        }
        EXPECT_EQ(FolderPath(item), c.folder);
        const QTreeWidgetItem* node = form->Tree().FindFeedNodeById(c.id);
        std::string treePath;
        for (QTreeWidgetItem* up = node->parent(); up && up != form->Tree().RootNode(); up = up->parent())
            treePath = up->text(0).section(" (", 0, 0).toStdString() + (treePath.empty() ? "" : "/" + treePath);
        EXPECT_EQ(treePath, c.folder) << "the tree and config.xml disagree";
        EXPECT_EQ(form->Updates().RowState(c.id).Failure.isEmpty(), c.failureCleared);
        if (c.expected.count("caption")) {
            EXPECT_EQ(node->text(0).toStdString(), *c.expected.at("caption"));
        }
    }
}

TEST_F(FeedPropertiesTest, CancelOrAnUntouchedOkLeaveAnOldListAsItWas) {
    for (const bool ok : {false, true}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        Start();
        // Showing the feed fills in the options it reads; that is not the dialog's doing.
        form->Tree().setCurrentItem(form->Tree().FindFeedNodeById("4"));
        const std::string before = form->Options().ConfigDocument().SaveToString();
        Edit(
            "4",
            [ok](TFormFeedProperties& d) {
                if (ok) return;
                d.EditCaption->setText("Changed");
                d.EditURL->setText("http://127.0.0.1:1/other.xml");
                d.ComboFolder->setCurrentIndex(1);
                d.CheckNotify->setChecked(false);
                d.RadioIntervalOwn->setChecked(true);
            },
            ok);
        EXPECT_EQ(form->Options().ConfigDocument().SaveToString(), before);
        EXPECT_EQ(form->Tree().FindFeedNodeById("4")->parent(), form->Tree().RootNode());
    }
}

TEST_F(FeedPropertiesTest, EditOpensTheDialogOnFeedsWhileF2AndFoldersRenameInPlace) {
    Start();
    EXPECT_EQ(form->Actions().RenameFeed->shortcut(), QKeySequence(Qt::Key_F2));
    EXPECT_TRUE(form->Actions().EditFeed->shortcut().isEmpty());
    form->show();
    QTreeWidgetItem* folder = form->Tree().FindFeedNodeById("2")->parent();
    for (QAction* action : {form->Actions().EditFeed, form->Actions().RenameFeed}) {
        form->Tree().setCurrentItem(folder);
        action->trigger();
        QApplication::processEvents();
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        auto* editor = form->Tree().viewport()->findChild<QLineEdit*>();
        ASSERT_NE(editor, nullptr) << action->objectName().toStdString();
        QTest::keyClick(editor, Qt::Key_Escape);
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

}  // namespace

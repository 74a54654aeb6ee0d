// The reading pane on a real X display (run under xvfb-run): the helper's
// window is taken into the pane, sized to it and painted there, and the
// same holds for a helper started again after a release.
#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <set>

#include "AppTestSupport.h"
#include "HeadlessBrowser.h"
#include "ReadingPane.h"

namespace {

using apptest::TStagedHome;
using apptest::WaitUntil;

// A stored copy whose page is mostly text, so the pane shows many shades.
const char* const kCopy =
    "<?xml version=\"1.0\"?><?xml-stylesheet type=\"text/xsl\" href=\"../rss.xsl\"?>"
    "<rss version=\"2.0\"><channel><title>Harbour Gazette</title><link>http://example.invalid/</link>"
    "<description>News from the harbour</description>"
    "<item><title>Ferry timetable returns to winter schedule</title>"
    "<description>From Monday the island ferry runs every ninety minutes instead of hourly.</description></item>"
    "<item><title>Lifeboat crew called out twice</title><description>Volunteers launched after "
    "midnight.</description></item>"
    "</channel></rss>";

// The colours the screen shows over the pane's upper half.
std::set<QRgb> ShadesOver(QWidget& pane) {
    const QPoint origin = pane.mapToGlobal(QPoint(0, 0));
    const QImage shot = pane.screen()->grabWindow(0, origin.x(), origin.y(), pane.width(), pane.height() / 2).toImage();
    std::set<QRgb> shades;
    for (int y = 0; y < shot.height(); y += 2)
        for (int x = 0; x < shot.width(); x += 2) shades.insert(shot.pixel(x, y));
    return shades;
}

class PaneOnDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        home.WriteFile("feeds/1.xml", kCopy);
        window.resize(900, 640);
        auto* layout = new QVBoxLayout(&window);
        pane = new TReadingPane(&window);
        pane->SetKind(TReadingPane::TKind::Engine);  // the helper's window on the display
        layout->addWidget(pane);
        window.show();
        ASSERT_TRUE(WaitUntil([&] { return window.isVisible(); }));
    }
    bool ShowsAPage() {
        QSignalSpy loads(pane, &TReadingPane::NavigateComplete);
        pane->Navigate(QDir::current().absoluteFilePath("feeds/1.xml"));
        if (!WaitUntil([&] { return loads.count() > 0; }, 30000)) return false;
        // The engine paints a moment after it reports the page loaded.
        return WaitUntil([&] { return ShadesOver(*pane).size() > 8; }, 10000);
    }

    TStagedHome home;
    QWidget window;
    TReadingPane* pane = nullptr;
};

TEST_F(PaneOnDisplay, TheHelpersPageIsPaintedInsideThePane) {
    ASSERT_TRUE(ShowsAPage()) << "the pane shows " << ShadesOver(*pane).size() << " shades";
    EXPECT_TRUE(pane->BrowserEmbedded());

    // Hidden past the delay and shown again: a new helper, painted again.
    pane->SetReleaseDelayMs(0);
    const qint64 first = pane->BrowserProcessId();
    window.hide();
    ASSERT_TRUE(WaitUntil([&] { return !pane->BrowserRunning(); }, 5000));
    window.show();
    ASSERT_TRUE(WaitUntil([&] { return pane->BrowserRunning(); }));
    EXPECT_NE(pane->BrowserProcessId(), first);
    EXPECT_TRUE(WaitUntil([&] { return ShadesOver(*pane).size() > 8; }, 30000));
    EXPECT_TRUE(pane->BrowserEmbedded());
}

}  // namespace

int main(int argc, char* argv[]) {
    ::testing::InitGoogleTest(&argc, argv);
    testsupport::PrepareHeadlessBrowser(false);
    qputenv("QUILLET_PANE_PROGRAM", QUILLET_PANE_PROGRAM_PATH);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

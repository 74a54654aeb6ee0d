// The keyboard in the main window: the window's shortcuts act wherever the
// focus is, the reading pane included, and F6, Shift+F6, Tab and Escape move
// the focus between the filter, the tree and the pane.
#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include "AppTestSupport.h"
#include "ItemStore.h"
#include "ReadStateController.h"
#include "LightPane.h"
#include "PaneProtocol.h"
#include "fMain.h"

namespace {

class KeyboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<TFormMain>();
        form->Updates().Stop();
        home.WriteFile("feeds/5.xml",
                       "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Daily</title>"
                       "<link>http://example.invalid/</link><description>d</description>"
                       "<item><title>One</title><link>http://example.invalid/1</link></item></channel></rss>");
        node = apptest::AddStoredFeed(*form, {{"url", "http://127.0.0.1:1/"}, {"id", "5"}, {"caption", "Daily"}});
        ASSERT_TRUE(apptest::ShowFeedOnScreen(*form, node, 10000));
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    void TearDown() override { form.reset(); }

    // A click in the page, as the user gives it the keyboard.
    void ClickInPage() {
        QWidget* page = form->ReadingPane->LightPane()->viewport();
        QTest::mouseClick(page, Qt::LeftButton, {}, QPoint(20, 20));
        ASSERT_TRUE(apptest::WaitUntil([&] { return InPage(); }, 2000));
    }
    bool InPage() const {
        QWidget* focus = QApplication::focusWidget();
        return focus && (focus == form->ReadingPane || form->ReadingPane->isAncestorOf(focus));
    }
    QWidget* Focus() const { return QApplication::focusWidget(); }

    apptest::TStagedHome home;
    std::unique_ptr<TFormMain> form;
    QTreeWidgetItem* node = nullptr;
};

TEST_F(KeyboardTest, TheWindowsShortcutsWorkFromThePage) {
    QSignalSpy nextUnread(form->Actions().NextUnread, &QAction::triggered);
    QSignalSpy findInFeeds(form->Actions().FindInFeeds, &QAction::triggered);
    // Find in Feeds opens a window of its own; the test only needs the call.
    form->Actions().FindInFeeds->disconnect(form.get());

    ClickInPage();
    QTest::keyClick(Focus(), Qt::Key_N);
    EXPECT_EQ(nextUnread.count(), 1);

    ClickInPage();
    QTest::keyClick(Focus(), Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(findInFeeds.count(), 1);

    ClickInPage();
    QTest::keyClick(Focus(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(Focus(), form->FeedFilter);

    // The Alt menus open from the page too.
    ClickInPage();
    QSignalSpy feedMenu(form->FeedMenu, &QMenu::aboutToShow);
    QTest::keyClick(Focus(), Qt::Key_E, Qt::AltModifier);
    EXPECT_TRUE(apptest::WaitUntil([&] { return feedMenu.count() == 1; }, 2000));
    form->FeedMenu->close();
}

// S stars the item the page is at, and the page says so.
TEST_F(KeyboardTest, SStarsTheItemThePageIsAt) {
    home.WriteFile("feeds/5.xml",
                   "<?xml version=\"1.0\"?><?xml-stylesheet type=\"text/xsl\" href=\"../rss.xsl\"?>"
                   "<rss version=\"2.0\"><channel><title>Daily</title><description>d</description>"
                   "<item><title>One</title><link>http://example.invalid/1</link></item></channel></rss>");
    form->Items().With([](items::TItemStore& store) {
        items::TStoredItem one;
        one.Title = "One";
        one.Link = "http://example.invalid/1";
        store.RecordDownload("5", {one}, 1);
    });
    ASSERT_TRUE(apptest::ShowFeedOnScreen(*form, node, 10000));
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    TLightPane* page = form->ReadingPane->LightPane();
    page->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(page, Qt::Key_S);
    EXPECT_TRUE(apptest::WaitUntil([&] { return page->toPlainText().contains(QStringLiteral("\u2605")); }, 2000));
    int starred = 0;
    form->Items().With([&](items::TItemStore& store) { starred = store.StarredCount(); });
    EXPECT_EQ(starred, 1) << form->StatusText(0).toStdString();
}

TEST_F(KeyboardTest, F6TabAndEscapeMoveTheFocusBetweenFilterTreeAndPage) {
    QWidget* tree = &form->Tree();
    QWidget* filter = form->FeedFilter;
    QWidget* pane = form->ReadingPane->LightPane();
    // From, key, where the focus goes.
    const struct {
        QWidget* from;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        QWidget* to;
    } cases[] = {
        {filter, Qt::Key_F6, {}, tree},
        {tree, Qt::Key_F6, {}, pane},
        {pane, Qt::Key_F6, {}, filter},
        {filter, Qt::Key_F6, Qt::ShiftModifier, pane},
        {pane, Qt::Key_F6, Qt::ShiftModifier, tree},
        {tree, Qt::Key_F6, Qt::ShiftModifier, filter},
        {pane, Qt::Key_Escape, {}, tree},
        {pane, Qt::Key_Tab, {}, filter},
        {pane, Qt::Key_Backtab, Qt::ShiftModifier, tree},
    };
    for (const auto& c : cases) {
        if (c.from == pane)
            ClickInPage();
        else
            c.from->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(apptest::WaitUntil([&] { return Focus() == c.from; }, 2000)) << c.from->objectName().toStdString();
        QTest::keyClick(Focus(), c.key, c.modifiers);
        EXPECT_TRUE(apptest::WaitUntil([&] { return Focus() == c.to; }, 2000))
            << c.from->objectName().toStdString() << " + " << QKeySequence(c.key | c.modifiers).toString().toStdString()
            << " went to " << (Focus() ? Focus()->objectName().toStdString() : "nothing");
    }
}

// The engine's window belongs to another process: the keys it hands back
// act as they would in the window.
TEST_F(KeyboardTest, KeysTheEnginePaneHandsBackActInTheWindow) {
    const struct {
        int key;
        Qt::KeyboardModifiers modifiers;
        bool forWindow;
    } keys[] = {
        {Qt::Key_N, {}, true},
        {Qt::Key_F, Qt::ControlModifier, true},
        {Qt::Key_F6, {}, true},
        {Qt::Key_Escape, {}, true},
        {Qt::Key_Tab, {}, true},
        {Qt::Key_E, Qt::AltModifier, true},
        {Qt::Key_Down, {}, false},
        {Qt::Key_PageDown, {}, false},
        {Qt::Key_Space, {}, false},
        {Qt::Key_C, Qt::ControlModifier, false},
        {Qt::Key_A, Qt::ControlModifier, false},
        {Qt::Key_Plus, Qt::ControlModifier, true},
    };
    for (const auto& k : keys)
        EXPECT_EQ(pane::KeyBelongsToWindow(k.key, k.modifiers), k.forWindow)
            << QKeySequence(k.key | k.modifiers).toString().toStdString();

    QSignalSpy nextUnread(form->Actions().NextUnread, &QAction::triggered);
    form->ReadingPane->KeyFromPage(Qt::Key_N, {}, QStringLiteral("n"));
    EXPECT_EQ(nextUnread.count(), 1);
    form->ReadingPane->KeyFromPage(Qt::Key_F, Qt::ControlModifier, QString());
    EXPECT_EQ(Focus(), form->FeedFilter);
    ClickInPage();
    form->ReadingPane->KeyFromPage(Qt::Key_Escape, {}, QString());
    EXPECT_EQ(Focus(), &form->Tree());
}

}  // namespace

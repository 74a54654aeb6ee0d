// J, K, Shift+N, O and M in the window over a page of six items, from the
// tree and from the page: the current item's mark, the scroll, the caret a
// screen reader follows, the item store and the feed's count, the address
// handed to the desktop, and the hand-over to the next feed with unread
// items.
#include <QAccessible>
#include <QAccessibleInterface>
#include <QApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "AppTestSupport.h"
#include "SpokenStatus.h"
#include "FixtureFile.h"
#include "ItemIdentity.h"
#include "ItemNavigator.h"
#include "ItemStore.h"
#include "LightPane.h"
#include "ReadStateController.h"
#include "fMain.h"

namespace {

std::string Key(int item) {
    items::TStoredItem stored;
    stored.Guid = "urn:nav:" + std::to_string(item);
    return items::ItemKey(stored);
}

// The fixture's items as the store keeps them; those of `read` (1-based)
// marked read.
void StoreItems(items::TItemStore& store, const std::string& feedId, std::initializer_list<int> read) {
    std::vector<items::TStoredItem> all;
    for (int i = 1; i <= 6; ++i) {
        items::TStoredItem item;
        item.Guid = "urn:nav:" + std::to_string(i);
        item.Title = "Item " + std::to_string(i);
        all.push_back(item);
    }
    store.RecordDownload(feedId, all, 1);
    for (int i : read) store.SetItemRead(feedId, Key(i), true);
}

class ItemKeysTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<TFormMain>();
        form->Updates().Stop();
        const std::string page = testsupport::ReadFixtureFile(QUILLET_TEST_DATA_DIR "/pages/item_keys.xml");
        home.WriteFile("feeds/5.xml", page);
        home.WriteFile("feeds/6.xml", page);
        keys = apptest::AddStoredFeed(*form, {{"url", "http://127.0.0.1:1/5"}, {"id", "5"}, {"caption", "Keys"}});
        apptest::AddStoredFeed(*form,
                               {{"url", "http://127.0.0.1:1/6"}, {"id", "6"}, {"caption", "More"}, {"unread", "1"}});
        bool stored = false;
        form->Items().With([&](items::TItemStore& store) {
            StoreItems(store, "5", {1, 2, 4});
            StoreItems(store, "6", {1, 3, 4, 5, 6});
            stored = true;
        });
        ASSERT_TRUE(apptest::WaitUntil([&] { return stored; }));
        ASSERT_TRUE(apptest::ShowFeedOnScreen(*form, keys, 10000));
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        pane = form->ReadingPane->LightPane();
        form->ReadingPane->SetOpenExternally([this](const QUrl& url) { opened << url.toString(); });
    }
    void TearDown() override { form.reset(); }

    // The page's current item, by its place; -1 for none.
    int Current() const {
        const auto items = pane->PageItems();
        const auto at = std::find_if(items.begin(), items.end(),
                                     [&](const pane::TPageItem& item) { return item.Anchor == pane->CurrentItem(); });
        return at == items.end() ? -1 : int(at - items.begin());
    }
    bool ShownNew(int index) const { return pane->PageItems().at(std::size_t(index)).New; }
    std::vector<std::string> UnreadKeys(const std::string& feed) {
        std::vector<std::string> keys;
        form->Items().With([&](items::TItemStore& store) { keys = store.UnreadKeys(feed); });
        return keys;
    }

    apptest::TStagedHome home;
    std::unique_ptr<TFormMain> form;
    QTreeWidgetItem* keys = nullptr;
    TLightPane* pane = nullptr;
    QStringList opened;
};

TEST_F(ItemKeysTest, MoveMarkAndOpenFromTheTreeAndThePage) {
    QSignalSpy caret(pane, &QTextEdit::cursorPositionChanged);
    QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(pane);
    ASSERT_TRUE(spoken && spoken->textInterface());
    const struct {
        bool InPage;
        QKeyCombination Key;
        int Current;
        const char* ShownNew;  // the page's new marks after the key
        long long Count;       // the feed's unread count
        const char* Opened;    // the address last handed to the desktop
    } steps[] = {
        {false, Qt::Key_J, 0, "..n.nn", 0, ""},  // the first key shows where the reader is
        {true, Qt::Key_J, 1, "..n.nn", 0, ""},
        {false, Qt::Key_K, 0, "..n.nn", 0, ""},
        {false, Qt::Key_K, 0, "..n.nn", 0, ""},  // the first item stays
        {true, Qt::SHIFT | Qt::Key_N, 2, "..n.nn", 0, ""},
        {true, Qt::SHIFT | Qt::Key_N, 4, "..n.nn", 0, ""},
        {true, Qt::Key_M, 4, "..n..n", 0, ""},  // read already since the page was shown
        {false, Qt::Key_M, 4, "..n.nn", 1, ""},
        {true, Qt::Key_M, 4, "..n..n", 0, ""},
        {true, Qt::Key_K, 3, "..n..n", 0, ""},
        {true, Qt::Key_O, 3, "..n..n", 0, ""},  // a script address is never opened
        {false, Qt::Key_J, 4, "..n..n", 0, ""},
        {true, Qt::Key_O, 4, "..n..n", 0, "http://example.invalid/5"},
        {true, Qt::Key_J, 5, "..n..n", 0, "http://example.invalid/5"},
        {true, Qt::Key_J, 5, "..n..n", 0, "http://example.invalid/5"},
    };
    int lastScroll = -1, step = 0;
    for (const auto& s : steps) {
        SCOPED_TRACE(testing::Message() << "step " << step++ << ": " << QKeySequence(s.Key).toString().toStdString());
        QWidget* target = s.InPage ? static_cast<QWidget*>(pane) : &form->Tree();
        target->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(apptest::WaitUntil([&] { return QApplication::focusWidget() == target; }, 2000));
        const qsizetype caretsBefore = caret.size();
        const int currentBefore = Current();
        QTest::keyClick(target, s.Key.key(), s.Key.keyboardModifiers());
        ASSERT_TRUE(apptest::WaitUntil([&] { return Current() == s.Current; }, 2000)) << Current();
        std::string shown;
        for (int i = 0; i < 6; ++i) shown += ShownNew(i) ? 'n' : '.';
        EXPECT_EQ(shown, s.ShownNew);
        EXPECT_EQ(apptest::Feed(*form, "5").Unread, s.Count);
        const std::vector<std::string> unread = UnreadKeys("5");
        EXPECT_EQ(unread.size(), std::size_t(s.Count));
        if (s.Count) {
            EXPECT_EQ(unread.front(), Key(5));
        }
        EXPECT_EQ(opened.isEmpty() ? QString() : opened.last(), QString::fromLatin1(s.Opened));
        // The mark, the caret and the view follow the current item.
        ASSERT_EQ(pane->extraSelections().size(), 1);
        const QString heading = QStringLiteral("Item %1").arg(s.Current + 1);
        EXPECT_TRUE(pane->extraSelections().front().cursor.block().text().contains(heading))
            << pane->extraSelections().front().cursor.block().text().toStdString();
        EXPECT_TRUE(pane->textCursor().block().text().contains(heading))
            << pane->textCursor().block().text().toStdString();
        if (s.Current != currentBefore) {
            // Qt tells a screen reader of the caret's move with this signal.
            EXPECT_GT(caret.size(), caretsBefore);
            EXPECT_EQ(spoken->textInterface()->cursorPosition(), pane->textCursor().position());
            const int scroll = pane->verticalScrollBar()->value();
            if (s.Current > currentBefore && lastScroll >= 0 && scroll < pane->verticalScrollBar()->maximum()) {
                EXPECT_GT(scroll, lastScroll);
            }
            lastScroll = scroll;
        }
    }

    // Wherever the keyboard was, a screen reader hears the item moved to.
    TSpokenLine* line = TSpokenStatus::Of(form.get())->Line();
    EXPECT_TRUE(apptest::WaitUntil([&] { return line->text().startsWith(QLatin1String("Item 6")); }, 3000))
        << line->text().toStdString();

    // None new left after the last: the next feed with unread items, at
    // its first new item.
    QTest::keyClick(pane, Qt::Key_N, Qt::ShiftModifier);
    ASSERT_TRUE(apptest::WaitUntil([&] { return apptest::FeedId(*form, form->Tree().currentItem()) == "6"; }, 5000));
    EXPECT_TRUE(apptest::WaitUntil([&] { return Current() == 1; }, 10000)) << Current();
    EXPECT_TRUE(ShownNew(1));
}

}  // namespace

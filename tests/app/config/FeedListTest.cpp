// The feed list: the tree mirrors the <item> elements of config.xml, and
// adding, deleting, renaming and copying work on those elements directly.
#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "StarController.h"
#include "TreeContextMenu.h"
#include "XmlDom.h"
#include "fAddFeed.h"
#include "fMain.h"
#include "uvxLanguage.h"

namespace {

using apptest::TStagedHome;

// Nothing listens here: a feed's first update fails at once instead of
// reaching the internet.
const std::string kDeadURL = "http://127.0.0.1:1/feed.xml";

const char* const kItemsPath = "internal\\feedlist\\items";
const char* const kCounterPath = "internal\\feedlist\\autoincrement\\id";

std::vector<std::string> AttributeNames(const xml::Node& item) {
    std::vector<std::string> names;
    for (const auto& [name, value] : item.Attributes()) names.push_back(name);
    return names;
}

// Runs `act` on the next modal window that opens, then lets `open` run it.
void OnNextModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
        }
    });
    timer->start();
}

void ClickButton(QWidget* box, QMessageBox::StandardButton which) {
    auto* message = qobject_cast<QMessageBox*>(box);
    ASSERT_NE(message, nullptr);
    message->button(which)->click();
}

class FeedListTest : public ::testing::Test {
protected:
    void SetUp() override { form = std::make_unique<TFormMain>(); }
    void TearDown() override { form.reset(); }

    xml::Node Items() { return form->Options().GetConfigNode(kItemsPath); }
    std::string Counter() { return form->Options().GetConfigNode(kCounterPath).Text(); }
    QTreeWidgetItem* Root() { return form->Tree().RootNode(); }

    // Adds an element the way an earlier run would have left it.
    QTreeWidgetItem* StoredFeed(const std::string& id, const std::string& caption, const std::string& unread,
                                const std::string& url = kDeadURL) {
        return apptest::AddStoredFeed(*form, {{"url", url},
                                              {"id", id},
                                              {"caption", caption},
                                              {"unread", unread},
                                              {"lastupdate", "2026-12-08T10:00:00"}});
    }

    bool FeedActionsEnabled() {
        return form->Actions().DeleteFeed->isEnabled() && form->Actions().UpdateFeed->isEnabled() &&
               form->Actions().EditFeed->isEnabled() && form->Actions().CopyURL->isEnabled();
    }
    bool FeedActionsDisabled() {
        return !form->Actions().DeleteFeed->isEnabled() && !form->Actions().UpdateFeed->isEnabled() &&
               !form->Actions().EditFeed->isEnabled() && !form->Actions().CopyURL->isEnabled();
    }

    TStagedHome home;
    std::unique_ptr<TFormMain> form;
};

TEST_F(FeedListTest, StartsWithTheRootSelectedAndTheFeedActionsDisabled) {
    ASSERT_EQ(form->Tree().topLevelItemCount(), 2);  // the Starred row, then the root
    EXPECT_EQ(Root()->text(0), "Quillet");
    EXPECT_EQ(Root()->childCount(), 0);
    EXPECT_EQ(TFeedTree::FeedOf(Root()), nullptr);
    EXPECT_EQ(form->Tree().currentItem(), Root());
    EXPECT_TRUE(FeedActionsDisabled());
    EXPECT_TRUE(form->Actions().AddFeed->isEnabled());
}

TEST_F(FeedListTest, AddedFeedsGetConsecutiveIdsAndAttributesInTheirOrder) {
    QTreeWidgetItem* first = form->Tree().RowOf(form->Feeds().AddFeed(kDeadURL));
    QTreeWidgetItem* second = form->Tree().RowOf(form->Feeds().AddFeed(kDeadURL + "?second"));

    ASSERT_EQ(Items().ChildElements().size(), 2u);
    const xml::Node a = Items().ChildElements()[0];
    const xml::Node b = Items().ChildElements()[1];
    const std::vector<std::string> order = {"url", "id", "caption", "unread", "lastupdate"};
    EXPECT_EQ(AttributeNames(a), order);
    EXPECT_EQ(AttributeNames(b), order);
    EXPECT_EQ(a.Attribute("id"), "1");
    EXPECT_EQ(b.Attribute("id"), "2");
    EXPECT_EQ(b.Attribute("url"), kDeadURL + "?second");
    EXPECT_EQ(a.Attribute("caption"), "");
    EXPECT_EQ(a.Attribute("unread"), "0");
    // Local time in ISO 8601 form: 2026-12-08T14:05:09.
    const std::string stamp = a.Attribute("lastupdate").value_or("");
    ASSERT_EQ(stamp.size(), 19u) << stamp;
    EXPECT_EQ(stamp[10], 'T');
    EXPECT_EQ(Counter(), "3");

    // The nodes refer to those very elements, in list order.
    ASSERT_EQ(Root()->childCount(), 2);
    EXPECT_EQ(Root()->child(0), first);
    EXPECT_EQ(Root()->child(1), second);
    EXPECT_EQ(apptest::FeedId(first), a.Attribute("id"));
    EXPECT_EQ(apptest::FeedId(second), b.Attribute("id"));
    EXPECT_EQ(form->Tree().FindFeedNodeById("2"), second);

    // Adding saves at once.
    xml::Document saved;
    saved.LoadFromFile("config.xml");
    const xml::Node items =
        saved.DocumentElement().ChildByName("internal").ChildByName("feedlist").ChildByName("items");
    EXPECT_EQ(items.ChildElements().size(), 2u);
}

TEST_F(FeedListTest, TheIdCounterNeverHandsOutAnIdInUse) {
    StoredFeed("7", "Seven", "0");
    StoredFeed("3", "Three", "0");
    const struct {
        std::string counter;
        std::string expectedId;
    } cases[] = {
        {"", "8"},      // absent or empty: after the largest id
        {"junk", "9"},  // not a number: the same
        {"2", "10"},    // behind the list: never a duplicate
        {"40", "40"},   // ahead of the list: the counter wins
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("counter '" + c.counter + "'");
        // As a list saved by hand or by an earlier version would load.
        form->Options().GetConfigNode(kCounterPath).SetText(c.counter);
        form->Feeds().Reload();
        QTreeWidgetItem* node = form->Tree().RowOf(form->Feeds().AddFeed(kDeadURL));
        EXPECT_EQ(apptest::FeedId(node), c.expectedId);
        EXPECT_EQ(Counter(), std::to_string(std::stoi(c.expectedId) + 1));
    }
}

TEST_F(FeedListTest, DeletingAFeedRemovesElementNodeAndStoredCopyButNotTheCounter) {
    QTreeWidgetItem* first = form->Tree().RowOf(form->Feeds().AddFeed(kDeadURL));
    QTreeWidgetItem* second = form->Tree().RowOf(form->Feeds().AddFeed(kDeadURL));
    home.WriteFile("feeds/1.xml", "<rss/>");
    home.WriteFile("feeds/2.xml", "<rss/>");

    QString announced;
    bool nodeStillThere = false;
    QObject::connect(form.get(), &TFormMain::feedDeleted, [&](const QString& id) {
        announced = id;
        nodeStillThere = form->Tree().FindFeedNodeById(id.toStdString()) != nullptr;
    });

    form->Feeds().DeleteFeed(TFeedTree::EntryOf(first));
    EXPECT_EQ(announced, "1");
    EXPECT_TRUE(nodeStillThere);
    EXPECT_EQ(Counter(), "3");
    ASSERT_EQ(Items().ChildElements().size(), 1u);
    EXPECT_EQ(Items().ChildElements()[0].Attribute("id"), "2");
    ASSERT_EQ(Root()->childCount(), 1);
    EXPECT_EQ(Root()->child(0), second);
    EXPECT_FALSE(std::filesystem::exists("feeds/1.xml"));
    EXPECT_TRUE(std::filesystem::exists("feeds/2.xml"));

    // The next feed does not get the freed id.
    QTreeWidgetItem* third = form->Tree().RowOf(form->Feeds().AddFeed(kDeadURL));
    EXPECT_EQ(apptest::FeedId(third), "3");
}

TEST_F(FeedListTest, DeletingTheOnlyFeedWithoutAStoredCopyLeavesTheRootSelected) {
    QTreeWidgetItem* only = form->Tree().RowOf(form->Feeds().AddFeed(kDeadURL));
    form->Tree().setCurrentItem(only);
    EXPECT_TRUE(FeedActionsEnabled());
    ASSERT_FALSE(std::filesystem::exists("feeds/1.xml"));

    form->Feeds().DeleteFeed(TFeedTree::EntryOf(only));
    EXPECT_EQ(Root()->childCount(), 0);
    EXPECT_TRUE(Items().ChildElements().empty());
    EXPECT_EQ(form->Tree().currentItem(), Root());
    EXPECT_TRUE(FeedActionsDisabled());
}

TEST_F(FeedListTest, AStoredIdThatIsNotANumberNeverReachesTheFileSystem) {
    home.WriteFile("keep.xml", "<keep/>");
    QTreeWidgetItem* node = StoredFeed("../keep", "Odd", "0");
    form->Feeds().DeleteFeed(TFeedTree::EntryOf(node));
    EXPECT_TRUE(std::filesystem::exists("keep.xml"));
    EXPECT_TRUE(Items().ChildElements().empty());
}

TEST_F(FeedListTest, DeleteAsksFirstAndOnlyYesDeletes) {
    QTreeWidgetItem* node = StoredFeed("1", "News", "0");
    form->Tree().setCurrentItem(node);

    QString question;
    OnNextModal([&](QWidget* box) {
        question = qobject_cast<QMessageBox*>(box)->text();
        ClickButton(box, QMessageBox::No);
    });
    form->Actions().DeleteFeed->trigger();
    EXPECT_EQ(question, "Do you really want to delete the feed \"News\"?");
    EXPECT_EQ(Root()->childCount(), 1);

    OnNextModal([&](QWidget* box) { ClickButton(box, QMessageBox::Yes); });
    form->Actions().DeleteFeed->trigger();
    EXPECT_EQ(Root()->childCount(), 0);
    EXPECT_TRUE(Items().ChildElements().empty());

    // The Delete key in the tree asks the same question.
    node = StoredFeed("2", "Other", "0");
    form->show();
    QApplication::setActiveWindow(form.get());
    form->Tree().setFocus();
    form->Tree().setCurrentItem(node);
    question.clear();
    OnNextModal([&](QWidget* box) {
        question = qobject_cast<QMessageBox*>(box)->text();
        ClickButton(box, QMessageBox::No);
    });
    QTest::keyClick(&form->Tree(), Qt::Key_Delete);
    EXPECT_EQ(question, "Do you really want to delete the feed \"Other\"?");
    EXPECT_EQ(Root()->childCount(), 1);

    // With the root selected there is nothing to ask about.
    form->Tree().setCurrentItem(Root());
    form->Actions().DeleteFeed->trigger();
    EXPECT_EQ(form->Tree().topLevelItemCount(), 2);
}

TEST_F(FeedListTest, DisplayTextAndBoldFollowTheUnreadCount) {
    const struct {
        std::string caption, unread;
        QString text;
        bool bold;
    } cases[] = {
        {"News", "3", "News (3)", true},
        {"News", "0", "News", false},
        // Without a caption the address (host and path) stands in for it.
        {"", "2", "127.0.0.1:1/feed.xml (2)", true},
        {"", "0", "127.0.0.1:1/feed.xml", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("caption '" + c.caption + "' unread " + c.unread);
        QTreeWidgetItem* node = StoredFeed("1", c.caption, c.unread);
        EXPECT_EQ(node->text(0), c.text);
        EXPECT_EQ(node->font(0).bold(), c.bold);

        apptest::ChangeFeed(*form, node, [&c](feedlist::TFeedEntry& feed) { feed.Unread = c.unread == "0" ? 5 : 0; });
        EXPECT_EQ(node->font(0).bold(), !c.bold);
        form->Feeds().DeleteFeed(TFeedTree::EntryOf(node));
    }
    EXPECT_FALSE(Root()->font(0).bold());
}

TEST_F(FeedListTest, LoadFeedListRebuildsTheTreeFromTheConfiguration) {
    StoredFeed("4", "Alpha", "0");
    StoredFeed("9", "Beta", "12");
    form->Feeds().Reload();
    ASSERT_EQ(form->Tree().topLevelItemCount(), 2);  // the Starred row, then the root
    ASSERT_EQ(Root()->childCount(), 2);
    EXPECT_EQ(Root()->child(0)->text(0), "Alpha");
    EXPECT_EQ(Root()->child(1)->text(0), "Beta (12)");
    EXPECT_TRUE(Root()->isExpanded());
    EXPECT_EQ(apptest::FeedId(Root()->child(1)), Items().ChildElements()[1].Attribute("id"));
}

TEST_F(FeedListTest, RenamingStoresTheEditedTextAsCaption) {
    QTreeWidgetItem* node = StoredFeed("1", "News", "3");
    form->Feeds().Rename(TFeedTree::EntryOf(node), "Morning news");
    EXPECT_EQ(Items().ChildElements()[0].Attribute("caption"), "Morning news");
    EXPECT_EQ(node->text(0), "Morning news");

    // The edit box starts with the displayed text; a count suffix the user
    // leaves in place becomes part of the caption.
    form->Feeds().Rename(TFeedTree::EntryOf(node), "News (3)");
    EXPECT_EQ(Items().ChildElements()[0].Attribute("caption"), "News (3)");

    // The root has no element: nothing changes.
    const std::string before = form->Options().ConfigDocument().SaveToString();
    form->Feeds().Rename(TFeedTree::EntryOf(Root()), "Renamed root");
    EXPECT_EQ(Root()->text(0), "Quillet");
    EXPECT_EQ(form->Options().ConfigDocument().SaveToString(), before);
}

TEST_F(FeedListTest, RenameOpensTheTreesEditorAndConfirmingStoresTheCaption) {
    form->show();
    QTreeWidgetItem* node = StoredFeed("1", "News", "0");
    form->Tree().setCurrentItem(node);
    // Selecting shows the feed, which clears its count; news arriving since.
    apptest::ChangeFeed(*form, node, [](feedlist::TFeedEntry& feed) { feed.Unread = 3; });
    form->Actions().RenameFeed->trigger();
    QApplication::processEvents();

    auto* editor = form->Tree().viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), "News (3)");
    editor->setText("Evening news");
    QTest::keyClick(editor, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(Items().ChildElements()[0].Attribute("caption"), "Evening news");
    EXPECT_EQ(node->text(0), "Evening news");
}

TEST_F(FeedListTest, CopyURLPutsExactlyTheStoredAddressOnTheClipboard) {
    const std::string url = "  http://example.org/feed with spaces.xml ";
    QTreeWidgetItem* node = StoredFeed("1", "Spaced", "0", url);
    QApplication::clipboard()->setText("before");

    form->Tree().setCurrentItem(Root());
    form->Actions().CopyURL->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "before");

    form->Tree().setCurrentItem(node);
    form->Actions().CopyURL->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromStdString(url));
}

TEST_F(FeedListTest, SelectionEnablesTheFeedActionsOnlyForFeeds) {
    QTreeWidgetItem* node = StoredFeed("1", "News", "0");
    form->Tree().setCurrentItem(node);
    EXPECT_TRUE(FeedActionsEnabled());
    form->Tree().setCurrentItem(Root());
    EXPECT_TRUE(FeedActionsDisabled());
}

TEST_F(FeedListTest, ContextMenuOpensOnFeedsAndTheKeyboardButNotOnEmptySpace) {
    form->show();
    QTreeWidgetItem* node = StoredFeed("1", "News", "0");
    form->Tree().expandAll();
    QApplication::processEvents();
    form->Tree().setCurrentItem(Root());
    TTreeContextMenu* menu = form->Tree().findChild<TTreeContextMenu*>();
    ASSERT_NE(menu, nullptr);

    const QPoint empty(5, form->Tree().viewport()->height() - 5);
    ASSERT_EQ(form->Tree().itemAt(empty), nullptr);
    EXPECT_FALSE(menu->Opens(empty));
    EXPECT_EQ(form->Tree().currentItem(), Root());

    const QPoint onFeed = form->Tree().visualItemRect(node).center();
    EXPECT_TRUE(menu->Opens(onFeed));
    EXPECT_EQ(form->Tree().currentItem(), node);
    EXPECT_TRUE(FeedActionsEnabled());

    form->Tree().setCurrentItem(Root());
    EXPECT_TRUE(menu->Opens(QPoint(-1, -1)));
    EXPECT_EQ(form->Tree().currentItem(), Root());

    // The Starred row is selected, but none of the list's actions apply.
    QTreeWidgetItem* starred = form->Tree().topLevelItem(0);
    ASSERT_TRUE(TStarController::IsStarredRow(starred));
    EXPECT_FALSE(menu->Opens(form->Tree().visualItemRect(starred).center()));
    EXPECT_EQ(form->Tree().currentItem(), starred);
}

TEST_F(FeedListTest, AddFeedDialogRefusesNonAddressesAndAddsAnUnreachableOneOnASecondOK) {
    OnNextModal([](QWidget* dialog) {
        auto* add = qobject_cast<TFormAddFeed*>(dialog);
        ASSERT_NE(add, nullptr);
        add->EditURL->setText(" http://127.0.0.1:1/a b ");
        add->OKBtn->click();
        ASSERT_TRUE(apptest::WaitUntil([add] { return !add->Searching(); }));
        EXPECT_TRUE(add->StatusText->text().contains("is not a web address")) << add->StatusText->text().toStdString();
        add->OKBtn->click();  // still not an address: nothing to add
        ASSERT_TRUE(apptest::WaitUntil([add] { return !add->Searching(); }));
        EXPECT_TRUE(add->isVisible());
        // Nothing listens there: the failure is said, and a second OK adds
        // the address as it is.
        add->EditURL->setText(QString::fromStdString(" " + kDeadURL + " "));
        add->OKBtn->click();
        ASSERT_TRUE(apptest::WaitUntil([add] { return !add->Searching(); }));
        EXPECT_TRUE(add->StatusText->text().contains("Press OK again")) << add->StatusText->text().toStdString();
        add->OKBtn->click();
    });
    form->Actions().AddFeed->trigger();
    ASSERT_EQ(Items().ChildElements().size(), 1u);
    EXPECT_EQ(Items().ChildElements()[0].Attribute("url"), kDeadURL);
    EXPECT_EQ(Root()->childCount(), 1);

    OnNextModal([](QWidget* dialog) {
        auto* add = qobject_cast<TFormAddFeed*>(dialog);
        ASSERT_NE(add, nullptr);
        add->EditURL->setText(QString::fromStdString(kDeadURL));
        add->CancelBtn->click();
    });
    form->Actions().AddFeed->trigger();
    EXPECT_EQ(Items().ChildElements().size(), 1u);
    EXPECT_EQ(Counter(), "2");
}

TEST_F(FeedListTest, AddFeedDialogFollowsTheSelectedLanguage) {
    {
        TFormAddFeed dialog(form.get());
        EXPECT_EQ(dialog.objectName(), "FormAddFeed");
        EXPECT_EQ(dialog.windowTitle(), "Add Feed");
        EXPECT_TRUE(dialog.EditURL->text().isEmpty());
        EXPECT_TRUE(dialog.OKBtn->isDefault());
    }
    GlobalLanguage().SetLCID(1031);
    TFormAddFeed dialog(form.get());
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("Feed hinzufügen"));
    EXPECT_EQ(dialog.Label1->text(), "Feed-URL:");
    EXPECT_EQ(dialog.CancelBtn->text(), "Abbrechen");
}

}  // namespace

namespace {

TEST_F(FeedListTest, OpmlImportAddsNewFeedsWithTheirTitlesAndSkipsKnownOnes) {
    StoredFeed("1", "Known", "0", "http://127.0.0.1:1/known.xml");
    home.WriteFile("subscriptions.opml", R"(<?xml version="1.0"?>
<opml version="2.0"><head><title>Mine</title></head><body>
  <outline text="Known again" type="rss" xmlUrl="http://127.0.0.1:1/known.xml"/>
  <outline text="Folder">
    <outline text="Alpha &amp; Co" type="rss" xmlUrl="http://127.0.0.1:1/a.xml"/>
    <outline title="Beta" type="rss" xmlUrl="http://127.0.0.1:1/b.xml"/>
  </outline>
</body></opml>)");

    const TImportResult result = form->Feeds().ImportOPML("subscriptions.opml");
    EXPECT_EQ(result.added, 2);
    EXPECT_EQ(result.skipped, 1);
    // The outline folder becomes a folder of the list.
    ASSERT_EQ(Root()->childCount(), 2);
    QTreeWidgetItem* folder = Root()->child(1);
    ASSERT_TRUE(TFeedTree::IsFolderNode(folder));
    EXPECT_EQ(folder->text(0), "Folder");
    ASSERT_EQ(folder->childCount(), 2);
    EXPECT_EQ(folder->child(0)->text(0), "Alpha & Co");
    EXPECT_EQ(folder->child(1)->text(0), "Beta");
    const xml::Node beta = Items().ChildElements()[1].ChildElements()[1];
    EXPECT_EQ(apptest::FeedId(folder->child(1)), beta.Attribute("id"));
    EXPECT_EQ(beta.Attribute("url"), "http://127.0.0.1:1/b.xml");
    EXPECT_EQ(beta.Attribute("id"), "3");
    EXPECT_EQ(AttributeNames(beta), (std::vector<std::string>{"url", "id", "caption", "unread", "lastupdate"}));

    // What was imported is on disk at once, and exports back the same way.
    xml::Document saved;
    saved.LoadFromFile("config.xml");
    EXPECT_EQ(saved.DocumentElement()
                  .ChildByName("internal")
                  .ChildByName("feedlist")
                  .ChildByName("items")
                  .ChildElements()
                  .size(),
              2u)
        << "a feed and the folder";
    form->Feeds().ExportOPML("out.opml");
    TImportResult again = form->Feeds().ImportOPML("out.opml");
    EXPECT_EQ(again.added, 0);
    EXPECT_EQ(again.skipped, 3);
}

TEST_F(FeedListTest, OpmlImportOfAFileThatIsNotOpmlChangesNothing) {
    home.WriteFile("feed.xml", "<rss version=\"2.0\"><channel/></rss>");
    const std::string before = form->Options().ConfigDocument().SaveToString();
    try {
        form->Feeds().ImportOPML("feed.xml");
        FAIL() << "an RSS file was taken for OPML";
    } catch (const std::exception& error) {
        EXPECT_EQ(std::string(error.what()).rfind("This is not a valid OPML subscription list: ", 0), 0u)
            << error.what();
    }
    EXPECT_EQ(form->Options().ConfigDocument().SaveToString(), before);
    EXPECT_EQ(Root()->childCount(), 0);
}

TEST_F(FeedListTest, FeedNodesAreFoundByIdThroughLoadsDeletionsAndRepeatedIds) {
    // A hand-edited list may repeat an id: the first feed keeps it, the
    // second is given the next free one (its stored copy comes again).
    for (const auto& [id, caption, unread] : {std::tuple{"1", "One", "0"}, std::tuple{"7", "Seven", "0"},
                                              std::tuple{"7", "Seven again", "2"}, std::tuple{"9", "Nine", "0"}}) {
        xml::Node item = Items().AppendElement("item");
        item.SetAttribute("url", kDeadURL);
        item.SetAttribute("id", id);
        item.SetAttribute("caption", caption);
        item.SetAttribute("unread", unread);
    }
    form->Feeds().Reload();
    ASSERT_EQ(Root()->childCount(), 4);
    QTreeWidgetItem* one = Root()->child(0);
    QTreeWidgetItem* seven = Root()->child(1);
    QTreeWidgetItem* sevenAgain = Root()->child(2);
    QTreeWidgetItem* nine = Root()->child(3);
    EXPECT_EQ(form->Tree().FindFeedNodeById("1"), one);
    EXPECT_EQ(form->Tree().FindFeedNodeById("7"), seven);
    EXPECT_EQ(form->Tree().FindFeedNodeById("9"), nine);
    EXPECT_EQ(form->Tree().FindFeedNodeById("10"), sevenAgain);
    EXPECT_EQ(Items().ChildElements()[2].Attribute("id"), "10") << "config.xml holds the new id";
    EXPECT_EQ(form->Tree().FindFeedNodeById(""), nullptr);
    EXPECT_EQ(form->Tree().FindFeedNodeById("42"), nullptr);

    form->Feeds().DeleteFeed(TFeedTree::EntryOf(seven));
    EXPECT_EQ(form->Tree().FindFeedNodeById("7"), nullptr);
    EXPECT_EQ(form->Tree().FindFeedNodeById("10"), sevenAgain);
    form->Feeds().DeleteFeed(TFeedTree::EntryOf(nine));
    EXPECT_EQ(form->Tree().FindFeedNodeById("9"), nullptr);
    EXPECT_EQ(form->Tree().FindFeedNodeById("1"), one);

    // Reloading the list builds new nodes: the lookup follows them, and
    // the captions and fonts come out as for nodes added one by one.
    form->Feeds().Reload();
    ASSERT_EQ(Root()->childCount(), 2);
    EXPECT_EQ(form->Tree().FindFeedNodeById("1"), Root()->child(0));
    EXPECT_EQ(form->Tree().FindFeedNodeById("10"), Root()->child(1));
    EXPECT_EQ(Root()->child(0)->text(0), "One");
    EXPECT_FALSE(Root()->child(0)->font(0).bold());
    EXPECT_EQ(Root()->child(1)->text(0), "Seven again (2)");
    EXPECT_TRUE(Root()->child(1)->font(0).bold());
    EXPECT_TRUE(Root()->isExpanded());
    EXPECT_EQ(form->Tree().currentItem(), Root());
}

TEST_F(FeedListTest, StatusMessagesLeaveTheWindowLayoutAloneAndShowWholeOnHovering) {
    form->ShowAtStartup();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QTest::qWait(50);  // the first layouts and paints
    const QRect bar = form->StatusBar->geometry();
    const QRect tree = form->Tree().geometry();
    // Each feed update sets two messages: they must not lay the window out
    // again (with a thousand feeds that costs more than the rest of the
    // update's user-interface work).
    struct TLayoutCounter : QObject {
        int requests = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::LayoutRequest) ++requests;
            return false;
        }
    } layouts;
    form->StatusBar->installEventFilter(&layouts);
    form->installEventFilter(&layouts);
    for (const char* text : {"Updating Daily", "Updated Daily", "Updating Weekly (3)"}) {
        form->SetStatusText(0, text);
        QApplication::processEvents();
    }
    EXPECT_EQ(layouts.requests, 0);
    form->StatusBar->removeEventFilter(&layouts);
    form->removeEventFilter(&layouts);

    // A failure's reason may run long or over several lines; the window
    // must not relayout (or jump) for it.
    const QString message =
        "Could not update Daily - XML parse error at line 2, column 33920:\n"
        "Premature end of data in tag item line 2\nand more";
    form->SetStatusText(0, message);
    QApplication::processEvents();
    EXPECT_EQ(form->StatusBar->geometry(), bar);
    EXPECT_EQ(form->Tree().geometry(), tree);
    EXPECT_EQ(form->StatusText(0), message);
    EXPECT_EQ(form->StatusPanel0->toolTip(), message);
}

}  // namespace

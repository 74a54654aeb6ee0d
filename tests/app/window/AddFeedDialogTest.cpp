// The Add Feed dialog driven as a person would: a site's address gives its
// feed, several feeds are offered, a feed in the list already is named, a
// slow search can be cancelled; and addresses or files pasted, dropped or
// handed over reach the dialog or the OPML import.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QUrl>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "AccountController.h"
#include "AppTestSupport.h"
#include "LoopbackServer.h"
#include "TempFolder.h"
#include "InstanceRequests.h"
#include "fAddFeed.h"
#include "fMain.h"

namespace {

std::string Page(const std::string& links) {
    return "<!DOCTYPE html><html><head><title>Harbour</title>" + links + "</head><body>Hello</body></html>";
}

std::string Link(const std::string& href, const std::string& title) {
    return "<link rel=\"alternate\" type=\"application/rss+xml\" title=\"" + title + "\" href=\"" + href + "\">";
}

const char* const kFeed =
    "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Harbour posts</title>"
    "<link>http://127.0.0.1/</link><description>d</description></channel></rss>";

// Runs `act` on the next modal dialog once it is open.
void OnNextDialog(std::function<void(TFormAddFeed*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* dialog = qobject_cast<TFormAddFeed*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(dialog);
        }
    });
    timer->start();
}

bool SearchEnds(TFormAddFeed* dialog) {
    return apptest::WaitUntil([dialog] { return !dialog->Searching(); });
}

// The next dialog's search ends with its feed offered, and OK takes it.
void ConfirmNextDialog() {
    OnNextDialog([](TFormAddFeed* dialog) {
        ASSERT_TRUE(SearchEnds(dialog));
        EXPECT_EQ(dialog->ResultList->count(), 1);
        dialog->OKBtn->click();
    });
}

class AddFeedDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.AddEndpoint("/feed", 200, {{"Content-Type", "application/rss+xml"}}, kFeed);
        server.AddEndpoint("/comments", 200, {{"Content-Type", "application/rss+xml"}}, kFeed);
        server.AddEndpoint("/one", 200, {{"Content-Type", "text/html"}}, Page(Link("/feed", "Harbour Feed")));
        server.AddEndpoint("/two", 200, {{"Content-Type", "text/html"}},
                           Page(Link("/comments", "Harbour Comments Feed") + Link("/feed", "Harbour Feed")));
        testsupport::Response slow;
        slow.headDelay = std::chrono::milliseconds(20000);
        server.AddEndpoint("/slow", slow);
        form = std::make_unique<TFormMain>();
        form->Updates().Stop();
    }
    void TearDown() override { form.reset(); }
    QString Url(const char* path) { return QString::fromStdString(server.Url(path)); }

    apptest::TStagedHome home;
    testsupport::LoopbackServer server;
    std::unique_ptr<TFormMain> form;
};

TEST_F(AddFeedDialogTest, FindsOneFeedOrOffersSeveralBestFirst) {
    struct Row {
        const char* path;
        const char* caption;  // typed
        const char* url;      // added
        const char* addedCaption;
    } rows[] = {
        // One feed: taken at once. The page's link title is no name: the
        // feed's own title comes with its first fetch.
        {"/one", "", "/feed", ""},
        {"/feed", "My name", "/feed", "My name"},
        {"/feed", "", "/feed", "Harbour posts"},  // the feed itself gives its own title
        {"/two", "", "/feed", ""},                // the site's own feed before its comments
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        TFormAddFeed dialog(form.get());
        dialog.EditURL->setText(Url(row.path));
        dialog.EditCaption->setText(row.caption);
        dialog.OKBtn->click();
        EXPECT_FALSE(dialog.OKBtn->isEnabled()) << "OK waits for the search";
        ASSERT_TRUE(SearchEnds(&dialog));
        if (!dialog.ResultList->isHidden()) {
            ASSERT_EQ(dialog.ResultList->count(), 2);
            EXPECT_EQ(dialog.ResultList->currentRow(), 0);
            EXPECT_EQ(dialog.ResultList->item(0)->text(), "Harbour Feed (RSS)");
            dialog.OKBtn->click();
        }
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.URL(), Url(row.url));
        EXPECT_EQ(dialog.Caption(), row.addedCaption);
    }
}

TEST_F(AddFeedDialogTest, NamesAFeedInTheListAndCancelsASlowSearch) {
    apptest::AddConfiguredFeed(*form, "1", server.Url("/feed"), "Harbour already");
    OnNextDialog([this](TFormAddFeed* dialog) {
        dialog->EditURL->setText(Url("/one"));
        dialog->OKBtn->click();
        ASSERT_TRUE(SearchEnds(dialog));
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_TRUE(dialog->StatusText->text().contains("Harbour already")) << dialog->StatusText->text().toStdString();

        dialog->EditURL->setText(Url("/slow"));
        dialog->OKBtn->click();
        EXPECT_TRUE(dialog->Searching());
        dialog->CancelBtn->click();  // stops the search, keeps the dialog
        ASSERT_TRUE(SearchEnds(dialog));
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_TRUE(dialog->EditURL->isEnabled());
        dialog->CancelBtn->click();
    });
    QElapsedTimer clock;
    clock.start();
    form->Actions().AddFeed->trigger();
    EXPECT_LT(clock.elapsed(), 10000) << "Cancel did not stop the search";
    EXPECT_EQ(form->Tree().FeedNodesUnder(form->Tree().RootNode()).size(), 1u);
}

TEST_F(AddFeedDialogTest, PastedDroppedAndHandedOverAddressesAndFilesArrive) {
    // A pasted address opens the dialog searching for it; its one feed
    // waits for OK, as the user did not type the address.
    QGuiApplication::clipboard()->setText("  " + Url("/one") + "  ");
    ConfirmNextDialog();
    form->Tree().findChild<QAction*>("ActionPasteAddress")->trigger();
    auto urls = [this] {
        std::vector<std::string> list;
        for (QTreeWidgetItem* node : form->Tree().FeedNodesUnder(form->Tree().RootNode()))
            list.push_back(TFeedTree::FeedOf(node)->Url);
        return list;
    };
    EXPECT_EQ(urls(), (std::vector<std::string>{server.Url("/feed")}));

    // A downloaded feed file is subscribed to by the address it gives itself.
    home.WriteFile("saved.rss",
                   "<rss version=\"2.0\" xmlns:atom=\"http://www.w3.org/2005/Atom\"><channel>"
                   "<title>t</title><link>http://127.0.0.1:1/</link><atom:link rel=\"self\" href=\"" +
                       server.Url("/comments") + "\"/></channel></rss>");
    ConfirmNextDialog();
    form->TakeAddressOrFile(QString::fromStdString((home.Dir() / "saved.rss").string()));
    EXPECT_EQ(urls(), (std::vector<std::string>{server.Url("/feed"), server.Url("/comments")}));

    // An OPML file is imported without a dialog.
    home.WriteFile("list.opml", "<opml version=\"2.0\"><body><outline text=\"F\"><outline text=\"x\" xmlUrl=\"" +
                                    server.Url("/x") + "\"/></outline></body></opml>");
    form->TakeAddressOrFile(
        QUrl::fromLocalFile(QString::fromStdString((home.Dir() / "list.opml").string())).toString());
    EXPECT_EQ(urls().size(), 3u);
    EXPECT_TRUE(form->StatusText(0).contains("1 feeds imported")) << form->StatusText(0).toStdString();
    // and what it added is fetched at once.
    EXPECT_TRUE(apptest::WaitUntil([&] { return server.NumHits("/x") == 1; }, 10000));
}

// quillet ADDRESS: the dialog opens filled in, its feed offered, and adds
// it on OK; the new feed is fetched at once and named by its own title, not
// by the page's link ("RSS").
TEST_F(AddFeedDialogTest, AHandedOverAddressWaitsForOKAndTheFeedIsNamedByItself) {
    server.AddEndpoint("/nixos", 200, {{"Content-Type", "text/html"}}, Page(Link("/news", "RSS")));
    server.AddEndpoint("/news", 200, {{"Content-Type", "application/rss+xml"}},
                       "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>NixOS News</title>"
                       "<link>http://127.0.0.1/</link><description>d</description></channel></rss>");
    bool offered = false;
    OnNextDialog([&](TFormAddFeed* dialog) {
        ASSERT_TRUE(SearchEnds(dialog));
        EXPECT_EQ(dialog->EditURL->text(), "feed:" + Url("/nixos"));
        EXPECT_TRUE(dialog->isVisible());
        ASSERT_EQ(dialog->ResultList->count(), 1);
        EXPECT_EQ(dialog->ResultList->item(0)->text(), "RSS (RSS)");
        EXPECT_TRUE(dialog->StatusText->text().contains("OK")) << dialog->StatusText->text().toStdString();
        offered = true;
        dialog->OKBtn->click();
    });
    EXPECT_EQ(AnswerInstanceRequest(*form, "add", "feed:" + Url("/nixos")), "ok");
    ASSERT_TRUE(apptest::WaitUntil([&] { return offered && !QApplication::activeModalWidget(); }, 20000));
    const std::vector<QTreeWidgetItem*> feeds = form->Tree().FeedNodesUnder(form->Tree().RootNode());
    ASSERT_EQ(feeds.size(), 1u);
    EXPECT_TRUE(apptest::WaitUntil([&] { return TFeedTree::FeedOf(feeds[0])->Caption == "NixOS News"; }, 10000));
    EXPECT_EQ(server.NumHits("/news"), 1);
}

// A long failure wraps over several lines, and the dialog grows to show
// them all.
TEST_F(AddFeedDialogTest, TheDialogGrowsToShowAWholeMessage) {
    TFormAddFeed dialog(form.get());
    dialog.show();
    const std::string closed = "127.0.0.1:" + std::to_string(testsupport::UnusedLoopbackPort());
    dialog.EditURL->setText(QString::fromStdString(closed));
    dialog.OKBtn->click();
    ASSERT_TRUE(SearchEnds(&dialog));
    QApplication::processEvents();
    EXPECT_TRUE(dialog.StatusText->text().contains("Neither https nor http"))
        << dialog.StatusText->text().toStdString();
    EXPECT_GE(dialog.StatusText->height(), dialog.StatusText->heightForWidth(dialog.StatusText->width()));
}

// Add to: this computer, even with an account's feed selected, unless the
// user chose the account last time; the choice is kept in config.xml.
TEST_F(AddFeedDialogTest, AddToDefaultsToThisComputerOrTheLastChoice) {
    form.reset();
    const std::string account =
        "<folder caption=\"Alice\" expanded=\"True\" account=\"alice@127.0.0.1\" "
        "address=\"http://127.0.0.1:1/api/greader.php\" user=\"alice\">"
        "<item url=\"http://127.0.0.1:1/d.xml\" id=\"10\" caption=\"Tech\" unread=\"0\" stream=\"feed/3\"/></folder>";
    std::string config = home.ReadFile("config.xml");
    config.replace(config.find("<items/>"), 8, "<items>" + account + "</items>");
    const struct {
        const char* stored;  // internal\addfeed\Target, nullptr: absent (an older config.xml)
        int offered;
    } cases[] = {{nullptr, 0}, {"alice@127.0.0.1", 1}, {"", 0}, {"gone@elsewhere", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "absent");
        std::string withChoice = config;
        if (c.stored)
            withChoice.replace(withChoice.find("<internal>"), 10,
                               std::string("<internal><addfeed><Target>") + c.stored + "</Target></addfeed>");
        home.WriteFile("config.xml", withChoice);
        form = std::make_unique<TFormMain>();
        form->Updates().Stop();
        // The account has no password kept: it is not asked for here.
        form->Accounts().SetPasswordPrompt([](const QString&) { return std::optional<QString>(); });
        form->Tree().setCurrentItem(form->Tree().FindFeedNodeById("10"));
        int offered = -1;
        OnNextDialog([&](TFormAddFeed* dialog) {
            offered = dialog->Target();
            // This computer chosen now: the next dialog offers it again.
            dialog->ComboTarget->setCurrentIndex(0);
            dialog->EditURL->setText(Url("/feed"));
            dialog->OKBtn->click();
        });
        form->Actions().AddFeed->trigger();
        EXPECT_EQ(offered, c.offered);
        EXPECT_EQ(form->Options().GetConfigNode("internal\\addfeed\\Target").Text(), "");
        form.reset();
    }
}

// However many addresses are handed over, one dialog holds them all and
// works through them in turn; Cancel drops what still waits.
TEST_F(AddFeedDialogTest, ManyHandOversWaitInTheOneDialog) {
    QStringList asked;
    for (int i = 0; i < 300; ++i) asked << Url(("/missing-" + std::to_string(i)).c_str());
    for (const QString& address : asked) EXPECT_EQ(AnswerInstanceRequest(*form, "add", address), "ok");
    EXPECT_EQ(AnswerInstanceRequest(*form, "add", asked[7]), "ok") << "an address waiting already";
    bool skipped = false, cancelled = false;
    OnNextDialog([&](TFormAddFeed* dialog) {
        ASSERT_TRUE(apptest::WaitUntil([&] { return dialog->Waiting().size() == 299; }, 5000));
        EXPECT_EQ(form->findChildren<TFormAddFeed*>().size(), 1);
        EXPECT_EQ(dialog->EditURL->text(), asked[0]);
        EXPECT_EQ(dialog->Waiting(), asked.mid(1));
        EXPECT_TRUE(dialog->SkipBtn->isVisible() && dialog->WaitingText->text().contains("299"));
        OnNextDialog([&, dialog](TFormAddFeed* again) {
            EXPECT_EQ(again, dialog);
            EXPECT_EQ(again->EditURL->text(), asked[1]);
            EXPECT_EQ(again->Waiting().size(), 298);
            cancelled = true;
            again->reject();
        });
        skipped = true;
        dialog->SkipBtn->click();
    });
    ASSERT_TRUE(apptest::WaitUntil([&] { return cancelled && !QApplication::activeModalWidget(); }, 20000));
    EXPECT_TRUE(skipped);
    EXPECT_TRUE(form->findChildren<TFormAddFeed*>().isEmpty());
    EXPECT_TRUE(form->Tree().FeedNodesUnder(form->Tree().RootNode()).empty());
}

}  // namespace

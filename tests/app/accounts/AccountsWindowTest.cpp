// Accounts: the Accounts dialog adds a checked account as a
// folder of the feed list and removes it with its feeds (local feeds stay),
// the password goes to the vault, the sync hears of both; at start-up every
// account's password is read; a refused password is asked for only once.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTreeWidgetItem>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "../../sync/FakeReader.h"
#include "AccountController.h"
#include "AccountList.h"
#include "AccountRig.h"
#include "AppTestSupport.h"
#include "Isolation.h"
#include "LoopbackServer.h"
#include "Options.h"
#include "PasswordVault.h"
#include "fAccountEdit.h"
#include "fAccounts.h"

namespace {

namespace fs = std::filesystem;

class AccountsWindowTest : public ::testing::Test {
protected:
    void SetUp() override { synctest::AddSignIn(server); }
    void Start() {
        rig = std::make_unique<apptest::TAccountRig>();
        rig->Accounts().SetPasswordPrompt([this](const QString& id) -> std::optional<QString> {
            asked.push_back(id);
            return answer;
        });
        ready = std::make_unique<QSignalSpy>(&rig->Accounts(), &TAccountController::accountReady);
        removed = std::make_unique<QSignalSpy>(&rig->Accounts(), &TAccountController::accountRemoved);
        refused = std::make_unique<QSignalSpy>(&rig->Accounts(), &TAccountController::accountPasswordRefused);
    }
    void TearDown() override { rig.reset(); }
    QString Api() const { return QString::fromStdString(server.Url(synctest::kApi)); }
    // Fills the form, presses OK and waits for the check; true when the
    // form closed with an account.
    static bool Submit(TFormAccountEdit& edit, const QString& address, const QString& password) {
        edit.EditAddress->setText(address);
        edit.EditUser->setText("alice");
        edit.EditPassword->setText(password);
        QSignalSpy checked(&edit, &TFormAccountEdit::checkFinished);
        edit.OKBtnClick();
        EXPECT_TRUE(apptest::WaitUntil([&] { return checked.count() > 0; }, 10000));
        return edit.result() == QDialog::Accepted;
    }

    testsupport::NoSessionBus noBus;
    testsupport::LoopbackServer server;
    apptest::TStagedHome home;
    std::unique_ptr<apptest::TAccountRig> rig;
    std::vector<QString> asked;
    std::optional<QString> answer;
    std::unique_ptr<QSignalSpy> ready, removed, refused;
};

TEST_F(AccountsWindowTest, TheDialogAddsACheckedAccountAndRemovesItWithItsFeedsOnly) {
    Start();
    rig->AddStoredFeed({{"id", "1"}, {"url", "http://127.0.0.1:1/local.xml"}, {"caption", "Local News"}});
    TFormAccounts dialog(rig->Accounts(), rig->List());
    std::vector<QString> messages;
    dialog.RunAccountForm = [&](TFormAccountEdit& edit) {
        // A wrong password keeps the form open with the server's answer.
        EXPECT_FALSE(Submit(edit, Api(), "wrong"));
        messages.push_back(edit.StatusText->text());
        // Plain http:// is warned of, and taken all the same.
        edit.EditAddress->setText("https://example.org/api/greader.php");
        EXPECT_TRUE(edit.AddressWarning->isHidden());
        const bool added = Submit(edit, Api(), "secret");
        EXPECT_FALSE(edit.AddressWarning->isHidden());
        EXPECT_TRUE(edit.AddressWarning->text().contains("http://"));
        return added;
    };
    dialog.AddBtnClick();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains("refused the user name or the password")) << messages[0].toStdString();

    const auto folders = accountlist::AccountFolders(rig->List());
    ASSERT_EQ(folders.size(), 1u);
    const auto record = *accountlist::RecordOf(folders[0]);
    EXPECT_EQ(record.Address, Api().toStdString());
    EXPECT_EQ(record.User, "alice");
    // Named after the server until the user names it.
    const QString host = QStringLiteral("127.0.0.1:%1").arg(server.Port());
    EXPECT_EQ(QString::fromStdString(record.Caption), host);
    EXPECT_EQ(dialog.AccountList->topLevelItemCount(), 1);
    // Saved at once, so the account survives a crash.
    EXPECT_NE(home.ReadFile("config.xml").find("account=\"" + record.Id + "\""), std::string::npos);
    EXPECT_TRUE(apptest::WaitUntil([&] { return ready->count() == 1; }, 5000));
    EXPECT_EQ(ready->at(0).at(0).toString().toStdString(), record.Id);
    EXPECT_EQ(ready->at(0).at(1).toString(), QStringLiteral("secret"));
    // No secret store answers here: the user-only file, and the dialog says so.
    const fs::path secret =
        home.Dir() / rig->Accounts().Vault().SecretFile(QString::fromStdString(record.Id)).toStdString();
    EXPECT_TRUE(fs::exists(secret));
    EXPECT_EQ(fs::status(secret).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(dialog.NoteText->text().contains("readable only by you")) << dialog.NoteText->text().toStdString();

    // The same account again is named, not added twice.
    dialog.RunAccountForm = [&](TFormAccountEdit& edit) {
        const bool accepted = Submit(edit, Api() + "/", "secret");
        messages.push_back(edit.StatusText->text());
        return accepted;
    };
    dialog.AddBtnClick();
    EXPECT_TRUE(messages.back().contains("already in the list as \"" + host + "\"")) << messages.back().toStdString();
    EXPECT_EQ(accountlist::AccountFolders(rig->List()).size(), 1u);

    // Edit: the new name shows in the tree; a new password signs in first.
    dialog.RunAccountForm = [&](TFormAccountEdit& edit) {
        EXPECT_TRUE(edit.EditAddress->isReadOnly());
        edit.EditCaption->setText("Harbour Reader");
        return Submit(edit, edit.EditAddress->text(), "secret");
    };
    dialog.EditBtnClick();
    EXPECT_EQ(accountlist::RecordOf(rig->List().FindAccount(record.Id))->Caption, "Harbour Reader");
    QTreeWidgetItem* root = rig->Tree().RootNode();
    EXPECT_TRUE(root->child(root->childCount() - 1)->text(0).startsWith("Harbour Reader"));
    EXPECT_TRUE(apptest::WaitUntil([&] { return ready->count() == 2; }, 5000));

    // The sync puts a feed into the account's folder.
    rig->AddStoredFeed({{"id", "2"}, {"url", "http://127.0.0.1:1/synced.xml"}, {"stream", "feed/7"}},
                       rig->List().FindAccount(record.Id));
    ASSERT_NE(rig->Tree().FindFeedNodeById("2"), nullptr);

    bool confirmed = false;
    dialog.ConfirmRemove = [&](const QString& caption) {
        EXPECT_EQ(caption, QStringLiteral("Harbour Reader"));
        return confirmed;
    };
    dialog.RemoveBtnClick();
    EXPECT_EQ(accountlist::AccountFolders(rig->List()).size(), 1u) << "removed without confirmation";
    confirmed = true;
    dialog.RemoveBtnClick();
    EXPECT_TRUE(accountlist::AccountFolders(rig->List()).empty());
    EXPECT_EQ(dialog.AccountList->topLevelItemCount(), 0);
    EXPECT_EQ(rig->Tree().FindFeedNodeById("2"), nullptr);
    ASSERT_NE(rig->Tree().FindFeedNodeById("1"), nullptr) << "a local feed went with the account";
    EXPECT_EQ(rig->Tree().FindFeedNodeById("1")->parent(), rig->Tree().RootNode());
    ASSERT_EQ(removed->count(), 1);
    EXPECT_EQ(removed->at(0).at(0).toString().toStdString(), record.Id);
    EXPECT_TRUE(apptest::WaitUntil([&] { return !fs::exists(secret); }, 5000));
    EXPECT_EQ(home.ReadFile("config.xml").find("account="), std::string::npos);
}

TEST_F(AccountsWindowTest, StartUpReadsEachPasswordAndARefusalIsAskedForOnce) {
    // The password typed again below is right: a sync refusing it would ask
    // once more, whenever its answer came.
    synctest::AddSignIn(server, {"secret", "typed-again"});
    // Two accounts kept from an earlier run; only one has its password.
    {
        apptest::TSavedFeedList saved("config.xml");
        accountlist::AddAccount(saved.List(), {"kept", "Kept", Api().toStdString(), "alice"});
        accountlist::AddAccount(saved.List(), {"lost", "Lost", Api().toStdString(), "bob"});
        saved.Save();
        TPasswordVault vault;
        ASSERT_TRUE(vault.WriteNow("kept", "secret").Ok);
    }
    Start();
    ASSERT_TRUE(apptest::WaitUntil([&] { return ready->count() == 1 && !asked.empty(); }, 10000));
    EXPECT_EQ(ready->at(0).at(0).toString(), QStringLiteral("kept"));
    EXPECT_EQ(ready->at(0).at(1).toString(), QStringLiteral("secret"));
    EXPECT_EQ(asked, std::vector<QString>{"lost"});

    // The user cancelled: further refusals ask nothing, however many.
    for (int i = 0; i < 3; ++i) emit rig->Accounts().accountPasswordRefused("lost");
    QCoreApplication::processEvents();
    EXPECT_EQ(asked.size(), 1u);

    // Refusals that come while a prompt is open are folded into it.
    answer = QStringLiteral("typed-again");
    for (int i = 0; i < 3; ++i) emit rig->Accounts().accountPasswordRefused("kept");
    ASSERT_TRUE(apptest::WaitUntil([&] { return ready->count() == 2; }, 5000));
    EXPECT_EQ(asked, (std::vector<QString>{"lost", "kept"}));
    EXPECT_EQ(ready->at(1).at(1).toString(), QStringLiteral("typed-again"));
    EXPECT_EQ(TPasswordVault().ReadNow("kept").Password, QStringLiteral("typed-again"));

    // Editing the account in the dialog lets the next refusal ask again.
    rig->Accounts().Forgive("lost");
    emit rig->Accounts().accountPasswordRefused("lost");
    ASSERT_TRUE(apptest::WaitUntil([&] { return asked.size() == 3; }, 5000));
    EXPECT_EQ(asked.back(), QStringLiteral("lost"));
    // An account that is gone is never asked for.
    emit rig->Accounts().accountPasswordRefused("never-was");
    QCoreApplication::processEvents();
    EXPECT_EQ(asked.size(), 3u);
}

}  // namespace

// The main window's side of feed-server accounts: File > Accounts, the
// account's folder in the tree and config.xml, its password in the vault,
// and the signals that start and stop its sync.
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include "AccountList.h"
#include "AccountSetup.h"
#include "AccountText.h"
#include "FeedList.h"
#include "PasswordVault.h"
#include "fAccountEdit.h"
#include "fAccounts.h"
#include "fMain.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

void TFormMain::ConnectAccounts() {
    AccountVault = new TPasswordVault(QStringLiteral("accounts"), this);
    ActionAccounts = new QAction(QStringLiteral("Accounts..."), this);
    ActionAccounts->setObjectName("ActionAccounts");
    FileMenu->insertAction(ActionOptions, ActionAccounts);
    connect(ActionAccounts, &QAction::triggered, this, [this] { Guarded([this] { ActionAccountsExecute(); }); });
    connect(this, &TFormMain::accountPasswordRefused, this, [this](const QString& id) { AccountPasswordRefused(id); });
    connect(this, &TFormMain::accountReady, this, [this](const QString& id, const QString&) { ++FPasswordsGiven[id]; });

    AskAccountPassword = [this](const QString& id) -> std::optional<QString> {
        const auto record = accountlist::RecordOf(
            accountlist::AccountFolder(FOptions->GetConfigNode(feedlist::kItemsPath), id.toStdString()));
        if (!record) return std::nullopt;
        TFormAccountEdit edit(TFormAccountEdit::TMode::Password, this);
        edit.SetAccount(Q(record->Address), Q(record->User), Q(record->Caption));
        edit.SetIntro(AccountText("AccountPasswordRefused",
                                  QStringLiteral("The server refused the password of the account \"%1\". Type it "
                                                 "again.")
                                      .arg(Q(record->Caption)),
                                  {record->Caption}));
        if (edit.exec() != QDialog::Accepted) return std::nullopt;
        return edit.Password();
    };
    // Once the event loop runs: by then everyone who listens for
    // accountReady is connected.
    QTimer::singleShot(0, this, [this] { ReadAccountPasswords(); });
}

void TFormMain::ActionAccountsExecute() {
    TFormAccounts dialog(*this, this);
    dialog.exec();
}

std::optional<std::string> TFormMain::ExistingAccount(const std::string& base, const std::string& user) const {
    const auto record = accountsetup::FindAccount(FOptions->GetConfigNode(feedlist::kItemsPath), base, user);
    if (!record) return std::nullopt;
    return record->Caption;
}

std::string TFormMain::AddAccount(const std::string& base, const std::string& user, const std::string& caption) {
    xml::Node items = FOptions->GetConfigNode(feedlist::kItemsPath);
    const accountlist::TAccountRecord record = accountsetup::NewRecord(items, base, user, caption);
    FTree->NodeForContainer(accountlist::AddAccount(items, record));
    FOptions->Save();
    return record.Id;
}

void TFormMain::StoreAccountPassword(const std::string& id, const QString& password,
                                     std::function<void(const TVaultResult&)> done) {
    AccountVault->Write(Q(id), password, [this, id, password, done](const TVaultResult& result) {
        ReportPasswordPlace(id, result);
        // A password the vault could not keep still serves this run; the
        // next start asks for it.
        if (accountlist::AccountFolder(FOptions->GetConfigNode(feedlist::kItemsPath), id))
            emit accountReady(Q(id), password);
        if (done) done(result);
    });
}

void TFormMain::ReportPasswordPlace(const std::string& id, const TVaultResult& result) {
    if (result.Ok && result.Place == TVaultPlace::SecretStore) return;
    SetStatusText(0, DescribePasswordPlace(result, AccountVault->SecretFile(Q(id))));
}

void TFormMain::RenameAccount(const std::string& id, const std::string& caption) {
    xml::Node folder = accountlist::AccountFolder(FOptions->GetConfigNode(feedlist::kItemsPath), id);
    if (!folder || caption.empty()) return;
    folder.SetAttribute("caption", caption);
    FTree->UpdateNodeCaption(FTree->NodeForContainer(folder));
    FOptions->Save();
}

void TFormMain::RemoveAccount(const std::string& id) {
    const xml::Node folder = accountlist::AccountFolder(FOptions->GetConfigNode(feedlist::kItemsPath), id);
    // Its feeds go as deleted feeds do (stored copies, remembered items);
    // local feeds are never inside an account's folder.
    if (folder) FFeeds->DeleteFolder(FTree->NodeForContainer(folder), true);
    const QString key = Q(id);
    FPasswordAsking.erase(key);
    FPasswordDeclined.erase(key);
    AccountVault->Remove(key, [this](const TVaultResult& result) {
        if (!result.Ok) SetStatusText(0, result.Error);
    });
    emit accountRemoved(key);
}

void TFormMain::ReadAccountPasswords() {
    for (const xml::Node& folder : accountlist::AccountFolders(FOptions->GetConfigNode(feedlist::kItemsPath))) {
        const std::string id = *folder.Attribute("account");
        const int given = FPasswordsGiven[Q(id)];
        AccountVault->Read(Q(id), [this, id, given](const TVaultResult& result) {
            if (!accountlist::AccountFolder(FOptions->GetConfigNode(feedlist::kItemsPath), id)) return;
            // A secret store can take seconds; a password typed meanwhile
            // is newer than its answer, and a missing one must not prompt.
            if (FPasswordsGiven[Q(id)] != given) return;
            if (result.Ok) {
                emit accountReady(Q(id), result.Password);
                return;
            }
            if (!result.NotFound) SetStatusText(0, result.Error);
            emit accountPasswordRefused(Q(id));
        });
    }
}

void TFormMain::AccountPasswordRefused(const QString& id) {
    if (FPasswordAsking.count(id) || FPasswordDeclined.count(id)) return;
    if (!accountlist::AccountFolder(FOptions->GetConfigNode(feedlist::kItemsPath), id.toStdString())) return;
    FPasswordAsking.insert(id);
    // Not inside the sync's own signal: the prompt runs an event loop.
    QTimer::singleShot(0, this, [this, id] {
        std::optional<QString> password;
        if (AskAccountPassword) password = AskAccountPassword(id);
        FPasswordAsking.erase(id);
        if (!password || password->isEmpty()) {
            FPasswordDeclined.insert(id);
            return;
        }
        StoreAccountPassword(id.toStdString(), *password);
    });
}

void TFormMain::ForgiveAccount(const QString& id) { FPasswordDeclined.erase(id); }

QString TFormMain::TakeAccountRequest(const QString& request) {
    const QJsonObject fields = QJsonDocument::fromJson(request.toUtf8()).object();
    const std::string base = fields.value(QStringLiteral("base")).toString().toStdString();
    const std::string user = fields.value(QStringLiteral("user")).toString().toStdString();
    const QString password = fields.value(QStringLiteral("password")).toString();
    if (base.empty() || user.empty() || password.isEmpty()) return QStringLiteral("error the account is incomplete");
    if (const auto existing = ExistingAccount(base, user))
        return QStringLiteral("error this account is already in the list as \"%1\"").arg(Q(*existing));
    const std::string id = AddAccount(base, user, fields.value(QStringLiteral("caption")).toString().toStdString());
    StoreAccountPassword(id, password);
    return QStringLiteral("ok account %1 added to the running Quillet").arg(Q(id));
}

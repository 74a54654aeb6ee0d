// The accounts' settings: the account's folder in the tree and config.xml,
// its password in the vault, and the signals that start and stop its sync.
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include "AccountController.h"
#include "AccountList.h"
#include "AccountSetup.h"
#include "PasswordVault.h"
#include "QtText.h"

namespace {

using plat::Q;

}  // namespace

void TAccountController::Start() {
    // Once the event loop runs: by then everyone who listens for
    // accountReady is connected.
    QTimer::singleShot(0, this, [this] { ReadPasswords(); });
}

std::optional<std::string> TAccountController::ExistingAccount(const std::string& base, const std::string& user) const {
    const auto record = accountsetup::FindAccount(List(), base, user);
    if (!record) return std::nullopt;
    return record->Caption;
}

std::string TAccountController::AddAccount(const std::string& base, const std::string& user,
                                           const std::string& caption) {
    const accountlist::TAccountRecord record = accountsetup::NewRecord(List(), base, user, caption);
    accountlist::AddAccount(List(), record);
    FHost.SaveNow();
    return record.Id;
}

void TAccountController::StorePassword(const std::string& id, const QString& password,
                                       std::function<void(const TVaultResult&)> done) {
    FVault->Write(Q(id), password, [this, id, password, done](const TVaultResult& result) {
        ReportPasswordPlace(id, result);
        // A password the vault could not keep still serves this run; the
        // next start asks for it.
        if (List().FindAccount(id)) emit accountReady(Q(id), password);
        if (done) done(result);
    });
}

void TAccountController::ReportPasswordPlace(const std::string& id, const TVaultResult& result) {
    if (result.Ok && result.Place == TVaultPlace::SecretStore) return;
    FHost.ShowStatus(DescribePasswordPlace(result, FVault->SecretFile(Q(id))));
}

void TAccountController::RenameAccount(const std::string& id, const std::string& caption) {
    const feedlist::TListEntry* folder = List().FindAccount(id);
    if (!folder || caption.empty()) return;
    List().UpdateFolder(*folder, [&caption](feedlist::TFolderEntry& entry) { entry.Caption = caption; });
    FHost.SaveNow();
}

void TAccountController::RemoveAccount(const std::string& id) {
    // Its feeds go as deleted feeds do (stored copies, remembered items);
    // local feeds are never inside an account's folder.
    if (const feedlist::TListEntry* folder = AccountFolder(id)) FHost.DeleteFolder(*folder, true);
    const QString key = Q(id);
    FPasswordAsking.erase(key);
    FPasswordDeclined.erase(key);
    FVault->Remove(key, [this](const TVaultResult& result) {
        if (!result.Ok) FHost.ShowStatus(result.Error);
    });
    emit accountRemoved(key);
}

void TAccountController::ReadPasswords() {
    for (const feedlist::TListEntry* folder : accountlist::AccountFolders(List())) {
        const std::string id = folder->Folder().Account->Id;
        const int given = FPasswordsGiven[Q(id)];
        FVault->Read(Q(id), [this, id, given](const TVaultResult& result) {
            if (!List().FindAccount(id)) return;
            // A secret store can take seconds; a password typed meanwhile
            // is newer than its answer, and a missing one must not prompt.
            if (FPasswordsGiven[Q(id)] != given) return;
            if (result.Ok) {
                emit accountReady(Q(id), result.Password);
                return;
            }
            if (!result.NotFound) FHost.ShowStatus(result.Error);
            emit accountPasswordRefused(Q(id));
        });
    }
}

void TAccountController::PasswordRefused(const QString& id) {
    if (FPasswordAsking.count(id) || FPasswordDeclined.count(id)) return;
    if (!List().FindAccount(id.toStdString())) return;
    FPasswordAsking.insert(id);
    // Not inside the sync's own signal: the prompt runs an event loop.
    QTimer::singleShot(0, this, [this, id] {
        std::optional<QString> password;
        if (FAskPassword) password = FAskPassword(id);
        FPasswordAsking.erase(id);
        if (!password || password->isEmpty()) {
            FPasswordDeclined.insert(id);
            return;
        }
        StorePassword(id.toStdString(), *password);
    });
}

QString TAccountController::TakeAccountRequest(const QString& request) {
    const QJsonObject fields = QJsonDocument::fromJson(request.toUtf8()).object();
    const std::string base = fields.value(QStringLiteral("base")).toString().toStdString();
    const std::string user = fields.value(QStringLiteral("user")).toString().toStdString();
    const QString password = fields.value(QStringLiteral("password")).toString();
    if (base.empty() || user.empty() || password.isEmpty()) return QStringLiteral("error the account is incomplete");
    if (const auto existing = ExistingAccount(base, user))
        return QStringLiteral("error this account is already in the list as \"%1\"").arg(Q(*existing));
    const std::string id = AddAccount(base, user, fields.value(QStringLiteral("caption")).toString().toStdString());
    StorePassword(id, password);
    return QStringLiteral("ok account %1 added to the running Quillet").arg(Q(id));
}

#include "PasswordVault.h"

#include <QEventLoop>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>

#include <qt6keychain/keychain.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>

#include "AccountText.h"
#include "AppInfo.h"
#include "AtomicFile.h"
#include "UserAccess.h"

namespace fs = std::filesystem;

namespace {

enum TOperation { kRead, kWrite, kRemove };

// Ids come from config.xml; only these may name a file, so that no id
// reaches outside the folder.
bool SafeId(const QString& id) {
    static const QRegularExpression allowed(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9@_-][A-Za-z0-9@._-]{0,127}")));
    return allowed.match(id).hasMatch();
}

TVaultResult Failure(const QString& error) {
    TVaultResult result;
    result.Error = error;
    return result;
}

}  // namespace

TPasswordVault::TPasswordVault(QString folder, QObject* parent) : QObject(parent), FFolder(std::move(folder)) {}

QString TPasswordVault::ServiceName() { return QString::fromLatin1(kAppId); }

QString TPasswordVault::SecretFile(const QString& accountId) const {
    if (!SafeId(accountId)) return {};
    return FFolder + '/' + accountId + QStringLiteral(".secret");
}

void TPasswordVault::AskStore(int operation, const QString& accountId, const QString& password,
                              std::function<void(TStoreAnswer, const QString&, const QString&)> answer) {
    QKeychain::Job* job = nullptr;
    if (operation == kRead) {
        job = new QKeychain::ReadPasswordJob(ServiceName());
    } else if (operation == kWrite) {
        auto* write = new QKeychain::WritePasswordJob(ServiceName());
        write->setTextData(password);
        job = write;
    } else {
        job = new QKeychain::DeletePasswordJob(ServiceName());
    }
    // Never QtKeychain's own fallback: it writes the password in plain text
    // to a settings file without asking who may read it.
    job->setInsecureFallback(false);
    job->setAutoDelete(true);
    job->setKey(accountId);

    // The job or the timer, whichever comes first, answers; the other finds
    // it done. A vault gone meanwhile gets no answer.
    auto answered = std::make_shared<bool>(false);
    QPointer<TPasswordVault> self(this);
    auto finish = [answered, self, answer](TStoreAnswer kind, const QString& secret, const QString& error) {
        if (*answered) return;
        *answered = true;
        if (self) answer(kind, secret, error);
    };
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [finish, timer] {
        timer->deleteLater();
        finish(TStoreAnswer::Unavailable, {}, QStringLiteral("the secret store did not answer in time"));
    });
    QPointer<QTimer> guardTimer(timer);
    QTimer::singleShot(kPromptNoticeDelay, this, [this, answered] {
        if (!*answered) emit storeWaiting(WaitingText());
    });
    connect(job, &QKeychain::Job::finished, this, [finish, guardTimer, operation](QKeychain::Job* done) {
        if (guardTimer) {
            guardTimer->stop();
            guardTimer->deleteLater();
        }
        const QString error = done->errorString();
        switch (done->error()) {
            case QKeychain::NoError: {
                QString secret;
                if (operation == kRead) secret = static_cast<QKeychain::ReadPasswordJob*>(done)->textData();
                finish(TStoreAnswer::Done, secret, {});
                return;
            }
            case QKeychain::EntryNotFound:
                finish(TStoreAnswer::NotFound, {}, error);
                return;
            case QKeychain::AccessDeniedByUser:
            case QKeychain::CouldNotDeleteEntry:
                finish(TStoreAnswer::Refused, {}, error);
                return;
            default:
                finish(TStoreAnswer::Unavailable, {}, error);
                return;
        }
    });
    timer->start(FTimeout);
    job->start();
}

QString TPasswordVault::WaitingText() const {
    const int seconds = static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(FTimeout).count());
    return AccountText("AccountSecretStoreAsking",
                       QStringLiteral("Waiting for the desktop's secret store: it may be asking you to unlock it. "
                                      "Quillet waits %1 seconds for it, then uses a file only you can read.")
                           .arg(seconds),
                       {seconds});
}

void TPasswordVault::Write(const QString& accountId, const QString& password, TDone done) {
    if (!FUseSecretStore) return done(WriteFile(accountId, password));
    AskStore(kWrite, accountId, password,
             [this, accountId, password, done](TStoreAnswer answer, const QString&, const QString& error) {
                 if (answer == TStoreAnswer::Done) {
                     // An older password in the file would never be read again, but
                     // it should not stay on the disk either.
                     QString ignored;
                     RemoveFile(accountId, ignored);
                     TVaultResult result;
                     result.Ok = true;
                     result.Place = TVaultPlace::SecretStore;
                     return done(result);
                 }
                 if (answer == TStoreAnswer::Refused)
                     return done(Failure(QStringLiteral("the secret store refused: ") + error));
                 done(WriteFile(accountId, password));
             });
}

void TPasswordVault::Read(const QString& accountId, TDone done) {
    if (!FUseSecretStore) return done(ReadFile(accountId));
    AskStore(kRead, accountId, {},
             [this, accountId, done](TStoreAnswer answer, const QString& secret, const QString& error) {
                 if (answer == TStoreAnswer::Done) {
                     TVaultResult result;
                     result.Ok = true;
                     result.Place = TVaultPlace::SecretStore;
                     result.Password = secret;
                     return done(result);
                 }
                 TVaultResult fromFile = ReadFile(accountId);
                 if (!fromFile.Ok && fromFile.NotFound && answer == TStoreAnswer::Refused) {
                     fromFile.NotFound = false;
                     fromFile.Error = QStringLiteral("the secret store refused: ") + error;
                 }
                 done(fromFile);
             });
}

void TPasswordVault::Remove(const QString& accountId, TDone done) {
    auto removeFile = [this, accountId, done](const QString& storeError) {
        TVaultResult result;
        QString fileError;
        const bool fileGone = RemoveFile(accountId, fileError);
        result.Ok = fileGone && storeError.isEmpty();
        result.Error = !storeError.isEmpty() ? storeError : fileError;
        done(result);
    };
    if (!FUseSecretStore) return removeFile({});
    AskStore(kRemove, accountId, {}, [removeFile](TStoreAnswer answer, const QString&, const QString& error) {
        removeFile(answer == TStoreAnswer::Refused ? QStringLiteral("the secret store refused: ") + error : QString());
    });
}

TVaultResult TPasswordVault::WriteFile(const QString& accountId, const QString& password) const {
    const QString file = SecretFile(accountId);
    if (file.isEmpty()) return Failure(QStringLiteral("the account id \"%1\" cannot name a file").arg(accountId));
    const fs::path path = file.toStdString();
    std::string problem;
    std::error_code code;
    const fs::path folder = path.parent_path();
    if (!folder.parent_path().empty()) fs::create_directories(folder.parent_path(), code);
    if (!folder.empty() && !plat::MakePrivateFolder(folder, plat::CurrentUserId(), problem))
        return Failure(QStringLiteral("the folder %1 cannot be made private: %2")
                           .arg(QString::fromStdString(folder.string()), QString::fromStdString(problem)));
    try {
        // The replacing file takes the mode of the one it replaces, so the
        // target is made (or tightened to) user-only before anything is
        // written.
        if (!plat::MakePrivateFile(path, problem)) throw std::runtime_error(problem);
        plat::TAtomicFile out(path.string());
        out.Write(password.toStdString());
        out.Commit();
    } catch (const std::exception& error) {
        return Failure(
            QStringLiteral("the password cannot be written to %1: %2").arg(file, QString::fromUtf8(error.what())));
    }
    TVaultResult result;
    result.Ok = true;
    result.Place = TVaultPlace::File;
    return result;
}

TVaultResult TPasswordVault::ReadFile(const QString& accountId) const {
    const QString file = SecretFile(accountId);
    TVaultResult result;
    std::error_code code;
    if (file.isEmpty() || !fs::is_regular_file(file.toStdString(), code)) {
        result.NotFound = true;
        result.Error = QStringLiteral("no password is kept for the account");
        return result;
    }
    // A copy restored from a backup may have come back readable by others.
    std::string ignored;
    plat::MakePrivateFile(file.toStdString(), ignored);
    std::ifstream in(file.toStdString(), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    if (!in) return Failure(QStringLiteral("the password cannot be read from %1").arg(file));
    result.Ok = true;
    result.Place = TVaultPlace::File;
    result.Password = QString::fromStdString(content.str());
    return result;
}

bool TPasswordVault::RemoveFile(const QString& accountId, QString& error) const {
    const QString file = SecretFile(accountId);
    if (file.isEmpty()) return true;
    std::error_code code;
    fs::remove(file.toStdString(), code);
    if (code) error = QStringLiteral("%1 cannot be removed: %2").arg(file, QString::fromStdString(code.message()));
    return !code;
}

TVaultResult TPasswordVault::Wait(const std::function<void(TDone)>& start) {
    TVaultResult result;
    bool finished = false;
    QEventLoop loop;
    start([&](const TVaultResult& answer) {
        result = answer;
        finished = true;
        loop.quit();
    });
    if (!finished) loop.exec();
    return result;
}

TVaultResult TPasswordVault::WriteNow(const QString& accountId, const QString& password) {
    return Wait([&](TDone done) { Write(accountId, password, std::move(done)); });
}

TVaultResult TPasswordVault::ReadNow(const QString& accountId) {
    return Wait([&](TDone done) { Read(accountId, std::move(done)); });
}

TVaultResult TPasswordVault::RemoveNow(const QString& accountId) {
    return Wait([&](TDone done) { Remove(accountId, std::move(done)); });
}

QString DescribePasswordPlace(const TVaultResult& result, const QString& secretFile) {
    if (!result.Ok)
        return AccountText("AccountPasswordNotKept",
                           QStringLiteral("The password could not be kept (%1); Quillet asks for it at the next start.")
                               .arg(result.Error),
                           {result.Error.toStdString()});
    if (result.Place == TVaultPlace::File)
        return AccountText(
            "AccountPasswordInFile",
            QStringLiteral("The password is kept in the file %1, readable only by you, because no secret "
                           "store answered.")
                .arg(secretFile),
            {secretFile.toStdString()});
    return AccountText("AccountPasswordInStore", QStringLiteral("The password is kept in the desktop's secret store."));
}

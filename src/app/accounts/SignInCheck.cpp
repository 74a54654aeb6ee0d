#include "SignInCheck.h"

#include <QCoreApplication>
#include <QPointer>

#include <thread>

#include "GReaderClient.h"
#include "HttpClient.h"
#include "AccountText.h"

using greader::TSyncError;
using greader::TSyncErrorKind;

QString SignInMessage(TSyncErrorKind kind, const std::string& address, const std::string& detail) {
    const QString where = QString::fromStdString(address);
    const QString why = QString::fromStdString(detail);
    switch (kind) {
        case TSyncErrorKind::WrongPassword:
        case TSyncErrorKind::Unauthorized:
            return AccountText("SignInWrongPassword", QStringLiteral("%1 refused the user name or the password. FreshRSS wants the API password "
                                       "set in its profile, not the password of its web page.").arg(where), {address});
        case TSyncErrorKind::NotGoogleReader:
            return AccountText("SignInNotGoogleReader", QStringLiteral("%1 does not answer as a Google Reader API. Give the API's address, such as "
                                       "https://host/api/greader.php, or the address of a FreshRSS site.").arg(where), {address});
        case TSyncErrorKind::Tls:
            return AccountText("SignInTls", QStringLiteral("The secure connection to %1 failed (%2). Check the address and the server's "
                                       "certificate.").arg(where, why), {address, detail});
        case TSyncErrorKind::Unreachable:
            return AccountText("SignInUnreachable", QStringLiteral("%1 cannot be reached (%2). Check the address and the network.").arg(where, why), {address, detail});
        case TSyncErrorKind::TimedOut:
            return AccountText("SignInTimedOut", QStringLiteral("%1 did not answer in time. Try again later.").arg(where), {address});
        case TSyncErrorKind::Server:
            return AccountText("SignInServerTrouble", QStringLiteral("The server at %1 has trouble (%2). Try again later.").arg(where, why), {address, detail});
        case TSyncErrorKind::Cancelled:
            return AccountText("SignInCancelled", QStringLiteral("The sign-in check was cancelled."), {});
        default:
            return AccountText("SignInFailed", QStringLiteral("Signing in to %1 failed: %2").arg(where, why), {address, detail});
    }
}

TSignInResult CheckSignIn(const std::string& address, const std::string& user, const std::string& password,
                          std::shared_ptr<http::TCancelToken> cancel, const TSignInOptions& options) {
    TSignInResult result;
    if (!cancel) cancel = std::make_shared<http::TCancelToken>();
    const std::vector<std::string> bases = greader::TGReaderClient::CandidateBases(address);
    std::optional<TSyncError> first;
    for (const std::string& base : bases) {
        greader::TGReaderClient client(base, cancel);
        client.SetDeadline(options.Deadline);
        client.SetStallTimeout(options.Deadline);
        if (!options.CaFile.empty()) client.SetCertificateAuthorityFile(options.CaFile);
        try {
            client.ClientLogin(user, password);
            result.Ok = true;
            result.Base = client.Base();
            return result;
        } catch (const TSyncError& error) {
            if (!first) first = error;
            // Only "no API here" sends us to the next candidate: a refused
            // password or a dead host is the answer for the whole address.
            if (error.Kind() != TSyncErrorKind::NotGoogleReader) {
                first = error;
                break;
            }
        } catch (const std::exception& error) {
            first = TSyncError(TSyncErrorKind::Malformed, error.what());
            break;
        }
    }
    if (cancel->Cancelled()) first = TSyncError(TSyncErrorKind::Cancelled, "cancelled");
    result.Kind = first->Kind();
    result.Detail = first->what();
    // The address as typed is what the user recognises.
    result.Message = SignInMessage(*result.Kind, address, result.Detail);
    return result;
}

TSignInCheck::TSignInCheck(QObject* parent) : QObject(parent) {}

TSignInCheck::~TSignInCheck() { Cancel(); }

void TSignInCheck::Cancel() {
    if (FCancel) FCancel->Cancel();
}

void TSignInCheck::Start(const QString& address, const QString& user, const QString& password) {
    Cancel();
    FCancel = std::make_shared<http::TCancelToken>();
    const std::shared_ptr<http::TCancelToken> token = FCancel;
    QPointer<TSignInCheck> self(this);
    // The thread owns copies of everything it uses; the answer finds the
    // object only if it still exists and still waits for this check.
    std::thread([self, token, options = Options, address = address.trimmed().toStdString(),
                 user = user.trimmed().toStdString(), password = password.toStdString()] {
        auto result = std::make_shared<TSignInResult>(CheckSignIn(address, user, password, token, options));
        QMetaObject::invokeMethod(
            qApp,
            [self, token, result] {
                if (!self || self->FCancel != token) return;
                self->FCancel.reset();
                emit self->finished(*result);
            },
            Qt::QueuedConnection);
    }).detach();
}

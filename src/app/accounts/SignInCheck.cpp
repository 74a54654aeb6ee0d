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
    // The message of each kind, and its English for a language without it;
    // %1 is the address, %2 the client's own words.
    struct TText {
        const char* Name;
        const char* English;
        bool WithDetail;
    };
    auto text = [kind]() -> TText {
        switch (kind) {
            case TSyncErrorKind::WrongPassword:
            case TSyncErrorKind::Unauthorized:
                return {"SignInWrongPassword",
                        "%1 refused the user name or the password. FreshRSS wants the API password set in its "
                        "profile, not the password of its web page.",
                        false};
            case TSyncErrorKind::NotGoogleReader:
                return {"SignInNotGoogleReader",
                        "%1 does not answer as a Google Reader API. Give the API's address, such as "
                        "https://host/api/greader.php, or the address of a FreshRSS site.",
                        false};
            case TSyncErrorKind::Tls:
                return {"SignInTls",
                        "The secure connection to %1 failed (%2). Check the address and the server's certificate.",
                        true};
            case TSyncErrorKind::Unreachable:
                return {"SignInUnreachable", "%1 cannot be reached (%2). Check the address and the network.", true};
            case TSyncErrorKind::TimedOut:
                return {"SignInTimedOut", "%1 did not answer in time. Try again later.", false};
            case TSyncErrorKind::Server:
                return {"SignInServerTrouble", "The server at %1 has trouble (%2). Try again later.", true};
            case TSyncErrorKind::Cancelled:
                return {"SignInCancelled", "The sign-in check was cancelled.", false};
            default:
                return {"SignInFailed", "Signing in to %1 failed: %2", true};
        }
    }();
    const QString where = QString::fromStdString(address);
    QString english = QString::fromLatin1(text.English);
    // One pass, so that a "%2" inside the address stays as it is.
    if (text.WithDetail)
        english = english.arg(where, QString::fromStdString(detail));
    else if (kind != TSyncErrorKind::Cancelled)
        english = english.arg(where);
    std::vector<plat::FormatArg> args;
    if (kind != TSyncErrorKind::Cancelled) args.emplace_back(address);
    if (text.WithDetail) args.emplace_back(detail);
    return AccountText(text.Name, english, args);
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

// Checking an account before it is kept: sign in to the server with the
// address, user name and password typed, and say in plain words what went
// wrong. A site's address is tried as the API's and then with FreshRSS's
// API path below it; the address that answered is the account's API base.
//
// The check waits on the network, so the window runs it on a thread of its
// own (TSignInCheck) and can cancel it; the command line calls CheckSignIn
// directly.
#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "SyncError.h"

namespace http {
class TCancelToken;
}

struct TSignInResult {
    bool Ok = false;
    std::string Base;                             // the API's address that signed in
    std::optional<greader::TSyncErrorKind> Kind;  // why not, when not
    std::string Detail;                           // the client's own words
    QString Message;                              // what the user reads (current language)
};

struct TSignInOptions {
    std::chrono::milliseconds Deadline{30'000};
    std::string CaFile;  // tests: a certificate authority of their own
};

// Signs in and returns the outcome; blocks while it talks to the server.
TSignInResult CheckSignIn(const std::string& address, const std::string& user, const std::string& password,
                          std::shared_ptr<http::TCancelToken> cancel = nullptr, const TSignInOptions& options = {});

// The plain message for a failure of this kind at `address` (the language's
// text, or English where the language has none).
QString SignInMessage(greader::TSyncErrorKind kind, const std::string& address, const std::string& detail);

// CheckSignIn on a thread of its own; `finished` comes on the thread that
// started it, once per Start, unless the check was replaced or the object
// is gone.
class TSignInCheck : public QObject {
    Q_OBJECT
public:
    explicit TSignInCheck(QObject* parent = nullptr);
    ~TSignInCheck() override;

    void Start(const QString& address, const QString& user, const QString& password);
    // Stops the check under way; it finishes as cancelled.
    void Cancel();
    bool Running() const { return static_cast<bool>(FCancel); }
    TSignInOptions Options;

signals:
    void finished(const TSignInResult& result);

private:
    std::shared_ptr<http::TCancelToken> FCancel;
};

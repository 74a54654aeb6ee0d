// Where an account's password is kept: the desktop's secret store (the
// Secret Service, reached through QtKeychain), or, where none answers (no
// session bus, as on a server or in CI), a file in the home that only the
// user can read: accounts/<id>.secret, mode 0600 in a 0700 folder.
//
// Every call answers once, later, on the caller's thread: the secret store
// speaks over D-Bus and may ask the user to unlock it, which must not
// freeze the window. A store that says nothing within the time limit counts
// as absent. One that is slow to answer is most likely asking the user to
// unlock it: storeWaiting says so at once, so nobody waits in silence.
#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>

enum class TVaultPlace {
    None,         // nothing was kept or found
    SecretStore,  // the desktop's secret store
    File,         // the user-only file
};

struct TVaultResult {
    bool Ok = false;
    TVaultPlace Place = TVaultPlace::None;
    QString Password;       // what Read found
    QString Error;          // why it failed, in plain words (English: a log's)
    bool NotFound = false;  // Read: no password is kept for the account
};

// Where a password was kept, in the user's words: the secret store, the
// user-only file (and why), or why it could not be kept.
QString DescribePasswordPlace(const TVaultResult& result, const QString& secretFile);

class TPasswordVault : public QObject {
    Q_OBJECT
public:
    using TDone = std::function<void(const TVaultResult&)>;

    // `folder`: where the fallback files go, relative to the home (the
    // working directory) or absolute.
    explicit TPasswordVault(QString folder = QStringLiteral("accounts"), QObject* parent = nullptr);

    // Keeps the password: in the secret store when it answers, else in the
    // file (Place says which). A copy in the other place is removed, so
    // reading never finds an old password.
    void Write(const QString& accountId, const QString& password, TDone done);
    // The secret store first, then the file.
    void Read(const QString& accountId, TDone done);
    // Removes the password from both places; Ok unless one that is there
    // could not be removed.
    void Remove(const QString& accountId, TDone done);

    // The same, waiting in a local event loop: for the command line,
    // which has no window to keep alive.
    TVaultResult WriteNow(const QString& accountId, const QString& password);
    TVaultResult ReadNow(const QString& accountId);
    TVaultResult RemoveNow(const QString& accountId);

    // The fallback file of an account; empty for an id that cannot name a
    // file (a hand-edited config.xml may hold anything).
    QString SecretFile(const QString& accountId) const;
    // The service name entries are filed under in the secret store.
    static QString ServiceName();

    // How long the secret store may take: enough to read its prompt and
    // type a password, short of a wait that looks like a hang.
    static constexpr std::chrono::milliseconds kDefaultStoreTimeout{20'000};
    // An answer slower than this is taken for a prompt (storeWaiting).
    static constexpr std::chrono::milliseconds kPromptNoticeDelay{400};
    // "The desktop's secret store is asking…", in the user's language.
    QString WaitingText() const;

    // Off: the secret store is never asked (tests on a machine with one).
    void SetUseSecretStore(bool use) { FUseSecretStore = use; }
    void SetStoreTimeout(std::chrono::milliseconds timeout) { FTimeout = timeout; }

signals:
    // A request to the secret store has not been answered within
    // kPromptNoticeDelay: it is probably showing a prompt.
    void storeWaiting(const QString& text);

private:
    enum class TStoreAnswer { Done, NotFound, Unavailable, Refused };
    // Runs one job against the secret store; `answer` gets the outcome and,
    // for a read, the password.
    void AskStore(int operation, const QString& accountId, const QString& password,
                  std::function<void(TStoreAnswer, const QString&, const QString&)> answer);
    TVaultResult WriteFile(const QString& accountId, const QString& password) const;
    TVaultResult ReadFile(const QString& accountId) const;
    bool RemoveFile(const QString& accountId, QString& error) const;
    TVaultResult Wait(const std::function<void(TDone)>& start);

    QString FFolder;
    bool FUseSecretStore = true;
    std::chrono::milliseconds FTimeout{kDefaultStoreTimeout};
};

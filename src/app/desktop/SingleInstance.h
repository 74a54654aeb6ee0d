// One running Quillet per home folder. Two copies over the same config.xml
// and feeds/ would overwrite each other's changes, so a second start asks
// the running one to show its window and leaves.
//
// The first process takes a lock file in the home (QLockFile notices a lock
// left by a process that no longer runs) and listens on a local socket named
// after the home; a second one fails to take the lock, connects, sends
// "show" and waits for "ok". A socket left by a crashed run is removed
// before listening.
//
// The socket lives only where no other user can reach it: $XDG_RUNTIME_DIR
// when it is the user's own with mode 0700, else Qt's runtime folder under
// the same check, else a private folder in the home. Both ends also check
// that the process at the other end is the same user, so a stranger can
// neither take the channel nor answer a second start in its place.
//
// The channel speaks lines: "<verb>[ <argument>]\n" asks, one line answers;
// a verb the instance does not know is answered "unknown".
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

class TSingleInstance : public QObject {
    Q_OBJECT
public:
    explicit TSingleInstance(const QString& HomeFolder, QObject* Parent = nullptr);
    ~TSingleInstance() override;

    // The socket's full paths, most preferred first, in the folders that
    // pass the check above; named after a digest of the home's canonical
    // path, so that any spelling of the same folder meets the same socket.
    static QStringList ServerNames(const QString& HomeFolder);
    // The first of them.
    static QString ServerName(const QString& HomeFolder);
    // The lock file inside the home.
    static QString LockFileName(const QString& HomeFolder);

    // Tries to become the home's running instance. True: this process holds
    // the home and answers hand-overs where it could listen; false: another
    // process of this user does.
    bool Claim();

    // Asks the running instance to show its window. True when it confirmed
    // within TimeoutMs. Blocks the calling thread meanwhile (a second start
    // has nothing else to do).
    bool HandOver(int TimeoutMs = 5000) const;
    // Sends "<verb> <argument>" to the running instance and returns its
    // answer line ("ok", "ok <text>", "error <text>", "unknown"); nullopt
    // when no instance of this user answered within TimeoutMs.
    std::optional<QString> Ask(const QByteArray& Verb, const QString& Argument, int TimeoutMs = 5000) const;

    // Answers the verbs other than "show" in the running instance: given
    // the verb and its argument, returns the answer line (without its line
    // end). Without one, those verbs are answered "unknown".
    std::function<QString(const QByteArray& verb, const QString& argument)> RequestHandler;

    // After Claim: the socket this instance listens on (empty without one)
    // and, when a second start cannot reach it, why not.
    QString ListeningName() const;
    QString ChannelProblem() const { return FChannelProblem; }

    // The user whose processes are trusted at the other end: this one's,
    // unless a test plays another user.
    void SetTrustedUser(unsigned Uid) { FTrustedUser = Uid; }

signals:
    // A second start asked for the window.
    void showRequested();

private:
    void Listen();
    void Answer();
    QByteArray Respond(const QByteArray& request);
    // Connects to `name` and checks who listens there; nullptr when nobody
    // or a stranger does.
    std::unique_ptr<QLocalSocket> ConnectTrusted(const QString& name, int timeoutMs) const;
    bool TrustedServerAnswers() const;

    QString FHome;
    std::unique_ptr<QLockFile> FLock;
    QLocalServer* FServer = nullptr;
    QString FChannelProblem;
    unsigned FTrustedUser;
    mutable std::atomic<bool> FStrangerSeen{false};  // told once on stderr
};

// One running Quillet per home folder. Two copies over the same config.xml
// and feeds/ would overwrite each other's changes, so a second start asks
// the running one to show its window and leaves.
//
// The first process takes a lock file in the home (QLockFile notices a lock
// left by a process that no longer runs) and listens on a local socket named
// after the home; a second one fails to take the lock, connects, sends
// "show" and waits for "ok". A socket left by a crashed run is removed
// before listening.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;

class TSingleInstance : public QObject {
    Q_OBJECT
public:
    explicit TSingleInstance(const QString& HomeFolder, QObject* Parent = nullptr);
    ~TSingleInstance() override;

    // The socket's full path: in $XDG_RUNTIME_DIR (the temporary folder
    // without one), named after a digest of the home's canonical path, so
    // that any spelling of the same folder meets the same socket.
    static QString ServerName(const QString& HomeFolder);
    // The lock file inside the home.
    static QString LockFileName(const QString& HomeFolder);

    // Tries to become the home's running instance. True: this process holds
    // the home and now answers hand-overs; false: another process does.
    bool Claim();

    // Asks the running instance to show its window. True when it confirmed
    // within TimeoutMs. Blocks the calling thread meanwhile (a second start
    // has nothing else to do).
    bool HandOver(int TimeoutMs = 5000) const;

signals:
    // A second start asked for the window.
    void showRequested();

private:
    void Listen();
    void Answer();

    QString FHome;
    QString FServerName;
    std::unique_ptr<QLockFile> FLock;
    QLocalServer* FServer = nullptr;
};

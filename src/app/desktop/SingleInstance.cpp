#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

#include <cstdio>

namespace {

const QByteArray kShowRequest = "show\n";
const QByteArray kShowAnswer = "ok\n";
constexpr int kAnswerWaitMs = 2000;

QString RuntimeFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) return runtime;
    return QDir::tempPath();
}

// Whether something answers on the socket: a live instance, as opposed to a
// socket file left behind by one that crashed.
bool ServerAnswers(const QString& name) {
    QLocalSocket socket;
    socket.connectToServer(name);
    return socket.waitForConnected(500);
}

}  // namespace

TSingleInstance::TSingleInstance(const QString& HomeFolder, QObject* Parent)
    : QObject(Parent), FHome(HomeFolder), FServerName(ServerName(HomeFolder)) {}

TSingleInstance::~TSingleInstance() {
    if (FServer) FServer->close();  // removes the socket file
    if (FLock) FLock->unlock();
}

QString TSingleInstance::ServerName(const QString& HomeFolder) {
    QString canonical = QFileInfo(HomeFolder).canonicalFilePath();
    if (canonical.isEmpty()) canonical = QDir::cleanPath(QFileInfo(HomeFolder).absoluteFilePath());
    const QByteArray digest = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return RuntimeFolder() + QStringLiteral("/quillet-") + QString::fromLatin1(digest) + QStringLiteral(".sock");
}

QString TSingleInstance::LockFileName(const QString& HomeFolder) {
    return QDir(HomeFolder).filePath(QStringLiteral(".quillet.lock"));
}

bool TSingleInstance::Claim() {
    FLock = std::make_unique<QLockFile>(LockFileName(FHome));
    // Held as long as the program runs; only a dead holder makes it stale.
    FLock->setStaleLockTime(0);
    if (!FLock->tryLock(0)) {
        if (FLock->error() == QLockFile::LockFailedError) {
            FLock.reset();
            return false;
        }
        // The home cannot take a lock file (a read-only portable folder):
        // a running instance is then recognised by its answering socket.
        FLock.reset();
        if (ServerAnswers(FServerName)) return false;
    }
    Listen();
    return true;
}

void TSingleInstance::Listen() {
    // Holding the lock, any socket by this name is a crashed run's.
    QLocalServer::removeServer(FServerName);
    FServer = new QLocalServer(this);
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(FServer, &QLocalServer::newConnection, this, &TSingleInstance::Answer);
    if (!FServer->listen(FServerName)) {
        // Without the socket a second start cannot reach us; this run goes
        // on regardless.
        std::fprintf(stderr, "quillet: cannot listen on %s: %s\n", qPrintable(FServerName),
                     qPrintable(FServer->errorString()));
    }
}

void TSingleInstance::Answer() {
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                // A line longer than any request is not one of ours.
                if (socket->bytesAvailable() > 64) socket->abort();
                return;
            }
            const QByteArray request = socket->readLine();
            if (request == kShowRequest) {
                emit showRequested();
                socket->write(kShowAnswer);
                socket->flush();
            }
            socket->disconnectFromServer();
        });
    }
}

bool TSingleInstance::HandOver(int TimeoutMs) const {
    // The running instance may have taken the lock a moment ago and not be
    // listening yet: keep trying until the deadline.
    const QDeadlineTimer deadline(TimeoutMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(FServerName);
        if (socket.waitForConnected(int(std::min<qint64>(deadline.remainingTime(), 500)))) {
            socket.write(kShowRequest);
            socket.waitForBytesWritten(kAnswerWaitMs);
            QByteArray answer;
            while (!answer.endsWith('\n') && socket.waitForReadyRead(kAnswerWaitMs)) answer += socket.readAll();
            return answer == kShowAnswer;
        }
        QThread::msleep(100);
    }
    return false;
}

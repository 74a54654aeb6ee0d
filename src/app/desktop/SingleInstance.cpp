#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <string>

#include "UserAccess.h"

namespace {

const QByteArray kShowVerb = "show";
const QByteArray kOkAnswer = "ok\n";
const QByteArray kUnknownAnswer = "unknown\n";
// Room for a verb and an address; a longer line is not one of ours.
constexpr qint64 kMaxRequestBytes = 8192;
constexpr int kAnswerWaitMs = 2000;
// The private folder in the home when no runtime folder can be trusted.
const QString kHomeSocketFolder = QStringLiteral(".quillet-run");

bool PrivateToUser(const QString& folder) {
    return !folder.isEmpty() && plat::CheckFolder(QFile::encodeName(folder).toStdString(), plat::CurrentUserId(),
                                                  plat::kAnyAccessByOthers) == plat::TFolderTrust::Trusted;
}

QString HomeSocketFolder(const QString& home) { return QDir(home).filePath(kHomeSocketFolder); }

// Where the socket may live, most preferred first. For listening, the
// folder in the home is offered even before it exists, to be made private
// when it is reached; `problems` collects why a folder was not taken.
QStringList SocketFolders(const QString& home, bool forListening, QStringList* problems) {
    QStringList folders;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (PrivateToUser(runtime))
        folders << runtime;
    else if (problems && !runtime.isEmpty())
        *problems << QStringLiteral("XDG_RUNTIME_DIR %1 is not private to this user").arg(runtime);
    // Qt's own choice makes a folder of the user's in the temporary folder
    // when the session did not set one; checked as any other.
    const QString qtRuntime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!folders.contains(qtRuntime) && PrivateToUser(qtRuntime)) folders << qtRuntime;
    if (forListening || PrivateToUser(HomeSocketFolder(home))) folders << HomeSocketFolder(home);
    return folders;
}

QString SocketFileName(const QString& home) {
    QString canonical = QFileInfo(home).canonicalFilePath();
    if (canonical.isEmpty()) canonical = QDir::cleanPath(QFileInfo(home).absoluteFilePath());
    const QByteArray digest = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return QStringLiteral("quillet-") + QString::fromLatin1(digest) + QStringLiteral(".sock");
}

bool PeerIs(QLocalSocket& socket, unsigned uid) {
    const auto peer = plat::PeerUserId(static_cast<int>(socket.socketDescriptor()));
    return peer && *peer == uid;
}

}  // namespace

TSingleInstance::TSingleInstance(const QString& HomeFolder, QObject* Parent)
    : QObject(Parent), FHome(HomeFolder), FTrustedUser(plat::CurrentUserId()) {}

TSingleInstance::~TSingleInstance() {
    if (FServer) FServer->close();  // removes the socket file
    if (FLock) FLock->unlock();
}

QStringList TSingleInstance::ServerNames(const QString& HomeFolder) {
    QStringList names;
    const QString file = SocketFileName(HomeFolder);
    for (const QString& folder : SocketFolders(HomeFolder, false, nullptr)) names << QDir(folder).filePath(file);
    return names;
}

QString TSingleInstance::ServerName(const QString& HomeFolder) {
    const QStringList names = ServerNames(HomeFolder);
    return names.isEmpty() ? QString() : names.first();
}

QString TSingleInstance::LockFileName(const QString& HomeFolder) {
    return QDir(HomeFolder).filePath(QStringLiteral(".quillet.lock"));
}

QString TSingleInstance::ListeningName() const {
    return FServer && FServer->isListening() ? FServer->fullServerName() : QString();
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
        std::fprintf(stderr, "quillet: cannot make the lock file %s; a running instance is found by its socket\n",
                     qPrintable(LockFileName(FHome)));
        FLock.reset();
        if (TrustedServerAnswers()) return false;
    }
    Listen();
    return true;
}

void TSingleInstance::Listen() {
    QStringList problems;
    const QString file = SocketFileName(FHome);
    FServer = new QLocalServer(this);
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(FServer, &QLocalServer::newConnection, this, &TSingleInstance::Answer);
    for (const QString& folder : SocketFolders(FHome, true, &problems)) {
        std::string problem;
        if (folder == HomeSocketFolder(FHome) &&
            !plat::MakePrivateFolder(QFile::encodeName(folder).toStdString(), plat::CurrentUserId(), problem)) {
            problems << QString::fromStdString(problem);
            continue;
        }
        const QString name = QDir(folder).filePath(file);
        // Holding the home (or, without a lock, finding no answer), any
        // socket by this name in our private folder is a crashed run's.
        QLocalServer::removeServer(name);
        if (FServer->listen(name)) return;
        // A path too long for a socket, say: the next folder may do.
        problems << QStringLiteral("cannot listen on %1: %2").arg(name, FServer->errorString());
    }
    // Without the socket a second start cannot reach us; this run goes on
    // regardless, and the window says so.
    FChannelProblem = problems.isEmpty() ? QStringLiteral("no private folder for the socket") : problems.join("; ");
    std::fprintf(stderr, "quillet: %s\n", qPrintable(FChannelProblem));
}

void TSingleInstance::Answer() {
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!PeerIs(*socket, FTrustedUser)) {
            socket->abort();
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxRequestBytes) socket->abort();
                return;
            }
            socket->write(Respond(socket->readLine(kMaxRequestBytes + 1)));
            socket->flush();
            socket->disconnectFromServer();
        });
    }
}

QByteArray TSingleInstance::Respond(const QByteArray& request) {
    const QByteArray line = request.endsWith('\n') ? request.chopped(1) : request;
    const qsizetype space = line.indexOf(' ');
    const QByteArray verb = space < 0 ? line : line.left(space);
    if (verb == kShowVerb && space < 0) {
        emit showRequested();
        return kOkAnswer;
    }
    if (RequestHandler && verb != kShowVerb) {
        const QString argument = space < 0 ? QString() : QString::fromUtf8(line.mid(space + 1));
        // One line, whatever the handler says.
        QByteArray answer = RequestHandler(verb, argument).toUtf8().left(kMaxRequestBytes);
        answer.replace('\n', ' ');
        return answer + '\n';
    }
    return kUnknownAnswer;
}

std::unique_ptr<QLocalSocket> TSingleInstance::ConnectTrusted(const QString& name, int timeoutMs) const {
    auto socket = std::make_unique<QLocalSocket>();
    socket->connectToServer(name);
    if (!socket->waitForConnected(timeoutMs)) return nullptr;
    if (!PeerIs(*socket, FTrustedUser)) {
        if (!FStrangerSeen.exchange(true))
            std::fprintf(stderr, "quillet: %s is held by another user's process; it is not asked\n", qPrintable(name));
        socket->abort();
        return nullptr;
    }
    return socket;
}

bool TSingleInstance::TrustedServerAnswers() const {
    for (const QString& name : ServerNames(FHome)) {
        if (ConnectTrusted(name, 500)) return true;
    }
    return false;
}

bool TSingleInstance::HandOver(int TimeoutMs) const {
    return Ask(kShowVerb, QString(), TimeoutMs) == QStringLiteral("ok");
}

std::optional<QString> TSingleInstance::Ask(const QByteArray& Verb, const QString& Argument, int TimeoutMs) const {
    QByteArray request = Verb;
    if (!Argument.isEmpty()) request += ' ' + Argument.toUtf8();
    request.replace('\n', ' ');
    // The running instance may have taken the lock a moment ago and not be
    // listening yet: keep trying until the deadline.
    const QDeadlineTimer deadline(TimeoutMs);
    while (!deadline.hasExpired()) {
        for (const QString& name : ServerNames(FHome)) {
            auto socket = ConnectTrusted(name, int(std::min<qint64>(deadline.remainingTime(), 500)));
            if (!socket) continue;
            socket->write(request + '\n');
            socket->waitForBytesWritten(kAnswerWaitMs);
            QByteArray answer;
            while (!answer.endsWith('\n') && answer.size() <= kMaxRequestBytes &&
                   socket->waitForReadyRead(kAnswerWaitMs))
                answer += socket->readAll();
            if (!answer.endsWith('\n')) return std::nullopt;
            return QString::fromUtf8(answer.chopped(1));
        }
        QThread::msleep(100);
    }
    return std::nullopt;
}

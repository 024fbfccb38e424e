#include "app/SingleInstance.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

#include <unistd.h>

namespace tessoral {

namespace {
constexpr quint32 kMagic = 0x54535331;  // "TSS1"
constexpr qint64 kMaxMessage = 16 * 1024 * 1024;
const QByteArray kAck = QByteArrayLiteral("ok\n");
}  // namespace

SingleInstance::SingleInstance(QString socketPath, QObject* parent) : QObject(parent), path_(std::move(socketPath)) {}

SingleInstance::~SingleInstance() {
    if (server_) server_->close();
}

QString SingleInstance::defaultSocketPath() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(QString::fromLocal8Bit(runtime)))
        return QDir(QString::fromLocal8Bit(runtime)).filePath(QStringLiteral("tessoral.socket"));
    return QDir(QDir::tempPath()).filePath(QStringLiteral("tessoral-%1.socket").arg(getuid()));
}

bool SingleInstance::send(const QString& socketPath, const QStringList& files, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(timeoutMs)) return false;
    QByteArray payload;
    {
        QDataStream out(&payload, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        out << kMagic << files;
    }
    QByteArray message;
    {
        QDataStream out(&message, QIODevice::WriteOnly);
        out << quint32(payload.size());
    }
    message += payload;
    socket.write(message);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    QByteArray reply;
    while (reply.size() < kAck.size()) {
        if (!socket.waitForReadyRead(timeoutMs)) return false;
        reply += socket.readAll();
    }
    return reply.startsWith(kAck);
}

SingleInstance::Role SingleInstance::start(const QStringList& files, int timeoutMs) {
    QDir().mkpath(QFileInfo(path_).absolutePath());
    // Two starts at the same moment: the lock makes one of them the primary.
    QLockFile lock(path_ + QStringLiteral(".lock"));
    lock.setStaleLockTime(timeoutMs * 2);
    if (!lock.tryLock(timeoutMs * 2)) {
        error_ = QStringLiteral("cannot lock %1").arg(lock.fileName());
        return Role::failed;
    }
    {
        QLocalSocket probe;
        probe.connectToServer(path_);
        if (probe.waitForConnected(std::min(timeoutMs, 1000))) {
            probe.abort();
            if (send(path_, files, timeoutMs)) return Role::handedOver;
            error_ = QStringLiteral("the running Tessoral does not answer on %1").arg(path_);
            return Role::failed;
        }
    }
    // Nobody listens: whatever is left at the path is a stale socket.
    QLocalServer::removeServer(path_);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path_)) {
        error_ = server_->errorString();
        server_.reset();
        return Role::failed;
    }
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::accept);
    return Role::primary;
}

void SingleInstance::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        socket->setParent(this);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            *buffer += socket->readAll();
            if (buffer->size() < 4) return;
            quint32 length = 0;
            {
                QDataStream in(*buffer);
                in >> length;
            }
            if (length > kMaxMessage) {
                socket->abort();
                return;
            }
            if (buffer->size() < qint64(4 + length)) return;
            QDataStream in(buffer->mid(4, length));
            in.setVersion(QDataStream::Qt_6_0);
            quint32 magic = 0;
            QStringList files;
            in >> magic >> files;
            buffer->clear();
            if (magic != kMagic || in.status() != QDataStream::Ok) {
                socket->abort();
                return;
            }
            socket->write(kAck);
            socket->flush();
            Q_EMIT filesReceived(files);
        });
    }
}

}  // namespace tessoral

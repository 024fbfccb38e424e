#include "app/shell/SingleInstance.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

#include <QDeadlineTimer>
#include <QFile>
#include <QScopeGuard>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tessoral {

namespace {
constexpr quint32 kMagic = 0x54535332;        // "TSS2": the paths as bytes
constexpr quint32 kMagicStrings = 0x54535331;  // "TSS1": an earlier version's, the paths as text
constexpr quint32 kTokenTag = 0x544F4B31;      // "TOK1": after the paths, the activation token
constexpr int kMaxToken = 4096;
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

namespace {

// Waits until `fd` is ready for `events` or the deadline passes.
bool waitFor(int fd, short events, const QDeadlineTimer& deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int left = static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 0, 60000));
        const int r = ::poll(&p, 1, left);
        if (r > 0) return (p.revents & (events | POLLHUP | POLLERR)) != 0;
        if (r == 0) return false;
        if (errno != EINTR) return false;
    }
}

}  // namespace

bool SingleInstance::send(const QString& socketPath, const QByteArrayList& files, int timeoutMs,
                          const QByteArray& activationToken) {
    // Plain POSIX, so a later start can hand its files over before (and without) opening a display.
    const QByteArray native = QFile::encodeName(socketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (native.isEmpty() || size_t(native.size()) >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, native.constData(), size_t(native.size()));

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    const auto closeSocket = qScopeGuard([fd] { ::close(fd); });
    const QDeadlineTimer deadline(timeoutMs);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        if (errno != EINPROGRESS && errno != EAGAIN) return false;
        if (!waitFor(fd, POLLOUT, deadline)) return false;
        int error = 0;
        socklen_t length = sizeof(error);
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return false;
    }

    QByteArray payload;
    {
        QDataStream out(&payload, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        out << kMagic << quint32(files.size());
        for (const QByteArray& file : files) out << file;
        if (!activationToken.isEmpty()) out << kTokenTag << activationToken;
    }
    QByteArray message;
    {
        QDataStream out(&message, QIODevice::WriteOnly);
        out << quint32(payload.size());
    }
    message += payload;
    qsizetype sent = 0;
    while (sent < message.size()) {
        const ssize_t n = ::send(fd, message.constData() + sent, size_t(message.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitFor(fd, POLLOUT, deadline)) return false;
        } else {
            return false;
        }
    }
    QByteArray reply;
    while (reply.size() < kAck.size()) {
        char buffer[16];
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n > 0) {
            reply.append(buffer, n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitFor(fd, POLLIN, deadline)) return false;
        } else {
            return false;
        }
    }
    return reply.startsWith(kAck);
}

void SingleInstance::adoptActivationToken(const QByteArray& token, const QString& platform) {
    if (!token.isEmpty() && platform.startsWith(QStringLiteral("wayland"))) qputenv("XDG_ACTIVATION_TOKEN", token);
}

SingleInstance::Role SingleInstance::start(const QByteArrayList& files, int timeoutMs) {
    QDir().mkpath(QFileInfo(path_).absolutePath());
    // Two starts at the same moment: the lock makes one of them the primary.
    QLockFile lock(path_ + QStringLiteral(".lock"));
    lock.setStaleLockTime(timeoutMs * 2);
    if (!lock.tryLock(timeoutMs * 2)) {
        error_ = QStringLiteral("cannot lock %1").arg(lock.fileName());
        return Role::failed;
    }
    if (send(path_, files, timeoutMs, qgetenv("XDG_ACTIVATION_TOKEN"))) return Role::handedOver;
    {
        // Something accepts connections there but does not answer as Tessoral: leave it alone.
        QLocalSocket probe;
        probe.connectToServer(path_);
        if (probe.waitForConnected(std::min(timeoutMs, 1000))) {
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
            // Read the list by hand: QDataStream reserves a list's stated count before reading it,
            // so a stray client could make us allocate gigabytes.
            quint32 magic = 0;
            quint32 count = 0;
            in >> magic >> count;
            QByteArrayList files;
            const bool plausible =
                (magic == kMagic || magic == kMagicStrings) && in.status() == QDataStream::Ok && count <= length / 4;
            for (quint32 i = 0; plausible && i < count && in.status() == QDataStream::Ok; ++i) {
                if (magic == kMagic) {
                    QByteArray file;
                    in >> file;
                    files.push_back(file);
                } else {
                    QString file;
                    in >> file;
                    files.push_back(file.toUtf8());
                }
            }
            buffer->clear();
            if (!plausible || in.status() != QDataStream::Ok) {
                socket->abort();
                return;
            }
            // The token, when the sender was given one (an earlier version's message ends with the
            // files); an unreadable one is left out.
            QByteArray token;
            quint32 tag = 0;
            in >> tag;
            if (tag == kTokenTag) in >> token;
            if (in.status() != QDataStream::Ok || token.size() > kMaxToken) token.clear();
            socket->write(kAck);
            socket->flush();
            Q_EMIT filesReceived(files, token);
        });
    }
}

}  // namespace tessoral

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
#include <optional>

#include "model/Localization.h"

namespace tessoral {

namespace {
constexpr quint32 kMagic = 0x54535332;        // "TSS2": the paths as bytes
constexpr quint32 kMagicStrings = 0x54535331;  // "TSS1": an earlier version's, the paths as text
constexpr quint32 kTokenTag = 0x544F4B31;      // "TOK1": after the paths, the activation token
constexpr quint32 kDecisionTag = 0x44454331;   // "DEC1": the sender waits for the decision
constexpr int kMaxToken = 4096;
constexpr qint64 kMaxMessage = 16 * 1024 * 1024;
// The program's answers, one line each: an earlier version's acknowledgement (it opens at once),
// still holding the files, about to open them, not opening them; and the sender's last word.
const QByteArray kOk = QByteArrayLiteral("ok\n");
const QByteArray kWait = QByteArrayLiteral("wait\n");
const QByteArray kReady = QByteArrayLiteral("ready\n");
const QByteArray kNo = QByteArrayLiteral("no\n");
const QByteArray kGo = QByteArrayLiteral("go\n");
}  // namespace

SingleInstance::SingleInstance(QString socketPath, QObject* parent) : QObject(parent), path_(std::move(socketPath)) {
    alive_.setInterval(kAliveMs);
    connect(&alive_, &QTimer::timeout, this, &SingleInstance::keepAlive);
}

SingleInstance::~SingleInstance() {
    // A later start still waiting learns that its files are not opened.
    while (!waiting_.empty()) refuse(waiting_.begin()->first);
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

namespace {

bool sendAll(int fd, const QByteArray& bytes, const QDeadlineTimer& deadline) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitFor(fd, POLLOUT, deadline)) return false;
        } else {
            return false;
        }
    }
    return true;
}

// Takes the next whole line out of `buffer`, or nothing yet.
std::optional<QByteArray> takeLine(QByteArray& buffer) {
    const qsizetype end = buffer.indexOf('\n');
    if (end < 0) return std::nullopt;
    QByteArray line = buffer.left(end + 1);
    buffer.remove(0, end + 1);
    return line;
}

}  // namespace

SingleInstance::Delivery SingleInstance::send(const QString& socketPath, const QByteArrayList& files, int timeoutMs,
                                              const QByteArray& activationToken) {
    // Plain POSIX, so a later start can hand its files over before (and without) opening a display.
    const QByteArray native = QFile::encodeName(socketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (native.isEmpty() || size_t(native.size()) >= sizeof(address.sun_path)) return Delivery::nobody;
    std::memcpy(address.sun_path, native.constData(), size_t(native.size()));

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return Delivery::nobody;
    const auto closeSocket = qScopeGuard([fd] { ::close(fd); });
    QDeadlineTimer deadline(timeoutMs);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        if (errno != EINPROGRESS && errno != EAGAIN) return Delivery::nobody;
        // A listener whose queue is full: it is there but does not take connections.
        if (!waitFor(fd, POLLOUT, deadline)) return Delivery::noAnswer;
        int error = 0;
        socklen_t length = sizeof(error);
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return Delivery::nobody;
    }

    QByteArray payload;
    {
        QDataStream out(&payload, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        out << kMagic << quint32(files.size());
        for (const QByteArray& file : files) out << file;
        if (!activationToken.isEmpty()) out << kTokenTag << activationToken;
        // This start waits for the program's decision (an earlier version answers at once).
        out << kDecisionTag;
    }
    QByteArray message;
    {
        QDataStream out(&message, QIODevice::WriteOnly);
        out << quint32(payload.size());
    }
    message += payload;
    if (!sendAll(fd, message, deadline)) return Delivery::noAnswer;
    QByteArray reply;
    for (;;) {
        while (const auto line = takeLine(reply)) {
            if (*line == kWait) {
                deadline.setRemainingTime(timeoutMs);  // alive, holding the files for now
            } else if (*line == kReady) {
                // The last word: once it is in the program's queue the files are opened; a program
                // that gave up meanwhile has shut its side, and the word does not go through.
                return sendAll(fd, kGo, deadline) ? Delivery::opened : Delivery::refused;
            } else if (*line == kOk) {
                return Delivery::opened;  // an earlier version, which opens what it acknowledges
            } else {
                return Delivery::refused;
            }
        }
        if (reply.size() > 64) return Delivery::refused;
        char buffer[64];
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n > 0) {
            reply.append(buffer, n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            // Closing the socket on the way out tells a program that answers later not to open them.
            if (!waitFor(fd, POLLIN, deadline)) return Delivery::noAnswer;
        } else {
            return Delivery::refused;  // it went away (quit) without opening them
        }
    }
}

QString SingleInstance::notOpenedText(Delivery delivery, qsizetype files) {
    const bool quitting = delivery == Delivery::refused;
    if (files == 0)
        return QString::fromStdString(quitting ? L("Запущенный Tessoral завершает работу") : L("Запущенный Tessoral не отвечает"));
    const std::string notOpened =
        LP(static_cast<long long>(files), "{0} файл не открыт|{0} файла не открыты|{0} файлов не открыто");
    return QString::fromStdString(quitting ? L("Запущенный Tessoral завершает работу: {0}", notOpened)
                                           : L("Запущенный Tessoral не отвечает: {0}", notOpened));
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
    const Delivery delivery = send(path_, files, timeoutMs, qgetenv("XDG_ACTIVATION_TOKEN"));
    if (delivery == Delivery::opened) return Role::handedOver;
    if (delivery != Delivery::nobody) {
        // Something listens there: the files were offered to it and are its to decide on, never
        // to be opened here too.
        error_ = notOpenedText(delivery, files.size());
        return Role::failed;
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
            // files), and whether the sender waits for the decision; an unreadable token is left out.
            QByteArray token;
            bool decides = false;
            for (int i = 0; i < 2 && !in.atEnd() && in.status() == QDataStream::Ok; ++i) {
                quint32 tag = 0;
                in >> tag;
                if (tag == kTokenTag) in >> token;
                else if (tag == kDecisionTag) decides = true;
                else break;
            }
            if (in.status() != QDataStream::Ok || token.size() > kMaxToken) token.clear();
            if (!decides) {
                socket->write(kOk);
                socket->flush();
                Q_EMIT filesReceived(files, token, 0);
                return;
            }
            // The rest of the exchange goes by hand (confirm); Qt only tells when the sender gives up.
            disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
            const quint64 request = next_++;
            waiting_[request] = socket;
            connect(socket, &QLocalSocket::disconnected, this, [this, request] { waiting_.erase(request); });
            keepAlive();
            Q_EMIT filesReceived(files, token, request);
        });
    }
}

void SingleInstance::keepAlive() {
    for (const auto& [request, socket] : waiting_) {
        const int fd = int(socket->socketDescriptor());
        // A full queue (a sender that does not read) only loses signs of life.
        if (fd >= 0) (void)::send(fd, kWait.constData(), size_t(kWait.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    if (waiting_.empty()) alive_.stop();
    else if (!alive_.isActive()) alive_.start();
}

bool SingleInstance::confirm(quint64 request) {
    if (request == 0) return true;  // answered on arrival
    const auto it = waiting_.find(request);
    if (it == waiting_.end()) return false;
    QLocalSocket* socket = it->second;
    waiting_.erase(it);
    const auto close = qScopeGuard([socket] {
        socket->abort();
        socket->deleteLater();
    });
    const int fd = int(socket->socketDescriptor());
    if (fd < 0) return false;
    const QDeadlineTimer deadline(kLastWordMs);
    if (!sendAll(fd, kReady, deadline)) return false;
    QByteArray reply = socket->readAll();
    const auto read = [&](int flags) {
        char buffer[16];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof(buffer), flags | MSG_DONTWAIT);
            if (n > 0) reply.append(buffer, n);
            if (n <= 0 || reply.contains(kGo)) return n;
        }
    };
    while (!reply.contains(kGo)) {
        const ssize_t n = read(0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;  // it gave up
        if (reply.contains(kGo) || waitFor(fd, POLLIN, deadline)) continue;
        // No last word in time: shut this side first, so that a word sent from now on fails at the
        // sender, and then take one that came before.
        ::shutdown(fd, SHUT_RD);
        read(0);
        break;
    }
    return reply.contains(kGo);
}

void SingleInstance::refuse(quint64 request) {
    const auto it = waiting_.find(request);
    if (it == waiting_.end()) return;
    QLocalSocket* socket = it->second;
    waiting_.erase(it);
    const int fd = int(socket->socketDescriptor());
    if (fd >= 0) (void)::send(fd, kNo.constData(), size_t(kNo.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    socket->abort();
    socket->deleteLater();
}

}  // namespace tessoral

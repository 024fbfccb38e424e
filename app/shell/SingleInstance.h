#pragma once

#include <QObject>
#include <QString>
#include <QByteArrayList>
#include <QStringList>

#include <memory>

class QLocalServer;
class QLockFile;

namespace tessoral {

// One program per user: the first start listens on a local socket in XDG_RUNTIME_DIR; a later start
// hands its files to it and exits, because two programs would share and delete each other's
// recovery copy. A socket left behind by a killed program is taken over.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role { primary, handedOver, failed };

    explicit SingleInstance(QString socketPath = defaultSocketPath(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // $XDG_RUNTIME_DIR/tessoral.socket; without XDG_RUNTIME_DIR a per-user name in the temporary folder.
    static QString defaultSocketPath();

    // Hands `files` (paths as bytes, which need not be UTF-8) to a running program (true when it
    // confirmed), or becomes the primary and listens. `failed`: neither worked (`errorText` says why).
    // This start's XDG_ACTIVATION_TOKEN goes with the files.
    Role start(const QByteArrayList& files, int timeoutMs = 5000);
    QString errorText() const { return error_; }
    QString socketPath() const { return path_; }

    // Sends `files` to the socket, true on confirmation. A non-empty `activationToken` (the
    // desktop's permission to bring a window forward, given to the sending start) follows the
    // files, where a program that does not know it ignores it.
    static bool send(const QString& socketPath, const QByteArrayList& files, int timeoutMs,
                     const QByteArray& activationToken = {});

    // On Wayland (`platform`) a window comes forward only with the desktop's permission: a token
    // handed over is put where Qt's Wayland plugin takes it (and clears it) at the next activation.
    // Elsewhere it is not kept, so that no program started later inherits it.
    static void adoptActivationToken(const QByteArray& token, const QString& platform);

Q_SIGNALS:
    // Files a later start handed over (possibly none: it only asks to raise the window), with the
    // activation token it was given (empty when none, or from an earlier version).
    void filesReceived(const QByteArrayList& files, const QByteArray& activationToken);

private:
    void accept();

    QString path_;
    QString error_;
    std::unique_ptr<QLocalServer> server_;
};

}  // namespace tessoral

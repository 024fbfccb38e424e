#pragma once

#include <QObject>
#include <QString>
#include <QByteArrayList>
#include <QStringList>
#include <QTimer>

#include <map>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

namespace tessoral {

// One program per user: the first start listens on a local socket in XDG_RUNTIME_DIR; a later start
// hands its files to it and exits, because two programs would share and delete each other's
// recovery copy. A socket left behind by a killed program is taken over.
//
// A hand-over counts once: the later start waits while the first program holds its files (a
// question waits for its answer, the store is busy), hearing from it every second, until the first
// program is about to open them. Then the two agree in one more exchange, which either side may
// give up, so that the files are opened exactly when the later start reports them opened: a first
// program that stops answering (stopped, swapping) or quits meanwhile never opens them later.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role { primary, handedOver, failed };
    // How a hand-over ended: the files will be opened; the program said it will not open them (it
    // is quitting) or went away; something listens but did not answer in time; nobody listens.
    enum class Delivery { opened, refused, noAnswer, nobody };
    // How long the first program has to answer a later start's message, and then each next
    // sign of life while it holds the files.
    static constexpr int kAnswerMs = 5000;
    static constexpr int kAliveMs = 1000;
    // How long the first program waits for the later start's last word before it gives the files up.
    static constexpr int kLastWordMs = 2000;

    explicit SingleInstance(QString socketPath = defaultSocketPath(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // $XDG_RUNTIME_DIR/tessoral.socket; without XDG_RUNTIME_DIR a per-user name in the temporary folder.
    static QString defaultSocketPath();

    // Hands `files` (paths as bytes, which need not be UTF-8) to a running program (handedOver when
    // it opens them), or becomes the primary and listens. `failed`: neither worked (`errorText`
    // says why, in the interface language). This start's XDG_ACTIVATION_TOKEN goes with the files.
    Role start(const QByteArrayList& files, int timeoutMs = kAnswerMs);
    QString errorText() const { return error_; }
    QString socketPath() const { return path_; }

    // Sends `files` to the socket and waits for the program's decision; `timeoutMs` is how long it
    // may stay silent. A non-empty `activationToken` (the desktop's permission to bring a window
    // forward, given to the sending start) follows the files, where a program that does not know
    // it ignores it.
    static Delivery send(const QString& socketPath, const QByteArrayList& files, int timeoutMs = kAnswerMs,
                         const QByteArray& activationToken = {});
    // What a later start says when its files were not handed over (refused or noAnswer).
    static QString notOpenedText(Delivery delivery, qsizetype files);

    // On Wayland (`platform`) a window comes forward only with the desktop's permission: a token
    // handed over is put where Qt's Wayland plugin takes it (and clears it) at the next activation.
    // Elsewhere it is not kept, so that no program started later inherits it.
    static void adoptActivationToken(const QByteArray& token, const QString& platform);

    // The receiving side of one hand-over (`request` from filesReceived). `confirm`: the program
    // is about to open the files; true when the later start still wants them (open them now),
    // false when it gave up (they are not to be opened). `refuse`: they will not be opened. Either
    // ends the request; an unknown or ended one confirms false.
    bool confirm(quint64 request);
    void refuse(quint64 request);
    // Hand-overs whose later start still waits for the decision.
    std::size_t waiting() const { return waiting_.size(); }

Q_SIGNALS:
    // Files a later start handed over (possibly none: it only asks to raise the window), with the
    // activation token it was given (empty when none, or from an earlier version), and the request
    // to confirm or refuse. An earlier version's start has been answered already: its request
    // confirms true at once.
    void filesReceived(const QByteArrayList& files, const QByteArray& activationToken, quint64 request);

private:
    void accept();
    void keepAlive();

    QString path_;
    QString error_;
    std::unique_ptr<QLocalServer> server_;
    std::map<quint64, QLocalSocket*> waiting_;
    quint64 next_ = 1;
    QTimer alive_;
};

}  // namespace tessoral

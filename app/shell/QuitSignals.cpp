#include "app/shell/QuitSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>

#include "model/AtomicFile.h"

namespace tessoral {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

std::atomic<int> writeEnd{-1};
std::atomic<int> signalsSeen{0};

void onSignal(int signal) {
    const int saved = errno;
    const int fd = writeEnd.load();
    if (signalsSeen.fetch_add(1) == 0 && fd >= 0) {
        const auto byte = static_cast<unsigned char>(signal);
        (void)!::write(fd, &byte, 1);
        errno = saved;
        return;
    }
    // Asked again (or too early): nothing half-written stays behind, and the program ends now.
    AtomicFile::removeLiveTemporariesNow();
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    ::sigemptyset(&plain.sa_mask);
    ::sigaction(signal, &plain, nullptr);
    ::raise(signal);
    errno = saved;
}

}  // namespace

QuitSignals::QuitSignals(QObject* parent) : QObject(parent) {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) == 0) {
        notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, &QuitSignals::drain);
        writeEnd.store(pipe_[1]);
    }
    signalsSeen.store(0);
    struct sigaction action {};
    action.sa_handler = onSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : kSignals) ::sigaction(s, &action, nullptr);
}

QuitSignals::~QuitSignals() {
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    ::sigemptyset(&plain.sa_mask);
    for (const int s : kSignals) ::sigaction(s, &plain, nullptr);
    writeEnd.store(-1);
    notifier_.reset();
    for (const int fd : pipe_)
        if (fd >= 0) ::close(fd);
}

void QuitSignals::drain() {
    unsigned char byte = 0;
    int last = 0;
    while (::read(pipe_[0], &byte, 1) == 1) last = byte;
    if (last != 0) Q_EMIT received(last);
}

}  // namespace tessoral

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
// Set once the person's unsaved work is on disk or given up; until then a later signal waits.
std::atomic<bool> workKept{false};
// A later signal that came before that, for the main thread to end the program by.
std::atomic<int> laterSignal{0};

// Ends the program by `signal` with nothing half-written left behind: the temporaries being
// written (an export's) are removed. Only async-signal-safe calls.
void endBy(int signal) noexcept {
    AtomicFile::removeLiveTemporariesNow();
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    ::sigemptyset(&plain.sa_mask);
    ::sigaction(signal, &plain, nullptr);
    ::raise(signal);
}

void onSignal(int signal) {
    const int saved = errno;
    const int fd = writeEnd.load();
    if (fd >= 0 && signalsSeen.fetch_add(1) == 0) {
        const auto byte = static_cast<unsigned char>(signal);
        (void)!::write(fd, &byte, 1);
        errno = saved;
        return;
    }
    if (fd >= 0) {
        // Asked again. While the unsaved work is still to be written (the first signal still
        // waits for the event loop, the recovery copy or a save is being written), this signal
        // is left to the main thread, which ends the program by it as soon as the work is kept.
        // Once it is kept (perhaps just now), whoever takes the signal first ends the program.
        int none = 0;
        laterSignal.compare_exchange_strong(none, signal);
        if (!workKept.load() || laterSignal.exchange(0) == 0) {
            errno = saved;
            return;
        }
    }
    // Asked again with the work kept, or too early: the program ends now.
    endBy(signal);
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
    workKept.store(false);
    laterSignal.store(0);
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

void QuitSignals::unsavedWorkKept() {
    workKept.store(true);
    if (const int later = laterSignal.exchange(0)) endBy(later);
}

void QuitSignals::drain() {
    unsigned char byte = 0;
    int last = 0;
    while (::read(pipe_[0], &byte, 1) == 1) last = byte;
    if (last != 0) Q_EMIT received(last);
}

}  // namespace tessoral

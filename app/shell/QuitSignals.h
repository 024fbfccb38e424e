#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace tessoral {

// SIGTERM (logout, shutdown), SIGINT and SIGHUP end the program without losing unsaved work or
// leaving half-written files: the first such signal is handed to the event loop (`received`), which
// writes unsaved changes to the recovery copy, lets the writes under way finish and quits. A logout
// sends SIGHUP right after SIGTERM and people press Ctrl+C twice, so a later signal never cuts a
// write that carries the person's work: until the program says that work is kept
// (`unsavedWorkKept`: a take under way placed and the copy written, or the save under way
// finished), a later signal waits, and the program then ends by it at once. From then on a later signal ends it at once; either way the
// temporaries still being written (an export's) are removed first. One instance per program.
class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

    // The unsaved work is on disk or was given up (called on the main thread as the quit goes on
    // to wait for the rest of the work): a later signal that came meanwhile ends the program now.
    void unsavedWorkKept();

Q_SIGNALS:
    void received(int signal);

private:
    void drain();

    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tessoral

#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace tessoral {

// SIGTERM (logout, shutdown), SIGINT and SIGHUP end the program without leaving half-written files:
// the first such signal is handed to the event loop (`received`), which writes unsaved changes to
// the recovery copy, lets the writes under way finish and quits; a second one, while the first is
// still being handled, removes every temporary file being written and ends the program at once by
// that signal. One instance per program.
class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

Q_SIGNALS:
    void received(int signal);

private:
    void drain();

    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tessoral

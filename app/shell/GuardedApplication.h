#pragma once

#include <QApplication>
#include <QPointer>

#include <string>

namespace tessoral {

class StudioStore;

// The program's application object. An exception that escapes an event handler (a key press, a
// timer, a queued call) stops at the place events are delivered: the event counts as not handled,
// the failure is reported with its text, and the program keeps running. Nothing that an event
// starts can end the program through std::terminate.
class GuardedApplication final : public QApplication {
    Q_OBJECT

public:
    GuardedApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Where failures are reported from now on: the store's message and status line. Without one,
    // on standard error.
    void reportTo(StudioStore* store);

    // The text shown for a failure that escaped an event handler.
    static std::string describe(std::exception_ptr failure);

private:
    void report(std::exception_ptr failure) noexcept;

    QPointer<StudioStore> store_;
};

}  // namespace tessoral

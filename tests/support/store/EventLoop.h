#pragma once

#include <QEventLoop>
#include <QObject>
#include <QTimer>

namespace tessoral::test {

// Runs the event loop until `done` or until `limitMs` passed (a safety net for a failing test);
// no sleeps: the loop waits for the calls.
template <class Done>
void spinUntil(Done done, int limitMs = 10000) {
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(limitMs);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    poll.start(1);
    if (!done()) loop.exec();
}

}  // namespace tessoral::test

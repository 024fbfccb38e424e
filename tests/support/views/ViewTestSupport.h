#pragma once
// What the view tests' fixtures share: a model string as a Qt text, and a few turns of the event
// loop for posted events (deferred deletes, layout, repaints).

#include <QApplication>
#include <QString>

#include <string>

namespace tessoral::test {

inline QString qs(const std::string& s) { return QString::fromStdString(s); }

inline void pump(int rounds = 3) {
    for (int i = 0; i < rounds; ++i) QApplication::processEvents();
}

}  // namespace tessoral::test

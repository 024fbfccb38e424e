#include "app/shell/GuardedApplication.h"

#include <cstdio>
#include <exception>

#include "model/Localization.h"
#include "model/StandardError.h"
#include "store/StudioStore.h"

namespace tessoral {

GuardedApplication::GuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool GuardedApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        report(std::current_exception());
        return false;
    }
}

void GuardedApplication::reportTo(StudioStore* store) { store_ = store; }

std::string GuardedApplication::describe(std::exception_ptr failure) {
    // StudioStore::describe knows the program's own errors; anything else keeps its own text.
    return StudioStore::describe(std::move(failure));
}

void GuardedApplication::report(std::exception_ptr failure) noexcept {
    try {
        const std::string text = describe(std::move(failure));
        if (store_) {
            store_->setStatus(L("Действие прервано: {0}", text));
            store_->setError(text);
            return;
        }
        StandardError::write("tessoral: " + text + "\n");
    } catch (...) {
        // Reporting failed as well (no memory): the event stays unhandled, the program runs on.
    }
}

}  // namespace tessoral

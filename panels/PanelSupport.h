#pragma once

#include <QFrame>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "store/TaskRunner.h"

class QLabel;

namespace tessoral {

class StudioStore;
class TransportSignals;

// What the panels share: number texts, a popover, background work tied to a panel's life, the
// sheets' error line.
namespace panels {

inline QString qs(const std::string& s) { return QString::fromStdString(s); }

// The orange of warnings and highlighted values.
QColor orange();

// Every '-' of a number text turned into the minus sign U+2212.
QString withMinusSign(const std::string& text);
// "%.Nf" through the C-locale helper, minus signs replaced ("−0.0" for −0.04).
QString fixedText(double value, int decimals);
// "%+.Nf" likewise ("+0.0", "−3.5"); not finite: "nan", "+inf", "−inf" as printf writes them.
QString signedFixedText(double value, int decimals);

// Keeps `widget` enabled only while the store is not locked (a long operation, recording). The
// transport's signals tell when a recording starts or ends (none: only `busy` is followed).
void followLocked(QWidget* widget, StudioStore& store, TransportSignals* transport);

// A floating panel attached to a control: a Qt::Popup frame that closes on a click outside it or
// on Escape. `closed` runs whenever it hides, so the owner's "open" flag follows it.
class Popover : public QFrame {
    Q_OBJECT
public:
    explicit Popover(QWidget* parent = nullptr);

    // The content, owned by the popover (replaces an earlier one).
    void setContent(QWidget* content);
    QWidget* content() const { return content_; }
    // Shows the popover below `anchor`, its left edge at the anchor's left edge, moved inside the
    // anchor's screen.
    void showBelow(QWidget* anchor);
    void setOnClosed(std::function<void()> closed) { closed_ = std::move(closed); }

Q_SIGNALS:
    void closed();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* content_ = nullptr;
    std::function<void()> closed_;
};

// Background work of one panel. Work runs on the store's task runner over the copies it captures;
// its result comes back on the main thread and reaches `done` only while the owner still lives and
// no later `invalidate()` (or `run`) has happened meanwhile. A result in flight when the panel goes
// away, or when its inputs changed, is dropped.
class PanelWork {
public:
    PanelWork(QObject* owner, TaskRunner& runner) : owner_(owner), runner_(&runner) {}

    // Starts `work` (callable returning T) and hands TaskResult<T> to `done` if still current.
    // Earlier work stays current: use `invalidate()` first to drop it.
    template <class Work, class Done>
    void run(Work work, Done done, TaskPriority priority = TaskPriority::userInitiated) {
        const std::uint64_t generation = generation_;
        QPointer<QObject> owner = owner_;
        const std::uint64_t* current = &generation_;
        ++pending_;
        int* pending = &pending_;
        runner_->run(owner_, priority, std::move(work),
                     [owner, generation, current, pending, done = std::move(done)](auto result) mutable {
                         // The runner drops the call when the owner has gone, so `current` and
                         // `pending` (members of an object the owner holds) are alive here.
                         if (!owner) return;
                         --*pending;
                         if (*current != generation) return;
                         done(std::move(result));
                     });
    }
    // Results of work started before this call are dropped.
    void invalidate() { ++generation_; }
    std::uint64_t generation() const { return generation_; }
    // Work started whose result has not come back yet (dropped results included once they arrive).
    int pending() const { return pending_; }

private:
    QObject* owner_;
    TaskRunner* runner_;
    std::uint64_t generation_ = 0;
    int pending_ = 0;
};

// The store's error message in a sheet: a warning triangle and the text, 11 px, orange; hidden
// while the store has no error. A sheet that shows it keeps the main window's alert away.
class SheetErrorText : public QWidget {
    Q_OBJECT
public:
    explicit SheetErrorText(StudioStore& store, QWidget* parent = nullptr);
    QLabel* label() const { return text_; }

private:
    void refresh();
    StudioStore& store_;
    QLabel* icon_ = nullptr;
    QLabel* text_ = nullptr;
};

}  // namespace panels

}  // namespace tessoral

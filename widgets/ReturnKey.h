#pragma once

#include <QObject>

class QKeyEvent;
class QWidget;

namespace tessoral {

// Return and Enter in every window of the program, the main window, its sheets and alerts alike.
// Space plays and pauses, so Return presses the focused enabled button and opens the focused picker;
// only where the focus is on neither (a field, a slider, the window itself) does the press go on to
// the window's default action. A control that uses Return itself (a default button, a list, a
// segmented control) keeps it: the rule acts on a press no control took.
class ReturnKey : public QObject {
    Q_OBJECT
public:
    // Once per application; later calls do nothing.
    static void install();

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit ReturnKey(QObject* parent);
    // What the rule does with `event` arriving at `window`: true when it pressed a button or opened
    // a picker (the press goes no further).
    static bool handle(QWidget* window, QKeyEvent* event);
};

}  // namespace tessoral

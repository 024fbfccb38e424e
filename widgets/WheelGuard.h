#pragma once

#include <QObject>

class QApplication;
class QWidget;

namespace tessoral {

// The wheel never changes a value that the pointer merely passes over. Combo boxes, number
// fields, sliders and segmented controls take the wheel only while they hold the keyboard focus
// that a person gave them (a click, Tab or a shortcut; not the focus a window or sheet gives its
// first control when it opens); otherwise the turn goes on to the view around them, so a
// scrolling panel, sheet or settings page scrolls instead. Scroll bars keep the wheel. These
// controls also stop taking the focus from the wheel itself.
class WheelGuard : public QObject {
    Q_OBJECT
public:
    // Once per application, before its first window (the theme does it).
    static void install(QApplication& app);
    // Whether `widget` is a control that changes a value under the wheel.
    static bool guards(const QWidget* widget);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit WheelGuard(QObject* parent) : QObject(parent) {}
};

}  // namespace tessoral

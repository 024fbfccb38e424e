#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace tessoral {

// The keyboard focus mark of every window: a 2-pixel ring in the accent colour, one pixel clear of
// the control, drawn over whatever the control draws itself, so that it shows on accent-filled
// buttons, sliders and the program's own painted controls alike. It shows while the keyboard
// brought the focus (Tab, Shift+Tab, a shortcut), stays when a popup or another window hands the
// focus back, and goes when the pointer moves the focus; it follows the control as it moves or
// scrolls and is cut where a scroll area cuts the control. Each window keeps its own keyboard
// control while another has the focus (a sheet, a dialog over the sheet).
class FocusMark : public QObject {
    Q_OBJECT
public:
    static constexpr int kWidth = 2;
    static constexpr int kGap = 1;

    // Once per application; later calls do nothing.
    static void install();
    // The control the mark is drawn around now, if any.
    static QWidget* marked();

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit FocusMark(QObject* parent);
    void focusIn(QWidget* widget, Qt::FocusReason reason);
    void show(QWidget* target);
    void hide();
    void watch(QWidget* target);
    void unwatch();
    void schedulePlacing();
    void place();

    QPointer<QWidget> target_;    // the control the ring is around
    QPointer<QWidget> ring_;
    QList<QPointer<QWidget>> watched_;
    bool placing_ = false;
};

}  // namespace tessoral

#pragma once

#include <QPointer>
#include <QWidget>

class QScrollArea;

namespace tessoral {

// The settings window: the settings form in a vertical scroll area, as tall as the form where the
// screen allows, shorter (the form scrolling) where it does not. Opened centred over the window it
// belongs to; Escape and Ctrl+W close it (it is only hidden, so the form is built once).
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    explicit SettingsWindow(QWidget* form, QWidget* owner);

    // Shows the window, sized for its screen and centred over the owner; brings it to the front.
    void open();

    QScrollArea* scrollArea() const { return scroll_; }
    QWidget* form() const { return form_; }

    // The window's size for a form of `form` on a screen whose free area is `available`: the form's
    // height up to the screen's (less `frame`, the title bar and borders), its width plus the scroll
    // bar's when the form must scroll.
    static QSize fittedSize(QSize form, QRect available, QSize frame, int scrollBarWidth);
    // The top-left corner that centres a window of `size` over `owner`, kept inside `available`.
    static QPoint centredOver(QRect owner, QSize size, QRect available);

private:
    QScrollArea* scroll_;
    QWidget* form_;
    QPointer<QWidget> owner_;
};

}  // namespace tessoral

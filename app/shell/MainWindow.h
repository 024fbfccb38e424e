#pragma once

#include <QMainWindow>
#include <QPointer>

#include "app/shell/SettingsWindow.h"
#include "app/shell/ViewContext.h"

class QMenu;

namespace tessoral {

class AppDelegate;
class StudioView;

// The one main window: the desktop's title bar titled "Tessoral", the menu bar, the studio view.
// Its geometry is kept under "Tessoral.Main/geometry"; the first start opens it at 1280 × 800, or
// over a smaller screen's whole available area, and a kept frame that no longer lies on a screen
// (a monitor unplugged, a smaller one) is brought back onto one.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* kGeometryKey = "Tessoral.Main/geometry";
    static constexpr int kFirstWidth = 1280;
    static constexpr int kFirstHeight = 800;

    MainWindow(ViewContext context, AppDelegate& delegate, QWidget* parent = nullptr);
    ~MainWindow() override;

    StudioView* studio() const { return studio_; }
    QMenu* fileMenu() const { return fileMenu_; }

    // Restores the saved geometry (else the first size) on a screen, and saves it.
    void restoreWindowGeometry();
    void saveWindowGeometry() const;

    void showSettings();
    // Raises and activates the window, or the sheet or alert that holds its keyboard.
    void bringForward();
    SettingsWindow* settingsWindow() const { return settings_; }

Q_SIGNALS:
    // The first time the window is shown (the delegate connects the store then).
    void firstShown();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Tab and Shift+Tab walk the window's controls in reading order.
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The screens' available areas, the primary screen's first.
    static QList<QRect> availableAreas();
    // The first size on the screen, or the present frame brought onto a screen where it is off one.
    void placeOnScreen(bool first);

    ViewContext ctx_;
    AppDelegate& delegate_;
    StudioView* studio_;
    QMenu* fileMenu_;
    QPointer<SettingsWindow> settings_;
    // The control that held the focus last, and the one waiting to take it back.
    void followFocus(QWidget* old, QWidget* now);
    QMetaObject::Connection focusFollower_;
    QPointer<QWidget> lastFocus_;
    QPointer<QWidget> lost_;
    // Waits for `control`, which the focus left disabled or hidden, to take the focus back.
    void awaitReturn(QWidget* control);
    // On activation: the window holds the focus where its control can no longer.
    void regainFocus();
    bool shown_ = false;
    bool placed_ = false;  // the program's start placed it on a screen
};

}  // namespace tessoral

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
// Its geometry is kept under "Tessoral.Main/geometry"; the first start opens it at 1280 × 800.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* kGeometryKey = "Tessoral.Main/geometry";

    MainWindow(ViewContext context, AppDelegate& delegate, QWidget* parent = nullptr);
    ~MainWindow() override;

    StudioView* studio() const { return studio_; }
    QMenu* fileMenu() const { return fileMenu_; }

    // Restores the saved geometry (else 1280 × 800) and saves it.
    void restoreWindowGeometry();
    void saveWindowGeometry() const;

    void showSettings();
    SettingsWindow* settingsWindow() const { return settings_; }

Q_SIGNALS:
    // The first time the window is shown (the delegate connects the store then).
    void firstShown();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    ViewContext ctx_;
    AppDelegate& delegate_;
    StudioView* studio_;
    QMenu* fileMenu_;
    QPointer<SettingsWindow> settings_;
    bool shown_ = false;
};

}  // namespace tessoral

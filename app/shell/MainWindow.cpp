#include "app/shell/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>

#include "app/shell/AppDelegate.h"
#include "app/shell/ReadingOrder.h"
#include "app/menus/KeyMonitor.h"
#include "app/menus/LayoutShortcuts.h"
#include "app/menus/MenuBar.h"
#include "app/shell/SettingsWindow.h"
#include "app/shell/SheetHost.h"
#include "app/shell/StudioView.h"
#include "app/shell/ViewFactory.h"
#include "app/shell/WindowPlacement.h"
#include "model/Localization.h"
#include "widgets/FocusMark.h"
#include "widgets/Icons.h"
#include "widgets/Palette.h"
#include "widgets/ReturnKey.h"

namespace tessoral {

namespace {
QString qs(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

MainWindow::MainWindow(ViewContext context, AppDelegate& delegate, QWidget* parent)
    : QMainWindow(parent), ctx_(context), delegate_(delegate) {
    setObjectName(QStringLiteral("mainWindow"));
    FocusMark::install();
    ReturnKey::install();
    setWindowTitle(QStringLiteral("Tessoral"));
    setWindowIcon(QIcon::fromTheme(QStringLiteral("tessoral"), Icons::icon(QStringLiteral("waveform"), Palette::accent(), 32)));
    studio_ = new StudioView(ctx_, this);
    setCentralWidget(studio_);
    focusFollower_ = connect(qApp, &QApplication::focusChanged, this, &MainWindow::followFocus);

    fileMenu_ = menuBar()->addMenu(qs(L("Файл")));
    fileMenu_->setObjectName(QStringLiteral("fileMenu"));
    fileMenu_->addSeparator();
    QAction* settings = fileMenu_->addAction(qs(L("Настройки…")));
    settings->setObjectName(QStringLiteral("settingsAction"));
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    settings->setMenuRole(QAction::PreferencesRole);
    connect(settings, &QAction::triggered, this, &MainWindow::showSettings);
    QAction* quit = fileMenu_->addAction(qs(L("Выход")));
    quit->setObjectName(QStringLiteral("quitAction"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcutContext(Qt::ApplicationShortcut);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, [this] { delegate_.requestQuit(); });

    // The project's menus (its entries go before "Настройки…" and "Выход"), reached by the key's
    // place on any layout, then the single keys.
    new MenuBar(ctx_, *this, fileMenu_);
    new LayoutShortcuts(this);
    new KeyMonitor(ctx_, this, [this] { return delegate_.connected(); },
                   [studio = QPointer<StudioView>(studio_)] { return studio && studio->sheets()->topSheet(); });
    // Until a person puts it on a control, the window itself holds the focus: activating the
    // window (at the start, after a sheet or a dialog) then marks no control, Return presses none
    // and the first Tab goes to the first stop, instead of Qt handing it to its first control.
    setFocus(Qt::OtherFocusReason);
}

MainWindow::~MainWindow() {
    // The window's own close in ~QWidget moves the focus again, after this object is gone.
    disconnect(focusFollower_);
    delete settings_;
}

void MainWindow::restoreWindowGeometry() {
    QSettings settings(QStringLiteral("Tessoral"), QStringLiteral("Tessoral"));
    const QByteArray saved = settings.value(QString::fromLatin1(kGeometryKey)).toByteArray();
    // Qt refuses a frame saved on a screen of a very different width (it gives false then).
    const bool restored = !saved.isEmpty() && restoreGeometry(saved);
    placeOnScreen(!restored);
    placed_ = true;
}

QList<QRect> MainWindow::availableAreas() {
    QList<QRect> areas;
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary) areas << primary->availableGeometry();
    for (QScreen* s : QGuiApplication::screens())
        if (s != primary) areas << s->availableGeometry();
    return areas;
}

void MainWindow::placeOnScreen(bool first) {
    if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) return;
    // The desktop's title bar and borders: as drawn once the window is shown, a guess before.
    QMargins frame(frameGeometry().left() - geometry().left(), geometry().top() - frameGeometry().top(),
                   frameGeometry().right() - geometry().right(), frameGeometry().bottom() - geometry().bottom());
    if (!isVisible() && frame.isNull()) frame = QMargins(1, 30, 1, 1);
    const QSize extra(frame.left() + frame.right(), frame.top() + frame.bottom());
    const QSize minimum = minimumSizeHint().expandedTo(minimumSize()) + extra;
    const QRect placed = first ? WindowPlacement::firstFrame(QSize(kFirstWidth, kFirstHeight) + extra, availableAreas(), minimum)
                               : WindowPlacement::keptFrame(geometry().marginsAdded(frame), availableAreas(), minimum);
    if (!first && placed == geometry().marginsAdded(frame)) return;
    if (isVisible()) {
        // The window itself, inside the frame as the window manager draws it (moving the frame
        // of a shown window puts it off by the border on some window managers).
        setGeometry(placed.marginsRemoved(frame));
        return;
    }
    resize(placed.size() - extra);
    move(placed.topLeft());  // a window's position is its frame's
}

void MainWindow::saveWindowGeometry() const {
    QSettings settings(QStringLiteral("Tessoral"), QStringLiteral("Tessoral"));
    settings.setValue(QString::fromLatin1(kGeometryKey), saveGeometry());
    settings.sync();
}

void MainWindow::showSettings() {
    // Built once and only hidden on close, so the language in force at launch stays known.
    if (!settings_) settings_ = new SettingsWindow(ViewFactory::settingsView(ctx_, nullptr), this);
    settings_->open();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The close rule decides; the window itself never closes: a permitted close becomes a quit.
    if (delegate_.quitting()) {
        event->accept();
        return;
    }
    event->ignore();
    delegate_.windowShouldClose();
}

bool MainWindow::focusNextPrevChild(bool next) {
    // A control disabled while it holds the focus (the loop button while playback is prepared)
    // leaves it to the window rather than to the next control, where Return would press something
    // else, and takes it back once enabled.
    if (QWidget* focus = focusWidget(); focus && !focus->isEnabled()) return false;
    return ReadingOrder::step(this, next, lastFocus_) || QMainWindow::focusNextPrevChild(next);
}

void MainWindow::awaitReturn(QWidget* control) {
    if (lost_) lost_->removeEventFilter(this);
    lost_ = control;
    control->installEventFilter(this);
}

void MainWindow::followFocus(QWidget* old, QWidget* now) {
    // The window itself holding the focus is no control's: a control waiting to take it back still waits.
    if (now == this) return;
    if (now && now->window() == this) {
        lastFocus_ = now;
        if (lost_) lost_->removeEventFilter(this);
        lost_ = nullptr;
        return;
    }
    // A control that started a command and was disabled (or hidden) while it runs, with its panel,
    // leaves the focus nowhere: it takes it back once it can, unless another control took it.
    if (!now && old && old == lastFocus_ && old->window() == this && !(old->isVisible() && old->isEnabled()))
        awaitReturn(old);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lost_ && (event->type() == QEvent::EnabledChange || event->type() == QEvent::Show)) {
        QWidget* control = lost_;
        QWidget* focus = QApplication::focusWidget();
        if (control->isVisible() && control->isEnabled() && isActiveWindow() && (!focus || focus == this)) {
            control->removeEventFilter(this);
            lost_ = nullptr;
            // As when a popup hands the focus back: its mark returns where the keyboard put it.
            control->setFocus(Qt::ActiveWindowFocusReason);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::bringForward() {
    raise();
    // A sheet or an alert over the window holds the keyboard: it is activated, not the window
    // under it, so that Return and Escape reach it (and a desktop's one-time permission to
    // activate, on Wayland, goes to it).
    QWidget* modal = QApplication::activeModalWidget();
    QWidget* target = modal && modal != this && modal->isVisible() ? modal : this;
    if (target != this) target->raise();
    target->activateWindow();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::ActivationChange || !isActiveWindow()) return;
    // Some window managers give the activation to this window when a dialog over a sheet closes
    // (xfwm4), although the sheet still holds its keyboard: it goes on to the sheet, where Escape
    // and Tab work.
    QPointer<QWidget> modal = QApplication::activeModalWidget();
    if (!modal || modal == this || !modal->isVisible()) return regainFocus();
    QTimer::singleShot(0, modal, [modal] {
        if (!modal || !modal->isVisible() || modal->isActiveWindow() || QApplication::activeModalWidget() != modal) return;
        modal->raise();
        modal->activateWindow();
    });
}

void MainWindow::regainFocus() {
    // The control that held the focus was disabled or removed while another window was active (a
    // sheet's command locks the panels), where Qt would hand the focus to the window's first
    // control: the window holds it, and the control takes it back once it can.
    if (focusWidget()) return;
    QWidget* last = lastFocus_;  // one of this window's controls
    if (last && last->isVisible() && last->isEnabled()) {
        last->setFocus(Qt::ActiveWindowFocusReason);
        return;
    }
    if (last) awaitReturn(last);
    setFocus(Qt::OtherFocusReason);
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_) return;
    shown_ = true;
    // After the window is on screen, so a question at start-up sits over it.
    QTimer::singleShot(0, this, [this] { Q_EMIT firstShown(); });
    // The window manager adds its title bar and borders as the window appears, and a frame placed
    // with a guess at them may then reach past the screen's edge: placed again once they are known.
    if (placed_)
        for (int ms : {0, 400}) QTimer::singleShot(ms, this, [this] { placeOnScreen(false); });
}

}  // namespace tessoral

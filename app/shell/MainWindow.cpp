#include "app/shell/MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>

#include "app/shell/AppDelegate.h"
#include "app/menus/KeyMonitor.h"
#include "app/menus/LayoutShortcuts.h"
#include "app/menus/MenuBar.h"
#include "app/shell/SettingsWindow.h"
#include "app/shell/SheetHost.h"
#include "app/shell/StudioView.h"
#include "app/shell/ViewFactory.h"
#include "model/Localization.h"
#include "widgets/Icons.h"
#include "widgets/Palette.h"

namespace tessoral {

namespace {
QString qs(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

MainWindow::MainWindow(ViewContext context, AppDelegate& delegate, QWidget* parent)
    : QMainWindow(parent), ctx_(context), delegate_(delegate) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Tessoral"));
    setWindowIcon(QIcon::fromTheme(QStringLiteral("tessoral"), Icons::icon(QStringLiteral("waveform"), Palette::accent(), 32)));
    studio_ = new StudioView(ctx_, this);
    setCentralWidget(studio_);

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
}

MainWindow::~MainWindow() { delete settings_; }

void MainWindow::restoreWindowGeometry() {
    QSettings settings(QStringLiteral("Tessoral"), QStringLiteral("Tessoral"));
    const QByteArray saved = settings.value(QString::fromLatin1(kGeometryKey)).toByteArray();
    if (saved.isEmpty() || !restoreGeometry(saved)) resize(1280, 800);
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

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_) return;
    shown_ = true;
    // After the window is on screen, so a question at start-up sits over it.
    QTimer::singleShot(0, this, [this] { Q_EMIT firstShown(); });
}

}  // namespace tessoral

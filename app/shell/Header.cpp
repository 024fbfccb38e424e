#include "app/shell/Header.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "model/Localization.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"
#include "widgets/Fonts.h"
#include "widgets/Icons.h"
#include "widgets/Palette.h"
#include "widgets/SegmentedControl.h"
#include "widgets/ToolButton.h"

namespace tessoral {

namespace {
QString qs(const std::string& s) { return QString::fromStdString(s); }
constexpr EditorMode kModes[] = {EditorMode::waveform, EditorMode::multitrack, EditorMode::mixer};
}  // namespace

QString Header::projectLine(const std::string& title, bool dirty) {
    return qs(title) + (dirty ? QStringLiteral("  \u2022") : QString());
}

Header::Header(ViewContext context, QWidget* parent) : Surface(Palette::panel(), parent), ctx_(context) {
    setObjectName(QStringLiteral("header"));
    setFixedHeight(kHeight);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 0, 14, 0);
    row->setSpacing(12);

    auto* mark = new QLabel(this);
    mark->setPixmap(Icons::pixmap(QStringLiteral("waveform"), Palette::accent(), 21, devicePixelRatioF()));
    mark->setFixedSize(22, 22);
    row->addWidget(mark);

    auto* titleBlock = new QWidget(this);
    titleBlock->setFixedWidth(164);
    auto* titles = new QVBoxLayout(titleBlock);
    titles->setContentsMargins(0, 0, 0, 0);
    titles->setSpacing(3);
    auto* name = new QLabel(QStringLiteral("Tessoral"), titleBlock);
    name->setFont(Fonts::ui(14, QFont::DemiBold));
    titles->addStretch(1);
    titles->addWidget(name);
    project_ = new ElidedLabel(titleBlock);
    project_->setObjectName(QStringLiteral("projectLine"));
    project_->setFont(Fonts::ui(11));
    project_->setColor(Palette::secondaryText());
    titles->addWidget(project_);
    titles->addStretch(1);
    row->addWidget(titleBlock);

    modes_ = new SegmentedControl({qs(L("Волна")), qs(L("Мультитрек")), qs(L("Микшер"))}, this);
    modes_->setObjectName(QStringLiteral("editorMode"));
    modes_->setAccessibleName(qs(L("Редактор")));
    modes_->setFixedWidth(244);
    connect(modes_, &SegmentedControl::activated, this, [this](int index) {
        if (index >= 0 && index < 3) ctx_.store->switchMode(kModes[index]);
    });
    row->addWidget(modes_);
    row->addStretch(1);

    StudioStore* store = ctx_.store;
    browser_ = new ToolButton(QStringLiteral("sidebar.left"), qs(L("Файлы, маркеры и история")), false,
                              Palette::accent(), [store] { store->setShowBrowser(!store->showBrowser()); }, this);
    inspector_ = new ToolButton(QStringLiteral("sidebar.right"), qs(L("Панель эффектов")), false, Palette::accent(),
                                [store] { store->setShowInspector(!store->showInspector()); }, this);
    auto* open = new ToolButton(QStringLiteral("folder"), qs(L("Открыть аудио или проект")), false,
                                Palette::primaryText(), [store] { store->openPanel(); }, this);
    auto* save = new ToolButton(QStringLiteral("square.and.arrow.down"), qs(L("Сохранить проект")), false,
                                Palette::primaryText(), [store] { (void)store->saveProject(false); }, this);
    for (auto* b : {browser_, inspector_, open, save}) row->addWidget(b);

    auto* separator = new Surface(Palette::line(), this);
    separator->setAttribute(Qt::WA_OpaquePaintEvent, false);
    separator->setFixedSize(1, 24);
    row->addWidget(separator);

    export_ = new QPushButton(Icons::icon(QStringLiteral("square.and.arrow.up"), Palette::primaryText(), 14),
                              qs(L("Экспорт")), this);
    export_->setObjectName(QStringLiteral("exportButton"));
    export_->setFocusPolicy(Qt::TabFocus);
    export_->setStyleSheet(QStringLiteral("QPushButton { padding: 3px 6px; }"));
    connect(export_, &QPushButton::clicked, this, [store] { store->setShowExport(true); });
    row->addWidget(export_);

    connect(store, &StudioStore::sessionChanged, this, [this] {
        export_->setEnabled(!ctx_.store->session().tracks.empty());
    });
    connect(store, &StudioStore::projectURLChanged, this, &Header::refreshProject);
    connect(store, &StudioStore::dirtyChanged, this, &Header::refreshProject);
    connect(store, &StudioStore::editorModeChanged, this, [this] {
        modes_->setCurrentIndex(static_cast<int>(ctx_.store->editorMode()));
    });
    connect(store, &StudioStore::showBrowserChanged, this, [this] { browser_->setActive(ctx_.store->showBrowser()); });
    connect(store, &StudioStore::showInspectorChanged, this,
            [this] { inspector_->setActive(ctx_.store->showInspector()); });
    connect(store, &StudioStore::busyChanged, this, &Header::refreshLocked);
    connect(ctx_.transport, &TransportSignals::recordingChanged, this, &Header::refreshLocked);

    export_->setEnabled(!store->session().tracks.empty());
    modes_->setCurrentIndex(static_cast<int>(store->editorMode()));
    browser_->setActive(store->showBrowser());
    inspector_->setActive(store->showInspector());
    refreshProject();
    refreshLocked();
}

void Header::refreshProject() { project_->setText(projectLine(ctx_.store->title(), ctx_.store->dirty())); }

void Header::refreshLocked() { setEnabled(!ctx_.store->locked()); }

}  // namespace tessoral

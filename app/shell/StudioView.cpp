#include "app/shell/StudioView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QStackedLayout>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "app/shell/EmptyState.h"
#include "app/shell/Footer.h"
#include "app/shell/Header.h"
#include "app/shell/QtPrompts.h"
#include "app/shell/SheetHost.h"
#include "app/shell/TransportBar.h"
#include "app/shell/ViewFactory.h"
#include "model/Localization.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"
#include "widgets/Palette.h"
#include "widgets/Spinner.h"

namespace tessoral {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

QStringList localFiles(const QMimeData* mime) {
    QStringList files;
    if (!mime || !mime->hasUrls()) return files;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
    return files;
}

}  // namespace

DropOverlay::DropOverlay(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setObjectName(QStringLiteral("dropOverlay"));
    hide();
}

void DropOverlay::setActive(bool active) {
    if (active == active_) return;
    active_ = active;
    setVisible(active);
    if (active) raise();
}

void DropOverlay::paintEvent(QPaintEvent*) {
    if (!active_) return;
    QPainter p(this);
    p.setPen(QPen(Palette::accent(), 3));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5));
}

QSize StudioView::minimumSizeHint() const {
    // 980 × 660, or wider where the editor's tool rows need more room for their buttons and pickers
    // (the spectral tools in a long language): the window grows rather than cutting a control.
    return QWidget::minimumSizeHint().expandedTo(QSize(kMinimumWidth, kMinimumHeight));
}

StudioView::StudioView(ViewContext context, QWidget* parent) : QWidget(parent), ctx_(context) {
    setObjectName(QStringLiteral("studioView"));
    setAcceptDrops(true);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Palette::background());
    setPalette(pal);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    header_ = new Header(ctx_, this);
    root->addWidget(header_);
    root->addWidget(new Divider(Qt::Horizontal, this));

    auto* middle = new QHBoxLayout;
    middle->setSpacing(0);
    browser_ = ViewFactory::workspaceBrowser(ctx_, this);
    browser_->setFixedWidth(kBrowserWidth);
    browserDivider_ = new Divider(Qt::Vertical, this);
    middle->addWidget(browser_);
    middle->addWidget(browserDivider_);

    editorColumn_ = new QWidget(this);
    editorColumn_->setObjectName(QStringLiteral("editorColumn"));
    auto* column = new QVBoxLayout(editorColumn_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    editorTools_ = ViewFactory::editorTools(ctx_, editorColumn_);
    column->addWidget(editorTools_);
    column->addWidget(new Divider(Qt::Horizontal, editorColumn_));
    auto* area = new QWidget(editorColumn_);
    area->setObjectName(QStringLiteral("editorArea"));
    area->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    editorStack_ = new QStackedLayout(area);
    emptyState_ = new EmptyState(ctx_, area);
    editorStack_->addWidget(emptyState_);
    column->addWidget(area, 1);
    analysisDivider_ = new Divider(Qt::Horizontal, editorColumn_);
    column->addWidget(analysisDivider_);
    column->addWidget(new Divider(Qt::Horizontal, editorColumn_));
    selectionBar_ = ViewFactory::selectionBar(ctx_, editorColumn_);
    column->addWidget(selectionBar_);
    middle->addWidget(editorColumn_, 1);

    rightDivider_ = new Divider(Qt::Vertical, this);
    middle->addWidget(rightDivider_);
    rightPanel_ = new Surface(Palette::panel(), this);
    rightPanel_->setObjectName(QStringLiteral("rightPanel"));
    rightPanel_->setFixedWidth(kRightPanelWidth);
    auto* right = new QVBoxLayout(rightPanel_);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    right->addWidget(ViewFactory::inspectorTabBar(ctx_, rightPanel_));
    right->addWidget(new Divider(Qt::Horizontal, rightPanel_));
    auto* pages = new QWidget(rightPanel_);
    pageStack_ = new QStackedLayout(pages);
    right->addWidget(pages, 1);
    middle->addWidget(rightPanel_);
    root->addLayout(middle, 1);

    root->addWidget(new Divider(Qt::Horizontal, this));
    transport_ = new TransportBar(ctx_, this);
    root->addWidget(transport_);
    root->addWidget(new Divider(Qt::Horizontal, this));
    footer_ = new Footer(ctx_, this);
    root->addWidget(footer_);

    overlay_ = new DropOverlay(this);
    sheets_ = new SheetHost(ctx_, window(), this);

    StudioStore* store = ctx_.store;
    connect(store, &StudioStore::showBrowserChanged, this, &StudioView::refreshPanels);
    connect(store, &StudioStore::showInspectorChanged, this, &StudioView::refreshPanels);
    connect(store, &StudioStore::sessionChanged, this, &StudioView::refreshEditorArea);
    connect(store, &StudioStore::editorModeChanged, this, &StudioView::refreshEditorArea);
    connect(store, &StudioStore::inspectorTabChanged, this, &StudioView::refreshInspectorPage);
    connect(store, &StudioStore::showAnalysisChanged, this, &StudioView::refreshAnalysis);
    connect(store, &StudioStore::busyChanged, this, &StudioView::refreshLocked);
    connect(ctx_.transport, &TransportSignals::recordingChanged, this, &StudioView::refreshLocked);
    connect(store, &StudioStore::errorChanged, this, &StudioView::refreshAlert);
    connect(sheets_, &SheetHost::sheetsChanged, this, &StudioView::refreshAlert);

    refreshPanels();
    refreshEditorArea();
    refreshInspectorPage();
    refreshAnalysis();
    refreshLocked();
}

StudioView::~StudioView() {
    if (alert_) {
        alert_->disconnect(this);
        delete alert_;
    }
}

QWidget* StudioView::editorArea() const { return editorStack_->currentWidget(); }
QWidget* StudioView::inspectorPage() const { return pageStack_->currentWidget(); }

QWidget* StudioView::dialogParent() const {
    if (QWidget* sheet = sheets_->topSheet()) return sheet;
    return window();
}

void StudioView::refreshPanels() {
    const bool browser = ctx_.store->showBrowser(), inspector = ctx_.store->showInspector();
    browser_->setVisible(browser);
    browserDivider_->setVisible(browser);
    rightPanel_->setVisible(inspector);
    rightDivider_->setVisible(inspector);
}

void StudioView::refreshEditorArea() {
    QWidget* target = emptyState_;
    if (!ctx_.store->session().lanes.empty()) {
        const auto mode = ctx_.store->editorMode();
        const int index = static_cast<int>(mode);
        if (!modeViews_[index]) {
            QWidget* area = editorStack_->parentWidget();
            switch (mode) {
                case EditorMode::waveform: modeViews_[index] = ViewFactory::waveformEditor(ctx_, area); break;
                case EditorMode::multitrack: modeViews_[index] = ViewFactory::multitrackTimeline(ctx_, area); break;
                case EditorMode::mixer: modeViews_[index] = ViewFactory::mixerWorkspace(ctx_, area); break;
            }
            editorStack_->addWidget(modeViews_[index]);
        }
        target = modeViews_[index];
    }
    if (editorStack_->currentWidget() != target) editorStack_->setCurrentWidget(target);
}

void StudioView::refreshInspectorPage() {
    int tab = ctx_.store->inspectorTab();
    if (tab < 0 || tab > 3) tab = 1;
    if (!pages_[tab]) {
        QWidget* host = pageStack_->parentWidget();
        switch (tab) {
            case 0: pages_[tab] = ViewFactory::effectsRack(ctx_, host); break;
            case 1: pages_[tab] = ViewFactory::processingInspector(ctx_, host); break;
            case 2: pages_[tab] = ViewFactory::diagnosticsPanel(ctx_, host); break;
            case 3: pages_[tab] = ViewFactory::essentialSound(ctx_, host); break;
        }
        pageStack_->addWidget(pages_[tab]);
        refreshLocked();
    }
    if (pageStack_->currentWidget() != pages_[tab]) pageStack_->setCurrentWidget(pages_[tab]);
}

void StudioView::refreshAnalysis() {
    const bool show = ctx_.store->showAnalysis();
    analysisDivider_->setVisible(show);
    if (show && !analysis_) {
        // Built afresh each time it is shown.
        analysis_ = ViewFactory::frequencyAnalysisPanel(ctx_, editorColumn_);
        auto* column = static_cast<QVBoxLayout*>(editorColumn_->layout());
        column->insertWidget(column->indexOf(analysisDivider_) + 1, analysis_);
    } else if (!show && analysis_) {
        delete analysis_;
    }
}

void StudioView::refreshLocked() {
    const bool locked = ctx_.store->locked();
    editorTools_->setEnabled(!locked);
    selectionBar_->setEnabled(!locked);
    // Of the right panel's pages only the processing page is disabled while locked.
    if (pages_[1]) pages_[1]->setEnabled(!locked);
}

void StudioView::refreshAlert() {
    const auto& error = ctx_.store->error();
    const bool wanted = error.has_value() && !ctx_.store->sheetShowsError();
    if (!wanted) {
        if (alert_ && !error) {
            alert_->disconnect(this);
            alert_->close();
            alert_->deleteLater();
        }
        return;
    }
    if (alert_) {
        alert_->setInformativeText(qs(*error));
        QtPrompts::usePlainText(*alert_);
        return;
    }
    // Over the open sheet when there is one, so the message is never hidden behind it.
    auto* box = new QMessageBox(dialogParent());
    box->setObjectName(QStringLiteral("errorAlert"));
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("Tessoral"));
    box->setText(qs(L("Не удалось выполнить действие")));
    box->setInformativeText(qs(*error));
    QtPrompts::usePlainText(*box);
    QPushButton* ok = box->addButton(QStringLiteral("OK"), QMessageBox::RejectRole);
    box->setEscapeButton(ok);
    box->setDefaultButton(ok);
    QtPrompts::styleButtons(*box);
    alert_ = box;
    // Should the sheet it sits on go away with it, the message comes back over the window.
    connect(box, &QObject::destroyed, this, [this] { QTimer::singleShot(0, this, &StudioView::refreshAlert); });
    connect(box, &QMessageBox::finished, this, [this, box] {
        if (alert_ == box) alert_ = nullptr;
        box->deleteLater();
        ctx_.store->setError(std::nullopt);
    });
    box->open();
}

bool StudioView::acceptsDrop() const { return !ctx_.store->locked(); }

bool StudioView::dropFiles(const QStringList& files) {
    if (!acceptsDrop() || files.isEmpty()) return false;
    std::vector<std::filesystem::path> paths;
    for (const QString& f : files) paths.emplace_back(f.toStdString());
    ctx_.store->open(paths);
    return true;
}

void StudioView::dragEnterEvent(QDragEnterEvent* event) {
    if (localFiles(event->mimeData()).isEmpty()) return;
    overlay_->setGeometry(rect());
    overlay_->setActive(true);
    event->acceptProposedAction();
}

void StudioView::dragMoveEvent(QDragMoveEvent* event) {
    if (!localFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void StudioView::dragLeaveEvent(QDragLeaveEvent*) { overlay_->setActive(false); }

void StudioView::dropEvent(QDropEvent* event) {
    overlay_->setActive(false);
    if (dropFiles(localFiles(event->mimeData()))) event->acceptProposedAction();
    else event->ignore();
}

void StudioView::resizeEvent(QResizeEvent* event) {
    overlay_->setGeometry(rect());
    QWidget::resizeEvent(event);
}

}  // namespace tessoral

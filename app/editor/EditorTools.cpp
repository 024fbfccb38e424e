#include "app/editor/EditorTools.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "app/inspector/InspectorStyle.h"
#include "model/Localization.h"
#include "store/StudioStore.h"
#include "widgets/SegmentedControl.h"
#include "widgets/ToolButton.h"

namespace tessoral {

namespace {

// A vertical divider 20 high with 3 points either side.
QWidget* separator(QWidget* parent) {
    auto* box = new QWidget(parent);
    box->setObjectName(QStringLiteral("separator"));
    box->setFixedSize(7, 20);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(3, 0, 3, 0);
    row->addWidget(ui::hairline(Qt::Vertical, box));
    return box;
}

QHBoxLayout* rowOf(QWidget* row, int spacing) {
    row->setFixedHeight(EditorTools::kRowHeight);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

}  // namespace

EditorTools::EditorTools(StudioStore& store, QWidget* parent) : QWidget(parent), store_(store) {
    setObjectName(QStringLiteral("editorTools"));
    setFixedHeight(2 * kRowHeight);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Palette::panel());
    setPalette(pal);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(9, 0, 9, 0);
    column->setSpacing(0);
    const QColor primary = Palette::primaryText();

    // ---- row 1 ----
    auto* first = new QWidget(this);
    first->setObjectName(QStringLiteral("toolsRow1"));
    QHBoxLayout* r1 = rowOf(first, 1);
    const struct {
        TimelineTool tool;
        const char* symbol;
        const char* name;
        const char* key;
    } tools[] = {{TimelineTool::move, "arrow.up.left.and.arrow.down.right", "Перемещение", "V"},
                 {TimelineTool::select, "selection.pin.in.out", "Выделение времени", "T"},
                 {TimelineTool::razor, "scissors", "Лезвие", "R"}};
    for (std::size_t i = 0; i < 3; ++i) {
        const TimelineTool tool = tools[i].tool;
        tools_[i] = new ToolButton(QString::fromLatin1(tools[i].symbol),
                                   ui::qs(L(tools[i].name) + " (" + tools[i].key + ")"), false, Palette::accent(),
                                   [this, tool] { store_.setTimelineTool(tool); }, first);
        r1->addWidget(tools_[i]);
    }
    r1->addWidget(separator(first));
    undo_ = new ToolButton(QStringLiteral("arrow.uturn.backward"), ui::qs(L("Отменить")), false, primary,
                           [this] { store_.undo(); }, first);
    redo_ = new ToolButton(QStringLiteral("arrow.uturn.forward"), ui::qs(L("Повторить")), false, primary,
                           [this] { store_.redo(); }, first);
    r1->addWidget(undo_);
    r1->addWidget(redo_);
    r1->addWidget(separator(first));
    clipGroup_ = new QWidget(first);
    clipGroup_->setObjectName(QStringLiteral("clipEditGroup"));
    auto* group = new QHBoxLayout(clipGroup_);
    group->setContentsMargins(0, 0, 0, 0);
    group->setSpacing(1);
    clip_[0] = new ToolButton(QStringLiteral("scissors"), ui::qs(L("Вырезать")), false, primary,
                              [this] { store_.copy(true); }, clipGroup_);
    clip_[1] = new ToolButton(QStringLiteral("rectangle.split.2x1"), ui::qs(L("Разделить в позиции курсора")), false,
                              primary, [this] { store_.split(); }, clipGroup_);
    clip_[2] = new ToolButton(QStringLiteral("crop"), ui::qs(L("Обрезать по выделению")), false, primary,
                              [this] { store_.edit(EditAction::trim); }, clipGroup_);
    clip_[3] = new ToolButton(QStringLiteral("square.on.square"), ui::qs(L("Копировать фрагмент")), false, primary,
                              [this] { store_.copy(false); }, clipGroup_);
    for (ToolButton* b : clip_) group->addWidget(b);
    r1->addWidget(clipGroup_);
    paste_ = new ToolButton(QStringLiteral("doc.on.clipboard"), ui::qs(L("Вставить фрагмент")), false, primary,
                            [this] { store_.paste(); }, first);
    r1->addWidget(paste_);
    r1->addStretch(1);
    marker_ = new ToolButton(QStringLiteral("bookmark"), ui::qs(L("Добавить маркер")), false, primary,
                             [this] { store_.addMarker(); }, first);
    r1->addWidget(marker_);
    column->addWidget(first);

    // ---- row 2 ----
    auto* second = new QWidget(this);
    second->setObjectName(QStringLiteral("toolsRow2"));
    QHBoxLayout* r2 = rowOf(second, 3);
    display_ = new SegmentedControl({ui::qs(L("Волна")), ui::qs(L("Спектр"))}, second);
    display_->setObjectName(QStringLiteral("displayPicker"));
    display_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);  // sized to its content
    // The small control size: the row keeps to the smallest window in both languages.
    display_->setFont(Fonts::ui(11, QFont::Medium));
    display_->setAccessibleName(ui::qs(L("Вид")));
    display_->setToolTip(ui::qs(L("Волновая форма или спектрограмма 45 Гц – 22 кГц")));
    connect(display_, &SegmentedControl::activated, this, [this](int i) { store_.setSpectralView(i == 1); });
    r2->addWidget(display_);
    spectralSlot_ = new QWidget(second);
    spectralSlot_->setObjectName(QStringLiteral("spectralToolbarSlot"));
    auto* spectralLayout = new QHBoxLayout(spectralSlot_);
    spectralLayout->setContentsMargins(0, 0, 0, 0);
    spectralLayout->setSpacing(3);
    r2->addWidget(spectralSlot_);
    snapping_ = new ToolButton(QStringLiteral("point.topleft.down.to.point.bottomright.curvepath"),
                               ui::qs(L("Привязка к краям и маркерам")), false, Palette::accent(),
                               [this] { store_.setSnapping(!store_.snapping()); }, second);
    analysis_ = new ToolButton(QStringLiteral("chart.xyaxis.line"), ui::qs(L("Частотный анализ")), false,
                               Palette::accent(), [this] { store_.setShowAnalysis(!store_.showAnalysis()); }, second);
    envelopes_ = new ToolButton(QStringLiteral("point.3.connected.trianglepath.dotted"),
                                ui::qs(L("Огибающие громкости и панорамы")), false, Palette::accent(),
                                [this] { store_.setShowEnvelopes(!store_.showEnvelopes()); }, second);
    r2->addWidget(snapping_);
    r2->addWidget(analysis_);
    r2->addWidget(envelopes_);
    r2->addSpacing(4);
    r2->addStretch(1);
    amplitudeSlot_ = new QWidget(second);
    amplitudeSlot_->setObjectName(QStringLiteral("amplitudeZoomSlot"));
    auto* amplitudeLayout = new QHBoxLayout(amplitudeSlot_);
    amplitudeLayout->setContentsMargins(0, 0, 0, 0);
    amplitudeLayout->setSpacing(3);
    // The amplitude zoom controls go before this separator.
    amplitudeLayout->addWidget(separator(amplitudeSlot_));
    r2->addWidget(amplitudeSlot_);
    zoomOut_ = new ToolButton(QStringLiteral("minus.magnifyingglass"), ui::qs(L("Уменьшить (Ctrl+-)")), false, primary,
                              [this] { store_.setZoom(store_.zoom() / kZoomStep, std::nullopt, 0.5); }, second);
    readout_ = ui::label({}, Fonts::mono(10), primary, second);
    readout_->setObjectName(QStringLiteral("zoomReadout"));
    readout_->setFixedWidth(28);
    readout_->setAlignment(Qt::AlignCenter);
    zoomIn_ = new ToolButton(QStringLiteral("plus.magnifyingglass"), ui::qs(L("Увеличить (Ctrl+=)")), false, primary,
                             [this] { store_.setZoom(store_.zoom() * kZoomStep, std::nullopt, 0.5); }, second);
    zoomSelection_ = new ToolButton(QStringLiteral("rectangle.and.arrow.up.right.and.arrow.down.left"),
                                    ui::qs(L("Масштаб по выделению (Ctrl+Alt+=)")), false, primary,
                                    [this] { store_.zoomToSelection(); }, second);
    whole_ = new ToolButton(QStringLiteral("arrow.left.and.right.righttriangle.left.righttriangle.right"),
                            ui::qs(L("Показать весь проект (Ctrl+0)")), false, primary,
                            [this] { store_.setZoom(1.0, 0.0, 0.0); }, second);
    for (QWidget* w : {static_cast<QWidget*>(zoomOut_), static_cast<QWidget*>(readout_), static_cast<QWidget*>(zoomIn_),
                       static_cast<QWidget*>(zoomSelection_), static_cast<QWidget*>(whole_)})
        r2->addWidget(w);
    column->addWidget(second);
    second_ = second;

    // ---- row 3: the spectral toolbar where row 2 has no room for it ----
    third_ = new QWidget(this);
    third_->setObjectName(QStringLiteral("toolsRow3"));
    rowOf(third_, 3)->addStretch(1);
    third_->hide();
    column->addWidget(third_);

    for (auto signal : {&StudioStore::timelineToolChanged, &StudioStore::undoNamesChanged,
                        &StudioStore::redoNamesChanged, &StudioStore::selectedIDChanged, &StudioStore::sessionChanged,
                        &StudioStore::clipboardChanged, &StudioStore::spectralViewChanged,
                        &StudioStore::editorModeChanged, &StudioStore::snappingChanged,
                        &StudioStore::showAnalysisChanged, &StudioStore::showEnvelopesChanged,
                        &StudioStore::zoomChanged, &StudioStore::selectionChanged})
        connect(&store_, signal, this, &EditorTools::refresh);
    refresh();
}

void EditorTools::refresh() {
    const StudioStore& s = store_;
    const TimelineTool tools[] = {TimelineTool::move, TimelineTool::select, TimelineTool::razor};
    for (std::size_t i = 0; i < 3; ++i) tools_[i]->setActive(s.timelineTool() == tools[i]);
    undo_->setEnabled(!s.undoNames().empty());
    redo_->setEnabled(!s.redoNames().empty());
    clipGroup_->setEnabled(s.selectedIndex().has_value());
    paste_->setEnabled(s.clipboard().has_value());
    marker_->setEnabled(!s.session().tracks.empty());

    const bool mixer = s.editorMode() == EditorMode::mixer;
    display_->setCurrentIndex(s.spectralView() ? 1 : 0);
    display_->setEnabled(!mixer);
    spectralSlot_->setVisible(s.spectralView() && !mixer);
    snapping_->setActive(s.snapping());
    analysis_->setActive(s.showAnalysis());
    envelopes_->setActive(s.showEnvelopes());
    envelopes_->setEnabled(!mixer);
    amplitudeSlot_->setVisible(s.editorMode() == EditorMode::waveform && !s.spectralView());

    const double zoom = s.zoom();
    zoomOut_->setEnabled(!(zoom <= 1.0));
    zoomIn_->setEnabled(!(zoom >= 32.0));
    readout_->setText(ui::qs(num::fixed(zoom, 0) + "\u00D7"));
    zoomSelection_->setEnabled(s.selection().has_value() || s.selectedIndex().has_value());
    placeSpectral();
}

int EditorTools::rowWidthWithoutSpectral() const {
    int w = second_->layout()->minimumSize().width();
    if (spectralSlot_->parentWidget() == second_ && !spectralSlot_->isHidden())
        w -= spectralSlot_->minimumSizeHint().width() + second_->layout()->spacing();
    return w;
}

bool EditorTools::spectralWrapped() const { return spectralSlot_->parentWidget() == third_ && !spectralSlot_->isHidden(); }

QSize EditorTools::minimumSizeHint() const {
    const QMargins m = layout()->contentsMargins();
    int w = std::max(findChild<QWidget*>(QStringLiteral("toolsRow1"))->minimumSizeHint().width(), rowWidthWithoutSpectral());
    // On its own row the toolbar stands under its place after the picker.
    if (!spectralSlot_->isHidden())
        w = std::max(w, display_->sizeHint().width() + second_->layout()->spacing() + spectralSlot_->minimumSizeHint().width());
    return {w + m.left() + m.right(), height()};
}

bool EditorTools::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    // A width of its own, or a toolbar that grew or shrank (the brush size shown or hidden).
    if (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest) placeSpectral();
    return handled;
}

void EditorTools::placeSpectral() {
    if (placing_) return;
    placing_ = true;
    const bool shown = !spectralSlot_->isHidden();
    const int spacing = second_->layout()->spacing();
    const int room = contentsRect().width() - layout()->contentsMargins().left() - layout()->contentsMargins().right();
    const bool wrap = shown && rowWidthWithoutSpectral() + spacing + spectralSlot_->minimumSizeHint().width() > room;
    QWidget* row = wrap ? third_ : second_;
    if (spectralSlot_->parentWidget() != row) {
        static_cast<QBoxLayout*>(spectralSlot_->parentWidget()->layout())->removeWidget(spectralSlot_);
        spectralSlot_->setParent(row);
        // After the picker on row 2; first on row 3, indented to stand under that place.
        static_cast<QBoxLayout*>(row->layout())->insertWidget(wrap ? 0 : 1, spectralSlot_);
        spectralSlot_->setVisible(shown);
    }
    if (wrap) third_->layout()->setContentsMargins(display_->sizeHint().width() + spacing, 0, 0, 0);
    third_->setVisible(wrap);
    setFixedHeight((wrap ? 3 : 2) * kRowHeight);
    placing_ = false;
}

}  // namespace tessoral

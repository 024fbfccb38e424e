#include "timeline/SpectralToolbar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "store/StudioStore.h"
#include "widgets/Fonts.h"
#include "widgets/Palette.h"
#include "widgets/SegmentedControl.h"
#include "widgets/Styling.h"
#include "widgets/ToolButton.h"

namespace tessoral {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

using styling::label;

long long truncated(double v) { return std::isfinite(v) ? static_cast<long long>(std::clamp(v, -1.0e15, 1.0e15)) : 0; }

QString rangeText(double range) { return qs(L("{0} дБ", num::integer(truncated(range)))); }

}  // namespace

void WheelFreeSlider::wheelEvent(QWheelEvent* event) { event->ignore(); }

QString brushSizeText(double size) { return qs(num::integer(truncated(size))) + QStringLiteral(" px"); }

// ---- the display popover ----

SpectralDisplayPopover::SpectralDisplayPopover(StudioStore& store, double range, QWidget* parent)
    : QFrame(parent, Qt::Popup), store_(store), range_(range) {
    setObjectName(QStringLiteral("spectralDisplayPopover"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_NoMouseReplay);  // the click that closes it does not reopen it
    setFrameShape(QFrame::StyledPanel);
    setFixedWidth(250);
    styling::fillBackground(this, Palette::raised());
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(12);
    column->addWidget(label(qs(L("ОТОБРАЖЕНИЕ СПЕКТРА")), Fonts::ui(10, QFont::DemiBold), Palette::secondaryText(), this));

    auto* scaleRow = new QHBoxLayout;
    scaleRow->addWidget(label(qs(L("Шкала частот")), Fonts::ui(11), Palette::primaryText(), this));
    scale_ = new SegmentedControl({qs(title(SpectralScale::log)), qs(title(SpectralScale::linear))}, this);
    scale_->setObjectName(QStringLiteral("frequencyScalePicker"));
    scale_->setAccessibleName(qs(L("Шкала частот")));
    scale_->setToolTip(qs(L("Логарифмическая шкала растягивает низкие частоты, линейная — высокие")));
    connect(scale_, &SegmentedControl::activated, this, [this](int i) {
        SpectralDisplay d = store_.spectralDisplay();
        d.scale = i == 1 ? SpectralScale::linear : SpectralScale::log;
        store_.setSpectralDisplay(d);
    });
    scaleRow->addWidget(scale_, 1);
    column->addLayout(scaleRow);

    auto* rangeBox = new QWidget(this);
    rangeBox->setToolTip(qs(L("Меньший диапазон скрывает тихие составляющие, больший показывает шум и хвосты")));
    auto* rangeColumn = new QVBoxLayout(rangeBox);
    rangeColumn->setContentsMargins(0, 0, 0, 0);
    rangeColumn->setSpacing(6);
    auto* rangeRow = new QHBoxLayout;
    rangeRow->addWidget(label(qs(L("Динамический диапазон")), Fonts::ui(11), Palette::primaryText(), rangeBox));
    rangeRow->addStretch(1);
    rangeLabel_ = label(QString(), Fonts::mono(11), Palette::secondaryText(), rangeBox);
    rangeLabel_->setObjectName(QStringLiteral("dynamicRangeLabel"));
    rangeRow->addWidget(rangeLabel_);
    rangeColumn->addLayout(rangeRow);
    slider_ = new WheelFreeSlider(Qt::Horizontal, rangeBox);
    slider_->setObjectName(QStringLiteral("dynamicRangeSlider"));
    slider_->setAccessibleName(qs(L("Динамический диапазон")));
    slider_->setRange(20, 60);  // steps of 2 dB over 40…120
    slider_->setSingleStep(1);
    slider_->setPageStep(5);
    // The label follows the draft; the store hears of it on release, or at once for a key or
    // page step made without holding the thumb.
    connect(slider_, &QSlider::valueChanged, this, [this](int v) {
        if (loading_) return;
        setRange(2.0 * v, !slider_->isSliderDown());
    });
    connect(slider_, &QSlider::sliderReleased, this, [this] { setRange(2.0 * slider_->value(), true); });
    rangeColumn->addWidget(slider_);
    column->addWidget(rangeBox);

    reset_ = new QPushButton(qs(L("По умолчанию")), this);
    reset_->setObjectName(QStringLiteral("spectralDisplayReset"));
    reset_->setFont(Fonts::ui(11));
    reset_->setAutoDefault(false);
    connect(reset_, &QPushButton::clicked, this, [this] {
        range_ = 66.0;
        store_.setSpectralDisplay(SpectralDisplay{SpectralScale::log, 66.0});
        refresh();
    });
    column->addWidget(reset_, 0, Qt::AlignLeft);

    connect(&store_, &StudioStore::spectralDisplayChanged, this, [this] {
        scale_->setCurrentIndex(store_.spectralDisplay().scale == SpectralScale::linear ? 1 : 0);
    });
    refresh();
}

void SpectralDisplayPopover::setRange(double range, bool write) {
    range_ = range;
    rangeLabel_->setText(rangeText(range_));
    if (!write) return;
    SpectralDisplay d = store_.spectralDisplay();
    d.dynamicRange = range_;
    store_.setSpectralDisplay(d);
}

void SpectralDisplayPopover::refresh() {
    loading_ = true;
    scale_->setCurrentIndex(store_.spectralDisplay().scale == SpectralScale::linear ? 1 : 0);
    const double r = std::isfinite(range_) ? range_ : 66.0;
    slider_->setValue(int(std::lround(std::clamp(r, 40.0, 120.0) / 2.0)));
    rangeLabel_->setText(rangeText(range_));
    loading_ = false;
}

// ---- the toolbar ----

SpectralToolbar::SpectralToolbar(StudioStore& store, QWidget* parent) : QWidget(parent), store_(store) {
    setObjectName(QStringLiteral("spectralToolbar"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(3);
    auto* divider = new QWidget(this);
    divider->setFixedSize(7, 20);
    divider->setAttribute(Qt::WA_TransparentForMouseEvents);
    {
        auto* inner = new QWidget(divider);
        inner->setGeometry(3, 0, 1, 20);
        QPalette pal = inner->palette();
        pal.setColor(QPalette::Window, Palette::line());
        inner->setPalette(pal);
        inner->setAutoFillBackground(true);
    }
    row->addWidget(divider);
    struct Tool {
        SpectralTool tool;
        const char* symbol;
        const char* title;
        const char* name;
    };
    const Tool tools[] = {
        {SpectralTool::rectangle, "rectangle.dashed", "Прямоугольник: время по горизонтали, частоты по вертикали", "spectralRectangle"},
        {SpectralTool::brush, "paintbrush.pointed", "Кисть: закрасьте область спектра; Alt или Shift — стереть из маски", "spectralBrush"},
        {SpectralTool::lasso, "lasso", "Лассо: обведите область произвольной формы; Alt или Shift — вычесть из маски", "spectralLasso"},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        const SpectralTool tool = tools[i].tool;
        tools_[i] = new ToolButton(QString::fromLatin1(tools[i].symbol), qs(L(tools[i].title)), false, Palette::accent(),
                                   [this, tool] { store_.setSpectralTool(tool); }, this);
        tools_[i]->setObjectName(QString::fromLatin1(tools[i].name));
        row->addWidget(tools_[i]);
    }
    brush_ = new WheelFreeSlider(Qt::Horizontal, this);
    brush_->setObjectName(QStringLiteral("brushSizeSlider"));
    brush_->setRange(4, 80);
    brush_->setSingleStep(1);
    // Its full width always: a narrow editor moves the whole toolbar to a row of its own instead.
    brush_->setFixedWidth(80);
    brush_->setToolTip(qs(L("Размер кисти, пикселей")));
    brush_->setAccessibleName(qs(L("Размер кисти")));
    connect(brush_, &QSlider::valueChanged, this, [this](int v) {
        if (truncated(store_.spectralBrushSize()) != v) store_.setSpectralBrushSize(v);
    });
    row->addWidget(brush_);
    brushLabel_ = label(QString(), Fonts::mono(10), Palette::secondaryText(), this);
    brushLabel_->setObjectName(QStringLiteral("brushSizeLabel"));
    brushLabel_->setFixedWidth(38);
    row->addWidget(brushLabel_);
    display_ = new ToolButton(QStringLiteral("slider.vertical.3"), qs(L("Отображение спектра: шкала и динамический диапазон")),
                              false, Palette::accent(), [this] { toggleDisplay(); }, this);
    display_->setObjectName(QStringLiteral("spectralDisplayButton"));
    row->addWidget(display_);

    connect(&store_, &StudioStore::spectralToolChanged, this, &SpectralToolbar::refresh);
    connect(&store_, &StudioStore::spectralBrushSizeChanged, this, &SpectralToolbar::refresh);
    refresh();
}

void SpectralToolbar::refresh() {
    const SpectralTool tool = store_.spectralTool();
    for (std::size_t i = 0; i < 3; ++i) tools_[i]->setActive(int(tool) == int(i));
    const bool brush = tool == SpectralTool::brush;
    brush_->setVisible(brush);
    brushLabel_->setVisible(brush);
    const double size = store_.spectralBrushSize();
    const QSignalBlocker quiet(brush_);
    brush_->setValue(int(std::clamp<long long>(truncated(size), 4, 80)));
    brushLabel_->setText(brushSizeText(size));
}

void SpectralToolbar::toggleDisplay() {
    range_ = store_.spectralDisplay().dynamicRange;
    if (popover_ && popover_->isVisible()) {
        popover_->close();
        display_->setActive(false);
        return;
    }
    popover_ = new SpectralDisplayPopover(store_, range_, this);
    // The button hears of the closing (a click outside included) while it exists itself.
    connect(popover_, &QObject::destroyed, display_, [button = display_] { button->setActive(false); });
    popover_->adjustSize();
    // Above the button, or below it where the screen has no room above (the window near the top
    // of the screen, or on Wayland, where a window's own corner is the origin); never over it.
    const QRect button(display_->mapToGlobal(QPoint(0, 0)), display_->size());
    const QScreen* screen = display_->screen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    const int gap = 4;
    int y = button.top() - gap - popover_->height();
    if (!area.isEmpty() && y < area.top()) y = button.bottom() + 1 + gap;
    int x = button.center().x() + 1 - popover_->width() / 2;
    if (!area.isEmpty()) x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - popover_->width()));
    popover_->move(x, y);
    popover_->show();
    display_->setActive(true);
}

}  // namespace tessoral

#include "app/editor/SelectionBar.h"

#include <QHBoxLayout>
#include <QLabel>

#include <cmath>
#include <limits>

#include "app/inspector/InspectorStyle.h"
#include "model/Localization.h"
#include "store/StudioStore.h"
#include "widgets/Icons.h"
#include "widgets/NumberField.h"
#include "widgets/ToolButton.h"

namespace tessoral {

namespace {

// Halves away from zero, saturated (a non-finite bound reads 0).
long long wholeHertz(double hz) {
    if (!std::isfinite(hz)) return 0;
    const double r = std::round(hz);
    if (r >= 9.2e18) return std::numeric_limits<long long>::max();
    if (r <= -9.2e18) return std::numeric_limits<long long>::min();
    return static_cast<long long>(r);
}

}  // namespace

QString SelectionBar::bandText(double lo, double hi) {
    return ui::qs(L("·  {0} – {1} Гц", wholeHertz(lo), wholeHertz(hi)));
}

SelectionBar::SelectionBar(StudioStore& store, QWidget* parent) : QWidget(parent), store_(store) {
    setObjectName(QStringLiteral("selectionBar"));
    setFixedHeight(kHeight);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Palette::panel());
    setPalette(pal);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 0, 12, 0);
    row->setSpacing(12);

    auto* symbol = new QLabel(this);
    symbol->setObjectName(QStringLiteral("selectionSymbol"));
    symbol->setPixmap(Icons::pixmap(QStringLiteral("selection.pin.in.out"), Palette::secondaryText(), 14,
                                    devicePixelRatioF()));
    row->addWidget(symbol);

    none_ = ui::label(ui::qs(L("Нет выделения")), Fonts::ui(11), Palette::secondaryText(), this);
    none_->setObjectName(QStringLiteral("noSelection"));
    row->addWidget(none_);

    // The selection's own controls, shown together while there is a selection.
    fields_ = new QWidget(this);
    fields_->setObjectName(QStringLiteral("selectionFields"));
    auto* f = new QHBoxLayout(fields_);
    f->setContentsMargins(0, 0, 0, 0);
    f->setSpacing(12);
    start_ = new NumberField(0.0, [this](double v) { store_.setSelectionBoundary(v, std::nullopt); }, fields_);
    start_->setObjectName(QStringLiteral("selectionStart"));
    start_->setFixedWidth(72);
    start_->setToolTip(ui::qs(L("Начало выделения, секунды")));
    f->addWidget(start_);
    f->addWidget(ui::label(QStringLiteral("\u2013"), Fonts::ui(11), Palette::secondaryText(), fields_));
    end_ = new NumberField(0.0, [this](double v) { store_.setSelectionBoundary(std::nullopt, v); }, fields_);
    end_->setObjectName(QStringLiteral("selectionEnd"));
    end_->setFixedWidth(72);
    end_->setToolTip(ui::qs(L("Конец выделения, секунды")));
    f->addWidget(end_);
    span_ = ui::label({}, Fonts::mono(10), Palette::secondaryText(), fields_);
    span_->setObjectName(QStringLiteral("selectionSpan"));
    f->addWidget(span_);
    length_ = ui::label({}, Fonts::mono(10), Palette::secondaryText(), fields_);
    length_->setObjectName(QStringLiteral("selectionLength"));
    length_->setToolTip(ui::qs(L("Длина выделения")));
    f->addWidget(length_);
    band_ = ui::label({}, Fonts::mono(10), Palette::accent(), fields_);
    band_->setObjectName(QStringLiteral("selectionBand"));
    f->addWidget(band_);
    clear_ = new ToolButton(QStringLiteral("xmark"), ui::qs(L("Снять выделение")), false, Palette::primaryText(),
                            [this] { store_.setSelection(std::nullopt); }, fields_);
    clear_->setObjectName(QStringLiteral("clearSelection"));
    f->addWidget(clear_);
    row->addWidget(fields_);

    row->addStretch(1);
    project_ = ui::label({}, Fonts::mono(11), Palette::secondaryText(), this);
    project_->setObjectName(QStringLiteral("projectLength"));
    row->addWidget(project_);

    for (auto signal : {&StudioStore::selectionChanged, &StudioStore::freqSelectionChanged,
                        &StudioStore::timeFormatChanged, &StudioStore::sessionChanged})
        connect(&store_, signal, this, &SelectionBar::refresh);
    refresh();
}

void SelectionBar::refresh() {
    const StudioStore& s = store_;
    const auto& selection = s.selection();
    none_->setVisible(!selection);
    fields_->setVisible(selection.has_value());
    if (selection) {
        start_->setValue(selection->lower);
        end_->setValue(selection->upper);
        const TimeFormat format = s.timeFormat();
        const bool span = format == TimeFormat::samples || format == TimeFormat::bars;
        span_->setVisible(span);
        if (span) span_->setText(ui::qs(s.formatTime(selection->lower) + " \u2013 " + s.formatTime(selection->upper)));
        length_->setText(ui::qs(s.formatDuration(selection->upper - selection->lower)));
        const auto& band = s.freqSelection();
        band_->setVisible(band.has_value());
        if (band) band_->setText(bandText(band->lower, band->upper));
    }
    const QString total = ui::qs(s.formatTime(s.session().duration()));
    if (project_->text() != total) project_->setText(total);
}

}  // namespace tessoral

#include "panels/EffectEditor.h"

#include <QCheckBox>
#include <QFocusEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "model/Localization.h"
#include "panels/EQCurve.h"
#include "panels/PanelSupport.h"
#include "store/StudioStore.h"
#include "widgets/NumberField.h"
#include "widgets/Fonts.h"
#include "widgets/Palette.h"
#include "widgets/SegmentedControl.h"
#include "widgets/Styling.h"
#include "widgets/ValueSlider.h"

namespace tessoral {

using panels::qs;

namespace {

void setTextColour(QWidget* w, const QColor& colour) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, colour);
    w->setPalette(pal);
}

using styling::divider;

// What the slot's dictionary gives for a parameter: the default when missing or not finite, a
// switch as 0 or 1, anything else clamped into range.
double effectiveValue(const EffectParameter& p, const EffectParams& params) {
    const auto entry = params.find(p.key);
    if (entry == params.end() || !std::isfinite(entry->second)) return p.defaultValue;
    if (p.toggle) return entry->second >= 0.5 ? 1.0 : 0.0;
    return std::min(std::max(entry->second, p.range.lower), p.range.upper);
}

}  // namespace

double quantizedEffectValue(const EffectParameter& parameter, double value) {
    const double m = std::fabs(value) < 10 ? 100.0 : 1.0;
    const double r = std::round(value * m) / m;
    if (!std::isfinite(r)) return parameter.defaultValue;
    if (parameter.toggle) return r >= 0.5 ? 1.0 : 0.0;
    return std::min(std::max(r, parameter.range.lower), parameter.range.upper);
}

// ---- ParameterField ----

ParameterField::ParameterField(QWidget* parent) : QLineEdit(parent) {
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setFixedWidth(64);
    setFont(Fonts::ui(11));
    connect(this, &QLineEdit::editingFinished, this, [this] { Q_EMIT submitted(parse(text())); });
}

QString ParameterField::format(double value) {
    if (!std::isfinite(value)) return {};
    // Two decimals at most, none when they are zero, never grouped: "12,5", "85", "20000".
    const QLocale locale = NumberField::locale();
    QString text = locale.toString(value, 'f', 2);
    const QString point = locale.decimalPoint();
    if (text.contains(point)) {
        while (text.endsWith(QLatin1Char('0'))) text.chop(1);
        if (text.endsWith(point)) text.chop(point.size());
    }
    return text;
}

std::optional<double> ParameterField::parse(const QString& text) {
    bool ok = false;
    QString t = text.trimmed();
    // A typed ordinary blank stands for the locale's group separator (a no-break space in Russian).
    const QString group = QLocale().groupSeparator();
    if (group == QString(QChar(0x00A0))) t.replace(QLatin1Char(' '), QChar(0x00A0));
    const double v = QLocale().toDouble(t, &ok);
    // The locale reads "inf" and "nan" as numbers: none that a parameter can hold.
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

void ParameterField::showValue(double value, bool evenWhileEditing) {
    // What the user is typing stays until it is submitted.
    if (hasFocus() && isModified() && !evenWhileEditing) return;
    const QString text = format(value);
    if (this->text() != text) setText(text);
}

// ---- EffectParameterRow ----

EffectParameterRow::EffectParameterRow(EffectParameter parameter, double value, std::function<void()> begin,
                                       std::function<void(double)> commit, QWidget* parent)
    : QWidget(parent),
      parameter_(std::move(parameter)),
      value_(value),
      typed_(value),
      begin_(std::move(begin)),
      commit_(std::move(commit)) {
    setObjectName(QString::fromStdString(parameter_.key));
    const QString title = qs(parameter_.title);
    if (parameter_.toggle) {
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(0, 0, 0, 0);
        toggle_ = new QCheckBox(title, this);
        toggle_->setFont(Fonts::ui(11));
        toggle_->setChecked(value_ >= 0.5);
        row->addWidget(toggle_);
        row->addStretch(1);
        // A switch commits at once, without the drag's stop.
        connect(toggle_, &QCheckBox::clicked, this, [this](bool on) {
            if (commit_) commit_(on ? 1.0 : 0.0);
            toggle_->setChecked(value_ >= 0.5);
        });
        return;
    }
    setToolTip(title + QStringLiteral(": ") + qs(parameter_.display(parameter_.range.lower)) + QStringLiteral(" \u2026 ") +
               qs(parameter_.display(parameter_.range.upper)));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    auto* line = new QHBoxLayout;
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(4);
    auto* titleLabel = new QLabel(title, this);
    titleLabel->setFont(Fonts::ui(11));
    line->addWidget(titleLabel, 1);
    field_ = new ParameterField(this);
    field_->setAccessibleName(title);
    line->addWidget(field_);
    auto* unit = new QLabel(qs(parameter_.unit), this);
    unit->setFont(Fonts::ui(11));
    unit->setFixedWidth(22);
    setTextColour(unit, Palette::secondaryText());
    line->addWidget(unit);
    column->addLayout(line);

    slider_ = new ValueSlider(
        QString(), parameter_.position(value_), 0.0, 1.0, QString(), true,
        [this] {
            dragging_ = true;
            if (begin_) begin_();
        },
        [this](double position) {
            dragging_ = false;
            // A press that did not move the thumb keeps the exact stored position (the slider's
            // own grain would otherwise nudge the value).
            const double p = slider_->slider()->sliderPosition() == placed_ ? parameter_.position(value_) : position;
            const double v = quantizedEffectValue(parameter_, parameter_.value(p));
            typed_ = v;
            field_->showValue(v, true);
            if (commit_) commit_(v);
            syncFromValue();
        },
        this);
    slider_->displayLabel()->hide();
    slider_->slider()->setAccessibleName(title);
    column->addWidget(slider_);
    // While held, the field follows the thumb live; nothing reaches the store.
    connect(slider_->slider(), &QSlider::valueChanged, this, [this] {
        if (!dragging_) return;
        typed_ = quantizedEffectValue(parameter_, parameter_.value(slider_->draft()));
        field_->showValue(typed_, true);
    });
    connect(field_, &ParameterField::submitted, this, &EffectParameterRow::commitTyped);
    syncFromValue();
}

void EffectParameterRow::syncFromValue() {
    if (toggle_) {
        toggle_->setChecked(value_ >= 0.5);
        return;
    }
    typed_ = value_;
    field_->showValue(value_);
    if (dragging_) return;
    slider_->setValue(parameter_.position(value_));
    placed_ = slider_->slider()->sliderPosition();
}

void EffectParameterRow::setValue(double value) {
    if (value == value_) return;
    value_ = value;
    if (dragging_) return;  // the held draft stays; the release commits and re-reads
    syncFromValue();
}

void EffectParameterRow::commitTyped(std::optional<double> parsed) {
    // Text that reads as no number leaves the typed value as it was.
    if (parsed) typed_ = *parsed;
    if (!std::isfinite(typed_)) {
        typed_ = value_;
        field_->showValue(typed_, true);
        return;
    }
    const double v = parameter_.toggle ? (typed_ >= 0.5 ? 1.0 : 0.0)
                                       : std::min(std::max(typed_, parameter_.range.lower), parameter_.range.upper);
    typed_ = v;
    field_->showValue(v, true);
    if (std::fabs(v - value_) > 1e-9 && commit_) commit_(v);
}

// ---- EffectEditorView ----

EffectEditorView::EffectEditorView(StudioStore& store, TransportSignals* transport, Uuid trackID, Uuid slotID,
                                   QWidget* parent)
    : QWidget(parent), store_(store), trackID_(trackID), slotID_(slotID) {
    setObjectName(QStringLiteral("effectEditor"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSizeConstraint(QLayout::SetFixedSize);
    gonePage_ = new QWidget(this);
    auto* goneLayout = new QVBoxLayout(gonePage_);
    goneLayout->setContentsMargins(20, 20, 20, 20);
    auto* goneText = new QLabel(qs(L("Эффект удалён")), gonePage_);
    goneText->setObjectName(QStringLiteral("goneText"));
    setTextColour(goneText, Palette::secondaryText());
    goneLayout->addWidget(goneText);
    outer->addWidget(gonePage_);
    panels::followLocked(this, store_, transport);
    connect(&store_, &StudioStore::sessionChanged, this, &EffectEditorView::refresh);
    refresh();
}

std::optional<EffectEditorView::Found> EffectEditorView::lookup() const {
    for (const Track& clip : store_.session().tracks) {
        if (clip.id != trackID_) continue;
        for (const EffectSlot& slot : clip.rack)
            if (slot.id == slotID_) return Found{slot.preset, slot.params};
        return std::nullopt;
    }
    return std::nullopt;
}

EffectParameterRow* EffectEditorView::row(const std::string& key) const {
    const auto it = rows_.find(key);
    return it == rows_.end() ? nullptr : it->second;
}

void EffectEditorView::setBand(const std::string& band) {
    if (band == band_) return;
    band_ = band;
    if (curve_) curve_->setSelectedBand(band_);
    showBandRows();
}

void EffectEditorView::showBandRows() {
    if (!bands_) return;
    const auto& list = EQDesign::parametricBands();
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].id == band_) bands_->setCurrentIndex(static_cast<int>(i));
    const std::string prefix = band_ + ".";
    for (auto& [key, row] : rows_) row->setVisible(key.rfind(prefix, 0) == 0);
}

void EffectEditorView::commitKey(const std::string& key, double value) {
    const auto found = lookup();
    if (!found) return;
    EffectParams copy = found->params;
    copy[key] = value;
    store_.setEffectParams(trackID_, slotID_, copy);
}

void EffectEditorView::build(const Found& slot) {
    if (editor_) {
        layout()->removeWidget(editor_);
        editor_->hide();
        editor_->deleteLater();
    }
    rows_.clear();
    curve_ = nullptr;
    bands_ = nullptr;
    builtFor_ = slot.preset;
    const bool eq = isEqualizer(slot.preset);

    editor_ = new QWidget(this);
    editor_->setFixedWidth(eq ? 560 : 320);
    auto* column = new QVBoxLayout(editor_);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(10);

    auto* header = new QHBoxLayout;
    auto* heading = new QLabel(qs(L("Параметры эффекта")), editor_);
    heading->setFont(Fonts::ui(13, QFont::DemiBold));
    header->addWidget(heading);
    header->addStretch(1);
    title_ = new QLabel(qs(title(slot.preset)), editor_);
    title_->setObjectName(QStringLiteral("presetTitle"));
    title_->setFont(Fonts::ui(11));
    setTextColour(title_, Palette::secondaryText());
    header->addWidget(title_);
    column->addLayout(header);

    if (eq) {
        curve_ = new EQCurveView(
            slot.preset, slot.params, [this] { store_.stop(); },
            [this](const EffectParams& params) { store_.setEffectParams(trackID_, slotID_, params); }, editor_);
        curve_->setFixedHeight(230);
        if (slot.preset == EffectPreset::parametricEQ) curve_->setSelectedBand(band_);
        connect(curve_, &EQCurveView::selectedBandChanged, this,
                [this](const QString& id) { setBand(id.toStdString()); });
        column->addWidget(curve_);
    }

    const std::vector<EffectParameter> list = parameters(slot.preset);
    auto makeRow = [&](const EffectParameter& p) {
        const std::string key = p.key;
        auto* r = new EffectParameterRow(
            p, effectiveValue(p, slot.params), [this] { store_.stop(); },
            [this, key](double v) { commitKey(key, v); }, editor_);
        rows_[key] = r;
        return r;
    };
    if (slot.preset == EffectPreset::parametricEQ) {
        QStringList titles;
        for (const EQBandSpec& band : EQDesign::parametricBands()) titles << qs(band.title);
        bands_ = new SegmentedControl(titles, editor_);
        bands_->setAccessibleName(qs(L("Полоса")));
        // The small control size: eight texts keep off the dividers in the popover's width.
        bands_->setFont(Fonts::ui(11, QFont::Medium));
        connect(bands_, &SegmentedControl::activated, this, [this](int index) {
            const auto& all = EQDesign::parametricBands();
            if (index >= 0 && index < static_cast<int>(all.size())) setBand(all[static_cast<std::size_t>(index)].id);
        });
        column->addWidget(bands_);
        auto* rowsBox = new QVBoxLayout;
        rowsBox->setSpacing(9);
        for (const EffectParameter& p : list) rowsBox->addWidget(makeRow(p));
        column->addLayout(rowsBox);
    } else if (list.empty()) {
        auto* none = new QLabel(qs(L("У этого эффекта нет настраиваемых параметров.")), editor_);
        none->setObjectName(QStringLiteral("noParameters"));
        none->setFont(Fonts::ui(11));
        none->setWordWrap(true);
        setTextColour(none, Palette::secondaryText());
        column->addWidget(none);
    } else if (slot.preset == EffectPreset::graphicEQ) {
        auto* grid = new QGridLayout;
        grid->setHorizontalSpacing(14);
        grid->setVerticalSpacing(8);
        for (std::size_t i = 0; i < list.size(); ++i)
            grid->addWidget(makeRow(list[i]), static_cast<int>(i / 2), static_cast<int>(i % 2));
        column->addLayout(grid);
    } else {
        auto* rowsBox = new QVBoxLayout;
        rowsBox->setSpacing(9);
        for (const EffectParameter& p : list) rowsBox->addWidget(makeRow(p));
        column->addLayout(rowsBox);
    }

    column->addWidget(divider(editor_));
    auto* footer = new QHBoxLayout;
    reset_ = new QPushButton(qs(L("Сброс")), editor_);
    reset_->setObjectName(QStringLiteral("reset"));
    reset_->setToolTip(qs(L("Вернуть значения по умолчанию")));
    reset_->setAutoDefault(false);
    connect(reset_, &QPushButton::clicked, this, [this] { store_.setEffectParams(trackID_, slotID_, {}); });
    footer->addWidget(reset_);
    footer->addStretch(1);
    auto* note = new QLabel(qs(L("Слышно при следующем воспроизведении")), editor_);
    note->setFont(Fonts::ui(10));
    note->setWordWrap(true);  // the narrow panel gives it two lines
    note->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setTextColour(note, Palette::tertiaryText());
    footer->addWidget(note, 1);
    column->addLayout(footer);

    layout()->addWidget(editor_);
    showBandRows();
}

void EffectEditorView::refresh() {
    const auto found = lookup();
    gone_ = !found;
    gonePage_->setVisible(gone_);
    if (!found) {
        if (editor_) editor_->hide();
        return;
    }
    if (builtFor_ != found->preset) build(*found);
    for (auto& [key, r] : rows_) r->setValue(effectiveValue(r->parameter(), found->params));
    if (curve_) curve_->setParams(found->params);
    reset_->setEnabled(!found->params.empty());
    editor_->show();
}

}  // namespace tessoral

#include "panels/ProcessingSheet.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "model/Track.h"
#include "panels/PanelSupport.h"
#include "panels/ProcessingSheetStyle.h"
#include "store/StudioStore.h"
#include "widgets/NumberField.h"
#include "widgets/SegmentedControl.h"

namespace tessoral::panels {

namespace {

QString headingOf(ProcessingSheet sheet) {
    switch (sheet) {
        case ProcessingSheet::width: return qs(L("Ширина стереобазы"));
        case ProcessingSheet::center: return qs(L("Извлечь центр / убрать вокал"));
        case ProcessingSheet::tone: return qs(L("Генерация тона"));
        case ProcessingSheet::noise: return qs(L("Генерация шума"));
        case ProcessingSheet::silence: return qs(L("Вставить тишину"));
    }
    return {};
}

QString primaryOf(ProcessingSheet sheet) {
    switch (sheet) {
        case ProcessingSheet::width:
        case ProcessingSheet::center: return qs(L("Применить"));
        case ProcessingSheet::tone:
        case ProcessingSheet::noise: return qs(L("Создать дорожку"));
        case ProcessingSheet::silence: return qs(L("Вставить#insert"));
    }
    return {};
}

// A slider position for a value on a grid of `step` (saturating; not a number: the middle).
int positionOf(double value, double step, const QSlider* slider) {
    if (!std::isfinite(value)) return (slider->minimum() + slider->maximum()) / 2;
    const double p = std::round(value / step);
    return static_cast<int>(std::clamp(p, static_cast<double>(slider->minimum()), static_cast<double>(slider->maximum())));
}

// A whole number of the seed field as the store holds it (saturating at the type's ends).
long long seedOf(double value) {
    constexpr double lo = -9.2e18, hi = 9.2e18;
    return static_cast<long long>(std::clamp(value, lo, hi));
}

}  // namespace

ProcessingSheetView::ProcessingSheetView(StudioStore& store, ProcessingSheet sheet, QWidget* parent)
    : QWidget(parent), store_(store), sheet_(sheet) {
    setObjectName(QStringLiteral("processingSheet"));
    setFixedWidth(kWidth);
    build();
    // Escape and the window manager's close reject the dialog: that is "Отмена" too. Connected
    // before the sheet host hears of it, so the error is gone before the flag.
    if (auto* dialog = qobject_cast<QDialog*>(parent))
        connect(dialog, &QDialog::finished, this, [this](int result) {
            if (result == QDialog::Rejected && store_.diagnostics().sheet) cancel();
        });
    connect(&store_, &StudioStore::diagnosticsChanged, this, &ProcessingSheetView::refresh);
    for (auto signal : {&StudioStore::selectionChanged, &StudioStore::cursorChanged, &StudioStore::selectedIDChanged,
                        &StudioStore::sessionChanged})
        connect(&store_, signal, this, &ProcessingSheetView::refresh);
    refresh();
}

void ProcessingSheetView::write(const std::function<void(DiagnosticsState&)>& change) {
    DiagnosticsState d = store_.diagnostics();
    change(d);
    store_.setDiagnostics(std::move(d));
}

QSlider* ProcessingSheetView::valueRow(const QString& title, double lower, double upper, double step) {
    auto* box = new QVBoxLayout;
    box->setSpacing(6);
    auto* line = new QHBoxLayout;
    line->addWidget(style::label(title, Fonts::ui(12), Palette::primaryText(), this));
    line->addStretch(1);
    value_ = style::label({}, Fonts::mono(12), Palette::secondaryText(), this);
    value_->setObjectName(QStringLiteral("value"));
    line->addWidget(value_);
    box->addLayout(line);
    step_ = step;
    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setObjectName(QStringLiteral("slider"));
    slider_->setAccessibleName(title);
    slider_->setRange(static_cast<int>(std::lround(lower / step)), static_cast<int>(std::lround(upper / step)));
    slider_->setPageStep(std::max(1, static_cast<int>(std::lround((upper - lower) / step / 10.0))));
    box->addWidget(slider_);
    static_cast<QVBoxLayout*>(layout())->addLayout(box);
    return slider_;
}

NumberField* ProcessingSheetView::field(int width, int decimals, const QString& label,
                                        std::function<void(double)> commit) {
    auto* f = new NumberField(0.0, std::move(commit), this);
    f->setPlaceholderText({});
    f->setDecimals(decimals);
    f->setFixedWidth(width);
    f->setAccessibleName(label);
    f->setAlignment(Qt::AlignRight);
    fields_.push_back(f);
    return f;
}

NumberField* ProcessingSheetView::numberRow(const QString& title, const QString& unit, int decimals,
                                            std::function<void(double)> commit) {
    auto* line = new QHBoxLayout;
    line->addWidget(style::label(title, Fonts::ui(12), Palette::primaryText(), this));
    line->addStretch(1);
    NumberField* f = field(90, decimals, title, std::move(commit));
    line->addWidget(f);
    auto* u = style::label(unit, Fonts::ui(11), Palette::secondaryText(), this);
    u->setFixedWidth(22);
    line->addWidget(u);
    static_cast<QVBoxLayout*>(layout())->addLayout(line);
    return f;
}

void ProcessingSheetView::build() {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(26, 26, 26, 26);
    column->setSpacing(18);
    heading_ = style::label(headingOf(sheet_), Fonts::ui(20, QFont::DemiBold), Palette::primaryText(), this);
    heading_->setObjectName(QStringLiteral("heading"));
    column->addWidget(heading_);

    auto placementLine = [this, column] {
        placement_ = style::note({}, 10, this);
        placement_->setObjectName(QStringLiteral("placement"));
        column->addWidget(placement_);
    };

    switch (sheet_) {
        case ProcessingSheet::width: {
            scope_ = style::label({}, Fonts::ui(11), Palette::secondaryText(), this);
            scope_->setObjectName(QStringLiteral("scope"));
            column->addWidget(scope_);
            valueRow(qs(L("Ширина")), 0.0, 200.0, 5.0);
            connect(slider_, &QSlider::valueChanged, this, [this](int p) {
                const double v = p * step_;
                if (store_.diagnostics().widthPercent != v) write([v](DiagnosticsState& d) { d.widthPercent = v; });
            });
            column->addWidget(style::note(qs(L("0% — моно, 100% — без изменений, 200% — вдвое более широкая "
                                               "стереокартина (усиление разностного сигнала).")),
                                          10, this));
            break;
        }
        case ProcessingSheet::center: {
            scope_ = style::label({}, Fonts::ui(11), Palette::secondaryText(), this);
            scope_->setObjectName(QStringLiteral("scope"));
            column->addWidget(scope_);
            QStringList modes;
            for (CenterMode m : allCases<CenterMode>()) modes << qs(title(m));
            picker_ = new SegmentedControl(modes, this);
            picker_->setAccessibleName(qs(L("Режим")));
            connect(picker_, &SegmentedControl::activated, this, [this](int i) {
                const CenterMode m = allCases<CenterMode>()[static_cast<std::size_t>(std::clamp(i, 0, 1))];
                if (store_.diagnostics().center.mode != m) write([m](DiagnosticsState& d) { d.center.mode = m; });
            });
            column->addWidget(picker_);
            auto* band = new QHBoxLayout;
            band->addWidget(style::label(qs(L("Частоты")), Fonts::ui(12), Palette::primaryText(), this));
            band->addStretch(1);
            band->addWidget(field(70, 0, qs(L("от")), [this](double v) {
                write([v](DiagnosticsState& d) { d.center.lowHz = v; });
            }));
            band->addWidget(style::label(QStringLiteral("\u2013"), Fonts::ui(12), Palette::secondaryText(), this));
            band->addWidget(field(70, 0, qs(L("до")), [this](double v) {
                write([v](DiagnosticsState& d) { d.center.highHz = v; });
            }));
            band->addWidget(style::label(qs(L("Гц")), Fonts::ui(11), Palette::secondaryText(), this));
            column->addLayout(band);
            column->addWidget(style::note(qs(L("Центр — то, что одинаково звучит в обоих каналах (обычно вокал, бас, "
                                               "бочка). Частоты вне диапазона не меняются: для вокала подойдёт "
                                               "120 – 8000 Гц.")),
                                          10, this));
            break;
        }
        case ProcessingSheet::tone: {
            QStringList forms;
            for (ToneWaveform w : allCases<ToneWaveform>()) forms << qs(title(w));
            picker_ = new SegmentedControl(forms, this);
            picker_->setAccessibleName(qs(L("Форма")));
            connect(picker_, &SegmentedControl::activated, this, [this](int i) {
                const auto cases = allCases<ToneWaveform>();
                if (i < 0 || i >= static_cast<int>(cases.size())) return;
                const ToneWaveform w = cases[static_cast<std::size_t>(i)];
                if (store_.diagnostics().toneWaveform != w) write([w](DiagnosticsState& d) { d.toneWaveform = w; });
            });
            column->addWidget(picker_);
            numberRow(qs(L("Частота")), qs(L("Гц")), 1,
                      [this](double v) { write([v](DiagnosticsState& d) { d.toneFrequency = v; }); });
            valueRow(qs(L("Пиковый уровень")), -60.0, 0.0, 0.5);
            connect(slider_, &QSlider::valueChanged, this, [this](int p) {
                const double v = p * step_;
                if (store_.diagnostics().toneLevelDB != v) write([v](DiagnosticsState& d) { d.toneLevelDB = v; });
            });
            numberRow(qs(L("Длительность")), qs(L("с")), 2,
                      [this](double v) { write([v](DiagnosticsState& d) { d.toneDuration = v; }); });
            placementLine();
            break;
        }
        case ProcessingSheet::noise: {
            QStringList colors;
            for (NoiseColor c : allCases<NoiseColor>()) colors << qs(title(c));
            picker_ = new SegmentedControl(colors, this);
            picker_->setAccessibleName(qs(L("Цвет")));
            connect(picker_, &SegmentedControl::activated, this, [this](int i) {
                const auto cases = allCases<NoiseColor>();
                if (i < 0 || i >= static_cast<int>(cases.size())) return;
                const NoiseColor c = cases[static_cast<std::size_t>(i)];
                if (store_.diagnostics().noiseColor != c) write([c](DiagnosticsState& d) { d.noiseColor = c; });
            });
            column->addWidget(picker_);
            valueRow(qs(L("Уровень (RMS)")), -60.0, -6.0, 0.5);
            connect(slider_, &QSlider::valueChanged, this, [this](int p) {
                const double v = p * step_;
                if (store_.diagnostics().noiseLevelDB != v) write([v](DiagnosticsState& d) { d.noiseLevelDB = v; });
            });
            numberRow(qs(L("Длительность")), qs(L("с")), 2,
                      [this](double v) { write([v](DiagnosticsState& d) { d.noiseDuration = v; }); });
            {
                auto* seedRow = new QWidget(this);
                seedRow->setToolTip(qs(L("Одинаковое зерно даёт одинаковый шум")));
                auto* line = new QHBoxLayout(seedRow);
                line->setContentsMargins(0, 0, 0, 0);
                line->addWidget(style::label(qs(L("Зерно")), Fonts::ui(12), Palette::primaryText(), seedRow));
                line->addStretch(1);
                NumberField* seed = field(90, 0, qs(L("Зерно")), [this](double v) {
                    const long long s = seedOf(v);
                    write([s](DiagnosticsState& d) { d.noiseSeed = s; });
                });
                seed->setIntegral(true);
                seed->setParent(seedRow);
                line->addWidget(seed);
                column->addWidget(seedRow);
            }
            placementLine();
            break;
        }
        case ProcessingSheet::silence: {
            silenceNote_ = style::note({}, 11, this);
            silenceNote_->setObjectName(QStringLiteral("silenceNote"));
            column->addWidget(silenceNote_);
            numberRow(qs(L("Длительность")), qs(L("с")), 3,
                      [this](double v) { write([v](DiagnosticsState& d) { d.silenceDuration = v; }); });
            break;
        }
    }

    error_ = new SheetErrorText(store_, this);
    column->addWidget(error_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cancel_ = new QPushButton(qs(L("Отмена")), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, &ProcessingSheetView::cancel);
    primary_ = new QPushButton(primaryOf(sheet_), this);
    primary_->setObjectName(QStringLiteral("primary"));
    primary_->setDefault(true);
    style::makeProminent(primary_);
    connect(primary_, &QPushButton::clicked, this, &ProcessingSheetView::apply);
    buttons->addWidget(cancel_);
    buttons->addWidget(primary_);
    column->addLayout(buttons);
}

void ProcessingSheetView::refresh() {
    const DiagnosticsState& d = store_.diagnostics();
    if (scope_)
        scope_->setText(qs(store_.selection() ? L("Применяется к выделенному фрагменту.")
                                              : L("Применяется ко всему выбранному клипу.")));
    if (placement_) placement_->setText(qs(L("Новая дорожка начнётся в позиции курсора {0}.", timeLabel(store_.cursor()))));
    if (silenceNote_) {
        const auto index = store_.selectedIndex();
        silenceNote_->setText(index ? qs(L("Клип «{0}», позиция курсора {1}. Остаток клипа сдвинется вправо.",
                                           store_.session().tracks[*index].name, timeLabel(store_.cursor())))
                                    : qs(L("Выберите клип.")));
    }
    auto setSlider = [this](double value, const QString& text) {
        const QSignalBlocker blocker(slider_);
        slider_->setValue(positionOf(value, step_, slider_));
        value_->setText(text);
    };
    switch (sheet_) {
        case ProcessingSheet::width:
            setSlider(d.widthPercent, qs(num::fixed(d.widthPercent, 0) + "%"));
            break;
        case ProcessingSheet::center: {
            const auto modes = allCases<CenterMode>();
            picker_->setCurrentIndex(static_cast<int>(std::find(modes.begin(), modes.end(), d.center.mode) - modes.begin()));
            fields_[0]->setValue(d.center.lowHz);
            fields_[1]->setValue(d.center.highHz);
            break;
        }
        case ProcessingSheet::tone: {
            const auto forms = allCases<ToneWaveform>();
            picker_->setCurrentIndex(static_cast<int>(std::find(forms.begin(), forms.end(), d.toneWaveform) - forms.begin()));
            fields_[0]->setValue(d.toneFrequency);
            setSlider(d.toneLevelDB, qs(num::fixed(d.toneLevelDB, 1) + " dBFS"));
            fields_[1]->setValue(d.toneDuration);
            break;
        }
        case ProcessingSheet::noise: {
            const auto colors = allCases<NoiseColor>();
            picker_->setCurrentIndex(static_cast<int>(std::find(colors.begin(), colors.end(), d.noiseColor) - colors.begin()));
            setSlider(d.noiseLevelDB, qs(num::fixed(d.noiseLevelDB, 1) + " dBFS"));
            fields_[0]->setValue(d.noiseDuration);
            fields_[1]->setValue(static_cast<double>(d.noiseSeed));
            break;
        }
        case ProcessingSheet::silence: fields_[0]->setValue(d.silenceDuration); break;
    }
}

void ProcessingSheetView::cancel() {
    store_.setError(std::nullopt);
    if (!store_.diagnostics().sheet) return;
    write([](DiagnosticsState& d) { d.sheet = std::nullopt; });
}

void ProcessingSheetView::apply() {
    store_.setError(std::nullopt);
    const DiagnosticsState d = store_.diagnostics();
    switch (sheet_) {
        case ProcessingSheet::width: store_.applyChannelOperation(ChannelOperation::width(d.widthPercent / 100.0)); break;
        case ProcessingSheet::center: store_.applyChannelOperation(ChannelOperation::center(d.center)); break;
        case ProcessingSheet::tone: store_.generateTone(); break;
        case ProcessingSheet::noise: store_.generateNoise(); break;
        case ProcessingSheet::silence: store_.insertSilence(); break;
    }
}

}  // namespace tessoral::panels

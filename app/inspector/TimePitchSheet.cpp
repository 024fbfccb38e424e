#include "app/inspector/TimePitchSheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "app/inspector/InspectorStyle.h"
#include "model/Localization.h"
#include "panels/PanelSupport.h"
#include "store/StudioStore.h"

namespace tessoral {

double TimePitchSheet::rateAt(int position) { return (50.0 + 5.0 * position) / 100.0; }

int TimePitchSheet::ratePosition(double rate) {
    if (!std::isfinite(rate)) return 10;
    return static_cast<int>(std::clamp(std::lround((rate * 100.0 - 50.0) / 5.0), 0L, 30L));
}

namespace {

QVBoxLayout* group(QWidget* parent, const QString& title, QLabel*& value, QSlider*& slider, const QString& note) {
    auto* box = new QVBoxLayout;
    box->setSpacing(6);
    auto* row = new QHBoxLayout;
    row->addWidget(ui::label(title, Fonts::ui(12), Palette::primaryText(), parent));
    row->addStretch(1);
    value = ui::label({}, Fonts::mono(12), Palette::secondaryText(), parent);
    row->addWidget(value);
    box->addLayout(row);
    slider = new QSlider(Qt::Horizontal, parent);
    box->addWidget(slider);
    auto* text = ui::note(note, parent);
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    box->addWidget(text);
    return box;
}

}  // namespace

TimePitchSheet::TimePitchSheet(StudioStore& store, QWidget* parent) : QWidget(parent), store_(store) {
    setObjectName(QStringLiteral("timePitchSheet"));
    setFixedWidth(kWidth);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(26, 26, 26, 26);
    column->setSpacing(18);
    column->addWidget(ui::label(ui::qs(L("Скорость и тон")), Fonts::ui(20, QFont::DemiBold), Palette::primaryText(), this));
    scope_ = ui::label({}, Fonts::ui(11), Palette::secondaryText(), this);
    scope_->setObjectName(QStringLiteral("scopeNote"));
    column->addWidget(scope_);

    column->addLayout(group(this, ui::qs(L("Скорость")), rate_, rateSlider_,
                            ui::qs(L("Меняет темп и длительность, высота тона сохраняется."))));
    rateSlider_->setObjectName(QStringLiteral("rateSlider"));
    rateSlider_->setRange(0, 30);
    rateSlider_->setPageStep(2);
    rateSlider_->setAccessibleName(ui::qs(L("Скорость")));
    connect(rateSlider_, &QSlider::valueChanged, this, [this](int i) {
        if (ratePosition(store_.timeRate()) != i) store_.setTimeRate(rateAt(i));
    });

    column->addLayout(group(this, ui::qs(L("Тон")), pitch_, pitchSlider_,
                            ui::qs(L("Меняет высоту, длительность сохраняется."))));
    pitchSlider_->setObjectName(QStringLiteral("pitchSlider"));
    pitchSlider_->setRange(-12, 12);
    pitchSlider_->setPageStep(1);
    pitchSlider_->setAccessibleName(ui::qs(L("Тон")));
    connect(pitchSlider_, &QSlider::valueChanged, this, [this](int i) {
        if (std::lround(store_.timeSemitones()) != i || !std::isfinite(store_.timeSemitones()))
            store_.setTimeSemitones(static_cast<double>(i));
    });

    auto* buttons = new QHBoxLayout;
    reset_ = new QPushButton(ui::qs(L("Сброс")), this);
    reset_->setObjectName(QStringLiteral("reset"));
    reset_->setAutoDefault(false);
    connect(reset_, &QPushButton::clicked, this, [this] {
        store_.setTimeRate(1.0);
        store_.setTimeSemitones(0.0);
    });
    cancel_ = new QPushButton(ui::qs(L("Отмена")), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, [this] { store_.setShowTimePitch(false); });
    apply_ = new QPushButton(ui::qs(L("Применить")), this);
    apply_->setObjectName(QStringLiteral("apply"));
    apply_->setDefault(true);
    ui::makeProminent(apply_);
    connect(apply_, &QPushButton::clicked, this, [this] { store_.applyTimePitch(); });
    buttons->addWidget(reset_);
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    buttons->addWidget(apply_);
    column->addLayout(buttons);

    connect(&store_, &StudioStore::timeRateChanged, this, &TimePitchSheet::refresh);
    connect(&store_, &StudioStore::timeSemitonesChanged, this, &TimePitchSheet::refresh);
    connect(&store_, &StudioStore::selectionChanged, this, &TimePitchSheet::refresh);
    refresh();
}

void TimePitchSheet::refresh() {
    const double rate = store_.timeRate(), semitones = store_.timeSemitones();
    scope_->setText(ui::qs(store_.selection() ? L("Применяется к выделенному фрагменту.")
                                              : L("Применяется ко всему выбранному клипу.")));
    rate_->setText(ui::qs("\u00D7" + num::fixed(rate, 2)));
    // The noun agrees with the whole number shown ("−3 полутона"); the text keeps its sign, a minus
    // sign as the menus write it.
    const long long shown = std::isfinite(semitones) ? std::llround(std::clamp(semitones, -1.0e6, 1.0e6)) : 0;
    pitch_->setText(ui::qs(LP(shown, "{1} полутон|{1} полутона|{1} полутонов",
                              panels::signedFixedText(semitones, 0).toStdString())));
    {
        const QSignalBlocker a(rateSlider_), b(pitchSlider_);
        rateSlider_->setValue(ratePosition(rate));
        pitchSlider_->setValue(std::isfinite(semitones) ? static_cast<int>(std::clamp(std::lround(semitones), -12L, 12L))
                                                        : 0);
    }
    // Exactly the neutral pair has nothing to apply.
    apply_->setEnabled(!(rate == 1.0 && semitones == 0.0));
}

}  // namespace tessoral

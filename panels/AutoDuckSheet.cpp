#include "panels/AutoDuckSheet.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "panels/PanelSupport.h"
#include "panels/ProcessingSheetStyle.h"
#include "store/StudioStore.h"

namespace tessoral::panels {

namespace {

struct RowSpec {
    double AutoDuckSettings::*field;
    double lower;
    double upper;
    double step;
    bool decibels;
};

constexpr RowSpec kRows[] = {
    {&AutoDuckSettings::duckDB, -30, -3, 1, true},
    {&AutoDuckSettings::thresholdDB, -60, -10, 1, true},
    {&AutoDuckSettings::fadeDownMS, 20, 2000, 10, false},
    {&AutoDuckSettings::fadeUpMS, 50, 3000, 10, false},
    {&AutoDuckSettings::holdMS, 0, 2000, 50, false},
};

// The rows' titles, in the order of kRows.
std::vector<std::string> rowTitles() {
    return {L("Приглушение"), L("Порог речи"), L("Спад"), L("Восстановление"), L("Удержание пауз")};
}

QString valueText(const RowSpec& row, double value) {
    if (row.decibels) return qs(num::fixed(value, 0) + " dB");
    return qs(L("{0} мс", num::fixed(value, 0)));
}

}  // namespace

AutoDuckSettings AutoDuckSheet::initialSettings() { return AutoDuckSettings{-15.0, -40.0, 250.0, 800.0, 600.0}; }

AutoDuckSheet::AutoDuckSheet(StudioStore& store, AutoDuckSettings settings, QWidget* parent)
    : QWidget(parent), store_(store), settings_(settings) {
    setObjectName(QStringLiteral("autoDuckSheet"));
    setFixedWidth(kWidth);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(26, 26, 26, 26);
    column->setSpacing(16);
    column->addWidget(style::label(qs(L("Автоприглушение под речью")), Fonts::ui(20, QFont::DemiBold),
                                   Palette::primaryText(), this));

    // No clip: the message and "Закрыть".
    emptyPage_ = new QWidget(this);
    {
        auto* box = new QVBoxLayout(emptyPage_);
        box->setContentsMargins(0, 0, 0, 0);
        box->setSpacing(16);
        box->addWidget(style::label(qs(L("Выберите клип с музыкой.")), Fonts::ui(13), Palette::secondaryText(), emptyPage_));
        auto* buttons = new QHBoxLayout;
        buttons->addStretch(1);
        emptyClose_ = new QPushButton(qs(L("Закрыть")), emptyPage_);
        emptyClose_->setObjectName(QStringLiteral("close"));
        emptyClose_->setAutoDefault(false);
        connect(emptyClose_, &QPushButton::clicked, this, [this] { store_.setShowAutoDuck(false); });
        buttons->addWidget(emptyClose_);
        box->addLayout(buttons);
    }
    column->addWidget(emptyPage_);

    clipPage_ = new QWidget(this);
    {
        auto* box = new QVBoxLayout(clipPage_);
        box->setContentsMargins(0, 0, 0, 0);
        box->setSpacing(16);
        note_ = style::note({}, 11, clipPage_);
        note_->setObjectName(QStringLiteral("note"));
        box->addWidget(note_);

        auto* sourceRow = new QHBoxLayout;
        sourceRow->addWidget(style::label(qs(L("Источник речи")), Fonts::ui(12), Palette::primaryText(), clipPage_));
        sourceRow->addStretch(1);
        source_ = new QComboBox(clipPage_);
        source_->setObjectName(QStringLiteral("source"));
        source_->setAccessibleName(qs(L("Источник речи")));
        source_->setFont(Fonts::ui(12));
        source_->setFixedWidth(210);
        connect(source_, &QComboBox::activated, this, [this](int index) {
            if (index <= 0 || index > static_cast<int>(sourceIDs_.size())) voiceID_ = std::nullopt;
            else voiceID_ = sourceIDs_[static_cast<std::size_t>(index - 1)];
        });
        sourceRow->addWidget(source_);
        box->addLayout(sourceRow);

        const std::vector<std::string> titles = rowTitles();
        for (std::size_t i = 0; i < std::size(kRows); ++i) {
            const RowSpec& spec = kRows[i];
            auto* rowBox = new QVBoxLayout;
            rowBox->setSpacing(4);
            auto* line = new QHBoxLayout;
            line->addWidget(style::label(qs(titles[i]), Fonts::ui(12), Palette::primaryText(), clipPage_));
            line->addStretch(1);
            auto* value = style::label({}, Fonts::mono(12), Palette::secondaryText(), clipPage_);
            line->addWidget(value);
            rowBox->addLayout(line);
            auto* slider = new QSlider(Qt::Horizontal, clipPage_);
            slider->setAccessibleName(qs(titles[i]));
            slider->setRange(static_cast<int>(std::lround(spec.lower / spec.step)),
                             static_cast<int>(std::lround(spec.upper / spec.step)));
            slider->setPageStep(std::max(1, static_cast<int>(std::lround((spec.upper - spec.lower) / spec.step / 10))));
            const RowSpec* at = &spec;
            connect(slider, &QSlider::valueChanged, this, [this, at](int p) {
                settings_.*(at->field) = p * at->step;
                refreshValues();
            });
            rowBox->addWidget(slider);
            box->addLayout(rowBox);
            sliders_.push_back(slider);
            values_.push_back(value);
        }

        auto* buttons = new QHBoxLayout;
        buttons->addStretch(1);
        close_ = new QPushButton(qs(L("Закрыть")), clipPage_);
        close_->setObjectName(QStringLiteral("close"));
        close_->setAutoDefault(false);
        connect(close_, &QPushButton::clicked, this, [this] { store_.setShowAutoDuck(false); });
        duck_ = new QPushButton(qs(L("Приглушить")), clipPage_);
        duck_->setObjectName(QStringLiteral("duck"));
        duck_->setDefault(true);
        style::makeProminent(duck_);
        connect(duck_, &QPushButton::clicked, this, &AutoDuckSheet::duck);
        buttons->addWidget(close_);
        buttons->addWidget(duck_);
        box->addLayout(buttons);
    }
    column->addWidget(clipPage_);

    for (std::size_t i = 0; i < sliders_.size(); ++i) {
        const RowSpec& spec = kRows[i];
        const double v = settings_.*(spec.field);
        const QSignalBlocker blocker(sliders_[i]);
        sliders_[i]->setValue(std::isfinite(v) ? static_cast<int>(std::clamp(std::round(v / spec.step),
                                                                              static_cast<double>(sliders_[i]->minimum()),
                                                                              static_cast<double>(sliders_[i]->maximum())))
                                               : sliders_[i]->minimum());
    }
    refreshValues();
    for (auto signal : {&StudioStore::selectedIDChanged, &StudioStore::sessionChanged})
        connect(&store_, signal, this, &AutoDuckSheet::refresh);
    refresh();
}

void AutoDuckSheet::refreshValues() {
    for (std::size_t i = 0; i < values_.size(); ++i) values_[i]->setText(valueText(kRows[i], settings_.*(kRows[i].field)));
}

void AutoDuckSheet::refresh() {
    const auto index = store_.selectedIndex();
    emptyPage_->setVisible(!index);
    clipPage_->setVisible(index.has_value());
    if (!index) return;
    const Session& session = store_.session();
    const Track& target = session.tracks[*index];
    note_->setText(qs(L("Клип «{0}» будет приглушаться, пока звучит речь. Текущая огибающая громкости будет заменена.",
                        target.name)));

    std::vector<Uuid> ids;
    QStringList items;
    items << qs(L("Клипы других дорожек"));
    for (const Track& clip : session.tracks) {
        if (clip.id == target.id) continue;
        const Lane* row = session.lane(clip);
        ids.push_back(clip.id);
        items << qs(clip.name + " \u00B7 " + (row ? row->name : std::string()));
    }
    // A chosen clip that is gone (or became the target) leaves the other rows as the source.
    if (voiceID_ && std::find(ids.begin(), ids.end(), *voiceID_) == ids.end()) voiceID_ = std::nullopt;
    QStringList shown;
    for (int i = 0; i < source_->count(); ++i) shown << source_->itemText(i);
    const QSignalBlocker blocker(source_);
    if (shown != items || ids != sourceIDs_) {
        source_->clear();
        source_->addItems(items);
        sourceIDs_ = std::move(ids);
    }
    int current = 0;
    if (voiceID_)
        current = 1 + static_cast<int>(std::find(sourceIDs_.begin(), sourceIDs_.end(), *voiceID_) - sourceIDs_.begin());
    source_->setCurrentIndex(current);
}

void AutoDuckSheet::duck() {
    const auto index = store_.selectedIndex();
    // Everything the command needs, copied before the sheet goes away.
    const std::optional<Uuid> target = index ? std::optional<Uuid>(store_.session().tracks[*index].id) : std::nullopt;
    const AutoDuckSettings settings = settings_;
    std::optional<std::vector<Uuid>> voices;
    if (voiceID_) voices = std::vector<Uuid>{*voiceID_};
    StudioStore& store = store_;
    store.setShowAutoDuck(false);
    if (target) store.autoDuck(*target, voices, settings);
}

}  // namespace tessoral::panels

#include "timeline/SpectralRepairPanel.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "store/StudioStore.h"
#include "widgets/Fonts.h"
#include "widgets/Icons.h"
#include "widgets/Palette.h"
#include "widgets/ValueSlider.h"

namespace tessoral {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

QPushButton* wideButton(const QString& text, const char* icon, const char* name, QWidget* parent) {
    auto* b = new QPushButton(Icons::icon(QString::fromLatin1(icon), Palette::primaryText(), 14), text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return b;
}

std::string decibels(double v) { return num::fixed(v, 0); }

}  // namespace

double SpectralRepairPanel::committedAttenuation(double value) {
    if (!std::isfinite(value)) return 40.0;
    return std::clamp(std::round(value), 3.0, 60.0);
}

QString SpectralRepairPanel::hintText(const StudioStore& store) {
    if (store.hasSpectralSelection())
        return qs(L("«Восстановить» заполнит область по соседним участкам, «Ослабить» приглушит только её."));
    switch (store.spectralTool()) {
        case SpectralTool::rectangle:
            return qs(L("Выделите на спектрограмме прямоугольник: время по горизонтали, частоты по вертикали."));
        case SpectralTool::brush:
            return qs(L("Закрасьте кистью щелчок, писк или шум на спектрограмме. Alt или Shift + кисть стирает из маски."));
        case SpectralTool::lasso:
            return qs(L("Обведите лассо область спектра. Alt или Shift + лассо вычитает область из маски."));
    }
    return {};
}

SpectralRepairPanel::SpectralRepairPanel(StudioStore& store, QWidget* parent) : QWidget(parent), store_(store) {
    setObjectName(QStringLiteral("spectralRepairPanel"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    auto* heading = new QLabel(qs(L("Спектральный ремонт")), this);
    heading->setFont(Fonts::ui(11, QFont::Medium));
    QPalette secondary = heading->palette();
    secondary.setColor(QPalette::WindowText, Palette::secondaryText());
    heading->setPalette(secondary);
    column->addWidget(heading);
    hint_ = new QLabel(this);
    hint_->setObjectName(QStringLiteral("spectralRepairHint"));
    hint_->setFont(Fonts::ui(10));
    hint_->setPalette(secondary);
    hint_->setWordWrap(true);
    column->addWidget(hint_);

    const double amount = store_.spectralAttenuation();
    slider_ = new ValueSlider(qs(L("Ослабление")), amount, 3.0, 60.0, qs(L("{0} дБ", decibels(amount))), false, [] {},
                              [this](double v) { store_.setSpectralAttenuation(committedAttenuation(v)); }, this);
    slider_->setObjectName(QStringLiteral("spectralAttenuation"));
    slider_->setToolTip(qs(L("Насколько приглушить выделенную область: 40 дБ и больше — практически тишина")));
    column->addWidget(slider_);

    buttons_ = new QWidget(this);
    auto* stack = new QVBoxLayout(buttons_);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(6);
    heal_ = wideButton(qs(L("Восстановить#heal")), "bandage", "spectralHeal", buttons_);
    heal_->setToolTip(qs(L("Заполнить область по соседним участкам до и после неё, сохраняя фазу")));
    connect(heal_, &QPushButton::clicked, this, [this] { store_.repairSpectral(SpectralRepairMode::heal()); });
    attenuate_ = wideButton(QString(), "speaker.wave.1", "spectralAttenuate", buttons_);
    attenuate_->setToolTip(qs(L("Приглушить только выделенную область спектра")));
    connect(attenuate_, &QPushButton::clicked, this,
            [this] { store_.repairSpectral(SpectralRepairMode::attenuate(store_.spectralAttenuation())); });
    stack->addWidget(heal_);
    stack->addWidget(attenuate_);
    column->addWidget(buttons_);

    clear_ = wideButton(qs(L("Очистить маску")), "eraser", "spectralClearMask", this);
    connect(clear_, &QPushButton::clicked, this, [this] { store_.clearSpectralMask(); });
    column->addWidget(clear_);

    for (auto signal : {&StudioStore::spectralAttenuationChanged, &StudioStore::spectralToolChanged,
                        &StudioStore::spectralMaskChanged, &StudioStore::spectralMaskTrackIDChanged,
                        &StudioStore::selectedIDChanged, &StudioStore::selectionChanged,
                        &StudioStore::freqSelectionChanged})
        connect(&store_, signal, this, &SpectralRepairPanel::refresh);
    refresh();
}

void SpectralRepairPanel::refresh() {
    hint_->setText(hintText(store_));
    const double amount = store_.spectralAttenuation();
    slider_->setValue(amount);
    slider_->setDisplay(qs(L("{0} дБ", decibels(amount))));
    attenuate_->setText(qs(L("Ослабить на {0} дБ", decibels(amount))));
    buttons_->setEnabled(store_.hasSpectralSelection());
    clear_->setVisible(store_.spectralMaskActive());
}

}  // namespace tessoral

#include "model/EffectPreset.h"

#include "model/Localization.h"

namespace tessoral {

std::string title(EffectPreset preset) {
    switch (preset) {
        case EffectPreset::voice: return L("Чёткая речь");
        case EffectPreset::deesser: return L("Де-эссер");
        case EffectPreset::leveler: return L("Выравнивание речи");
        case EffectPreset::lowCut: return L("Убрать низкий гул");
        case EffectPreset::dehum50: return L("Убрать фон сети 50 Гц");
        case EffectPreset::dehum60: return L("Убрать фон сети 60 Гц");
        case EffectPreset::telephone: return L("Телефон");
        case EffectPreset::warm: return L("Тёплый тембр");
        case EffectPreset::bright: return L("Больше ясности");
        case EffectPreset::compressor: return L("Компрессор");
        case EffectPreset::limiter: return L("Лимитер −1 dB");
        case EffectPreset::reverb: return L("Комната");
        case EffectPreset::hall: return L("Большой зал");
        case EffectPreset::cathedral: return L("Собор");
        case EffectPreset::echo: return L("Эхо");
        case EffectPreset::chorus: return L("Хорус");
        case EffectPreset::flanger: return L("Флэнжер");
        case EffectPreset::distortion: return L("Дисторшн");
        case EffectPreset::invert: return L("Инверсия фазы");
        case EffectPreset::autoDenoise: return L("Адаптивное шумоподавление");
        case EffectPreset::parametricEQ: return L("Параметрический эквалайзер");
        case EffectPreset::graphicEQ: return L("Графический эквалайзер (10 полос)");
    }
    return {};
}

}  // namespace tessoral

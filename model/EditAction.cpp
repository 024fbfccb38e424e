#include "model/EditAction.h"

#include "model/Localization.h"

namespace tessoral {

std::string title(EditAction action) {
    switch (action) {
        case EditAction::normalize: return L("Нормализация (авто)");
        case EditAction::peak: return L("Пик до −1 dB");
        case EditAction::fadeIn: return L("Плавное появление");
        case EditAction::fadeOut: return L("Плавное затухание");
        case EditAction::reverse: return L("Реверс");
        case EditAction::silence: return L("Заменить тишиной");
        case EditAction::gain: return L("Усиление");
        case EditAction::trim: return L("Обрезать по выделению");
        case EditAction::delete_: return L("Удалить фрагмент");
    }
    return {};
}

}  // namespace tessoral

#include "panels/ChainSummary.h"

#include <QStringList>

#include "model/EffectPreset.h"

namespace tessoral {

QString chainSummary(const std::vector<EffectSlot>& slots) {
    QStringList parts;
    for (const EffectSlot& slot : slots) {
        QString part = QString::fromStdString(title(slot.preset));
        if (!slot.params.empty()) part += QStringLiteral(" *");
        parts << part;
    }
    return parts.join(QStringLiteral(" \u2192 "));
}

}  // namespace tessoral

#include "widgets/Fonts.h"

#include <QStringList>

namespace tessoral::Fonts {

QFont ui(int pixelSize, QFont::Weight weight) {
    // Inter: every weight from thin to black, Latin and Cyrillic, with the metrics the layouts are
    // measured with. DejaVu Sans, about 15 % wider, stands in where it is missing.
    QFont f;
    f.setFamilies({QStringLiteral("Inter"), QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans")});
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

QFont mono(int pixelSize, QFont::Weight weight) {
    QFont f;
    f.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Noto Sans Mono")});
    f.setStyleHint(QFont::Monospace);
    f.setFixedPitch(true);
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

}  // namespace tessoral::Fonts

#include "widgets/Palette.h"

#include <QApplication>
#include <QPalette>

#include "model/Localization.h"
#include "widgets/AppStyle.h"
#include "widgets/Fonts.h"
#include "widgets/WheelGuard.h"

namespace tessoral::Palette {

namespace {
QColor rgb(double r, double g, double b) { return QColor::fromRgbF(float(r), float(g), float(b)); }
QColor white(double alpha) {
    QColor c(Qt::white);
    c.setAlphaF(float(alpha));
    return c;
}
}  // namespace

QColor background() { return rgb(0.075, 0.08, 0.09); }
QColor panel() { return rgb(0.115, 0.12, 0.13); }
QColor raised() { return rgb(0.16, 0.17, 0.18); }
QColor accent() { return rgb(0.40, 0.86, 0.62); }
QColor line() { return white(0.09); }

QColor primaryText() { return white(0.9); }
QColor secondaryText() { return white(0.55); }
QColor tertiaryText() { return white(0.25); }
QColor quaternaryText() { return white(0.10); }

QColor red() { return QColor(0xFF, 0x45, 0x3A); }
QColor grey() { return QColor(0x8E, 0x8E, 0x93); }
QColor link() { return QColor(0x41, 0x9C, 0xFF); }

const std::vector<QColor>& colors() {
    static const std::vector<QColor> list{
        rgb(0.40, 0.86, 0.62), rgb(0.43, 0.74, 0.90), rgb(0.94, 0.69, 0.36), rgb(0.90, 0.51, 0.57),
        rgb(0.69, 0.64, 0.89), rgb(0.91, 0.85, 0.40), rgb(0.33, 0.82, 0.82), rgb(0.87, 0.52, 0.84),
    };
    return list;
}

const std::vector<QString>& colorNames() {
    static const std::vector<QString> names{
        QString::fromStdString(L("Зелёный")),   QString::fromStdString(L("Голубой")),
        QString::fromStdString(L("Оранжевый")), QString::fromStdString(L("Красный")),
        QString::fromStdString(L("Лавандовый")), QString::fromStdString(L("Жёлтый")),
        QString::fromStdString(L("Бирюзовый")), QString::fromStdString(L("Пурпурный")),
    };
    return names;
}

int trackIndex(long long index) {
    const long long n = static_cast<long long>(colors().size());
    return static_cast<int>(((index % n) + n) % n);
}

QColor track(long long index) { return colors()[static_cast<size_t>(trackIndex(index))]; }

void applyTheme(QApplication& app) {
    app.setStyle(new AppStyle);
    QPalette p;
    const QColor text = primaryText();
    const QColor disabledText = tertiaryText();
    p.setColor(QPalette::Window, background());
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, rgb(0.10, 0.105, 0.115));
    p.setColor(QPalette::AlternateBase, panel());
    p.setColor(QPalette::ToolTipBase, raised());
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabledText);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, raised());
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, red());
    p.setColor(QPalette::Light, rgb(0.24, 0.25, 0.27));
    p.setColor(QPalette::Midlight, rgb(0.20, 0.21, 0.22));
    p.setColor(QPalette::Mid, rgb(0.13, 0.14, 0.15));
    p.setColor(QPalette::Dark, rgb(0.05, 0.05, 0.06));
    p.setColor(QPalette::Shadow, QColor(0, 0, 0));
    p.setColor(QPalette::Highlight, accent());
    p.setColor(QPalette::HighlightedText, background());
    p.setColor(QPalette::Link, link());
    p.setColor(QPalette::LinkVisited, link());
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabledText);
    p.setColor(QPalette::Disabled, QPalette::Highlight, grey());
    app.setPalette(p);
    app.setFont(Fonts::ui(13));
    // The controls' wheel rule is part of how they look and feel.
    WheelGuard::install(app);
}

}  // namespace tessoral::Palette

#pragma once

// Small helpers shared by the inspector, its clip properties, the sheets, the editor tools and the
// selection bar: text styles, a hairline and number texts in the C locale.

#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QString>

#include <string>

#include "model/NumberFormat.h"
#include "widgets/Fonts.h"
#include "widgets/Palette.h"
#include "widgets/Styling.h"

namespace tessoral::ui {

inline QString qs(const std::string& s) { return QString::fromStdString(s); }

inline void setTextColor(QWidget* w, const QColor& color) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, color);
    pal.setColor(QPalette::Text, color);
    w->setPalette(pal);
}

// A label in the given font and colour.
inline QLabel* label(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setFont(font);
    setTextColor(l, color);
    return l;
}

// The inspector's text styles.
inline QLabel* sectionHeader(const QString& text, QWidget* parent) {
    return label(text, Fonts::ui(10, QFont::DemiBold), Palette::secondaryText(), parent);
}
inline QLabel* subsectionLabel(const QString& text, QWidget* parent) {
    return label(text, Fonts::ui(11, QFont::Medium), Palette::secondaryText(), parent);
}
inline QLabel* note(const QString& text, QWidget* parent) {
    auto* l = label(text, Fonts::ui(10), Palette::secondaryText(), parent);
    l->setWordWrap(true);
    return l;
}
inline QLabel* emptyLine(const QString& text, QWidget* parent) {
    auto* l = label(text, Fonts::ui(12), Palette::secondaryText(), parent);
    l->setWordWrap(true);
    return l;
}

// A one-point horizontal or vertical line in the hairline colour.
inline QFrame* hairline(Qt::Orientation orientation, QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setObjectName(QStringLiteral("divider"));
    line->setFrameShape(QFrame::NoFrame);
    line->setAutoFillBackground(true);
    QPalette pal = line->palette();
    pal.setColor(QPalette::Window, Palette::line());
    line->setPalette(pal);
    if (orientation == Qt::Horizontal) line->setFixedHeight(1);
    else line->setFixedWidth(1);
    return line;
}

using styling::makeProminent;

// "%+.Nf": always signed ("+0.0", "-6.0"), through the C-locale helper.
inline std::string signedFixed(double value, int decimals) {
    std::string text = num::fixed(value, decimals);
    if (!text.empty() && text[0] != '-') text.insert(text.begin(), '+');
    return text;
}

// A gain in dB as the sliders show it: "%+.1f dB".
inline QString decibels(double value) { return qs(signedFixed(value, 1) + " dB"); }

}  // namespace tessoral::ui

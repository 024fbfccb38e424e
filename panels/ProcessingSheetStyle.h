#pragma once

// Small text and button styles shared by the diagnostics panel, the processing and auto-duck
// sheets and the essential-sound panel.

#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QString>
#include <QWidget>

#include "widgets/Fonts.h"
#include "widgets/Palette.h"
#include "widgets/Styling.h"

namespace tessoral::panels::style {

inline void setTextColor(QWidget* w, const QColor& color) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, color);
    pal.setColor(QPalette::Text, color);
    pal.setColor(QPalette::ButtonText, color);
    w->setPalette(pal);
}

// A label in the given font and colour; texts from user data are never read as markup.
inline QLabel* label(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setFont(font);
    setTextColor(l, color);
    return l;
}

// A secondary note that wraps onto as many lines as it needs.
inline QLabel* note(const QString& text, int pixelSize, QWidget* parent) {
    auto* l = label(text, Fonts::ui(pixelSize), Palette::secondaryText(), parent);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

// A one-pixel horizontal line in the hairline colour.
inline QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setObjectName(QStringLiteral("divider"));
    line->setFrameShape(QFrame::NoFrame);
    line->setAutoFillBackground(true);
    QPalette pal = line->palette();
    pal.setColor(QPalette::Window, Palette::line());
    line->setPalette(pal);
    line->setFixedHeight(1);
    return line;
}

using styling::makeProminent;

}  // namespace tessoral::panels::style

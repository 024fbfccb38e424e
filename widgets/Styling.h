#pragma once
// Small styling pieces the views build their rows from: a coloured label, a hairline divider and
// a filled background.

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QString>
#include <QWidget>

#include "widgets/Palette.h"

namespace tessoral::styling {

// `w` filled with `colour` behind its children.
inline void fillBackground(QWidget* w, const QColor& colour) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, colour);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

// A label in the given font and colour.
inline QLabel* label(const QString& text, const QFont& font, const QColor& colour, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setFont(font);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, colour);
    l->setPalette(pal);
    return l;
}

// A one-pixel horizontal line in the hairline colour.
inline QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFixedHeight(1);
    line->setAutoFillBackground(true);
    QPalette pal = line->palette();
    pal.setColor(QPalette::Window, Palette::line());
    line->setPalette(pal);
    return line;
}

}  // namespace tessoral::styling

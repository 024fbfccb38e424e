#pragma once
// Small styling pieces the views build their rows from: a filled background, a plain view, a
// coloured label, a hairline divider and a primary button's look.

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

// An empty widget named `name`, filled with `background` unless that is fully transparent.
inline QWidget* plainView(const char* name, const QColor& background, QWidget* parent) {
    auto* w = new QWidget(parent);
    w->setObjectName(QString::fromLatin1(name));
    if (background.alpha() > 0) fillBackground(w, background);
    return w;
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

// The bordered prominent look of a primary button: the accent behind dark text.
inline void makeProminent(QWidget* button) {
    QPalette pal = button->palette();
    pal.setColor(QPalette::Button, Palette::accent());
    pal.setColor(QPalette::ButtonText, Palette::background());
    pal.setColor(QPalette::Disabled, QPalette::Button, Palette::raised());
    pal.setColor(QPalette::Disabled, QPalette::ButtonText, Palette::tertiaryText());
    button->setPalette(pal);
}

}  // namespace tessoral::styling

#pragma once

#include <QColor>
#include <QLabel>
#include <QWidget>

#include "widgets/Eliding.h"

namespace tessoral {

// A row or panel that paints its whole rectangle in one opaque colour, so its updates never reach
// what lies beneath it.
class Surface : public QWidget {
    Q_OBJECT
public:
    explicit Surface(const QColor& color, QWidget* parent = nullptr);
    QColor color() const { return color_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color_;
};

// `over` at `opacity` on top of `under`, as one opaque colour.
QColor blend(const QColor& over, double opacity, const QColor& under);

}  // namespace tessoral

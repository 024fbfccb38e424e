#pragma once

#include <QColor>
#include <QLabel>
#include <QWidget>

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

// A one-line label that cuts its text with an ellipsis where it does not fit; it repaints only
// when its text changes.
class ElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    QString text() const { return text_; }
    void setText(const QString& text);
    void setColor(const QColor& color);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QColor color_;
};

}  // namespace tessoral

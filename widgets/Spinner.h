#pragma once

#include <QWidget>

class QTimer;

namespace tessoral {

// A small indeterminate activity indicator; it animates only while visible.
class Spinner : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(int size = 12, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {size_, size_}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int size_;
    int step_ = 0;
    QTimer* timer_;
};

// A filled circle of one colour (the footer's status dot).
class Dot : public QWidget {
    Q_OBJECT
public:
    explicit Dot(int diameter, const QColor& color, QWidget* parent = nullptr);
    QColor color() const { return color_; }
    void setColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color_;
};

// A hairline divider (1 pixel of Palette::line), horizontal or vertical.
class Divider : public QWidget {
    Q_OBJECT
public:
    explicit Divider(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace tessoral

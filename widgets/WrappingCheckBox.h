#pragma once

#include <QCheckBox>

namespace tessoral {

// A check box whose text wraps onto more lines instead of widening its row; the whole box, text
// included, toggles it. Give it a width (a fixed one inside nested forms) and it asks for the
// height its lines need.
class WrappingCheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit WrappingCheckBox(const QString& text, QWidget* parent = nullptr);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

private:
    int indicatorWidth() const;
    QRect textRect(int width) const;
};

}  // namespace tessoral

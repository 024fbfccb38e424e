#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QString>

#include <functional>

namespace tessoral {

// The small square icon button of toggles and one-shot tools: 32 × 30, the symbol centred;
// active: a rounded square filled with the tint and the icon in the window background colour;
// inactive: the icon in the tint on nothing. The whole frame takes clicks.
class ToolButton : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr int kWidth = 32;
    static constexpr int kHeight = 30;
    static constexpr int kSymbolSize = 16;

    ToolButton(const QString& symbol, const QString& title, bool active, const QColor& tint,
               std::function<void()> action, QWidget* parent = nullptr);
    explicit ToolButton(QWidget* parent = nullptr);

    QString symbol() const { return symbol_; }
    QString title() const { return title_; }
    bool active() const { return active_; }
    QColor tint() const { return tint_; }

    // Each setter repaints only when the value changes.
    void setSymbol(const QString& symbol);
    void setTitle(const QString& title);
    void setActive(bool active);
    void setTint(const QColor& tint);
    void setAction(std::function<void()> action);

    QSize sizeHint() const override { return {kWidth, kHeight}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

private:
    QString symbol_;
    QString title_;
    bool active_ = false;
    QColor tint_;
    std::function<void()> action_;
};

}  // namespace tessoral

#pragma once

#include <QColor>
#include <QComboBox>
#include <QLineEdit>

namespace tessoral {

// Texts that give way when their row is too narrow: they end in "…" instead of being cut.

// A one-line label that cuts its text with an ellipsis where it does not fit; it asks for its whole
// text's width and repaints only when its text changes.
class ElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    QString text() const { return text_; }
    void setText(const QString& text);
    void setColor(const QColor& color);
    // The text as drawn at the current width.
    QString displayedText() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QColor color_;
};

// A picker whose current entry ends in "…" when the picker is narrower than its text.
class ElidingComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    // The text the closed picker shows.
    QString displayedText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int textWidth() const;
};

// A text field that, while it does not have the focus, shows a long text from its start, ending in
// "…"; with the focus it edits the whole text as usual.
class ElidingLineEdit : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;
    QString displayedText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect textArea() const;
};

}  // namespace tessoral

#pragma once

#include <QStringList>
#include <QWidget>

namespace tessoral {

// A row of mutually exclusive text segments. It shows `currentIndex` as its owner sets it; a click
// (or an arrow key while focused) only reports the chosen segment through `activated`, so the owner
// decides whether the choice takes effect.
class SegmentedControl : public QWidget {
    Q_OBJECT
public:
    explicit SegmentedControl(const QStringList& segments, QWidget* parent = nullptr);

    int count() const { return static_cast<int>(segments_.size()); }
    int currentIndex() const { return current_; }
    void setCurrentIndex(int index);
    QString segmentText(int index) const { return segments_.value(index); }
    QRect segmentRect(int index) const;

    // Sized to its content; never narrower than the width at which every text still fits its
    // segment (the segments share the width equally).
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void activated(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    static constexpr int kTextInset = 1;  // at least between a segment's edge and its text
    int segmentAt(const QPoint& pos) const;

    QStringList segments_;
    int current_ = -1;
    int pressed_ = -1;
    bool keyboardFocus_ = false;
};

}  // namespace tessoral

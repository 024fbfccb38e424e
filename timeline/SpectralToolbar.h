#pragma once

#include <QFrame>
#include <QPointer>
#include <QSlider>
#include <QString>
#include <QWidget>

#include <array>

class QLabel;
class QPushButton;

namespace tessoral {

class SegmentedControl;
class StudioStore;
class ToolButton;

// A slider that leaves the wheel to the scroll view around it.
class WheelFreeSlider : public QSlider {
public:
    using QSlider::QSlider;

protected:
    void wheelEvent(QWheelEvent* event) override;
};

// The brush size label: the size truncated to a whole number, then " px" (24.9 → "24 px").
QString brushSizeText(double size);

// The popover of the spectrogram display: frequency scale (at once) and dynamic range (written
// when a slider drag ends, or on a key or page step while the thumb is not held), and the reset.
class SpectralDisplayPopover : public QFrame {
    Q_OBJECT
public:
    SpectralDisplayPopover(StudioStore& store, double range, QWidget* parent = nullptr);
    double range() const { return range_; }
    SegmentedControl* scalePicker() const { return scale_; }
    QSlider* rangeSlider() const { return slider_; }
    QLabel* rangeLabel() const { return rangeLabel_; }
    QPushButton* resetButton() const { return reset_; }

private:
    void setRange(double range, bool write);
    void refresh();

    StudioStore& store_;
    double range_ = 66.0;
    bool loading_ = false;
    SegmentedControl* scale_ = nullptr;
    WheelFreeSlider* slider_ = nullptr;
    QLabel* rangeLabel_ = nullptr;
    QPushButton* reset_ = nullptr;
};

// The spectral tools of the editor-tool row: rectangle, brush and lasso, the brush size while
// the brush is chosen, and the display popover.
class SpectralToolbar : public QWidget {
    Q_OBJECT
public:
    explicit SpectralToolbar(StudioStore& store, QWidget* parent = nullptr);

    ToolButton* toolButton(int index) const { return tools_[std::size_t(index)]; }
    QSlider* brushSlider() const { return brush_; }
    QLabel* brushLabel() const { return brushLabel_; }
    ToolButton* displayButton() const { return display_; }
    SpectralDisplayPopover* popover() const { return popover_; }
    double range() const { return range_; }
    // The display button's action: the range from the store, then the popover toggled.
    void toggleDisplay();

private:
    void refresh();

    StudioStore& store_;
    std::array<ToolButton*, 3> tools_{};
    WheelFreeSlider* brush_ = nullptr;
    QLabel* brushLabel_ = nullptr;
    ToolButton* display_ = nullptr;
    QPointer<SpectralDisplayPopover> popover_;
    double range_ = 66.0;
};

}  // namespace tessoral

#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QSlider;

namespace tessoral {

class StudioStore;

// The speed-and-tone sheet: two sliders bound to the store's `timeRate` (0.50…2.00 in steps of
// 0.05) and `timeSemitones` (−12…+12), "Сброс", "Отмена" (Escape) and "Применить" (Return), which
// stays disabled at exactly ×1.00 and +0. 400 wide.
class TimePitchSheet : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 400;

    // Speed slider position i ↔ rate (50 + 5i) / 100: position 10 is exactly 1.
    static double rateAt(int position);
    static int ratePosition(double rate);

    explicit TimePitchSheet(StudioStore& store, QWidget* parent = nullptr);

    QLabel* scopeNote() const { return scope_; }
    QLabel* rateLabel() const { return rate_; }
    QLabel* pitchLabel() const { return pitch_; }
    QSlider* rateSlider() const { return rateSlider_; }
    QSlider* pitchSlider() const { return pitchSlider_; }
    QPushButton* resetButton() const { return reset_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* applyButton() const { return apply_; }

private:
    void refresh();

    StudioStore& store_;
    QLabel* scope_ = nullptr;
    QLabel* rate_ = nullptr;
    QLabel* pitch_ = nullptr;
    QSlider* rateSlider_ = nullptr;
    QSlider* pitchSlider_ = nullptr;
    QPushButton* reset_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* apply_ = nullptr;
};

}  // namespace tessoral

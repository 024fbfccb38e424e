#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;

namespace tessoral {

class StudioStore;
class ValueSlider;

// The inspector's spectral repair: heal or attenuate what is marked on the selected clip's
// spectrogram (the painted mask, or a time × frequency selection), the attenuation amount, the
// mask's eraser, and a hint for the current tool while nothing is marked.
class SpectralRepairPanel : public QWidget {
    Q_OBJECT
public:
    explicit SpectralRepairPanel(StudioStore& store, QWidget* parent = nullptr);

    // The attenuation a committed slider value becomes: rounded half away from zero, 3…60.
    static double committedAttenuation(double value);
    // The hint for the store's state.
    static QString hintText(const StudioStore& store);

    QLabel* hint() const { return hint_; }
    ValueSlider* slider() const { return slider_; }
    QWidget* repairButtons() const { return buttons_; }
    QPushButton* healButton() const { return heal_; }
    QPushButton* attenuateButton() const { return attenuate_; }
    QPushButton* clearMaskButton() const { return clear_; }

private:
    void refresh();

    StudioStore& store_;
    QLabel* hint_ = nullptr;
    ValueSlider* slider_ = nullptr;
    QWidget* buttons_ = nullptr;
    QPushButton* heal_ = nullptr;
    QPushButton* attenuate_ = nullptr;
    QPushButton* clear_ = nullptr;
};

}  // namespace tessoral

#pragma once

#include <QAbstractButton>
#include <QScrollArea>

#include <optional>

#include "model/EditAction.h"
#include "model/Uuid.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace tessoral {

class ClipProperties;
class StudioStore;
class ToolButton;
class ValueSlider;

// One quick-edit tile of the processing inspector: the action's symbol over its title on a
// raised rounded square, 64 high.
class EditTile : public QAbstractButton {
    Q_OBJECT
public:
    EditTile(EditAction action, QWidget* parent = nullptr);
    EditAction action() const { return action_; }
    // Two tiles side by side in the inspector; the title wraps inside.
    QSize sizeHint() const override { return {90, 64}; }
    QSize minimumSizeHint() const override { return {20, 64}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    EditAction action_;
};

// The processing page of the right panel: the selected clip's properties and peak, the quick
// edits, the gain edit, the spectral repair slot, the effect, speed and tone, noise reduction and
// clip actions, then the mix's master gain. Built once; every change of the store updates it in
// place, and the clip properties are made anew only when the selected clip's id changes.
class ProcessingInspector : public QScrollArea {
    Q_OBJECT
public:
    // The quick-edit tiles, in order.
    static constexpr EditAction kTiles[] = {EditAction::normalize, EditAction::reverse, EditAction::fadeIn,
                                            EditAction::fadeOut};
    // The symbol of every edit action.
    static const char* symbol(EditAction action);
    // The peak text of the clip's peaks ("−∞ dBFS" when none is above 0) and whether it is red.
    static QString peakText(const float* peaks, std::size_t count, bool* clipping = nullptr);
    // The gain field's text as a gain edit uses it: read in the user's locale (none when it is no
    // number), a value that is not finite as 0, then limited to −60…24 dB.
    static double gainToApply(const QString& text, double fallback);

    explicit ProcessingInspector(StudioStore& store, QWidget* parent = nullptr);

    QWidget* content() const { return content_; }
    ClipProperties* clipProperties() const { return clipProperties_; }
    QWidget* clipBlock() const { return clipBlock_; }
    QLabel* emptyLabel() const { return noClip_; }
    QLabel* laneLabel() const { return laneTitle_; }
    QLabel* peakLabel() const { return peak_; }
    QLabel* scopeLabel() const { return scope_; }
    EditTile* tile(int index) const { return tiles_[index]; }
    QLineEdit* gainField() const { return gainField_; }
    QPushButton* applyGainButton() const { return applyGain_; }
    QWidget* spectralSlot() const { return spectralSlot_; }
    QComboBox* effectPicker() const { return effect_; }
    QPushButton* applyEffectButton() const { return applyEffect_; }
    QPushButton* timePitchButton() const { return timePitch_; }
    QLabel* noiseNote() const { return noiseNote_; }
    QPushButton* learnNoiseButton() const { return learnNoise_; }
    ValueSlider* noiseSlider() const { return noiseStrength_; }
    QPushButton* reduceNoiseButton() const { return reduceNoise_; }
    ValueSlider* masterSlider() const { return master_; }

    // "Применить усиление": the typed text first, then the limited value, then the edit.
    void applyGain();

private:
    void refresh();
    void refreshClip();
    void showGainAmount();
    void takeGainText();

    StudioStore& store_;
    QWidget* content_ = nullptr;
    QLabel* noClip_ = nullptr;
    QWidget* laneBlock_ = nullptr;
    QLabel* laneTitle_ = nullptr;
    QWidget* clipBlock_ = nullptr;
    QVBoxLayout* propertiesHost_ = nullptr;
    ClipProperties* clipProperties_ = nullptr;
    std::optional<Uuid> shownClip_;
    QLabel* peak_ = nullptr;
    QLabel* scope_ = nullptr;
    EditTile* tiles_[4] = {};
    QLineEdit* gainField_ = nullptr;
    QPushButton* applyGain_ = nullptr;
    QWidget* spectralDivider_ = nullptr;
    QWidget* spectralSlot_ = nullptr;
    QComboBox* effect_ = nullptr;
    QPushButton* applyEffect_ = nullptr;
    QPushButton* timePitch_ = nullptr;
    QLabel* noiseNote_ = nullptr;
    QPushButton* learnNoise_ = nullptr;
    ValueSlider* noiseStrength_ = nullptr;
    QPushButton* reduceNoise_ = nullptr;
    ValueSlider* master_ = nullptr;
};

}  // namespace tessoral

#pragma once

#include <QWidget>

#include <array>

class QLabel;

namespace tessoral {

class SegmentedControl;
class StudioStore;
class ToolButton;

// The two rows of tool buttons above the editor area, 72 high. Row 1: the timeline tools, undo and
// redo, the clip edits (cut, split, trim, copy), paste and "add marker". Row 2: the waveform or
// spectrogram picker, the spectral toolbar's slot, snapping, analysis and envelope toggles, the
// amplitude zoom slot and the horizontal zoom controls. Where row 2 has no room for the spectral
// toolbar (a narrow window), the toolbar goes to a third row of its own, under its place, and the
// block is 108 high. Every control reads the store and sends one command or flips one flag; the
// window disables the whole block while the store is locked.
class EditorTools : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 36;
    static constexpr double kZoomStep = 1.5;

    explicit EditorTools(StudioStore& store, QWidget* parent = nullptr);

    // The least width is that of the rows with the spectral toolbar on a row of its own.
    QSize minimumSizeHint() const override;
    // True while the spectral toolbar stands on the third row.
    bool spectralWrapped() const;

    ToolButton* toolButton(int index) const { return tools_[static_cast<std::size_t>(index)]; }
    ToolButton* undoButton() const { return undo_; }
    ToolButton* redoButton() const { return redo_; }
    // cut, split, trim, copy
    ToolButton* clipButton(int index) const { return clip_[static_cast<std::size_t>(index)]; }
    QWidget* clipGroup() const { return clipGroup_; }
    ToolButton* pasteButton() const { return paste_; }
    ToolButton* markerButton() const { return marker_; }
    SegmentedControl* displayPicker() const { return display_; }
    // Where the spectral toolbar and the amplitude zoom controls go (empty until they exist).
    QWidget* spectralToolbarSlot() const { return spectralSlot_; }
    QWidget* amplitudeZoomSlot() const { return amplitudeSlot_; }
    ToolButton* snappingButton() const { return snapping_; }
    ToolButton* analysisButton() const { return analysis_; }
    ToolButton* envelopesButton() const { return envelopes_; }
    ToolButton* zoomOutButton() const { return zoomOut_; }
    QLabel* zoomReadout() const { return readout_; }
    ToolButton* zoomInButton() const { return zoomIn_; }
    ToolButton* zoomToSelectionButton() const { return zoomSelection_; }
    ToolButton* wholeProjectButton() const { return whole_; }

protected:
    bool event(QEvent* event) override;

private:
    void refresh();
    // Puts the spectral toolbar on row 2 where it fits there, else on row 3.
    void placeSpectral();
    int rowWidthWithoutSpectral() const;

    StudioStore& store_;
    std::array<ToolButton*, 3> tools_{};
    ToolButton* undo_ = nullptr;
    ToolButton* redo_ = nullptr;
    QWidget* clipGroup_ = nullptr;
    std::array<ToolButton*, 4> clip_{};
    ToolButton* paste_ = nullptr;
    ToolButton* marker_ = nullptr;
    SegmentedControl* display_ = nullptr;
    QWidget* spectralSlot_ = nullptr;
    QWidget* second_ = nullptr;
    QWidget* third_ = nullptr;
    bool placing_ = false;
    QWidget* amplitudeSlot_ = nullptr;
    ToolButton* snapping_ = nullptr;
    ToolButton* analysis_ = nullptr;
    ToolButton* envelopes_ = nullptr;
    ToolButton* zoomOut_ = nullptr;
    QLabel* readout_ = nullptr;
    ToolButton* zoomIn_ = nullptr;
    ToolButton* zoomSelection_ = nullptr;
    ToolButton* whole_ = nullptr;
};

}  // namespace tessoral

#pragma once

#include <QWidget>

#include "processing/ExportPipeline.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace tessoral {

class SegmentedControl;
class StudioStore;

// The export sheet: format, sample rate, loudness target, dither, a summary line and the scope
// toggles, bound to the store's export settings; "Диапазоны маркеров…", "Отмена" (Escape) and
// "Экспортировать" (Return). Each opening sets the scope toggles from the selection and the
// editor mode, after the store has reloaded the saved defaults. 460 wide.
class ExportSheet : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 460;

    // The label of a sample rate ("44,1 кГц", "48 кГц", "96 кГц").
    static QString rateLabel(ExportSampleRate rate);
    // The summary line for the chosen options.
    static QString summary(const ExportOptions& options);

    explicit ExportSheet(StudioStore& store, QWidget* parent = nullptr);

    QComboBox* formatPicker() const { return format_; }
    SegmentedControl* ratePicker() const { return rate_; }
    QComboBox* loudnessPicker() const { return loudness_; }
    QCheckBox* ditherToggle() const { return dither_; }
    QLabel* summaryLabel() const { return summary_; }
    QCheckBox* selectionToggle() const { return selectionOnly_; }
    QCheckBox* scopeToggle() const { return scope_; }
    QPushButton* markerRangesButton() const { return markers_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* exportButton() const { return export_; }

    // What every opening does: no selection turns "Только выделение" off; the scope toggle is on
    // exactly in the waveform editor with a selected clip.
    void applyAppearanceRules();

private:
    void refresh();

    StudioStore& store_;
    QComboBox* format_ = nullptr;
    SegmentedControl* rate_ = nullptr;
    QComboBox* loudness_ = nullptr;
    QCheckBox* dither_ = nullptr;
    QLabel* summary_ = nullptr;
    QCheckBox* selectionOnly_ = nullptr;
    QCheckBox* scope_ = nullptr;
    QPushButton* markers_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* export_ = nullptr;
};

}  // namespace tessoral

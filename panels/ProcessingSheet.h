#pragma once

#include <QWidget>

#include <functional>
#include <vector>

#include "store/DiagnosticsState.h"

class QLabel;
class QPushButton;
class QSlider;

namespace tessoral {

class NumberField;
class SegmentedControl;
class StudioStore;

namespace panels {

class SheetErrorText;

// The processing sheet of one tool (stereo width, centre, tone, noise, silence). Every control is
// bound to a field of the store's diagnostics state, so the values outlive the sheet; the primary
// button runs the tool's command, which closes the sheet when it accepts and leaves its message
// in the sheet's error line when it refuses. "Отмена", Escape and the window's close all clear the
// error and the sheet.
class ProcessingSheetView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 420;

    ProcessingSheetView(StudioStore& store, ProcessingSheet sheet, QWidget* parent = nullptr);

    ProcessingSheet sheet() const { return sheet_; }
    QLabel* heading() const { return heading_; }
    QLabel* scopeLabel() const { return scope_; }
    QLabel* placementLabel() const { return placement_; }
    QLabel* silenceNote() const { return silenceNote_; }
    QSlider* slider() const { return slider_; }
    QLabel* valueLabel() const { return value_; }
    SegmentedControl* picker() const { return picker_; }
    // The number fields in their order on the sheet.
    const std::vector<NumberField*>& fields() const { return fields_; }
    SheetErrorText* errorText() const { return error_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* primaryButton() const { return primary_; }

    // "Отмена": the error, then the sheet, back to nothing.
    void cancel();
    // The primary button's action.
    void apply();

private:
    void build();
    void refresh();
    void write(const std::function<void(DiagnosticsState&)>& change);
    QSlider* valueRow(const QString& title, double lower, double upper, double step);
    NumberField* numberRow(const QString& title, const QString& unit, int decimals, std::function<void(double)> commit);
    NumberField* field(int width, int decimals, const QString& label, std::function<void(double)> commit);

    StudioStore& store_;
    const ProcessingSheet sheet_;
    double step_ = 1.0;
    QLabel* heading_ = nullptr;
    QLabel* scope_ = nullptr;
    QLabel* placement_ = nullptr;
    QLabel* silenceNote_ = nullptr;
    QSlider* slider_ = nullptr;
    QLabel* value_ = nullptr;
    SegmentedControl* picker_ = nullptr;
    std::vector<NumberField*> fields_;
    SheetErrorText* error_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* primary_ = nullptr;
};

}  // namespace panels

}  // namespace tessoral

#pragma once

#include <QWidget>

class QLabel;

namespace tessoral {

class NumberField;
class StudioStore;
class ToolButton;

// The strip under the editor area, 38 high: the time selection's start and end as number fields
// in seconds, the span again in samples or bars, its length, the frequency band of a spectral
// selection, the button that drops the selection, and the project's length at the right end.
class SelectionBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 38;

    explicit SelectionBar(StudioStore& store, QWidget* parent = nullptr);

    QLabel* noSelectionLabel() const { return none_; }
    NumberField* startField() const { return start_; }
    NumberField* endField() const { return end_; }
    QLabel* spanLabel() const { return span_; }
    QLabel* lengthLabel() const { return length_; }
    QLabel* bandLabel() const { return band_; }
    ToolButton* clearButton() const { return clear_; }
    QLabel* projectLengthLabel() const { return project_; }

    // "·  1000 – 4000 Гц": each bound to the nearest whole hertz.
    static QString bandText(double lo, double hi);

private:
    void refresh();

    StudioStore& store_;
    QLabel* none_ = nullptr;
    QWidget* fields_ = nullptr;
    NumberField* start_ = nullptr;
    NumberField* end_ = nullptr;
    QLabel* span_ = nullptr;
    QLabel* length_ = nullptr;
    QLabel* band_ = nullptr;
    ToolButton* clear_ = nullptr;
    QLabel* project_ = nullptr;
};

}  // namespace tessoral

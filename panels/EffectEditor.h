#pragma once

#include <QLineEdit>
#include <QWidget>

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "model/EffectParameters.h"
#include "model/EffectPreset.h"
#include "model/Uuid.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace tessoral {

class EQCurveView;
class SegmentedControl;
class StudioStore;
class TransportSignals;
class ValueSlider;

// The slider's rounding of an effect value: hundredths below 10 in magnitude, whole numbers from 10
// up (halves away from zero); a switch snaps to 0 or 1; the result lies in the parameter's range
// (a non-finite result is the default).
double quantizedEffectValue(const EffectParameter& parameter, double value);

// The typed number of a parameter in the user's locale, with up to two decimals ("12,5", "20 000").
// Return and leaving the field each hand over what was typed once (`submitted`); text that is no
// finite number ("abc", "inf", "nan") counts as nothing typed.
class ParameterField : public QLineEdit {
    Q_OBJECT
public:
    explicit ParameterField(QWidget* parent = nullptr);
    // Shows the value (text the user is typing stays until submitted).
    void showValue(double value, bool evenWhileEditing = false);
    static QString format(double value);
    static std::optional<double> parse(const QString& text);

Q_SIGNALS:
    // The parsed text, or nothing when it does not read as a finite number.
    void submitted(std::optional<double> typed);
};

// One parameter's control: a switch, or a title, typed field, unit and a slider over the
// normalised position. A slider drag calls `begin` at its press and `commit` once at release with
// the rounded value; the field commits a typed value clamped to the range when it differs.
class EffectParameterRow : public QWidget {
    Q_OBJECT
public:
    EffectParameterRow(EffectParameter parameter, double value, std::function<void()> begin,
                       std::function<void(double)> commit, QWidget* parent = nullptr);

    // The effective value from the store: the slider and the field follow it (not while held).
    void setValue(double value);
    double value() const { return value_; }
    double typed() const { return typed_; }
    const EffectParameter& parameter() const { return parameter_; }
    ValueSlider* slider() const { return slider_; }
    ParameterField* field() const { return field_; }
    QCheckBox* toggle() const { return toggle_; }

private:
    void commitTyped(std::optional<double> parsed);
    void syncFromValue();

    EffectParameter parameter_;
    double value_;
    double typed_;
    int placed_ = 0;  // the slider position last placed from the value
    bool dragging_ = false;
    std::function<void()> begin_;
    std::function<void(double)> commit_;
    ValueSlider* slider_ = nullptr;
    ParameterField* field_ = nullptr;
    QCheckBox* toggle_ = nullptr;
};

// The parameters of one rack slot, found by clip and slot id in the store's project at every
// change: header, the curve for the equalisers, one row per shown parameter, and "Сброс". Every
// change is one whole dictionary through the store's effect-parameter command.
class EffectEditorView : public QWidget {
    Q_OBJECT
public:
    EffectEditorView(StudioStore& store, TransportSignals* transport, Uuid trackID, Uuid slotID,
                     QWidget* parent = nullptr);

    const std::string& band() const { return band_; }
    void setBand(const std::string& band);
    bool slotGone() const { return gone_; }
    EQCurveView* curve() const { return curve_; }
    QPushButton* resetButton() const { return reset_; }
    // The row of a parameter key, when it is shown.
    EffectParameterRow* row(const std::string& key) const;

private:
    struct Found {
        EffectPreset preset;
        EffectParams params;
    };
    std::optional<Found> lookup() const;
    void refresh();
    void build(const Found& slot);
    void commitKey(const std::string& key, double value);
    void showBandRows();

    StudioStore& store_;
    Uuid trackID_;
    Uuid slotID_;
    std::string band_ = "p2";
    bool gone_ = false;
    std::optional<EffectPreset> builtFor_;
    QWidget* editor_ = nullptr;
    QWidget* gonePage_ = nullptr;
    EQCurveView* curve_ = nullptr;
    SegmentedControl* bands_ = nullptr;
    QPushButton* reset_ = nullptr;
    QLabel* title_ = nullptr;
    std::map<std::string, EffectParameterRow*> rows_;
};

}  // namespace tessoral

#pragma once

#include <QAbstractButton>
#include <QFrame>
#include <QPointer>
#include <QWidget>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/EssentialSound.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QVBoxLayout;

namespace tessoral {

class StudioStore;
class ToolButton;
class TransportSignals;
class ValueSlider;

namespace panels {

class EssentialSoundView;

// One sound-type button of the type grid: icon and title on a rounded surface, the accent while
// it is the clip's type.
class SoundTypeButton : public QAbstractButton {
    Q_OBJECT
public:
    SoundTypeButton(SoundType type, QWidget* parent = nullptr);
    SoundType type() const { return type_; }
    bool highlighted() const { return highlighted_; }
    void setHighlighted(bool on);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SoundType type_;
    QString symbol_;
    bool highlighted_ = false;
};

// A titled card of the sections column: the (localised) title in upper case, then its rows.
class EssentialCard : public QFrame {
    Q_OBJECT
public:
    EssentialCard(const QString& title, QWidget* parent = nullptr);
    QLabel* titleLabel() const { return title_; }
    QVBoxLayout* rows() const { return rows_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* title_ = nullptr;
    QVBoxLayout* rows_ = nullptr;
};

// A treatment switched on or off by its checkbox, with its amount slider shown while it is on.
class EssentialOptionRow : public QWidget {
    Q_OBJECT
public:
    using Field = EssentialAmount EssentialSound::*;

    EssentialOptionRow(EssentialSoundView& view, const QString& title, const QString& help, Field field, double lower,
                       double upper, std::function<QString(double)> display, QWidget* parent = nullptr);

    // The settings of the panel's build.
    void setAmount(const EssentialAmount& amount);
    void setTitle(const QString& title);
    void setHelp(const QString& help);

    QString title() const { return title_; }
    QCheckBox* checkBox() const { return check_; }
    ValueSlider* slider() const { return slider_; }

    // One decimal, halves away from zero.
    static double stored(double value);
    // "Центр" at exactly 0, else "Л n" / "П n" with the rounded absolute amount.
    static QString panoramaText(double amount);

private:
    EssentialSoundView& view_;
    QString title_;
    Field field_;
    std::function<QString(double)> display_;
    EssentialAmount shown_;
    // What the person set last and the panel sent, until the clip shows it.
    std::optional<double> asked_;
    std::optional<bool> askedOn_;
    QCheckBox* check_ = nullptr;
    ValueSlider* slider_ = nullptr;
};

// The inspector page of essential sound: the selected clip's sound type and its treatments. It
// reads the store and writes every change through the store's essential-sound commands; built
// once, it shows the clip's settings in place after every change.
class EssentialSoundView : public QWidget {
    Q_OBJECT
public:
    // The loudness targets offered, in this order.
    static constexpr double kTargets[4] = {-23.0, -19.0, -16.0, -14.0};

    EssentialSoundView(StudioStore& store, TransportSignals* transport, QWidget* parent = nullptr);

    // The binding rule: one `updateEssential` with the label and the mutation.
    void write(const QString& label, std::function<void(EssentialSound&)> mutation);
    // How many writes the panel has made (a refresh makes none).
    int writes() const { return writes_; }
    StudioStore& store() { return store_; }
    // A change the panel sent is being analysed, or waits for that analysis.
    bool pending() const { return analysing_ || !waiting_.empty(); }

    QStackedWidget* states() const { return states_; }
    QLabel* emptyLabel() const { return empty_; }
    QLabel* nameLabel() const { return name_; }
    ToolButton* resetButton() const { return reset_; }
    const std::vector<SoundTypeButton*>& typeButtons() const { return typeButtons_; }
    QLabel* hintLabel() const { return hint_; }
    QScrollArea* sectionsArea() const { return scroll_; }
    // The cards in column order: loudness, repair, clarity, creative, panorama, ducking.
    const std::vector<EssentialCard*>& cards() const { return cards_; }
    QCheckBox* matchCheck() const { return match_; }
    QWidget* targetRow() const { return targetRow_; }
    QComboBox* targetPicker() const { return target_; }
    QWidget* gainRow() const { return gainRow_; }
    QLabel* gainLabel() const { return gain_; }
    QPushButton* measureButton() const { return measure_; }
    // The option rows: noise, rumble, hum, de-ess, dynamics, eq, enhance, reverb, panorama.
    const std::vector<EssentialOptionRow*>& optionRows() const { return options_; }
    QWidget* presetRow() const { return presetRow_; }
    QComboBox* presetPicker() const { return preset_; }
    QCheckBox* duckingCheck() const { return ducking_; }
    QLabel* countLabel() const { return count_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    void refresh();
    void measure();
    // Runs a change now, or after the analysis this panel started (in the order told); while the
    // store is locked for anything else the change is refused.
    void act(std::function<void()> change);
    void followLock();

    StudioStore& store_;
    int writes_ = 0;
    bool analysing_ = false;
    std::deque<std::function<void()>> waiting_;
    // The last refused press and where it was seen: it passes on up the parent chain, and the
    // filter sees it again at every receiver.
    const QEvent* refusedPress_ = nullptr;
    QPointer<QWidget> refusedAt_;
    QStackedWidget* states_ = nullptr;
    QLabel* empty_ = nullptr;
    QWidget* dot_ = nullptr;
    QLabel* name_ = nullptr;
    ToolButton* reset_ = nullptr;
    std::vector<SoundTypeButton*> typeButtons_;
    QStackedWidget* body_ = nullptr;
    QLabel* hint_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    std::vector<EssentialCard*> cards_;
    QCheckBox* match_ = nullptr;
    QWidget* targetRow_ = nullptr;
    QComboBox* target_ = nullptr;
    QWidget* gainRow_ = nullptr;
    QLabel* gain_ = nullptr;
    QPushButton* measure_ = nullptr;
    std::vector<EssentialOptionRow*> options_;
    QWidget* presetRow_ = nullptr;
    QComboBox* preset_ = nullptr;
    QCheckBox* ducking_ = nullptr;
    QLabel* count_ = nullptr;
};

}  // namespace panels

}  // namespace tessoral

#pragma once

#include <QWidget>

#include <functional>
#include <map>
#include <vector>

#include "model/Lane.h"
#include "model/Uuid.h"
#include "widgets/ValueSlider.h"

class QAbstractButton;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QScrollArea;

namespace tessoral {

class MeterView;
class StudioStore;
class ToolButton;
class TransportSignals;

// The vertical gain fader of a mixer strip: a scale from +12 to −60 dB, a slider in hundredths of
// a dB, the "%+.1f dB" readout and a "0 dB" button. The slider moves a private draft: `begin` runs
// when a press starts, `commit(draft)` once when it ends (a burst of key steps or wheel turns is one
// gesture; the wheel steps only a fader that holds the focus). After a commit the draft shows the stored value again, so a
// refused change springs back. Assistive technology reads and sets the value in dB, each change
// one gesture.
class MixerFader : public QWidget, public AssistedValue {
    Q_OBJECT
public:
    static constexpr double kLower = -60.0;
    static constexpr double kUpper = 12.0;

    MixerFader(double value, const QColor& color, std::function<void()> begin, std::function<void(double)> commit,
               QWidget* parent = nullptr);
    ~MixerFader() override;

    // The stored value: a change resets the draft.
    void setValue(double value);
    void setColor(const QColor& color);
    // What the fader is called for assistive technology: the name of its row (or "MASTER").
    void setOwnerName(const QString& name);
    double value() const { return value_; }
    double draft() const { return draft_; }
    // The controls that take input (disabled while the store is locked, for the master).
    QWidget* controls() const { return controls_; }
    ValueSliderTrack* slider() const { return slider_; }
    QLabel* readout() const { return readout_; }
    QPushButton* zeroButton() const { return zero_; }

    // "%+.1f dB" with an ASCII sign ("+0.0 dB", "-6.0 dB").
    static QString readoutText(double dB);

    QString spokenText() const override;
    double spokenValue() const override { return draft_; }
    double spokenMinimum() const override { return kLower; }
    double spokenMaximum() const override { return kUpper; }
    double spokenStep() const override;
    void setSpokenValue(double value) override;
    void stepSpoken(int steps) override;

protected:
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void place();
    void pressed();
    void moved(int position);
    void released();
    void commitDraft();

    double value_;
    double draft_;
    QColor color_;
    std::function<void()> begin_;
    std::function<void(double)> commit_;
    bool pressed_ = false;
    bool placing_ = false;
    QWidget* controls_ = nullptr;
    ValueSliderTrack* slider_ = nullptr;
    QLabel* readout_ = nullptr;
    QPushButton* zero_ = nullptr;
};

// One track row's channel strip, 135 wide: name, mute and solo, pan, gain fader and the way to the
// effects of its first clip. Kept by row id and updated in place.
class MixerStrip : public QWidget {
    Q_OBJECT
public:
    MixerStrip(StudioStore& store, TransportSignals* transport, const Lane& lane, QWidget* parent = nullptr);

    void setLane(const Lane& lane);
    const Lane& lane() const { return lane_; }

    // "Центр" at exactly 0, else "L 25%" / "R 0%".
    static QString panText(double pan);
    // The strip's name as drawn in `width`: at most two lines, broken between words (inside a word
    // longer than a line), the second ending in "…" when the name goes on.
    static QStringList nameLines(const QString& name, const QFont& font, int width);

    QAbstractButton* nameButton() const { return name_; }
    ToolButton* muteButton() const { return mute_; }
    ToolButton* soloButton() const { return solo_; }
    QLabel* panLabel() const { return panLabel_; }
    ValueSlider* panSlider() const { return pan_; }
    MixerFader* fader() const { return fader_; }
    QPushButton* effectsButton() const { return effects_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();
    void openEffects();

    StudioStore& store_;
    Lane lane_;
    QAbstractButton* name_ = nullptr;
    ToolButton* mute_ = nullptr;
    ToolButton* solo_ = nullptr;
    QLabel* panLabel_ = nullptr;
    ValueSlider* pan_ = nullptr;
    MixerFader* fader_ = nullptr;
    QPushButton* effects_ = nullptr;
};

// The editor area of the mixer mode: a strip per track row in row order, then the master strip
// with the transport's meters and the master gain.
class MixerWorkspace : public QWidget {
    Q_OBJECT
public:
    MixerWorkspace(StudioStore& store, TransportSignals* transport, QWidget* parent = nullptr);

    std::vector<MixerStrip*> strips() const;
    MixerStrip* strip(const Uuid& laneID) const;
    QWidget* masterStrip() const { return master_; }
    MixerFader* masterFader() const { return masterFader_; }
    MeterView* meter() const { return meter_; }

private:
    void refresh();

    StudioStore& store_;
    TransportSignals* transport_;
    QScrollArea* scroll_ = nullptr;
    QHBoxLayout* row_ = nullptr;
    std::map<Uuid, MixerStrip*> strips_;
    std::map<Uuid, QWidget*> dividers_;
    std::vector<Uuid> order_;
    QWidget* master_ = nullptr;
    MixerFader* masterFader_ = nullptr;
    MeterView* meter_ = nullptr;
};

}  // namespace tessoral

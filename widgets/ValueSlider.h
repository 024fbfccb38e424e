#pragma once

#include <QSet>
#include <QSlider>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cmath>
#include <functional>

class QLabel;

namespace tessoral {

// What assistive technology reads and sets through a ValueSliderTrack, implemented by the control
// that owns the track: the value in the unit its text on the screen shows (a screen reader speaks
// the number), and a value set or a step taken as one gesture each, as a key burst is.
class AssistedValue {
public:
    virtual ~AssistedValue() = default;
    virtual QString spokenText() const = 0;
    virtual double spokenValue() const = 0;
    virtual double spokenMinimum() const = 0;
    virtual double spokenMaximum() const = 0;
    virtual double spokenStep() const = 0;
    virtual void setSpokenValue(double value) = 0;
    virtual void stepSpoken(int steps) = 0;
};

// The slider inside a ValueSlider: a click, a drag or Tab gives it the keyboard; the wheel steps it
// only once a person gave it the focus (the application's wheel guard passes other turns on to the
// view around), in bursts as the keys do, a press
// on the track jumps there (a press on the thumb grabs it in place), and the keys that step it
// (arrows, Page Up/Down, Home, End) move it in bursts that the owner treats as one gesture each.
// A burst starts with the first step that moves the slider and ends when no step key is held for
// `kBurstIdleMs` (X11 repeats a held key as release and press pairs), when the focus leaves, when
// the slider is hidden or disabled, or when a press grabs it. While a burst is open every other key,
// shortcut, pointer press or window close anywhere in the application ends it first
// (its commit lands before that input acts), and `endOpenBursts` ends it from outside the event
// flow (a quit signal).
class ValueSliderTrack : public QSlider {
    Q_OBJECT
public:
    static constexpr int kBurstIdleMs = 400;

    explicit ValueSliderTrack(QWidget* parent = nullptr);
    ~ValueSliderTrack() override;

    // Ends every open burst, so its step is in the model when this returns.
    static void endOpenBursts();
    bool eventFilter(QObject* watched, QEvent* event) override;

    // Runs out `kBurstIdleMs` after the last step key is released.
    const QTimer& burstIdle() const { return idle_; }
    void endKeyBurst();

    // The control assistive technology reads the value from and sets it through.
    void setAssisted(AssistedValue* owner) { assisted_ = owner; }
    AssistedValue* assisted() const { return assisted_; }

Q_SIGNALS:
    // The first key step of a burst moved the slider.
    void keyBurstStarted();
    // The burst's last step is over.
    void keyBurstEnded();

protected:
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void openBurst();

    QSet<int> held_;  // step keys down
    bool burst_ = false;
    QTimer idle_;
    AssistedValue* assisted_ = nullptr;
};

// A labelled horizontal slider that edits one number of the model as one gesture. The user moves
// a private draft; `begin` runs when the press (or a burst of key steps) starts and `commit(draft)`
// once when it ends (also when the draft did not move). Nothing in the model changes while the
// thumb moves, and the value text keeps the committed value the host gives until the host gives a
// new one.
//
// Not compact: a header row (title, value text) above the slider. Compact: the value text in a
// 36-wide right-aligned column right of the slider, no title row.
class ValueSlider : public QWidget, public AssistedValue {
    Q_OBJECT
public:
    // Positions of the underlying slider over the range: the draft is continuous to this grain.
    static constexpr int kSteps = 10000;

    ValueSlider(const QString& title, double value, double lower, double upper, const QString& display,
                bool compact, std::function<void()> begin, std::function<void(double)> commit,
                QWidget* parent = nullptr);
    ~ValueSlider() override;

    // The host's committed value: a change resets the draft (also in the middle of a drag).
    void setValue(double value);
    void setDisplay(const QString& display);
    void setRange(double lower, double upper);
    void setBegin(std::function<void()> begin) { begin_ = std::move(begin); }
    void setCommit(std::function<void(double)> commit) { commit_ = std::move(commit); }
    // A value set or a step taken by assistive technology: one gesture each, as a key burst is.
    void assist(double value);
    void assistStep(int steps);
    // The value moves in steps of 1/`perUnit` of its unit (10: tenths of a dB), by drag, key, wheel and
    // assistive technology alike: an arrow is one step, a page ten. 0 (the default): a hundredth of
    // the range by the keys, continuous to 1/kSteps of it by drag.
    void stepIn(int perUnit);
    // Assistive technology reads the value times `scale` (100 for a share shown in percent or a
    // pan shown as "L 25%"), and `text` when given instead of the value text (a slider whose text
    // stands elsewhere).
    void speakAs(double scale, std::function<QString()> text = {});

    QString spokenText() const override;
    double spokenValue() const override { return draft_ * spokenScale_; }
    double spokenMinimum() const override { return std::min(lower_, upper_) * spokenScale_; }
    double spokenMaximum() const override { return std::max(lower_, upper_) * spokenScale_; }
    double spokenStep() const override {
        return perUnit_ > 0 ? spokenScale_ / perUnit_ : std::fabs(upper_ - lower_) * spokenScale_ / 100.0;
    }
    void setSpokenValue(double value) override;
    void stepSpoken(int steps) override { assistStep(steps); }

    double value() const { return value_; }
    double draft() const { return draft_; }
    double lower() const { return lower_; }
    double upper() const { return upper_; }
    bool compact() const { return compact_; }
    bool dragging() const { return pressed_; }
    QString title() const { return title_; }
    ValueSliderTrack* slider() const { return slider_; }
    QLabel* titleLabel() const { return titleLabel_; }
    QLabel* displayLabel() const { return displayLabel_; }

protected:
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int positions() const;
    void fitSteps();
    int positionOf(double value) const;
    double valueAt(int position) const;
    void placeThumb();
    void pressed();
    void moved(int position);
    void released();

    QString title_;
    double value_;
    double draft_;
    double lower_;
    double upper_;
    bool compact_;
    bool pressed_ = false;
    bool placing_ = false;
    int perUnit_ = 0;
    std::function<void()> begin_;
    std::function<void(double)> commit_;
    double spokenScale_ = 1.0;
    std::function<QString()> spokenText_;
    ValueSliderTrack* slider_ = nullptr;
    QLabel* titleLabel_ = nullptr;
    QLabel* displayLabel_ = nullptr;
};

}  // namespace tessoral

#include "widgets/ValueSlider.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QStyleOptionSlider>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "model/Localization.h"
#include "widgets/Fonts.h"
#include "widgets/Palette.h"

namespace tessoral {

namespace {

// A left press on the groove moves the thumb there and starts a drag from it, instead of paging.
class AbsoluteSliderStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    // Set around the handling of one press (Qt asks for the hint without naming the widget).
    static inline bool pressOnThumb = false;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        // A press on the thumb itself grabs it where it is: a click there changes nothing.
        if (hint == QStyle::SH_Slider_AbsoluteSetButtons)
            return pressOnThumb ? Qt::NoButton : Qt::LeftButton | Qt::MiddleButton;
        // Qt grabs the thumb only on this path; pages are never stepped (the thumb is the one
        // thing this path can hit, as every other press jumps).
        if (hint == QStyle::SH_Slider_PageSetButtons) return pressOnThumb ? Qt::LeftButton : Qt::NoButton;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QStyle* absoluteStyle() {
    // One for the whole run; it wraps the application's style when it is first asked for.
    static QStyle* style = new AbsoluteSliderStyle(QStringLiteral("Fusion"));
    return style;
}

bool stepKey(int key) {
    switch (key) {
        case Qt::Key_Left: case Qt::Key_Right: case Qt::Key_Up: case Qt::Key_Down:
        case Qt::Key_PageUp: case Qt::Key_PageDown: case Qt::Key_Home: case Qt::Key_End: return true;
        default: return false;
    }
}

// The tracks whose key burst is open (one at most in practice: a burst needs the focus).
QList<ValueSliderTrack*>& openBursts() {
    static QList<ValueSliderTrack*> tracks;
    return tracks;
}

// What assistive technology sees of a value slider: its owner's value in the unit shown, the text
// shown beside it, and its steps and value changes made as one gesture each.
class ValueSliderAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ValueSliderAccessible(ValueSliderTrack* track) : QAccessibleWidget(track, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value && owner()) return owner()->spokenText();
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return owner() ? owner()->spokenValue() : 0.0; }
    void setCurrentValue(const QVariant& value) override {
        if (owner()) owner()->setSpokenValue(value.toDouble());
    }
    QVariant maximumValue() const override { return owner() ? owner()->spokenMaximum() : 0.0; }
    QVariant minimumValue() const override { return owner() ? owner()->spokenMinimum() : 0.0; }
    QVariant minimumStepSize() const override { return owner() ? owner()->spokenStep() : 0.0; }
    QStringList actionNames() const override {
        return QStringList{increaseAction(), decreaseAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name == increaseAction() || name == decreaseAction()) {
            if (owner()) owner()->stepSpoken(name == increaseAction() ? 1 : -1);
            return;
        }
        QAccessibleWidget::doAction(name);
    }

private:
    AssistedValue* owner() const { return static_cast<ValueSliderTrack*>(widget())->assisted(); }
};

QAccessibleInterface* sliderAccessible(const QString&, QObject* object) {
    if (auto* track = qobject_cast<ValueSliderTrack*>(object)) return new ValueSliderAccessible(track);
    return nullptr;
}

void setSecondary(QLabel* label) {
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, Palette::secondaryText());
    label->setPalette(pal);
}

}  // namespace

ValueSliderTrack::ValueSliderTrack(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    static const bool accessible = (QAccessible::installFactory(sliderAccessible), true);
    (void)accessible;
    setStyle(absoluteStyle());
    // A click or a drag gives it the keyboard and the wheel, as Tab does.
    setFocusPolicy(Qt::StrongFocus);
    idle_.setSingleShot(true);
    idle_.setInterval(kBurstIdleMs);
    connect(&idle_, &QTimer::timeout, this, &ValueSliderTrack::endKeyBurst);
}

ValueSliderTrack::~ValueSliderTrack() {
    if (burst_) {
        qApp->removeEventFilter(this);
        openBursts().removeAll(this);
    }
}

void ValueSliderTrack::endOpenBursts() {
    // A commit may end or start other bursts: take one at a time.
    while (!openBursts().isEmpty()) openBursts().front()->endKeyBurst();
}

bool ValueSliderTrack::eventFilter(QObject* watched, QEvent* event) {
    // Input reaches the window first and then its widget: only deliveries to widgets count. A step
    // key on this slider continues the burst, also as it passes on to the slider's parents. A
    // shortcut is offered to the focused widget (ShortcutOverride) before it acts.
    switch (event->type()) {
        case QEvent::ShortcutOverride:
        case QEvent::KeyPress:
            if (watched->isWidgetType() && !(stepKey(static_cast<QKeyEvent*>(event)->key()) &&
                                             (watched == this || static_cast<QWidget*>(watched)->isAncestorOf(this))))
                endKeyBurst();
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::TabletPress:
        case QEvent::TouchBegin:
            if (watched->isWidgetType()) endKeyBurst();
            break;
        case QEvent::Close:
            // A window or a dialog; not a tooltip or a popup that goes by itself.
            if (watched->isWidgetType()) {
                const Qt::WindowType type = static_cast<QWidget*>(watched)->windowType();
                if (type == Qt::Window || type == Qt::Dialog) endKeyBurst();
            }
            break;
        default:
            break;
    }
    return QSlider::eventFilter(watched, event);
}

void ValueSliderTrack::wheelEvent(QWheelEvent* event) {
    // The application's wheel guard passes a turn on to the view around unless a person gave the
    // slider the focus; here it steps the slider, a run of turns one burst as held keys are.
    const int before = value();
    QSlider::wheelEvent(event);
    if (value() != before && !isSliderDown()) openBurst();
    if (burst_) idle_.start();
}

void ValueSliderTrack::mousePressEvent(QMouseEvent* event) {
    endKeyBurst();
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect thumb = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    AbsoluteSliderStyle::pressOnThumb = thumb.contains(event->position().toPoint());
    QSlider::mousePressEvent(event);
    AbsoluteSliderStyle::pressOnThumb = false;
}

void ValueSliderTrack::keyPressEvent(QKeyEvent* event) {
    const bool step = stepKey(event->key());
    if (step) {
        held_.insert(event->key());
        idle_.stop();
    }
    const int before = value();
    QSlider::keyPressEvent(event);
    if (value() != before && !isSliderDown()) openBurst();
}

void ValueSliderTrack::openBurst() {
    if (burst_) return;
    burst_ = true;
    openBursts().append(this);
    qApp->installEventFilter(this);
    Q_EMIT keyBurstStarted();
}

void ValueSliderTrack::keyReleaseEvent(QKeyEvent* event) {
    // A repeat's release is followed by its press before the pause runs out.
    if (stepKey(event->key())) {
        held_.remove(event->key());
        if (held_.isEmpty() && burst_) idle_.start();
    }
    QSlider::keyReleaseEvent(event);
}

void ValueSliderTrack::endKeyBurst() {
    idle_.stop();
    // The releases of keys held now may go elsewhere.
    held_.clear();
    if (!burst_) return;
    burst_ = false;
    qApp->removeEventFilter(this);
    openBursts().removeAll(this);
    Q_EMIT keyBurstEnded();
}

void ValueSliderTrack::focusOutEvent(QFocusEvent* event) {
    endKeyBurst();
    QSlider::focusOutEvent(event);
}

void ValueSliderTrack::hideEvent(QHideEvent* event) {
    endKeyBurst();
    QSlider::hideEvent(event);
}

void ValueSliderTrack::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !isEnabled()) endKeyBurst();
    QSlider::changeEvent(event);
}

ValueSlider::ValueSlider(const QString& title, double value, double lower, double upper, const QString& display,
                         bool compact, std::function<void()> begin, std::function<void(double)> commit,
                         QWidget* parent)
    : QWidget(parent),
      title_(title),
      value_(value),
      draft_(value),
      lower_(lower),
      upper_(upper),
      compact_(compact),
      begin_(std::move(begin)),
      commit_(std::move(commit)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(7);

    displayLabel_ = new QLabel(display, this);
    displayLabel_->setObjectName(QStringLiteral("valueText"));
    setSecondary(displayLabel_);
    if (!compact_) {
        auto* header = new QHBoxLayout;
        header->setContentsMargins(0, 0, 0, 0);
        titleLabel_ = new QLabel(title, this);
        titleLabel_->setObjectName(QStringLiteral("valueTitle"));
        titleLabel_->setFont(Fonts::ui(11));
        displayLabel_->setFont(Fonts::mono(11));
        header->addWidget(titleLabel_);
        header->addStretch(1);
        header->addWidget(displayLabel_);
        column->addLayout(header);
    }

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(7);
    slider_ = new ValueSliderTrack(this);
    slider_->setAssisted(this);
    fitSteps();
    slider_->setAttribute(Qt::WA_MacSmallSize);
    slider_->setAccessibleName(title.isEmpty() ? QString::fromStdString(L("Громкость дорожки")) : title);
    row->addWidget(slider_, 1);
    if (compact_) {
        displayLabel_->setFont(Fonts::mono(10));
        displayLabel_->setFixedWidth(36);
        displayLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row->addWidget(displayLabel_);
    }
    column->addLayout(row);

    placeThumb();
    connect(slider_, &QSlider::sliderPressed, this, &ValueSlider::pressed);
    connect(slider_, &QSlider::valueChanged, this, &ValueSlider::moved);
    connect(slider_, &QSlider::sliderReleased, this, &ValueSlider::released);
    // A burst of key steps is a gesture as a press is.
    connect(slider_, &ValueSliderTrack::keyBurstStarted, this, &ValueSlider::pressed);
    connect(slider_, &ValueSliderTrack::keyBurstEnded, this, &ValueSlider::released);
}

// The track outlives this part of the object by a moment: nothing reads the value through it then.
ValueSlider::~ValueSlider() { slider_->setAssisted(nullptr); }

int ValueSlider::positions() const {
    const double span = upper_ - lower_;
    if (perUnit_ <= 0 || !(span > 0) || !std::isfinite(span)) return kSteps;
    return static_cast<int>(std::clamp<double>(std::lround(span * perUnit_), 1, kSteps));
}

void ValueSlider::fitSteps() {
    // In steps of the unit: an arrow one, a page ten. Otherwise an arrow moves a hundredth of the
    // range, Page Up and Page Down a tenth.
    // The thumb clamped into a new range is no move of the person's: the draft stays.
    placing_ = true;
    slider_->setRange(0, positions());
    placing_ = false;
    slider_->setSingleStep(perUnit_ > 0 ? 1 : kSteps / 100);
    slider_->setPageStep(perUnit_ > 0 ? 10 : kSteps / 10);
}

void ValueSlider::stepIn(int perUnit) {
    perUnit_ = std::max(perUnit, 0);
    fitSteps();
    placeThumb();
}

int ValueSlider::positionOf(double value) const {
    const double span = upper_ - lower_;
    if (!std::isfinite(value) || !(span > 0)) return 0;
    const double f = std::clamp((value - lower_) / span, 0.0, 1.0);
    return static_cast<int>(std::lround(f * positions()));
}

double ValueSlider::valueAt(int position) const {
    if (position <= 0) return lower_;
    if (position >= positions()) return upper_;
    // Counted in whole steps from the lower end, so that a step lands on the value shown (−2.3,
    // not −2.2999999999999972).
    if (perUnit_ > 0) return double(std::llround(lower_ * perUnit_) + position) / perUnit_;
    return lower_ + (upper_ - lower_) * (static_cast<double>(position) / kSteps);
}

void ValueSlider::placeThumb() {
    placing_ = true;
    slider_->setValue(positionOf(draft_));
    placing_ = false;
}

void ValueSlider::setValue(double value) {
    // NaN never equals itself: compare so an unchanged NaN does not reset the draft either.
    if (value == value_ || (std::isnan(value) && std::isnan(value_))) return;
    value_ = value;
    draft_ = value;
    placeThumb();
}

void ValueSlider::setDisplay(const QString& display) {
    if (displayLabel_->text() != display) displayLabel_->setText(display);
}

void ValueSlider::setRange(double lower, double upper) {
    if (lower == lower_ && upper == upper_) return;
    lower_ = lower;
    upper_ = upper;
    fitSteps();
    placeThumb();
}

void ValueSlider::pressed() {
    if (pressed_) return;
    pressed_ = true;
    // A jump on the track has already moved the draft (the slider reports the move first).
    if (begin_) begin_();
}

void ValueSlider::moved(int position) {
    if (placing_) return;
    // Back on the committed value's own position: exactly that value, not its rounded neighbour.
    draft_ = position == positionOf(value_) ? value_ : valueAt(position);
}

void ValueSlider::released() {
    if (!pressed_) return;
    pressed_ = false;
    if (commit_) commit_(draft_);
}

void ValueSlider::assist(double value) {
    // A burst of keys under way is a gesture of its own, which ends first.
    slider_->endKeyBurst();
    if (!isEnabled() || pressed_ || !std::isfinite(value)) return;
    pressed();
    // A value set from outside lands on a step, as every other change does.
    if (perUnit_ > 0) value = std::round(value * perUnit_) / perUnit_;
    draft_ = std::clamp(value, std::min(lower_, upper_), std::max(lower_, upper_));
    placeThumb();
    released();
}

void ValueSlider::assistStep(int steps) {
    assist(valueAt(std::clamp(slider_->value() + steps * slider_->singleStep(), 0, positions())));
}

void ValueSlider::speakAs(double scale, std::function<QString()> text) {
    if (std::isfinite(scale) && scale != 0.0) spokenScale_ = scale;
    spokenText_ = std::move(text);
}

void ValueSlider::setSpokenValue(double value) { assist(value / spokenScale_); }

QString ValueSlider::spokenText() const { return spokenText_ ? spokenText_() : displayLabel_->text(); }

void ValueSlider::changeEvent(QEvent* event) {
    // A slider disabled in the middle of a press never sees the release: end the gesture here.
    if (event->type() == QEvent::EnabledChange && !isEnabled() && pressed_) {
        slider_->setSliderDown(false);
        released();
    }
    QWidget::changeEvent(event);
}

void ValueSlider::hideEvent(QHideEvent* event) {
    if (pressed_) {
        slider_->setSliderDown(false);
        released();
    }
    QWidget::hideEvent(event);
}

}  // namespace tessoral

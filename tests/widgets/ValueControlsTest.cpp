// The value slider's one-gesture protocol, the number field's submit rule in several locales and
// the time ruler's ticks, drawn offscreen.
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include <QAccessible>

#include <gtest/gtest.h>

#include "widgets/NumberField.h"
#include "widgets/Palette.h"
#include "widgets/TimeRuler.h"
#include "widgets/ValueSlider.h"

using namespace tessoral;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Records the gestures a host sees.
struct Host {
    int begins = 0;
    std::vector<double> commits;
};

ValueSlider* makeSlider(Host& host, double value = 0.0) {
    auto* s = new ValueSlider(QStringLiteral("Громкость клипа"), value, -60, 12, QStringLiteral("+0.0 dB"), false,
                              [&host] { ++host.begins; }, [&host](double v) { host.commits.push_back(v); });
    s->resize(240, 40);
    s->show();
    QApplication::processEvents();
    return s;
}

// A point on the slider's groove at fraction f of its travel.
QPoint groovePoint(QSlider* slider, double f) {
    QStyleOptionSlider opt;
    opt.initFrom(slider);
    opt.orientation = Qt::Horizontal;
    opt.minimum = slider->minimum();
    opt.maximum = slider->maximum();
    opt.sliderPosition = slider->sliderPosition();
    const QRect handle = slider->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, slider);
    const QRect groove = slider->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, slider);
    const int left = groove.left() + handle.width() / 2;
    const int span = groove.width() - handle.width();
    return {left + static_cast<int>(std::lround(f * span)), slider->height() / 2};
}

// Sets the default locale for one test and puts the previous one back.
struct LocaleScope {
    QLocale previous;
    explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(previous); }
};

}  // namespace

// ---- value slider ----

TEST(ValueSlider, ADragIsOneBeginAndOneCommitOfTheFinalValueAndTheTextWaits) {
    Host host;
    std::unique_ptr<ValueSlider> s(makeSlider(host));
    QSlider* slider = s->slider();
    QTest::mousePress(slider, Qt::LeftButton, {}, groovePoint(slider, 0.5));
    EXPECT_EQ(host.begins, 1);
    EXPECT_TRUE(s->dragging());
    for (double f : {0.55, 0.6, 0.7, 0.8}) QTest::mouseMove(slider, groovePoint(slider, f));
    // Nothing reached the model yet and the text shows the committed value.
    EXPECT_TRUE(host.commits.empty());
    EXPECT_EQ(s->displayLabel()->text(), QStringLiteral("+0.0 dB"));
    EXPECT_NEAR(s->draft(), -60 + 0.8 * 72, 1.0);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, groovePoint(slider, 0.8));
    EXPECT_EQ(host.begins, 1);
    ASSERT_EQ(host.commits.size(), 1u);
    EXPECT_NEAR(host.commits[0], -60 + 0.8 * 72, 1.0);
    EXPECT_DOUBLE_EQ(host.commits[0], s->draft());
}

TEST(ValueSlider, ATrackClickJumpsThereAndCommitsOnce) {
    Host host;
    std::unique_ptr<ValueSlider> s(makeSlider(host));
    QTest::mouseClick(s->slider(), Qt::LeftButton, {}, groovePoint(s->slider(), 0.25));
    EXPECT_EQ(host.begins, 1);
    ASSERT_EQ(host.commits.size(), 1u);
    EXPECT_NEAR(host.commits[0], -60 + 0.25 * 72, 1.0);
}

TEST(ValueSlider, AClickOnTheThumbCommitsTheUnchangedValue) {
    Host host;
    std::unique_ptr<ValueSlider> s(makeSlider(host, -24.0));
    QTest::mouseClick(s->slider(), Qt::LeftButton, {}, groovePoint(s->slider(), 0.5));
    ASSERT_EQ(host.commits.size(), 1u);
    EXPECT_DOUBLE_EQ(host.commits[0], -24.0);
}

TEST(ValueSlider, TheWheelChangesNothingAndAKeyStepIsAWholeGesture) {
    Host host;
    std::unique_ptr<ValueSlider> s(makeSlider(host));
    const int before = s->slider()->value();
    QWheelEvent wheel(QPointF(50, 10), s->slider()->mapToGlobal(QPointF(50, 10)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(s->slider(), &wheel);
    EXPECT_EQ(s->slider()->value(), before);
    EXPECT_EQ(host.begins, 0);
    EXPECT_TRUE(host.commits.empty());

    // → held (X11 repeats: release and press pairs) with Page Up; ended by focus loss, disabling, hiding, a press.
    for (auto [press, key] : {std::pair(true, Qt::Key_Right), {false, Qt::Key_Right}, {true, Qt::Key_Right},
                              {true, Qt::Key_PageUp}, {false, Qt::Key_Right}})
        press ? QTest::keyPress(s->slider(), key) : QTest::keyRelease(s->slider(), key);
    EXPECT_FALSE(s->slider()->burstIdle().isActive());
    QWidget(nullptr, Qt::ToolTip).close();  // a tooltip going away is no input
    const auto released = std::chrono::steady_clock::now();  // before: the timer starts inside the release
    QTest::keyRelease(s->slider(), Qt::Key_PageUp);
    EXPECT_EQ(host.begins, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !host.commits.empty(); }, 20000));
    // A coarse timer runs out up to 5 % early, its start rounded to its clock's millisecond.
    const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - released);
    EXPECT_TRUE(idle >= std::chrono::milliseconds(ValueSliderTrack::kBurstIdleMs * 90 / 100) && idle < std::chrono::seconds(4))
        << idle.count() << " ms";
    const std::function<void()> ends[] = {[&] { s->slider()->clearFocus(); }, [&] { s->setEnabled(false); },
                                          [&] { s->hide(); }, [&] { QTest::mouseClick(s->slider(), Qt::LeftButton); },
                                          [&] { QTest::keyClick(s->slider(), Qt::Key_Space); },
                                          [&] { QTest::mouseClick(s->displayLabel(), Qt::LeftButton); },
                                          [&] { QWidget().close(); }, [&] { ValueSliderTrack::endOpenBursts(); }};
    for (const auto& end : ends) {
        for (Qt::Key key : {Qt::Key_Home, Qt::Key_End, Qt::Key_Down}) QTest::keyPress(s->slider(), key);
        end();
        EXPECT_EQ(std::size_t(host.begins), host.commits.size());
        s->setEnabled(true), s->show();
    }
    QTest::keyClick(s->slider(), Qt::Key_Home);
    EXPECT_TRUE(s->slider()->burstIdle().isActive());  // the keys held as a burst ended are let go
    for (int i = 0; i < 2; ++i, s->slider()->endKeyBurst()) QTest::keyClick(s->slider(), Qt::Key_Home);
    EXPECT_EQ(host.commits.size(), 11u);
    // A slider gone mid-burst (never shown, so never hidden) leaves a quit only the open bursts.
    auto* gone = new ValueSlider({}, 0, 0, 1, {}, true, {}, [&](double v) { host.commits.push_back(v); });
    QTest::keyClick(gone->slider(), Qt::Key_End);
    delete gone;
    QTest::keyClick(s->slider(), Qt::Key_End);
    ValueSliderTrack::endOpenBursts();
    EXPECT_EQ(host.commits.size(), 12u);
}

TEST(ValueSlider, AssistiveTechnologyReadsTheValueShownAndEachChangeIsAGesture) {
    Host host;
    std::unique_ptr<ValueSlider> s(makeSlider(host));
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(s->slider());
    ASSERT_TRUE(a->valueInterface() && a->actionInterface());
    EXPECT_EQ(a->text(QAccessible::Value), QStringLiteral("+0.0 dB"));
    EXPECT_DOUBLE_EQ(a->valueInterface()->currentValue().toDouble(), 0.0);
    a->actionInterface()->doAction(QAccessibleActionInterface::increaseAction());
    a->valueInterface()->setCurrentValue(-6.0);
    a->actionInterface()->doAction(QAccessibleActionInterface::decreaseAction());
    s->setEnabled(false);
    a->actionInterface()->doAction(QAccessibleActionInterface::increaseAction());
    EXPECT_EQ(host.begins, 3);
    ASSERT_EQ(host.commits.size(), 3u);
    EXPECT_TRUE(std::fabs(host.commits[0] - 0.72) < 0.01 && host.commits[1] == -6.0 && std::fabs(host.commits[2] + 6.72) < 0.01);
    // Stepped in tenths over a range that grows: a step goes on from the value, on the new grid.
    ValueSlider tenths({}, 0.5, 0, 1, {}, true, {}, [&host](double v) { host.commits.push_back(v); });
    tenths.stepIn(10);
    tenths.setRange(0, 2);
    tenths.setValue(1.5);
    tenths.assistStep(1);
    EXPECT_EQ(host.commits.back(), 1.6);
}

TEST(ValueSlider, TheHostsNewValueResetsTheDraftEvenMidDragAndDisablingEndsTheGesture) {
    Host host;
    std::unique_ptr<ValueSlider> s(makeSlider(host));
    QTest::mousePress(s->slider(), Qt::LeftButton, {}, groovePoint(s->slider(), 0.9));
    s->setValue(-6.0);
    EXPECT_DOUBLE_EQ(s->draft(), -6.0);
    // The release never arrives at a disabled slider: the gesture ends with the draft.
    s->setEnabled(false);
    ASSERT_EQ(host.commits.size(), 1u);
    EXPECT_DOUBLE_EQ(host.commits[0], -6.0);
    EXPECT_FALSE(s->dragging());
}

TEST(ValueSlider, CompactHasNoTitleRowAndAnEmptyTitleNamesTheTrackVolume) {
    ValueSlider compact(QString(), 0.5, 0, 1, QStringLiteral("50%"), true, {}, {});
    EXPECT_EQ(compact.titleLabel(), nullptr);
    EXPECT_EQ(compact.displayLabel()->width(), 36);
    EXPECT_TRUE(compact.displayLabel()->alignment() & Qt::AlignRight);
    EXPECT_EQ(compact.slider()->accessibleName(), QString::fromUtf8("Громкость дорожки"));
}

// ---- number field ----

namespace {

// A number field beside another line edit in a shown window; `host` answers each commit.
struct FieldWindow {
    QWidget window;
    NumberField* field = nullptr;
    QLineEdit* other = nullptr;

    FieldWindow(double value, std::function<void(NumberField&, double)> host) {
        auto* layout = new QVBoxLayout(&window);
        field = new NumberField(value, {}, &window);
        field->setCommit([this, host = std::move(host)](double v) { host(*field, v); });
        other = new QLineEdit(&window);
        layout->addWidget(field);
        layout->addWidget(other);
        window.show();
        QApplication::setActiveWindow(&window);
    }
    // Types over the field's text, without Return.
    void type(const QString& text) {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
    }
};

}  // namespace

TEST(NumberField, ShowsThreeDecimalsAndReturnCommitsOnce) {
    LocaleScope english(QLocale(QLocale::English, QLocale::UnitedStates));
    std::vector<double> commits;
    // The host takes every number and gives it back, as a store does.
    FieldWindow w(1.5, [&](NumberField& field, double v) {
        commits.push_back(v);
        field.setValue(v);
    });
    EXPECT_EQ(w.field->text(), QStringLiteral("1.500"));
    EXPECT_EQ(w.field->placeholderText(), QString::fromUtf8("Секунды"));

    w.type(QStringLiteral("2"));
    QTest::keyClick(w.field, Qt::Key_Return);
    EXPECT_EQ(commits, std::vector<double>{2.0});
    EXPECT_EQ(w.field->text(), QStringLiteral("2.000"));
    // Leaving the field with the draft unchanged since commits nothing more.
    w.other->setFocus();
    EXPECT_EQ(commits, std::vector<double>{2.0});
    // The same number typed again is no commit.
    w.type(QStringLiteral("2.0"));
    QTest::keyClick(w.field, Qt::Key_Return);
    EXPECT_EQ(commits.size(), 1u);
}

TEST(NumberField, AfterEverySubmitTheFieldReadsWhatTheHostHolds) {
    LocaleScope english(QLocale(QLocale::English, QLocale::UnitedStates));
    std::vector<double> commits;
    bool refusing = false;
    // A host that keeps its number within 0…5 and refuses everything while `refusing`.
    FieldWindow w(5.0, [&](NumberField& field, double v) {
        commits.push_back(v);
        if (!refusing) field.setValue(std::clamp(v, 0.0, 5.0));
    });

    // Already at the limit: the clamp leaves the value as it was, and the field shows it again.
    w.type(QStringLiteral("77"));
    QTest::keyClick(w.field, Qt::Key_Return);
    EXPECT_EQ(commits, std::vector<double>{77.0});
    EXPECT_EQ(w.field->text(), QStringLiteral("5.000"));
    EXPECT_DOUBLE_EQ(w.field->draft(), 5.0);
    w.other->setFocus();  // nothing more to commit
    EXPECT_EQ(commits.size(), 1u);

    // Below the limit, leaving the field submits; the clamped value comes back.
    w.type(QStringLiteral("-3"));
    w.other->setFocus();
    EXPECT_EQ(commits, (std::vector<double>{77.0, -3.0}));
    EXPECT_EQ(w.field->text(), QStringLiteral("0.000"));

    // A refused number: the value the host holds stays in view.
    refusing = true;
    w.field->setText(QStringLiteral("4"));
    w.field->submit();
    EXPECT_EQ(commits.back(), 4.0);
    EXPECT_EQ(w.field->text(), QStringLiteral("0.000"));
}

TEST(NumberField, TextThatIsNoFiniteNumberBringsTheValueBack) {
    LocaleScope english(QLocale(QLocale::English, QLocale::UnitedStates));
    std::vector<double> commits;
    NumberField field(1.5, [&](double v) { commits.push_back(v); });
    for (const char* typed : {"abc", "nan", "inf", "-inf", "", "1,5", "1e999"}) {
        field.setText(QString::fromLatin1(typed));
        field.submit();
        EXPECT_EQ(field.text(), QStringLiteral("1.500")) << typed;
        EXPECT_DOUBLE_EQ(field.draft(), 1.5) << typed;
    }
    // "1,5" in English is no 15 (grouping is refused).
    EXPECT_TRUE(commits.empty());
    field.setText(QStringLiteral(" 7.25 "));
    field.submit();
    EXPECT_EQ(commits, std::vector<double>{7.25});
}

TEST(NumberField, RussianUsesTheDecimalComma) {
    LocaleScope russian(QLocale(QLocale::Russian, QLocale::Russia));
    std::vector<double> commits;
    NumberField field(1.5, {});
    field.setCommit([&](double v) {
        commits.push_back(v);
        field.setValue(v);
    });
    EXPECT_EQ(field.text(), QStringLiteral("1,500"));
    field.setText(QStringLiteral("12,5"));
    field.submit();
    EXPECT_EQ(commits, std::vector<double>{12.5});
    EXPECT_EQ(field.text(), QStringLiteral("12,500"));
    field.setValue(1234.5);
    EXPECT_EQ(field.text(), QStringLiteral("1234,500"));  // no group separator it could not read back
}

// ---- time ruler ----

TEST(TimeRuler, TenSecondsOverAThousandPoints) {
    const auto t = TimeRuler::ticks(10, 1000, 1000, TimeFormat::seconds, BeatGrid{});
    EXPECT_DOUBLE_EQ(t.step, 1.0);
    ASSERT_EQ(t.majors.size(), 11u);
    for (std::size_t i = 0; i < t.majors.size(); ++i) EXPECT_NEAR(t.majors[i].x, 100.0 * double(i), 1e-9);
    ASSERT_EQ(t.minors.size(), 51u);
    for (std::size_t i = 1; i < t.minors.size(); ++i) EXPECT_NEAR(t.minors[i] - t.minors[i - 1], 20.0, 1e-9);
    EXPECT_FALSE(t.majors.front().label.isEmpty());
}

TEST(TimeRuler, NoMinorTicksWhenCrowdedAndBeatsInBars) {
    const auto crowded = TimeRuler::ticks(480, 100, 100, TimeFormat::seconds, BeatGrid{});
    EXPECT_TRUE(crowded.minors.empty());
    EXPECT_FALSE(crowded.majors.empty());
    // Bars at 120 BPM: a minor tick every beat, 0.5 s, whatever the major step.
    const auto bars = TimeRuler::ticks(8, 800, 800, TimeFormat::bars, BeatGrid{120.0, 4});
    ASSERT_GE(bars.minors.size(), 2u);
    EXPECT_NEAR(bars.minors[1] - bars.minors[0], 50.0, 1e-9);
    EXPECT_EQ(bars.minors.size(), 17u);
}

TEST(TimeRuler, BadTempoCountsAs120AndBadDurationsDrawNothing) {
    const auto reference = TimeRuler::ticks(30, 600, 600, TimeFormat::bars, BeatGrid{120.0, 4});
    for (double tempo : {0.0, -120.0, kNaN, 1e300, kInf, -kInf}) {
        const auto start = std::chrono::steady_clock::now();
        const auto t = TimeRuler::ticks(30, 600, 600, TimeFormat::bars, BeatGrid{tempo, 4});
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << tempo;
        EXPECT_EQ(t.majors.size(), reference.majors.size()) << tempo;
        EXPECT_EQ(t.minors.size(), reference.minors.size()) << tempo;
    }
    for (double duration : {0.0, -5.0, kNaN, kInf}) {
        const auto t = TimeRuler::ticks(duration, 600, 600, TimeFormat::seconds, BeatGrid{});
        EXPECT_TRUE(t.majors.empty() && t.minors.empty()) << duration;
    }
    // A finite but enormous duration never asks for more ticks than there are pixels.
    const auto huge = TimeRuler::ticks(1e300, 600, 600, TimeFormat::seconds, BeatGrid{});
    EXPECT_LE(huge.majors.size(), 601u);
    EXPECT_LE(huge.minors.size(), 601u);
}

TEST(TimeRuler, DrawsThePanelAndTheTicksWhereTheyBelong) {
    TimeRuler ruler;
    ruler.resize(1000, 29);
    ruler.setScale(10, TimeFormat::seconds, BeatGrid{});
    const QImage image = ruler.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QColor panel = Palette::panel();
    auto brightness = [&](int x, int y) { return QColor(image.pixel(x, y)).lightness(); };
    EXPECT_GT(brightness(100, 25), panel.lightness() + 20);  // major line
    EXPECT_GT(brightness(120, 28), panel.lightness() + 5);   // minor line, only below 26
    EXPECT_NEAR(brightness(120, 22), panel.lightness(), 2);
    EXPECT_NEAR(brightness(110, 27), panel.lightness(), 2);

    ruler.setScale(0, TimeFormat::seconds, BeatGrid{});
    const QImage empty = ruler.grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (int x : {0, 100, 500, 999})
        for (int y : {5, 12, 25}) EXPECT_EQ(QColor(empty.pixel(x, y)).rgb(), panel.rgb()) << x << "," << y;
}

// The last tick stands on the right edge: its line shows in the last column and its label reads whole
// left of it instead of being cut by the edge.
TEST(TimeRuler, TheLastTickAndItsLabelStayInside) {
    TimeRuler ruler;
    ruler.resize(1000, 29);
    ruler.setScale(10, TimeFormat::seconds, BeatGrid{});
    const QImage image = ruler.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const int panel = Palette::panel().lightness();
    auto inked = [&](int x0, int x1) {
        int columns = 0;
        for (int x = x0; x < x1; ++x)
            for (int y = 3; y < 20; ++y)
                if (QColor(image.pixel(x, y)).lightness() > panel + 30) {
                    ++columns;
                    break;
                }
        return columns;
    };
    EXPECT_GT(QColor(image.pixel(999, 25)).lightness(), panel + 20);  // the line on the edge
    EXPECT_EQ(inked(995, 1000), 0);  // no label runs into the edge
    // The last label, "10", whole and 6 points left of its line: two digits, as wide as "1" and "0"
    // drawn right of their own lines.
    EXPECT_GT(inked(960, 995), 0);
    EXPECT_EQ(inked(960, 995), inked(106, 140) + inked(6, 40));
}

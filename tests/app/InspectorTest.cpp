// The processing inspector, its clip properties and the tab bar over a real store.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QPointer>
#include <QProcess>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionSlider>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/inspector/ClipProperties.h"
#include "app/shell/Header.h"
#include "app/inspector/Inspector.h"
#include "app/inspector/InspectorStyle.h"
#include "app/inspector/InspectorTabBar.h"
#include "model/Localization.h"
#include "support/TestAudio.h"
#include "support/views/Contrast.h"
#include "widgets/NumberField.h"
#include "widgets/ToolButton.h"
#include "widgets/ValueSlider.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

void showAt(MainWindow& window, QSize size = {1280, 800}) {
    window.show();
    window.resize(size);
    pump();
}

// Makes the process locale ru_RU.UTF-8 (generating it with localedef into a private folder when the
// system has none); false when that is impossible here.
bool useRussianLocale() {
    if (std::setlocale(LC_ALL, "ru_RU.UTF-8")) return true;
    static QTemporaryDir folder;
    const QString target = folder.filePath(QStringLiteral("ru_RU.utf8"));
    if (!QFileInfo::exists(target))
        QProcess::execute(QStringLiteral("localedef"),
                          {QStringLiteral("-i"), QStringLiteral("ru_RU"), QStringLiteral("-f"), QStringLiteral("UTF-8"), target});
    qputenv("LOCPATH", folder.path().toLocal8Bit());
    const bool ok = std::setlocale(LC_ALL, "ru_RU.UTF-8") != nullptr;
    qunsetenv("LOCPATH");
    return ok;
}

ProcessingInspector* inspectorOf(StudioFixture& fx) {
    fx.store().setInspectorTab(1);
    pump();
    return qobject_cast<ProcessingInspector*>(fx.view().inspectorPage());
}

}  // namespace

TEST(Inspector, ContentFitsTheColumnWidth) {
    StudioFixture fx;
    showAt(fx.window());
    fx.loadDemo();
    fx.store().setSelectedID(fx.store().session().tracks.front().id);
    ProcessingInspector* inspector = inspectorOf(fx);
    ASSERT_NE(inspector, nullptr);
    pump();
    for (QWidget* w : inspector->content()->findChildren<QWidget*>())
        if (w->isVisible() && w->minimumSizeHint().width() > 180)
            ADD_FAILURE() << w->metaObject()->className() << " " << w->objectName().toStdString() << " "
                          << w->minimumSizeHint().width();
    EXPECT_LE(inspector->content()->width(), inspector->viewport()->width());
}

// ---- tab bar ----

TEST(InspectorTabBar, LightsTheChosenPageAndNamesIt) {
    StudioFixture fx;
    showAt(fx.window());
    InspectorTabBar* bar = fx.view().rightPanel()->findChild<InspectorTabBar*>();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->height(), 42);
    fx.store().setInspectorTab(2);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(bar->button(i)->active(), i == 2) << i;
    EXPECT_EQ(bar->titleLabel()->text(), qs(L("Диагностика")));
    EXPECT_EQ(bar->button(2)->symbol(), QStringLiteral("stethoscope"));
    fx.store().setInspectorTab(7);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(bar->button(i)->active()) << i;
    EXPECT_TRUE(bar->titleLabel()->text().isEmpty());
    // A click sets the page; the lit button again changes nothing else.
    QTest::mouseClick(bar->button(0), Qt::LeftButton);
    EXPECT_EQ(fx.store().inspectorTab(), 0);
    QTest::mouseClick(bar->button(0), Qt::LeftButton);
    EXPECT_EQ(fx.store().inspectorTab(), 0);
    EXPECT_TRUE(bar->button(0)->active());
    EXPECT_TRUE(fx.store().undoNames().empty());
}

// ---- clip properties ----

namespace {

// The demo with its first clip selected and the processing page shown.
ClipProperties* selectFirstClip(StudioFixture& fx) {
    showAt(fx.window());
    fx.loadDemo();
    fx.store().setSelectedID(fx.store().session().tracks.front().id);
    ProcessingInspector* inspector = inspectorOf(fx);
    return inspector ? inspector->clipProperties() : nullptr;
}

const Track& firstClip(StudioFixture& fx) { return fx.store().session().tracks.front(); }

}  // namespace

TEST(ClipProperties, NamesAreStoredTrimmedOnceAndABlankNameReverts) {
    StudioFixture fx;
    ClipProperties* props = selectFirstClip(fx);
    ASSERT_NE(props, nullptr);
    const std::string original = firstClip(fx).name;
    QLineEdit* name = props->nameField();
    EXPECT_EQ(name->text(), qs(original));
    const auto steps = fx.store().undoNames().size();

    // Return, then leaving the field: one rename, one undo step.
    name->setFocus();
    name->setText(QStringLiteral("  Вокал\t "));
    QTest::keyClick(name, Qt::Key_Return);
    fx.view().header()->setFocus();
    name->clearFocus();
    pump();
    EXPECT_EQ(firstClip(fx).name, "Вокал");
    EXPECT_EQ(fx.store().undoNames().size(), steps + 1);
    EXPECT_EQ(fx.store().undoNames().back(), L("Название клипа"));
    EXPECT_EQ(name->text(), QStringLiteral("Вокал"));

    // Only spaces: the stored name comes back and nothing is stored.
    name->setText(QStringLiteral("   "));
    props->commitName();
    EXPECT_EQ(name->text(), QStringLiteral("Вокал"));
    EXPECT_EQ(fx.store().undoNames().size(), steps + 1);

    // An undo brings the old name into the field.
    fx.store().undo();
    pump();
    EXPECT_EQ(name->text(), qs(original));
}

TEST(ClipProperties, TypedTextSurvivesOtherChangesAndANewClipStartsFresh) {
    StudioFixture fx;
    ClipProperties* props = selectFirstClip(fx);
    ASSERT_NE(props, nullptr);
    props->nameField()->setText(QStringLiteral("набираю"));
    // Another clip changes; the same clip's view stays and keeps the typing.
    const Uuid other = fx.store().session().tracks[1].id;
    fx.store().setClipGain(other, -3.0);
    fx.store().setCursor(1.0);
    pump();
    ProcessingInspector* inspector = inspectorOf(fx);
    EXPECT_EQ(inspector->clipProperties(), props);
    EXPECT_EQ(props->nameField()->text(), QStringLiteral("набираю"));

    QPointer<ClipProperties> old(props);
    fx.store().setSelectedID(other);
    pump();
    EXPECT_TRUE(old.isNull());
    ASSERT_NE(inspector->clipProperties(), nullptr);
    EXPECT_EQ(inspector->clipProperties()->clip(), other);
    EXPECT_EQ(inspector->clipProperties()->nameField()->text(), qs(fx.store().session().tracks[1].name));
}

TEST(ClipProperties, GainAndPanTexts) {
    // The gain texts go through the C-locale helper whatever the process locale says.
    const std::string previous = std::setlocale(LC_ALL, nullptr) ? std::setlocale(LC_ALL, nullptr) : "C";
    const bool russian = useRussianLocale();
    StudioFixture fx;
    ClipProperties* props = selectFirstClip(fx);
    ASSERT_NE(props, nullptr);
    const Uuid id = firstClip(fx).id;
    EXPECT_EQ(props->gainSlider()->displayLabel()->text(), QStringLiteral("+0.0 dB"));
    fx.store().setClipGain(id, -6.0);
    EXPECT_EQ(props->gainSlider()->displayLabel()->text(), QStringLiteral("-6.0 dB"));
    EXPECT_DOUBLE_EQ(props->gainSlider()->draft(), -6.0);
    std::setlocale(LC_ALL, previous.c_str());
    if (!russian) GTEST_LOG_(INFO) << "ru_RU.UTF-8 could not be made; checked in the C locale only";

    EXPECT_EQ(props->panSlider()->displayLabel()->text(), qs(L("Центр")));
    fx.store().setClipPan(id, -0.35);
    EXPECT_EQ(props->panSlider()->displayLabel()->text(), QStringLiteral("L 35%"));
    EXPECT_DOUBLE_EQ(props->panSlider()->spokenValue(), -35.0);  // a screen reader speaks what is shown
    fx.store().setClipPan(id, 1.0);
    EXPECT_EQ(props->panSlider()->displayLabel()->text(), QStringLiteral("R 100%"));
    fx.store().setClipPan(id, -0.004);
    EXPECT_EQ(props->panSlider()->displayLabel()->text(), QStringLiteral("L 0%"));
    EXPECT_TRUE(props->panSlider()->isEnabled());
    EXPECT_EQ(props->panSlider()->toolTip(), qs(L("Панорама только этого клипа; панорама дорожки — в заголовке дорожки")));

    // A pan envelope takes the control away.
    fx.store().changeTrack(id, "envelope", [](Track& t) { t.panEnvelope.push_back({0.5, 0.3}); });
    pump();
    EXPECT_EQ(props->panSlider()->displayLabel()->text(), qs(L("Огибающая")));
    EXPECT_FALSE(props->panSlider()->isEnabled());
    EXPECT_EQ(props->panSlider()->toolTip(),
              qs(L("Панорамой управляет огибающая клипа; очистите огибающие, чтобы вернуть ручку")));
}

TEST(ClipProperties, StartMuteAndSubtitle) {
    StudioFixture fx;
    ClipProperties* props = selectFirstClip(fx);
    ASSERT_NE(props, nullptr);
    const Uuid id = firstClip(fx).id;
    fx.store().setClipStart(id, 2.0);
    EXPECT_EQ(props->startField()->text(), QStringLiteral("2.000"));
    const auto steps = fx.store().undoNames().size();
    props->startField()->setText(QStringLiteral("-3"));
    props->startField()->submit();
    EXPECT_DOUBLE_EQ(firstClip(fx).start, 0.0);
    EXPECT_EQ(props->startField()->text(), QStringLiteral("0.000"));
    EXPECT_EQ(fx.store().undoNames().size(), steps + 1);
    EXPECT_EQ(fx.store().undoNames().back(), L("Сдвиг клипа"));

    props->muteToggle()->click();
    EXPECT_TRUE(firstClip(fx).muted);
    EXPECT_EQ(fx.store().undoNames().back(), L("Выключение клипа"));
    props->muteToggle()->click();
    EXPECT_FALSE(firstClip(fx).muted);
    EXPECT_EQ(fx.store().undoNames().back(), L("Включение клипа"));
    fx.store().undo();
    EXPECT_TRUE(props->muteToggle()->isChecked());

    // 12.5 s on no row, and on a row.
    Track clip = test::clip("Без дорожки", 600000);
    EXPECT_EQ(ClipProperties::subtitleText(clip, nullptr), QString::fromUtf8("Клип  ·  00:12.500  ·  стерео"));
    const std::string lane = "Голос";
    EXPECT_EQ(ClipProperties::subtitleText(clip, &lane),
              QString::fromUtf8("Клип на дорожке «Голос»  ·  00:12.500  ·  стерео"));
    const Lane* own = fx.store().session().lane(firstClip(fx));
    ASSERT_NE(own, nullptr);
    EXPECT_TRUE(props->subtitle()->text().contains(qs(own->name)));
}

TEST(ClipProperties, AFinishedGainDragIsOneUndoStepEvenWhereItBegan) {
    StudioFixture fx;
    ClipProperties* props = selectFirstClip(fx);
    ASSERT_NE(props, nullptr);
    const auto steps = fx.store().undoNames().size();
    QSlider* slider = props->gainSlider()->slider();
    // A press on the thumb and a release in place.
    QStyleOptionSlider opt;
    opt.initFrom(slider);
    opt.minimum = slider->minimum();
    opt.maximum = slider->maximum();
    opt.sliderPosition = slider->sliderPosition();
    opt.orientation = Qt::Horizontal;
    const QPoint thumb =
        slider->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, slider).center();
    QTest::mousePress(slider, Qt::LeftButton, {}, thumb);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, thumb);
    EXPECT_EQ(fx.store().undoNames().size(), steps + 1);
    EXPECT_EQ(fx.store().undoNames().back(), L("Громкость клипа"));
    EXPECT_DOUBLE_EQ(firstClip(fx).gainDB, 0.0);
}

// ---- the processing page ----

// As the "inspector-clip" screenshot shows it: the unchecked "Выключить клип" box, measured on
// the window's pixels, stands out from the inspector behind it.
TEST(Inspector, UncheckedMuteBoxStandsOutFromThePanel) {
    StudioFixture fx;
    showAt(fx.window());
    fx.loadDemo();
    fx.store().setSelectedID(fx.store().session().tracks.front().id);
    ProcessingInspector* inspector = inspectorOf(fx);
    ASSERT_NE(inspector, nullptr);
    auto* mute = inspector->findChild<QCheckBox*>(QStringLiteral("clipMute"));
    ASSERT_NE(mute, nullptr);
    ASSERT_TRUE(mute->isVisible());
    ASSERT_FALSE(mute->isChecked());
    pump();
    const QImage image = fx.window().grab().toImage().convertToFormat(QImage::Format_RGB32);
    QStyleOptionButton opt;
    opt.initFrom(mute);
    const QRect box = mute->style()
                          ->subElementRect(QStyle::SE_CheckBoxIndicator, &opt, mute)
                          .translated(mute->mapTo(&fx.window(), QPoint(0, 0)));
    ASSERT_TRUE(image.rect().contains(box));
    const QColor behind = image.pixelColor(box.left() - 3, box.center().y());
    EXPECT_GE(test::outlineContrast(image, box, behind), 3.0);
}

TEST(Inspector, PeakTextAndColour) {
    const float zero[] = {0.0f, 0.0f}, full[] = {0.2f, 1.0f}, over[] = {1.2f, 0.5f};
    bool red = true;
    EXPECT_EQ(ProcessingInspector::peakText(nullptr, 0, &red), QString::fromUtf8("−∞ dBFS"));
    EXPECT_FALSE(red);
    EXPECT_EQ(ProcessingInspector::peakText(zero, 2, &red), QString::fromUtf8("−∞ dBFS"));
    EXPECT_FALSE(red);
    EXPECT_EQ(ProcessingInspector::peakText(full, 2, &red), QStringLiteral("0.0 dBFS"));
    EXPECT_FALSE(red);
    EXPECT_EQ(ProcessingInspector::peakText(over, 2, &red), QStringLiteral("1.6 dBFS"));
    EXPECT_TRUE(red);

    StudioFixture fx;
    ClipProperties* props = selectFirstClip(fx);
    ASSERT_NE(props, nullptr);
    ProcessingInspector* inspector = inspectorOf(fx);
    const Track& t = firstClip(fx);
    EXPECT_EQ(inspector->peakLabel()->text(), ProcessingInspector::peakText(t.peaks.begin(), t.peaks.size()));
    EXPECT_EQ(inspector->peakLabel()->palette().color(QPalette::WindowText), Palette::accent());
}

TEST(Inspector, ApplyGainReadsTheTypedTextThenLimitsIt) {
    EXPECT_DOUBLE_EQ(ProcessingInspector::gainToApply(QStringLiteral("30"), 3), 24.0);
    EXPECT_DOUBLE_EQ(ProcessingInspector::gainToApply(QStringLiteral("-100"), 3), -60.0);
    EXPECT_DOUBLE_EQ(ProcessingInspector::gainToApply(QStringLiteral("nan"), 3), 0.0);
    EXPECT_DOUBLE_EQ(ProcessingInspector::gainToApply(QStringLiteral("abc"), 3), 3.0);

    StudioFixture fx;
    ClipProperties* props = selectFirstClip(fx);
    ASSERT_NE(props, nullptr);
    ProcessingInspector* inspector = inspectorOf(fx);
    EXPECT_EQ(inspector->gainField()->text(), QStringLiteral("3.0"));
    const auto before = firstClip(fx).audio;
    // Typed, never confirmed with Return.
    inspector->gainField()->setText(QStringLiteral("30"));
    inspector->applyGainButton()->click();
    EXPECT_DOUBLE_EQ(fx.store().gainAmount(), 24.0);
    EXPECT_EQ(inspector->gainField()->text(), QStringLiteral("24.0"));
    fx.settle();
    EXPECT_EQ(fx.store().undoNames().back(), title(EditAction::gain));
    // +24 dB: about 15.85 times the samples (those that do not clip).
    const auto& after = firstClip(fx).audio;
    bool checked = false;
    for (std::int64_t i = 0; i < before.frames() && !checked; ++i) {
        const float a = before.left[static_cast<std::size_t>(i)];
        if (std::abs(a) > 0.001f && std::abs(a) < 0.05f) {
            EXPECT_NEAR(after.left[static_cast<std::size_t>(i)] / a, std::pow(10.0, 24.0 / 20.0), 0.05);
            checked = true;
        }
    }
    EXPECT_TRUE(checked);
}

TEST(Inspector, SpeedAndPitchOpensNeutralAndLockingDisablesOnlyThePage) {
    StudioFixture fx;
    ClipProperties* props = selectFirstClip(fx);
    ASSERT_NE(props, nullptr);
    ProcessingInspector* inspector = inspectorOf(fx);
    fx.store().setTimeRate(1.5);
    fx.store().setTimeSemitones(3);
    inspector->timePitchButton()->click();
    pump();
    EXPECT_TRUE(fx.store().showTimePitch());
    EXPECT_EQ(fx.store().timeRate(), 1.0);
    EXPECT_EQ(fx.store().timeSemitones(), 0.0);
    fx.store().setShowTimePitch(false);
    pump();

    fx.store().setBusy(true);
    pump();
    EXPECT_FALSE(inspector->isEnabled());
    InspectorTabBar* bar = fx.view().rightPanel()->findChild<InspectorTabBar*>();
    QTest::mouseClick(bar->button(2), Qt::LeftButton);
    EXPECT_EQ(fx.store().inspectorTab(), 2);
    fx.store().setBusy(false);
}

TEST(Inspector, SelectionFormsScopeAndNoise) {
    StudioFixture fx;
    showAt(fx.window());
    fx.loadDemo();
    ProcessingInspector* inspector = inspectorOf(fx);
    ASSERT_NE(inspector, nullptr);
    StudioStore& s = fx.store();
    s.setSelectedID(std::nullopt);
    s.setSelectedLaneID(std::nullopt);
    pump();
    EXPECT_TRUE(inspector->emptyLabel()->isVisible());
    EXPECT_FALSE(inspector->clipBlock()->isVisible());
    EXPECT_EQ(inspector->clipProperties(), nullptr);

    const Lane& lane = s.session().lanes[1];
    s.setSelectedLaneID(lane.id);
    pump();
    EXPECT_FALSE(inspector->emptyLabel()->isVisible());
    EXPECT_EQ(inspector->laneLabel()->text(), qs(L("Дорожка «{0}»: клип не выбран", lane.name)));
    EXPECT_TRUE(inspector->laneLabel()->isVisible());

    s.setSelectedID(s.session().tracks.front().id);
    pump();
    EXPECT_TRUE(inspector->clipBlock()->isVisible());
    EXPECT_EQ(inspector->scopeLabel()->text(), qs(L("Весь клип")));
    EXPECT_FALSE(inspector->learnNoiseButton()->isEnabled());
    EXPECT_FALSE(inspector->reduceNoiseButton()->isEnabled());
    EXPECT_TRUE(inspector->noiseNote()->text().startsWith(QStringLiteral("1. ")));
    s.setSelection(TimeRange{0.5, 1.5});
    EXPECT_EQ(inspector->scopeLabel()->text(), qs(L("Выделенный фрагмент")));
    EXPECT_TRUE(inspector->learnNoiseButton()->isEnabled());
    inspector->learnNoiseButton()->click();
    fx.settle();
    ASSERT_TRUE(s.noiseProfile().has_value()) << s.error().value_or("");
    EXPECT_EQ(inspector->noiseNote()->text(),
              qs(L("Профиль шума запомнен. «Убрать шум» обработает весь клип или выделение.")));
    s.setSelection(std::nullopt);
    EXPECT_TRUE(inspector->reduceNoiseButton()->isEnabled());
    EXPECT_EQ(inspector->noiseSlider()->displayLabel()->text(), QStringLiteral("60%"));

    EXPECT_FALSE(inspector->spectralSlot()->isVisible());
    s.setSpectralView(true);
    pump();
    EXPECT_TRUE(inspector->spectralSlot()->isVisible());
}

TEST(Inspector, MasterDragStopsOnceAndCommitsOnce) {
    StudioFixture fx;
    showAt(fx.window());
    fx.loadDemo();
    ProcessingInspector* inspector = inspectorOf(fx);
    ASSERT_NE(inspector, nullptr);
    ValueSlider* master = inspector->masterSlider();
    EXPECT_EQ(master->displayLabel()->text(), QStringLiteral("+0.0 dB"));
    fx.store().playPause();
    fx.settle();
    fx.services.backend.pump(1600);
    fx.services.scheduler.advanceBy(1.0 / 30.0);
    pump();
    ASSERT_TRUE(fx.studio->transport().playing());
    const auto steps = fx.store().undoNames().size();
    inspector->ensureWidgetVisible(master);
    pump();
    QSlider* slider = master->slider();
    const QPoint a(slider->width() / 4, slider->height() / 2), b(slider->width() / 3, slider->height() / 2);
    QTest::mousePress(slider, Qt::LeftButton, {}, a);
    EXPECT_FALSE(fx.studio->transport().playing());  // stopped when the drag began
    QTest::mouseMove(slider, b);
    EXPECT_EQ(fx.store().undoNames().size(), steps);
    EXPECT_EQ(master->displayLabel()->text(), QStringLiteral("+0.0 dB"));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, b);
    EXPECT_EQ(fx.store().undoNames().size(), steps + 1);
    EXPECT_LT(fx.store().session().masterDB, -20.0);
    EXPECT_EQ(master->displayLabel()->text(), ui::decibels(fx.store().session().masterDB));
}

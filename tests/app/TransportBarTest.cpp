// The transport bar's enable table, the position display, and what 30 playback ticks repaint.
#include <QPaintEvent>
#include <QSet>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/shell/Footer.h"
#include "app/shell/Header.h"
#include "app/shell/Surface.h"
#include "app/shell/TransportBar.h"
#include "model/Localization.h"
#include "transport/AudioRecorder.h"
#include "widgets/MeterView.h"
#include "widgets/Palette.h"
#include "widgets/SegmentedControl.h"
#include "widgets/Spinner.h"
#include "widgets/ToolButton.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

struct Row {
    bool start, stop, play, record, loop;
};

Row enabled(TransportBar& bar) {
    return {bar.startButton()->isEnabled(), bar.stopButton()->isEnabled(), bar.playButton()->isEnabled(),
            bar.recordButton()->isEnabled(), bar.loopButton()->isEnabled()};
}

void expectRow(TransportBar& bar, Row want, const char* state) {
    const Row got = enabled(bar);
    EXPECT_EQ(got.start, want.start) << state << ": go to start";
    EXPECT_EQ(got.stop, want.stop) << state << ": stop";
    EXPECT_EQ(got.play, want.play) << state << ": play";
    EXPECT_EQ(got.record, want.record) << state << ": record";
    EXPECT_EQ(got.loop, want.loop) << state << ": loop";
}

// The record button's command, its preparation run, and a little captured input.
bool startRecording(StudioFixture& fx) {
    addInputDevice(fx);
    fx.view().transportBar()->recordButton()->click();
    fx.settle();
    for (int i = 0; i < 10 && !fx.store().transport().recording(); ++i) {
        fx.services.backend.pump(4800);
        fx.services.scheduler.advanceBy(0.1);
        fx.settle();
    }
    return fx.store().transport().recording();
}

void startPlayback(StudioFixture& fx) {
    fx.store().playPause();
    fx.settle();
    fx.services.backend.pump(1600);
    fx.services.scheduler.advanceBy(1.0 / 30.0);
    pump();
}

}  // namespace

TEST(TransportBar, EnableTableOverIdlePlayingBusyAndRecording) {
    StudioFixture fx;
    fx.window().show();
    TransportBar& bar = *fx.view().transportBar();
    expectRow(bar, {true, true, false, true, true}, "idle, empty");
    EXPECT_EQ(bar.playButton()->symbol(), QStringLiteral("play.fill"));
    EXPECT_EQ(bar.recordButton()->title(), qs(L("Записать с микрофона")));

    fx.loadDemo();
    expectRow(bar, {true, true, true, true, true}, "idle with clips");
    startPlayback(fx);
    ASSERT_TRUE(fx.studio->transport().playing());
    expectRow(bar, {true, true, true, true, true}, "playing");
    EXPECT_EQ(bar.playButton()->symbol(), QStringLiteral("pause.fill"));
    EXPECT_EQ(bar.playButton()->title(), qs(L("Пауза#button")));
    EXPECT_TRUE(bar.playButton()->active());
    fx.store().stop();
    pump();
    EXPECT_FALSE(bar.playButton()->active());

    fx.store().setBusy(true);
    expectRow(bar, {false, false, false, false, false}, "busy");
    fx.store().setBusy(false);

    fx.store().setSelection(TimeRange{1.0, 2.0});
    EXPECT_EQ(bar.recordButton()->title(), qs(L("Панч-ин: записать в выделенный диапазон")));
    fx.store().setSelection(std::nullopt);

    // Preparing: the command was accepted and the take is being set up.
    addInputDevice(fx);
    bar.recordButton()->click();
    ASSERT_TRUE(fx.store().busy() && fx.store().recordingTask());
    expectRow(bar, {false, true, false, true, false}, "preparing");
    EXPECT_TRUE(bar.recordButton()->active());
    EXPECT_EQ(bar.recordButton()->symbol(), QStringLiteral("record.circle"));
    bar.stopButton()->click();  // cancels the start
    fx.settle();
    EXPECT_FALSE(fx.store().busy());
    EXPECT_FALSE(fx.store().recordingTask());
    EXPECT_EQ(fx.store().status(), L("Запись отменена"));
    expectRow(bar, {true, true, true, true, true}, "after the cancelled start");

    ASSERT_TRUE(startRecording(fx));
    expectRow(bar, {false, true, false, true, false}, "recording");
    EXPECT_EQ(bar.recordButton()->symbol(), QStringLiteral("stop.circle.fill"));
    EXPECT_EQ(bar.recordButton()->title(), qs(L("Завершить запись")));
    EXPECT_TRUE(bar.recordButton()->active());
    EXPECT_TRUE(bar.position()->red());
    // While busy and recording the footer shows the spinner, not the red dot.
    fx.store().setBusy(true);
    EXPECT_TRUE(fx.view().footer()->spinner()->isVisibleTo(fx.view().footer()));
    EXPECT_FALSE(fx.view().footer()->dot()->isVisibleTo(fx.view().footer()));
    fx.store().setBusy(false);
    EXPECT_EQ(fx.view().footer()->dot()->color(), Palette::red());
    EXPECT_FALSE(fx.view().header()->isEnabled());

    // Quit while recording: the recording stops, nothing is asked, the program stays.
    fx.delegate().connectStore(fx.store());
    fx.delegate().requestQuit();
    pump();
    EXPECT_FALSE(fx.store().transport().recording());
    EXPECT_TRUE(fx.services.prompts.alerts.empty());
    EXPECT_EQ(fx.terminations, 0);
}

TEST(TransportBar, AStartWithoutAMicrophoneEndsUnlitWithItsReasonInTheFooter) {
    StudioFixture fx;
    fx.window().show();
    fx.loadDemo();
    TransportBar& bar = *fx.view().transportBar();
    bar.recordButton()->click();  // refused at once, before any count-in or mix
    EXPECT_EQ(fx.store().status(), fx.store().error().value_or(""));
    fx.settle();
    EXPECT_FALSE(fx.store().transport().recording());
    ASSERT_TRUE(fx.store().error());
    EXPECT_EQ(fx.view().footer()->statusLabel()->text(), qs(*fx.store().error()));
    EXPECT_FALSE(bar.recordButton()->active());
    expectRow(bar, {true, true, true, true, true}, "after the failed start");
}

TEST(TransportBar, FourClicksOnThePositionCycleBack) {
    StudioFixture fx;
    fx.window().show();
    pump();
    PositionDisplay* position = fx.view().transportBar()->position();
    EXPECT_EQ(position->text(), QStringLiteral("00:00.000"));
    const TimeFormat start = fx.store().timeFormat();
    const char* names[] = {"Секунды", "Сэмплы", "Такты и доли", "мм:сс.мс"};
    for (const char* name : names) {
        QTest::mouseClick(position, Qt::LeftButton, {}, QPoint(2, 2));
        EXPECT_EQ(fx.store().status(), L("Формат времени: {0}", L(name)));
        EXPECT_EQ(position->toolTip(), qs(L("Формат времени: {0}. Щелчок — следующий формат", L(name))));
    }
    EXPECT_EQ(fx.store().timeFormat(), start);
    fx.store().setCursor(61.5);
    EXPECT_EQ(position->text(), QStringLiteral("01:01.500"));
}

TEST(TransportBar, GoToStartUsesTheSelectionAndLoopStopsFirst) {
    StudioFixture fx;
    fx.window().show();
    fx.loadDemo();
    fx.store().setSelection(TimeRange{2.5, 4.0});
    fx.view().transportBar()->startButton()->click();
    EXPECT_DOUBLE_EQ(fx.store().cursor(), 2.5);
    startPlayback(fx);
    ASSERT_TRUE(fx.studio->transport().playing());
    const bool loop = fx.store().loop();
    fx.view().transportBar()->loopButton()->click();
    pump();
    EXPECT_FALSE(fx.studio->transport().playing());
    EXPECT_EQ(fx.store().loop(), !loop);
    EXPECT_EQ(fx.view().transportBar()->loopButton()->active(), !loop);
}

TEST(TransportBar, ThirtyPlaybackTicksRepaintOnlyTheMeterAndThePosition) {
    StudioFixture fx;
    fx.window().resize(1280, 800);
    fx.window().show();
    fx.loadDemo();
    startPlayback(fx);
    ASSERT_TRUE(fx.studio->transport().playing());
    for (int i = 0; i < 3; ++i) pump();

    struct Counter : QObject {
        QHash<QWidget*, int> paints;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (e->type() == QEvent::Paint)
                if (auto* w = qobject_cast<QWidget*>(o)) ++paints[w];
            return false;
        }
    } counter;
    qApp->installEventFilter(&counter);
    for (int tick = 0; tick < 30; ++tick) {
        fx.services.backend.pump(1600);
        fx.services.scheduler.advanceBy(1.0 / 30.0);
        pump(2);
    }
    qApp->removeEventFilter(&counter);
    ASSERT_TRUE(fx.studio->transport().playing());

    TransportBar* bar = fx.view().transportBar();
    EXPECT_GT(counter.paints.value(bar->position()), 0);
    EXPECT_GT(counter.paints.value(bar->meter()), 0);
    const QSet<QWidget*> allowed{bar, bar->position(), bar->meter()};
    // The timeline in the editor area moves its own playhead; its budget is its own.
    QWidget* editor = fx.view().editorArea();
    // The live meter follows the loudness and correlation, published ten times a second.
    QWidget* live = bar->findChild<QWidget*>(QStringLiteral("liveMeterPanel"));
    for (auto it = counter.paints.cbegin(); it != counter.paints.cend(); ++it)
        EXPECT_TRUE(allowed.contains(it.key()) ||
                    editor->isAncestorOf(it.key()) ||
                    (live && live->isAncestorOf(it.key()) && it.value() <= 11))
            << it.key()->metaObject()->className() << " " << it.key()->objectName().toStdString() << " painted "
            << it.value() << " times";
}

TEST(Header, ProjectLineExportAndModeSwitch) {
    StudioFixture fx;
    fx.window().show();
    Header& header = *fx.view().header();
    EXPECT_EQ(header.projectLabel()->text(), qs(L("Новый проект")));
    fx.store().setDirty(true);
    EXPECT_EQ(header.projectLabel()->text(), qs(L("Новый проект")) + QString::fromUtf8("  •"));
    fx.store().setDirty(false);
    fx.store().setProjectURL(std::filesystem::path("/tmp/Интервью.tessoral"));
    EXPECT_EQ(header.projectLabel()->text(), QString::fromUtf8("Интервью"));

    // Rows but no clips: export stays disabled.
    Session rowsOnly;
    rowsOnly.lanes.push_back(Lane{});
    fx.store().setSession(rowsOnly);
    EXPECT_FALSE(header.exportButton()->isEnabled());
    fx.loadDemo();
    EXPECT_TRUE(header.exportButton()->isEnabled());
    header.exportButton()->click();
    EXPECT_TRUE(fx.store().showExport());
    fx.store().setShowExport(false);

    // The switch asks the store; it shows only what the store holds.
    QTest::mouseClick(header.modeSwitch(), Qt::LeftButton, {}, header.modeSwitch()->segmentRect(2).center());
    EXPECT_EQ(fx.store().editorMode(), EditorMode::mixer);
    EXPECT_EQ(header.modeSwitch()->currentIndex(), 2);
    fx.store().setEditorMode(EditorMode::waveform);
    EXPECT_EQ(header.modeSwitch()->currentIndex(), 0);
}

TEST(Footer, SizeInWholeMebibytesAndStatusLine) {
    EXPECT_EQ(Footer::sizeText(1048575), qs(L("{0} МБ", 0)));
    EXPECT_EQ(Footer::sizeText(1048576), qs(L("{0} МБ", 1)));
    EXPECT_EQ(Footer::sizeText(384LL * 1048576), qs(L("{0} МБ", 384)));
    EXPECT_EQ(Footer::sizeText(-5), qs(L("{0} МБ", 0)));
    EXPECT_EQ(Footer::sizeText(1048575), QString::fromUtf8("0 МБ"));

    StudioFixture fx;
    fx.window().show();
    Footer& footer = *fx.view().footer();
    fx.store().setStatus("");
    EXPECT_EQ(footer.statusLabel()->text(), QString());
    fx.store().setStatus("Проект сохранён");
    EXPECT_EQ(footer.statusLabel()->text(), QString::fromUtf8("Проект сохранён"));
    EXPECT_TRUE(footer.dot()->isVisibleTo(&footer));
    EXPECT_EQ(footer.dot()->color(), Palette::accent());
    fx.store().setBusy(true);
    EXPECT_TRUE(footer.spinner()->isVisibleTo(&footer));
    EXPECT_FALSE(footer.dot()->isVisibleTo(&footer));
    fx.store().setBusy(false);
}

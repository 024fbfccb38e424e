// The multitrack page: widths from the space it gets, the header line, the ruler click, the
// recording extent and the playhead follower on the manual scheduler's clock.
#include <QImage>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>

#include "TimelineTestSupport.h"
#include "model/Localization.h"
#include "timeline/MultitrackTimeline.h"
#include "widgets/TimeRuler.h"
#include "widgets/ToolButton.h"

namespace tessoral::test {
namespace {

struct Page : ::testing::Test {
    LanesFixture fx;  // its own lanes widget stays unused
    std::unique_ptr<MultitrackTimeline> page;
    std::vector<Uuid> rows;
    void SetUp() override {
        rows = fx.rows(3);
        fx.add(0, 0, 40, "A");
        page = std::make_unique<MultitrackTimeline>(*fx.store, fx.signals.get());
        page->resize(1000, 700);
        page->show();
        pump(4);
    }
    void TearDown() override { page.reset(); }
    StudioStore& store() { return *fx.store; }
    void startPlayback() {
        store().playPause();
        fx.settle();
        ASSERT_TRUE(store().transport().playing());
    }
    void tick() {
        fx.services.backend.pump(1600);
        fx.services.scheduler.advanceBy(1.0 / 30.0);
        pump(1);
    }
};

TEST_F(Page, WidthsFollowTheSpaceAndTheZoom) {
    EXPECT_EQ(page->baseWidth(), 806);
    EXPECT_EQ(page->contentWidth(), 806);
    EXPECT_EQ(page->timelineArea()->horizontalScrollBar()->maximum(), 0);  // zoom 1 never scrolls
    store().setZoom(2.0);
    pump(2);
    EXPECT_EQ(page->contentWidth(), 1612);
    EXPECT_EQ(page->lanes()->contentWidth(), 1612);
    EXPECT_GT(page->timelineArea()->horizontalScrollBar()->maximum(), 0);
    page->resize(400, 700);
    pump(2);
    EXPECT_EQ(page->baseWidth(), 280);
    EXPECT_EQ(page->duration(), store().timelineDuration());
    // Rows line up with their headers: 52 points of rulers above the lanes.
    EXPECT_EQ(page->lanes()->y(), 52);
    EXPECT_EQ(page->lanes()->height(), 3 * 134);
}

// In the bars format the grid's lines run over the rows and on through the filler below them.
TEST_F(Page, BarLinesCoverTheFillerBelowTheLastRow) {
    store().setTimeFormat(TimeFormat::bars);
    pump(3);
    const int filler = 52 + 3 * 134 + 30;  // 30 points below the last row
    ASSERT_LT(filler, page->timelineArea()->viewport()->height());
    auto lines = [&](int y) {
        const QImage image = page->timelineArea()->viewport()->grab().toImage();
        int count = 0;
        for (int x = 0; x < image.width(); ++x)
            if (!near(image.pixelColor(x, y), Palette::background(), 2)) ++count;
        return count;
    };
    const int inRows = lines(52 + 2 * 134 + 4);  // in the last row, above its clip-free band
    EXPECT_GT(inRows, 5);
    EXPECT_EQ(lines(filler), inRows);
    store().setTimeFormat(TimeFormat::clock);
    pump(3);
    EXPECT_EQ(lines(filler), 0);
}

TEST_F(Page, HeadersScrollWithTheRows) {
    Session s = store().session();
    while (s.lanes.size() < 12) s.lanes.push_back(Lane{});
    store().setSession(s);
    store().setZoom(3.0);  // with the horizontal scroll bar
    pump(3);
    QScrollBar* rows = page->timelineArea()->verticalScrollBar();
    QScrollBar* headers = page->headerArea()->verticalScrollBar();
    ASSERT_GT(rows->maximum(), 0);
    EXPECT_EQ(headers->maximum(), rows->maximum());
    rows->setValue(rows->maximum());
    EXPECT_EQ(headers->value(), rows->maximum());
    headers->setValue(134);  // the wheel over the headers
    EXPECT_EQ(rows->value(), 134);
}

TEST_F(Page, HeaderLineCountsRowsAndLimitsTheNewRowButton) {
    EXPECT_EQ(page->countLabel()->text().toStdString(), LP(3, "{0} дорожка|{0} дорожки|{0} дорожек"));
    ASSERT_TRUE(page->newLaneButton()->isEnabled());
    page->newLaneButton()->click();
    EXPECT_EQ(store().session().lanes.size(), 4u);
    EXPECT_EQ(page->countLabel()->text().toStdString(), LP(4, "{0} дорожка|{0} дорожки|{0} дорожек"));
    EXPECT_EQ(page->lanes()->height(), 4 * 134);
    Session s = store().session();
    while (s.lanes.size() < 32) s.lanes.push_back(Lane{});
    store().setSession(s);
    EXPECT_FALSE(page->newLaneButton()->isEnabled());
    s.lanes.pop_back();
    store().setSession(s);
    EXPECT_TRUE(page->newLaneButton()->isEnabled());
    store().setBusy(true);
    EXPECT_FALSE(page->newLaneButton()->isEnabled());
}

TEST_F(Page, RulerClickSeeksAndClearsTheSelectionEvenWhenLocked) {
    store().setSelection(TimeRange{1, 2});
    QTest::mouseClick(page->timeRuler(), Qt::LeftButton, {}, QPoint(403, 10));  // half the width
    EXPECT_EQ(store().selection(), std::nullopt);
    EXPECT_NEAR(store().cursor(), page->duration() / 2, 1e-3);
    const double cursor = store().cursor();
    store().setSelection(TimeRange{1, 2});
    store().setBusy(true);
    QTest::mouseClick(page->timeRuler(), Qt::LeftButton, {}, QPoint(100, 10));
    EXPECT_EQ(store().selection(), std::nullopt);
    EXPECT_DOUBLE_EQ(store().cursor(), cursor);
}

TEST_F(Page, FollowerScrollsAtMostEveryThreeTenthsWhenZoomedIn) {
    QScrollBar* bar = page->timelineArea()->horizontalScrollBar();
    std::vector<double> scrolls;
    QObject::connect(bar, &QScrollBar::valueChanged, [&] { scrolls.push_back(fx.services.scheduler.now()); });
    store().setCursor(20.0);
    // Zoom 1: never.
    startPlayback();
    for (int i = 0; i < 30; ++i) tick();
    EXPECT_TRUE(scrolls.empty());
    store().stop();
    fx.settle();
    // Zoom 1.5 while playing: at most once in any 0.3 seconds, and it does follow.
    store().setZoom(1.5);
    pump(2);
    bar->setValue(0);
    scrolls.clear();
    startPlayback();
    for (int i = 0; i < 60; ++i) tick();
    ASSERT_GE(scrolls.size(), 3u);
    for (std::size_t i = 1; i < scrolls.size(); ++i) EXPECT_GT(scrolls[i] - scrolls[i - 1], 0.3);
    const double x = store().playhead() / page->duration() * page->contentWidth();
    const double visible = page->timelineArea()->viewport()->width();
    EXPECT_GE(x, bar->value());
    EXPECT_LE(x, bar->value() + visible);
    // Stopped: no scrolling.
    store().stop();
    fx.settle();
    scrolls.clear();
    for (int i = 0; i < 30; ++i) tick();
    EXPECT_TRUE(scrolls.empty());
}

TEST_F(Page, FollowerOffWhenTheSettingSaysSo) {
    fx.services.defaults.set("playback.follow", false);
    store().setZoom(4.0);
    pump(2);
    QScrollBar* bar = page->timelineArea()->horizontalScrollBar();
    int scrolls = 0;
    QObject::connect(bar, &QScrollBar::valueChanged, [&] { ++scrolls; });
    store().setCursor(20.0);
    startPlayback();
    for (int i = 0; i < 30; ++i) tick();
    EXPECT_EQ(scrolls, 0);
    store().stop();
}

}  // namespace
}  // namespace tessoral::test

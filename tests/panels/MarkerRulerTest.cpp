#include <QImage>
#include <QTest>

#include <limits>

#include <gtest/gtest.h>

#include "panels/WorkspaceTestSupport.h"
#include "widgets/MarkerRuler.h"
#include "widgets/Palette.h"

namespace tessoral {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(MarkerRuler, PositionIsGuardedForEveryDuration) {
    EXPECT_DOUBLE_EQ(MarkerRuler::markerX(5.0, 1000.0, 10.0), 500.0);
    EXPECT_DOUBLE_EQ(MarkerRuler::markerX(0.0, 1000.0, 10.0), 0.0);
    // Every clip gone: the duration is 0 and every marker stands at the left edge.
    for (double duration : {0.0, -1.0, kNaN, kInf, -kInf}) EXPECT_DOUBLE_EQ(MarkerRuler::markerX(5.0, 1000.0, duration), 0.0);
    EXPECT_DOUBLE_EQ(MarkerRuler::markerX(kNaN, 1000.0, 10.0), 0.0);
    // A tiny duration would give an x no pixel type holds: it stays finite and bounded.
    const double far = MarkerRuler::markerX(1.0e300, 1000.0, 1.0e-300);
    EXPECT_TRUE(std::isfinite(far));
    EXPECT_LE(far, 1.0e7);
}

TEST(MarkerRuler, LabelWidthIsTheRoomLeftWithinTwelveAndOneHundredTen) {
    EXPECT_DOUBLE_EQ(MarkerRuler::labelWidth(0.0, 1000.0), 110.0);
    EXPECT_DOUBLE_EQ(MarkerRuler::labelWidth(950.0, 1000.0), 50.0);
    EXPECT_DOUBLE_EQ(MarkerRuler::labelWidth(1000.0, 1000.0), 12.0);
    EXPECT_DOUBLE_EQ(MarkerRuler::labelWidth(1200.0, 1000.0), 12.0);  // a marker beyond the axis
}

struct RulerTest : ::testing::Test {
    test::WorkspaceStore ws;
    StudioStore& store = *ws.store;
    MarkerRuler ruler{store};
    RulerTest() {
        const Uuid lane = ws.addLane("A");
        ws.addClip("clip", lane, 0.0, 48000 * 10);
        ruler.resize(1000, MarkerRuler::kHeight);
        ruler.setScale(1000.0, 10.0);
    }
};

TEST_F(RulerTest, EmptyStripIsTwentyTwoHighOnTheBackground) {
    EXPECT_EQ(ruler.height(), 22);
    EXPECT_TRUE(ruler.labelRects().empty());
    const QImage image = ruler.grab().toImage();
    EXPECT_EQ(image.pixelColor(500, 11).rgb(), Palette::background().rgb());
}

TEST_F(RulerTest, LabelsAtTheirTimesAndTheLaterOfOverlappingMarkersIsHit) {
    ws.addMarker("start", 0.0);
    ws.addMarker("near end", 9.5);
    ws.addMarker("first", 4.0);
    ws.addMarker("second", 4.2);
    const auto rects = ruler.labelRects();
    ASSERT_EQ(rects.size(), 4u);  // sorted by start: 0, 4, 4.2, 9.5
    EXPECT_DOUBLE_EQ(rects[0].x(), 0.0);
    EXPECT_DOUBLE_EQ(rects[0].width(), 110.0);
    EXPECT_DOUBLE_EQ(rects[3].x(), 950.0);
    EXPECT_DOUBLE_EQ(rects[3].width(), 50.0);
    // "first" covers 400…510 and "second" 420…530: 410 hits the first, 450 the later one.
    EXPECT_EQ(ruler.markerAt(QPointF(410, 10)), std::optional<std::size_t>(1));
    EXPECT_EQ(ruler.markerAt(QPointF(450, 10)), std::optional<std::size_t>(2));
    EXPECT_EQ(ruler.markerAt(QPointF(300, 10)), std::nullopt);
    EXPECT_EQ(ruler.markerAt(QPointF(450, 1)), std::nullopt);  // above the labels
}

TEST_F(RulerTest, ClicksGoToTheMarker) {
    ws.addMarker("point", 2.0);
    ws.addMarker("range", 6.0, 8.0);
    store.setSelection(TimeRange{1.0, 1.5});
    QTest::mouseClick(&ruler, Qt::LeftButton, Qt::NoModifier, QPoint(605, 11));
    EXPECT_DOUBLE_EQ(store.cursor(), 6.0);
    ASSERT_TRUE(store.selection().has_value());
    EXPECT_DOUBLE_EQ(store.selection()->lower, 6.0);
    EXPECT_DOUBLE_EQ(store.selection()->upper, 8.0);
    QTest::mouseClick(&ruler, Qt::LeftButton, Qt::NoModifier, QPoint(205, 11));
    EXPECT_DOUBLE_EQ(store.cursor(), 2.0);
    EXPECT_FALSE(store.selection().has_value());
}

TEST_F(RulerTest, RedrawsWhenMarkersChangeAndSurvivesAnEmptyProject) {
    ws.addMarker("m", 5.0);
    EXPECT_DOUBLE_EQ(ruler.labelRects()[0].x(), 500.0);
    // The host gives the axis of a project without clips.
    ruler.setScale(1000.0, 0.0);
    EXPECT_DOUBLE_EQ(ruler.labelRects()[0].x(), 0.0);
    const QImage image = ruler.grab().toImage();  // paints without trouble
    EXPECT_FALSE(image.isNull());
}

}  // namespace
}  // namespace tessoral

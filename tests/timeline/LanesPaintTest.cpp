// What the lanes draw, probed on grab(): row, clip, selection, playhead, crossfade and envelope
// opacities over what lies under them; the crossfade geometry; the playhead's partial repaints.
#include "TimelineTestSupport.h"
#include "timeline/LanesPainter.h"
#include "timeline/TimelineGeometry.h"

#include <QPainter>

#include "support/TestSignals.h"

namespace tessoral::test {
namespace {

struct Paint : ::testing::Test {
    LanesFixture fx;
    std::vector<Uuid> rows;
    void SetUp() override { rows = fx.rows(3); }
    QColor at(int x, int y) { return fx.grab().pixelColor(x, y); }
};

TEST_F(Paint, RowAndClipFillsOverTheRowColour) {
    const Uuid a = fx.add(0, 10, 20, "A");  // 100…300
    const Uuid b = fx.add(1, 10, 20, "B");
    const Uuid c = fx.add(2, 10, 20, "C");
    Session s = fx.store->session();
    s.track(c)->muted = true;
    fx.store->setSession(s);
    fx.store->setSelectedID(a);  // selects row 0 too
    const QImage image = fx.grab();
    const QColor window = Palette::background();
    // The selected row's background: white at 0.03; the others show the window.
    const QColor row0 = image.pixelColor(600, 60);
    EXPECT_TRUE(near(row0, blend(window, Qt::white, 0.03)));
    EXPECT_TRUE(near(image.pixelColor(600, 200), window));
    // Body fills at y 105 (between the name and the waveform's reach, clear of the outline).
    EXPECT_TRUE(near(image.pixelColor(200, 105), blend(row0, Palette::track(fx.track(a).color), 0.13)));
    EXPECT_TRUE(near(image.pixelColor(200, 134 + 105), blend(window, Palette::track(fx.track(b).color), 0.09)));
    EXPECT_TRUE(near(image.pixelColor(200, 268 + 105), blend(window, Palette::track(fx.track(c).color), 0.035)));
}

TEST_F(Paint, PlayheadAndSelectionOverTheRow) {
    fx.add(0, 10, 50, "A");
    fx.store->setSelectedLaneID(rows[1]);
    fx.store->setCursor(45.0);  // x 450
    fx.store->setSelection(TimeRange{50, 60});
    const QImage image = fx.grab();
    const QColor row1 = image.pixelColor(700, 200);
    EXPECT_TRUE(near(image.pixelColor(450, 200), blend(row1, Qt::white, 0.85)));
    EXPECT_TRUE(near(image.pixelColor(550, 200), blend(row1, Qt::white, 0.12)));
    EXPECT_TRUE(near(image.pixelColor(500, 200), blend(blend(row1, Qt::white, 0.12), Qt::white, 0.6)));  // edge
    EXPECT_TRUE(near(image.pixelColor(550, 300), Palette::background()));       // other rows: no shade
}

TEST_F(Paint, CrossfadeBandAndCurves) {
    // Row 1 of 134-point rows, overlap 10…11 s, 1000 points for 100 s.
    fx.add(1, 5, 6, "Out");  // 5…11
    fx.add(1, 10, 5, "In");  // 10…15
    auto shapes = LanesPainter::crossfadeShapes(fx.lanes->snapshot());
    ASSERT_EQ(shapes.size(), 1u);
    EXPECT_EQ(shapes[0].band, QRectF(100, 143, 10, 116));
    ASSERT_EQ(shapes[0].curves.size(), 2u);
    EXPECT_FALSE(shapes[0].curves[0].incoming);
    EXPECT_EQ(shapes[0].curves[0].points.size(), 4);  // n = 3 segments
    EXPECT_EQ(shapes[0].curves[0].points.front(), QPointF(110, 259));  // the outgoing end, silent
    EXPECT_EQ(shapes[0].curves[0].points.back(), QPointF(100, 143));
    EXPECT_EQ(shapes[0].curves[1].points.front(), QPointF(100, 259));
    EXPECT_EQ(shapes[0].curves[1].points.size(), 4);

    // The band's white 0.07 over what lies there without it.
    Session off = fx.store->session();
    off.autoCrossfade = false;
    fx.store->setSession(off);
    EXPECT_TRUE(LanesPainter::crossfadeShapes(fx.lanes->snapshot()).empty());
    const QColor under = at(105, 234);
    off.autoCrossfade = true;
    fx.store->setSession(off);
    EXPECT_TRUE(near(at(105, 234), blend(under, Qt::white, 0.07)));
}

TEST_F(Paint, ShortOverlapsDrawTheBandButNoCurves) {
    fx.add(1, 5, 5.05, "Out");  // ends at 10.05
    fx.add(1, 10, 5, "In");
    auto shapes = LanesPainter::crossfadeShapes(fx.lanes->snapshot());
    ASSERT_EQ(shapes.size(), 1u);
    EXPECT_DOUBLE_EQ(shapes[0].band.width(), 1.0);
    EXPECT_TRUE(shapes[0].curves.empty());

    LanesFixture wider;
    wider.rows(2);
    wider.add(1, 5, 5.06, "Out");
    wider.add(1, 10, 5, "In");
    shapes = LanesPainter::crossfadeShapes(wider.lanes->snapshot());
    ASSERT_EQ(shapes.size(), 1u);
    ASSERT_EQ(shapes[0].curves.size(), 2u);
    EXPECT_EQ(shapes[0].curves[0].points.size(), 3);  // n = 2
    // A manual 2-second cosine fade-in outlasting the overlap keeps its length and shape.
    Session s = wider.store->session();
    s.tracks[1].fadeIn = 2.0;
    s.tracks[1].fadeInCurve = FadeCurve::cosine;
    wider.store->setSession(s);
    shapes = LanesPainter::crossfadeShapes(wider.lanes->snapshot());
    ASSERT_EQ(shapes[0].curves.size(), 2u);
    EXPECT_EQ(shapes[0].curves[1].points.size(), 7);  // 20 points: n = 6
    EXPECT_DOUBLE_EQ(shapes[0].curves[1].points.back().x(), 120.0);
    // Off in the clip editor, and with the switch off.
    LanesFixture editor(LanesMode::clipEditor);
    editor.rows(1);
    editor.add(0, 5, 6, "Out");
    const Uuid in = editor.add(0, 10, 5, "In");
    editor.store->setSelectedID(in);
    EXPECT_TRUE(LanesPainter::crossfadeShapes(editor.lanes->snapshot()).empty());
}

TEST_F(Paint, MutedEnvelopeLinesAreFaint) {
    const Uuid a = fx.add(0, 10, 20, "A");
    // A flat volume line on a pixel row's centre (y 70.5), so one row is fully covered.
    const auto band = TimelineGeometry::envelopeBand(134);
    const double v = (band.bottom - 70.5) / band.height() * 72.0 - 60.0;
    Session s = fx.store->session();
    s.track(a)->volumeEnvelope = {{0.0, v}};
    s.track(a)->muted = true;
    fx.store->setSession(s);
    const QColor under = at(201, 70);
    fx.store->setShowEnvelopes(true);
    EXPECT_TRUE(near(at(201, 70), blend(under, LanesPainter::volumeColor(), 0.35)));
    s.track(a)->muted = false;
    fx.store->setSession(s);
    fx.store->setShowEnvelopes(false);
    const QColor audible = at(201, 70);  // the waveform under the line is drawn brighter now
    fx.store->setShowEnvelopes(true);
    EXPECT_TRUE(near(at(201, 70), blend(audible, LanesPainter::volumeColor(), 0.9), 6));
}

TEST_F(Paint, TrimPreviewAddingBackIsTintedNotBlack) {
    const Uuid a = fx.add(0, 10, 20, "A");
    Session s = fx.store->session();
    s.track(a)->headHandle = test::constant(48000 * 2);
    fx.store->setSession(s);
    fx.store->beginTrim(a, ClipEdge::start);
    fx.store->dragTrim(a, -2.0);  // two seconds of kept head audio back
    ASSERT_TRUE(fx.lanes->snapshot().trimDrag);
    const QImage image = fx.grab();
    const QColor row0 = image.pixelColor(600, 60);
    const QColor tint = Palette::track(fx.track(a).color);
    EXPECT_TRUE(near(image.pixelColor(90, 60), blend(row0, tint, 0.12)));
    EXPECT_TRUE(near(image.pixelColor(80, 60), tint));  // the preview edge line at 8 s
    fx.store->endTrim();
}

// A clip's name keeps clear of what lies over its band: it starts after the fade-in handle (at
// the clip's corner or at the fade's end) and after a crossfade, and ends before the fade-out
// handle and the next crossfade. 10 points a second, rows 134 high.
TEST_F(Paint, ClipNamesStartAfterFadeHandlesAndCrossfades) {
    const Uuid a = fx.add(0, 10, 20, "Первый клип с длинным названием");  // x 100…300
    fx.add(1, 5, 8, "Out");                                                // 50…130
    fx.add(1, 10, 5, "In");                                                // 100…150, overlap 100…130
    auto nameOf = [&](const Uuid& id) {
        const LanesSnapshot& snap = fx.lanes->snapshot();
        return LanesPainter::nameRect(snap, *snap.item(id), LanesPainter::crossfadeShapes(snap));
    };
    // No fades: handles at 5 points inside each end, 9 wide.
    QRectF name = nameOf(a);
    EXPECT_DOUBLE_EQ(name.top(), 14.0);
    EXPECT_DOUBLE_EQ(name.height(), 15.0);
    EXPECT_GE(name.left(), 105.0 + 4.5);
    EXPECT_LE(name.right(), 295.0 - 4.5);
    EXPECT_GT(name.width(), 150.0);
    // A 2-second fade-in and a 5-second fade-out: their handles at x 120 and 250.
    Session s = fx.store->session();
    s.track(a)->fadeIn = 2.0;
    s.track(a)->fadeOut = 5.0;
    fx.store->setSession(s);
    name = nameOf(a);
    EXPECT_GE(name.left(), 124.5);
    EXPECT_LE(name.left(), 130.0);
    EXPECT_LE(name.right(), 245.5);
    // The crossfade on row 1 (x 100…130): the incoming name after it, the outgoing one before it.
    const auto& tracks = fx.store->session().tracks;
    EXPECT_GE(nameOf(tracks[2].id).left(), 130.0);
    EXPECT_LE(nameOf(tracks[1].id).right(), 100.0);
    EXPECT_GT(nameOf(tracks[1].id).width(), 20.0);
    // A fade-in over the whole clip leaves no room.
    s.track(a)->fadeIn = 20.0;
    s.track(a)->fadeOut = 0.0;
    fx.store->setSession(s);
    EXPECT_LE(nameOf(a).width(), 4.0);
}

// In the clip editor the amplitude scale lies over the lane's visible left edge: the clip's name
// starts after it, and the clip's own channel letters, which the scale repeats there, are left out
// (no doubled "L L"). Elsewhere the letters stay and the name keeps clear of them.
TEST(PaintEditor, NameAndChannelLettersKeepClearOfTheAmplitudeScale) {
    LanesFixture fx(LanesMode::clipEditor);
    fx.rows(1);
    fx.scale(1000.0, 100.0, 300.0);
    const Uuid id = fx.add(0, 0, 20, "Мелодия");  // x 0…200
    fx.store->setSelectedID(id);
    fx.settle();
    auto look = [&] {
        const LanesSnapshot& snap = fx.lanes->snapshot();
        return std::make_pair(LanesPainter::nameRect(snap, *snap.item(id), {}), LanesPainter::channelLetters(snap, *snap.item(id)));
    };
    // Uncovered: both letters at x 10; in a 300-point row the left one shares the name's band.
    auto [name, letters] = look();
    ASSERT_EQ(letters.size(), 2u);
    EXPECT_EQ(letters[0].text, QStringLiteral("L"));
    EXPECT_DOUBLE_EQ(letters[0].box.left(), 10.0);
    EXPECT_TRUE(letters[0].box.top() < name.bottom() && letters[0].box.bottom() > name.top());
    EXPECT_FALSE(name.intersects(letters[0].box));
    EXPECT_FALSE(name.intersects(letters[1].box));

    const QImage bare = fx.grab();
    fx.lanes->setCover(0.0, 34.0);
    std::tie(name, letters) = look();
    EXPECT_TRUE(letters.empty());
    EXPECT_GE(name.left(), 34.0);
    EXPECT_GT(name.width(), 40.0);
    // On the pixels: under the scale's strip, from the fade handle's right to the strip's end, the
    // name's band and the left letter's place show nothing but the clip's fill.
    const QImage covered = fx.grab();
    const QColor fill = covered.pixelColor(20, 40);
    int differing = 0;
    for (int x = 11; x < 34; ++x)
        for (int y = 14; y < 30; ++y)
            if (!near(covered.pixelColor(x, y), fill, 12)) ++differing;
    EXPECT_EQ(differing, 0);
    // … where the uncovered lane drew the name and the letter.
    int drawn = 0;
    for (int x = 11; x < 34; ++x)
        for (int y = 14; y < 30; ++y)
            if (!near(bare.pixelColor(x, y), fill, 12)) ++drawn;
    EXPECT_GT(drawn, 10);

    // Scrolled past the clip's start, the strip lies inside the clip: the name keeps to the left
    // of it (out of sight), not under it.
    fx.lanes->setCover(60.0, 94.0);
    std::tie(name, letters) = look();
    EXPECT_EQ(letters.size(), 2u);
    EXPECT_LE(name.right(), 60.0);
}

// A steady tone reads as a steady band: every pixel column inside the clip carries waveform
// pixels, whatever the pitch of the columns (the content width at zoom 1…32 of 40 window widths
// from 200 to 2000 points), in the peak and the two-channel forms.
TEST(PaintColumns, ASteadyToneLeavesNoEmptyColumnAtAnyWidthOrZoom) {
    for (const LanesMode mode : {LanesMode::multitrack, LanesMode::clipEditor}) {
        LanesFixture fx(mode);
        fx.rows(1);
        const std::size_t frames = 11 * 48000;
        Session s = fx.store->session();
        Track tone = Track::make("Tone", AudioData(sine(frames, 440.0), sine(frames, 440.0)));
        tone.start = 0.37;
        tone.laneID = s.lanes[0].id;
        tone.color = 1;
        s.tracks.push_back(tone);
        fx.store->setSession(s);
        fx.store->setSelectedID(tone.id);
        fx.settle();
        const double rowHeight = 134.0;
        // Rows inside the tone's reach (amplitude 0.5) and the clip's fill below or between it.
        const bool peaks = mode == LanesMode::multitrack;
        const std::vector<int> probes = peaks ? std::vector<int>{63, 83} : std::vector<int>{31, 44, 95, 109};
        const int fillRow = peaks ? 110 : 70;
        int checked = 0;
        for (int k = 0; k < 40; ++k) {
            const double window = 200.0 + 1800.0 * k / 39.0;
            for (const double zoom : {1.0, 2.0, 4.0, 8.0, 16.0, 32.0}) {
                const double width = window * zoom;
                fx.lanes->setScale(width, 12.0, rowHeight);
                const LanesSnapshot& snap = fx.lanes->snapshot();
                ASSERT_EQ(snap.clips.size(), 1u);
                const QRectF frame = snap.clips[0].frame;
                const int first = int(std::ceil(frame.left()));
                const int end = int(std::floor(frame.right()));
                // The clip's start, middle and end, 700 pixels each (all of it at the small widths).
                for (const int from : {first, (first + end) / 2 - 350, end - 700}) {
                    const QRect exposed(std::max(from, first), 0, std::min(700, end - std::max(from, first)), int(rowHeight));
                    QImage image(exposed.size(), QImage::Format_ARGB32_Premultiplied);
                    QPainter painter(&image);
                    painter.translate(-exposed.topLeft());
                    LanesPainter::paint(painter, snap, exposed, 0.0);
                    painter.end();
                    for (int x = 0; x < image.width(); ++x) {
                        const QColor fill = image.pixelColor(x, fillRow);
                        for (const int y : probes) {
                            const QColor c = image.pixelColor(x, y);
                            const int diff = std::max({std::abs(c.red() - fill.red()), std::abs(c.green() - fill.green()),
                                                       std::abs(c.blue() - fill.blue())});
                            // (≈ 40 over the selected clip's bright outline, ≈ 170 inside it)
                            ASSERT_GT(diff, 20) << (peaks ? "peaks" : "two channels") << ": empty column at x "
                                                << exposed.left() + x << " of a clip " << frame.width()
                                                << " wide (window " << window << ", zoom " << zoom << "), row " << y;
                            ++checked;
                        }
                    }
                }
            }
        }
        EXPECT_GT(checked, 40 * 6 * 2 * 200);
    }
}

TEST_F(Paint, ThirtyTicksRepaintOnlyThePlayheadStrips) {
    fx.add(0, 0, 20, "A");
    fx.lanes->show();
    fx.settle();
    pump(5);
    fx.store->playPause();
    fx.settle();
    pump(5);
    fx.lanes->clearPaintLog();
    for (int tick = 0; tick < 30; ++tick) {
        fx.services.backend.pump(1600);
        fx.services.scheduler.advanceBy(1.0 / 30.0);
        pump(2);
    }
    ASSERT_TRUE(fx.store->transport().playing());
    ASSERT_FALSE(fx.lanes->paintLog().empty());
    for (const QRect& r : fx.lanes->paintLog()) EXPECT_LE(r.width(), 4) << r.x() << " " << r.width();
    fx.store->stop();
}

}  // namespace
}  // namespace tessoral::test

namespace tessoral::test {

// A timeline that is not shown does not draw, so it must not keep the project it last drew: after
// New, what it keeps holds nothing of the closed project (its clips and their audio).
TEST(LanesMemory, AHiddenTimelineHoldsNoAudioOfAClosedProject) {
    LanesFixture fx;
    fx.rows(1);
    fx.add(0, 0.0, 2.0);
    fx.lanes->snapshot();  // as its last draw did
    ASSERT_EQ(fx.lanes->keptSnapshot().session.tracks.size(), 1u);
    ASSERT_EQ(fx.lanes->keptSnapshot().clips.size(), 1u);
    fx.store->newProject();
    fx.settle();
    QCoreApplication::processEvents();
    EXPECT_TRUE(fx.lanes->keptSnapshot().session.tracks.empty());
    EXPECT_TRUE(fx.lanes->keptSnapshot().clips.empty());
    // Drawing again builds from the new, empty project.
    EXPECT_TRUE(fx.lanes->snapshot().clips.empty());
}

}  // namespace tessoral::test

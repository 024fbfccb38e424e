// Spectral editing: painting the brush and lasso mask with its limits, the selection that follows
// it, the repair on the task runner (its result only for an unchanged clip) and the Delete key.

#include <cmath>

#include "StoreTestSupport.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

constexpr double kSP = 0.01;   // seconds per pixel
constexpr double kPP = 0.001;  // axis position per pixel

class StoreSpectral : public StoreTest {
protected:
    // Two 2-second noise clips at 1 s and 4 s, the first selected, in spectral view with the brush.
    void SetUp() override {
        Track a = Track::make("A", noise(96000, 0.5f, 1));
        a.start = 1.0;
        Track b = Track::make("B", noise(96000, 0.5f, 2));
        b.start = 4.0;
        setClips({a, b});
        store->setSelectedID(a.id);
        store->setSpectralView(true);
        store->setSpectralTool(SpectralTool::brush);
    }
    Uuid idA() const { return store->session().tracks[0].id; }
    Uuid idB() const { return store->session().tracks[1].id; }

    void stroke(const Uuid& clip, double t, double f, bool erase = false) {
        store->paintSpectral(clip, t, f, true, erase, kSP, kPP);
    }
    void drag(const Uuid& clip, double t, double f) { store->paintSpectral(clip, t, f, false, false, kSP, kPP); }

    std::size_t lastPoints() const {
        const auto& shape = store->spectralMask().regions.back().shape.value;
        if (const auto* s = std::get_if<SpectralMask::Stroke>(&shape)) return s->points.size();
        return std::get<SpectralMask::Polygon>(shape).points.size();
    }
};

// RMS of frames lo..<hi of the left channel.
double rms(const AudioData& audio, std::int64_t lo, std::int64_t hi) {
    double sum = 0.0;
    for (std::int64_t i = lo; i < hi; ++i) sum += double(audio.left[i]) * audio.left[i];
    return std::sqrt(sum / double(hi - lo));
}

}  // namespace

TEST_F(StoreSpectral, ABrushOnAnotherClipStartsANewMask) {
    stroke(idA(), 0.5, 1000);
    stroke(idA(), 1.0, 2000);
    EXPECT_EQ(store->spectralMask().regions.size(), 2u);
    EXPECT_EQ(store->spectralMaskTrackID(), idA());
    EXPECT_TRUE(store->spectralMaskActive());
    // The selection follows the mask, in timeline seconds (radius 12 px = 0.12 s).
    ASSERT_TRUE(store->selection());
    EXPECT_NEAR(store->selection()->lower, 1.0 + 0.5 - 0.12, 1e-9);
    EXPECT_NEAR(store->selection()->upper, 1.0 + 1.0 + 0.12, 1e-9);
    ASSERT_TRUE(store->freqSelection());
    EXPECT_LT(store->freqSelection()->lower, 1000.0);
    EXPECT_GT(store->freqSelection()->upper, 2000.0);

    stroke(idB(), 0.2, 500);
    EXPECT_EQ(store->spectralMask().regions.size(), 1u);
    EXPECT_EQ(store->spectralMaskTrackID(), idB());
    EXPECT_FALSE(store->spectralMaskActive());  // B is not the selected clip
    EXPECT_NEAR(store->selection()->lower, 4.0 + 0.2 - 0.12, 1e-9);
    EXPECT_TRUE(store->undoNames().empty());
}

TEST_F(StoreSpectral, AStrokeGrowsOnlyByMovesOfTwoPixelsUpTo4096Points) {
    stroke(idA(), 0.1, 1000);
    drag(idA(), 0.1 + 1.5 * kSP, 1000);
    EXPECT_EQ(lastPoints(), 1u);
    drag(idA(), 0.1 + 2.0 * kSP, 1000);
    EXPECT_EQ(lastPoints(), 2u);
    for (int i = 0; i < 5000; ++i) drag(idA(), 1.0 + i * 3 * kSP, 1000);
    EXPECT_EQ(lastPoints(), 4096u);
    EXPECT_EQ(store->spectralMask().regions.size(), 1u);
}

TEST_F(StoreSpectral, The257thRegionIsRefusedWithAStatus) {
    for (int i = 0; i < 256; ++i) stroke(idA(), 0.001 * i, 1000);
    ASSERT_EQ(store->spectralMask().regions.size(), 256u);
    const SpectralMask before = store->spectralMask();
    stroke(idA(), 1.5, 3000);
    EXPECT_EQ(store->spectralMask(), before);
    EXPECT_EQ(store->status(), "Слишком много мазков — примените или очистите маску");
}

TEST_F(StoreSpectral, ALassoOfTwoPointsIsDroppedAndTheSelectionFollows) {
    store->setSpectralTool(SpectralTool::lasso);
    stroke(idA(), 0.2, 500);
    drag(idA(), 0.6, 800);
    ASSERT_EQ(store->spectralMask().regions.size(), 1u);
    EXPECT_EQ(lastPoints(), 2u);  // drawn on while it has no area yet
    EXPECT_TRUE(store->selection());
    store->finishSpectralShape();
    EXPECT_TRUE(store->spectralMask().regions.empty());
    EXPECT_FALSE(store->selection());
    EXPECT_FALSE(store->freqSelection());

    // A closed outline stays; its points may lie above 24 kHz, the selection does not.
    stroke(idA(), 0.2, 500);
    drag(idA(), 0.6, 30000);
    drag(idA(), 0.9, 800);
    store->finishSpectralShape();
    ASSERT_EQ(store->spectralMask().regions.size(), 1u);
    EXPECT_EQ(*store->selection(), (TimeRange{1.2, 1.9}));
    EXPECT_EQ(*store->freqSelection(), (ClosedRange{500, 24000}));
}

TEST_F(StoreSpectral, EraseAloneMakesNoMask) {
    stroke(idA(), 0.5, 1000, true);  // erase on an empty mask
    EXPECT_TRUE(store->spectralMask().regions.empty());

    SpectralMask eraseOnly;
    eraseOnly.regions.push_back({SpectralMask::Shape::rectangle({0.1, 0.2}, {100, 200}), true});
    store->setSpectralMask(eraseOnly);
    store->setSpectralMaskTrackID(idA());
    store->setSelection(TimeRange{1.1, 1.2});
    store->finishSpectralShape();
    EXPECT_TRUE(store->spectralMask().regions.empty());
    EXPECT_FALSE(store->selection());
}

TEST_F(StoreSpectral, DeleteWithAMaskAttenuatesBy60DecibelsAndClearsTheMask) {
    // A painted region over every frequency of 0.5…1.5 s of the clip.
    SpectralMask mask;
    mask.regions.push_back({SpectralMask::Shape::rectangle({0.5, 1.5}, {0, 24000}), false});
    store->setSpectralMask(mask);
    store->setSpectralMaskTrackID(idA());
    ASSERT_TRUE(store->hasSpectralSelection());
    const AudioData before = store->session().tracks[0].audio;

    store->deleteSelection();
    EXPECT_TRUE(store->busy());
    EXPECT_EQ(store->status(), "Ослабление области…");
    fx.tasks.runAll();
    EXPECT_FALSE(store->busy());
    EXPECT_EQ(store->status(), "Ослабление области на 60 дБ");
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Ослабление области на 60 дБ"});
    EXPECT_TRUE(store->spectralMask().regions.empty());
    EXPECT_FALSE(store->selection());
    EXPECT_FALSE(store->freqSelection());

    const AudioData& after = store->session().tracks[0].audio;
    EXPECT_LT(rms(after, 36000, 60000), rms(before, 36000, 60000) * 0.01);  // −40 dB at least
    EXPECT_NEAR(rms(after, 0, 12000), rms(before, 0, 12000), 1e-6);           // outside untouched
}

TEST_F(StoreSpectral, DeleteWithARectangleKeepsTheSelection) {
    store->setSpectralTool(SpectralTool::rectangle);
    store->setSelection(TimeRange{1.5, 2.0});
    store->setFreqSelection(ClosedRange{1000, 4000});
    store->deleteSelection();
    fx.tasks.runAll();
    EXPECT_EQ(store->status(), "Ослабление области на 60 дБ");
    EXPECT_EQ(*store->selection(), (TimeRange{1.5, 2.0}));
    EXPECT_EQ(*store->freqSelection(), (ClosedRange{1000, 4000}));
    EXPECT_EQ(store->session().tracks[0].frames(), 96000);

    // Heal over the same rectangle.
    store->repairSpectral(SpectralRepairMode::heal());
    EXPECT_EQ(store->status(), "Спектральное восстановление…");
    fx.tasks.runAll();
    EXPECT_EQ(store->status(), "Область восстановлена по соседним участкам");
    EXPECT_EQ(store->undoNames().back(), "Спектральное восстановление");
}

TEST_F(StoreSpectral, AnEditDuringTheRepairDropsTheResult) {
    store->setSelection(TimeRange{1.5, 2.0});
    store->setFreqSelection(ClosedRange{1000, 4000});
    store->repairSpectral(SpectralRepairMode::attenuate(40));
    ASSERT_EQ(fx.tasks.pending(), 1u);
    Session changed = store->session();
    changed.tracks[0].replaceAudio(constant(96000));
    store->setSession(changed);
    fx.tasks.runAll();
    EXPECT_EQ(store->session(), changed);
    EXPECT_TRUE(store->undoNames().empty());
    EXPECT_FALSE(store->busy());
    EXPECT_FALSE(store->error());
}

TEST_F(StoreSpectral, RepairNeedsAnAreaInsideTheClip) {
    store->repairSpectral(SpectralRepairMode::heal());
    EXPECT_EQ(store->error(), "В режиме «Спектр» выделите область прямоугольником, кистью или лассо.");
    store->setError(std::nullopt);
    store->setSelection(TimeRange{5.0, 6.0});
    store->setFreqSelection(ClosedRange{100, 200});
    store->repairSpectral(SpectralRepairMode::heal());
    EXPECT_EQ(store->error(), "Выделите область внутри выбранного клипа.");
    EXPECT_FALSE(store->busy());
    EXPECT_EQ(fx.tasks.pending(), 0u);
}

TEST_F(StoreSpectral, DeleteWithoutASpectralSelectionFallsBackToTimeAndClip) {
    store->setSelection(TimeRange{1.5, 2.0});  // no frequency band
    store->deleteSelection();
    fx.tasks.runAll();
    EXPECT_EQ(store->session().tracks[0].frames(), 72000);
    EXPECT_EQ(store->status(), "Удалить фрагмент");

    store->setSelectedID(idA());
    store->deleteSelection();
    EXPECT_EQ(store->session().tracks.size(), 1u);
    EXPECT_EQ(store->status(), "Клип удалён");
}

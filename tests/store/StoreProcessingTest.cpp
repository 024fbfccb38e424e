// Destructive processing of the selected clip, the clip refresh and the spectrogram cache.

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>

#include "StoreTestSupport.h"
#include "model/Automation.h"
#include "model/EffectPreset.h"
#include "model/Limits.h"
#include "processing/AudioIOEffect.h"
#include "processing/SpectralAnalysis.h"
#include "support/store/CommaDecimalLocale.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

class StoreProcessing : public StoreTest {
protected:
    // One 2-second noise clip at 1 s, selected, with head and tail handles and both envelopes.
    void SetUp() override {
        Track t = Track::make("Голос", noise(96000, 0.5f, 7));
        t.start = 1.0;
        t.headHandle = constant(4800, 0.1f);
        t.tailHandle = constant(4800, 0.1f);
        t.volumeEnvelope = {{0.0, 0.0}, {1.0, -12.0}, {2.0, 0.0}};
        t.panEnvelope = {{0.5, -1.0}, {1.5, 1.0}};
        setClips({t});
        store->setSelectedID(t.id);
    }

    const Track& clip() const { return store->session().tracks.front(); }

    void play() {
        store->playPause();
        fx.tasks.runAll();
        ASSERT_TRUE(store->transport().playing());
    }
};

// The drawing caches a fresh import of the same audio has: an independent computation.
void expectCachesOf(const Track& t) {
    const Track reference = Track::make("", t.audio);
    EXPECT_EQ(t.peaks, reference.peaks);
    EXPECT_EQ(t.leftEnvelope, reference.leftEnvelope);
    EXPECT_EQ(t.rightEnvelope, reference.rightEnvelope);
    EXPECT_FALSE(t.peaks.empty());
}

}  // namespace

TEST_F(StoreProcessing, ClipRefreshIsOneStepWithHandlesDroppedAndCachesAssigned) {
    const Uuid oldRevision = clip().revision;
    int sessionSignals = 0;
    QObject::connect(store.get(), &StudioStore::sessionChanged, [&] { ++sessionSignals; });
    store->refreshClip(0, "Обновление", StudioStore::RefreshedAudio::of(constant(48000, 0.5f)),
                       [](Track& t) { t.name = "Изменён"; });
    EXPECT_EQ(sessionSignals, 1);
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Обновление"});
    EXPECT_FALSE(clip().headHandle);
    EXPECT_FALSE(clip().tailHandle);
    EXPECT_FALSE(clip().handleEnvelopes);
    EXPECT_NE(clip().revision, oldRevision);
    EXPECT_EQ(clip().name, "Изменён");
    EXPECT_EQ(clip().frames(), 48000);
    expectCachesOf(clip());

    store->refreshClip(5, "Нет такого клипа", StudioStore::RefreshedAudio::of(constant(10)));
    EXPECT_EQ(store->undoNames().size(), 1u);
}

TEST_F(StoreProcessing, EditsThatNeedASelectionRefuseWithoutOneAfterStoppingPlayback) {
    for (EditAction action : {EditAction::delete_, EditAction::trim, EditAction::silence}) {
        play();
        store->setError(std::nullopt);
        store->edit(action);
        EXPECT_EQ(store->error(), "Сначала выделите фрагмент в клипе.");
        EXPECT_FALSE(store->transport().playing());
        EXPECT_FALSE(store->busy());
        EXPECT_EQ(fx.tasks.pending(), 0u);
    }
    EXPECT_TRUE(store->undoNames().empty());
}

TEST_F(StoreProcessing, AnEditWithoutSelectionProcessesTheWholeClipOffTheMainThread) {
    const Track before = clip();
    store->edit(EditAction::reverse);
    EXPECT_TRUE(store->busy());
    EXPECT_EQ(store->status(), "Готово");  // the edits set no working text
    EXPECT_EQ(clip().audio, before.audio);
    store->edit(EditAction::gain);  // locked: ignored
    EXPECT_EQ(fx.tasks.pending(), 1u);
    fx.tasks.runAll();
    EXPECT_FALSE(store->busy());
    EXPECT_EQ(store->status(), "Реверс");
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Реверс"});
    ASSERT_EQ(clip().frames(), before.frames());
    EXPECT_EQ(clip().audio.left[0], before.audio.left[95999]);
    EXPECT_EQ(clip().audio.right[95999], before.audio.right[0]);
    EXPECT_FALSE(clip().headHandle);
    EXPECT_FALSE(clip().tailHandle);
    EXPECT_NE(clip().revision, before.revision);
    expectCachesOf(clip());
    EXPECT_EQ(clip().volumeEnvelope, before.volumeEnvelope);  // only delete, trim and stretch move points

    store->undo();
    EXPECT_EQ(clip(), before);
}

TEST_F(StoreProcessing, TrimMovesTheStartCropsTheEnvelopesAndClearsTheSelection) {
    const Track before = clip();
    store->setCursor(2.9);
    store->setSelection(TimeRange{1.5, 2.5});  // clip frames 24000 ..< 72000
    store->edit(EditAction::trim);
    fx.tasks.runAll();
    EXPECT_EQ(store->status(), "Обрезать по выделению");
    EXPECT_EQ(clip().frames(), 48000);
    EXPECT_DOUBLE_EQ(clip().start, 1.5);
    Track expected = before;
    expected.cropAutomation({24000, 72000}, 96000);
    EXPECT_EQ(clip().volumeEnvelope, expected.volumeEnvelope);
    EXPECT_EQ(clip().panEnvelope, expected.panEnvelope);
    EXPECT_EQ(clip().audio.left[0], before.audio.left[24000]);
    EXPECT_FALSE(store->selection());
    EXPECT_DOUBLE_EQ(store->cursor(), 2.5);  // clamped to the shorter project

    // Fades that do not fit the kept part: a 10 s clip with a 6 s fade-in and a 3 s fade-out kept
    // to its first 5 s loses its tail and so its fade-out; the fade-in runs over the whole rest,
    // not the share a scaling of both fades to 5 s would give it.
    Track longer = Track::make("Длинный", constant(480000, 0.25f));
    longer.fadeIn = 6.0;
    longer.fadeOut = 3.0;
    setClips({longer});
    store->setSelectedID(longer.id);
    store->setSelection(TimeRange{0.0, 5.0});
    store->edit(EditAction::trim);
    fx.tasks.runAll();
    ASSERT_EQ(clip().frames(), 240000);
    EXPECT_EQ(clip().fadeIn, 5.0);
    EXPECT_EQ(clip().fadeOut, 0.0);
}

TEST_F(StoreProcessing, DeleteSqueezesTheEnvelopesOverTheRemovedSpan) {
    const Track before = clip();
    store->setSelection(TimeRange{1.5, 2.0});  // clip seconds 0.5 … 1.0
    store->edit(EditAction::delete_);
    fx.tasks.runAll();
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Удалить фрагмент"});
    EXPECT_EQ(clip().frames(), 72000);
    EXPECT_EQ(clip().volumeEnvelope, Automation::replacing(before.volumeEnvelope, {0.5, 1.0}, 0.0));
    EXPECT_EQ(clip().panEnvelope, Automation::replacing(before.panEnvelope, {0.5, 1.0}, 0.0));
    EXPECT_FALSE(store->selection());
}

TEST_F(StoreProcessing, ARefusalOfTheWorkLeavesNoStepAndClearsBusy) {
    store->setSelection(TimeRange{0.0, 10.0});  // the whole clip
    store->edit(EditAction::delete_);
    fx.tasks.runAll();
    EXPECT_EQ(store->error(), "Чтобы удалить весь клип, используйте «Удалить клип».");
    EXPECT_FALSE(store->busy());
    EXPECT_TRUE(store->undoNames().empty());
    EXPECT_TRUE(clip().headHandle);
}

TEST_F(StoreProcessing, EffectRendersTheSelectionWithThePresetDefaults) {
    store->setSelection(TimeRange{20.0, 21.0});
    store->applyEffect();
    EXPECT_EQ(store->error(), "Выделите фрагмент внутри выбранного клипа.");
    EXPECT_FALSE(store->busy());

    const Track before = clip();
    store->setChosenEffect(EffectPreset::invert);
    store->setSelection(TimeRange{1.5, 2.0});
    store->applyEffect();
    EXPECT_EQ(store->status(), "Обработка: " + title(EffectPreset::invert) + "…");
    fx.tasks.runAll();
    EXPECT_EQ(store->status(), "Применено: " + title(EffectPreset::invert));
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{title(EffectPreset::invert)});
    EXPECT_TRUE(store->selection());  // selection, cursor and envelopes stay
    const AudioData rendered = AudioIO::effect(EffectPreset::invert, before.audio.slice({24000, 48000}), {});
    ASSERT_EQ(clip().frames(), 96000);
    EXPECT_EQ(clip().audio.left[23999], before.audio.left[23999]);
    EXPECT_EQ(clip().audio.left[24000], rendered.left[0]);
    EXPECT_EQ(clip().audio.right[47999], rendered.right[23999]);
    EXPECT_EQ(clip().audio.left[48000], before.audio.left[48000]);
    expectCachesOf(clip());
}

TEST_F(StoreProcessing, LearningNoiseNeeds2048FramesTakesNoStepAndKeepsPlaying) {
    play();
    store->learnNoise();
    EXPECT_EQ(store->error(), "Выделите участок, где слышен только шум (без речи и музыки).");

    store->setSelection(TimeRange{1.0, 1.0 + 2047.0 / 48000});
    store->learnNoise();
    EXPECT_EQ(store->error(), "Выделите фрагмент шума длительностью не менее 0,05 секунды.");
    EXPECT_EQ(fx.tasks.pending(), 0u);

    store->setSelection(TimeRange{1.0, 1.0 + 2048.0 / 48000});
    store->learnNoise();
    EXPECT_EQ(store->status(), "Анализ шума…");
    fx.tasks.runAll();
    EXPECT_TRUE(store->transport().playing());
    ASSERT_TRUE(store->noiseProfile());
    EXPECT_EQ(store->noiseProfile()->left.size(), 1025u);
    EXPECT_EQ(store->status(), "Профиль шума запомнен. Теперь нажмите «Убрать шум».");
    EXPECT_TRUE(store->undoNames().empty());
    EXPECT_FALSE(store->dirty());
}

TEST_F(StoreProcessing, NoiseReductionNeedsALearntProfile) {
    play();
    store->reduceNoise();
    EXPECT_EQ(store->error(), "Сначала выделите чистый шум и нажмите «Запомнить шум».");
    EXPECT_TRUE(store->transport().playing());  // refused before playback stops

    store->setSelection(TimeRange{1.0, 1.5});
    store->learnNoise();
    fx.tasks.runAll();
    store->setSelection(std::nullopt);
    store->reduceNoise();
    EXPECT_FALSE(store->transport().playing());
    EXPECT_EQ(store->status(), "Шумоподавление…");
    fx.tasks.runAll();
    EXPECT_EQ(store->status(), "Шум подавлен");
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Шумоподавление"});
    expectCachesOf(clip());
    // The profile survives undo.
    store->undo();
    EXPECT_TRUE(store->noiseProfile());
}

TEST_F(StoreProcessing, TimeAndPitchClampsItsParametersAndFormatsTheStatusInTheCLocale) {
    play();
    store->setShowTimePitch(true);
    store->setTimeRate(kNaN);
    store->applyTimePitch();  // NaN rate → 1, and 0 semitones: only the sheet closes
    EXPECT_FALSE(store->showTimePitch());
    EXPECT_TRUE(store->transport().playing());
    EXPECT_EQ(fx.tasks.pending(), 0u);

    const CommaDecimalLocale comma(fx.home.path());
    if (!comma.active()) GTEST_SKIP() << "no locale with a decimal comma can be made here";
    const Track before = clip();
    store->setTimeRate(3.0);
    store->setShowTimePitch(true);
    store->applyTimePitch();
    EXPECT_FALSE(store->showTimePitch());
    EXPECT_FALSE(store->transport().playing());
    EXPECT_EQ(store->status(), "Скорость и тон…");
    fx.tasks.runAll();
    EXPECT_EQ(store->status(), "Скорость ×2.00, тон +0 пт");
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Скорость и тон"});
    EXPECT_EQ(clip().frames(), 48000);
    EXPECT_EQ(clip().volumeEnvelope, Automation::replacing(before.volumeEnvelope, {0.0, 2.0}, 1.0));
    expectCachesOf(clip());

    store->setTimeRate(1.0);
    store->setTimeSemitones(-30.0);
    store->applyTimePitch();
    fx.tasks.runAll();
    EXPECT_EQ(store->status(), "Скорость ×1.00, тон -12 пт");
}

TEST_F(StoreProcessing, AStretchPastTheProjectLimitsIsRefusedAfterTheWork) {
    // The clip ends at 480 s: a second selected and slowed to half speed would end at 481 s.
    Session s = store->session();
    s.tracks.front().start = 478.0;
    store->setSession(s);
    store->setSelection(TimeRange{478.0, 479.0});
    store->setTimeRate(0.5);
    store->applyTimePitch();
    fx.tasks.runAll();
    EXPECT_EQ(store->error(), "Длина проекта ограничена 8 минутами.");
    EXPECT_TRUE(store->undoNames().empty());
    EXPECT_EQ(clip().frames(), 96000);
    EXPECT_FALSE(store->busy());

    // Filler clips whose audio and handles share one array bring the project to just under
    // 384 MiB; one more second (384,000 bytes) crosses it.
    s = store->session();
    s.tracks.front().start = 0.0;
    const std::int64_t room = limits::kMaxBytes - s.bytes();
    const std::int64_t fillerFrames = (room - 384'000) / 8 / 9 + 1;
    const AudioData filler = AudioData::mono(std::vector<float>(static_cast<std::size_t>(fillerFrames), 0.0f));
    for (int i = 0; i < 3; ++i) {
        Track t = Track::make("Заполнение", filler);
        t.headHandle = filler;
        t.tailHandle = filler;
        s.tracks.push_back(t);
    }
    store->setSession(s);
    ASSERT_LE(store->session().bytes(), limits::kMaxBytes);
    ASSERT_GT(store->session().bytes() + 384'000, limits::kMaxBytes);
    store->setSelectedID(s.tracks.front().id);
    store->setSelection(TimeRange{0.0, 1.0});
    store->setError(std::nullopt);
    store->applyTimePitch();
    fx.tasks.runAll();
    EXPECT_EQ(store->error(), "Недостаточно памяти проекта для замедления.");
    EXPECT_TRUE(store->undoNames().empty());
    EXPECT_EQ(clip().frames(), 96000);
}

TEST_F(StoreProcessing, SpectrogramsRenderAtUtilityPriorityOncePerClipAndState) {
    store->ensureSpectrogram(clip());
    EXPECT_EQ(fx.tasks.pending(), 0u);  // not in spectral view

    store->setSpectralView(true);
    store->ensureSpectrogram(clip());
    store->ensureSpectrogram(clip());  // one job per clip
    ASSERT_EQ(fx.tasks.pending(), 1u);
    EXPECT_EQ(fx.tasks.nextPriority(), TaskPriority::utility);
    EXPECT_FALSE(store->busy());

    // The display changes while the image renders: that image is dropped and a new one rendered.
    SpectralDisplay linear;
    linear.scale = SpectralScale::linear;
    store->setSpectralDisplay(linear);
    fx.tasks.runNext();
    EXPECT_TRUE(store->spectrograms().empty());
    ASSERT_EQ(fx.tasks.pending(), 1u);
    fx.tasks.runNext();
    ASSERT_EQ(store->spectrograms().count(clip().id), 1u);
    const SpectrogramEntry& entry = store->spectrograms().at(clip().id);
    EXPECT_EQ(entry.display, linear);
    EXPECT_EQ(entry.revision, clip().revision);
    EXPECT_EQ(entry.image.height, StudioStore::kSpectrogramHeight);
    EXPECT_LE(entry.image.width, StudioStore::kSpectrogramColumns);
    const auto reference = SpectralAnalysis::spectrogram(clip().audio, 224, 2200, linear);
    ASSERT_TRUE(reference);
    EXPECT_TRUE(std::equal(entry.image.pixels.begin(), entry.image.pixels.end(), reference->pixels.begin(),
                           reference->pixels.end()));

    // Current: nothing to do. A new revision renders again.
    store->ensureSpectrogram(clip());
    EXPECT_EQ(fx.tasks.pending(), 0u);
    store->edit(EditAction::reverse);
    fx.tasks.runAll();
    store->ensureSpectrogram(clip());
    EXPECT_EQ(fx.tasks.pending(), 1u);
    EXPECT_EQ(store->status(), "Реверс");  // spectrograms set no status
}

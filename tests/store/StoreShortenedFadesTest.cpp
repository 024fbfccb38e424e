// Edits that shorten a clip with long fades: what is heard before saving is what a reopened
// project plays, fade for fade and sample for sample.

#include <cstring>
#include <string>
#include <vector>

#include "ClipTestSupport.h"
#include "processing/RackRenderer.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

bool sameBits(const SharedArray<float>& a, const SharedArray<float>& b) {
    return a.size() == b.size() && (a.size() == 0 || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

class StoreShortenedFades : public ClipStoreTest {
protected:
    Uuid row;
    Uuid id;

    // The clip on its own row at 0.5 s, selected, with fades of `fade` seconds at both ends in two
    // shapes.
    void useClip(AudioData audio, double fade) {
        row = makeRows(1).front();
        id = addAudioClip(row, std::move(audio), 0.5, "Клип", [fade](Track& t) {
            t.fadeIn = fade;
            t.fadeOut = fade;
            t.fadeInCurve = FadeCurve::cosine;
            t.fadeOutCurve = FadeCurve::logarithmic;
        });
        store->setSelectedID(id);
    }

    // 1 s of noise, 2 s of silence, 1 s of noise.
    static AudioData noiseAroundSilence() {
        std::vector<float> l(4 * 48000, 0.0f), r(4 * 48000, 0.0f);
        const AudioData loud = noise(48000, 0.5f, 5);
        for (std::size_t i = 0; i < 48000; ++i) {
            l[i] = loud.left.span()[i];
            r[i] = loud.right.span()[i];
            l[i + 3 * 48000] = loud.right.span()[i];
            r[i + 3 * 48000] = loud.left.span()[i];
        }
        return AudioData(std::move(l), std::move(r));
    }

    void run() {
        fx.settle();
        ASSERT_FALSE(store->busy());
        ASSERT_FALSE(store->error()) << *store->error();
    }

    // Saves, reopens, and compares every clip's fades and the whole mix with the state before.
    void expectReopenedAsPlayed(const std::string& edit) {
        SCOPED_TRACE(edit);
        const Session before = store->session();
        const AudioData heard = RackRenderer::mix(before, std::nullopt);
        for (const Track& t : before.tracks) {
            const auto played = t.fadeFrames();
            EXPECT_LE(played.fadeIn + played.fadeOut, t.frames());
            EXPECT_LE(t.fadeIn + t.fadeOut, t.duration()) << "the stored fades fit the clip";
        }

        const auto file = fx.home.path() / (edit + ".tessoral");
        fx.prompts.saveAnswers.push_back(file);
        ASSERT_TRUE(store->saveProject(true));
        store->newProject();
        store->open({file});
        run();

        const Session reopened = store->session();
        ASSERT_EQ(reopened.tracks.size(), before.tracks.size());
        for (std::size_t i = 0; i < before.tracks.size(); ++i) {
            EXPECT_EQ(reopened.tracks[i].fadeIn, before.tracks[i].fadeIn) << "clip " << i;
            EXPECT_EQ(reopened.tracks[i].fadeOut, before.tracks[i].fadeOut) << "clip " << i;
            EXPECT_EQ(reopened.tracks[i].fadeFrames(), before.tracks[i].fadeFrames()) << "clip " << i;
        }
        const AudioData replayed = RackRenderer::mix(reopened, std::nullopt);
        EXPECT_TRUE(sameBits(replayed.left, heard.left) && sameBits(replayed.right, heard.right))
            << "the reopened project sounds different";
    }
};

}  // namespace

TEST_F(StoreShortenedFades, DeletedSilenceLeavesTheFadesAsTheyPlay) {
    // 2 s fades on a 4 s clip whose middle 1.8 s of silence go.
    useClip(noiseAroundSilence(), 2.0);
    auto d = store->diagnostics();
    d.kind = DiagnosticKind::silence;
    store->setDiagnostics(d);
    store->scanDiagnostics();
    run();
    ASSERT_EQ(store->diagnostics().findings.size(), 1u);
    store->fixDiagnostics(true);
    run();
    const Track& t = track(id);
    ASSERT_LT(t.duration(), 2.5);
    // Scaled evenly, as the mixdown plays two equal fades that do not fit.
    EXPECT_NEAR(t.fadeIn, t.duration() / 2, 1.0 / 48000);
    EXPECT_NEAR(t.fadeOut, t.duration() / 2, 1.0 / 48000);
    expectReopenedAsPlayed("silence");
}

TEST_F(StoreShortenedFades, EveryShorteningEditReopensAsItPlayed) {
    // 1.5 s fades on a 3 s clip at 0.5 s; each edit starts from this state again.
    useClip(noise(3 * 48000, 0.5f, 9), 1.5);
    const Session start = store->session();
    const auto fresh = [&] {
        store->newProject();
        store->setSession(start);
        store->setSelectedID(id);
        store->setSelection(std::nullopt);
    };

    // Deleting 0.8 s from the middle leaves 2.2 s, which the two fades share as 1.1 s each.
    store->setSelection(TimeRange{1.5, 2.3});
    store->edit(EditAction::delete_);
    run();
    EXPECT_EQ(track(id).frames(), 105600);
    EXPECT_NEAR(track(id).fadeIn, 1.1, 1.5 / 48000);
    EXPECT_NEAR(track(id).fadeOut, 1.1, 1.5 / 48000);
    expectReopenedAsPlayed("delete");

    fresh();
    store->setSelection(TimeRange{1.0, 2.5});
    store->copy(true);
    run();
    EXPECT_EQ(track(id).frames(), 72000);
    expectReopenedAsPlayed("cut");

    fresh();
    store->setSelection(TimeRange{0.5, 2.5});
    store->edit(EditAction::trim);
    run();
    expectReopenedAsPlayed("trim");

    fresh();
    store->setTimeRate(2.0);
    store->applyTimePitch();
    run();
    EXPECT_NEAR(track(id).duration(), 1.5, 0.05);
    expectReopenedAsPlayed("time");

    fresh();
    store->setCursor(1.5);
    store->split();
    run();
    EXPECT_EQ(store->session().tracks.size(), 2u);
    expectReopenedAsPlayed("split");

    fresh();
    store->setSnapping(false);
    store->beginTrim(id, ClipEdge::end);
    store->dragTrim(id, -1.2);
    store->endTrim();
    run();
    EXPECT_EQ(track(id).frames(), 86400);
    expectReopenedAsPlayed("edge");
}

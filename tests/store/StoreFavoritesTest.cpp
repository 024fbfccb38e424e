// Effect parameters and favourite effect chains.

#include <filesystem>
#include <fstream>
#include <string>

#include "StoreTestSupport.h"
#include "model/EffectParameters.h"
#include "model/EffectPreset.h"
#include "model/FavoritesStore.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

class StoreFavorites : public StoreTest {
protected:
    void SetUp() override {
        setClips({Track::make("Голос", constant(4800))});
        store->setSelectedID(clip().id);
    }

    const Track& clip() const { return store->session().tracks.front(); }
    const std::vector<EffectSlot>& rack() const { return clip().rack; }

    void setRack(std::vector<EffectSlot> slots, std::vector<Uuid> essential = {}) {
        Session s = store->session();
        s.tracks.front().rack = std::move(slots);
        if (!essential.empty()) {
            EssentialSound settings(SoundType::dialogue);
            int role = 0;
            for (const auto& id : essential) settings.slotIDs["role" + std::to_string(role++)] = id;
            s.tracks.front().essentialSound = settings;
        }
        store->setSession(std::move(s));
    }

    std::filesystem::path file() const { return *fx.dataFolder / "Favorites.json"; }
    // What a new reader finds in the file.
    std::vector<EffectFavorite> onDisk() const { return FavoritesStore(file()).load(); }

    static std::vector<EffectSlot> slots(std::initializer_list<EffectPreset> presets) {
        std::vector<EffectSlot> out;
        for (auto p : presets) out.emplace_back(p);
        return out;
    }
};

}  // namespace

TEST_F(StoreFavorites, ParametersAreCleanedBeforeTheyAreComparedAndAnEmptySetResets) {
    EffectSlot slot(EffectPreset::compressor);
    slot.params = {{"threshold", -30.0}};
    setRack({slot});
    const Uuid id = clip().id;
    const std::string compressor = title(EffectPreset::compressor);

    // An unknown key and the same threshold clean to the current parameters: nothing recorded.
    store->setEffectParams(id, slot.id, {{"threshold", -30.0}, {"bogus", 5.0}});
    EXPECT_TRUE(store->undoNames().empty());

    store->setEffectParams(id, slot.id, {{"threshold", -90.0}, {"attack", kNaN}});
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Параметры: " + compressor});
    EXPECT_EQ(store->status(), "Параметры эффекта изменены");
    EXPECT_EQ(rack()[0].params, (EffectParams{{"threshold", -60.0}, {"attack", 5.0}}));

    store->setEffectParams(id, slot.id, {{"bogus", 1.0}});
    EXPECT_EQ(store->undoNames().back(), "Сброс эффекта: " + compressor);
    EXPECT_TRUE(rack()[0].params.empty());

    store->setEffectParams(id, Uuid::random(), {{"threshold", -10.0}});
    store->setEffectParams(Uuid::random(), slot.id, {{"threshold", -10.0}});
    EXPECT_EQ(store->undoNames().size(), 2u);
}

TEST_F(StoreFavorites, SavingLeavesOutEssentialSoundSlotsAndCleansTheName) {
    auto rackSlots = slots({EffectPreset::voice, EffectPreset::deesser, EffectPreset::leveler, EffectPreset::lowCut,
                            EffectPreset::warm, EffectPreset::bright, EffectPreset::echo, EffectPreset::limiter});
    setRack(rackSlots, {rackSlots[1].id, rackSlots[4].id});
    store->saveFavorite(" \n\t ");
    ASSERT_EQ(store->favorites().size(), 1u);
    const EffectFavorite& saved = store->favorites()[0];
    EXPECT_EQ(saved.name, "Цепочка");
    EXPECT_EQ(store->status(), "Цепочка «Цепочка» сохранена в избранное");
    std::vector<EffectPreset> presets;
    for (const auto& s : saved.slots) presets.push_back(s.preset);
    EXPECT_EQ(presets, (std::vector<EffectPreset>{EffectPreset::voice, EffectPreset::leveler, EffectPreset::lowCut,
                                                  EffectPreset::bright, EffectPreset::echo, EffectPreset::limiter}));
    EXPECT_EQ(onDisk(), store->favorites());
    EXPECT_TRUE(store->undoNames().empty());  // favourites are not part of the project

    // A rack of only essential-sound slots cannot be saved.
    setRack({rackSlots[1]}, {rackSlots[1].id});
    store->saveFavorite("Только панель");
    EXPECT_EQ(store->error(), "В цепочке только эффекты панели «Основной звук» — их настраивает сама панель");
    EXPECT_EQ(store->favorites().size(), 1u);
}

TEST_F(StoreFavorites, RenamingTrimsCutsTo120CharactersAndSkipsNoChanges) {
    setRack(slots({EffectPreset::voice}));
    store->saveFavorite("Подкаст");
    const Uuid id = store->favorites()[0].id;
    store->setStatus("—");
    store->renameFavorite(id, "  Подкаст ");
    store->renameFavorite(id, "   ");
    store->renameFavorite(Uuid::random(), "Другое");
    EXPECT_EQ(store->status(), "—");

    std::string longName;
    for (int i = 0; i < 150; ++i) longName += "ж";
    store->renameFavorite(id, longName);
    EXPECT_EQ(store->status(), "Избранное переименовано");
    EXPECT_EQ(store->favorites()[0].name, longName.substr(0, 240));  // 120 two-byte letters
    EXPECT_EQ(onDisk()[0].name, store->favorites()[0].name);
    store->setStatus("—");
    store->renameFavorite(id, longName);  // stores the same name again: nothing to do
    EXPECT_EQ(store->status(), "—");
}

TEST_F(StoreFavorites, ApplyingReplacesAfterTheEssentialSlotsOrAppendsWithinEight) {
    auto own = slots({EffectPreset::voice, EffectPreset::dehum50, EffectPreset::echo});
    setRack(own, {own[1].id});
    EffectFavorite favorite;
    favorite.name = "Эфир";
    favorite.slots = slots({EffectPreset::compressor, EffectPreset::limiter});
    favorite.slots[0].params = {{"threshold", -100.0}};
    Session s = store->session();
    s.tracks.front().rackBypassed = true;
    store->setSession(s);

    store->applyFavorite(favorite, false);
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Избранное: Эфир"});
    EXPECT_EQ(store->status(), "Цепочка «Эфир» применена");
    ASSERT_EQ(rack().size(), 3u);
    EXPECT_EQ(rack()[0].id, own[1].id);  // the essential-sound slot stays first
    EXPECT_EQ(rack()[1].preset, EffectPreset::compressor);
    EXPECT_NE(rack()[1].id, favorite.slots[0].id);  // copies with fresh ids
    EXPECT_EQ(rack()[1].params.at("threshold"), -60.0);
    EXPECT_FALSE(clip().rackBypassed);

    for (int i = 0; i < 3; ++i) store->applyFavorite(favorite, true);
    EXPECT_EQ(store->status(), "Цепочка «Эфир» добавлена");
    EXPECT_EQ(rack().size(), 8u);
    EXPECT_EQ(store->undoNames().size(), 4u);

    store->setBusy(true);
    store->applyFavorite(favorite, false);
    store->setBusy(false);
    EXPECT_EQ(rack().size(), 8u);
}

TEST_F(StoreFavorites, DeletingRewritesTheFileEvenForAnUnknownID) {
    setRack(slots({EffectPreset::voice}));
    store->saveFavorite("Один");
    store->saveFavorite("Два");
    std::filesystem::remove(file());
    store->deleteFavorite(Uuid::random());
    EXPECT_EQ(store->status(), "Избранное удалено");
    EXPECT_EQ(onDisk().size(), 2u);
    store->deleteFavorite(store->favorites()[0].id);
    ASSERT_EQ(onDisk().size(), 1u);
    EXPECT_EQ(onDisk()[0].name, "Два");
}

TEST_F(StoreFavorites, AFailedWriteReportsItAndLeavesTheListAsItWas) {
    setRack(slots({EffectPreset::voice}));
    store->saveFavorite("Один");
    // The data folder cannot hold the file any more: a plain file stands in its place (a
    // read-only folder would not stop a test run as root).
    std::filesystem::remove_all(*fx.dataFolder);
    std::ofstream(*fx.dataFolder) << "not a folder";
    store->saveFavorite("Два");
    ASSERT_TRUE(store->error());
    EXPECT_EQ(store->error()->rfind("Не удалось сохранить избранное: ", 0), 0u) << *store->error();
    EXPECT_GT(store->error()->size(), std::string("Не удалось сохранить избранное: ").size());
    ASSERT_EQ(store->favorites().size(), 1u);
    EXPECT_EQ(store->favorites()[0].name, "Один");
    EXPECT_EQ(store->status(), "Цепочка «Один» сохранена в избранное");
}

TEST_F(StoreFavorites, The201stFavouriteIsRefusedAndANewStoreLoadsAll200) {
    std::vector<EffectFavorite> existing;
    for (int i = 0; i < 199; ++i) {
        EffectFavorite f;
        f.name = "Цепочка " + std::to_string(i);
        f.slots = slots({EffectPreset::voice});
        existing.push_back(f);
    }
    FavoritesStore(file()).save(existing);
    restart();
    ASSERT_EQ(store->favorites().size(), 199u);
    setClips({Track::make("Голос", constant(4800))});
    store->setSelectedID(clip().id);
    setRack(slots({EffectPreset::echo}));

    store->saveFavorite("Двухсотая");
    ASSERT_EQ(store->favorites().size(), 200u);
    EXPECT_FALSE(store->error());
    store->saveFavorite("Лишняя");
    EXPECT_EQ(store->error(), "В избранном может быть до 200 цепочек.");
    EXPECT_EQ(store->favorites().size(), 200u);
    EXPECT_EQ(store->status(), "Цепочка «Двухсотая» сохранена в избранное");
    EXPECT_EQ(onDisk().size(), 200u);

    restart();
    ASSERT_EQ(store->favorites().size(), 200u);
    EXPECT_EQ(store->favorites().back().name, "Двухсотая");
}

TEST_F(StoreFavorites, AnUnreadableFileIsKeptBesideTheFirstWriteInsteadOfReplaced) {
    std::filesystem::create_directories(*fx.dataFolder);
    std::ofstream(file()) << "{ not a list of favourites";
    restart();
    EXPECT_TRUE(store->favorites().empty());
    setClips({Track::make("Голос", constant(4800))});
    store->setSelectedID(clip().id);
    setRack(slots({EffectPreset::echo}));
    store->saveFavorite("Новая");
    ASSERT_EQ(onDisk().size(), 1u);
    int kept = 0;
    for (const auto& entry : std::filesystem::directory_iterator(*fx.dataFolder)) {
        if (entry.path().filename().string().rfind("Favorites-unreadable-", 0) != 0) continue;
        ++kept;
        std::ifstream in(entry.path());
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "{ not a list of favourites");
    }
    EXPECT_EQ(kept, 1);
}

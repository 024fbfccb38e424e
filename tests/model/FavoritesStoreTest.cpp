// The favourites file: tolerant reading, limits, atomic writing that never loses an unreadable
// file, and the rack ↔ favourite rules.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "BplistTestSupport.h"
#include "model/AppPaths.h"
#include "model/AtomicFile.h"
#include "model/EffectParameters.h"
#include "model/FavoritesStore.h"
#include "model/Localization.h"
#include "model/StudioError.h"
#include "model/UnicodeText.h"
#include "support/TestAudio.h"

using namespace tessoral;
using nlohmann::json;

namespace {

json slotJSON(const std::string& preset = "compressor", double wet = 1.0, int params = 0) {
    json p = json::object();
    for (int i = 0; i < params; ++i) p["k" + std::to_string(i)] = i;
    return json{{"id", Uuid::random().text()}, {"preset", preset}, {"enabled", true}, {"wet", wet}, {"params", p}};
}

json favoriteJSON(const std::string& name, int slots = 1, std::optional<Uuid> id = std::nullopt) {
    json s = json::array();
    for (int i = 0; i < slots; ++i) s.push_back(slotJSON());
    return json{{"id", (id ? *id : Uuid::random()).text()}, {"name", name}, {"slots", s}};
}

std::vector<std::string> names(const std::vector<EffectFavorite>& list) {
    std::vector<std::string> out;
    for (const auto& f : list) out.push_back(f.name);
    return out;
}

void writeText(const std::filesystem::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

EffectFavorite sample(const std::string& name) {
    EffectFavorite f;
    f.name = name;
    EffectSlot s(EffectPreset::echo);
    s.wet = 0.25, s.enabled = false, s.params = {{"delay", 300.5}, {"mix", 40}};
    f.slots = {s, EffectSlot(EffectPreset::invert)};
    return f;
}

}  // namespace

TEST(FavoritesDecode, ArrayShapeAndSkippedEntries) {
    EXPECT_TRUE(FavoritesStore::decode("[]").empty());
    EXPECT_THROW(FavoritesStore::decode("{}"), PlatformError);
    EXPECT_THROW(FavoritesStore::decode("[1,"), PlatformError);
    EXPECT_THROW(FavoritesStore::decode(std::string(600, '[') + std::string(600, ']')), PlatformError);

    json second = favoriteJSON("b"), badPreset = favoriteJSON("d"), badID = favoriteJSON("e"), wrongType = favoriteJSON("f");
    second.erase("slots");
    badPreset["slots"][0]["preset"] = "Compressor";
    badID["id"] = "not-a-uuid";
    wrongType["slots"][0]["enabled"] = 1;
    // A lower-case id reads; a slot of only "id" and "preset" (or a null "wet") takes the defaults.
    const Uuid id = Uuid::random();
    std::string lower = id.text();
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    json c = favoriteJSON("c");
    c["id"] = lower;
    c["slots"] = json::array({json{{"id", Uuid::random().text()}, {"preset", "echo"}, {"wet", nullptr}}});
    const json file = json::array({favoriteJSON("a"), second, c, badPreset, badID, wrongType, 7});
    const auto list = FavoritesStore::decode(file.dump());
    EXPECT_EQ(names(list), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(list[1].id, id);
    ASSERT_EQ(list[1].slots.size(), 1u);
    EXPECT_TRUE(list[1].slots[0].enabled);
    EXPECT_EQ(list[1].slots[0].wet, 1.0);
    EXPECT_TRUE(list[1].slots[0].params.empty());
}

TEST(FavoritesDecode, AcceptanceRulesInOrder) {
    using Names = std::vector<std::string>;
    auto decoded = [](const json& list) { return names(FavoritesStore::decode(list.dump())); };
    const Uuid shared = Uuid::random();
    // Same id twice: the first wins.
    EXPECT_EQ(decoded({favoriteJSON("first", 1, shared), favoriteJSON("second", 1, shared)}), Names{"first"});
    // The first of them fails the slot limit: its id still counts as seen, neither loads.
    EXPECT_EQ(decoded({favoriteJSON("first", 9, shared), favoriteJSON("second", 1, shared)}), Names{});
    // A blank name is rejected before its id counts.
    EXPECT_EQ(decoded({favoriteJSON(" \n\t\u3000", 1, shared), favoriteJSON("later", 1, shared)}), Names{"later"});

    json wet = favoriteJSON("wet"), many = favoriteJSON("many"), ok64 = favoriteJSON("ok64");
    wet["slots"][0]["wet"] = 1.5;
    many["slots"][0] = slotJSON("echo", 1.0, 65);
    ok64["slots"][0] = slotJSON("echo", 0.0, 64);
    EXPECT_EQ(decoded({wet, many, ok64}), Names{"ok64"});
}

TEST(FavoritesDecode, NamesTrimmedAndCutByCharacters) {
    // "é" as e + combining acute: 130 characters of 3 bytes each.
    std::string decomposed;
    for (int i = 0; i < 130; ++i) decomposed += "e\xCC\x81";
    const auto list = FavoritesStore::decode(
        json::array({favoriteJSON("  Голос \n"), favoriteJSON(decomposed)}).dump());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "Голос");
    EXPECT_EQ(UnicodeText::characterCount(list[1].name), 120u);
    EXPECT_EQ(list[1].name, decomposed.substr(0, 360));
}

TEST(FavoritesDecode, FirstTwoHundredDecodedOnly) {
    json file = json::array();
    file.push_back(json{{"broken", true}});  // does not count toward the 200
    for (int i = 0; i < 250; ++i) file.push_back(favoriteJSON("f" + std::to_string(i)));
    const auto list = FavoritesStore::decode(file.dump());
    ASSERT_EQ(list.size(), 200u);
    EXPECT_EQ(list.front().name, "f0");
    EXPECT_EQ(list.back().name, "f199");
}

TEST(FavoritesFile, MissingEmptyAndSizeLimit) {
    test::TempFolder dir;
    FavoritesStore store(dir / "Favorites.json");
    EXPECT_TRUE(store.load().empty());

    // Exactly 8 MiB is read; one byte more is refused.
    std::string exact = "[]";
    exact.resize(FavoritesStore::kMaxFileBytes, ' ');
    writeText(store.url(), exact);
    EXPECT_TRUE(store.load().empty());
    writeText(store.url(), exact + " ");
    EXPECT_EQ(test::errorMessage([&] { store.load(); }), L("Файл избранного слишком большой."));
    // A sparse file of 64 GiB is refused at once: nothing of it is read.
    ASSERT_EQ(::truncate(store.url().c_str(), off_t{64} << 30), 0);
    EXPECT_THROW(store.load(), StudioError);

    // A folder in the file's place is a read failure, not a missing file.
    std::filesystem::remove(store.url());
    std::filesystem::create_directory(store.url());
    EXPECT_THROW(store.load(), PlatformError);
}

TEST(FavoritesFile, SaveWritesSortedPrettyJSONAndRoundTrips) {
    test::TempFolder dir;
    // The folder does not exist yet: it is created, private to the user.
    FavoritesStore store(dir / "data" / "Tessoral" / "Favorites.json");
    std::vector<EffectFavorite> list;
    for (int i = 0; i < 250; ++i) list.push_back(sample("Цепь " + std::to_string(i)));
    store.save(list);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "data" / "Tessoral").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    std::filesystem::create_symlink("loop", dir / "loop");  // a folder refused: the system's reason goes with the failure
    int refused = 0;
    try { FavoritesStore(dir / "loop" / "Tessoral" / "Favorites.json").save(list); } catch (const FileWriteError& e) { refused = e.code(); }
    EXPECT_EQ(refused, ELOOP);

    bool ok = false;
    const std::string out = test::python(R"(
import json, sys
text = open(sys.argv[1], encoding='utf-8').read()
data = json.loads(text)
assert text == json.dumps(data, indent=2, sort_keys=True, ensure_ascii=False) + '\n', 'not sorted pretty JSON'
print(len(data), data[0]['name'], sorted(data[0]['slots'][0].keys()), data[0]['slots'][0]['params']['delay'])
)", {store.url().string()}, &ok);
    EXPECT_TRUE(ok) << out;
    EXPECT_EQ(out, "200 Цепь 0 ['enabled', 'id', 'params', 'preset', 'wet'] 300.5\n");

    const auto back = store.load();
    ASSERT_EQ(back.size(), 200u);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), list.begin()));
    EXPECT_FALSE(store.keptUnreadableFile());
}

TEST(FavoritesFile, UnreadableFileIsKeptBesideOnTheNextSave) {
    test::TempFolder dir;
    const auto url = dir / "Favorites.json";
    const std::string damaged = "[{\"id\": \"" + Uuid::random().text() + "\", \"name\": \"Мой\", \"slots\": [";
    writeText(url, damaged);

    FavoritesStore store(url);
    EXPECT_THROW(store.load(), PlatformError);
    store.save({sample("новая")});
    ASSERT_TRUE(store.keptUnreadableFile());
    EXPECT_EQ(store.keptUnreadableFile()->parent_path(), dir.path());
    EXPECT_EQ(store.keptUnreadableFile()->extension(), ".json");
    EXPECT_EQ(test::readFile(*store.keptUnreadableFile()), std::vector<std::uint8_t>(damaged.begin(), damaged.end()));
    EXPECT_EQ(names(store.load()), (std::vector<std::string>{"новая"}));

    // Having loaded, the following saves replace the file as usual.
    store.save({sample("ещё")});
    EXPECT_FALSE(store.keptUnreadableFile());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);

    // An oversized file is kept too, under a second free name.
    std::string big(FavoritesStore::kMaxFileBytes + 1, ' ');
    writeText(url, big);
    EXPECT_THROW(store.load(), StudioError);
    store.save({});
    ASSERT_TRUE(store.keptUnreadableFile());
    EXPECT_EQ(std::filesystem::file_size(*store.keptUnreadableFile()), big.size());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3);
    EXPECT_TRUE(store.load().empty());
}

TEST(FavoritesRules, FavoriteFromRack) {
    std::vector<EffectSlot> rack;
    for (int i = 0; i < 10; ++i) rack.emplace_back(EffectPreset::echo);
    const auto f = FavoritesStore::favorite("   ", rack, {rack[0].id, rack[3].id});
    EXPECT_EQ(f.name, L("Цепочка"));
    ASSERT_EQ(f.slots.size(), 8u);
    EXPECT_EQ(f.slots[0], rack[1]);
    EXPECT_EQ(f.slots[2], rack[4]);
    EXPECT_EQ(f.slots[7], rack[9]);
    EXPECT_NE(FavoritesStore::favorite(" a ", rack, {}).id, FavoritesStore::favorite(" a ", rack, {}).id);
    EXPECT_EQ(FavoritesStore::favorite(" a ", rack, {}).name, "a");
}

TEST(FavoritesRules, ApplyingReplacesOrAppendsWithFreshCleanCopies) {
    EffectFavorite f;
    EffectSlot echo(EffectPreset::echo);
    echo.wet = 0.5, echo.params = {{"unknown", 3}, {"delay", std::numeric_limits<double>::infinity()}, {"feedback", 500}};
    f.slots = {echo, EffectSlot(EffectPreset::invert), EffectSlot(EffectPreset::warm)};
    std::vector<EffectSlot> rack(7, EffectSlot(EffectPreset::voice));
    for (auto& s : rack) s.id = Uuid::random();

    const auto appended = FavoritesStore::applying(f, rack, true, {});
    ASSERT_EQ(appended.size(), 8u);
    EXPECT_TRUE(std::equal(rack.begin(), rack.end(), appended.begin()));
    EXPECT_EQ(appended[7].preset, EffectPreset::echo);

    const auto replaced = FavoritesStore::applying(f, rack, false, {rack[2].id});
    ASSERT_EQ(replaced.size(), 4u);
    EXPECT_EQ(replaced[0], rack[2]);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(replaced[i + 1].preset, f.slots[i].preset);
        EXPECT_NE(replaced[i + 1].id, f.slots[i].id);
    }
    // Unknown keys dropped, the infinite delay back to its default, the feedback clamped.
    EffectParams expected;
    for (const auto& p : parameters(EffectPreset::echo)) {
        if (p.key == "delay") expected[p.key] = p.defaultValue;
        if (p.key == "feedback") expected[p.key] = p.range.upper;
    }
    EXPECT_EQ(replaced[1].params, expected);
    EXPECT_EQ(replaced[1].wet, 0.5);
    EXPECT_EQ(FavoritesStore::applying(f, {}, false, {}).size(), 3u);
}

TEST(AppPaths, DataFolderFollowsXDG) {
    EXPECT_EQ(AppPaths::dataFolderFrom("/x/data", "/home/u"), std::filesystem::path("/x/data/Tessoral"));
    EXPECT_EQ(AppPaths::dataFolderFrom("relative", "/home/u"), std::filesystem::path("/home/u/.local/share/Tessoral"));
    EXPECT_EQ(AppPaths::dataFolderFrom(nullptr, "/home/u"), std::filesystem::path("/home/u/.local/share/Tessoral"));
    EXPECT_EQ(FavoritesStore::defaultURL(), AppPaths::dataFolder() / "Favorites.json");
}

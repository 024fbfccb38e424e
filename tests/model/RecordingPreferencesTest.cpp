// Recording settings with their defaults and clamps, latency arithmetic, and the copy-once
// settings migration.
#include <gtest/gtest.h>

#include "model/Defaults.h"
#include "model/RecordingPreferences.h"
#include "model/SettingsMigration.h"
#include "support/TestAudio.h"

using namespace tessoral;
using test::kInf, test::kNaN;

namespace {

RecordingPreferences with(const std::string& key, DefaultsValue value) {
    MemoryDefaults d;
    d.set(key, std::move(value));
    return RecordingPreferences::load(d);
}
}  // namespace

TEST(RecordingPreferences, EmptySettingsGiveTheDefaults) {
    MemoryDefaults empty;
    const auto p = RecordingPreferences::load(empty);
    EXPECT_EQ(std::tuple(p.playProject, p.preRoll, p.latencyMilliseconds, p.monitorInput, p.monitorLevel, p.countdown),
              std::tuple(true, 2.0, 0.0, false, 0.8f, 0));
}

TEST(RecordingPreferences, StoredValuesAreClamped) {
    EXPECT_EQ(with("record.preroll", 7LL).preRoll, 3.0);
    EXPECT_EQ(with("record.preroll", -1LL).preRoll, 0.0);
    EXPECT_EQ(with("record.preroll", 1.9).preRoll, 1.0);  // read as an integer
    EXPECT_EQ(with("record.preroll", kNaN).preRoll, 0.0);
    EXPECT_EQ(with("record.countdown", 25LL).countdown, 10);
    EXPECT_EQ(with("record.countdown", 1e300).countdown, 10);
    EXPECT_EQ(with("record.latency.ms", 350.0).latencyMilliseconds, 200.0);
    EXPECT_EQ(with("record.latency.ms", -350LL).latencyMilliseconds, -200.0);
    EXPECT_EQ(with("record.latency.ms", kInf).latencyMilliseconds, 0.0);
    EXPECT_EQ(with("record.monitor.level", 1.5).monitorLevel, 1.0f);
    EXPECT_EQ(with("record.monitor.level", 0.0).monitorLevel, 0.0f);
    EXPECT_EQ(with("record.monitor.level", kNaN).monitorLevel, 0.8f);
    EXPECT_FALSE(with("record.overdub", false).playProject);
    EXPECT_FALSE(with("record.overdub", std::string("nonsense")).playProject);
    EXPECT_TRUE(with("record.monitor", true).monitorInput);
    EXPECT_TRUE(with("record.monitor", std::string("true")).monitorInput);
}

TEST(RecordingLatency, TotalAndFrames) {
    EXPECT_NEAR(RecordingLatency::total(0.005, 0.01, 20), 0.035, 1e-15);
    EXPECT_EQ(RecordingLatency::total(-1, kInf, kNaN), 0.0);
    EXPECT_NEAR(RecordingLatency::total(3, 0.01, -500), 1.0 + 0.01 - 0.2, 1e-15);
    EXPECT_EQ(RecordingLatency::frames(0.035, 48000), 1680);
    EXPECT_EQ(RecordingLatency::frames(-0.01, 48000), -480);
    EXPECT_EQ(RecordingLatency::frames(kInf, 48000), 0);
    EXPECT_EQ(RecordingLatency::frames(1.5 / 48000, 48000), 2);   // halves away from zero
    EXPECT_EQ(RecordingLatency::frames(-1.5 / 48000, 48000), -2);
    EXPECT_EQ(RecordingLatency::frames(1e300, 48000), std::numeric_limits<std::int64_t>::max());
}

TEST(SettingsMigration, CopiesOnceAndMarksIt) {
    MemoryDefaults current;
    current.set("timeFormat", std::string("clock"));
    int reads = 0;
    DefaultsDictionary old{{"record.preroll", 1LL}, {"timeFormat", std::string("bars")}};
    auto reader = [&]() -> std::optional<DefaultsDictionary> {
        ++reads;
        return old;
    };
    SettingsMigration::migrateFromOldDomain(current, reader);
    EXPECT_EQ(current.integer("record.preroll"), 1);
    EXPECT_EQ(current.string("timeFormat"), "clock");
    EXPECT_EQ(current.boolean("settingsMigratedFromLocalDomain"), true);

    old["record.preroll"] = 3LL;
    old["autosave"] = true;
    SettingsMigration::migrateFromOldDomain(current, reader);
    EXPECT_EQ(reads, 1);  // the old domain is never read again
    EXPECT_EQ(current.integer("record.preroll"), 1);
    EXPECT_FALSE(current.contains("autosave"));

    // Without an old domain the flag is still set on the first start.
    MemoryDefaults fresh;
    SettingsMigration::migrateFromOldDomain(fresh, [] { return std::optional<DefaultsDictionary>(); });
    EXPECT_EQ(fresh.boolean("settingsMigratedFromLocalDomain"), true);

    // The flag is read as a bool reader converts it: a store that gives booleans back as text or
    // numbers does not copy again; a false flag of any kind does.
    for (const auto& [flag, copies] : std::vector<std::pair<DefaultsValue, bool>>{
             {std::string("true"), false}, {std::string("YES"), false}, {1LL, false}, {1.0, false},
             {std::string("false"), true}, {0LL, true}, {false, true}}) {
        MemoryDefaults target;
        target.set("settingsMigratedFromLocalDomain", flag);
        SettingsMigration::migrate({{"autosave", true}}, target);
        EXPECT_EQ(target.contains("autosave"), copies) << flag.index();
    }
}

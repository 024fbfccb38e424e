#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "store/SettingsDefaults.h"

using namespace tessoral;

namespace {

// The program's settings file in this test process's private XDG_CONFIG_HOME (tests/store/main.cpp).
std::filesystem::path settingsFile() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    return std::filesystem::path(config ? config : "") / "Tessoral" / "Tessoral.conf";
}

std::string fileText(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Each test starts from no settings file.
class SettingsDefaultsTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("TESSORAL_TEST_ISOLATED"), nullptr) << "the test main must isolate the settings";
        std::filesystem::remove(settingsFile());
    }
    void TearDown() override { std::filesystem::remove(settingsFile()); }
};

}  // namespace

TEST_F(SettingsDefaultsTest, EveryTypeSurvivesARestartAndEachWriteIsOnDiskAtOnce) {
    {
        SettingsDefaults defaults;
        EXPECT_EQ(std::filesystem::path(defaults.fileName()), settingsFile());
        defaults.set("project.autosave", false);
        // Written through before set() returns: a second program would see it.
        EXPECT_NE(fileText(settingsFile()).find("project.autosave=false"), std::string::npos) << fileText(settingsFile());
        defaults.set("export.default.samplerate", 44100LL);
        defaults.set("export.default.loudness", -16.5);
        defaults.set("export.default.format", std::string("wav24"));
        defaults.set("timeFormat", std::string("samples"));
        defaults.set("text.cyrillic", std::string("Дорожка, «один»; = [x]"));
        defaults.set("list.two", std::vector<std::string>{"ru", "en"});
        defaults.set("list.one", std::vector<std::string>{"ru"});
        defaults.set("list.none", std::vector<std::string>{});
        defaults.set("list.tricky", std::vector<std::string>{"a, b", "", "true", "12"});
        defaults.set("Tessoral.Main", std::string("geometry"));
        defaults.set("text.number", std::string("48000"));
        defaults.set("text.boolean", std::string("false"));
        defaults.set("gone", true);
        defaults.remove("gone");
        EXPECT_FALSE(defaults.value("gone"));
        // Within the same run the values come back typed as well.
        EXPECT_EQ(defaults.boolean("project.autosave"), false);
        EXPECT_EQ(defaults.integer("export.default.samplerate"), 44100);
    }
    SettingsDefaults again;  // a new run reads the INI text back
    EXPECT_EQ(again.boolean("project.autosave"), false);
    EXPECT_EQ(again.integer("export.default.samplerate"), 44100);
    EXPECT_EQ(again.number("export.default.loudness"), -16.5);
    EXPECT_EQ(again.string("export.default.format"), "wav24");
    EXPECT_EQ(again.string("timeFormat"), "samples");
    EXPECT_EQ(again.string("text.cyrillic"), "Дорожка, «один»; = [x]");
    EXPECT_EQ(again.stringList("list.two"), (std::vector<std::string>{"ru", "en"}));
    EXPECT_EQ(again.stringList("list.one"), (std::vector<std::string>{"ru"}));
    EXPECT_EQ(again.stringList("list.none"), (std::vector<std::string>{}));
    EXPECT_EQ(again.stringList("list.tricky"), (std::vector<std::string>{"a, b", "", "true", "12"}));
    EXPECT_EQ(again.string("Tessoral.Main"), "geometry");
    // Text the program wrote stays text even when it reads like a number or a boolean.
    EXPECT_EQ(again.string("text.number"), "48000");
    EXPECT_EQ(again.string("text.boolean"), "false");
    EXPECT_FALSE(again.value("gone"));
    EXPECT_FALSE(again.value("never.written"));
}

TEST_F(SettingsDefaultsTest, ReadsAFileWrittenByHand) {
    std::filesystem::create_directories(settingsFile().parent_path());
    {
        std::ofstream out(settingsFile());
        // A key before any section is a general key.
        out << "project.autosave=false\n"
               "[General]\n"
               "export.default.normalize=true\n"
               "export.default.dither=TRUE\n"
               "export.default.samplerate=96000\n"
               "export.default.loudness=-23.0\n"
               "export.default.format=flac\n"
               "odd.number=1e400\n"
               "odd.word=nan\n"
               "odd.hex=0x10\n";
    }
    SettingsDefaults defaults;
    EXPECT_EQ(defaults.boolean("project.autosave"), false);
    EXPECT_EQ(defaults.boolean("export.default.normalize"), true);
    EXPECT_EQ(defaults.boolean("export.default.dither"), true);
    EXPECT_EQ(defaults.integer("export.default.samplerate"), 96000);
    EXPECT_EQ(defaults.number("export.default.loudness"), -23.0);
    EXPECT_EQ(defaults.string("export.default.format"), "flac");
    // Text that only looks like a number stays text (never an infinity or a NaN).
    EXPECT_EQ(defaults.string("odd.number"), "1e400");
    EXPECT_EQ(defaults.string("odd.word"), "nan");
    EXPECT_EQ(defaults.string("odd.hex"), "0x10");
}

TEST(SettingsText, ScalarsReadBackFromText) {
    EXPECT_EQ(SettingsDefaults::fromText("true"), DefaultsValue(true));
    EXPECT_EQ(SettingsDefaults::fromText("False"), DefaultsValue(false));
    EXPECT_EQ(SettingsDefaults::fromText("48000"), DefaultsValue(48000LL));
    EXPECT_EQ(SettingsDefaults::fromText("-3"), DefaultsValue(-3LL));
    EXPECT_EQ(SettingsDefaults::fromText("0.5"), DefaultsValue(0.5));
    EXPECT_EQ(SettingsDefaults::fromText("-1.5e-3"), DefaultsValue(-1.5e-3));
    EXPECT_EQ(SettingsDefaults::fromText("99999999999999999999"), DefaultsValue(1e20));  // past 64 bits: a real
    for (const char* text : {"", "truth", " 1", "1 ", "1,5", "inf", "-infinity", "NaN", "0x1p3", "wav24", "1e999"})
        EXPECT_EQ(SettingsDefaults::fromText(text), DefaultsValue(std::string(text))) << text;
}

TEST(SettingsText, AnExplicitIniFileWorksLikeTheProgramsOwn) {
    const auto file = std::filesystem::temp_directory_path() / ("tessoral-ini-" + std::to_string(::getpid()) + ".ini");
    {
        SettingsDefaults a(file.string());
        a.set("k", 2.25);
        a.set("b", true);
    }
    SettingsDefaults b(file.string());
    EXPECT_EQ(b.number("k"), 2.25);
    EXPECT_EQ(b.boolean("b"), true);
    std::filesystem::remove(file);
}

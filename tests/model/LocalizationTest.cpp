#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <thread>

#include "model/Defaults.h"
#include "model/Localization.h"
#include "model/SplitMix64.h"

using namespace tessoral;

namespace {

// Restores Russian after each test so other suites see the source texts.
class LocalizationTest : public ::testing::Test {
protected:
    void TearDown() override { Localization::use(AppLanguage::russian, {}); }
    static void english(TranslationTable table) { Localization::use(AppLanguage::english, std::move(table)); }
};

std::vector<std::string> list(std::initializer_list<const char*> items) { return {items.begin(), items.end()}; }

}  // namespace

TEST_F(LocalizationTest, ContextTagIsDroppedOnlyWhenItIsATag) {
    EXPECT_EQ(L("Готово#ready"), "Готово");
    EXPECT_EQ(Localization::russian("Частота#sample_rate-2"), "Частота");
    EXPECT_EQ(Localization::russian("a#b#c"), "a#b");
    // No tag: a digit, a space, nothing or a non-ASCII letter after the "#".
    for (const char* kept : {"Трек #1", "Трек # a", "Трек#", "Трек#тег"}) EXPECT_EQ(Localization::russian(kept), kept);
}

TEST_F(LocalizationTest, EnglishLooksUpTheFullKey) {
    english({{"Готово#ready", "Ready"}});
    EXPECT_EQ(L("Готово#ready"), "Ready");
    EXPECT_EQ(L("Готово#other"), "Готово");
    EXPECT_EQ(Localization::current(), AppLanguage::english);
    // An English choice with an empty table runs in Russian.
    english({});
    EXPECT_EQ(Localization::current(), AppLanguage::russian);
}

TEST_F(LocalizationTest, Placeholders) {
    EXPECT_EQ(L("Добавлено дорожек: {0}", 3), "Добавлено дорожек: 3");
    EXPECT_EQ(L("{1} и {0} и {1}", "a", "b"), "b и a и b");
    EXPECT_EQ(L("только {1}", 1), "только {1}");
    EXPECT_EQ(L("{} {x} { {0", 1), "{} {x} { {0");
    EXPECT_EQ(L("{99999999999999999999999}", 1), "{99999999999999999999999}");
    EXPECT_EQ(L("{0}{0}", "ab"), "abab");
    EXPECT_EQ(L("{00}", "z"), "z");
    EXPECT_EQ(L("без аргументов {0}"), "без аргументов {0}");
    EXPECT_EQ(L("{0} {1}", 2.5, true), "2.5 true");
    EXPECT_EQ(L("{0}", -7), "-7");
}

// A number argument is the shortest text that reads back as the same value of its own type.
TEST_F(LocalizationTest, NumberArgumentsAreTheirShortestText) {
    const std::pair<double, const char*> doubles[] = {
        {0.1, "0.1"}, {100000.0, "100000.0"}, {3.0, "3.0"}, {-2.5, "-2.5"}, {0.0, "0.0"}, {-0.0, "-0.0"},
        {1e15, "1000000000000000.0"}, {0.0001, "0.0001"}, {1e-5, "1e-05"}, {1e16, "1e+16"},
        {1.0 / 3.0, "0.3333333333333333"}};
    for (const auto& [v, text] : doubles) EXPECT_EQ(L("{0}", v), text) << text;
    EXPECT_EQ(L("{0} {1}", 0.1f, 100000.0f), "0.1 100000.0");
    EXPECT_EQ(L("{0}", 1.0f / 3.0f), "0.33333334");
    EXPECT_EQ(LP(2, "{0}: {1}", 0.25f), "2: 0.25");
    EXPECT_EQ(L("{0} {1} {2}", std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                -std::numeric_limits<double>::infinity()),
              "nan inf -inf");
    // Every text reads back as the value it came from.
    SplitMix64 rng(9);
    for (int i = 0; i < 2000; ++i) {
        const double v = std::ldexp(rng.uniform(), static_cast<int>(rng.uniform() * 80));
        EXPECT_EQ(std::strtod(L("{0}", v).c_str(), nullptr), v);
        const auto f = static_cast<float>(v);
        EXPECT_EQ(std::strtof(L("{0}", f).c_str(), nullptr), f);
    }
}

TEST_F(LocalizationTest, RussianPluralForms) {
    const char* key = "{0} клип|{0} клипа|{0} клипов";
    for (int n : {1, 21, 101}) EXPECT_EQ(LP(n, key), std::to_string(n) + " клип") << n;
    for (int n : {2, 24, -2}) EXPECT_EQ(LP(n, key), std::to_string(n) + " клипа") << n;
    for (int n : {0, 5, 11, 12, 14, 111}) EXPECT_EQ(LP(n, key), std::to_string(n) + " клипов") << n;
    EXPECT_EQ(LP(1, "{0} из {1}", 7), "1 из 7");  // one form serves every count
    EXPECT_EQ(LP(std::numeric_limits<long long>::min(), "a|b|c"), "c");
}

TEST_F(LocalizationTest, EnglishPluralForms) {
    const char* key = "{0} клип|{0} клипа|{0} клипов";
    english({{key, "{0} clip|{0} clips"}, {"один", "one form"}});
    EXPECT_EQ(LP(1, key), "1 clip");
    EXPECT_EQ(LP(21, key), "21 clips");
    EXPECT_EQ(LP(0, key), "0 clips");
    EXPECT_EQ(LP(5, "один"), "one form");
    // Missing from the table: the Russian forms with the Russian rule.
    EXPECT_EQ(LP(3, "{0} файл|{0} файла|{0} файлов"), "3 файла");
}

TEST_F(LocalizationTest, LanguageChoiceFromSystemLanguages) {
    using Localization::language;
    using Localization::appleLanguagesOverride;
    EXPECT_EQ(language(LanguageChoice::system, list({"de-DE", "en-US"})), AppLanguage::english);
    EXPECT_EQ(*appleLanguagesOverride(LanguageChoice::system, list({"de-DE", "en-US"})), list({"en", "de-DE", "en-US"}));
    EXPECT_EQ(language(LanguageChoice::system, list({"ru_RU"})), AppLanguage::russian);
    EXPECT_EQ(language(LanguageChoice::system, list({"rus"})), AppLanguage::english);
    for (const auto& system : {list({"en-GB"}), list({"ru_RU"}), std::vector<std::string>{}})
        EXPECT_FALSE(appleLanguagesOverride(LanguageChoice::system, system));
    EXPECT_EQ(language(LanguageChoice::system, {}), AppLanguage::english);
    EXPECT_EQ(*appleLanguagesOverride(LanguageChoice::english, list({"ru"})), list({"en"}));
    EXPECT_EQ(*appleLanguagesOverride(LanguageChoice::russian, list({"en"})), list({"ru"}));
}

TEST_F(LocalizationTest, SystemLanguagesFromTheEnvironment) {
    using Localization::systemLanguagesFrom;
    EXPECT_EQ(systemLanguagesFrom(nullptr, nullptr, nullptr, "ru_RU.UTF-8"), list({"ru_RU"}));
    EXPECT_EQ(systemLanguagesFrom("de_DE:en", nullptr, nullptr, "de_DE.UTF-8"), list({"de_DE", "en"}));
    EXPECT_EQ(systemLanguagesFrom(nullptr, "en_GB.UTF-8", "ru_RU", "ru_RU"), list({"en_GB"}));
    // LANGUAGE is ignored in the C locale, and C/POSIX name no language.
    EXPECT_TRUE(systemLanguagesFrom("ru", nullptr, nullptr, "C").empty());
    EXPECT_TRUE(systemLanguagesFrom(nullptr, nullptr, nullptr, "POSIX").empty());
}

TEST_F(LocalizationTest, StartReadsTheChoiceAndTheTable) {
    const auto dir = std::filesystem::temp_directory_path() / ("tessoral-l10n-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "Localization");
    std::ofstream(dir / "Localization" / "en.json") << R"({"Готово#ready": "Ready", "n": 5})";

    MemoryDefaults defaults;
    defaults.set("interfaceLanguage", std::string("EN"));  // wrong case: behaves as system
    Localization::start(dir, defaults, list({"ru-RU"}));
    EXPECT_EQ(Localization::current(), AppLanguage::russian);
    EXPECT_FALSE(defaults.contains("AppleLanguages"));

    defaults.set("interfaceLanguage", std::string("en"));
    Localization::start(dir, defaults, list({"ru-RU"}));
    EXPECT_EQ(Localization::current(), AppLanguage::english);
    EXPECT_EQ(L("Готово#ready"), "Ready");
    EXPECT_EQ(*defaults.stringList("AppleLanguages"), list({"en"}));

    // Broken table files make the program run in Russian.
    for (const char* text : {"[1, 2]", "{not json", "\"fragment\"", ""}) {
        std::ofstream(dir / "Localization" / "en.json", std::ios::trunc) << text;
        Localization::start(dir, defaults, list({"ru-RU"}));
        EXPECT_EQ(Localization::current(), AppLanguage::russian) << text;
    }
    Localization::start(std::nullopt, defaults, {});
    EXPECT_EQ(Localization::current(), AppLanguage::russian);
    std::filesystem::remove_all(dir);
}

TEST_F(LocalizationTest, ConcurrentLookupsWhileTheTableChanges) {
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 200; ++i) {
            english({{"Готово#ready", "Ready"}});
            Localization::use(AppLanguage::russian, {});
        }
        stop = true;
    });
    int seen = 0;
    while (!stop || seen < 1000) {
        const std::string s = L("Готово#ready");
        EXPECT_TRUE(s == "Ready" || s == "Готово");
        ++seen;
    }
    writer.join();
    EXPECT_GT(seen, 0);
}

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "model/Defaults.h"
#include "model/Localization.h"

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

#pragma once

#include <concepts>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/NumberFormat.h"

namespace tessoral {

class Defaults;

// The interface-language setting, stored under "interfaceLanguage".
enum class LanguageChoice { system, russian, english };

// The language the program runs in, fixed at launch.
enum class AppLanguage { russian, english };

using TranslationTable = std::map<std::string, std::string, std::less<>>;

namespace Localization {

inline constexpr const char* kInterfaceLanguageKey = "interfaceLanguage";
inline constexpr const char* kAppleLanguagesKey = "AppleLanguages";

// Raw values: "system", "ru", "en".
std::string_view rawValue(LanguageChoice choice);
std::optional<LanguageChoice> languageChoice(std::string_view raw);
const std::vector<LanguageChoice>& allChoices();
// Table codes: "ru", "en".
std::string_view code(AppLanguage language);

AppLanguage language(LanguageChoice choice, const std::vector<std::string>& systemLanguages);
std::optional<std::vector<std::string>> appleLanguagesOverride(LanguageChoice choice,
                                                             const std::vector<std::string>& systemLanguages);

// The key's display text in the running language (placeholders untouched).
std::string translate(std::string_view key);
// The key without its context tag ("Готово#ready" → "Готово").
std::string russian(std::string_view key);
// Replaces "{N}" by args[N]; anything else stays literal.
std::string format(std::string_view text, const std::vector<std::string>& args);
// The plural form of the key for the count.
std::string plural(long long count, std::string_view key);

// The table of a language read from `folder` ("en.json"); empty for Russian and on any failure.
TranslationTable table(AppLanguage language, const std::optional<std::filesystem::path>& folder);
// Parses the text of a translation table; empty when it is not a JSON object.
TranslationTable parseTable(std::string_view json);
// Sets the running language and table (English only with a non-empty table).
void use(AppLanguage language, TranslationTable table);
AppLanguage current();

// The user's preferred languages from the environment (LANGUAGE, LC_ALL, LC_MESSAGES, LANG),
// as language tags such as "ru_RU" or "en".
std::vector<std::string> systemLanguages();
std::vector<std::string> systemLanguagesFrom(const char* language, const char* lcAll, const char* lcMessages,
                                             const char* lang);

// Writes or removes the program's own language list ("AppleLanguages") for the choice.
void applyAppleLanguages(LanguageChoice choice, Defaults& defaults,
                       const std::vector<std::string>& systemLanguages);
void applyAppleLanguages(LanguageChoice choice, Defaults& defaults);

// Launch: reads the choice, applies the language list, loads the table from
// <resourceFolder>/Localization and makes it current.
void start(const std::optional<std::filesystem::path>& resourceFolder, Defaults& defaults);
void start(const std::optional<std::filesystem::path>& resourceFolder, Defaults& defaults,
           const std::vector<std::string>& systemLanguages);

}  // namespace Localization

namespace detail {
// The textual description of one argument of L and LP.
inline std::string describe(const std::string& s) { return s; }
inline std::string describe(std::string_view s) { return std::string(s); }
inline std::string describe(const char* s) { return s ? std::string(s) : std::string(); }
inline std::string describe(bool b) { return b ? "true" : "false"; }
template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>)
std::string describe(T v) {
    return num::integer(static_cast<long long>(v));
}
// A number as the shortest text that reads back as the same value of its type ("0.1", "100000.0").
std::string describe(double v);
std::string describe(float v);
}  // namespace detail

// The display text of a Russian key, with "{0}", "{1}", … replaced by the arguments.
template <class... Args>
std::string L(std::string_view key, const Args&... args) {
    return Localization::format(Localization::translate(key), {detail::describe(args)...});
}

// The plural form of a key for `count`; "{0}" is the count, "{1}" the first further argument.
template <class... Args>
std::string LP(long long count, std::string_view key, const Args&... args) {
    return Localization::format(Localization::plural(count, key),
                                {num::integer(count), detail::describe(args)...});
}

}  // namespace tessoral

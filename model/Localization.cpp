#include "model/Localization.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <system_error>

#include "model/Defaults.h"

namespace tessoral {

namespace {

// A translation table larger than this is not a translation table.
constexpr std::uintmax_t kMaxTableBytes = 32u << 20;

struct State {
    AppLanguage language = AppLanguage::russian;
    std::shared_ptr<const TranslationTable> table = std::make_shared<const TranslationTable>();
};

std::mutex& stateLock() {
    static std::mutex lock;
    return lock;
}

State& state() {
    static State s;
    return s;
}

State snapshot() {
    std::lock_guard guard(stateLock());
    return state();
}

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

std::string lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// "ru", "ru-RU", "ru_RU" (any case) count as the language "ru".
bool isLanguage(std::string_view tag, std::string_view code) {
    const std::string l = lower(tag);
    if (l == code) return true;
    return l.size() > code.size() && l.compare(0, code.size(), code) == 0 &&
           (l[code.size()] == '-' || l[code.size()] == '_');
}

std::vector<std::string> splitForms(const std::string& text) {
    std::vector<std::string> forms;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t bar = text.find('|', begin);
        if (bar == std::string::npos) {
            forms.push_back(text.substr(begin));
            return forms;
        }
        forms.push_back(text.substr(begin, bar - begin));
        begin = bar + 1;
    }
}

// "ru_RU.UTF-8@latin" → "ru_RU"; "C" and "POSIX" are no language.
std::optional<std::string> localeTag(std::string_view value) {
    std::string tag(value.substr(0, value.find_first_of(".@")));
    if (tag.empty() || tag == "C" || tag == "POSIX") return std::nullopt;
    return tag;
}

}  // namespace

namespace {

// The shortest text that reads back as the same number of its own type: plain decimals for the
// magnitudes people write ("0.1", "100000.0", "0.0001"), an exponent only beyond them ("1e-05",
// "1e+16"); "nan", "inf" and "-inf" for the rest.
template <class T>
std::string describeNumber(T v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
    char buffer[128];
    const T magnitude = std::fabs(v);
    const bool plain = magnitude == 0 || (magnitude >= T(1e-4) && magnitude < T(1e16));
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, v,
                                 plain ? std::chars_format::fixed : std::chars_format::scientific);
    std::string s(buffer, r.ptr);
    if (plain && s.find('.') == std::string::npos) s += ".0";
    return s;
}

}  // namespace

namespace detail {
std::string describe(double v) { return describeNumber(v); }
std::string describe(float v) { return describeNumber(v); }
}  // namespace detail

namespace Localization {

std::string_view rawValue(LanguageChoice choice) {
    switch (choice) {
        case LanguageChoice::system: return "system";
        case LanguageChoice::russian: return "ru";
        case LanguageChoice::english: return "en";
    }
    return "system";
}

std::optional<LanguageChoice> languageChoice(std::string_view raw) {
    for (auto c : allChoices())
        if (rawValue(c) == raw) return c;
    return std::nullopt;
}

const std::vector<LanguageChoice>& allChoices() {
    static const std::vector<LanguageChoice> all{LanguageChoice::system, LanguageChoice::russian,
                                                 LanguageChoice::english};
    return all;
}

std::string_view code(AppLanguage language) { return language == AppLanguage::english ? "en" : "ru"; }

AppLanguage language(LanguageChoice choice, const std::vector<std::string>& systemLanguages) {
    switch (choice) {
        case LanguageChoice::russian: return AppLanguage::russian;
        case LanguageChoice::english: return AppLanguage::english;
        case LanguageChoice::system: break;
    }
    if (!systemLanguages.empty() && isLanguage(systemLanguages.front(), "ru")) return AppLanguage::russian;
    return AppLanguage::english;
}

std::optional<std::vector<std::string>> appleLanguagesOverride(LanguageChoice choice,
                                                             const std::vector<std::string>& systemLanguages) {
    switch (choice) {
        case LanguageChoice::russian: return std::vector<std::string>{"ru"};
        case LanguageChoice::english: return std::vector<std::string>{"en"};
        case LanguageChoice::system: break;
    }
    if (systemLanguages.empty()) return std::nullopt;
    const std::string& first = systemLanguages.front();
    if (isLanguage(first, "ru") || isLanguage(first, "en")) return std::nullopt;
    std::vector<std::string> list{"en"};
    list.insert(list.end(), systemLanguages.begin(), systemLanguages.end());
    return list;
}

std::string russian(std::string_view key) {
    const std::size_t hash = key.rfind('#');
    if (hash == std::string_view::npos) return std::string(key);
    const std::string_view tag = key.substr(hash + 1);
    if (tag.empty() || !isAsciiLetter(tag.front())) return std::string(key);
    for (char c : tag)
        if (!isAsciiLetter(c) && !isAsciiDigit(c) && c != '_' && c != '-') return std::string(key);
    return std::string(key.substr(0, hash));
}

std::string translate(std::string_view key) {
    const State s = snapshot();
    if (s.language == AppLanguage::english && !s.table->empty()) {
        auto it = s.table->find(key);
        if (it != s.table->end()) return it->second;
    }
    return russian(key);
}

std::string format(std::string_view text, const std::vector<std::string>& args) {
    if (args.empty() || text.find('{') == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size() + 16);
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t open = text.find('{', i);
        if (open == std::string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        out.append(text.substr(i, open - i));
        const std::size_t close = text.find('}', open + 1);
        bool replaced = false;
        if (close != std::string_view::npos && close > open + 1) {
            const std::string_view digits = text.substr(open + 1, close - open - 1);
            if (std::all_of(digits.begin(), digits.end(), isAsciiDigit)) {
                std::size_t n = 0;
                auto r = std::from_chars(digits.data(), digits.data() + digits.size(), n);
                if (r.ec == std::errc() && r.ptr == digits.data() + digits.size() && n < args.size()) {
                    out.append(args[n]);
                    i = close + 1;
                    replaced = true;
                }
            }
        }
        if (!replaced) {
            out.push_back('{');
            i = open + 1;
        }
    }
    return out;
}

std::string plural(long long count, std::string_view key) {
    // |count| without overflow for the most negative value.
    const unsigned long long n =
        count < 0 ? 0ull - static_cast<unsigned long long>(count) : static_cast<unsigned long long>(count);
    const State s = snapshot();
    std::vector<std::string> forms;
    std::size_t index = 0;
    bool english = false;
    if (s.language == AppLanguage::english && !s.table->empty()) {
        auto it = s.table->find(key);
        if (it != s.table->end()) {
            forms = splitForms(it->second);
            english = true;
        }
    }
    if (english) {
        index = n == 1 ? 0 : 1;
    } else {
        forms = splitForms(russian(key));
        const unsigned long long mod10 = n % 10, mod100 = n % 100;
        if (mod10 == 1 && mod100 != 11)
            index = 0;
        else if (mod10 >= 2 && mod10 <= 4 && (mod100 < 12 || mod100 > 14))
            index = 1;
        else
            index = 2;
    }
    return forms[std::min(index, forms.size() - 1)];
}

TranslationTable parseTable(std::string_view text) {
    TranslationTable table;
    nlohmann::json json = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (json.is_discarded() || !json.is_object()) return table;
    for (auto it = json.begin(); it != json.end(); ++it)
        if (it.value().is_string()) table[it.key()] = it.value().get<std::string>();
    return table;
}

TranslationTable table(AppLanguage language, const std::optional<std::filesystem::path>& folder) {
    if (language == AppLanguage::russian || !folder) return {};
    const std::filesystem::path file = *folder / (std::string(code(language)) + ".json");
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec || size > kMaxTableBytes) return {};
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    std::string text(static_cast<std::size_t>(size), '\0');
    in.read(text.data(), static_cast<std::streamsize>(size));
    if (static_cast<std::uintmax_t>(in.gcount()) != size) return {};
    return parseTable(text);
}

void use(AppLanguage language, TranslationTable table) {
    const bool english = language == AppLanguage::english;
    auto shared = std::make_shared<const TranslationTable>(english ? std::move(table) : TranslationTable{});
    std::lock_guard guard(stateLock());
    state().language = english && !shared->empty() ? AppLanguage::english : AppLanguage::russian;
    state().table = std::move(shared);
}

AppLanguage current() { return snapshot().language; }

std::vector<std::string> systemLanguagesFrom(const char* language, const char* lcAll, const char* lcMessages,
                                             const char* lang) {
    std::vector<std::string> out;
    // LANGUAGE is a colon-separated priority list; it counts only with a real locale set.
    const char* locale = lcAll && *lcAll ? lcAll : (lcMessages && *lcMessages ? lcMessages : lang);
    const auto localeTagValue = locale ? localeTag(locale) : std::nullopt;
    if (language && *language && localeTagValue) {
        std::string_view list(language);
        while (!list.empty()) {
            const std::size_t colon = list.find(':');
            if (auto tag = localeTag(list.substr(0, colon))) out.push_back(*tag);
            if (colon == std::string_view::npos) break;
            list.remove_prefix(colon + 1);
        }
    }
    if (localeTagValue && std::find(out.begin(), out.end(), *localeTagValue) == out.end())
        out.push_back(*localeTagValue);
    return out;
}

std::vector<std::string> systemLanguages() {
    return systemLanguagesFrom(std::getenv("LANGUAGE"), std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                               std::getenv("LANG"));
}

void applyAppleLanguages(LanguageChoice choice, Defaults& defaults, const std::vector<std::string>& systemLanguages) {
    if (auto list = appleLanguagesOverride(choice, systemLanguages))
        defaults.set(kAppleLanguagesKey, *list);
    else
        defaults.remove(kAppleLanguagesKey);
}

void applyAppleLanguages(LanguageChoice choice, Defaults& defaults) {
    applyAppleLanguages(choice, defaults, systemLanguages());
}

void start(const std::optional<std::filesystem::path>& resourceFolder, Defaults& defaults,
           const std::vector<std::string>& systemLanguages) {
    LanguageChoice choice = LanguageChoice::system;
    if (auto stored = defaults.string(kInterfaceLanguageKey))
        if (auto c = languageChoice(*stored)) choice = *c;
    applyAppleLanguages(choice, defaults, systemLanguages);
    const AppLanguage lang = language(choice, systemLanguages);
    std::optional<std::filesystem::path> folder;
    if (resourceFolder) folder = *resourceFolder / "Localization";
    use(lang, table(lang, folder));
}

void start(const std::optional<std::filesystem::path>& resourceFolder, Defaults& defaults) {
    start(resourceFolder, defaults, systemLanguages());
}

}  // namespace Localization
}  // namespace tessoral

#pragma once

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace tessoral::test {

// Switches LC_NUMERIC to a locale with a decimal comma while it lives, as QCoreApplication does
// from the environment of a Russian desktop. The locale is compiled into the scratch folder when
// the system has none installed; inactive when none can be had.
class CommaDecimalLocale {
public:
    explicit CommaDecimalLocale(const std::filesystem::path& scratch) {
        if (use("ru_RU.UTF-8") || use("de_DE.UTF-8")) return;
        const auto folder = scratch / "locales";
        std::filesystem::create_directories(folder);
        const std::string command = "localedef -i ru_RU -f UTF-8 '" + (folder / "ru_RU.UTF-8").string() + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return;
        ::setenv("LOCPATH", folder.c_str(), 1);
        use("ru_RU.UTF-8");
    }
    ~CommaDecimalLocale() {
        std::setlocale(LC_NUMERIC, "C");
        ::unsetenv("LOCPATH");
    }
    CommaDecimalLocale(const CommaDecimalLocale&) = delete;
    CommaDecimalLocale& operator=(const CommaDecimalLocale&) = delete;
    bool active() const { return active_; }

private:
    bool use(const char* name) {
        active_ = std::setlocale(LC_NUMERIC, name) != nullptr && std::string(std::localeconv()->decimal_point) == ",";
        if (!active_) std::setlocale(LC_NUMERIC, "C");
        return active_;
    }
    bool active_ = false;
};

}  // namespace tessoral::test

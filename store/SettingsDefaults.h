#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "model/Defaults.h"

class QSettings;
class QString;

namespace tessoral {

// The per-user settings over QSettings("Tessoral", "Tessoral") (on Linux the INI file
// $XDG_CONFIG_HOME/Tessoral/Tessoral.conf). Every write is synced to disk at once. The INI file
// gives scalars back as text, so reading turns "true"/"false" into booleans and numeric text into
// numbers (whole numbers into integers); other text stays text. Text the program writes that would
// read back as a boolean or a number ("true", "48000") is marked in the file so it stays text.
// Safe to use from several threads.
class SettingsDefaults final : public Defaults {
public:
    // The program's settings.
    SettingsDefaults();
    // Settings in the INI file at `iniPath` (tests, tools).
    explicit SettingsDefaults(const std::string& iniPath);
    ~SettingsDefaults() override;

    std::optional<DefaultsValue> value(const std::string& key) const override;
    void set(const std::string& key, DefaultsValue value) override;
    void remove(const std::string& key) override;

    // Where the settings are kept.
    std::string fileName() const;

    // How a stored text reads back: "true"/"false" → boolean, numeric text → number, else text.
    static DefaultsValue fromText(const std::string& text);

private:
    mutable std::mutex mutex_;
    std::unique_ptr<QSettings> settings_;
};

}  // namespace tessoral

#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tessoral {

// A value kept in the per-user settings.
using DefaultsValue = std::variant<bool, long long, double, std::string, std::vector<std::string>>;

// What reads and writes the per-user settings. The program passes a QSettings-backed
// implementation; tests pass MemoryDefaults.
class Defaults {
public:
    virtual ~Defaults() = default;
    virtual std::optional<DefaultsValue> value(const std::string& key) const = 0;
    virtual void set(const std::string& key, DefaultsValue value) = 0;
    virtual void remove(const std::string& key) = 0;

    // Typed readers: none when the key is absent or holds another kind of value.
    // Numbers convert between integer and double; nothing else converts.
    std::optional<std::string> string(const std::string& key) const;
    std::optional<std::vector<std::string>> stringList(const std::string& key) const;
    std::optional<bool> boolean(const std::string& key) const;
    std::optional<double> number(const std::string& key) const;
    std::optional<long long> integer(const std::string& key) const;
};

// In-memory settings, safe to use from several threads.
class MemoryDefaults final : public Defaults {
public:
    std::optional<DefaultsValue> value(const std::string& key) const override;
    void set(const std::string& key, DefaultsValue value) override;
    void remove(const std::string& key) override;
    bool contains(const std::string& key) const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, DefaultsValue> values_;
};

}  // namespace tessoral

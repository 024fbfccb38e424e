#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "model/Uuid.h"

namespace tessoral {

// A property-list value: the stored form of the model's records, shared by the
// project file and the favourites file. Dictionaries keep their keys in order.
class PlistValue {
public:
    using Data = std::vector<std::uint8_t>;
    using Array = std::vector<PlistValue>;
    using Dict = std::vector<std::pair<std::string, PlistValue>>;
    using Storage = std::variant<bool, std::int64_t, double, std::string, Data, Array, Dict>;

    PlistValue() : v_(Dict{}) {}
    PlistValue(bool b) : v_(b) {}
    PlistValue(int i) : v_(std::int64_t{i}) {}
    PlistValue(std::int64_t i) : v_(i) {}
    PlistValue(double d) : v_(d) {}
    PlistValue(const char* s) : v_(std::string(s)) {}
    PlistValue(std::string s) : v_(std::move(s)) {}
    PlistValue(const Uuid& id) : v_(id.text()) {}
    PlistValue(Data d) : v_(std::move(d)) {}
    PlistValue(Array a) : v_(std::move(a)) {}
    PlistValue(Dict d) : v_(std::move(d)) {}

    const Storage& storage() const { return v_; }
    Storage& storage() { return v_; }

    template <class T>
    bool is() const { return std::holds_alternative<T>(v_); }
    template <class T>
    const T* as() const { return std::get_if<T>(&v_); }
    template <class T>
    T* as() { return std::get_if<T>(&v_); }

    // Dictionary lookup: the value under key, or null when absent or not a dictionary.
    const PlistValue* find(std::string_view key) const;
    // Appends key → value to a dictionary.
    void add(std::string key, PlistValue value);

    friend bool operator==(const PlistValue&, const PlistValue&) = default;

private:
    Storage v_;
};

// A stored record that cannot be read: a missing key, a wrong type or an unknown raw value.
class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Readers of stored records. Each throws DecodeError when the key is missing or has the wrong type.
// A double accepts an integer; an integer accepts a real holding a whole number.
namespace stored {
const PlistValue::Dict& dict(const PlistValue& v, std::string_view what);
const PlistValue::Array& array(const PlistValue& v, std::string_view what);
const PlistValue& require(const PlistValue& dict, std::string_view key);
bool boolean(const PlistValue& v, std::string_view what);
double number(const PlistValue& v, std::string_view what);
std::int64_t integer(const PlistValue& v, std::string_view what);
const std::string& string(const PlistValue& v, std::string_view what);
Uuid uuid(const PlistValue& v, std::string_view what);

bool requireBool(const PlistValue& dict, std::string_view key);
double requireDouble(const PlistValue& dict, std::string_view key);
std::int64_t requireInt(const PlistValue& dict, std::string_view key);
const std::string& requireString(const PlistValue& dict, std::string_view key);
Uuid requireUuid(const PlistValue& dict, std::string_view key);
}  // namespace stored

}  // namespace tessoral

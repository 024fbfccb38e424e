#include "model/PlistValue.h"

#include <cmath>

namespace tessoral {

const PlistValue* PlistValue::find(std::string_view key) const {
    if (auto d = as<Dict>())
        for (const auto& [k, v] : *d)
            if (k == key) return &v;
    return nullptr;
}

void PlistValue::add(std::string key, PlistValue value) {
    if (auto d = as<Dict>()) d->emplace_back(std::move(key), std::move(value));
}

namespace stored {

namespace {
[[noreturn]] void fail(std::string_view what, std::string_view problem) {
    throw DecodeError(std::string(what) + ": " + std::string(problem));
}
}  // namespace

const PlistValue::Dict& dict(const PlistValue& v, std::string_view what) {
    if (auto d = v.as<PlistValue::Dict>()) return *d;
    fail(what, "expected a dictionary");
}

const PlistValue::Array& array(const PlistValue& v, std::string_view what) {
    if (auto a = v.as<PlistValue::Array>()) return *a;
    fail(what, "expected an array");
}

const PlistValue& require(const PlistValue& d, std::string_view key) {
    dict(d, key);
    if (auto v = d.find(key)) return *v;
    fail(key, "missing");
}

bool boolean(const PlistValue& v, std::string_view what) {
    if (auto b = v.as<bool>()) return *b;
    fail(what, "expected a boolean");
}

double number(const PlistValue& v, std::string_view what) {
    if (auto d = v.as<double>()) return *d;
    if (auto i = v.as<std::int64_t>()) return static_cast<double>(*i);
    fail(what, "expected a number");
}

std::int64_t integer(const PlistValue& v, std::string_view what) {
    if (auto i = v.as<std::int64_t>()) return *i;
    if (auto d = v.as<double>())
        if (std::isfinite(*d) && std::trunc(*d) == *d && std::fabs(*d) < 9.2e18) return static_cast<std::int64_t>(*d);
    fail(what, "expected an integer");
}

const std::string& string(const PlistValue& v, std::string_view what) {
    if (auto s = v.as<std::string>()) return *s;
    fail(what, "expected a string");
}

Uuid uuid(const PlistValue& v, std::string_view what) {
    if (auto id = Uuid::parse(string(v, what))) return *id;
    fail(what, "not a UUID");
}

bool requireBool(const PlistValue& d, std::string_view key) { return boolean(require(d, key), key); }
double requireDouble(const PlistValue& d, std::string_view key) { return number(require(d, key), key); }
std::int64_t requireInt(const PlistValue& d, std::string_view key) { return integer(require(d, key), key); }
const std::string& requireString(const PlistValue& d, std::string_view key) { return string(require(d, key), key); }
Uuid requireUuid(const PlistValue& d, std::string_view key) { return uuid(require(d, key), key); }

}  // namespace stored
}  // namespace tessoral

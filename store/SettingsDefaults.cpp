#include "store/SettingsDefaults.h"

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cctype>
#include <charconv>
#include <cmath>

namespace tessoral {

namespace {

QString qt(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string utf8(const QString& s) { return s.toUtf8().toStdString(); }

bool equalsIgnoringCase(const std::string& text, const char* word) {
    std::size_t i = 0;
    for (; word[i] != '\0'; ++i)
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != word[i]) return false;
    return i == text.size();
}

QVariant toVariant(const DefaultsValue& value) {
    return std::visit(
        [](const auto& v) -> QVariant {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, bool>) {
                return QVariant(v);
            } else if constexpr (std::is_same_v<V, long long>) {
                return QVariant(static_cast<qlonglong>(v));
            } else if constexpr (std::is_same_v<V, double>) {
                return QVariant(v);
            } else if constexpr (std::is_same_v<V, std::string>) {
                // Text that would read back as a boolean or a number is stored marked as bytes
                // ("@ByteArray(…)" in the file), so that it stays text.
                if (!std::holds_alternative<std::string>(SettingsDefaults::fromText(v)))
                    return QVariant(QByteArray(v.data(), static_cast<qsizetype>(v.size())));
                return QVariant(qt(v));
            } else {
                QStringList list;
                for (const auto& s : v) list.append(qt(s));
                return QVariant(list);
            }
        },
        value);
}

}  // namespace

DefaultsValue SettingsDefaults::fromText(const std::string& text) {
    if (equalsIgnoringCase(text, "true")) return true;
    if (equalsIgnoringCase(text, "false")) return false;
    if (!text.empty()) {
        const char* first = text.data();
        const char* last = first + text.size();
        long long whole = 0;
        if (auto [end, ec] = std::from_chars(first, last, whole); ec == std::errc() && end == last) return whole;
        // Only plain decimal notation counts as a number ("inf", "nan" and hexadecimal stay text).
        bool plain = true;
        for (char c : text)
            if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'))
                plain = false;
        double real = 0.0;
        if (plain) {
            if (auto [end, ec] = std::from_chars(first, last, real); ec == std::errc() && end == last && std::isfinite(real))
                return real;
        }
    }
    return text;
}

SettingsDefaults::SettingsDefaults() : settings_(std::make_unique<QSettings>(QStringLiteral("Tessoral"), QStringLiteral("Tessoral"))) {}

SettingsDefaults::SettingsDefaults(const std::string& iniPath)
    : settings_(std::make_unique<QSettings>(qt(iniPath), QSettings::IniFormat)) {}

SettingsDefaults::~SettingsDefaults() = default;

std::optional<DefaultsValue> SettingsDefaults::value(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const QVariant v = settings_->value(qt(key));
    if (!v.isValid()) return std::nullopt;
    switch (v.typeId()) {
        case QMetaType::Bool: return DefaultsValue(v.toBool());
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
            return DefaultsValue(static_cast<long long>(v.toLongLong()));
        case QMetaType::Double:
        case QMetaType::Float: {
            const double d = v.toDouble();
            if (!std::isfinite(d)) return std::nullopt;
            return DefaultsValue(d);
        }
        case QMetaType::QStringList: {
            std::vector<std::string> list;
            for (const QString& s : v.toStringList()) list.push_back(utf8(s));
            return DefaultsValue(std::move(list));
        }
        case QMetaType::QString: return fromText(utf8(v.toString()));
        case QMetaType::QByteArray: {
            const QByteArray bytes = v.toByteArray();
            return DefaultsValue(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        }
        default:
            if (v.canConvert<QString>()) return fromText(utf8(v.toString()));
            return std::nullopt;
    }
}

void SettingsDefaults::set(const std::string& key, DefaultsValue value) {
    std::lock_guard lock(mutex_);
    settings_->setValue(qt(key), toVariant(value));
    settings_->sync();
}

void SettingsDefaults::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    settings_->remove(qt(key));
    settings_->sync();
}

std::string SettingsDefaults::fileName() const {
    std::lock_guard lock(mutex_);
    return utf8(settings_->fileName());
}

}  // namespace tessoral

#pragma once

#include <QObject>
#include <QString>

#include <optional>
#include <string>

#include "model/Defaults.h"

namespace tessoral {

// The program's preferences as the views see them: the per-user settings with a change signal.
// It forwards every read and write to the settings it wraps and announces each write or removal,
// whoever makes it (a view, or the store writing its export defaults back when the program gives
// the store this object as its settings). Writes from another thread are announced on this
// object's thread.
class Preferences final : public QObject, public Defaults {
    Q_OBJECT
public:
    // `settings` must outlive this object.
    explicit Preferences(Defaults& settings, QObject* parent = nullptr);

    std::optional<DefaultsValue> value(const std::string& key) const override;
    void set(const std::string& key, DefaultsValue value) override;
    void remove(const std::string& key) override;

    Defaults& settings() const { return settings_; }

    // `defaults` itself when it is a Preferences object, else none.
    static Preferences* of(Defaults& defaults);

Q_SIGNALS:
    // A key was written or removed.
    void changed(const QString& key);

private:
    void announce(const std::string& key);
    Defaults& settings_;
};

}  // namespace tessoral

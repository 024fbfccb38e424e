#include "store/Preferences.h"

#include <QMetaObject>
#include <QPointer>
#include <QThread>

namespace tessoral {

Preferences::Preferences(Defaults& settings, QObject* parent) : QObject(parent), settings_(settings) {}

std::optional<DefaultsValue> Preferences::value(const std::string& key) const { return settings_.value(key); }

void Preferences::set(const std::string& key, DefaultsValue value) {
    settings_.set(key, std::move(value));
    announce(key);
}

void Preferences::remove(const std::string& key) {
    settings_.remove(key);
    announce(key);
}

Preferences* Preferences::of(Defaults& defaults) { return dynamic_cast<Preferences*>(&defaults); }

void Preferences::announce(const std::string& key) {
    const QString name = QString::fromStdString(key);
    if (QThread::currentThread() == thread()) {
        Q_EMIT changed(name);
        return;
    }
    QPointer<Preferences> self(this);
    QMetaObject::invokeMethod(
        this, [self, name] { if (self) Q_EMIT self->changed(name); }, Qt::QueuedConnection);
}

}  // namespace tessoral

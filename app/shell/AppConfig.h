#pragma once

#include <QString>

// Product settings given at build time (empty by default: an empty one leaves its entry out).
#ifndef TESSORAL_VERSION
#define TESSORAL_VERSION "0.1"
#endif
#ifndef TESSORAL_SUPPORT_MESSENGER
#define TESSORAL_SUPPORT_MESSENGER ""
#endif
#ifndef TESSORAL_SUPPORT_MESSENGER_URL
#define TESSORAL_SUPPORT_MESSENGER_URL ""
#endif
#ifndef TESSORAL_SUPPORT_EMAIL
#define TESSORAL_SUPPORT_EMAIL ""
#endif
#ifndef TESSORAL_WEBSITE
#define TESSORAL_WEBSITE ""
#endif

namespace tessoral::AppConfig {

inline QString version() { return QStringLiteral(TESSORAL_VERSION); }
inline QString messengerHandle() { return QString::fromUtf8(TESSORAL_SUPPORT_MESSENGER); }
inline QString messengerURL() { return QString::fromUtf8(TESSORAL_SUPPORT_MESSENGER_URL); }
inline QString supportEmail() { return QString::fromUtf8(TESSORAL_SUPPORT_EMAIL); }
inline QString website() { return QString::fromUtf8(TESSORAL_WEBSITE); }

}  // namespace tessoral::AppConfig

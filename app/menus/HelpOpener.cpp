#include "app/menus/HelpOpener.h"

#include <QRegularExpression>

#include <system_error>

#include "app/shell/AppConfig.h"
#include "store/StudioStore.h"

namespace tessoral {

namespace {

// An http or https address with a host.
std::optional<QUrl> webURL(const QString& text) {
    if (text.trimmed().isEmpty()) return std::nullopt;
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QStringLiteral("http") && scheme != QStringLiteral("https")) || url.host().isEmpty())
        return std::nullopt;
    return url;
}

// A bare address: one '@', nothing that would start a query, a fragment or a second address.
bool plainAddress(const QString& address) {
    static const QRegularExpression pattern(QStringLiteral("^[^\\s@?#&/,;:<>\"]+@[^\\s@?#&/,;:<>\"]+$"));
    return pattern.match(address).hasMatch();
}

std::optional<std::filesystem::path> existing(const std::optional<std::filesystem::path>& folder, const char* name) {
    if (!folder) return std::nullopt;
    std::error_code ec;
    const auto path = *folder / name;
    if (std::filesystem::is_regular_file(path, ec)) return path;
    return std::nullopt;
}

QUrl fileURL(const std::filesystem::path& path) { return QUrl::fromLocalFile(QString::fromStdString(path.string())); }

// What the status line says when no browser opened a page.
std::string pageFailure(const QUrl& url) {
    return L("Не удалось открыть страницу: не найден браузер. Адрес: {0}", url.toDisplayString().toStdString());
}

// … and when no mail program took a message to `address`.
std::string mailFailure(const QString& address) {
    return L("Не удалось создать письмо: не найдена почтовая программа. Адрес поддержки: {0}", address.toStdString());
}

}  // namespace

void StoreUrlOpener::open(const QUrl& url, const std::string& failure) {
    store_.openExternal(url.toEncoded().toStdString(), failure);
}

HelpEndpoints HelpEndpoints::fromBuild() {
    return {AppConfig::website(), AppConfig::supportEmail(), AppConfig::messengerHandle(), AppConfig::messengerURL()};
}

std::optional<QUrl> HelpEndpoints::siteURL() const { return webURL(site); }

QString HelpEndpoints::siteDisplay() const {
    QString text = site.trimmed();
    for (const char* scheme : {"https://", "http://"}) {
        if (text.startsWith(QLatin1String(scheme), Qt::CaseInsensitive)) {
            text = text.mid(int(qstrlen(scheme)));
            break;
        }
    }
    while (text.endsWith(QLatin1Char('/'))) text.chop(1);
    return text;
}

std::optional<QUrl> HelpEndpoints::emailURL() const {
    const QString address = email.trimmed();
    if (!plainAddress(address)) return std::nullopt;
    const QUrl url(QStringLiteral("mailto:") + address, QUrl::StrictMode);
    if (!url.isValid()) return std::nullopt;
    return url;
}

std::optional<QUrl> HelpEndpoints::messengerPage() const {
    if (messengerHandle.trimmed().isEmpty()) return std::nullopt;
    return webURL(messengerURL);
}

QString HelpEndpoints::messengerDisplay() const {
    QString handle = messengerHandle.trimmed();
    while (handle.startsWith(QLatin1Char('@'))) handle.remove(0, 1);
    return QStringLiteral("@") + handle;
}

HelpActions::HelpActions(UrlOpener& opener, std::optional<std::filesystem::path> resources, HelpEndpoints endpoints,
                         QString version, QString systemName)
    : opener_(&opener),
      resources_(std::move(resources)),
      endpoints_(std::move(endpoints)),
      version_(std::move(version)),
      systemName_(std::move(systemName)) {}

std::optional<std::filesystem::path> HelpActions::guideFile(const std::optional<std::filesystem::path>& resources,
                                                            AppLanguage language) {
    if (language == AppLanguage::english)
        if (auto english = existing(resources, "Guide.en.html")) return english;
    return existing(resources, "Guide.html");
}

std::optional<std::filesystem::path> HelpActions::licenseFile(const std::optional<std::filesystem::path>& resources) {
    return existing(resources, "LICENSE.txt");
}

QString HelpActions::supportSubject(const QString& version, const QString& systemName) {
    return QStringLiteral("Tessoral ") + version + QStringLiteral(" \u2014 ") + systemName;
}

std::optional<QUrl> HelpActions::supportMail(const QString& address, const QString& version,
                                              const QString& systemName) {
    const QString bare = address.trimmed();
    if (!plainAddress(bare)) return std::nullopt;
    // What a URL query may carry as it is, less '&', '=' and '+', which a mail client would read as
    // the end of the subject, a new field or a space.
    const QByteArray subject =
        QUrl::toPercentEncoding(supportSubject(version, systemName), QByteArrayLiteral("!$'()*,/:;?@"));
    const QUrl url(QStringLiteral("mailto:") + bare + QStringLiteral("?subject=") + QString::fromLatin1(subject),
                   QUrl::StrictMode);
    if (!url.isValid()) return std::nullopt;
    return url;
}

void HelpActions::openGuide() {
    if (auto guide = guideFile(resources_, Localization::current()))
        opener_->open(fileURL(*guide),
                      L("Не удалось открыть руководство: не найдена программа для просмотра. Файл: {0}", guide->string()));
}

void HelpActions::openSite() {
    if (auto url = endpoints_.siteURL()) opener_->open(*url, pageFailure(*url));
}

void HelpActions::openSupportEmail() {
    if (auto url = supportMail(endpoints_.email, version_, systemName_))
        opener_->open(*url, mailFailure(endpoints_.email.trimmed()));
}

void HelpActions::openLicense() {
    if (auto license = licenseFile(resources_))
        opener_->open(fileURL(*license),
                      L("Не удалось открыть лицензию: не найдена программа для просмотра. Файл: {0}", license->string()));
}

void HelpActions::openLink(const QUrl& url) { openLink(*opener_, url); }

void HelpActions::openLink(UrlOpener& opener, const QUrl& url) {
    if (!url.isValid()) return;
    if (url.scheme().compare(QStringLiteral("mailto"), Qt::CaseInsensitive) == 0)
        opener.open(url, mailFailure(url.path()));
    else
        opener.open(url, pageFailure(url));
}

}  // namespace tessoral

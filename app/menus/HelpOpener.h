#pragma once

#include <QString>
#include <QUrl>

#include <filesystem>
#include <optional>
#include <string>

#include "model/Localization.h"

namespace tessoral {

class StudioStore;

// Opens a web page, an e-mail or a file with the desktop's default application, and says
// `failure` in the status line when nothing can. The program opens through the store; tests pass
// one that records what would open.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    virtual void open(const QUrl& url, const std::string& failure) = 0;
};

// Through the store, which reaches the desktop and owns the status line.
class StoreUrlOpener final : public UrlOpener {
public:
    explicit StoreUrlOpener(StudioStore& store) : store_(store) {}
    void open(const QUrl& url, const std::string& failure) override;

private:
    StudioStore& store_;
};

// The product's contact points, build settings that are empty by default. An empty or unparsable
// one has no Help entry and no credit line.
struct HelpEndpoints {
    QString site;             // https://…
    QString email;            // a plain address
    QString messengerHandle;  // shown with a leading '@'
    QString messengerURL;     // the page the handle opens

    static HelpEndpoints fromBuild();

    std::optional<QUrl> siteURL() const;
    // The site without its scheme and trailing slash ("tessoral.example").
    QString siteDisplay() const;
    std::optional<QUrl> emailURL() const;  // mailto:address
    std::optional<QUrl> messengerPage() const;
    QString messengerDisplay() const;  // "@handle"
};

// The Help menu's actions over the resources folder (<prefix>/share/tessoral or the source tree).
class HelpActions {
public:
    HelpActions(UrlOpener& opener, std::optional<std::filesystem::path> resources, HelpEndpoints endpoints,
                QString version, QString systemName);

    // The guide of the interface language (Guide.en.html in English), else the Russian Guide.html;
    // none when neither file exists.
    static std::optional<std::filesystem::path> guideFile(const std::optional<std::filesystem::path>& resources,
                                                          AppLanguage language);
    static std::optional<std::filesystem::path> licenseFile(const std::optional<std::filesystem::path>& resources);
    // "Tessoral {version} — {system}".
    static QString supportSubject(const QString& version, const QString& systemName);
    // mailto:address?subject=… with the subject percent-encoded; none for an empty or unparsable
    // address.
    static std::optional<QUrl> supportMail(const QString& address, const QString& version, const QString& systemName);

    const HelpEndpoints& endpoints() const { return endpoints_; }
    void setOpener(UrlOpener& opener) { opener_ = &opener; }

    // A missing file or address opens nothing, silently; where nothing on the desktop can open
    // what is there, the opener reports it with the file's path or the address.
    void openGuide();
    void openSite();
    void openSupportEmail();
    void openLicense();
    void openLink(const QUrl& url);
    // A web page or a mailto: address (the About panel's and the empty window's links).
    static void openLink(UrlOpener& opener, const QUrl& url);

private:
    UrlOpener* opener_;
    std::optional<std::filesystem::path> resources_;
    HelpEndpoints endpoints_;
    QString version_;
    QString systemName_;
};

}  // namespace tessoral

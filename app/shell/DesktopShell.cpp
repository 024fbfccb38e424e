#include "app/shell/DesktopShell.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QSet>
#include <QStringList>
#include <QUrl>

#include "app/shell/FileNames.h"
#include "app/shell/RecentlyUsed.h"

namespace tessoral {

namespace {

// True when every folder opened.
bool openFolders(const std::vector<std::filesystem::path>& files) {
    QSet<QByteArray> seen;
    bool opened = true;
    for (const auto& f : files) {
        const QByteArray folder = FileNames::fileUri(f.parent_path());
        if (seen.contains(folder)) continue;
        seen.insert(folder);
        opened = QDesktopServices::openUrl(QUrl::fromEncoded(folder)) && opened;
    }
    return opened;
}

}  // namespace

void DesktopShell::reveal(const std::vector<std::filesystem::path>& files, std::function<void()> failed) {
    QStringList uris;
    for (const auto& f : files) uris << QString::fromLatin1(FileNames::fileUri(f));
    if (uris.isEmpty()) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (!openFolders(files) && failed) failed();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    // Asynchronous, so a slow or absent file manager never stalls the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, files, failed = std::move(failed)] {
        if (watcher->isError() && !openFolders(files) && failed) failed();
        watcher->deleteLater();
    });
}

bool DesktopShell::openURL(const std::string& url) {
    // Qt finds the desktop's launcher (xdg-open and its kin) or a browser; false when there is none.
    return QDesktopServices::openUrl(QUrl::fromEncoded(QByteArray::fromStdString(url), QUrl::StrictMode));
}

void DesktopShell::noteRecentDocument(const std::filesystem::path& file) {
    const QString mime = QMimeDatabase().mimeTypeForFile(FileNames::display(file), QMimeDatabase::MatchExtension).name();
    RecentlyUsed::note(RecentlyUsed::defaultListPath(), file, mime, QStringLiteral("Tessoral"),
                       QStringLiteral("'tessoral %u'"));
}

}  // namespace tessoral

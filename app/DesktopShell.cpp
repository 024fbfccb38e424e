#include "app/DesktopShell.h"

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

#include "app/RecentlyUsed.h"

namespace tessoral {

namespace {

QString qpath(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

// True when every folder opened.
bool openFolders(const QStringList& files) {
    QSet<QString> seen;
    bool opened = true;
    for (const QString& f : files) {
        const QString folder = QFileInfo(f).absolutePath();
        if (seen.contains(folder)) continue;
        seen.insert(folder);
        opened = QDesktopServices::openUrl(QUrl::fromLocalFile(folder)) && opened;
    }
    return opened;
}

}  // namespace

void DesktopShell::reveal(const std::vector<std::filesystem::path>& files, std::function<void()> failed) {
    QStringList paths, uris;
    for (const auto& f : files) {
        paths << qpath(f);
        uris << QString::fromUtf8(QUrl::fromLocalFile(qpath(f)).toEncoded());
    }
    if (paths.isEmpty()) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (!openFolders(paths) && failed) failed();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    // Asynchronous, so a slow or absent file manager never stalls the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, paths, failed = std::move(failed)] {
        if (watcher->isError() && !openFolders(paths) && failed) failed();
        watcher->deleteLater();
    });
}

bool DesktopShell::openURL(const std::string& url) {
    // Qt finds the desktop's launcher (xdg-open and its kin) or a browser; false when there is none.
    return QDesktopServices::openUrl(QUrl::fromEncoded(QByteArray::fromStdString(url), QUrl::StrictMode));
}

void DesktopShell::noteRecentDocument(const std::filesystem::path& file) {
    const QString path = qpath(file);
    const QString mime = QMimeDatabase().mimeTypeForFile(path).name();
    RecentlyUsed::note(RecentlyUsed::defaultListPath(), path, mime, QStringLiteral("Tessoral"),
                       QStringLiteral("'tessoral %u'"));
}

}  // namespace tessoral

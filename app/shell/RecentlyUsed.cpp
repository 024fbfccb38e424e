#include "app/shell/RecentlyUsed.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#include "app/shell/FileNames.h"

namespace tessoral::RecentlyUsed {

namespace {

const QString kBookmarkNS = QStringLiteral("http://www.freedesktop.org/standards/desktop-bookmarks");
const QString kMimeNS = QStringLiteral("http://www.freedesktop.org/standards/shared-mime-info");
const QString kOwner = QStringLiteral("http://freedesktop.org");

QString stamp(const QDateTime& t) { return t.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz000Z")); }

QDomElement child(const QDomElement& parent, const QString& ns, const QString& localName) {
    for (QDomElement e = parent.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        if (e.localName() == localName && e.namespaceURI() == ns) return e;
    return {};
}

QDomElement plainChild(const QDomElement& parent, const QString& name) {
    for (QDomElement e = parent.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        if ((e.localName().isEmpty() ? e.tagName() : e.localName()) == name && e.namespaceURI().isEmpty())
            return e;
    return {};
}

}  // namespace

QString defaultListPath() {
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || !QDir::isAbsolutePath(data)) data = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir(data).filePath(QStringLiteral("recently-used.xbel"));
}

bool note(const QString& listPath, const std::filesystem::path& file, const QString& mimeType, const QString& appName,
          const QString& exec, const QDateTime& now) {
    QDomDocument doc;
    QFile existing(listPath);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly)) return false;
        if (existing.size() > 64 * 1024 * 1024) return false;
        if (!doc.setContent(&existing, true)) return false;  // not ours to repair
        existing.close();
        if (doc.documentElement().tagName() != QStringLiteral("xbel")) return false;
    } else {
        doc.appendChild(doc.createProcessingInstruction(QStringLiteral("xml"),
                                                        QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
        QDomElement root = doc.createElement(QStringLiteral("xbel"));
        root.setAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
        root.setAttribute(QStringLiteral("xmlns:bookmark"), kBookmarkNS);
        root.setAttribute(QStringLiteral("xmlns:mime"), kMimeNS);
        doc.appendChild(root);
    }
    QDomElement root = doc.documentElement();
    const QString href = QString::fromLatin1(FileNames::fileUri(file));
    const QString when = stamp(now);

    QDomElement bookmark;
    for (QDomElement e = root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        if ((e.localName().isEmpty() ? e.tagName() : e.localName()) == QStringLiteral("bookmark") &&
            e.attribute(QStringLiteral("href")) == href) {
            bookmark = e;
            break;
        }
    if (bookmark.isNull()) {
        bookmark = doc.createElement(QStringLiteral("bookmark"));
        bookmark.setAttribute(QStringLiteral("href"), href);
        bookmark.setAttribute(QStringLiteral("added"), when);
        root.appendChild(bookmark);
    }
    bookmark.setAttribute(QStringLiteral("modified"), when);
    bookmark.setAttribute(QStringLiteral("visited"), when);

    QDomElement info = plainChild(bookmark, QStringLiteral("info"));
    if (info.isNull()) info = bookmark.appendChild(doc.createElement(QStringLiteral("info"))).toElement();
    QDomElement metadata;
    for (QDomElement e = info.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        if ((e.localName().isEmpty() ? e.tagName() : e.localName()) == QStringLiteral("metadata") &&
            e.attribute(QStringLiteral("owner")) == kOwner) {
            metadata = e;
            break;
        }
    if (metadata.isNull()) {
        metadata = info.appendChild(doc.createElement(QStringLiteral("metadata"))).toElement();
        metadata.setAttribute(QStringLiteral("owner"), kOwner);
    }
    QDomElement mime = child(metadata, kMimeNS, QStringLiteral("mime-type"));
    if (mime.isNull())
        mime = metadata.appendChild(doc.createElementNS(kMimeNS, QStringLiteral("mime:mime-type"))).toElement();
    mime.setAttribute(QStringLiteral("type"), mimeType);
    QDomElement apps = child(metadata, kBookmarkNS, QStringLiteral("applications"));
    if (apps.isNull())
        apps = metadata.appendChild(doc.createElementNS(kBookmarkNS, QStringLiteral("bookmark:applications")))
                   .toElement();
    QDomElement app;
    for (QDomElement e = apps.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        if (e.localName() == QStringLiteral("application") && e.attribute(QStringLiteral("name")) == appName) {
            app = e;
            break;
        }
    if (app.isNull()) {
        app = apps.appendChild(doc.createElementNS(kBookmarkNS, QStringLiteral("bookmark:application"))).toElement();
        app.setAttribute(QStringLiteral("name"), appName);
        app.setAttribute(QStringLiteral("count"), 0);
    }
    app.setAttribute(QStringLiteral("exec"), exec);
    app.setAttribute(QStringLiteral("modified"), when);
    bool ok = false;
    const long long count = app.attribute(QStringLiteral("count")).toLongLong(&ok);
    app.setAttribute(QStringLiteral("count"), QString::number(ok && count >= 0 && count < (1LL << 40) ? count + 1 : 1));

    QDir().mkpath(QFileInfo(listPath).absolutePath());
    QSaveFile out(listPath);
    if (!out.open(QIODevice::WriteOnly)) return false;
    out.write(doc.toByteArray(2));
    return out.commit();
}

}  // namespace tessoral::RecentlyUsed

#include "app/shell/FileNames.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QFile>
#include <QUrl>

namespace tessoral::FileNames {

namespace {

bool onDisk(const std::filesystem::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
}

// The one entry of `folder` whose display form is `shown`; none when no entry or several match.
std::optional<std::string> entryShownAs(const std::filesystem::path& folder, const QString& shown) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return std::nullopt;
    std::optional<std::string> found;
    int matches = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (QString::fromUtf8(name) != shown) continue;
        if (++matches > 1) break;
        found = name.toStdString();
    }
    ::closedir(dir);
    if (matches != 1) return std::nullopt;
    return found;
}

}  // namespace

QString display(const std::filesystem::path& path) {
    const std::string& bytes = path.native();
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::filesystem::path native(const QString& path) {
    const QByteArray encoded = path.toUtf8();
    std::filesystem::path written(encoded.toStdString());
    if (path.isEmpty() || onDisk(written) || !path.contains(QChar(QChar::ReplacementCharacter))) return written;
    // Walk down from the root, matching each part that does not exist as written (a new file's
    // name stays as written, in the folder found).
    std::filesystem::path resolved = written.root_path();
    for (const auto& part : written.relative_path()) {
        std::filesystem::path next = resolved / part;
        if (!onDisk(next))
            if (const auto entry = entryShownAs(resolved, display(part))) next = resolved / *entry;
        resolved = std::move(next);
    }
    return resolved;
}

QByteArray fileUri(const std::filesystem::path& path) {
    const std::string& bytes = path.native();
    return QByteArrayLiteral("file://") +
           QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()))
               .toPercentEncoding(QByteArrayLiteral("/!$&'()*+,;=:@"));
}

std::optional<std::filesystem::path> fromFileUri(const QByteArray& uri) {
    static const QByteArray scheme = QByteArrayLiteral("file://");
    if (!uri.startsWith(scheme)) return std::nullopt;
    QByteArray rest = uri.mid(scheme.size());
    if (rest.startsWith("localhost/")) rest = rest.mid(9);
    if (!rest.startsWith('/')) return std::nullopt;  // another host's file
    if (const qsizetype query = rest.indexOf('?'); query >= 0) rest.truncate(query);
    if (const qsizetype fragment = rest.indexOf('#'); fragment >= 0) rest.truncate(fragment);
    const QByteArray bytes = QByteArray::fromPercentEncoding(rest);
    if (bytes.contains('\0')) return std::nullopt;
    return std::filesystem::path(bytes.toStdString());
}

}  // namespace tessoral::FileNames

#include "model/RecoveryInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <string>

#include "model/AtomicFile.h"
#include "model/UnicodeText.h"

namespace tessoral {

std::vector<std::uint8_t> RecoveryInfo::encode() const {
    PlistOut::Dict root;
    if (date) root.emplace_back("date", *date);
    if (path) {
        root.emplace_back("path", path->string());
        // A file name need not be UTF-8, which a property-list string cannot hold: the exact bytes
        // go beside it whenever the text would change them.
        const std::string& bytes = path->native();
        if (UnicodeText::wellFormed(bytes) != bytes)
            root.emplace_back("pathBytes", PlistValue(PlistValue::Data(bytes.begin(), bytes.end())));
    }
    if (!essentialAnalysis.empty()) {
        std::string ids;
        for (const Uuid& id : essentialAnalysis) {
            if (!ids.empty()) ids += ' ';
            ids += id.text();
        }
        root.emplace_back("essentialAnalysis", ids);
    }
    return Bplist::encode(PlistOut(std::move(root)));
}

RecoveryInfo RecoveryInfo::decode(std::span<const std::uint8_t> bytes) {
    MemorySource source(bytes);
    BplistReader reader(source);
    if (reader.kind(reader.root()) != PlistKind::dict) throw BplistError("binary property list: root is no dictionary");
    RecoveryInfo info;
    std::optional<std::filesystem::path> exact;
    const auto usable = [](const std::string& text) {
        return !text.empty() && text.find('\0') == std::string::npos && std::filesystem::path(text).is_absolute();
    };
    reader.forEachEntry(reader.root(), [&](const std::string& key, BplistReader::Ref value) {
        if (key == "date" && reader.kind(value) == PlistKind::date) {
            const PlistDate d = reader.date(value);
            if (std::isfinite(d.seconds) && std::fabs(d.seconds) <= kMaxDateSeconds) info.date = d;
        } else if (key == "path" && reader.kind(value) == PlistKind::string) {
            const std::string text = reader.string(value);
            if (usable(text)) info.path = std::filesystem::path(text);
 } else if (key == "essentialAnalysis" && reader.kind(value) == PlistKind::string) {
            const std::string text = reader.string(value);
            for (std::size_t at = 0; at < text.size();) {
                const std::size_t end = std::min(text.find(' ', at), text.size());
                if (const auto id = Uuid::parse(std::string_view(text).substr(at, end - at)))
                    info.essentialAnalysis.push_back(*id);
                at = end + 1;
            }
        } else if (key == "pathBytes" && reader.kind(value) == PlistKind::data) {
            const auto range = reader.data(value);
            if (range.size > 0 && range.size <= kMaxFileSize) {
                std::string bytes(static_cast<std::size_t>(range.size), '\0');
                source.read(range.offset, bytes.data(), bytes.size());
                if (usable(bytes)) exact = std::filesystem::path(bytes);
            }
        }
    });
    // The exact bytes stand for the text only when the text is their readable form.
    if (exact && info.path && UnicodeText::wellFormed(exact->native()) == info.path->native()) info.path = exact;
    return info;
}

void RecoveryInfo::write(const std::filesystem::path& file) const { AtomicFile::write(file, encode()); }

std::optional<RecoveryInfo> RecoveryInfo::read(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<std::uint64_t>(st.st_size) > kMaxFileSize)
        return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;  // an error, or the file shrank meanwhile
        done += static_cast<std::size_t>(n);
    }
    try {
        return decode(bytes);
    } catch (const BplistError&) {
        return std::nullopt;
    }
}

}  // namespace tessoral

#include "model/RecoveryInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <string>

#include "model/AtomicFile.h"

namespace tessoral {

std::vector<std::uint8_t> RecoveryInfo::encode() const {
    PlistOut::Dict root;
    if (date) root.emplace_back("date", *date);
    if (path) root.emplace_back("path", path->string());
    return Bplist::encode(PlistOut(std::move(root)));
}

RecoveryInfo RecoveryInfo::decode(std::span<const std::uint8_t> bytes) {
    MemorySource source(bytes);
    BplistReader reader(source);
    if (reader.kind(reader.root()) != PlistKind::dict) throw BplistError("binary property list: root is no dictionary");
    RecoveryInfo info;
    reader.forEachEntry(reader.root(), [&](const std::string& key, BplistReader::Ref value) {
        if (key == "date" && reader.kind(value) == PlistKind::date) {
            const PlistDate d = reader.date(value);
            if (std::isfinite(d.seconds) && std::fabs(d.seconds) <= kMaxDateSeconds) info.date = d;
        } else if (key == "path" && reader.kind(value) == PlistKind::string) {
            const std::string text = reader.string(value);
            const std::filesystem::path p(text);
            if (!text.empty() && text.find('\0') == std::string::npos && p.is_absolute()) info.path = p;
        }
    });
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

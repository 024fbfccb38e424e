#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "model/Bplist.h"
#include "model/Uuid.h"

namespace tessoral {

// The small file beside an autosaved recovery copy ("Recovery.plist"): a binary property-list
// dictionary with "date" (when the copy was written, a property-list date) and "path" (the
// project's own file, absent for a project never saved), and "essentialAnalysis" (the clips whose
// essential-sound analysis the copy lacks, their ids apart by spaces).
struct RecoveryInfo {
    // Longest metadata file read; anything larger is not ours.
    static constexpr std::uint64_t kMaxFileSize = 64 * 1024;
    // Dates further than this from 2001 (about 3,000 years) are taken as damage.
    static constexpr double kMaxDateSeconds = 1.0e11;

    std::optional<PlistDate> date;
    std::optional<std::filesystem::path> path;
    std::vector<Uuid> essentialAnalysis;

    std::vector<std::uint8_t> encode() const;
    // Reads what the bytes hold. An entry of the wrong type, a date that is not a finite time within
    // kMaxDateSeconds, and a path that is empty, relative or holds a NUL byte count as absent.
    // Throws BplistError when the bytes are no property list or its root is no dictionary.
    static RecoveryInfo decode(std::span<const std::uint8_t> bytes);

    // Writes the file atomically; failures are thrown as PlatformError.
    void write(const std::filesystem::path& file) const;
    // Reads the file; none when it is missing, not a regular file, larger than kMaxFileSize,
    // unreadable or damaged. Never waits on a FIFO.
    static std::optional<RecoveryInfo> read(const std::filesystem::path& file);

    friend bool operator==(const RecoveryInfo&, const RecoveryInfo&) = default;
};

}  // namespace tessoral

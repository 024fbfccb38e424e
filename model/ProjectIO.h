#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "model/ByteSink.h"
#include "model/Session.h"

namespace tessoral {

class ByteSource;

// The project file: one binary property list holding the whole session with every
// clip's samples. A project whose track rows map one-to-one onto clips is written in
// the lane-less form (version 2, or 3 when it uses fades, envelopes, essential sound,
// effect parameters or a tempo or metre other than 120 and 4); any other as version 4
// with its "lanes".
namespace ProjectIO {

// Largest file the reader opens: 384 MiB of audio plus 4 MiB for the rest.
inline constexpr std::uint64_t kMaxFileBytes = 406'847'488;

// Writes the project atomically (AtomicFile). The session passed in is not changed;
// file-system errors are thrown as PlatformError and leave the target as it was.
void save(const Session& session, const std::filesystem::path& path);
// The same encoding, streamed into a sink.
void write(const Session& session, ByteSink& sink);
std::vector<std::uint8_t> encode(const Session& session);

// Reads and validates a project file. Damaged or oversized files are refused with a
// StudioError naming the damaged part; file-system errors are thrown as PlatformError.
// The result has track rows for every clip, fresh drawing caches and fresh revisions.
Session load(const std::filesystem::path& path);
// The same for a file already in memory, and for any byte source.
Session loadFromBytes(std::span<const std::uint8_t> bytes);
Session load(const ByteSource& source);

}  // namespace ProjectIO

}  // namespace tessoral

#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>

#include "model/ByteSink.h"

namespace tessoral {

// The one way files are written: the bytes go to a temporary file beside the target,
// which is flushed to disk (fsync) and then renamed over the target; the folder is
// flushed last. A reader never sees a half-written file, and on any failure the
// temporary file is removed and the previous target stays as it was.
namespace AtomicFile {

// Streams the file: `produce` writes the whole content into the sink it is given.
// Errors of the file system are thrown as PlatformError; an exception thrown by
// `produce` is passed on unchanged. Either way the target is untouched.
void write(const std::filesystem::path& target, const std::function<void(ByteSink&)>& produce);

// Writes bytes that are already in memory.
void write(const std::filesystem::path& target, std::span<const std::uint8_t> bytes);

// Makes the message of a file-system failure from the system's own detail ("No space left on
// device"), for writers whose failures read as their own.
using Describe = std::function<std::string(const std::string& detail)>;

// For writers that seek in the file they write (an audio container completes its header last):
// `produce` writes the whole content through the descriptor of the temporary file, open for
// writing; it may seek but does not close it. File-system errors are thrown as PlatformError
// with the message `describe` makes (when given); an exception thrown by `produce` is passed on
// unchanged. Either way the target is untouched.
void writeSeekable(const std::filesystem::path& target, const std::function<void(int fd)>& produce,
                   const Describe& describe = {});

}  // namespace AtomicFile

}  // namespace tessoral

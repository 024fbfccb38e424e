#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "model/Frames.h"
#include "model/Session.h"
#include "model/SessionMarker.h"
#include "processing/ExportPipeline.h"

namespace tessoral {

// The project's markers as files: one audio file per range marker, and the marker list as CSV.
namespace MarkerExport {

// One range marker to export.
struct Item {
    int number = 0;        // 1-based position among the exported ranges
    SessionMarker marker;
    TimeRange range;       // seconds: the part of the marker inside the project

    friend bool operator==(const Item&, const Item&) = default;
};

// A range shorter than one frame is not exported.
inline constexpr double kMinimumLength = 1.0 / 48000.0;
// Characters of a marker's name kept in its file name.
inline constexpr std::size_t kNameCharacters = 120;
// The longest file name the file system takes, in bytes.
inline constexpr std::size_t kMaxFileNameBytes = 255;

// The range markers sorted by start (stable), each clipped to 0…duration; ranges under one
// frame are left out and use up no number.
std::vector<Item> items(const std::vector<SessionMarker>& markers, double duration);

// The project without the range markers whose part inside it holds none of its audio (no audible
// clip overlaps it), which would export as silence; point markers stay.
Session withoutSilentRanges(Session project);

// "NN name.ext": the number with two digits at least and a space, then the marker's name with
// forbidden characters replaced by "-", white space trimmed, leading dots removed, "Маркер" when
// nothing remains, cut to 120 characters (and further, whole characters at a time, so that the
// name with a " NNNNN" suffix still fits the file system's 255 bytes).
std::string fileName(const Item& item, std::string_view fileExtension);

// The per-range files of the project that already exist in `folder`, in item order.
std::vector<std::filesystem::path> existing(const Session& project, const std::filesystem::path& folder,
                                            const ExportOptions& options);

// Writes each range's mix into `folder`; without `replaceExisting` a taken name gets " 2", " 3", …
// Returns the written files in item order. Throws StudioError when the project has no range
// marker of at least one frame, and the mixdown's or the export's error for a range (files
// written before it stay).
std::vector<std::filesystem::path> exportRanges(const Session& project, const std::filesystem::path& folder,
                                                const ExportOptions& options, bool replaceExisting);

// The marker list as CSV (RFC 4180 quoting, "\n" line ends, no byte-order mark).
std::string csv(const std::vector<SessionMarker>& markers);

}  // namespace MarkerExport

}  // namespace tessoral

#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/EffectSlot.h"
#include "model/ExportFormat.h"
#include "processing/ExportPipeline.h"

namespace tessoral {

// Many audio files through one effect chain, one new file each.
struct BatchJob {
    std::vector<std::filesystem::path> inputs;   // processed in this order
    std::vector<EffectSlot> rack;                // the chain to apply
    bool normalize = false;                      // loudness normalisation after the rack
    std::filesystem::path outputFolder;
    ExportFormat format = ExportFormat::wav24;
    std::optional<ExportSampleRate> sampleRate;  // none keeps each input's own rate
    bool dither = false;                         // TPDF dither for "wav16"

    friend bool operator==(const BatchJob&, const BatchJob&) = default;
};

// One input that gave no output.
struct BatchFailure {
    std::string file;     // the input's file name
    std::string message;  // what the user reads

    friend bool operator==(const BatchFailure&, const BatchFailure&) = default;
};

// The outcome of one run.
struct BatchReport {
    std::vector<std::filesystem::path> written;  // in input order
    std::vector<BatchFailure> failures;          // in input order
    bool cancelled = false;
    std::vector<std::string> done;        // the file names of the inputs behind `written`, in the same order
    std::vector<std::string> endedEarly;  // of those, the inputs that end before the length they state

    friend bool operator==(const BatchReport&, const BatchReport&) = default;
};

namespace BatchProcessor {

// Runs one input's read on another thread, now or later: the batch waits for it while no stop
// comes, and on a stop leaves it to itself and drops what it reads.
using ReadLauncher = std::function<void(std::function<void()>)>;

// The seed of the batch dither generator.
inline constexpr std::uint64_t kDitherSeed = 0x9e3779b97f4a7c15ull;

// folder/"<name> (обработано).<ext>", or with " 2", " 3", … while that name is taken or is the
// input itself: an input is never overwritten.
std::filesystem::path outputURL(const std::filesystem::path& input, const std::filesystem::path& folder,
                                ExportFormat format);

// Asks `isCancelled` before each input, after its read (and the rack before each active
// effect); calls `progress(index, fileName)` before each input and `progress(inputs.size(), "")`
// once at the end in every case. Every per-file error is recorded in the report; nothing is
// thrown. With `launchRead`, each read runs through it and `isCancelled` is asked while it is
// awaited, so a stop is answered whatever the reader does; without it the calling thread reads.
BatchReport run(const BatchJob& job, const std::function<bool()>& isCancelled,
                const std::function<void(std::size_t, const std::string&)>& progress,
                const ReadLauncher& launchRead = {});

}  // namespace BatchProcessor

}  // namespace tessoral

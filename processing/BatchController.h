#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/EffectSlot.h"
#include "model/ExportFormat.h"
#include "processing/BatchProcessor.h"

namespace tessoral {

// The state of the batch sheet and the runner of its batches, without the panels: the sheet
// shows the open panels and passes their answers in, and says where work runs. Its properties
// belong to the main thread; the batch itself runs on a worker and reaches the controller only
// through posts to the main thread.
class BatchController : public std::enable_shared_from_this<BatchController> {
public:
    // Where work runs: `background` runs a job on a worker thread; `main` queues a job on the
    // main thread; `read`, called on the worker, runs an input's read on a thread that a stop
    // leaves to itself (none: the worker reads, and a stop waits for its read).
    struct Executors {
        std::function<void(std::function<void()>)> background;
        std::function<void(std::function<void()>)> main;
        BatchProcessor::ReadLauncher read;
    };

    // The running batch: cancelling it makes the engine stop at its next check (before the next
    // file or the next effect of the current file, or, with a read executor, while it reads).
    class Work {
    public:
        void cancel() { cancelled_.store(true, std::memory_order_relaxed); }
        bool isCancelled() const { return cancelled_.load(std::memory_order_relaxed); }

    private:
        std::atomic<bool> cancelled_{false};
    };

    // A controller with every property at its initial value. The sheet owns it.
    static std::shared_ptr<BatchController> create(Executors executors);

    // ---- properties (main thread only; the sheet reads and writes them) ----
    std::vector<std::filesystem::path> inputs;  // processing order; each file at most once
    std::string source = "current";             // "current" or a favourite's id text
    bool normalize = true;
    std::optional<std::filesystem::path> folder;
    ExportFormat format = ExportFormat::wav24;
    std::optional<ExportSampleRate> sampleRate;  // none keeps each input's rate
    bool dither = true;
    bool running = false;
    std::size_t done = 0;        // files finished, as last reported
    std::size_t total = 0;       // the running (or last) job's number of inputs: the list may change meanwhile
    std::string currentFile;     // the file in work
    std::optional<BatchReport> report;
    std::shared_ptr<Work> work;  // set while a batch runs

    // Called on the main thread after every change made by the controller itself.
    std::function<void()> changed;
    // Called on the main thread when a batch has ended, with its report, before any reveal.
    std::function<void(const BatchReport&)> finished;
    // Called on the main thread when a batch that wrote files has ended, with those files in
    // the engine's order (the sheet reveals them in the file manager).
    std::function<void(const std::vector<std::filesystem::path>&)> reveal;

    // The answer of the input-file panel: files not yet listed are appended in the panel's
    // order; the folder of the first chosen file becomes the output folder when none is chosen;
    // a shown report is cleared.
    void addFiles(const std::vector<std::filesystem::path>& chosen);

    // The answer of the output-folder panel.
    void chooseFolder(const std::filesystem::path& chosen);

    // Starts a batch of a snapshot of the settings with `rack`; does nothing while a batch
    // runs, without inputs or without a folder.
    void start(const std::vector<EffectSlot>& rack);

private:
    explicit BatchController(Executors executors) : executors_(std::move(executors)) {}
    void notify() const {
        if (changed) changed();
    }

    Executors executors_;
};

}  // namespace tessoral

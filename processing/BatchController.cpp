#include "processing/BatchController.h"

#include <algorithm>

namespace tessoral {

std::shared_ptr<BatchController> BatchController::create(Executors executors) {
    return std::shared_ptr<BatchController>(new BatchController(std::move(executors)));
}

void BatchController::addFiles(const std::vector<std::filesystem::path>& chosen) {
    if (chosen.empty()) return;
    for (const auto& url : chosen)
        if (std::find(inputs.begin(), inputs.end(), url) == inputs.end()) inputs.push_back(url);
    if (!folder) folder = chosen.front().parent_path();
    report.reset();
    notify();
}

void BatchController::chooseFolder(const std::filesystem::path& chosen) {
    folder = chosen;
    notify();
}

void BatchController::start(const std::vector<EffectSlot>& rack) {
    if (running || inputs.empty() || !folder) return;
    BatchJob job;
    job.inputs = inputs;
    job.rack = rack;
    job.normalize = normalize;
    job.outputFolder = *folder;
    job.format = format;
    job.sampleRate = sampleRate;
    job.dither = dither;

    running = true;
    done = 0;
    total = job.inputs.size();
    report.reset();
    auto handle = std::make_shared<Work>();
    work = handle;
    notify();

    // The worker reaches the controller only through posts: progress holds it weakly (updates
    // after the sheet is gone are dropped), the completion strongly (it ends the batch even so).
    std::weak_ptr<BatchController> weak = weak_from_this();
    std::shared_ptr<BatchController> strong = shared_from_this();
    auto post = executors_.main;
    auto read = executors_.read;
    executors_.background([job = std::move(job), handle, weak, strong = std::move(strong), post, read]() mutable {
        auto progress = [&](std::size_t count, const std::string& name) {
            post([weak, count, name] {
                if (auto self = weak.lock()) {
                    self->done = count;
                    self->currentFile = name;
                    self->notify();
                }
            });
        };
        BatchReport result;
        try {
            result = BatchProcessor::run(job, [&] { return handle->isCancelled(); }, progress, read);
        } catch (const std::exception& e) {
            // Nothing may leave the worker; what little can fail outside a file is reported.
            result.failures.push_back({std::string(), e.what()});
        }
        post([self = std::move(strong), result = std::move(result)]() mutable {
            self->report = std::move(result);
            self->running = false;
            self->currentFile.clear();
            self->work.reset();
            self->notify();
            if (self->finished) self->finished(*self->report);
            if (!self->report->written.empty() && self->reveal) self->reveal(self->report->written);
        });
    });
}

}  // namespace tessoral

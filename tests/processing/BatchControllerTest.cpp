// The batch sheet's controller: the file list, the folder, and one run's state as it moves
// through the main-thread queue.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "model/BplistTestSupport.h"
#include "processing/BatchController.h"
#include "processing/ExportPipeline.h"
#include "support/TestAudio.h"
#include "support/TestTools.h"

using namespace tessoral;
namespace fs = std::filesystem;

namespace {

// A main-thread queue pumped by the test; background work and reads run inline.
struct Loop {
    std::mutex mutex;
    std::deque<std::function<void()>> queue;

    BatchController::Executors executors() {
        return {[](std::function<void()> job) { job(); },
                [this](std::function<void()> job) {
                    std::lock_guard lock(mutex);
                    queue.push_back(std::move(job));
                },
                [](std::function<void()> read) { read(); }};
    }
    // Runs every queued job, including those queued meanwhile.
    void pump() {
        for (;;) {
            std::function<void()> job;
            {
                std::lock_guard lock(mutex);
                if (queue.empty()) return;
                job = std::move(queue.front());
                queue.pop_front();
            }
            job();
        }
    }
};

fs::path input(const fs::path& path) {
    ExportPipeline::write(test::constant(4800, 0.1f), 48000, path, ExportFormat::wav16);
    return path;
}

}  // namespace

TEST(BatchController, FilesFolderAndReport) {
    Loop loop;
    auto c = BatchController::create(loop.executors());
    EXPECT_EQ(c->source, "current");
    EXPECT_TRUE(c->normalize && c->dither && !c->running && !c->folder && !c->report && !c->sampleRate);

    c->addFiles({"/music/b.wav", "/music/a.wav"});
    c->addFiles({"/other/a.wav", "/music/a.wav", "/other/c.wav"});
    EXPECT_EQ(c->inputs, (std::vector<fs::path>{"/music/b.wav", "/music/a.wav", "/other/a.wav", "/other/c.wav"}));
    EXPECT_EQ(c->folder, fs::path("/music"));  // the first chosen file's folder, never replaced

    c->report = BatchReport{};
    c->addFiles({"/music/b.wav"});  // only listed files: the report is still cleared
    EXPECT_EQ(c->inputs.size(), 4u);
    EXPECT_FALSE(c->report);
    c->chooseFolder("/out");
    EXPECT_EQ(c->folder, fs::path("/out"));
}

TEST(BatchController, StartIsRefusedWithoutFilesOrFolderOrWhileRunning) {
    Loop loop;
    int background = 0;
    auto executors = loop.executors();
    executors.background = [&](std::function<void()>) { ++background; };  // never finishes
    auto c = BatchController::create(executors);
    c->start({});
    c->inputs = {"/x.wav"};
    c->start({});
    EXPECT_EQ(background, 0);
    EXPECT_FALSE(c->running);
    c->folder = "/out";
    c->report = BatchReport{};
    c->start({});
    EXPECT_EQ(background, 1);
    EXPECT_TRUE(c->running);
    EXPECT_FALSE(c->report);
    EXPECT_TRUE(c->work);
    c->start({});
    EXPECT_EQ(background, 1);
}

TEST(BatchController, RunEndsOnTheMainQueueAndRevealsWrittenFiles) {
    test::TempFolder in, out;
    Loop loop;
    auto c = BatchController::create(loop.executors());
    std::vector<fs::path> revealed;
    int changes = 0;
    // The end is announced before the reveal, whatever was written.
    std::vector<std::string> ends;
    c->finished = [&](const BatchReport& r) {
        EXPECT_FALSE(c->running);
        ends.push_back(std::to_string(r.written.size()) + (revealed.empty() ? " before" : " after"));
    };
    c->reveal = [&](const std::vector<fs::path>& files) { revealed = files; };
    c->changed = [&] { ++changes; };
    c->addFiles({input(in / "one.wav"), in / "missing.wav"});
    c->chooseFolder(out.path());
    c->inputs.push_back(in / "gone.wav");
    c->start({EffectSlot(EffectPreset::invert)});
    // The run has finished on the inline worker; nothing reached the controller yet.
    EXPECT_TRUE(c->running);
    EXPECT_EQ(c->done, 0u);
    loop.pump();
    EXPECT_FALSE(c->running);
    EXPECT_FALSE(c->work);
    EXPECT_EQ(c->currentFile, "");
    EXPECT_EQ(c->done, 3u);
    ASSERT_TRUE(c->report);
    EXPECT_EQ(c->report->written, (std::vector<fs::path>{out / "one (обработано).wav"}));
    ASSERT_EQ(c->report->failures.size(), 2u);
    EXPECT_EQ(c->report->failures[1].file, "gone.wav");
    EXPECT_EQ(revealed, c->report->written);
    EXPECT_GT(changes, 4);

    // Every file failing reveals nothing.
    revealed.clear();
    c->inputs = {in / "missing.wav"};
    c->start({});
    loop.pump();
    EXPECT_TRUE(c->report->written.empty());
    EXPECT_TRUE(revealed.empty());
    EXPECT_EQ(ends, (std::vector<std::string>{"1 before", "0 before"}));
}

TEST(BatchController, CancelledRunAndTheSheetGoingAway) {
    test::TempFolder in, out;
    Loop loop;
    std::function<void()> held;
    auto executors = loop.executors();
    executors.background = [&](std::function<void()> job) { held = std::move(job); };
    // Reads run on threads of their own; the second waits until the test opens it.
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    std::promise<void> secondLaunched;
    std::vector<std::thread> readers;
    executors.read = [&](std::function<void()> read) {
        if (readers.empty()) {
            readers.emplace_back(std::move(read));
            return;
        }
        readers.emplace_back([read = std::move(read), open] {
            open.wait();
            read();
        });
        secondLaunched.set_value();
    };
    auto c = BatchController::create(executors);
    // The first input is cut short: what its reader's decoding found is reported.
    const fs::path cut = input(in / "cut.wav");
    fs::resize_file(cut, fs::file_size(cut) - 2000);
    c->addFiles({cut, input(in / "2.wav"), input(in / "3.wav")});
    c->chooseFolder(out.path());
    BatchController* raw = c.get();
    std::optional<BatchReport> seen;
    bool revealed = false;
    c->changed = [&] {
        if (raw->report) seen = raw->report;
    };
    c->reveal = [&](const std::vector<fs::path>&) { revealed = true; };
    c->start({});
    ASSERT_TRUE(c->work);
    std::weak_ptr<BatchController> weak = c;
    std::shared_ptr<BatchController::Work> work = c->work;
    c.reset();  // the sheet is closed: the running batch keeps the controller until it ends
    std::promise<void> returned;
    std::thread worker([&] {
        held();
        returned.set_value();
    });
    // A stop while the second input is read ends the batch with that read still held.
    secondLaunched.get_future().wait();
    work->cancel();
    EXPECT_EQ(returned.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    gate.set_value();
    worker.join();
    for (auto& r : readers) r.join();
    ASSERT_FALSE(weak.expired());
    loop.pump();
    EXPECT_TRUE(weak.expired());
    ASSERT_TRUE(seen);
    EXPECT_TRUE(seen->cancelled);
    EXPECT_EQ(seen->written, (std::vector<fs::path>{out / "cut (обработано).wav"}));
    EXPECT_EQ(seen->done, (std::vector<std::string>{"cut.wav"}));
    EXPECT_EQ(seen->endedEarly, (std::vector<std::string>{"cut.wav"}));
    EXPECT_TRUE(revealed);
    // The given-up read's audio went nowhere.
    EXPECT_EQ(test::folderEntries(out.path()), (std::vector<std::string>{"cut (обработано).wav"}));
}

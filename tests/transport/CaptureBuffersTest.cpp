#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <thread>
#include <vector>

#include "model/StudioError.h"
#include "support/TestSignals.h"
#include "transport/CaptureGate.h"
#include "transport/CaptureProcessor.h"
#include "transport/CaptureRing.h"
#include "transport/MonitorRing.h"
#include "transport/RecordingBuffer.h"

using namespace tessoral;

namespace {

std::vector<float> counting(std::int64_t frames, float first = 1.0f) {
    std::vector<float> x(static_cast<std::size_t>(frames));
    for (std::int64_t i = 0; i < frames; ++i) x[static_cast<std::size_t>(i)] = first + static_cast<float>(i);
    return x;
}

void appendMono(RecordingBuffer& buffer, const std::vector<float>& x, std::int64_t dropping = 0) {
    const float* channels[] = {x.data()};
    buffer.append(channels, 1, static_cast<std::int64_t>(x.size()), dropping);
}

std::vector<float> sine(double frequency, double rate, std::int64_t frames, double amplitude = 0.5) {
    return test::sine(static_cast<std::size_t>(frames), frequency, amplitude, 0.0, rate);
}

}  // namespace

// ---- recording buffer ----

TEST(RecordingBuffer, DropsLeadingFramesAndKeepsTheLimit) {
    RecordingBuffer buffer(10);
    EXPECT_EQ(buffer.makeAudio(), std::nullopt);
    appendMono(buffer, counting(4), 4);  // everything dropped
    appendMono(buffer, counting(4), 9);
    EXPECT_EQ(buffer.frames(), 0);
    appendMono(buffer, counting(6), 2);   // 3, 4, 5, 6
    appendMono(buffer, counting(8, 10.0f), -3);  // negative drops nothing; only 6 fit
    EXPECT_EQ(buffer.frames(), 10);
    appendMono(buffer, counting(3));
    const auto audio = buffer.makeAudio();
    ASSERT_TRUE(audio);
    EXPECT_EQ(audio->left.toVector(), (std::vector<float>{3, 4, 5, 6, 10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(audio->right, audio->left);  // one channel fills both sides
    EXPECT_FALSE(audio->left.sharesStorageWith(audio->right));

    RecordingBuffer none(-5);
    appendMono(none, counting(3));
    EXPECT_EQ(none.limit(), 0);
    EXPECT_EQ(none.makeAudio(), std::nullopt);
}

TEST(RecordingBuffer, GrowsPastTheReservedChunksWithoutLosingSamples) {
    // A take longer than the frames allocated up front, appended in blocks that straddle chunks.
    const std::int64_t total = RecordingBuffer::kReservedFrames + RecordingBuffer::kChunkFrames + 12345;
    RecordingBuffer buffer(total - 1000);
    std::vector<float> left(8191), right(8191);
    for (std::int64_t at = 0; at < total; at += 8191) {
        for (std::size_t i = 0; i < left.size(); ++i) {
            left[i] = static_cast<float>((at + static_cast<std::int64_t>(i)) % 65521);
            right[i] = -left[i];
        }
        const float* channels[] = {left.data(), right.data()};
        buffer.append(channels, 2, 8191, 0);
    }
    EXPECT_EQ(buffer.frames(), total - 1000);
    const auto audio = buffer.makeAudio();
    ASSERT_TRUE(audio);
    ASSERT_EQ(audio->frames(), total - 1000);
    for (std::int64_t i = 0; i < audio->frames(); i += 997) {
        ASSERT_EQ(audio->left[i], static_cast<float>(i % 65521)) << i;
        ASSERT_EQ(audio->right[i], -static_cast<float>(i % 65521)) << i;
    }
    EXPECT_EQ(audio->left[RecordingBuffer::kChunkFrames], static_cast<float>(RecordingBuffer::kChunkFrames % 65521));
    EXPECT_EQ(audio->left[audio->frames() - 1], static_cast<float>((audio->frames() - 1) % 65521));
}

TEST(RecordingBuffer, ReadersSeeAConsistentTakeWhileItGrows) {
    RecordingBuffer buffer(2'000'000);
    std::thread writer([&] {
        std::vector<float> block(4096);
        for (std::int64_t at = 0; at < 2'000'000; at += 4096) {
            for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<float>((at + i) % 1000);
            const float* channels[] = {block.data()};
            buffer.append(channels, 1, 4096, 0);
        }
    });
    auto check = [&] {
        if (const auto audio = buffer.makeAudio()) {
            const std::int64_t last = audio->frames() - 1;
            ASSERT_EQ(audio->left[last], static_cast<float>(last % 1000));
            ASSERT_EQ(audio->right[last / 2], static_cast<float>((last / 2) % 1000));
        }
    };
    while (buffer.frames() < 2'000'000) check();
    writer.join();
    check();
}

// ---- monitor ring ----

TEST(MonitorRing, KeepsOnlyTheNewestFramesWhenTheWriterRunsAhead) {
    MonitorRing ring(9600);
    const auto x = counting(20000);
    for (std::int64_t at = 0; at < 20000; at += 3000)
        ring.write(x.data() + at, x.data() + at, std::min<std::int64_t>(3000, 20000 - at));
    EXPECT_EQ(ring.stored(), 9600);
    std::vector<float> left(10000), right(10000);
    EXPECT_EQ(ring.read(left.data(), right.data(), 10000, 0.5f), 9600);
    for (std::int64_t i = 0; i < 9600; ++i) ASSERT_EQ(left[i], 0.5f * x[static_cast<std::size_t>(10400 + i)]) << i;
    EXPECT_EQ(left[9600], 0.0f);
    EXPECT_EQ(right[9999], 0.0f);

    // One write longer than the ring keeps its newest frames.
    ring.write(x.data(), x.data(), 20000);
    EXPECT_EQ(ring.read(left.data(), nullptr, 1, 1.0f), 1);
    EXPECT_EQ(left[0], x[10400]);
    ring.write(x.data(), x.data(), 0);
    EXPECT_EQ(ring.stored(), 9599);
}

TEST(MonitorRing, BusyLockGivesASilentCycleAndLosesNothing) {
    MonitorRing ring(100);
    const auto x = counting(40);
    const auto y = counting(40, 500.0f);
    ring.write(x.data(), y.data(), 40);
    std::vector<float> left(64, 9.0f), right(64, 9.0f);
    ring.lock();  // the capture thread is writing
    EXPECT_EQ(ring.read(left.data(), right.data(), 64, 1.0f), 0);
    ring.unlock();
    for (float v : left) ASSERT_EQ(v, 0.0f);
    for (float v : right) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(ring.read(left.data(), right.data(), 30, 1.0f), 30);
    EXPECT_EQ(left[0], 1.0f);
    EXPECT_EQ(right[29], 529.0f);
    // The rest wraps around the end of the storage.
    const auto x80 = counting(80), y80 = counting(80, 500.0f);
    ring.write(x80.data(), y80.data(), 80);
    EXPECT_EQ(ring.stored(), 90);
    EXPECT_EQ(ring.read(left.data(), right.data(), 11, 1.0f), 11);
    EXPECT_EQ(left[9], 40.0f);  // frame 30 and onwards of the first write, then the second write
    EXPECT_EQ(left[10], 1.0f);
    EXPECT_EQ(ring.read(left.data(), right.data(), 64, 1.0f), 64);
    EXPECT_EQ(left[63], 65.0f);  // past the end of the storage and on from its start
    EXPECT_EQ(right[63], 564.0f);
    EXPECT_EQ(ring.stored(), 15);
}

// ---- ring from the input callback ----

TEST(CaptureRing, CarriesBuffersWithTheirTimesAcrossTheWrap) {
    CaptureRing ring(2, 1000, 4);
    const auto a = counting(700), b = counting(700, 1000.0f);
    const float* mono[] = {a.data()};
    const float* stereo[] = {a.data(), b.data()};
    std::vector<float> l(1000), r(1000);
    float* out[] = {l.data(), r.data()};

    EXPECT_TRUE(ring.push(mono, 1, 600, 1.5));
    EXPECT_FALSE(ring.push(stereo, 2, 500, 2.0));  // no room: dropped whole
    EXPECT_EQ(ring.overruns(), 1);
    EXPECT_EQ(ring.lostFrames(), 500);
    auto block = ring.pop(out);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->frames, 600);
    EXPECT_EQ(block->time, 1.5);
    EXPECT_EQ(r[599], 600.0f);  // a one-channel buffer fills both
    EXPECT_TRUE(ring.push(stereo, 2, 700, 2.5));  // wraps
    block = ring.pop(out);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->time, 2.5);
    for (int i = 0; i < 700; ++i) {
        ASSERT_EQ(l[i], a[i]);
        ASSERT_EQ(r[i], b[i]);
    }
    EXPECT_FALSE(ring.pop(out));
    EXPECT_TRUE(ring.empty());
    // Too many buffers for the block list.
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(ring.push(mono, 1, 10, i));
    EXPECT_FALSE(ring.push(mono, 1, 10, 9));
    EXPECT_EQ(ring.overruns(), 2);
    EXPECT_EQ(ring.lostFrames(), 510);
}

TEST(CaptureRing, OneProducerOneConsumerLoseNothing) {
    CaptureRing ring(1, 4096, 64);
    constexpr int kBlocks = 20000;
    std::thread producer([&] {
        std::vector<float> block(100);
        for (int n = 0; n < kBlocks;) {
            for (int i = 0; i < 100; ++i) block[i] = static_cast<float>(n * 100 + i);
            const float* channels[] = {block.data()};
            if (ring.push(channels, 1, 100, n)) ++n;
        }
    });
    std::vector<float> out(4096);
    float* channels[] = {out.data()};
    int received = 0;
    while (received < kBlocks) {
        const auto block = ring.pop(channels);
        if (!block) continue;
        ASSERT_EQ(block->time, received);
        ASSERT_EQ(out[0], static_cast<float>(received * 100));
        ASSERT_EQ(out[99], static_cast<float>(received * 100 + 99));
        ++received;
    }
    producer.join();
}

// ---- the capture thread's step ----

TEST(CaptureProcessor, GateDropsWhatWasCapturedBeforeItsStart) {
    auto gate = std::make_shared<CaptureGate>();
    auto ring = std::make_shared<MonitorRing>(100000);
    auto buffer = std::make_shared<RecordingBuffer>(1'000'000);
    CaptureProcessor processor(48000.0, 2, gate, buffer, ring);
    const auto l = counting(4800), r = counting(4800, 10000.0f);
    const float* in[] = {l.data(), r.data()};

    processor.process(in, 4800, 0.9);  // not armed: dropped, not monitored
    EXPECT_EQ(buffer->frames(), 0);
    EXPECT_EQ(ring->stored(), 0);

    gate->arm(1.05);
    processor.process(in, 4800, 0.95);  // wholly before the start: monitored only
    processor.process(in, 4800, 1.0);   // 2400 frames before the start
    processor.process(in, 4800, 1.1);
    EXPECT_EQ(ring->stored(), 3 * 4800);
    const auto audio = buffer->makeAudio();
    ASSERT_TRUE(audio);
    ASSERT_EQ(audio->frames(), 2400 + 4800);
    EXPECT_EQ(audio->left[0], l[2400]);
    EXPECT_EQ(audio->right[0], r[2400]);
    EXPECT_EQ(audio->left[2400], l[0]);

    // A buffer without a usable time keeps everything.
    processor.process(in, 100, 0.0);
    processor.process(in, 100, std::nan(""));
    EXPECT_EQ(buffer->frames(), 2400 + 4800 + 200);
}

TEST(CaptureProcessor, GateAppliesToConvertedFramesHandedOutLater) {
    // At 44.1 kHz the converter hands out part of each buffer with the next one; the gate still
    // cuts exactly at the start on the converted stream.
    auto gate = std::make_shared<CaptureGate>();
    auto buffer = std::make_shared<RecordingBuffer>(1'000'000);
    CaptureProcessor processor(44100.0, 1, gate, buffer, nullptr);
    gate->arm(2.0 + 0.5);
    const auto x = sine(440.0, 44100.0, 88200);
    for (std::int64_t at = 0; at < 88200; at += 4410) {
        const float* in[] = {x.data() + at};
        processor.process(in, 4410, 2.0 + static_cast<double>(at) / 44100.0);
    }
    processor.finish();
    const auto audio = buffer->makeAudio();
    ASSERT_TRUE(audio);
    EXPECT_NEAR(static_cast<double>(audio->frames()), 96000.0 - 24000.0, 1.0);
    // The first kept frame is the sine at 0.5 s.
    const auto reference = sine(440.0, 48000.0, 96000);
    for (std::int64_t i = 100; i < 200; ++i)
        ASSERT_NEAR(audio->left[i], reference[static_cast<std::size_t>(24000 + i)], 1e-3) << i;
}

TEST(CaptureProcessor, NothingHappensOnceTheBufferIsGone) {
    auto gate = std::make_shared<CaptureGate>();
    gate->keepEverything();
    auto ring = std::make_shared<MonitorRing>(1000);
    auto buffer = std::make_shared<RecordingBuffer>(1000);
    CaptureProcessor processor(48000.0, 1, gate, buffer, ring);
    buffer.reset();
    const auto x = counting(100);
    const float* in[] = {x.data()};
    processor.process(in, 100, 1.0);
    processor.finish();
    EXPECT_EQ(ring->stored(), 0);
    EXPECT_THROW(CaptureProcessor(0.0, 1, gate, std::weak_ptr<RecordingBuffer>(), nullptr), PlatformError);
}

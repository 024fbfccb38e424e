#include "BenchSupport.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <vector>

namespace tessoral::bench {

namespace {

// Interleaves the two channels block by block into the stream.
void writeInterleaved(std::ofstream& out, const AudioData& audio) {
    std::vector<float> block;
    const std::size_t n = audio.left.size();
    for (std::size_t start = 0; start < n; start += 65'536) {
        const std::size_t count = std::min<std::size_t>(65'536, n - start);
        block.resize(2 * count);
        for (std::size_t i = 0; i < count; ++i) {
            block[2 * i] = audio.left[start + i];
            block[2 * i + 1] = audio.right[start + i];
        }
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 4));
    }
}

}  // namespace

ScratchDir::ScratchDir(const std::string& tag)
    : dir_(std::filesystem::temp_directory_path() / ("tessoral-" + tag + "-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(dir_);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string ScratchDir::quoted(const std::string& name) const {
    std::string q(1, '\'');
    q += (dir_ / name).string();
    q += '\'';
    return q;
}

void writeFloatWav(const std::filesystem::path& path, const AudioData& audio) {
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) {
        const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                    static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
        out.write(reinterpret_cast<const char*>(b), 4);
    };
    auto u16 = [&](std::uint16_t v) {
        const unsigned char b[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
        out.write(reinterpret_cast<const char*>(b), 2);
    };
    const auto frames = static_cast<std::uint32_t>(audio.frames());
    const std::uint32_t dataBytes = frames * 8;
    out.write("RIFF", 4);
    u32(4 + (8 + 18) + (8 + 4) + (8 + dataBytes));
    out.write("WAVE", 4);
    out.write("fmt ", 4);
    u32(18);
    u16(3);  // WAVE_FORMAT_IEEE_FLOAT
    u16(2);
    u32(48000);
    u32(48000 * 8);
    u16(8);
    u16(32);
    u16(0);
    out.write("fact", 4);
    u32(4);
    u32(frames);
    out.write("data", 4);
    u32(dataBytes);
    writeInterleaved(out, audio);
}

void writeRawFloat(const std::filesystem::path& path, const AudioData& audio) {
    std::ofstream out(path, std::ios::binary);
    writeInterleaved(out, audio);
}

bool runQuiet(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

void runPeer(benchmark::State& state, const std::string& command) {
    if (smoke()) {
        // Smoke runs leave the external programs out.
        for (auto _ : state) {
        }
        state.SetLabel("skipped in smoke mode");
        return;
    }
    for (auto _ : state) {
        if (!runQuiet(command)) {
            state.SkipWithError("the peer program is not available or failed");
            return;
        }
    }
}

void setRealtime(benchmark::State& state, const AudioData& input) {
    state.counters["x_realtime"] = benchmark::Counter(
        static_cast<double>(input.frames()) / 48000.0 * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
}

}  // namespace tessoral::bench

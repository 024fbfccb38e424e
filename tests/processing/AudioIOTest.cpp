// Decoding files written by the ffmpeg program: formats, rates, channel counts, limits, damage.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "model/AudioData.h"
#include "model/StudioError.h"
#include "model/SplitMix64.h"
#include "processing/AudioIO.h"
#include "support/TestSignals.h"
#include "support/TestTools.h"

using namespace tessoral;
namespace fs = std::filesystem;

namespace {

bool haveFfmpeg() { return std::system("ffmpeg -version > /dev/null 2>&1") == 0; }

class AudioIOTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is not installed";
        char pattern[] = "/tmp/tessoral-audioio-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    // Writes `frames` frames of 32-bit float sines (220 Hz left, 330 Hz right; amplitude 0.5)
    // at `rate` and returns the raw file.
    fs::path writeSines(int rate, int channels, std::int64_t frames) {
        const fs::path raw = dir_ / ("sines-" + std::to_string(rate) + "-" + std::to_string(channels) + "-" +
                                     std::to_string(frames) + ".f32");
        if (fs::exists(raw)) return raw;
        std::vector<float> data(static_cast<std::size_t>(frames * channels));
        for (int c = 0; c < channels; ++c) {
            const auto x = test::sine(std::size_t(frames), kFreq[c], 0.5, 0.0, rate);
            for (std::size_t i = 0; i < x.size(); ++i) data[i * channels + c] = x[i];
        }
        writeBytes(raw, std::string(reinterpret_cast<const char*>(data.data()), data.size() * 4));
        return raw;
    }

    // Encodes raw input with the ffmpeg program; `input` describes the raw file's format.
    fs::path encode(const fs::path& raw, const std::string& input, const std::string& codecArgs,
                    const std::string& name) {
        const fs::path out = dir_ / name;
        const std::string cmd = "ffmpeg -nostdin -v error -y " + input + " -i '" + raw.string() + "' " + codecArgs +
                                " '" + out.string() + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return out;
    }

    fs::path sineFile(int rate, int channels, std::int64_t frames, const std::string& codecArgs,
                      const std::string& name) {
        return encode(writeSines(rate, channels, frames),
                      "-f f32le -ar " + std::to_string(rate) + " -ac " + std::to_string(channels), codecArgs, name);
    }

    fs::path writeBytes(const fs::path& name, const std::string& bytes) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return p;
    }

    static constexpr double kFreq[2] = {220.0, 330.0};
    fs::path dir_;
};

// Amplitude and phase of a sine of `freq` Hz in frames [from, to) at 48 kHz, by projection.
struct Tone {
    double amplitude;
    double phase;
};
Tone measure(const SharedArray<float>& x, double freq, std::int64_t from, std::int64_t to) {
    double s = 0, c = 0;
    for (std::int64_t i = from; i < to; ++i) {
        const double w = 2.0 * std::numbers::pi * freq * static_cast<double>(i) / 48000.0;
        s += x[static_cast<std::size_t>(i)] * std::sin(w);
        c += x[static_cast<std::size_t>(i)] * std::cos(w);
    }
    const double n = static_cast<double>(to - from);
    return {2.0 * std::hypot(s, c) / n, std::atan2(c, s)};
}

// The process's peak resident size (VmHWM) in KiB.
std::int64_t peakResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6));
    return -1;
}

template <class E>
std::string messageOf(const fs::path& p) {
    return test::refusal<E>([&] { AudioIO::read(p); });
}

const std::string kLengthMessage = "Откройте аудиофайл длительностью от одного сэмпла до 8 минут.";
const std::string kDamaged = "Не удалось открыть аудиофайл: файл повреждён или не является аудиофайлом";

std::string le32(std::uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::string le64(std::uint64_t v) { return le32(std::uint32_t(v)) + le32(std::uint32_t(v >> 32)); }

// An Ogg page with its checksum set.
std::string checked(std::string page) {
    std::uint32_t crc = 0;
    for (const unsigned char c : page.replace(22, 4, 4, '\0'))
        for (int k = 0, b = c << 24; k < 8; ++k, b <<= 1) crc = ((crc ^ std::uint32_t(b)) & 0x80000000u) ? crc << 1 ^ 0x04C11DB7u : crc << 1;
    return page.replace(22, 4, le32(crc));
}
// An Ogg page holding one packet.
std::string oggPage(std::uint32_t serial, char flags, std::uint32_t sequence, const std::string& packet) {
    return checked(std::string("OggS\0", 5) + flags + std::string(8, '\0') + le32(serial) + le32(sequence) + le32(0) +
                   char(packet.size() / 255 + 1) + std::string(packet.size() / 255, '\xFF') + char(packet.size() % 255) + packet);
}

struct Format {
    const char* name;
    const char* args;
    const char* ext;
    double toleranceDb;  // level tolerance of the codec
};

const Format kFormats[] = {
    {"wav", "-c:a pcm_s16le", "wav", 0.01},
    {"aiff", "-c:a pcm_s24be", "aiff", 0.01},
    {"flac", "-c:a flac", "flac", 0.01},
    {"mp3", "-c:a libmp3lame -b:a 192k", "mp3", 0.3},
    {"vorbis", "-c:a libvorbis -q:a 5", "ogg", 0.3},
    {"aac", "-c:a aac -b:a 192k", "m4a", 0.3},
    {"alac", "-c:a alac", "m4a", 0.01},
};

}  // namespace

// Every format, rate and channel count: 48 kHz stereo of the source's length, the sines at
// their level and in phase with the source (no priming left in, no channel swap, no −3 dB upmix).
TEST_F(AudioIOTest, DecodesEveryFormatRateAndChannelCount) {
    for (const Format& f : kFormats) {
        for (const int rate : {44100, 48000, 96000}) {
            for (const int channels : {1, 2}) {
                // One second and a bit, so the length does not fall on a codec frame boundary.
                const std::int64_t frames = rate + rate / 10 + 7;
                const std::string name = std::string(f.name) + "-" + std::to_string(rate) + "-" +
                                         std::to_string(channels) + "." + f.ext;
                SCOPED_TRACE(name);
                const fs::path file = sineFile(rate, channels, frames, f.args, name);
                AudioData audio;
                ASSERT_NO_THROW(audio = AudioIO::read(file));
                EXPECT_FALSE(AudioIO::lastEndedEarly());
                const double expected = static_cast<double>(frames) * 48000.0 / rate;
                if (std::string(f.name) == "aac") {
                    // ffmpeg's AAC writer states a length a few frames off the source; the
                    // file's own statement (read by ffprobe) is what the decoder must give.
                    const std::int64_t stated = std::stoll(test::ffprobe(file, "duration_ts"));
                    EXPECT_NEAR(static_cast<double>(stated), static_cast<double>(frames), 16.0);
                    EXPECT_NEAR(static_cast<double>(audio.frames()), static_cast<double>(stated) * 48000.0 / rate, 1.0);
                } else {
                    EXPECT_NEAR(static_cast<double>(audio.frames()), expected, 1.0);
                }
                ASSERT_EQ(audio.left.size(), audio.right.size());
                if (channels == 1) {
                    EXPECT_TRUE(std::equal(audio.left.begin(), audio.left.end(), audio.right.begin()));
                }
                // Away from the edges (codec and filter transients).
                const std::int64_t from = 4800, to = audio.frames() - 4800;
                for (int c = 0; c < 2; ++c) {
                    const SharedArray<float>& x = c == 0 ? audio.left : audio.right;
                    const double freq = kFreq[channels == 1 ? 0 : c];
                    const Tone t = measure(x, freq, from, to);
                    EXPECT_NEAR(20.0 * std::log10(t.amplitude / 0.5), 0.0, f.toleranceDb) << "channel " << c;
                    // The source's phase is 0 at frame 0: one frame of shift is 0.029 rad at 220 Hz.
                    EXPECT_NEAR(std::remainder(t.phase, 2.0 * std::numbers::pi), 0.0, 0.02) << "channel " << c;
                }
            }
        }
    }
}

TEST_F(AudioIOTest, LosslessAt48kIsBitExact) {
    const std::int64_t frames = 30011;
    const fs::path raw = writeSines(48000, 2, frames);
    const fs::path file = encode(raw, "-f f32le -ar 48000 -ac 2", "-c:a pcm_f32le", "float.wav");
    const AudioData audio = AudioIO::read(file);
    ASSERT_EQ(audio.frames(), frames);
    const auto bytes = test::readFile(raw);
    std::vector<float> source(bytes.size() / 4);
    std::memcpy(source.data(), bytes.data(), bytes.size());
    for (std::size_t i = 0; i < std::size_t(frames); ++i) {
        ASSERT_EQ(audio.left[i], source[2 * i]);
        ASSERT_EQ(audio.right[i], source[2 * i + 1]);
    }
}

TEST_F(AudioIOTest, MoreThanTwoChannelsAreRefusedWithTheMessage) {
    const std::string expected = "Поддерживаются моно и стерео. Сначала сведите многоканальный файл.";
    const fs::path raw = writeSines(48000, 1, 4800);
    const std::string in = "-f f32le -ar 48000 -ac 1";
    EXPECT_EQ(messageOf<StudioError>(encode(raw, in, "-ac 4 -c:a pcm_s16le", "quad.wav")), expected);
    EXPECT_EQ(messageOf<StudioError>(encode(raw, in, "-af 'pan=3.0|c0=c0|c1=c0|c2=c0' -c:a flac", "three.flac")), expected);
    EXPECT_EQ(messageOf<StudioError>(encode(raw, in, "-ac 6 -c:a aac", "surround.m4a")), expected);
}

// 480 s at 44.1 kHz is the longest accepted file; a few frames more are refused before decoding.
TEST_F(AudioIOTest, ClipLimitAtAFileOfExactly480Seconds) {
    const std::int64_t limitFrames = 21'168'000;  // 480 s at 44.1 kHz
    auto wav = [&](std::int64_t frames, const std::string& name) {
        // 8-bit mono keeps the file small; ffmpeg writes the header.
        std::string data(static_cast<std::size_t>(frames), '\0');
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(128 + (i % 64) - 32);
        const fs::path raw = writeBytes(name + ".u8", data);
        const fs::path out = encode(raw, "-f u8 -ar 44100 -ac 1", "-c:a pcm_u8", name + ".wav");
        fs::remove(raw);
        return out;
    };
    const fs::path exact = wav(limitFrames, "exact");
    const AudioData audio = AudioIO::read(exact);
    EXPECT_LE(audio.frames(), 23'040'000);
    EXPECT_GE(audio.frames(), 23'040'000 - 2);
    EXPECT_TRUE(audio.left.sharesStorageWith(audio.right) ||
                std::equal(audio.left.begin(), audio.left.end(), audio.right.begin()));
    fs::remove(exact);

    EXPECT_EQ(messageOf<StudioError>(wav(limitFrames + 3, "longer")), kLengthMessage);
}

// An MP3's stated duration counts the encoder's delay and padding; a file of exactly 480 s is
// not refused for them.
TEST_F(AudioIOTest, Mp3OfExactly480SecondsIsAccepted) {
    const fs::path mp3 = dir_ / "eight-minutes.mp3";
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -f lavfi -i anullsrc=r=8000:cl=mono -t 480 "
                           "-c:a libmp3lame -b:a 8k '" + mp3.string() + "'").c_str()), 0);
    const AudioData audio = AudioIO::read(mp3);
    EXPECT_LE(audio.frames(), 23'040'000);
    EXPECT_GE(audio.frames(), 23'040'000 - 6);
}

// A stream that states no length (a WAV written to a pipe) is decoded and judged by what it
// yields: up to one block over the limit is cut to the limit, more is refused.
TEST_F(AudioIOTest, StreamWithoutStatedLengthIsJudgedWhileDecoding) {
    auto piped = [&](double seconds, const std::string& name) {
        const auto frames = static_cast<std::int64_t>(std::llround(seconds * 8000));
        const fs::path raw = writeBytes(name + ".u8", std::string(static_cast<std::size_t>(frames), '\x80'));
        const fs::path out = dir_ / (name + ".wav");
        const std::string cmd = "ffmpeg -nostdin -v error -y -f u8 -ar 8000 -ac 1 -i '" + raw.string() +
                                "' -c:a pcm_u8 -f wav - > '" + out.string() + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        fs::remove(raw);
        return out;
    };
    // 480 s + 100 frames at 8 kHz: 600 frames over at 48 kHz, within the block.
    const AudioData cut = AudioIO::read(piped(480.0 + 100.0 / 8000, "slightly-long"));
    EXPECT_EQ(cut.frames(), 23'040'000);
    EXPECT_EQ(messageOf<StudioError>(piped(481.0, "too-long")), "Слишком длинный аудиофайл.");
    // Short piped files decode normally.
    EXPECT_EQ(AudioIO::read(piped(0.5, "short")).frames(), 24000);
    EXPECT_FALSE(AudioIO::lastEndedEarly());
}

// A stream at 2 Hz without a stated length: each decoded frame becomes 24,000 at 48 kHz. The
// length limit refuses it after at most a block's worth of output, never after gigabytes.
TEST_F(AudioIOTest, AStreamAtAVeryLowRateIsRefusedBeforeItGrowsByGigabytes) {
    const fs::path raw = writeBytes("low.u8", std::string(20000, '\x90'));
    const fs::path out = dir_ / "low.wav";
    const std::string cmd = "ffmpeg -nostdin -v error -y -f u8 -ar 2 -ac 1 -i '" + raw.string() +
                            "' -c:a pcm_u8 -f wav - > '" + out.string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(messageOf<StudioError>(out), "Слишком длинный аудиофайл.");
    rusage usage{};
    ASSERT_EQ(getrusage(RUSAGE_SELF, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 500L * 1024) << "peak resident size in KiB";
}

// An MP3 without a length header whose first frames run at 8 kb/s: the bit-rate estimate says
// about 600 s, the file holds 40 s. Only the decoded length counts; the codec's delay and
// padding allow a few codec frames of difference.
TEST_F(AudioIOTest, EstimatedLengthDoesNotRefuseAGoodFile) {
    const std::string mp3 = "-c:a libmp3lame -write_xing 0 -id3v2_version 0";
    const fs::path quiet = dir_ / "quiet.mp3", loud = dir_ / "loud.mp3";
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -f lavfi -i anullsrc=r=22050:cl=mono -t 10 " + mp3 +
                           " -b:a 8k '" + quiet.string() + "'").c_str()), 0);
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -f lavfi -i sine=f=440:r=22050 -t 30 " + mp3 +
                           " -b:a 160k '" + loud.string() + "'").c_str()), 0);
    std::ifstream a(quiet, std::ios::binary), b(loud, std::ios::binary);
    std::ofstream out(dir_ / "joined.mp3", std::ios::binary);
    out << a.rdbuf() << b.rdbuf();
    out.close();
    const AudioData audio = AudioIO::read(dir_ / "joined.mp3");
    EXPECT_NEAR(static_cast<double>(audio.frames()), 40.0 * 48000, 4 * 1152 * 48000.0 / 22050);
    EXPECT_NEAR(measure(audio.left, 440, 20 * 48000, 30 * 48000).amplitude, 0.125, 0.01);  // sine's default level 1/8
}

// A stream whose channel count and rate change midway (joined MP3s): mono parts land on both
// channels, each part at its own pitch, both channels always of one length.
TEST_F(AudioIOTest, ChannelCountAndRateChangesMidStream) {
    const std::string mp3 = " -c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0 ";
    const fs::path parts[3] = {dir_ / "p1.mp3", dir_ / "p2.mp3", dir_ / "p3.mp3"};
    const std::string sources[3] = {
        "-f lavfi -i sine=f=440:r=44100 -t 1",
        "-f lavfi -i sine=f=220:r=44100 -f lavfi -i sine=f=330:r=44100 -t 1 -filter_complex amerge=inputs=2",
        "-f lavfi -i sine=f=550:r=32000 -t 1"};
    std::ofstream joined(dir_ / "joined.mp3", std::ios::binary);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y " + sources[i] + mp3 + "'" + parts[i].string() + "'").c_str()), 0);
        std::ifstream part(parts[i], std::ios::binary);
        joined << part.rdbuf();
    }
    joined.close();
    const AudioData audio = AudioIO::read(dir_ / "joined.mp3");
    ASSERT_EQ(audio.left.size(), audio.right.size());
    EXPECT_NEAR(static_cast<double>(audio.frames()), 3.0 * 48000, 3 * 2 * 1152 * 48000.0 / 32000);
    auto level = [&](const SharedArray<float>& x, double freq, double from) {
        return measure(x, freq, static_cast<std::int64_t>(from * 48000), static_cast<std::int64_t>((from + 0.5) * 48000)).amplitude;
    };
    // sine's default level is 1/8.
    EXPECT_NEAR(level(audio.left, 440, 0.25), 0.125, 0.01);
    EXPECT_NEAR(level(audio.right, 440, 0.25), 0.125, 0.01);
    EXPECT_NEAR(level(audio.left, 220, 1.25), 0.125, 0.01);
    EXPECT_NEAR(level(audio.right, 330, 1.25), 0.125, 0.01);
    EXPECT_LT(level(audio.right, 220, 1.25), 0.01);
    EXPECT_NEAR(level(audio.left, 550, 2.25), 0.125, 0.01);
    EXPECT_NEAR(level(audio.right, 550, 2.25), 0.125, 0.01);
}

TEST_F(AudioIOTest, EmptyAndSilentFiles) {
    const fs::path raw = writeSines(44100, 1, 100);
    const std::string in = "-f f32le -ar 44100 -ac 1";
    // Zero frames, with and without a stated length.
    EXPECT_EQ(messageOf<StudioError>(encode(raw, in, "-t 0 -c:a pcm_s16be", "zero.aiff")), kLengthMessage);
    EXPECT_EQ(messageOf<StudioError>(encode(raw, in, "-t 0 -c:a pcm_s16le", "zero.wav")), kLengthMessage);
    // An AIFF header that states 1000 frames over no data: a positive estimate, nothing decoded.
    const fs::path full = sineFile(44100, 1, 1000, "-c:a pcm_s16be -map_metadata -1 -fflags +bitexact", "full.aiff");
    const auto fullBytes = test::readFile(full);
    const std::string bytes(fullBytes.begin(), fullBytes.end());
    const std::size_t sound = bytes.find("SSND");
    ASSERT_NE(sound, std::string::npos);
    EXPECT_EQ(messageOf<StudioError>(writeBytes("header-only.aiff", bytes.substr(0, sound + 16))),
              "Аудиофайл не содержит звука.");
    // One frame is the shortest file.
    const fs::path one = sineFile(48000, 2, 1, "-c:a pcm_s16le", "one.wav");
    EXPECT_EQ(AudioIO::read(one).frames(), 1);
}

// Damaged, empty and non-audio files end in an error the user can read, never in a crash.
TEST_F(AudioIOTest, DamagedFilesGiveReadableErrors) {
    auto fails = [](const fs::path& p) {
        return !messageOf<PlatformError>(p).empty() || !messageOf<StudioError>(p).empty();
    };
    EXPECT_TRUE(fails(writeBytes("empty.wav", "")));
    EXPECT_TRUE(fails(writeBytes("text.mp3", "this is not audio at all\n")));
    EXPECT_TRUE(fails(writeBytes("notes.txt", std::string(5000, 'x'))));
    EXPECT_TRUE(fails(dir_ / "missing.flac"));
    EXPECT_TRUE(fails(dir_));
    // A FIFO nobody writes to is refused at once instead of waiting for a writer.
    ASSERT_EQ(::mkfifo((dir_ / "pipe.wav").c_str(), 0600), 0);
    EXPECT_FALSE(messageOf<PlatformError>(dir_ / "pipe.wav").empty());
    const auto noise = whiteNoise(5000, 12345);
    const std::string noiseBytes(reinterpret_cast<const char*>(noise.data()), 20000);
    EXPECT_TRUE(fails(writeBytes("noise.m4a", noiseBytes)));
    // A file that cannot be opened is the library's error, passed on with its detail.
    EXPECT_NE(messageOf<PlatformError>(dir_ / "missing.flac").find(": "), std::string::npos);
    // MP3s cut inside a frame, of noise, or whose ID3v2 tag or picture claims 256 MB: damaged.
    const auto bare = test::readFile(sineFile(44100, 2, 44100, "-c:a libmp3lame -id3v2_version 0", "bare.mp3"));
    const std::string mp3(bare.begin(), bare.end()), hugeTag("ID3\3\0\0\x7f\x7f\x7f\x7f", 10);
    const std::string apic = "APIC" + std::string("\x0f\xff\xff\xff\0\0\0image/png\0\3\0", 19);
    for (const std::string& bytes : {mp3.substr(0, 300), hugeTag + mp3, "\xff\xfb" + noiseBytes,
                                     std::string("ID3\3\0\0\0\0\1\0", 10) + apic + mp3.substr(0, 300)})
        EXPECT_EQ(messageOf<PlatformError>(writeBytes("damaged.mp3", bytes)), kDamaged) << bytes.size();
    // Covers import: in a FLAC file's header (15.9 MB: one allocation of its size) and in an .m4a
    // (72 MB: never read).
    for (const auto& [side, args, name] : {std::tuple{2300, "-c:a flac", "cover.flac"}, {4900, "-c:a aac", "cover.m4a"}}) {
        const std::string cover = (dir_ / "cover.png").string();
        ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -f lavfi -i color=black:s=" + std::to_string(side) + "x" +
                               std::to_string(side) + " -frames:v 1 -c:v png -compression_level 0 '" + cover + "'").c_str()), 0);
        const fs::path file = sineFile(48000, 2, 4800, "-i '" + cover + "' -map 0 -map 1 -c:v copy -disposition:v attached_pic " + args, name);
        EXPECT_GT(fs::file_size(file), std::uintmax_t(side * side * 3)) << name;
        EXPECT_EQ(AudioIO::read(file).frames(), 4800) << name;
        fs::remove(file);
    }
    // 4.9 KB WAVs whose LIST/INFO sub-chunk or bext chunk declares 0x7FFFFF00 bytes: damaged,
    // refused without allocating what they declare (the peak is reset first where the kernel allows).
    for (const std::string chunk : {"LIST" + le32(0x7FFFFF0C) + "INFOINAM", std::string("bext")}) {
        const std::string riff = "WAVEfmt " + le32(16) + le32(0x00020001) + le32(48000) + le32(192000) +
                                 le32(0x00100004) + chunk + le32(0x7FFFFF00) + std::string(4800, 'x');
        std::ofstream("/proc/self/clear_refs") << "5";
        const std::int64_t before = peakResidentKiB();
        EXPECT_EQ(messageOf<PlatformError>(writeBytes("huge.wav", "RIFF" + le32(std::uint32_t(riff.size())) + riff)),
                  kDamaged) << chunk;
        EXPECT_LT(peakResidentKiB() - before, 100 * 1024) << chunk << ": KiB";
    }

    // Truncated and corrupted encodings of a real file: an error or some audio, never a crash.
    auto readsOrRefuses = [&](const fs::path& p) {
        try {
            const AudioData audio = AudioIO::read(p);
            EXPECT_GT(audio.frames(), 0);
            EXPECT_LE(audio.frames(), 23'040'000);
            EXPECT_EQ(audio.left.size(), audio.right.size());
        } catch (const StudioError&) {  // PlatformError included
        }
    };
    const std::pair<const char*, const char*> codecs[] = {
        {"-c:a flac", "flac"}, {"-c:a libmp3lame", "mp3"}, {"-c:a aac", "m4a"}, {"-c:a libvorbis", "ogg"}, {"-c:a alac", "m4a"}};
    for (const auto& [args, ext] : codecs) {
        const std::string name = std::string(args).substr(5);
        const auto good = test::readFile(sineFile(44100, 2, 44100, args, "good-" + name + "." + ext));
        std::string bytes(good.begin(), good.end());
        for (const double keep : {0.1, 0.5, 0.9})
            readsOrRefuses(writeBytes("cut-" + name + std::to_string(int(keep * 10)) + "." + ext,
                                      bytes.substr(0, static_cast<std::size_t>(double(bytes.size()) * keep))));
        for (std::size_t i = bytes.size() / 3; i < bytes.size(); i += 97) bytes[i] = static_cast<char>(~bytes[i]);
        const fs::path damaged = writeBytes("damaged-" + name + "." + ext, bytes);
        EXPECT_TRUE(!messageOf<PlatformError>(damaged).empty() || !messageOf<StudioError>(damaged).empty()) << name;
    }
}

// Damage inside the stream is refused with the library's detail, never skipped: skipping would
// import the clip with a stretch missing and everything after it moved earlier.
TEST_F(AudioIOTest, DamageInsideTheStreamIsRefused) {
    const std::pair<const char*, const char*> codecs[] = {
        {"-c:a flac", "flac"}, {"-c:a libmp3lame -b:a 192k", "mp3"}, {"-c:a libvorbis", "ogg"},
        // 24-bit ALAC has no check that such damage would trip; 16-bit ALAC's decoder notices it.
        {"-c:a alac -sample_fmt s16p", "m4a"}};
    for (const auto& [args, ext] : codecs) {
        SCOPED_TRACE(ext);
        const fs::path good = sineFile(44100, 2, 3 * 44100, args, std::string("intact.") + ext);
        ASSERT_NEAR(static_cast<double>(AudioIO::read(good).frames()), 3.0 * 48000, 1.0);
        const auto intact = test::readFile(good);
        std::string bytes(intact.begin(), intact.end());
        const std::size_t middle = bytes.size() / 2;
        for (std::size_t i = middle; i < middle + 2000; ++i) bytes[i] = static_cast<char>(~bytes[i]);
        const fs::path damaged = writeBytes(std::string("damaged.") + ext, bytes);
        for (const int threads : {1, 4}) {
            const std::string message = test::refusal<PlatformError>([&] { AudioIO::read(damaged, threads); });
            EXPECT_EQ(message, "Не удалось декодировать аудиофайл: файл повреждён или не является аудиофайлом") << threads;
        }
    }
}

// One FLAC frame with a single changed byte is refused, however many threads the codec decodes
// frames on: in its samples or checksum (the codec's error), in its sync code (the parser skips
// the frame: a gap in the middle, or a stream short of its stated length at the end), also in a
// file that states no length (written to a pipe).
TEST_F(AudioIOTest, OneDamagedFlacFrameIsRefusedAtEveryThreadCount) {
    // Noise, so that every frame carries its own data; fixed 4096-frame blocks.
    auto flac = [&](const std::string& name, bool piped) {
        const fs::path file = dir_ / name;
        const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i 'anoisesrc=a=0.3:c=white:r=44100:seed=7' -t 6 "
                                "-ac 2 -c:a flac -frame_size 4096 " +
                                (piped ? "-f flac - > '" + file.string() + "'" : "'" + file.string() + "'");
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        const auto bytes = test::readFile(file);
        return std::string(bytes.begin(), bytes.end());
    };
    const std::string stated = flac("stated.flac", false), unstated = flac("unstated.flac", true);
    for (const int threads : {1, 2, 4, 8}) {
        EXPECT_NEAR(static_cast<double>(AudioIO::read(dir_ / "stated.flac", threads).frames()), 6.0 * 48000, 1.0);
        EXPECT_EQ(AudioIO::lastDecoderThreads(), threads);
        EXPECT_NEAR(static_cast<double>(AudioIO::read(dir_ / "unstated.flac", threads).frames()), 6.0 * 48000, 1.0);
        EXPECT_EQ(AudioIO::lastDecoderThreads(), threads);
    }
    // Import's own read decodes a FLAC on as many threads as the machine has, up to four.
    AudioIO::read(dir_ / "stated.flac");
    EXPECT_EQ(AudioIO::lastDecoderThreads(), static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u)));
    // Frame headers: the sync code 0xFFF8 followed by the next frame well away.
    auto frameAfter = [](const std::string& bytes, std::size_t from) {
        std::size_t at = bytes.find("\xFF\xF8", from);
        while (at != std::string::npos && bytes.find("\xFF\xF8", at + 2) < at + 400) at = bytes.find("\xFF\xF8", at + 2);
        return at;
    };
    const std::size_t middle = frameAfter(stated, stated.size() / 2);
    const std::size_t next = stated.find("\xFF\xF8", middle + 2);
    std::size_t last = middle;
    for (std::size_t at = middle; at != std::string::npos; at = stated.find("\xFF\xF8", at + 2)) last = at;
    ASSERT_NE(middle, std::string::npos);
    ASSERT_GT(next, middle + 400);
    ASSERT_GT(last, next);
    const std::size_t unstatedMiddle = frameAfter(unstated, unstated.size() / 2);
    ASSERT_NE(unstatedMiddle, std::string::npos);
    const std::pair<const std::string*, std::size_t> damage[] = {
        {&stated, middle + 200}, {&stated, next - 3}, {&stated, middle + 1}, {&stated, last + 1},
        {&unstated, unstatedMiddle + 1}};
    for (const auto& [bytes, at] : damage) {
        std::string damaged = *bytes;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x10);
        const fs::path file = writeBytes("one-frame-" + std::to_string(at) + ".flac", damaged);
        for (const int threads : {1, 2, 4, 8}) {
            SCOPED_TRACE("byte " + std::to_string(at) + ", threads " + std::to_string(threads));
            const std::string message = test::refusal<PlatformError>([&] { AudioIO::read(file, threads); });
            EXPECT_EQ(message.rfind("Не удалось декодировать аудиофайл: ", 0), 0u) << message;
        }
    }
}

// Every container's stated duration counts for the length check before decoding, also where only
// the container states it (Matroska); a bit-rate estimate does not (see above).
TEST_F(AudioIOTest, StatedLengthIsCheckedUpFrontInEveryContainer) {
    auto silence = [&](double seconds, const std::string& codecArgs, const std::string& name) {
        const fs::path out = dir_ / name;
        const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i anullsrc=r=8000:cl=mono -t " +
                                std::to_string(seconds) + " " + codecArgs + " '" + out.string() + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return out;
    };
    for (const auto& [args, name] : {std::pair{"-c:a pcm_s16le", "long.wav"}, {"-c:a libvorbis", "long.ogg"},
                                     {"-c:a pcm_s16le", "long.mka"}, {"-c:a flac", "long.mka"}}) {
        EXPECT_EQ(messageOf<StudioError>(silence(500, args, name)), kLengthMessage) << name << " " << args;
    }
    // A container's statement is in milliseconds and may include the codec's padding: exactly
    // 480 s is not refused for it, and the decoded length decides.
    const AudioData full = AudioIO::read(silence(480, "-c:a pcm_s16le", "full.mka"));
    EXPECT_EQ(full.frames(), 23'040'000);
    EXPECT_EQ(AudioIO::read(sineFile(44100, 2, 44100, "-c:a pcm_s16le", "second.mka")).frames(), 48000);
}

// A WAV file's sound is its data chunk. What follows it is never read: 256 MB of zeros (a
// recorder that preallocated its file and never finished it), ending in a chunk that declares
// 2 GB. A 70 MB coding history before it is skipped. The fact chunk still cuts the last ADPCM
// block's padding (never more), and a data size of 0 is a stream's, whose sound runs to the end.
TEST_F(AudioIOTest, AWavFileIsItsDataChunk) {
    for (const std::string form : {"RIFF", "RF64", "BW64"}) {
        const fs::path file = sineFile(48000, 2, 96000, form == "RIFF" ? "-c:a pcm_s16le" : "-rf64 always", "tail.wav");
        std::fstream(file, std::ios::binary | std::ios::in | std::ios::out) << form;
        const std::uintmax_t end = fs::file_size(file) + (std::uintmax_t{256} << 20);
        fs::resize_file(file, end - 24);  // a hole: no disk space
        std::ofstream(file, std::ios::binary | std::ios::app) << "bext" << le32(0x7FFFFF00) << std::string(16, 'x');
        const auto start = std::chrono::steady_clock::now();
        const AudioData audio = AudioIO::read(file);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << form;
        EXPECT_EQ(audio.frames(), 96000) << form;
        EXPECT_NEAR(measure(audio.right, kFreq[1], 4800, 91200).amplitude, 0.5, 0.001) << form;
        fs::remove(file);
    }
    const auto pcm = test::readFile(sineFile(48000, 2, 96000, "-c:a pcm_s16le -map_metadata -1 -fflags +bitexact", "bare.wav"));
    std::string bytes(pcm.begin(), pcm.end());
    ASSERT_EQ(bytes.substr(36, 4), "data");
    {
        std::ofstream bwf(dir_ / "bwf.wav", std::ios::binary);
        bwf << "RIFF" << le32(std::uint32_t(bytes.size() + (70 << 20))) << bytes.substr(8, 28) << "bext" << le32(70 << 20);
        bwf.seekp(70 << 20, std::ios::cur);
        bwf << bytes.substr(36);
    }
    EXPECT_EQ(AudioIO::read(dir_ / "bwf.wav").frames(), 96000);
    EXPECT_EQ(AudioIO::read(writeBytes("stream.wav", bytes.replace(40, 4, le32(0)))).frames(), 96000);
    const auto adpcm = test::readFile(sineFile(48000, 2, 48000, "-c:a adpcm_ms -map_metadata -1", "adpcm.wav"));
    bytes.assign(adpcm.begin(), adpcm.end());
    EXPECT_EQ(AudioIO::read(writeBytes("fact.wav", bytes.replace(bytes.find("fact") + 8, 4, le32(47000)))).frames(), 47000);
    EXPECT_EQ(AudioIO::read(writeBytes("fact.wav", bytes.replace(bytes.find("fact") + 8, 4, le32(40000)))).frames(), 48576);  // all blocks
}

// One table of files as people have them: each imports the audio that the ffmpeg program decodes
// from its oracle (the file itself when none is named), or is refused with the message; within
// 2 s of the process's time, which other work on the machine does not stretch (long runs of
// zeros are holes, so the files stay light). Each group of rows is a test of its own.
struct ImportGroup {
    const char* name;
};
void PrintTo(const ImportGroup& g, std::ostream* out) { *out << g.name; }
class FilesImport : public AudioIOTest, public ::testing::WithParamInterface<ImportGroup> {};

TEST_P(FilesImport, TheirWholeAudioOrAreRefused) {
    const std::string group = GetParam().name;
    // `then`: a second oracle whose sound follows the first's; `slack`: frames the count may differ
    // by (the ffmpeg program decodes what is not a frame in a joined MP3 in its own way).
    // `near`: how far each sample may be from the oracle's (libvorbisfile rounds otherwise).
    // `reads`, `extra`: the import reads at most `reads` times the file's size and `extra` bytes.
    struct Row { fs::path file, oracle; std::string refusal; bool endsEarly = false; fs::path then = {}; std::int64_t slack = 0; float near = 0;
                 double reads = 8; std::int64_t extra = 4 << 20; };
    std::vector<Row> rows;
    auto sine = [&](const std::string& args, const std::string& name) {
        return fs::exists(dir_ / name) ? dir_ / name : sineFile(48000, 2, 96000, args, name);
    };
    auto edited = [&](const fs::path& from, auto edit) {
        const auto b = test::readFile(from);
        std::string bytes(b.begin(), b.end());
        edit(bytes);
        return writeBytes(std::to_string(rows.size()) + from.filename().string(), bytes);
    };
    const std::string damaged = "Не удалось декодировать аудиофайл: файл повреждён или не является аудиофайлом";
    // What follows the last whole frame: a writer's zeros, line end or Lyrics3 tag, random bytes, a
    // preallocated file never filled (4 GB), a partial last frame; `fmt ` after `data` (a 70 MB bext
    // between), an RF64 never finished, an odd chunk's pad byte before `data`. Damage inside the
    // stream is still refused, in the program's words (the AC3 parser's own code has no text).
    const std::string noise(reinterpret_cast<const char*>(whiteNoise(256, 7).data()), 1024), zeros(16, '\0');
    auto mp3 = [&] { return sine("-c:a libmp3lame", "s.mp3"); };
    auto ac3 = [&] { return sine("-c:a ac3", "s.ac3"); };
    const fs::path wav = sine("-c:a pcm_s16le -map_metadata -1 -fflags +bitexact", "s.wav");
    const auto wb = test::readFile(wav);
    const std::string w(wb.begin(), wb.end()), fmt = w.substr(12, 24), data = "data" + le32(384003) + w.substr(44) + "abc" + '\0';
    auto bytesOf = [](const fs::path& p) { const auto b = test::readFile(p); return std::string(b.begin(), b.end()); };
    // FLAC in Ogg whose STREAMINFO states its `frames`, as the flac tool writes it.
    auto statingLength = [&](const fs::path& from, std::uint32_t frames) {
        return edited(from, [&](std::string& b) {
            const std::size_t info = 27 + std::size_t(std::uint8_t(b[26])) + 17;
            const std::size_t first = info - 17 + std::size_t(std::uint8_t(b[27]));
            b.replace(info + 13, 5, std::string(1, char(b[info + 13] & 0xF0)) + std::string(1, '\0') + char(frames >> 16) + char(frames >> 8) + char(frames));
            b.replace(0, first, checked(b.substr(0, first)));
        });
    };
    if (group == "tails") {
        const std::pair<fs::path, std::string> tails[] = {
            {mp3(), zeros}, {mp3(), "\r\n"}, {mp3(), "LYRICSBEGININD0000210LYR00005hello000034LYRICS200"}, {sine("-c:a mp2", "s.mp2"), zeros},
            {ac3(), noise}, {sine("-c:a libopus", "s.opus"), std::string(65536, '\0')}, {sine("-c:a aac", "s.aac"), ""},
            {sine("-c:a adpcm_ms", "s.w64"), zeros}};
        for (const auto& [from, tail] : tails)  // the ffmpeg program refuses the W64 file
            rows.push_back({edited(from, [&](std::string& b) { b += tail; }), from.extension() == ".w64" ? from : fs::path(), ""});
        fs::resize_file(rows[6].file, fs::file_size(rows[6].file) + (std::uintmax_t{4} << 30));
#if defined(__SANITIZE_ADDRESS__)
        constexpr std::size_t kCraftedTail = 1u << 20;
#else
        constexpr std::size_t kCraftedTail = 4u << 20;
#endif
        // Crafted tails (1 MB under the sanitizers): empty MP4 free boxes at the end and before
        // the `moov` box, Matroska clusters of one byte after a segment and inside one that states
        // an unknown size, ID3 headers each claiming 128 KB. The demuxers never take the boxes or
        // clusters apart one by one: each byte is read once by the scan, about once more at most.
        std::string mka = bytesOf(sine("-c:a flac", "s.mka"));
        mka.replace(mka.find("\x18\x53\x80\x67") + 4, 8, "\x01\xFF\xFF\xFF\xFF\xFF\xFF\xFF");
        const std::string plain = bytesOf(sine("-c:a alac", "plain.m4a"));
        const std::size_t moov = plain.find("moov") - 4;
        const struct { fs::path from; std::string unit, after; double reads; std::int64_t extra; } crafted[] = {
            {sine("-c:a alac -movflags +faststart", "alac.m4a"), std::string("\0\0\0\x08" "free", 8), "", 1, 1 << 20},
            {writeBytes("head.m4a", plain.substr(0, moov)), std::string("\0\0\0\x08" "free", 8), plain.substr(moov), 1, 1 << 20},
            {sine("-c:a flac", "s.mka"), std::string("\x1F\x43\xB6\x75\x81\0", 6), "", 1, 1 << 20},
            {writeBytes("unknown.mka", mka), std::string("\x1F\x43\xB6\x75\x81\0", 6), "", 1, 1 << 20},
            {mp3(), std::string("ID3\x03\0\0\0\x08\0\0\x0B\0\0\0\0\0", 16), "", 2, 4 << 20}};
        for (const auto& c : crafted) {
            std::string tail;
            for (std::size_t n = 0; n < kCraftedTail; n += c.unit.size()) tail += c.unit;
            rows.push_back({edited(c.from, [&](std::string& b) { b += tail + c.after; }), {}, ""});
            std::tie(rows.back().reads, rows.back().extra) = std::pair{c.reads, c.extra};
        }
    }
    if (group == "wav_chunks") {
        const fs::path rf64 = sine("-rf64 always", "s.rf.wav");
        for (const std::size_t cut : {1, 2, 3, 5, 1001}) rows.push_back({edited(wav, [&](std::string& b) { b.resize(b.size() - cut); }), {}, "", true});
        rows.push_back({writeBytes("stray.wav", "RIFF" + le32(384012) + "WAVE" + fmt + data), {}, ""});
        (std::ofstream(dir_ / "late.wav", std::ios::binary) << "RIFF" << le32(std::uint32_t(w.size() + (70 << 20) + 8)) << "WAVE"
                                                             << data << "bext" << le32(70 << 20)).seekp(70 << 20, std::ios::cur) << fmt;
        rows.push_back({dir_ / "late.wav", wav, ""});
        rows.push_back({edited(rf64, [](std::string& b) { b.replace(28, 8, 8, '\0'); }), rf64, ""});
        rows.push_back({writeBytes("pad.wav", "RIFF" + le32(std::uint32_t(w.size() + 14)) + "WAVE" + fmt + "LIST" + le32(5) +
                                                  "INFOx" + '\0' + data + "bext" + le32(0x7FFFFF00) + zeros), wav, ""});
        rows.push_back({edited(wav, [](std::string& b) { b.resize(47); }), {}, damaged});  // less than a frame
    }
    auto inMiddle = [&](std::string& b) { b.replace(b.size() / 2, noise.size(), noise); };
    if (group == "damage") {
        rows.push_back({edited(mp3(), [&](std::string& b) { inMiddle(b), b += zeros; }), {}, damaged});
        rows.push_back({edited(ac3(), inMiddle), {}, damaged});
    }
    // Files as people have them: a stream recording of two Ogg Opus links sharing a serial number,
    // two MP3s joined with their tags, a Vorbis stream cut from a longer one beside a skeleton
    // stream, a Matroska segment stating less than it holds, 1 MB of random bytes after an MP3;
    // copies cut short (their whole frames import, and the reader says they end early); a page
    // missing or damaged inside Ogg Opus and FLAC; junk with a capture pattern every 4 KB after an
    // Ogg stream, and 40 MB of chunks before a WAV's data, each within the 2 s.
    auto joined = [&](const fs::path& a, const fs::path& b) { return edited(a, [&](std::string& x) { x += bytesOf(b); }); };
    if (group == "joined") {
        rows.push_back({joined(sine("-c:a libopus -fflags +bitexact", "a.opus"), sineFile(48000, 1, 70000, "-c:a libopus -fflags +bitexact", "b.opus")), {}, ""});
        rows.push_back({joined(mp3(), sineFile(48000, 2, 50000, "-c:a libmp3lame", "b.mp3")), {}, "", false, {}, 4800});
        // The Vorbis stream starts 0.1 s into the one it was cut from, as its granules and skeleton say.
        const std::string fishead = "fishead" + std::string(1, '\0') + le32(3) + le64(0) + le64(1000) + le64(0) + le64(1000) + std::string(20, '\0');
        rows.push_back({edited(sine("-c:a libvorbis", "s.ogg"), [&](std::string& b) {
                            std::string shifted;
                            for (std::size_t at = 0, n = 0; at < b.size(); at += n) {
                                n = 27 + std::uint8_t(b[at + 26]);
                                for (std::size_t i = 0; i < std::uint8_t(b[at + 26]); ++i) n += std::uint8_t(b[at + 27 + i]);
                                std::uint64_t granule = 0;
                                std::memcpy(&granule, &b[at + 6], 8);
                                shifted += checked(b.substr(at, n).replace(6, 8, le64(granule + (granule + 1 > 1 ? 4800 : 0))));
                            }
                            const std::string fisbone = "fisbone" + std::string(1, '\0') + le32(44) + b.substr(14, 4) + le32(3) + le64(48000) +
                                                        le64(1) + le64(4800) + le32(2) + le32(0) + "Content-Type: audio/vorbis\r\n";
                            const std::size_t first = 27 + std::size_t(std::uint8_t(b[26])) + std::size_t(std::uint8_t(b[27]));
                            b = oggPage(7, 2, 0, fishead) + shifted.substr(0, first) + oggPage(7, 0, 1, fisbone) + oggPage(7, 4, 2, "") + shifted.substr(first);
                        }), {}, ""});
        // Joined MP3s whose second part carries a 430 KB cover in its tag (full of false frame
        // syncs), at another rate; Vorbis followed by Opus, and FLAC by Vorbis, in one chain.
        const fs::path cover = dir_ / "cover.png", part = sineFile(44100, 2, 40000, "-c:a libmp3lame", "c.mp3");
        encode(dir_ / "c.mp3", "", "-f lavfi -i color=gray:s=400x400,noise=alls=100:allf=t -frames:v 1", "cover.png");
        encode(part, "", "-i '" + cover.string() + "' -map 0:a -map 1 -c copy -id3v2_version 3 -disposition:v attached_pic", "tagged.mp3");
        ASSERT_GT(fs::file_size(dir_ / "tagged.mp3"), std::uintmax_t{400000});
        rows.push_back({joined(mp3(), dir_ / "tagged.mp3"), mp3(), "", false, part, 4800});
        const fs::path vorbis = sine("-c:a libvorbis", "s.ogg"), opus = sine("-c:a libopus", "s.opus"), flac = sine("-c:a flac", "s.oga");
        rows.push_back({joined(vorbis, opus), vorbis, "", false, opus, 0, 1e-5f});
        rows.push_back({joined(flac, vorbis), flac, "", false, vorbis, 0, 1e-5f});
        auto segment = [](std::string& b) { b.replace(b.find("\x18\x53\x80\x67") + 5, 7, std::string(5, '\0') + "\x10" + std::string(1, '\0')); };
        rows.push_back({edited(sine("-c:a flac -fflags +bitexact", "s.mka"), segment), {}, ""});
    }
    if (group == "cut_short") {
        // The ffmpeg program decodes an MP3 followed by 1 MB of zeros as it does these (random bytes: in 30 s).
        const fs::path zeroed = writeBytes("zeroed.mp3", bytesOf(mp3()) + std::string(1 << 20, '\0'));
        rows.push_back({edited(mp3(), [](std::string& b) { b += std::string(reinterpret_cast<const char*>(whiteNoise(1 << 18, 9).data()), 1 << 20); }), zeroed, ""});
        rows.push_back({edited(mp3(), [](std::string&) {}), zeroed, ""});
        fs::resize_file(rows.back().file, fs::file_size(rows.back().file) + (std::uintmax_t{4} << 30));  // a hole: 1 MB of it is seen
        for (const fs::path& from : {sine("-c:a flac", "s.flac"), sine("-c:a wavpack", "s.wv")})
            rows.push_back({edited(from, [](std::string& b) { b.resize(b.size() - 100); }), {}, "", true});
        // FLAC of every block-size code (the last frame's is 6 or 7), cut by 100 bytes.
        for (const int block : {192, 576, 1152, 2304, 4608, 256, 512, 1024, 2048, 4096, 8192, 16384, 32768, 100, 1000})
            rows.push_back({edited(sine("-c:a flac -frame_size " + std::to_string(block), "b" + std::to_string(block) + ".flac"),
                                   [](std::string& b) { b.resize(b.size() - 100); }), {}, "", true});
    }
    if (group == "cut_stated") {
        // Every container that states its length, cut by 300 bytes and to half; a CAF written to a
        // pipe states no data size, and says nothing when cut.
        const fs::path oga = statingLength(sine("-c:a flac", "s.oga"), 96000);
        for (const fs::path& from : {sine("-c:a pcm_s16le", "s.w64"), sine("-c:a pcm_s24be", "s.aiff"), sine("-c:a alac -movflags +faststart", "alac.m4a"),
                                     sine("-c:a aac -movflags +faststart", "aac.m4a"), oga, sine("-c:a pcm_s16le -f caf", "s.caf")})
            for (const bool half : {false, true})
                rows.push_back({edited(from, [&](std::string& b) { b.resize(half ? b.size() / 2 : b.size() - 300); }), {}, "", true});
        const std::string piped = test::commandOutput("ffmpeg -v error -f lavfi -i sine=r=48000 -t 2 -ac 2 -c:a pcm_s16le -f caf -");
        rows.push_back({writeBytes("piped.caf", piped.substr(0, piped.size() - 300)), {}, "", false});
    }
    auto page = [](std::string& b, std::size_t at) { return b.find("OggS", at); };
    if (group == "ogg_pages") {
        const fs::path pages = sine("-c:a libopus -page_duration 200000", "pages.opus");
        rows.push_back({edited(pages, [&](std::string& b) { b.erase(page(b, b.size() / 2), page(b, page(b, b.size() / 2) + 4) - page(b, b.size() / 2)); }), {}, damaged});
        rows.push_back({edited(sine("-c:a flac", "s.oga"), [&](std::string& b) { b[page(b, b.size() / 2) + 100] ^= 1; }), {}, damaged});
        rows.push_back({edited(pages, [&](std::string& b) {
                            for (int i = 0; i < 65536; ++i) b += "OggS" + std::string(2, '\0') + noise.substr(0, 1018);
                        }), pages, ""});
        // Files cut out of longer ones by the chopping tool, which keeps the pages' numbers (with
        // and without a skeleton): they import as they decode. The FLAC one keeps the longer
        // one's STREAMINFO, which states its length, and is not cut short.
        for (const char* name : {"long.ogg", "long.oga"}) {
            const fs::path from = std::string(name).ends_with("ogg") ? sineFile(48000, 2, 480000, "-c:a libvorbis", name)
                                                                     : statingLength(sineFile(48000, 2, 480000, "-c:a flac", name), 480000);
            for (const std::string skeleton : {"", "-k "}) {
                const fs::path to = dir_ / (skeleton + "chopped-" + name);
                EXPECT_EQ(std::system(("oggz-chop " + skeleton + "-s 3 -e 7 -o '" + to.string() + "' '" + from.string() + "'").c_str()), 0);
                rows.push_back({to, {}, "", false, {}, 0, std::string(name).ends_with("ogg") && !skeleton.empty() ? 1e-5f : 0});
            }
        }
        // Capture patterns every 32 bytes, each claiming a 65 KB page, with the stream's serial or
        // beginning a stream: every byte is read a few times, never once per pattern.
        for (const bool begins : {false, true})
            rows.push_back({edited(pages, [&](std::string& b) {
                                std::string pattern = "OggS" + std::string(1, '\0') + char(begins ? 2 : 0) + std::string(8, '\0') +
                                                      (begins ? std::string("abcd") : b.substr(14, 4)) + std::string(8, '\0') + '\xFF';
                                pattern.resize(32, '\xFF');
                                for (int i = 0; i < (16 << 20) / 32; ++i) b += pattern;
                            }), pages, ""});
    }
    if (group == "chunk_walk") {
        std::string walk;
        for (int i = 0; i < (40 << 20) / 24; ++i) walk += "fact" + le32(4) + le32(96000) + "LIST" + le32(4) + "INFO";
        rows.push_back({writeBytes("walk.wav", "RIFF" + le32(std::uint32_t(w.size() + walk.size() - 8)) + "WAVE" + fmt + walk + w.substr(36)), wav, ""});
    }
    ASSERT_FALSE(rows.empty()) << group;

#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers check every copy that FFmpeg makes of its buffered data: many times the work.
    constexpr double kCpuLimit = 20.0;
#else
    constexpr double kCpuLimit = 2.0;
#endif
    auto cpu = [t = timespec{}]() mutable { return clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t), double(t.tv_sec) + double(t.tv_nsec) / 1e9; };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file.filename().string());
        const double start = cpu();
        AudioData audio;
        std::string refusal;
        try {
            audio = AudioIO::read(row.file);
        } catch (const StudioError& e) {
            refusal = e.what();
        }
        EXPECT_LT(cpu() - start, kCpuLimit);
        EXPECT_LE(AudioIO::lastBytesRead(), std::int64_t(row.reads * double(fs::file_size(row.file))) + row.extra);
        EXPECT_EQ(refusal, row.refusal);
        EXPECT_EQ(AudioIO::lastEndedEarly(), row.endsEarly);
        if (row.refusal.empty()) {
            auto expected = test::ffmpegDecode<float>(row.oracle.empty() ? row.file : row.oracle, "f32le");
            if (!row.then.empty()) {
                const auto more = test::commandOutput("ffmpeg -v error -i '" + row.then.string() + "' -ar 48000 -ac 2 -f f32le -");
                expected.resize(expected.size() + more.size() / 4);
                std::memcpy(expected.data() + expected.size() - more.size() / 4, more.data(), more.size() / 4 * 4);
            }
            if (row.slack > 0) {
                EXPECT_NEAR(double(audio.frames()), double(expected.size() / 2), double(row.slack));
                continue;
            }
            ASSERT_EQ(std::size_t(audio.frames()) * 2, expected.size());
            for (std::size_t i = 0; i < expected.size(); i += 2)
                ASSERT_TRUE(std::fabs(audio.left[i / 2] - expected[i]) <= row.near && std::fabs(audio.right[i / 2] - expected[i + 1]) <= row.near) << i / 2;
        }
    }
}
INSTANTIATE_TEST_SUITE_P(AudioIOTest, FilesImport,
                         ::testing::Values(ImportGroup{"tails"}, ImportGroup{"wav_chunks"}, ImportGroup{"damage"}, ImportGroup{"joined"},
                                           ImportGroup{"cut_short"}, ImportGroup{"cut_stated"}, ImportGroup{"ogg_pages"}, ImportGroup{"chunk_walk"}));

// Samples in unusual forms and long tails after the sound. Each file imports as the 2 s of sines
// (lossless ones at 48 kHz to within a 16-bit step of the source's right channel, every sample a
// number) or is refused in the program's words, in bounded time: the tails are holes of 4 GB and
// more, which once were searched for minutes (one ends in a page header whose checksum fails).
// Samples that are not numbers are silenced before resampling, so they do not spread; finite
// samples that overflow in the resampling are silenced after it.
TEST_F(AudioIOTest, UnusualSamplesAndLongTailsImportInTime) {
    const fs::path raw = writeSines(48000, 2, 96000);
    const auto source = test::readFile(raw);
    auto bytesOf = [](const fs::path& p) {
        const auto b = test::readFile(p);
        return std::string(b.begin(), b.end());
    };
    // The samples as the ffmpeg program writes them in a raw form.
    auto samples = [&](const std::string& form, int rate = 48000) {
        return bytesOf(encode(raw, "-f f32le -ar 48000 -ac 2", "-ar " + std::to_string(rate) + " -f " + form, "raw"));
    };
    auto field = [](std::uint64_t v, int bytes, bool big) {
        std::string f(static_cast<std::size_t>(bytes), '\0');
        for (int i = 0; i < bytes; ++i) f[static_cast<std::size_t>(big ? bytes - 1 - i : i)] = char(v >> (8 * i));
        return f;
    };
    // A WAV file (RIFX: big-endian) of 48 kHz stereo around `data`.
    auto wave = [&](const std::string& name, bool big, int tag, int bits, const std::string& extra, const std::string& data,
                    int rate = 48000) {
        const std::string fmt = field(tag, 2, big) + field(2, 2, big) + field(rate, 4, big) + field(rate * bits / 4, 4, big) +
                                field(bits / 4, 2, big) + field(bits, 2, big) + extra;
        const std::string body = "WAVEfmt " + field(fmt.size(), 4, big) + fmt + "data" + field(data.size(), 4, big) + data;
        return writeBytes(name, (big ? "RIFX" : "RIFF") + field(body.size(), 4, big) + body);
    };
    std::string slots;  // 24-bit samples in 32-bit slots, low byte zero
    const std::string s24 = samples("s24le");
    for (std::size_t i = 0; i < s24.size(); i += 3) slots += '\0' + s24.substr(i, 3);
    const std::string extensible = field(22, 2, false) + field(24, 2, false) + field(3, 4, false) +
                                   std::string("\x01\0\0\0\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 16);
    std::string floats = samples("f32le", 44100), huge = floats;
    for (const auto& [frame, value] : {std::pair{100, NAN}, {200, INFINITY}, {300, -INFINITY}})
        std::memcpy(&floats[std::size_t(frame) * 8], &value, 4);
    for (const float value : {FLT_MAX, -FLT_MAX}) std::memcpy(&huge[huge.size() / 2 + (value > 0 ? 0 : 8)], &value, 4);
    const std::string s16 = samples("s16be");
    auto tailed = [&](const fs::path& p, int gigabytes = 4) {
        fs::resize_file(p, fs::file_size(p) + (std::uintmax_t(gigabytes) << 30));
        return p;
    };
    auto codec = [&](const std::string& args, const std::string& name, int gigabytes = 4) {
        return tailed(sineFile(48000, 2, 96000, args, name), gigabytes);
    };
    // A WAV file with 5000 chunks before its data, and one with a hole of 5 GB between `fmt ` and `data`.
    std::string wav = bytesOf(sineFile(48000, 2, 96000, "-c:a pcm_s16le -map_metadata -1 -fflags +bitexact", "plain.wav"));
    ASSERT_EQ(wav.substr(36, 4), "data");
    std::string lists;
    for (int i = 0; i < 5000; ++i) lists += "LIST" + field(4, 4, false) + "INFO";
    const fs::path chunks = tailed(writeBytes("chunks.wav", wav.substr(0, 36) + lists + wav.substr(36)));
    const fs::path gap = writeBytes("gap.wav", wav.substr(0, 36));
    fs::resize_file(gap, 36 + (std::uintmax_t{5} << 30));
    std::ofstream(gap, std::ios::binary | std::ios::app) << wav.substr(36);
    const fs::path ogg = codec("-c:a libvorbis", "tail.ogg");
    // A RIFX file with a second `fmt ` chunk (stating 24-bit samples): the first one holds.
    std::string rifx = bytesOf(wave("two.wav", true, 1, 16, "", s16)), second = field(1, 2, true) + field(2, 2, true);
    const fs::path twoFormats = writeBytes("two.wav", rifx.insert(rifx.find("data"), "fmt " + field(16, 4, true) + second + field(48000, 4, true) +
                                                                                     field(288000, 4, true) + field(6, 2, true) + field(24, 2, true)));
    std::ofstream(ogg, std::ios::binary | std::ios::app) << "OggS" << std::string(23, '\0');

    // Lossless samples at 48 kHz within a 16-bit step; resampled ones (44.1 kHz) and lossy codecs
    // within what they measure here (0.0014; Vorbis 0.014, Opus 0.02).
    const double exact = 1.0 / 32768, resampled = 0.003, lossy = 0.04;
    const std::tuple<fs::path, double, double, std::string> rows[] = {  // file, level and sample tolerances, refusal
        {wave("24-in-32.wav", false, 0xFFFE, 32, extensible, slots), 0.001, exact, ""},
        {wave("nan.wav", false, 3, 32, "", floats, 44100), 0.001, resampled, ""},
        {wave("rifx-adpcm.wav", true, 2, 16, "", s16), 0.0, 0.0, "Этот формат аудио не поддерживается."},
        {wave("huge.wav", false, 3, 32, "", huge, 44100), 0.001, resampled, ""},
        {wave("rifx.wav", true, 1, 16, "", s16), 0.001, exact, ""},
        {wave("rifx24.wav", true, 1, 24, "", samples("s24be")), 0.001, exact, ""},
        {wave("rifx-float.wav", true, 3, 32, "", samples("f32be")), 0.001, exact, ""}, {twoFormats, 0.001, exact, ""},
        {tailed(wave("rifx-tail.wav", true, 1, 16, "", s16)), 0.001, exact, ""}, {chunks, 0.001, exact, ""}, {gap, 0.001, exact, ""},
        {ogg, 0.05, 0.03, ""}, {codec("-c:a libopus", "tail.opus"), 0.05, lossy, ""},
        {codec("-c:a pcm_s16le", "tail.caf"), 0.001, exact, ""}, {codec("-c:a flac", "tail.mka"), 0.001, exact, ""},
        {codec("-c:a libopus", "tail.webm"), 0.05, lossy, ""}, {codec("-c:a flac", "tail.flac", 64), 0.001, exact, ""}};
    for (const auto& [file, tolerance, sampleTolerance, refusal] : rows) {
        SCOPED_TRACE(file.filename().string());
        const auto start = std::chrono::steady_clock::now();
        if (!refusal.empty()) {
            EXPECT_EQ(messageOf<StudioError>(file), refusal);
            EXPECT_EQ(AudioIO::lastSilencedSamples(), 0);
            continue;
        }
        const AudioData audio = AudioIO::read(file);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_NEAR(static_cast<double>(audio.frames()), 96000, 1.0);
        EXPECT_NEAR(measure(audio.right, kFreq[1], 4800, 91200).amplitude, 0.5, tolerance);
        float worst = 0, x = 0;
        for (std::size_t i = 0; i < std::min<std::size_t>(audio.right.size(), 96000); ++i) {
            std::memcpy(&x, &source[i * 8 + 4], 4);
            worst = std::max(worst, std::fabs(audio.right[i] - x));
        }
        EXPECT_LE(worst, sampleTolerance);
        EXPECT_TRUE(std::all_of(audio.left.begin(), audio.left.end(), [](float v) { return std::isfinite(v); }));
        if (file.filename() != "huge.wav") EXPECT_EQ(AudioIO::lastSilencedSamples(), file.filename() == "nan.wav" ? 3 : 0);
        fs::remove(file);
    }
    // A CAF file cut short (a copy broken off) imports the frames it holds.
    const std::string caf = bytesOf(sineFile(48000, 2, 96000, "-c:a pcm_s16le", "whole.caf"));
    EXPECT_EQ(AudioIO::read(writeBytes("cut.caf", caf.substr(0, caf.find("data") + 16 + 4 * 50000))).frames(), 50000);
    EXPECT_TRUE(AudioIO::lastEndedEarly());
}

// Vorbis decodes every frame up to the length the Ogg stream states, in .ogg and .oga alike:
// the source frames counted by sox (an independent reader), resampled to 48 kHz.
TEST_F(AudioIOTest, VorbisKeepsItsWholeStatedLength) {
    if (std::system("sox --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "the sox program is not installed";
    for (const double seconds : {0.0667, 1.234, 3.01}) {
        for (const char* ext : {"ogg", "oga"}) {
            for (const int channels : {1, 2}) {
                const std::string name = "sine-" + std::to_string(seconds) + "-" + std::to_string(channels) + "." + ext;
                SCOPED_TRACE(name);
                const fs::path file = dir_ / name;
                const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i sine=f=440:r=44100 -t " +
                                        std::to_string(seconds) + " -ac " + std::to_string(channels) +
                                        " -c:a libvorbis '" + file.string() + "'";
                ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
                const std::int64_t source = std::stoll(test::commandOutput("sox --i -s '" + file.string() + "'"));
                EXPECT_EQ(source, std::llround(seconds * 44100));
                const AudioData audio = AudioIO::read(file);
                EXPECT_NEAR(static_cast<double>(audio.frames()), static_cast<double>(source) * 48000 / 44100, 1.0);
                if (seconds < 0.1) EXPECT_NEAR(static_cast<double>(audio.frames()), 3201, 1.0);
                // The end is the sine (RMS 0.088 at its default level 1/8, 0.0625 when ffmpeg
                // spreads it over two channels), not padding.
                double sum = 0;
                for (std::int64_t i = audio.frames() - 120; i < audio.frames() - 20; ++i)
                    sum += double(audio.left[std::size_t(i)]) * audio.left[std::size_t(i)];
                EXPECT_GT(std::sqrt(sum / 100), channels == 1 ? 0.08 : 0.055);
                EXPECT_EQ(audio.left.size(), audio.right.size());
            }
        }
    }
}

// File names are paths, never protocol names.
TEST_F(AudioIOTest, NamesWithColonsAndSpacesAreFiles) {
    const fs::path file = sineFile(48000, 2, 4800, "-c:a pcm_s16le", "clip one.wav");
    const fs::path odd = dir_ / "http: take 2.wav";
    fs::copy_file(file, odd);
    EXPECT_EQ(AudioIO::read(odd).frames(), 4800);
}

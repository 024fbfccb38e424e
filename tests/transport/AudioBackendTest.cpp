// Device lists from a scripted table, the PortAudio backend on this machine (quietly), and
// the paced null backend's clock.
#include <gtest/gtest.h>

#include <alsa/asoundlib.h>
#include <portaudio.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "TransportTestSupport.h"
#include "model/Defaults.h"
#include "transport/AudioDevices.h"
#include "transport/AudioRecorder.h"
#include "transport/PlaybackVoice.h"
#include "transport/PortAudioBackend.h"

namespace tessoral {
namespace {

using test::ScopedEnv;
using namespace std::chrono_literals;

TEST(AudioDevices, ListsFollowTheChannelsOfEachScope) {
    NullAudioBackend backend;
    backend.setDevices({
        {1, "ALSA/Speakers", "Speakers", 0, 2},
        {2, "ALSA/USB Mic", "USB Mic", 1, 0},
        {4, "ALSA/Interface", "Interface", 2, 2},
        {5, "ALSA/Nameless", "", 2, 2},  // never listed
        {6, "", "No UID", 2, 2},         // never listed
        {8, "ALSA/Dead", "Dead", 0, 0},
    });
    const std::vector<AudioDevice> outputs{{1, "ALSA/Speakers", "Speakers"}, {4, "ALSA/Interface", "Interface"}};
    const std::vector<AudioDevice> inputs{{2, "ALSA/USB Mic", "USB Mic"}, {4, "ALSA/Interface", "Interface"}};
    EXPECT_EQ(AudioDevices::devices(backend, AudioDeviceScope::output), outputs);
    EXPECT_EQ(AudioDevices::devices(backend, AudioDeviceScope::input), inputs);

    // The lookup searches inputs and outputs alike, by exact uid.
    EXPECT_EQ(AudioDevices::deviceID(backend, "ALSA/USB Mic"), 2u);
    EXPECT_EQ(AudioDevices::deviceID(backend, "ALSA/Interface"), 4u);
    EXPECT_EQ(AudioDevices::deviceID(backend, "ALSA/Nameless"), 5u);
    EXPECT_EQ(AudioDevices::deviceID(backend, "alsa/interface"), std::nullopt);
    EXPECT_EQ(AudioDevices::deviceID(backend, "ALSA/Unplugged"), std::nullopt);
    EXPECT_EQ(AudioDevices::deviceID(backend, ""), std::nullopt);

    backend.setDevices({});
    EXPECT_TRUE(AudioDevices::devices(backend, AudioDeviceScope::output).empty());
    EXPECT_TRUE(AudioDevices::devices(backend, AudioDeviceScope::input).empty());
    EXPECT_EQ(AudioDevices::deviceID(backend, "ALSA/Speakers"), std::nullopt);
}

TEST(AudioDevices, UIDsNameHostAndDeviceAndNumberDuplicates) {
    const auto uids = PortAudioBackend::deviceUIDs({{"ALSA", "USB Audio"},
                                                    {"ALSA", "pulse"},
                                                    {"ALSA", "USB Audio"},
                                                    {"JACK Audio Connection Kit", "USB Audio"},
                                                    {"ALSA", ""},
                                                    {"ALSA", "USB Audio"}});
    const std::vector<std::string> expected{"ALSA/USB Audio",  "ALSA/pulse", "ALSA/USB Audio #2",
                                            "JACK Audio Connection Kit/USB Audio", "", "ALSA/USB Audio #3"};
    EXPECT_EQ(uids, expected);
}

// Runs `work` with the process's stderr sent to a file and returns what was written.
template <class Work>
std::string capturedStderr(Work&& work) {
    std::fflush(stderr);
    char path[] = "/tmp/tessoral-stderr-XXXXXX";
    const int file = mkstemp(path);
    const int saved = dup(2);
    dup2(file, 2);
    work();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(file);
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path);
    return text;
}


// A private ALSA configuration whose one PCM is a plugin that prints past ALSA's error handler
// (as the jack plugin does), and a JACK server name nobody runs: the same on every machine.
class PrivateAudioSetup {
public:
    explicit PrivateAudioSetup(const std::string& more = {})
        : path_(writeConfig(more)),
          alsa_("ALSA_CONFIG_PATH", path_),
          jack_("JACK_DEFAULT_SERVER", "tessoral-test-absent-" + std::to_string(::getpid())),
          noStart_("JACK_NO_START_SERVER", "1") {}
    ~PrivateAudioSetup() { std::remove(path_.c_str()); }
    // The configuration changes under the running program (a new file in its place).
    void change(const std::string& more) { std::rename(writeConfig(more).c_str(), path_.c_str()); }

private:
    static std::string writeConfig(const std::string& more) {
        char path[] = "/tmp/tessoral-alsa-XXXXXX";
        const int file = mkstemp(path);
        const std::string text = std::string("pcm_type.tessoralnoisy { lib \"") + TESSORAL_NOISY_ALSA_PCM +
                                 "\" }\npcm.tessoralnoisy { type tessoralnoisy }\n" + more;
        EXPECT_EQ(::write(file, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(file);
        return path;
    }
    std::string path_;
    ScopedEnv alsa_, jack_, noStart_;
};

TEST(PortAudioBackend, StartsQuietlyAndFallsBackToTheNullBackendWithoutDevices) {
    const auto plugin = test::pulsePlugin();
    ASSERT_TRUE(plugin) << "ALSA's pulse plugin (libasound2-plugins) is not installed";
    // Without devices: nothing set up for sound, or a sound server that is not running (its
    // socket absent) set up as the default, PipeWire's or PulseAudio's device.
    for (const std::string device : {"", "default", "pipewire", "pulse"}) {
        SCOPED_TRACE("the server not running as: " + device);
        // The backend of the round before may have left the library open (its destructor does not
        // wait for a stream or a scan still under way): a fresh start lists the devices anew.
        while (Pa_Terminate() == paNoError) {
        }
        const bool server = !device.empty();
        PrivateAudioSetup setup(server ? "pcm_type.pulse { lib \"" + *plugin + "\" }\npcm." + device +
                                             " { type pulse server \"unix:/tmp/tessoral-absent-server\" }\n"
                                       : "");
        {
            // The premise: opened directly, the plugin does print.
            const std::string direct = capturedStderr([] {
                snd_pcm_t* pcm = nullptr;
                if (snd_pcm_open(&pcm, "tessoralnoisy", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) == 0) snd_pcm_close(pcm);
            });
            ASSERT_NE(direct.find("snd_pcm_tessoralnoisy_open: WARNING"), std::string::npos) << direct;
        }
        std::vector<BackendDevice> table;
        bool hasOutput = true;
        std::unique_ptr<AudioBackend> chosen;
        const std::string noise = capturedStderr([&] {
            {
                PortAudioBackend backend;
                table = backend.deviceTable();
                hasOutput = backend.hasOutputDevice();
                EXPECT_TRUE(backend.refreshDevices());
            }
            chosen = AudioBackend::system();
        });
        EXPECT_EQ(noise, "") << "ALSA, its plugins and JACK must stay silent";
        EXPECT_TRUE(table.empty());
        EXPECT_FALSE(hasOutput);
        auto* null = dynamic_cast<NullAudioBackend*>(chosen.get());
        if (!server) {
            // Nothing to play through: the program still plays, through the paced null backend.
            ASSERT_NE(null, nullptr);
            EXPECT_EQ(null->mode(), NullAudioBackend::Mode::paced);
            continue;
        }
        // Playing and recording say the server is not running; once it runs (here: a default that
        // plays), the next try finds its device.
        ASSERT_EQ(null, nullptr);
        StartingAudioBackend backend([&chosen] { return std::move(chosen); });  // as the program starts it
        auto voice = std::make_shared<PlaybackVoice>(AudioData::silence(10), false, std::vector<ClickPlacement>{}, Uuid::random());
        const auto open = [&] { return openStreamBy(backend, {}, voice, false, std::chrono::steady_clock::now() + 10s); };
        MemoryDefaults defaults;
        AudioRecorder recorder(backend, defaults);
        EXPECT_THROW(open(), SoundServerGone);
        EXPECT_THROW(recorder.checkInput(), SoundServerGone);
        setup.change("pcm.default { type null }\n");
        EXPECT_NE(open(), nullptr);
        EXPECT_GT(recorder.checkInput().inputChannels, 0);
    }
}

TEST(PortAudioBackend, ScansThisMachineQuietly) {
    std::vector<BackendDevice> table;
    const std::string noise = capturedStderr([&] {
        PortAudioBackend backend;
        table = backend.deviceTable();
    });
    EXPECT_EQ(noise, "");
    for (const BackendDevice& d : table) {
        EXPECT_FALSE(d.uid.empty());
        EXPECT_NE(d.uid.find('/'), std::string::npos);
    }
}

TEST(StartingAudioBackend, DevicesArriveWhenTheStartEndsAndAQuitWaitsForNoOpening) {
    std::promise<void> go;
    StartingAudioBackend backend([ready = go.get_future().share()] {
        ready.wait();  // a sound server that keeps the library's start waiting
        auto made = std::make_unique<NullAudioBackend>(NullAudioBackend::Mode::manual);
        made->setDevices({{3, "ALSA/Mic", "Mic", 1, 0}, {4, "ALSA/Speakers", "Speakers", 0, 2}});
        made->setSoundServerGone(true);
        return made;
    });
    auto callback = std::make_shared<PlaybackVoice>(AudioData::silence(10), false, std::vector<ClickPlacement>{}, Uuid::random());
    const auto open = [&](auto wait) { return openStreamBy(backend, {}, callback, true, std::chrono::steady_clock::now() + wait); };
    MemoryDefaults defaults;
    AudioRecorder recorder(backend, defaults);
    // Before: no devices; Record and Space say the server does not answer.
    EXPECT_TRUE(!backend.started() && backend.deviceTable().empty() && !backend.soundServerGone());
    EXPECT_THROW(recorder.checkInput(), SoundServerSilent);
    EXPECT_THROW(open(100ms), SoundServerSilent);
    // An opening waiting for the start and a scan under way get the devices when it ends.
    bool scanned = false;
    std::thread scan([scanner = backend.scanner(), &scanned] { scanned = scanner(); });
    std::thread later([&go] { std::this_thread::sleep_for(200ms), go.set_value(); });
    EXPECT_TRUE(open(60s) && backend.started());
    scan.join();
    later.join();
    EXPECT_TRUE(scanned && backend.soundServerGone());  // as the backend made says
    EXPECT_EQ(recorder.checkInput().inputChannels, 1);
    // The backend made ends with this, though an opening's thread still holds the state.
    {
        bool ended = false;
        struct Marked final : AudioBackend {
            bool& ended;
            explicit Marked(bool& e) : ended(e) {}
            ~Marked() override { ended = true; }
            std::vector<BackendDevice> deviceTable() const override { return {}; }
            bool refreshDevices() override { return true; }
            std::unique_ptr<AudioStream> openStream(const AudioStreamRequest&, AudioCallback&) override { return nullptr; }
        };
        AudioBackend::Opener held;
        {
            StartingAudioBackend starting([&ended] { return std::make_unique<Marked>(ended); });
            starting.scanner()();  // waits for the start
            held = starting.opener();
        }
        EXPECT_TRUE(ended);
    }
    // The program's end gives up every opening at once, however long its caller would wait.
    const auto givesUpAtOnce = [&](AudioBackend& on) {
        const auto asked = std::chrono::steady_clock::now();
        try {
            openStreamBy(on, {}, callback, true, asked + 30s);
        } catch (const SoundServerSilent&) {
            std::_Exit(std::chrono::steady_clock::now() - asked < 5s ? 0 : 2);
        }
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            StartingAudioBackend never([]() -> std::unique_ptr<AudioBackend> { std::this_thread::sleep_for(60s); return nullptr; });
            std::thread([] { std::this_thread::sleep_for(100ms), giveUpStreamOpenings(); }).detach();
            givesUpAtOnce(never);
        },
        ::testing::ExitedWithCode(0), "");
    // So it does an opening that began on a started library and that the sound server keeps.
    EXPECT_EXIT(
        {
            NullAudioBackend held(NullAudioBackend::Mode::manual);
            held.hold(true);
            struct Stuck final : AudioBackend {
                NullAudioBackend& held;
                std::promise<void> began;
                explicit Stuck(NullAudioBackend& b) : held(b) {}
                std::vector<BackendDevice> deviceTable() const override { return {}; }
                bool refreshDevices() override { return false; }
                std::unique_ptr<AudioStream> openStream(const AudioStreamRequest& r, AudioCallback& c) override {
                    began.set_value();
                    return held.openStream(r, c);
                }
            } stuck(held);
            std::thread([began = stuck.began.get_future()] { began.wait(), giveUpStreamOpenings(); }).detach();
            givesUpAtOnce(stuck);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(NullAudioBackend, PacedModeKeepsTimeWithTheClock) {
    // A short, bounded real-time check: the playhead moves, and never runs ahead of the clock.
    NullAudioBackend backend(NullAudioBackend::Mode::paced);
    ManualScheduler scheduler;
    MemoryDefaults defaults;
    AudioTransport transport(backend, scheduler, defaults);
    using clock = std::chrono::steady_clock;
    const auto begin = clock::now();
    transport.play(AudioData::silence(10 * 48000), 1.0, false, std::nullopt);
    const auto deadline = begin + std::chrono::seconds(2);
    while (transport.position() <= 1.05 && clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        scheduler.advance();
    }
    const double elapsed = std::chrono::duration<double>(clock::now() - begin).count();
    const double played = transport.position() - 1.0;
    EXPECT_GT(played, 0.05);
    // One block may be rendered ahead of its time, no more.
    EXPECT_LE(played, elapsed + 2.0 * NullAudioBackend::kBlockFrames / 48000.0);
    transport.stop();
    EXPECT_TRUE(transport.waitUntilStopped(std::chrono::seconds(60)));
    EXPECT_EQ(backend.openStreams(), 0);
}

}  // namespace
}  // namespace tessoral

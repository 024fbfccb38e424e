// Autosave, recovery and export defaults with the real settings file and data folder of this test
// process (private XDG folders set up by the test main): a child process autosaves (or exports) and
// is killed, and a new store in the parent finds what it left.

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "StoreTestSupport.h"
#include "model/AppPaths.h"
#include "model/AtomicFile.h"
#include "store/SettingsDefaults.h"
#include "support/TestTools.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

constexpr const char* kChildVariable = "TESSORAL_STORE_CHILD_FD";
constexpr const char* kExportVariable = "TESSORAL_STORE_EXPORT_FOLDER";

const std::filesystem::path kProjectPath = "/srv/Проекты/Запись.tessoral";

Track childClip() { return Track::make("Дубль", noise(48000, 0.5f, 7)); }

// The services of a store that uses the real settings and data folder.
struct RealServices {
    ManualScheduler scheduler;
    ManualTaskRunner tasks;
    SettingsDefaults defaults;
    FakePrompts prompts;
    FakeShell shell;
    NullAudioBackend backend{NullAudioBackend::Mode::manual};

    StoreServices services() {
        StoreServices s;
        s.scheduler = &scheduler;
        s.tasks = &tasks;
        s.defaults = &defaults;
        s.prompts = &prompts;
        s.shell = &shell;
        s.backend = &backend;
        s.dataFolder = AppPaths::dataFolder();
        return s;
    }
};

std::vector<std::string> temporaries(const std::filesystem::path& folder) {
    std::vector<std::string> out;
    for (const auto& name : folderEntries(folder))
        if (AtomicFile::isTemporaryName(name)) out.push_back(name);
    return out;
}

// Puts "project.autosave=false" into the settings file as a person editing it would.
void switchAutosaveOffInTheFile(const std::string& file) {
    std::stringstream text;
    if (std::ifstream in(file); in) text << in.rdbuf();
    std::string content = text.str();
    const std::string line = "project.autosave=false\n";
    const auto general = content.find("[General]\n");
    if (general == std::string::npos)
        content = "[General]\n" + line + "\n" + content;
    else
        content.insert(general + 10, line);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file, std::ios::trunc) << content;
}

}  // namespace

// The child's part: runs only when the parent test starts this binary for it.
TEST(StoreRealFilesChild, AutosavesThenWaitsToBeKilled) {
    const char* fd = std::getenv(kChildVariable);
    if (!fd) GTEST_SKIP() << "started by StoreRealFiles only";
    RealServices rig;
    StudioStore store(rig.services());
    store.setExportFormat(ExportFormat::flac);
    store.setExportSampleRate(ExportSampleRate::hz44100);
    store.setExportLoudness(LoudnessTarget::podcast);
    store.setExportDither(false);
    store.saveExportDefaults();

    store.checkpoint("Импорт аудио");
    Session s;
    s.tracks.push_back(childClip());
    store.setSession(s);
    store.setProjectURL(kProjectPath);
    rig.scheduler.advanceBy(60);
    rig.tasks.runAll();
    ASSERT_TRUE(std::filesystem::exists(*store.recoveryURL()));

    const int out = std::atoi(fd);
    ASSERT_EQ(::write(out, "ready\n", 6), 6);
    for (;;) ::pause();  // until killed
}

TEST(StoreRealFiles, AKilledSessionIsOfferedAndRestoredAndSettingsKeepTheirTypes) {
    {
        RealServices rig;
        rig.defaults.remove("project.autosave");
        StudioStore cleaner(rig.services());
        cleaner.clearRecovery();
    }

    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(channel[0]);
        const std::string fd = std::to_string(channel[1]);
        ::setenv(kChildVariable, fd.c_str(), 1);
        ::execl("/proc/self/exe", "store_tests", "--gtest_filter=StoreRealFilesChild.*", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(channel[1]);
    std::string said;
    char buffer[64];
    ssize_t n;
    while (said.find('\n') == std::string::npos && (n = ::read(channel[0], buffer, sizeof buffer)) > 0)
        said.append(buffer, static_cast<std::size_t>(n));
    ::close(channel[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(said, "ready\n") << "the child did not autosave";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    // A new run: settings read from the file, the copy offered with its date and restored.
    RealServices rig;
    rig.prompts.alertAnswers.push_back(0);
    StudioStore store(rig.services());
    EXPECT_EQ(store.exportFormat(), ExportFormat::flac);
    EXPECT_EQ(store.exportSampleRate(), ExportSampleRate::hz44100);
    EXPECT_EQ(store.exportLoudness(), LoudnessTarget::podcast);
    EXPECT_TRUE(store.exportNormalize());
    EXPECT_FALSE(store.exportDither());
    const auto rate = rig.defaults.value("export.default.samplerate");
    const auto dither = rig.defaults.value("export.default.dither");
    ASSERT_TRUE(rate && dither);
    EXPECT_TRUE(std::holds_alternative<long long>(*rate));
    EXPECT_TRUE(std::holds_alternative<bool>(*dither));

    ASSERT_TRUE(store.offerRecovery());
    ASSERT_EQ(rig.prompts.alerts.size(), 1u);
    EXPECT_EQ(rig.prompts.alerts[0].informative.rfind("Tessoral не был закрыт штатно. Копия от ", 0), 0u)
        << rig.prompts.alerts[0].informative;
    ASSERT_EQ(store.session().tracks.size(), 1u);
    EXPECT_EQ(store.session().tracks[0].name, "Дубль");
    EXPECT_EQ(store.session().tracks[0].audio, childClip().audio);
    EXPECT_EQ(store.projectURL(), kProjectPath);
    EXPECT_TRUE(store.dirty());

    // "project.autosave=false" written into the settings file stops the writing.
    store.clearRecovery();
    switchAutosaveOffInTheFile(rig.defaults.fileName());
    RealServices second;
    EXPECT_EQ(second.defaults.value("project.autosave"), DefaultsValue(false));
    StudioStore next(second.services());
    next.checkpoint("Правка");
    Session s;
    s.tracks.push_back(childClip());
    next.setSession(s);
    second.scheduler.advanceBy(60);
    second.tasks.runAll();
    EXPECT_FALSE(std::filesystem::exists(*next.recoveryURL()));
    second.defaults.remove("project.autosave");
}

// The child's part: exports a four-minute mix to new names until it is killed.
TEST(StoreRealFilesChild, ExportsUntilKilled) {
    const char* folder = std::getenv(kExportVariable);
    if (!folder) GTEST_SKIP() << "started by StoreRealFiles only";
    RealServices rig;
    StudioStore store(rig.services());
    store.setExportFormat(ExportFormat::wav24);
    store.setExportNormalize(false);
    Session s;
    s.tracks.push_back(Track::make("Длинная запись", constant(4 * 60 * 48000, 0.25f)));
    store.setSession(s);
    std::fputs("exporting\n", stdout);
    std::fflush(stdout);
    for (int i = 0;; ++i) {
        rig.prompts.saveAnswers.push_back(std::filesystem::path(folder) / ("Микс " + std::to_string(i)));
        store.exportMix();
        rig.tasks.runAll();
    }
}

TEST(StoreRealFiles, AnExportKilledMidWriteLeavesNoTemporaryAfterTheNextStart) {
    TemporaryFolder out;
    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(channel[1], STDOUT_FILENO);
        ::close(channel[0]);
        ::setenv(kExportVariable, out.path().c_str(), 1);
        ::execl("/proc/self/exe", "store_tests", "--gtest_filter=StoreRealFilesChild.ExportsUntilKilled", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(channel[1]);
    std::string said;
    char buffer[256];
    ssize_t n;
    while (said.find("exporting\n") == std::string::npos && (n = ::read(channel[0], buffer, sizeof buffer)) > 0)
        said.append(buffer, static_cast<std::size_t>(n));
    ::close(channel[0]);
    // Killed as soon as the export's hidden temporary is seen beside its target.
    std::vector<std::string> seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    int status = 0;
    bool ended = false;
    while (seen.empty() && !ended && std::chrono::steady_clock::now() < deadline) {
        seen = temporaries(out.path());
        ended = ::waitpid(child, &status, WNOHANG) == child;
        if (seen.empty()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (!ended) {
        ::kill(child, SIGKILL);
        ASSERT_EQ(::waitpid(child, &status, 0), child);
    }
    ASSERT_NE(said.find("exporting\n"), std::string::npos) << said;
    ASSERT_EQ(seen.size(), 1u) << "no export was caught while it was written";
    EXPECT_EQ(temporaries(out.path()), seen);

    // The next start removes it, wherever it was, and the record keeps nothing.
    RealServices rig;
    StudioStore store(rig.services());
    EXPECT_EQ(temporaries(out.path()), std::vector<std::string>{});
    EXPECT_EQ(folderEntries(AppPaths::dataFolder() / "Temporaries"), std::vector<std::string>{});
}

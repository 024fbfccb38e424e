// The settings window over real settings in a temporary INI file: first-start defaults, every
// control writing its key with its type, values outside a picker's choices left alone, the
// language note, the missing microphone and the device refresh.

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTest>


#include <gtest/gtest.h>

#include "ProcessingPanelsSupport.h"
#include "model/Localization.h"
#include "panels/PanelSupport.h"
#include "panels/Settings.h"
#include "store/Preferences.h"
#include "store/SettingsDefaults.h"
#include "support/store/CommaDecimalLocale.h"
#include "widgets/Palette.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

BackendDevice device(std::uint32_t id, const std::string& uid, const std::string& name, int in, int out) {
    BackendDevice d;
    d.id = id;
    d.uid = uid;
    d.name = name;
    d.inputChannels = in;
    d.outputChannels = out;
    return d;
}

class SettingsTest : public ::testing::Test {
protected:
    TemporaryFolder config;
    std::string file = (config.path() / "Tessoral" / "Tessoral.conf").string();
    SettingsDefaults settings{file};
    Preferences prefs{settings};
    NullAudioBackend backend{NullAudioBackend::Mode::manual};
    std::unique_ptr<SettingsView> view;

    void SetUp() override {
        backend.setDevices({device(1, "alsa/Built-in", "Встроенный", 2, 2), device(2, "alsa/HDMI", "HDMI", 0, 2)});
    }
    void build() {
        view = std::make_unique<SettingsView>(prefs, &backend, "/home/u/.local/share/Tessoral");
        view->show();
    }
    QString noteText() const { return view->languageNote()->text(); }
    QColor noteColor() const { return view->languageNote()->palette().color(QPalette::WindowText); }
};

TEST_F(SettingsTest, FirstStartShowsTheDefaults) {
    build();
    EXPECT_EQ(view->microphonePicker()->currentText(), qs(L("Системный по умолчанию")));
    EXPECT_EQ(view->microphonePicker()->count(), 2);  // the default and the one input
    EXPECT_EQ(view->outputPicker()->currentText(), qs(L("Системное по умолчанию")));
    EXPECT_EQ(view->outputPicker()->count(), 3);
    EXPECT_TRUE(view->microphoneWarning()->isHidden());
    EXPECT_EQ(view->countdownPicker()->currentText(), qs(L("Выключен")));
    EXPECT_TRUE(view->overdubToggle()->isChecked());
    EXPECT_EQ(view->preRollPicker()->currentText(), qs(L("{0} с", 2)));
    EXPECT_EQ(view->latencyValue()->text(), QStringLiteral("+0"));
    EXPECT_FALSE(view->monitorToggle()->isChecked());
    EXPECT_TRUE(view->monitorLevelRow()->isHidden());
    EXPECT_TRUE(view->headphonesWarning()->isHidden());
    EXPECT_TRUE(view->followToggle()->isChecked());
    EXPECT_EQ(view->formatPicker()->currentData().toString(), QStringLiteral("wav24"));
    EXPECT_EQ(view->loudnessPicker()->currentData().toString(), QStringLiteral("peak"));
    EXPECT_EQ(view->sampleRatePicker()->currentData().toInt(), 48000);
    EXPECT_TRUE(view->ditherToggle()->isChecked());
    EXPECT_TRUE(view->autosaveToggle()->isChecked());
    EXPECT_EQ(view->languagePicker()->currentData().toString(), QStringLiteral("system"));
    EXPECT_EQ(noteColor(), Palette::secondaryText());
    EXPECT_TRUE(noteText().contains(qs(L("Системный — язык системы: русский, если он первый в списке языков, иначе английский."))));
    EXPECT_TRUE(view->autosaveNote()->text().contains(QStringLiteral("/home/u/.local/share/Tessoral")));
    // Showing writes nothing.
    EXPECT_FALSE(settings.value("record.countdown"));
    EXPECT_FALSE(settings.value("interfaceLanguage"));
}

TEST_F(SettingsTest, LatencyAndMonitoringLevelTexts) {
    const CommaDecimalLocale comma(config.path());
    build();
    view->latencySlider()->setValue(-200);
    EXPECT_EQ(view->latencyValue()->text(), QStringLiteral("-200"));
    EXPECT_EQ(settings.number("record.latency.ms"), -200.0);
    view->latencySlider()->setValue(0);
    EXPECT_EQ(view->latencyValue()->text(), QStringLiteral("+0"));
    view->latencySlider()->setValue(200);
    EXPECT_EQ(view->latencyValue()->text(), QStringLiteral("+200"));
    // Each step is written, as a whole number of milliseconds.
    view->latencySlider()->setValue(37);
    EXPECT_EQ(settings.integer("record.latency.ms"), 37);

    view->monitorToggle()->setChecked(true);
    EXPECT_FALSE(view->monitorLevelRow()->isHidden());
    EXPECT_FALSE(view->headphonesWarning()->isHidden());
    prefs.set("record.monitor.level", 0.125);
    EXPECT_EQ(view->monitorLevelValue()->text(), QStringLiteral("13 %"));
    view->monitorLevelSlider()->setValue(456);
    EXPECT_EQ(settings.number("record.monitor.level"), 0.456);
    EXPECT_EQ(view->monitorLevelValue()->text(), QStringLiteral("46 %"));
    // Assistive technology reads and sets the percent shown, not the slider's steps.
    QAccessibleInterface* level = QAccessible::queryAccessibleInterface(view->monitorLevelSlider());
    EXPECT_EQ(level->text(QAccessible::Value), QStringLiteral("46 %"));
    EXPECT_DOUBLE_EQ(level->valueInterface()->currentValue().toDouble(), 45.6);
    level->valueInterface()->setCurrentValue(45.7);
    EXPECT_EQ(settings.number("record.monitor.level"), 0.457);
    QTest::keyClick(view->monitorLevelSlider(), Qt::Key_Right);
    EXPECT_EQ(view->monitorLevelValue()->text(), QStringLiteral("47 %"));
    QTest::keyClick(view->monitorLevelSlider(), Qt::Key_PageDown);
    EXPECT_DOUBLE_EQ(*settings.number("record.monitor.level"), 0.367);
    view->monitorToggle()->setChecked(false);
    EXPECT_TRUE(view->monitorLevelRow()->isHidden());
    EXPECT_EQ(settings.number("record.monitor.level"), 0.367);
}

TEST_F(SettingsTest, ValuesOutsideThePickersStayAsTheyAre) {
    settings.set("record.countdown", 5LL);
    settings.set("export.default.format", std::string("mp3"));
    build();
    EXPECT_EQ(view->countdownPicker()->currentIndex(), -1);
    EXPECT_EQ(view->formatPicker()->currentIndex(), -1);
    // Other changes and closing leave them alone.
    view->ditherToggle()->setChecked(false);
    view->hide();
    view.reset();
    EXPECT_EQ(SettingsDefaults(file).integer("record.countdown"), 5);
    EXPECT_EQ(SettingsDefaults(file).string("export.default.format"), "mp3");
}

TEST_F(SettingsTest, LanguageNoteFollowsThePickerAgainstTheLaunchValue) {
    build();
    view->languagePicker()->setCurrentIndex(2);  // English
    EXPECT_EQ(noteText(), qs(L("Язык сменится после перезапуска Tessoral.")));
    EXPECT_EQ(noteColor(), panels::orange());
    EXPECT_EQ(settings.string("interfaceLanguage"), "en");
    const auto list = settings.stringList("AppleLanguages");
    ASSERT_TRUE(list && !list->empty());
    EXPECT_EQ(list->front(), "en");
    view->languagePicker()->setCurrentIndex(0);
    EXPECT_EQ(noteColor(), Palette::secondaryText());
    EXPECT_FALSE(settings.value("AppleLanguages"));
    EXPECT_EQ(view->launchLanguage(), QStringLiteral("system"));
}

TEST_F(SettingsTest, UnknownStoredLanguageShowsNoSelectionAndTheRestartNote) {
    settings.set("interfaceLanguage", std::string("de"));
    build();
    EXPECT_EQ(view->launchLanguage(), QStringLiteral("system"));
    EXPECT_EQ(view->languagePicker()->currentIndex(), -1);
    EXPECT_EQ(noteColor(), panels::orange());
    EXPECT_EQ(settings.string("interfaceLanguage"), "de");
}

TEST_F(SettingsTest, MissingMicrophoneWarnsUntilARefreshFindsIt) {
    settings.set("input.device.uid", std::string("usb/Podcast Mic"));
    build();
    EXPECT_FALSE(view->microphoneWarning()->isHidden());
    EXPECT_EQ(view->microphonePicker()->currentIndex(), -1);
    backend.setDevices({device(1, "alsa/Built-in", "Встроенный", 2, 2), device(5, "usb/Podcast Mic", "Podcast Mic", 1, 0)});
    view->refreshButton()->click();
    EXPECT_TRUE(view->microphoneWarning()->isHidden());
    EXPECT_EQ(view->microphonePicker()->currentText(), QStringLiteral("Podcast Mic"));
    EXPECT_EQ(settings.string("input.device.uid"), "usb/Podcast Mic");
}

TEST_F(SettingsTest, AScanTheSoundServerKeepsWaitingLeavesTheWindowAndTheListsKnown) {
    backend.hold(true);
    build();  // the scan waits on its own thread
    view->refreshButton()->click();  // the known lists meanwhile
    EXPECT_TRUE(view->scanning() && view->microphonePicker()->count() == 2);
    backend.setDevices({device(1, "alsa/Built-in", "Встроенный", 2, 2), device(5, "usb/Podcast Mic", "Podcast Mic", 1, 0)});
    backend.hold(false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !view->scanning(); }, 10000));
    EXPECT_EQ(view->microphonePicker()->count(), 3) << "what the scan found, once it lands";
    // A sound server that is not running brings no device: the note says so, until it runs again.
    const QString usual = view->devicesNote()->text();
    for (const bool gone : {true, false}) {
        backend.setDevices(gone ? std::vector<BackendDevice>{} : std::vector{device(2, "alsa/HDMI", "HDMI", 0, 2)});
        backend.setSoundServerGone(gone);
        view->refreshButton()->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !view->scanning(); }, 10000));
        EXPECT_EQ(view->outputPicker()->count(), gone ? 1 : 2);
        EXPECT_EQ(view->devicesNote()->text(),
                  gone ? qs(L("Звуковой сервер не запущен. Запустите его и попробуйте ещё раз.")) : usual);
        EXPECT_EQ(view->devicesNote()->palette().color(QPalette::WindowText),
                  gone ? panels::orange() : Palette::secondaryText());
    }
}

TEST_F(SettingsTest, ExportWritingItsDefaultsBackShowsAtOnce) {
    build();
    prefs.set("export.default.format", std::string("flac"));
    EXPECT_EQ(view->formatPicker()->currentData().toString(), QStringLiteral("flac"));
}

TEST_F(SettingsTest, EveryKeyReadsBackWithItsTypeFromTheFile) {
    build();
    view->microphonePicker()->setCurrentIndex(1);
    view->outputPicker()->setCurrentIndex(2);
    view->countdownPicker()->setCurrentIndex(2);
    view->followToggle()->setChecked(false);
    view->formatPicker()->setCurrentIndex(4);
    view->loudnessPicker()->setCurrentIndex(3);
    view->sampleRatePicker()->setCurrentIndex(2);
    view->ditherToggle()->setChecked(false);
    view->autosaveToggle()->setChecked(false);
    view->overdubToggle()->setChecked(false);
    view->preRollPicker()->setCurrentIndex(3);
    view->latencySlider()->setValue(-15);
    view->monitorToggle()->setChecked(true);
    view->monitorLevelSlider()->setValue(500);
    view->languagePicker()->setCurrentIndex(1);

    const SettingsDefaults back(file);
    EXPECT_EQ(back.string("input.device.uid"), "alsa/Built-in");
    EXPECT_EQ(back.string("output.device.uid"), "alsa/HDMI");
    EXPECT_EQ(back.integer("record.countdown"), 3);
    EXPECT_EQ(back.boolean("playback.follow"), false);
    EXPECT_EQ(back.string("export.default.format"), "flac");
    EXPECT_EQ(back.string("export.default.loudness"), "podcast");
    EXPECT_EQ(back.integer("export.default.samplerate"), 96000);
    EXPECT_EQ(back.boolean("export.default.dither"), false);
    EXPECT_EQ(back.boolean("project.autosave"), false);
    EXPECT_EQ(back.boolean("record.overdub"), false);
    EXPECT_EQ(back.integer("record.preroll"), 3);
    EXPECT_EQ(back.number("record.latency.ms"), -15.0);
    EXPECT_EQ(back.boolean("record.monitor"), true);
    EXPECT_EQ(back.number("record.monitor.level"), 0.5);
    EXPECT_EQ(back.string("interfaceLanguage"), "ru");
    const auto list = back.stringList("AppleLanguages");
    ASSERT_TRUE(list);
    EXPECT_EQ(list->front(), "ru");
    // The plain INI file holds all sixteen.
    QSettings ini(QString::fromStdString(file), QSettings::IniFormat);
    EXPECT_EQ(ini.allKeys().size(), 16);
}

}  // namespace

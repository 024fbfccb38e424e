#pragma once

#include <QString>
#include <QWidget>

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "transport/AudioDevices.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTimer;
class QSlider;

namespace tessoral {

class AudioBackend;
class Preferences;
class StudioStore;

// The settings window's content, 440 wide: interface language, microphone and recording, output and
// playhead following, export defaults, autosave, and the device list's refresh. Every control
// writes its key at once (each slider step too) and shows what the settings hold: each key is read
// again when the window becomes active, when it is shown and whenever the preferences change. A
// stored value that none of a picker's entries has leaves the picker without a selection and the
// value as it is.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 440;

    // Over `preferences`; devices from `backend` (none: only the default entries); `dataFolder`
    // named in the autosave note.
    SettingsView(Preferences& preferences, AudioBackend* backend, std::filesystem::path dataFolder,
                 QWidget* parent = nullptr);
    // Over the store's settings (its own Preferences object when the store's is a plain one), the
    // store's audio backend and data folder.
    explicit SettingsView(StudioStore& store, QWidget* parent = nullptr);
    ~SettingsView() override;

    // The language in force since the program started ("system", "ru" or "en").
    const QString& launchLanguage() const { return launchLanguage_; }
    const std::vector<AudioDevice>& inputs() const { return inputs_; }
    const std::vector<AudioDevice>& outputs() const { return outputs_; }

    // Fills both pickers from the devices known now and scans the devices again away from the
    // window (the backend refuses while a stream is open: the lists are read again all the same);
    // the pickers are filled again when the scan lands. A press while a scan runs starts no other.
    void refreshDevices();
    // A device scan is under way.
    bool scanning() const { return scanLanded_ != nullptr; }
    // Shows what the settings hold now.
    void reload();

    QComboBox* languagePicker() const { return language_; }
    QLabel* languageNote() const { return languageNote_; }
    QComboBox* microphonePicker() const { return input_; }
    QWidget* microphoneWarning() const { return micWarning_; }
    QComboBox* countdownPicker() const { return countdown_; }
    QCheckBox* overdubToggle() const { return overdub_; }
    QComboBox* preRollPicker() const { return preRoll_; }
    QSlider* latencySlider() const { return latency_; }
    QLabel* latencyValue() const { return latencyValue_; }
    QCheckBox* monitorToggle() const { return monitor_; }
    QWidget* monitorLevelRow() const { return monitorRow_; }
    QSlider* monitorLevelSlider() const { return monitorLevel_; }
    QLabel* monitorLevelValue() const { return monitorLevelValue_; }
    QWidget* headphonesWarning() const { return headphones_; }
    QComboBox* outputPicker() const { return output_; }
    QCheckBox* followToggle() const { return follow_; }
    QComboBox* formatPicker() const { return format_; }
    QComboBox* loudnessPicker() const { return loudness_; }
    QComboBox* sampleRatePicker() const { return sampleRate_; }
    QCheckBox* ditherToggle() const { return dither_; }
    QCheckBox* autosaveToggle() const { return autosave_; }
    QLabel* autosaveNote() const { return autosaveNote_; }
    QPushButton* refreshButton() const { return refresh_; }
    QLabel* devicesNote() const { return devicesNote_; }

    // The latency text ("%+.0f": "-200", "+0") and the monitoring level's ("13 %").
    static QString latencyText(double milliseconds);
    static QString levelText(double level);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void build(const std::filesystem::path& dataFolder);
    void showDevices();
    void showDevicesNote();
    void fillDevicePicker(QComboBox* picker, const std::vector<AudioDevice>& devices, const QString& systemEntry);
    void write(const std::string& key, const QVariant& value);

    std::unique_ptr<Preferences> ownPreferences_;
    Preferences& prefs_;
    AudioBackend* backend_ = nullptr;
    QString launchLanguage_;
    std::vector<AudioDevice> inputs_;
    std::vector<AudioDevice> outputs_;
    // Set by the running scan's thread when it ends; watched by the timer.
    std::shared_ptr<std::atomic<bool>> scanLanded_;
    QTimer* scanWatch_ = nullptr;

    QComboBox* language_ = nullptr;
    QLabel* languageNote_ = nullptr;
    QComboBox* input_ = nullptr;
    QWidget* micWarning_ = nullptr;
    QComboBox* countdown_ = nullptr;
    QCheckBox* overdub_ = nullptr;
    QComboBox* preRoll_ = nullptr;
    QSlider* latency_ = nullptr;
    QLabel* latencyValue_ = nullptr;
    QCheckBox* monitor_ = nullptr;
    QWidget* monitorRow_ = nullptr;
    QSlider* monitorLevel_ = nullptr;
    QLabel* monitorLevelValue_ = nullptr;
    QWidget* headphones_ = nullptr;
    QComboBox* output_ = nullptr;
    QCheckBox* follow_ = nullptr;
    QComboBox* format_ = nullptr;
    QComboBox* loudness_ = nullptr;
    QComboBox* sampleRate_ = nullptr;
    QCheckBox* dither_ = nullptr;
    QCheckBox* autosave_ = nullptr;
    QLabel* autosaveNote_ = nullptr;
    QPushButton* refresh_ = nullptr;
    QLabel* devicesNote_ = nullptr;
};

}  // namespace tessoral

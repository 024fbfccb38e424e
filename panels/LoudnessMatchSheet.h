#pragma once

#include <QString>
#include <QWidget>

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "model/LoudnessTarget.h"
#include "model/Track.h"
#include "model/Uuid.h"
#include "processing/LoudnessMatch.h"

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QVBoxLayout;

namespace tessoral {

class StudioStore;
class TransportSignals;

namespace panels {
class PanelWork;
}

// The table rules of loudness matching, free of widgets.
namespace MatchRows {

// The four texts of a clip's measured columns and whether the last is highlighted.
struct Texts {
    QString lufs;
    QString truePeak;
    QString gain;
    QString after;
    bool highlighted = false;
};

// The entry still describes the clip: same id, revision, rack and bypass flag.
bool isCurrent(const LoudnessMatch::Entry& entry, const Track& clip);
// A predicted peak above this (strictly) is highlighted: −1.95 for ATSC, −0.95 otherwise.
double threshold(LoudnessTarget target);
// The texts of one row: `entry` is the clip's current entry (none: not measured), `laneGainDB` the
// gain of the clip's track row (ignored when processing the audio).
Texts texts(const std::optional<LoudnessMatch::Entry>& entry, LoudnessTarget target, bool processAudio,
            double laneGainDB);
// The table's scroll area height for `clips` rows: min(max(n, 1) × 26 + 4, 260).
int tableHeight(std::size_t clips);

}  // namespace MatchRows

// The sheet "Сопоставить громкость": measures every clip after its rack once, one clip at a time on
// a worker, lists the clips with the gain each would take for the chosen target, and hands the
// measurements to the store's matching command. Built anew for each opening.
class MatchLoudnessSheet : public QWidget {
    Q_OBJECT
public:
    MatchLoudnessSheet(StudioStore& store, TransportSignals* transport, QWidget* parent = nullptr);
    ~MatchLoudnessSheet() override;

    bool measuring() const { return measuring_; }
    const std::map<Uuid, LoudnessMatch::Entry>& entries() const { return entries_; }
    LoudnessTarget target() const { return target_; }
    bool processAudio() const { return processAudio_; }
    void setTarget(LoudnessTarget target);
    void setProcessAudio(bool processAudio);
    // What "Отмена" does: the store's error cleared, the sheet's flag reset.
    void cancel();
    // What "Применить" does.
    void apply();

    // The five texts of a clip's row as shown ({} without a row).
    QStringList rowTexts(const Uuid& clipID) const;
    bool rowHighlighted(const Uuid& clipID) const;
    QPushButton* applyButton() const { return apply_; }
    QPushButton* cancelButton() const { return cancel_; }
    QComboBox* targetBox() const { return targetBox_; }
    QLabel* note() const { return note_; }
    QScrollArea* table() const { return scroll_; }
    QWidget* progress() const { return progress_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Row {
        QWidget* widget = nullptr;
        QLabel* cells[5] = {};
        bool highlighted = false;
    };
    void measureFrom(std::size_t index);
    void refreshRows();
    void refreshControls();

    StudioStore& store_;
    TransportSignals* transport_;
    std::map<Uuid, LoudnessMatch::Entry> entries_;
    bool measuring_ = true;
    LoudnessTarget target_ = LoudnessTarget::podcast;
    bool processAudio_ = false;
    std::vector<Track> pass_;  // the clips of the measuring pass, copied when it starts
    std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<panels::PanelWork> work_;
    std::map<Uuid, Row> rows_;
    QVBoxLayout* rowsLayout_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QComboBox* targetBox_ = nullptr;
    QRadioButton* gainMode_ = nullptr;
    QRadioButton* processMode_ = nullptr;
    QLabel* note_ = nullptr;
    QWidget* progress_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* apply_ = nullptr;
};

}  // namespace tessoral

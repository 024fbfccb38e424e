#pragma once

#include <QWidget>

#include <optional>
#include <vector>

#include "model/AutoDuck.h"
#include "model/Uuid.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

namespace tessoral {

class StudioStore;

namespace panels {

// The sheet that ducks the selected clip under speech. Its depth, threshold, fades, hold and
// speech source are its own state, fresh for every opening; nothing reaches the store before
// "Приглушить", which closes the sheet first and then runs the command. Without a selected clip
// it offers only its message and "Закрыть".
class AutoDuckSheet : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 420;
    // The settings the window opens it with.
    static AutoDuckSettings initialSettings();

    explicit AutoDuckSheet(StudioStore& store, AutoDuckSettings settings = initialSettings(),
                           QWidget* parent = nullptr);

    const AutoDuckSettings& settings() const { return settings_; }
    const std::optional<Uuid>& voiceID() const { return voiceID_; }

    QWidget* emptyPage() const { return emptyPage_; }
    QWidget* clipPage() const { return clipPage_; }
    QLabel* noteLabel() const { return note_; }
    QComboBox* sourcePicker() const { return source_; }
    // duck, threshold, fade down, fade up, hold.
    const std::vector<QSlider*>& sliders() const { return sliders_; }
    const std::vector<QLabel*>& valueLabels() const { return values_; }
    QPushButton* closeButton() const { return close_; }
    QPushButton* emptyCloseButton() const { return emptyClose_; }
    QPushButton* duckButton() const { return duck_; }

    void duck();

private:
    void refresh();
    void refreshValues();

    StudioStore& store_;
    AutoDuckSettings settings_;
    std::optional<Uuid> voiceID_;
    // The clip ids behind the picker's items after the first.
    std::vector<Uuid> sourceIDs_;
    QWidget* emptyPage_ = nullptr;
    QWidget* clipPage_ = nullptr;
    QLabel* note_ = nullptr;
    QComboBox* source_ = nullptr;
    std::vector<QSlider*> sliders_;
    std::vector<QLabel*> values_;
    QPushButton* close_ = nullptr;
    QPushButton* emptyClose_ = nullptr;
    QPushButton* duck_ = nullptr;
};

}  // namespace panels

}  // namespace tessoral

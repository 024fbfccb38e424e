#pragma once

#include <QWidget>

#include <string>

#include "model/Uuid.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace tessoral {

class NumberField;
class StudioStore;
class ValueSlider;
struct Track;

// The block at the top of the processing inspector for one clip: colour strip, name field and
// subtitle (row, length, "стерео"), start time, clip gain and pan sliders and the mute switch. It
// belongs to one clip id for its whole life (the host makes a new one for another clip), reads the
// clip from the store by that id on every change, and sends one store command per finished edit.
class ClipProperties : public QWidget {
    Q_OBJECT
public:
    ClipProperties(StudioStore& store, const Uuid& clip, QWidget* parent = nullptr);

    const Uuid& clip() const { return id_; }
    QLineEdit* nameField() const { return name_; }
    QLabel* subtitle() const { return subtitle_; }
    NumberField* startField() const { return start_; }
    ValueSlider* gainSlider() const { return gain_; }
    ValueSlider* panSlider() const { return pan_; }
    QCheckBox* muteToggle() const { return mute_; }
    QWidget* colorStrip() const { return strip_; }

    // The pan text: "Огибающая" with an envelope, "Центр" at exactly 0, else "L 35%" / "R 100%".
    static QString panText(const Track& clip);
    // "Клип на дорожке «…»  ·  00:12.500  ·  стерео", or without a row "Клип  ·  …  ·  стерео".
    static QString subtitleText(const Track& clip, const std::string* laneName);

    // The name field's commit (Return and leaving the field): trimmed of spaces and tabs; blank
    // brings the stored name back; a name equal to the stored one changes nothing.
    void commitName();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();

    StudioStore& store_;
    Uuid id_;
    std::string shownName_;
    bool named_ = false;
    QWidget* strip_ = nullptr;
    QLineEdit* name_ = nullptr;
    QLabel* subtitle_ = nullptr;
    NumberField* start_ = nullptr;
    ValueSlider* gain_ = nullptr;
    ValueSlider* pan_ = nullptr;
    QCheckBox* mute_ = nullptr;
};

}  // namespace tessoral

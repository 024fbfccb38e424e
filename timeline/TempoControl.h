#pragma once

#include <QAbstractButton>
#include <QFrame>
#include <QLocale>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace tessoral {

class StudioStore;
class ToolButton;
class TransportSignals;

// The tempo read-out "%g BPM" (C locale, six significant digits: 120 → "120 BPM", 97.5 → "97.5 BPM").
QString tempoText(double bpm);
// A tempo typed in the user's locale (the C locale's "97.5" is taken too); none unless finite.
std::optional<double> parseTempo(const QString& text, const QLocale& locale = QLocale::system());
// The tempo in the field: the user's locale, 0 to 2 fraction digits.
QString tempoFieldText(double bpm, const QLocale& locale = QLocale::system());

// The popover "Темп и размер": tempo and beats per bar edited together, applied as one step.
// Escape, "Отмена" and a click outside close it without a change.
class TempoPopover : public QFrame {
    Q_OBJECT
public:
    TempoPopover(StudioStore& store, double tempo, int meter, QWidget* parent = nullptr);

    double tempo() const { return tempo_; }
    int meter() const { return meter_; }
    QLineEdit* tempoField() const { return field_; }
    QToolButton* stepUp() const { return up_; }
    QToolButton* stepDown() const { return down_; }
    QComboBox* meterPicker() const { return picker_; }
    QPushButton* applyButton() const { return apply_; }
    QPushButton* cancelButton() const { return cancel_; }
    void apply();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void step(int by);

    StudioStore& store_;
    double tempo_ = 120.0;
    int meter_ = 4;
    QLineEdit* field_ = nullptr;
    QToolButton* up_ = nullptr;
    QToolButton* down_ = nullptr;
    QComboBox* picker_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// The transport bar's tempo control: the metronome toggle and the tempo button (tempo over the
// metre) that opens the popover. Disabled while the store is locked (busy or recording).
class TempoControl : public QWidget {
    Q_OBJECT
public:
    TempoControl(StudioStore& store, TransportSignals* transport, QWidget* parent = nullptr);

    ToolButton* metronomeButton() const { return metronome_; }
    QAbstractButton* tempoButton() const { return button_; }
    QString tempoLabel() const;
    QString meterLabel() const;
    // The open popover, none when closed.
    TempoPopover* popover() const { return popover_; }
    void openPopover();

private:
    void refresh();

    StudioStore& store_;
    ToolButton* metronome_ = nullptr;
    QAbstractButton* button_ = nullptr;
    QPointer<TempoPopover> popover_;  // cleared when the closed popover is deleted
};

}  // namespace tessoral

#pragma once

#include <QString>
#include <QWidget>

#include <vector>

class QLabel;

namespace tessoral {

class StudioStore;
class ToolButton;

// The decibel marks beside the two channels of the clip editor's row (34 points wide, as high as
// the row), following the vertical waveform zoom. It takes no input.
class AmplitudeScale : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 34;
    // One drawn label: its text and the y of its tick (both channels, above and below the centre).
    struct Mark {
        QString text;
        double y = 0.0;
    };
    // The labels of a row `rowHeight` high at zoom `zoom`, in drawing order.
    static std::vector<Mark> marks(double zoom, double rowHeight);
    // "0", or the minus sign U+2212 and the digits.
    static QString markText(int db);

    explicit AmplitudeScale(StudioStore& store, QWidget* parent = nullptr);
    double zoom() const { return zoom_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    StudioStore& store_;
    double zoom_ = 1.0;
};

// The buttons that step the vertical waveform zoom through 1, 2, 4, 8, 16 with "A ×N" between them.
class AmplitudeZoomControls : public QWidget {
    Q_OBJECT
public:
    explicit AmplitudeZoomControls(StudioStore& store, QWidget* parent = nullptr);
    ToolButton* zoomOutButton() const { return out_; }
    ToolButton* zoomInButton() const { return in_; }
    QLabel* label() const { return label_; }

private:
    void refresh();

    StudioStore& store_;
    ToolButton* out_ = nullptr;
    QLabel* label_ = nullptr;
    ToolButton* in_ = nullptr;
};

}  // namespace tessoral

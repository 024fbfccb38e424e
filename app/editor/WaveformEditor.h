#pragma once

#include <QWidget>

#include "model/BeatGrid.h"

class QLabel;
class QScrollArea;
class QStackedLayout;

namespace tessoral {

class LanesWidget;
class StudioStore;
class TimeRuler;
class TransportSignals;

// The editor area of the waveform mode: the selected clip alone over the whole width, under the
// anchor strip, the marker ruler and the time ruler, in a horizontal scroll view that follows the
// store's zoom; a hint without a selected clip. A click on the time ruler drops the selection and
// seeks there. In the bars format a beat grid lies over the lane.
class WaveformEditor : public QWidget {
    Q_OBJECT
public:
    static constexpr double kMinimumBaseWidth = 280.0;
    static constexpr double kTopInset = 52.0;  // anchors 1 + marker ruler 22 + time ruler 29
    static constexpr double kMinimumRowHeight = 150.0;
    static constexpr int kAnchorHeight = 1;
    static constexpr int kMarkerRulerHeight = 22;
    static constexpr int kTimeRulerHeight = 29;

    // The content width at zoom 1 for an area `width` wide, and the lane's height for one
    // `height` high.
    static double baseWidth(double width);
    static double rowHeight(double height);

    WaveformEditor(StudioStore& store, TransportSignals* transport, QWidget* parent = nullptr);

    QLabel* hint() const { return hint_; }
    QScrollArea* scrollArea() const { return scroll_; }
    QWidget* content() const { return content_; }
    TimeRuler* timeRuler() const { return ruler_; }
    QWidget* markerRulerSlot() const { return markerRuler_; }
    LanesWidget* lanes() const { return lanes_; }
    QWidget* beatGridOverlay() const { return grid_; }
    QWidget* amplitudeScaleSlot() const { return amplitude_; }
    double contentWidth() const { return contentWidth_; }
    double currentRowHeight() const { return rowHeight_; }
    double duration() const { return duration_; }
    // The grid the ruler and the overlay use (the store's display grid).
    BeatGrid beatGrid() const;

    // The time ruler's click at x (ruler coordinates).
    void rulerClicked(double x);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void relayout();
    void scrollToFocus();
    void coverLanes();
    void trackPointer(const QWidget* source, double x, bool inside);

    StudioStore& store_;
    TransportSignals* transport_;
    QStackedLayout* pages_ = nullptr;
    QLabel* hint_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* content_ = nullptr;
    QWidget* anchors_ = nullptr;
    QWidget* markerRuler_ = nullptr;
    TimeRuler* ruler_ = nullptr;
    LanesWidget* lanes_ = nullptr;
    QWidget* grid_ = nullptr;
    QWidget* amplitude_ = nullptr;
    double baseWidth_ = kMinimumBaseWidth;
    double contentWidth_ = kMinimumBaseWidth;
    double rowHeight_ = kMinimumRowHeight;
    double duration_ = 10.0;
};

}  // namespace tessoral

#pragma once

#include <QWidget>

#include <optional>

class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace tessoral {

class LanesWidget;
class StudioStore;
class ToolButton;
class TimeRuler;
class TransportSignals;

// The multitrack page: on the left the header column (the row count with the new-row button,
// one lane header per row), on the right the timeline column (anchor strip, marker ruler, time
// ruler, the lanes, a filler). Both scroll vertically together; only the timeline scrolls
// sideways. The timeline is the visible width × the store's zoom wide and spans the store's
// timeline duration, lengthened ahead of a running recording; a click on the time ruler seeks;
// during playback the page keeps the playhead in view when zoomed in ("playback.follow").
class MultitrackTimeline : public QWidget {
    Q_OBJECT
public:
    MultitrackTimeline(StudioStore& store, TransportSignals* transport, QWidget* parent = nullptr);
    ~MultitrackTimeline() override;

    LanesWidget* lanes() const { return lanes_; }
    QScrollArea* headerArea() const { return headerArea_; }
    QScrollArea* timelineArea() const { return timelineArea_; }
    TimeRuler* timeRuler() const { return ruler_; }
    QLabel* countLabel() const { return count_; }
    ToolButton* newLaneButton() const { return plus_; }
    // The lane header slots, one per row (filled by the lane headers).
    QWidget* headerColumn() const { return headerColumn_; }

    double baseWidth() const { return baseWidth_; }
    double contentWidth() const { return contentWidth_; }
    double duration() const { return duration_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void relayout();
    void refreshHeader();
    void rulerClicked(double x);
    void follow();
    // Scrolls the rows so that the selected one is whole in view (the rulers with the first).
    void revealSelectedRow();

    StudioStore& store_;
    TransportSignals* transport_;
    QScrollArea* headerArea_ = nullptr;
    QWidget* headerColumn_ = nullptr;
    QVBoxLayout* headerRows_ = nullptr;
    QLabel* count_ = nullptr;
    ToolButton* plus_ = nullptr;
    QScrollArea* timelineArea_ = nullptr;
    QWidget* content_ = nullptr;
    TimeRuler* ruler_ = nullptr;
    LanesWidget* lanes_ = nullptr;
    double baseWidth_ = 280.0;
    double contentWidth_ = 280.0;
    double duration_ = 10.0;
    int headerSlots_ = -1;
    std::optional<double> lastFollow_;
};

}  // namespace tessoral

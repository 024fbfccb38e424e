#pragma once

#include "app/shell/Surface.h"
#include "app/shell/ViewContext.h"

namespace tessoral {

class MeterView;
class ToolButton;

// The large position display: the playhead while playing or recording (red while recording), else
// the cursor, in the store's time format; a click moves to the next format.
class PositionDisplay : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTextWidth = 184;
    static constexpr int kLeadingMargin = 12;
    explicit PositionDisplay(ViewContext context, QWidget* parent = nullptr);

    QString text() const { return text_; }
    bool red() const { return red_; }
    void refresh();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    ViewContext ctx_;
    QString text_;
    bool red_ = false;
};

// The transport strip: go to start, stop, play/pause, record, loop, the position display, the tempo
// control, the live loudness readout, the level meter and the format tag.
class TransportBar : public Surface {
    Q_OBJECT
public:
    static constexpr int kHeight = 60;
    explicit TransportBar(ViewContext context, QWidget* parent = nullptr);

    ToolButton* startButton() const { return start_; }
    ToolButton* stopButton() const { return stop_; }
    ToolButton* playButton() const { return play_; }
    ToolButton* recordButton() const { return record_; }
    ToolButton* loopButton() const { return loop_; }
    PositionDisplay* position() const { return position_; }
    MeterView* meter() const { return meter_; }

    // Re-reads every button's state (all of them change only with the store's and transport's flags).
    void refreshButtons();

private:
    ViewContext ctx_;
    ToolButton* start_;
    ToolButton* stop_;
    ToolButton* play_;
    ToolButton* record_;
    ToolButton* loop_;
    PositionDisplay* position_;
    MeterView* meter_;
};

}  // namespace tessoral

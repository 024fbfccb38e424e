#pragma once

#include <QIcon>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <map>
#include <optional>

#include "model/Lane.h"
#include "model/Uuid.h"

class QLabel;
class QLineEdit;
class QMenu;
class QToolButton;
class QVBoxLayout;

namespace tessoral {

class StudioStore;
class ToolButton;
class TransportSignals;
class ValueSlider;

// The pan read-out: "C" within 0.005 of the centre, else "L" or "R" and the percentage.
QString panLabel(double pan);
// The gain read-out with its sign ("+0.0", "-12.5").
QString gainLabel(double gainDB);
// A 12 × 12 circular sample of a track colour (for the colour menu).
QIcon colorSwatch(int index);

// The reorder handle of a row header: a drag of at least 2 points, measured on the screen so the
// header may move to another row under it, moves the row by whole rows (one undo step for the
// drag). Disabled or hidden mid-drag, it ends the drag as a release would.
class LaneDragHandle : public QWidget {
    Q_OBJECT
public:
    static constexpr double kMinimumDistance = 2.0;
    static constexpr double kRowHeight = 134.0;

    LaneDragHandle(StudioStore& store, Uuid lane, QWidget* parent = nullptr);
    bool reordering() const { return reordering_; }
    void setHighlighted(bool on);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void finish();

    StudioStore& store_;
    Uuid lane_;
    std::optional<QPointF> pressed_;
    bool reordering_ = false;
    bool highlighted_ = false;
};

// The control block at the left end of one track row: name, mute and solo, clip count, gain and
// pan, the reorder handle and the row's menu (row commands, colour, and the selected clip's
// commands when that clip lies on this row). One header lives per row id: the host moves it when
// the rows reorder and feeds it the row with setLane(); it never keeps project state.
class LaneHeader : public QWidget {
    Q_OBJECT
public:
    LaneHeader(StudioStore& store, Uuid lane, QWidget* parent = nullptr);

    const Uuid& laneID() const { return lane_.id; }
    void setLane(const Lane& lane, int clipCount, bool selected, bool dragging);

    QLineEdit* nameField() const { return name_; }
    ToolButton* muteButton() const { return mute_; }
    ToolButton* soloButton() const { return solo_; }
    QLabel* clipCountLabel() const { return count_; }
    ValueSlider* gainSlider() const { return gain_; }
    ValueSlider* panSlider() const { return pan_; }
    LaneDragHandle* handle() const { return handle_; }
    QToolButton* menuButton() const { return menuButton_; }
    QMenu* menu() const { return menu_; }
    // Fills the menu from the store (on every opening).
    void fillMenu();
    // Commits the name field's text.
    void commitName();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    StudioStore& store_;
    Lane lane_;
    bool selected_ = false;
    bool dragging_ = false;
    LaneDragHandle* handle_ = nullptr;
    QWidget* dot_ = nullptr;
    QLineEdit* name_ = nullptr;
    QToolButton* menuButton_ = nullptr;
    QMenu* menu_ = nullptr;
    ToolButton* mute_ = nullptr;
    ToolButton* solo_ = nullptr;
    QLabel* count_ = nullptr;
    ValueSlider* gain_ = nullptr;
    ValueSlider* pan_ = nullptr;
};

// The column of row headers in row order: one header per row id, created when a row appears,
// moved (never rebuilt) when rows reorder, deleted when its row goes. Updated in place from the
// store's signals.
class LaneHeaderColumn : public QObject {
    Q_OBJECT
public:
    // `transport` (optional): recording locks the headers too.
    LaneHeaderColumn(StudioStore& store, QWidget* column, QVBoxLayout* rows, TransportSignals* transport = nullptr);
    void sync();
    LaneHeader* header(const Uuid& lane) const;
    std::size_t count() const { return headers_.size(); }

private:
    StudioStore& store_;
    QWidget* column_;
    QVBoxLayout* rows_;
    std::map<Uuid, QPointer<LaneHeader>> headers_;
};

}  // namespace tessoral

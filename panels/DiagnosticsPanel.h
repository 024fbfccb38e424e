#pragma once

#include <QAbstractListModel>
#include <QColor>
#include <QStyledItemDelegate>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <vector>

#include "model/Uuid.h"
#include "processing/Diagnostics.h"

class QLabel;
class QListView;
class QPushButton;
class QToolButton;

namespace tessoral {

class SegmentedControl;
class StudioStore;
class TransportSignals;
class ValueSlider;

namespace panels {

// The findings of the last scan as list rows. It holds a copy of the store's list and is reset
// only when that list changes; the scanned clip's start (the rows' time origin) repaints in place.
class FindingsModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { PositionRole = Qt::UserRole + 1, LengthRole, SeverityRole };

    explicit FindingsModel(QObject* parent = nullptr);

    // Takes the findings; one reset when they differ from the held ones.
    void setFindings(const std::vector<DiagnosticFinding>& findings);
    // The start in seconds of the scanned clip (0 when it no longer exists).
    void setClipStart(double seconds);

    const std::vector<DiagnosticFinding>& findings() const { return findings_; }
    int resets() const { return resets_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<DiagnosticFinding> findings_;
    double clipStart_ = 0.0;
    int resets_ = 0;
};

// One finding row painted: position, length, a flexible gap and the severity bar.
class FindingDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 20;
    static constexpr int kBarWidth = 38;
    static constexpr int kBarHeight = 4;

    using QStyledItemDelegate::QStyledItemDelegate;

    // Where the severity bar of a row lies.
    static QRect barRect(const QRect& row);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};

// The inspector page "Диагностика": detector, its parameters, the scan, the findings of the last
// scan and their repair. Everything it shows lives in the store's diagnostics state; it writes the
// detector, the parameters and the list selection back, one change per gesture.
class DiagnosticsPanel : public QWidget {
    Q_OBJECT
public:
    DiagnosticsPanel(StudioStore& store, TransportSignals* transport, QWidget* parent = nullptr);

    // "0.00 мс" below 10 ms, "%.0f мс" below 1000 ms, else "%.2f с" (the unrounded value decides).
    static QString lengthLabel(std::int64_t frames);
    // Red above 0.66, orange above 0.33, else the accent.
    static QColor severityColor(double severity);
    // The value capsule's share of the bar: at least 8 %.
    static double severityShare(double severity);

    SegmentedControl* kindPicker() const { return kind_; }
    ValueSlider* sensitivitySlider() const { return sensitivity_; }
    ValueSlider* clipThresholdSlider() const { return clipThreshold_; }
    ValueSlider* headroomSlider() const { return headroom_; }
    QLabel* minRunLabel() const { return minRunLabel_; }
    QToolButton* minRunDown() const { return minRunDown_; }
    QToolButton* minRunUp() const { return minRunUp_; }
    ValueSlider* silenceThresholdSlider() const { return silenceThreshold_; }
    ValueSlider* silenceMinSlider() const { return silenceMin_; }
    SegmentedControl* silenceAction() const { return silenceAction_; }
    ValueSlider* keepPauseSlider() const { return keepPause_; }
    QLabel* scopeLabel() const { return scope_; }
    QPushButton* scanButton() const { return scan_; }
    QLabel* summaryLabel() const { return summary_; }
    QLabel* clipNameLabel() const { return clipName_; }
    QListView* list() const { return list_; }
    FindingsModel* model() const { return model_; }
    QPushButton* fixSelectedButton() const { return fixSelected_; }
    QPushButton* fixAllButton() const { return fixAll_; }

private:
    void buildParameters();
    void refresh();
    void refreshScope();
    void refreshFindings();
    void refreshLocked();
    void writeSettings(const std::function<void(DiagnosticSettings&)>& change);
    void listSelectionChanged();
    void followSelection(const std::set<Uuid>& previous, const std::set<Uuid>& current);

    StudioStore& store_;
    TransportSignals* transport_;
    // The store's `selected` as last seen, so the follow-up compares old and new sets.
    std::set<Uuid> seenSelected_;
    bool applyingSelection_ = false;

    SegmentedControl* kind_ = nullptr;
    QWidget* clicks_ = nullptr;
    QWidget* clipping_ = nullptr;
    QWidget* silence_ = nullptr;
    ValueSlider* sensitivity_ = nullptr;
    ValueSlider* clipThreshold_ = nullptr;
    ValueSlider* headroom_ = nullptr;
    QLabel* minRunLabel_ = nullptr;
    QToolButton* minRunDown_ = nullptr;
    QToolButton* minRunUp_ = nullptr;
    ValueSlider* silenceThreshold_ = nullptr;
    ValueSlider* silenceMin_ = nullptr;
    SegmentedControl* silenceAction_ = nullptr;
    ValueSlider* keepPause_ = nullptr;
    QLabel* scope_ = nullptr;
    QPushButton* scan_ = nullptr;
    QLabel* summary_ = nullptr;
    QLabel* clipName_ = nullptr;
    QListView* list_ = nullptr;
    FindingsModel* model_ = nullptr;
    QPushButton* fixSelected_ = nullptr;
    QPushButton* fixAll_ = nullptr;
};

}  // namespace panels

}  // namespace tessoral

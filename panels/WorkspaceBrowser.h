#pragma once

#include <QAbstractButton>
#include <QWidget>

#include <map>
#include <unordered_map>
#include <vector>

#include "model/SessionMarker.h"
#include "model/Uuid.h"

class QLabel;
class QLineEdit;
class QScrollArea;
class QStackedWidget;
class QVBoxLayout;

namespace tessoral {

class SegmentedControl;
class StudioStore;
class ToolButton;
class TransportSignals;

namespace browser {

// A painted full-width row of the browser: an optional symbol, one or two lines of text, an
// optional highlight. Reports a double click after the click of its second press has run.
class Row : public QAbstractButton {
    Q_OBJECT
public:
    explicit Row(QWidget* parent = nullptr);

    void setSymbol(const QString& symbol, const QColor& color, int size);
    void setLines(const QString& title, const QFont& titleFont, const QColor& titleColor, const QString& subtitle = {},
                  const QFont& subtitleFont = {}, int maxTitleLines = 1);
    void setHighlighted(bool highlighted);
    void setSpacing(int spacing) { spacing_ = spacing; }
    QString subtitle() const { return subtitle_; }
    QString symbol() const { return symbol_; }
    bool highlighted() const { return highlighted_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

Q_SIGNALS:
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int textWidth(int width) const;
    QString symbol_;
    QColor symbolColor_;
    int symbolSize_ = 14;
    QFont titleFont_;
    QColor titleColor_;
    QString subtitle_;
    QFont subtitleFont_;
    int maxTitleLines_ = 1;
    int spacing_ = 9;
    bool highlighted_ = false;
    bool doubleClick_ = false;
};

// One marker: go-to button, its name in an edit field, its start time and a delete button.
class MarkerRow : public QWidget {
    Q_OBJECT
public:
    MarkerRow(StudioStore& store, const SessionMarker& marker, QWidget* parent = nullptr);

    // The marker as the list now holds it: the field follows a changed stored name.
    void setMarker(const SessionMarker& marker);
    const SessionMarker& marker() const { return marker_; }
    QLineEdit* field() const { return field_; }
    QAbstractButton* goButton() const { return go_; }
    QAbstractButton* deleteButton() const { return delete_; }
    QLabel* timeText() const { return time_; }

private:
    void commit();
    StudioStore& store_;
    SessionMarker marker_;
    QAbstractButton* go_ = nullptr;
    QLineEdit* field_ = nullptr;
    QLabel* time_ = nullptr;
    QAbstractButton* delete_ = nullptr;
};

}  // namespace browser

// The left column: the project's clips by row, its markers and the undo history, in three tabs,
// with each tab's buttons and count in a footer. Rows are kept by id and updated in place.
class WorkspaceBrowser : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 184;

    WorkspaceBrowser(StudioStore& store, TransportSignals* transport, QWidget* parent = nullptr);

    int tab() const { return tab_; }
    void setTab(int tab);

    SegmentedControl* picker() const { return picker_; }
    QLabel* countLabel() const { return count_; }
    QLabel* emptyLabel(int tab) const { return tab == 0 ? noClips_ : noMarkers_; }
    // Rows in their shown order.
    std::vector<browser::Row*> clipRows() const;
    std::vector<browser::MarkerRow*> markerRows() const;
    browser::Row* initialRow() const { return initial_; }
    std::vector<browser::Row*> historyRows() const;  // undo rows, then redo rows
    ToolButton* footerButton(int tab, int index) const;

protected:
    void hideEvent(QHideEvent* event) override;

private:
    QScrollArea* makePage(QVBoxLayout*& list);
    void refreshClips();
    void refreshSelection();
    void refreshMarkers();
    void placeMarkerRows(const std::vector<Uuid>& order);
    void takeMarkerRow(std::size_t block, std::size_t index);
    void insertMarkerBlock(std::size_t at);
    void putMarkerRow(std::size_t block, std::size_t index, browser::MarkerRow* row);
    void splitMarkerBlock(std::size_t block);
    void refreshHistory();
    void refreshFooter();
    void clipClicked(const Uuid& id);
    void clipDoubleClicked(const Uuid& id);
    void historyClicked(int index);

    StudioStore& store_;
    int tab_ = 0;
    SegmentedControl* picker_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QVBoxLayout* clipList_ = nullptr;
    QVBoxLayout* markerList_ = nullptr;
    QVBoxLayout* historyList_ = nullptr;
    QLabel* noClips_ = nullptr;
    QLabel* noMarkers_ = nullptr;
    browser::Row* initial_ = nullptr;
    std::map<Uuid, browser::Row*> clipRows_;
    std::vector<Uuid> clipOrder_;
    std::unordered_map<Uuid, browser::MarkerRow*> markerRows_;
    // The marker rows stand in blocks of a few dozen, each a widget of its own in the page: a row
    // added or removed lays out its own block only, and the blocks after it move as a whole.
    struct MarkerBlock {
        QWidget* box = nullptr;
        QVBoxLayout* list = nullptr;
        std::vector<browser::MarkerRow*> rows;
    };
    std::vector<MarkerBlock> markerBlocks_;
    std::vector<Uuid> markerOrder_;
    std::vector<SessionMarker> shownMarkers_;  // the markers the rows show
    bool markersShown_ = false;
    std::vector<browser::Row*> historyRows_;
    QStackedWidget* footerButtons_ = nullptr;
    std::vector<std::vector<ToolButton*>> buttons_;
    QLabel* count_ = nullptr;
};

}  // namespace tessoral

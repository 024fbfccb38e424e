#pragma once

#include <QPointer>
#include <QWidget>

#include <array>

#include "app/shell/ViewContext.h"

#include <QMessageBox>
class QStackedLayout;

namespace tessoral {

class EmptyState;
class Footer;
class Header;
class SheetHost;
class TransportBar;

// The outline shown over the whole window while files are dragged over it.
class DropOverlay : public QWidget {
    Q_OBJECT
public:
    explicit DropOverlay(QWidget* parent);
    bool active() const { return active_; }
    void setActive(bool active);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool active_ = false;
};

// The main window's content: header, the middle row (browser, editor column, right panel),
// transport bar and footer; it takes dropped files, shows the store's errors in an alert and
// presents the sheets.
class StudioView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMinimumWidth = 980;
    static constexpr int kMinimumHeight = 660;
    static constexpr int kBrowserWidth = 184;
    static constexpr int kRightPanelWidth = 248;

    explicit StudioView(ViewContext context, QWidget* parent = nullptr);
    ~StudioView() override;
    QSize minimumSizeHint() const override;

    Header* header() const { return header_; }
    TransportBar* transportBar() const { return transport_; }
    Footer* footer() const { return footer_; }
    SheetHost* sheets() const { return sheets_; }
    QWidget* editorTools() const { return editorTools_; }
    QWidget* selectionBar() const { return selectionBar_; }
    QWidget* browserColumn() const { return browser_; }
    QWidget* rightPanel() const { return rightPanel_; }
    // What the editor area shows now (the empty state or the view of the mode).
    QWidget* editorArea() const;
    // What the right panel shows now.
    QWidget* inspectorPage() const;
    DropOverlay* dropOverlay() const { return overlay_; }
    QMessageBox* alert() const { return alert_; }

    // The window dialogs go over: the open sheet, else the main window.
    QWidget* dialogParent() const;

    // Whether a drop of `count` files would be taken (not while locked), and the drop itself.
    bool acceptsDrop() const;
    bool dropFiles(const QStringList& files);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refreshPanels();
    void refreshEditorArea();
    void refreshInspectorPage();
    void refreshAnalysis();
    void refreshLocked();
    void refreshAlert();

    ViewContext ctx_;
    Header* header_;
    TransportBar* transport_;
    Footer* footer_;
    QWidget* browser_;
    QWidget* browserDivider_;
    QWidget* rightPanel_;
    QWidget* rightDivider_;
    QWidget* editorTools_;
    QWidget* selectionBar_;
    QStackedLayout* editorStack_;
    EmptyState* emptyState_;
    std::array<QWidget*, 3> modeViews_{};  // waveform, multitrack, mixer: built on first use
    QWidget* editorColumn_;
    QWidget* analysisDivider_;
    QPointer<QWidget> analysis_;
    QStackedLayout* pageStack_;
    std::array<QWidget*, 4> pages_{};  // rack, processing, diagnostics, essential sound
    DropOverlay* overlay_;
    SheetHost* sheets_;
    QPointer<QMessageBox> alert_;
};

}  // namespace tessoral

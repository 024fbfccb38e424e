#pragma once

#include "app/shell/Surface.h"
#include "app/shell/ViewContext.h"

class QPushButton;

namespace tessoral {

class ElidedLabel;
class SegmentedControl;
class ToolButton;

// The top row: the mark and name, the project line with its unsaved mark, the editor mode switch,
// the panel toggles, open, save and export. Disabled as a whole while the store is locked.
class Header : public Surface {
    Q_OBJECT
public:
    static constexpr int kHeight = 52;
    explicit Header(ViewContext context, QWidget* parent = nullptr);

    // The project line: the title, then "  •" while there are unsaved changes.
    static QString projectLine(const std::string& title, bool dirty);

    SegmentedControl* modeSwitch() const { return modes_; }
    QPushButton* exportButton() const { return export_; }
    ElidedLabel* projectLabel() const { return project_; }
    ToolButton* browserToggle() const { return browser_; }
    ToolButton* inspectorToggle() const { return inspector_; }

private:
    void refreshProject();
    void refreshLocked();

    ViewContext ctx_;
    ElidedLabel* project_;
    SegmentedControl* modes_;
    ToolButton* browser_;
    ToolButton* inspector_;
    QPushButton* export_;
};

}  // namespace tessoral

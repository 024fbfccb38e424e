#pragma once

#include <QWidget>

#include <array>
#include <string>


namespace tessoral {

class StudioStore;
class ElidedLabel;
class ToolButton;

// The strip above the right panel: one tool button per page (effects, processing, diagnostics,
// essential sound), lit for the store's `inspectorTab`, and the chosen page's title at the right
// end. 42 high. A value outside 0…3 lights no button and shows no title.
class InspectorTabBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 42;

    struct Tab {
        int tag;
        const char* symbol;
        std::string title;
    };
    // The four pages, titles translated at first use.
    static const std::array<Tab, 4>& tabs();

    InspectorTabBar(StudioStore& store, QWidget* parent = nullptr);

    ToolButton* button(int index) const { return buttons_[static_cast<std::size_t>(index)]; }
    ElidedLabel* titleLabel() const { return title_; }

private:
    void refresh();

    StudioStore& store_;
    std::array<ToolButton*, 4> buttons_{};
    ElidedLabel* title_ = nullptr;
};

}  // namespace tessoral

#include "app/inspector/InspectorTabBar.h"

#include <QHBoxLayout>
#include <QLabel>

#include "app/inspector/InspectorStyle.h"
#include "model/Localization.h"
#include "store/StudioStore.h"
#include "widgets/Eliding.h"
#include "widgets/ToolButton.h"

namespace tessoral {

const std::array<InspectorTabBar::Tab, 4>& InspectorTabBar::tabs() {
    static const std::array<Tab, 4> table{{
        {0, "slider.horizontal.3", L("Эффекты")},
        {1, "wand.and.stars", L("Обработка")},
        {2, "stethoscope", L("Диагностика")},
        {3, "sparkles", L("Основной звук")},
    }};
    return table;
}

InspectorTabBar::InspectorTabBar(StudioStore& store, QWidget* parent) : QWidget(parent), store_(store) {
    setObjectName(QStringLiteral("inspectorTabBar"));
    setFixedHeight(kHeight);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(9, 0, 9, 0);
    row->setSpacing(2);
    for (std::size_t i = 0; i < tabs().size(); ++i) {
        const Tab& tab = tabs()[i];
        const int tag = tab.tag;
        auto* button = new ToolButton(QString::fromLatin1(tab.symbol), ui::qs(tab.title), false, Palette::accent(),
                                      [this, tag] { store_.setInspectorTab(tag); }, this);
        button->setObjectName(QStringLiteral("tab%1").arg(tag));
        button->setCheckable(true);
        buttons_[i] = button;
        row->addWidget(button, 0, Qt::AlignVCenter);
    }
    row->addSpacing(6);
    // Without a stretch factor: the spacer takes only what the title leaves.
    row->addStretch();
    // The title gives way to the buttons in a narrow inspector, ending in "…".
    title_ = new ElidedLabel(this);
    title_->setFont(Fonts::ui(11, QFont::DemiBold));
    title_->setColor(Palette::secondaryText());
    title_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    title_->setObjectName(QStringLiteral("tabTitle"));
    row->addWidget(title_, 0, Qt::AlignVCenter);
    connect(&store_, &StudioStore::inspectorTabChanged, this, &InspectorTabBar::refresh);
    refresh();
}

void InspectorTabBar::refresh() {
    const int selection = store_.inspectorTab();
    QString title;
    for (std::size_t i = 0; i < tabs().size(); ++i) {
        const bool lit = tabs()[i].tag == selection;
        buttons_[i]->setActive(lit);
        // The lit button is announced as the selected (checked) one.
        buttons_[i]->setChecked(lit);
        if (lit) title = ui::qs(tabs()[i].title);
    }
    title_->setText(title);
}

}  // namespace tessoral

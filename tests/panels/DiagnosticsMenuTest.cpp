// The diagnostics and generate menu items: their enabling from the store and what they open.

#include <QAction>
#include <QMenu>

#include <gtest/gtest.h>

#include "ProcessingPanelsSupport.h"
#include "model/Localization.h"
#include "panels/DiagnosticsMenu.h"
#include "panels/GenerateMenu.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

class ProcessingMenus : public ::testing::Test {
protected:
    PanelsFixture p;
    StudioStore& store = *p.store;
    QMenu processing;
    QMenu generate;

    void SetUp() override {
        processing.addAction(QStringLiteral("Earlier entry"));
        panels::populateDiagnosticsMenu(store, nullptr, &processing);
        panels::populateGenerateMenu(store, nullptr, &generate);
    }

    QAction* find(QMenu& menu, const char* key) {
        const QString text = qs(L(key));
        for (QAction* a : menu.actions()) {
            if (a->text() == text) return a;
            if (a->menu())
                for (QAction* b : a->menu()->actions())
                    if (b->text() == text) return b;
        }
        ADD_FAILURE() << "no item " << key;
        static QAction none;
        return &none;
    }
    QAction* channels() { return find(processing, "Каналы"); }
};

}  // namespace

TEST_F(ProcessingMenus, OrderAndTitles) {
    const auto items = processing.actions();
    ASSERT_EQ(items.size(), 4);
    EXPECT_TRUE(items[1]->isSeparator());
    EXPECT_EQ(items[2]->text(), qs(L("Диагностика…")));
    QMenu* sub = items[3]->menu();
    ASSERT_TRUE(sub);
    QStringList titles;
    for (QAction* a : sub->actions()) titles << (a->isSeparator() ? QStringLiteral("—") : a->text());
    EXPECT_EQ(titles, (QStringList{qs(L("Поменять местами Л/П")), qs(L("Моно (сумма)")), qs(L("Левый в оба канала")),
                                   qs(L("Правый в оба канала")), qs(L("Инвертировать фазу левого")), QStringLiteral("—"),
                                   qs(L("Ширина стереобазы…")), qs(L("Извлечь центр / убрать вокал…"))}));
    QStringList gen;
    for (QAction* a : generate.actions()) gen << (a->isSeparator() ? QStringLiteral("—") : a->text());
    EXPECT_EQ(gen, (QStringList{qs(L("Тон…")), qs(L("Шум…")), QStringLiteral("—"), qs(L("Вставить тишину…"))}));
}

TEST_F(ProcessingMenus, EnablingFollowsSelectionAndTheLock) {
    EXPECT_TRUE(find(processing, "Диагностика…")->isEnabled());
    EXPECT_FALSE(channels()->isEnabled());
    EXPECT_TRUE(find(generate, "Тон…")->isEnabled());
    EXPECT_TRUE(find(generate, "Шум…")->isEnabled());
    EXPECT_FALSE(find(generate, "Вставить тишину…")->isEnabled());

    const Uuid id = p.addClip("A", 4800, 0.0, p.addRow("Ряд"));
    store.setSelectedID(id);
    EXPECT_TRUE(channels()->isEnabled());
    EXPECT_TRUE(find(generate, "Вставить тишину…")->isEnabled());

    store.setBusy(true);
    EXPECT_TRUE(find(processing, "Диагностика…")->isEnabled());
    EXPECT_FALSE(channels()->isEnabled());
    EXPECT_FALSE(find(generate, "Тон…")->isEnabled());
    EXPECT_FALSE(find(generate, "Шум…")->isEnabled());
    EXPECT_FALSE(find(generate, "Вставить тишину…")->isEnabled());
    store.setBusy(false);
    EXPECT_TRUE(find(generate, "Тон…")->isEnabled());

    // The selected clip deleted: the selection names nothing.
    Session s = store.session();
    s.tracks.clear();
    store.setSession(s);
    EXPECT_FALSE(channels()->isEnabled());
}

TEST_F(ProcessingMenus, DiagnosticsOpensTheHiddenInspectorOnItsTab) {
    store.setShowInspector(false);
    store.setInspectorTab(0);
    find(processing, "Диагностика…")->trigger();
    EXPECT_TRUE(store.showInspector());
    EXPECT_EQ(store.inspectorTab(), 2);
}

TEST_F(ProcessingMenus, SheetItemsSetOnlyTheSheet) {
    DiagnosticsState d = store.diagnostics();
    d.widthPercent = 135.0;
    store.setDiagnostics(d);
    find(processing, "Ширина стереобазы…")->trigger();
    EXPECT_EQ(store.diagnostics().sheet, ProcessingSheet::width);
    EXPECT_EQ(store.diagnostics().widthPercent, 135.0);
    find(processing, "Извлечь центр / убрать вокал…")->trigger();
    EXPECT_EQ(store.diagnostics().sheet, ProcessingSheet::center);
    find(generate, "Тон…")->trigger();
    EXPECT_EQ(store.diagnostics().sheet, ProcessingSheet::tone);
    find(generate, "Шум…")->trigger();
    EXPECT_EQ(store.diagnostics().sheet, ProcessingSheet::noise);
    // Without a selected clip the silence item is off; with one it opens its sheet.
    find(generate, "Вставить тишину…")->trigger();
    EXPECT_EQ(store.diagnostics().sheet, ProcessingSheet::noise);
    store.setSelectedID(p.addClip("A", 4800, 0.0, p.addRow("Ряд")));
    find(generate, "Вставить тишину…")->trigger();
    EXPECT_EQ(store.diagnostics().sheet, ProcessingSheet::silence);
}

TEST_F(ProcessingMenus, AChannelOperationRunsOnTheSelectedClip) {
    const Uuid row = p.addRow("Ряд");
    const Uuid id = p.addClip("A", 4800, 0.0, row, AudioData(std::vector<float>(4800, 0.5f), std::vector<float>(4800, 0.1f)));
    store.setSelectedID(id);
    find(processing, "Поменять местами Л/П")->trigger();
    p.fx.settle();
    EXPECT_FLOAT_EQ(p.track(id).audio.left[10], 0.1f);
    EXPECT_FLOAT_EQ(p.track(id).audio.right[10], 0.5f);
    EXPECT_EQ(store.undoNames().size(), 1u);
}

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <fstream>

#include <gtest/gtest.h>

#include "model/EffectPreset.h"
#include "panels/ChainSummary.h"
#include "panels/FavoriteSheets.h"
#include "panels/WorkspaceTestSupport.h"
#include "support/views/Contrast.h"

namespace tessoral {
namespace {

using test::pump;
using test::qs;

EffectSlot slot(EffectPreset preset, std::map<std::string, double> params = {}) {
    EffectSlot s(preset);
    s.params = std::move(params);
    return s;
}

struct FavoritesTest : ::testing::Test {
    test::WorkspaceStore ws;
    StudioStore& store = *ws.store;
    Uuid clip;
    FavoritesTest() {
        const Uuid lane = ws.addLane("A");
        clip = ws.addClip("c", lane, 0.0);
        store.changeTrack(Uuid(clip), "rack", [](Track& t) {
            t.rack = {slot(EffectPreset::telephone), slot(EffectPreset::compressor, {{"ratio", 3.0}})};
        });
        store.setSelectedID(clip);
    }
    // The effects sheet as the window hosts it: one dialog with the sheet view inside.
    std::unique_ptr<QDialog> host(EffectsSheet sheet) {
        store.setEffectsSheet(sheet);
        auto dialog = std::make_unique<QDialog>();
        auto* layout = new QVBoxLayout(dialog.get());
        layout->addWidget(new EffectsSheetView(store, nullptr, dialog.get()));
        dialog->show();
        QApplication::setActiveWindow(dialog.get());
        pump();
        return dialog;
    }
    EffectsSheetView* view(QDialog& d) { return d.findChild<EffectsSheetView*>(); }
};

TEST(ChainSummary, TitlesMarksAndArrows) {
    EXPECT_EQ(chainSummary({}), QString());
    EXPECT_EQ(chainSummary({slot(EffectPreset::telephone), slot(EffectPreset::compressor, {{"ratio", 3.0}})}),
              qs(title(EffectPreset::telephone)) + QString::fromUtf8(" → ") + qs(title(EffectPreset::compressor)) +
                  QStringLiteral(" *"));
}

TEST_F(FavoritesTest, SaveSheetProposesTheNextNumberAndNeedsAName) {
    for (const char* name : {"x", "y", "z"}) store.saveFavorite(name);
    ASSERT_EQ(store.favorites().size(), 3u);
    SaveFavoriteSheet sheet(store);
    EXPECT_EQ(sheet.nameField()->text(), qs(L("Цепочка {0}", 4)));
    EXPECT_TRUE(sheet.saveButton()->isEnabled());
    EXPECT_TRUE(test::accentFilled(sheet.saveButton()));  // the prominent default
    EXPECT_EQ(sheet.summaryLabel()->text(), chainSummary(store.session().tracks[0].rack));
    sheet.nameField()->setText(QStringLiteral(" \t "));
    EXPECT_FALSE(sheet.saveButton()->isEnabled());
    store.setSelectedID(std::nullopt);
    EXPECT_TRUE(sheet.nameField()->isHidden());
    EXPECT_FALSE(sheet.emptyLabel()->isHidden());
}

TEST_F(FavoritesTest, ReturnInTheSaveFieldSavesOnceAndCloses) {
    auto dialog = host(EffectsSheet::saveFavorite);
    auto* sheet = dialog->findChild<SaveFavoriteSheet*>();
    ASSERT_NE(sheet, nullptr);
    sheet->nameField()->setFocus();
    sheet->nameField()->setText(QStringLiteral("  Radio  "));
    QTest::keyClick(sheet->nameField(), Qt::Key_Return);
    pump();
    ASSERT_EQ(store.favorites().size(), 1u);  // the default button did not save a second time
    EXPECT_EQ(store.favorites()[0].name, "Radio");
    EXPECT_FALSE(store.effectsSheet().has_value());
}

TEST_F(FavoritesTest, ManagerRowsRenameInPlaceWithoutClosing) {
    store.saveFavorite("first");
    auto dialog = host(EffectsSheet::manageFavorites);
    auto* manager = dialog->findChild<FavoritesManagerSheet*>();
    ASSERT_NE(manager, nullptr);
    ASSERT_EQ(manager->rows().size(), 1u);
    EXPECT_TRUE(test::accentFilled(manager->doneButton()));  // the prominent default
    FavoriteRow* row = manager->rows()[0];
    QLineEdit* field = row->nameField();
    field->setFocus();
    field->setText(QString(150, QLatin1Char('n')));
    QTest::keyClick(field, Qt::Key_Return);
    pump();
    EXPECT_EQ(store.favorites()[0].name, std::string(120, 'n'));
    EXPECT_EQ(field->text(), QString(120, QLatin1Char('n')));  // the stored name, in the same row
    EXPECT_EQ(manager->rows()[0], row);
    EXPECT_EQ(store.effectsSheet(), std::optional<EffectsSheet>(EffectsSheet::manageFavorites));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), 0);
    // Leaving the field without Return leaves the stored name.
    field->setText(QStringLiteral("draft"));
    field->clearFocus();
    pump();
    EXPECT_EQ(store.favorites()[0].name, std::string(120, 'n'));
}

TEST_F(FavoritesTest, RowsApplyAppendAndDelete) {
    store.saveFavorite("chain");
    FavoritesManagerSheet manager(store, nullptr);
    FavoriteRow* row = manager.rows()[0];
    EXPECT_EQ(row->summaryLabel()->text(), chainSummary(store.favorites()[0].slots));
    row->appendButton()->click();
    EXPECT_EQ(store.session().tracks[0].rack.size(), 4u);
    EXPECT_EQ(store.undoNames().back(), L("Избранное: {0}", "chain"));
    row->replaceButton()->click();
    EXPECT_EQ(store.session().tracks[0].rack.size(), 2u);
    static_cast<QAbstractButton*>(row->deleteButton())->click();
    pump();
    EXPECT_TRUE(store.favorites().empty());
    EXPECT_TRUE(manager.rows().empty());
    EXPECT_FALSE(manager.emptyLabel()->isHidden());
}

TEST_F(FavoritesTest, UnwritableFavouritesFolderKeepsTheListAndSaysWhy) {
    // The data folder's place is taken by a file: nothing can be written below it.
    { std::ofstream(*ws.fx.dataFolder) << "not a folder"; }
    store.setEffectsSheet(EffectsSheet::saveFavorite);
    SaveFavoriteSheet sheet(store);
    sheet.saveButton()->click();
    EXPECT_TRUE(store.favorites().empty());
    ASSERT_TRUE(store.error().has_value());
    const std::string prefix = L("Не удалось сохранить избранное: {0}", "");
    EXPECT_EQ(store.error()->substr(0, prefix.size()), prefix);
    EXPECT_FALSE(store.effectsSheet().has_value());  // the save sheet closes as always
}

TEST_F(FavoritesTest, OneDialogSwapsItsContentPerCase) {
    store.saveFavorite("a");
    auto dialog = host(EffectsSheet::manageFavorites);
    EffectsSheetView* v = view(*dialog);
    auto* manager = dialog->findChild<FavoritesManagerSheet*>();
    ASSERT_NE(manager, nullptr);
    manager->saveCurrentButton()->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(v->shown(), std::optional<EffectsSheet>(EffectsSheet::saveFavorite));
    auto* save = dialog->findChild<SaveFavoriteSheet*>();
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(save->nameField()->text(), qs(L("Цепочка {0}", 2)));
    EXPECT_EQ(dialog->findChild<FavoritesManagerSheet*>(), nullptr);
    save->cancelButton()->click();
    EXPECT_FALSE(store.effectsSheet().has_value());
}

}  // namespace
}  // namespace tessoral

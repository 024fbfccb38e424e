// The menus over a real store: enable rules at the project limits, titles built from the store,
// the lists that mirror markers and favourites, toggles that follow the store, and the pasteboard
// and undo shortcuts inside text fields.
#include <QClipboard>
#include <QLineEdit>
#include <QMenuBar>
#include <QTest>

#include <gtest/gtest.h>

#include "MenuTestSupport.h"
#include "app/shell/SheetHost.h"
#include "model/Localization.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

// The enabled, visible, non-divider entries of a menu (not its submenus' entries).
QStringList enabledEntries(QMenu* menu, int first = 0, int count = 1000) {
    QStringList out;
    const QList<QAction*> actions = menu->actions();
    for (int i = first; i < actions.size() && i < first + count; ++i) {
        QAction* a = actions[i];
        if (a->isVisible() && !a->isSeparator() && a->isEnabled()) out << shownText(a->text());
    }
    return out;
}

QStringList titles(std::initializer_list<const char*> keys) {
    QStringList out;
    for (const char* k : keys) out << qs(L(k));
    return out;
}

// Shows the window and makes it the active one, so shortcuts reach its menus.
void activate(StudioFixture& fx) {
    fx.window().show();
    QApplication::setActiveWindow(&fx.window());
    fx.delegate().connectStore(fx.store());
    pump();
}

}  // namespace

TEST(Menus, LockedKeepsOnlyTheClipboardSettingsAndQuitAndRecordingOnlyTheModes) {
    StudioFixture fx;
    threeClipsOneSelected(fx);
    StudioStore& s = fx.store();
    s.checkpoint("Rock #live");
    s.setZoom(2.0);
    pump();
    QMenu* file = topMenu(fx, L("Файл"));
    QMenu* edit = topMenu(fx, L("Правка"));
    QMenu* view = topMenu(fx, L("Вид"));
    ASSERT_TRUE(file && edit && view);
    EXPECT_EQ(enabledEntries(file).size(), 8);
    EXPECT_EQ(enabledEntries(edit).size(), 5);

    s.setBusy(true);
    pump();
    EXPECT_EQ(enabledEntries(file), titles({"Настройки…", "Выход"}));
    EXPECT_EQ(enabledEntries(edit), titles({"Вырезать", "Копировать", "Вставить", "Выделить всё"}));
    s.setBusy(false);

    ASSERT_TRUE(startRecording(fx));
    EXPECT_EQ(enabledEntries(file), titles({"Настройки…", "Выход"}));
    // Of the View menu only the three modes go off; zoom, toggles, format and metronome stay.
    const QStringList viewOn = enabledEntries(view);
    for (const char* mode : {"Волна", "Мультитрек", "Микшер"}) EXPECT_FALSE(viewOn.contains(qs(L(mode)))) << mode;
    EXPECT_EQ(viewOn.size(), 5 + 4 + 2);
    EXPECT_TRUE(entry(view, qs(L("Такты и доли")))->isEnabled());
    s.stop();
    fx.settle();
    EXPECT_EQ(enabledEntries(view).size(), 3 + 5 + 4 + 2);
}

TEST(Menus, UndoAndRedoNameTheStepAsStored) {
    StudioFixture fx;
    QAction* undo = entry(fx, L("Правка"), L("Отменить"));
    ASSERT_NE(undo, nullptr);
    EXPECT_FALSE(undo->isEnabled());

    const auto tone = writeTone(fx.services.home.path() / "tone.wav");
    fx.store().open({tone});
    fx.settle();
    EXPECT_EQ(shownText(undo->text()), qs(L("Отменить {0}", L("Импорт аудио"))));
    EXPECT_EQ(shownText(undo->text()), QStringLiteral("Отменить Импорт аудио"));
    EXPECT_TRUE(undo->isEnabled());
    undo->trigger();
    fx.settle();
    QAction* redo = entry(topMenu(fx, L("Правка")), QStringLiteral("Повторить Импорт аудио"));
    ASSERT_NE(redo, nullptr);
    EXPECT_TRUE(redo->isEnabled());
    EXPECT_TRUE(fx.store().session().tracks.empty());
    redo->trigger();
    fx.settle();
    EXPECT_EQ(fx.store().session().tracks.size(), 1u);

    // A stored name is shown whole: no second lookup cuts it at '#', and '&' is no mnemonic.
    fx.store().checkpoint("Rock #live");
    pump();
    EXPECT_EQ(shownText(undo->text()), QStringLiteral("Отменить Rock #live"));
    fx.store().checkpoint("Rock & Roll");
    pump();
    EXPECT_EQ(undo->text(), QStringLiteral("Отменить Rock && Roll"));
    EXPECT_EQ(shownText(undo->text()), QStringLiteral("Отменить Rock & Roll"));
}

TEST(Menus, RowAndClipLimits) {
    StudioFixture fx;
    bigProject(fx, 31, 255);
    QAction* newRow = entry(fx, L("Дорожка"), L("Новая дорожка"));
    QAction* copyRow = entry(fx, L("Дорожка"), L("Дублировать дорожку"));
    QAction* copyClip = entry(fx, L("Дорожка"), L("Дублировать клип"));
    ASSERT_TRUE(newRow && copyRow && copyClip);
    EXPECT_TRUE(newRow->isEnabled());
    EXPECT_TRUE(copyRow->isEnabled());
    EXPECT_TRUE(copyClip->isEnabled());
    // The 32nd row and the 256th clip, made through the menu.
    newRow->trigger();
    fx.settle();
    EXPECT_EQ(fx.store().session().lanes.size(), 32u);
    EXPECT_FALSE(newRow->isEnabled());
    EXPECT_FALSE(copyRow->isEnabled());
    fx.store().setSelectedID(fx.store().session().tracks[0].id);
    EXPECT_TRUE(copyClip->isEnabled());
    copyClip->trigger();
    fx.settle();
    EXPECT_EQ(fx.store().error().value_or(""), "");
    EXPECT_EQ(fx.store().session().tracks.size(), 256u);
    EXPECT_FALSE(copyClip->isEnabled());
}

TEST(Menus, AutoDuckNeedsASecondClipAndTheTopRowCannotMoveUp) {
    StudioFixture fx;
    bigProject(fx, 1, 1);
    QAction* duck = entry(fx, L("Дорожка"), L("Автоприглушение под речью…"));
    QAction* up = entry(fx, L("Дорожка"), L("Переместить дорожку вверх"));
    QAction* down = entry(fx, L("Дорожка"), L("Переместить дорожку вниз"));
    ASSERT_TRUE(duck && up && down);
    EXPECT_FALSE(duck->isEnabled());
    EXPECT_FALSE(up->isEnabled());
    EXPECT_FALSE(down->isEnabled());

    bigProject(fx, 2, 2);
    EXPECT_TRUE(duck->isEnabled());
    EXPECT_FALSE(up->isEnabled());
    EXPECT_TRUE(down->isEnabled());
    const Uuid top = fx.store().session().lanes[0].id;
    down->trigger();
    fx.settle();
    EXPECT_EQ(fx.store().session().lanes[1].id, top);
    EXPECT_TRUE(up->isEnabled());
    EXPECT_FALSE(down->isEnabled());
    duck->trigger();
    EXPECT_TRUE(fx.store().showAutoDuck());
}

TEST(Menus, ProcessingWithoutASelectedClipOffersOnlyLoudnessMatching) {
    StudioFixture fx;
    QMenu* processing = topMenu(fx, L("Обработка"));
    ASSERT_NE(processing, nullptr);
    // The 35 entries and 4 dividers of the menu's own part (diagnostics follow them).
    EXPECT_TRUE(enabledEntries(processing, 0, 39).isEmpty());
    fx.loadDemo();
    fx.store().setSelectedID(std::nullopt);
    EXPECT_EQ(enabledEntries(processing, 0, 39), titles({"Сопоставить громкость…"}));
    // The equalisers are not among the 20 presets.
    int presets = 0;
    for (EffectPreset p : allCases<EffectPreset>())
        if (entry(processing, qs(title(p)))) ++presets;
    EXPECT_EQ(presets, 20);
}

TEST(Menus, AttenuationTitleIsWholeDecibelsWhileTheRepairUsesTheExactValue) {
    // The same demo clip with the same marked region, attenuated three ways.
    const auto attenuated = [](double db, bool throughMenu) {
        StudioFixture fx;
        threeClipsOneSelected(fx);
        StudioStore& s = fx.store();
        s.setSelection(TimeRange{0.2, 0.8});
        s.setFreqSelection(ClosedRange{500.0, 4000.0});
        s.setSpectralAttenuation(db);
        pump();
        if (throughMenu) {
            QAction* a = entry(fx, L("Обработка"), L("Ослабить область спектра на {0} дБ", 12));
            EXPECT_NE(a, nullptr);
            if (!a) return AudioData();
            EXPECT_TRUE(a->isEnabled());
            a->trigger();
        } else {
            s.repairSpectral(SpectralRepairMode::attenuate(db));
        }
        fx.settle();
        return s.session().tracks[0].audio;
    };
    const AudioData menu = attenuated(12.7, true);
    EXPECT_EQ(menu, attenuated(12.7, false));
    EXPECT_FALSE(menu == attenuated(12.0, false));
}

TEST(Menus, SpeedAndPitchOpensFromNeutralAndNeedsAClip) {
    StudioFixture fx;
    fx.loadDemo();
    StudioStore& s = fx.store();
    s.setSelectedID(std::nullopt);
    QAction* a = entry(fx, L("Обработка"), L("Скорость и тон…#menu"));
    ASSERT_NE(a, nullptr);
    EXPECT_FALSE(a->isEnabled());
    s.setSelectedID(s.session().tracks[1].id);
    s.setTimeRate(1.5);
    s.setTimeSemitones(3.0);
    pump();
    a->trigger();
    EXPECT_EQ(s.timeRate(), 1.0);
    EXPECT_EQ(s.timeSemitones(), 0.0);
    EXPECT_TRUE(s.showTimePitch());
}

TEST(Menus, MarkerEntriesMirrorTheProjectAndGoToTheirMarker) {
    StudioFixture fx;
    markers(fx);
    QMenu* menu = topMenu(fx, L("Маркеры"));
    QAction* rock = entry(menu, QStringLiteral("Rock & Roll"));
    ASSERT_NE(rock, nullptr);
    EXPECT_EQ(rock->text(), QStringLiteral("Rock && Roll"));
    EXPECT_TRUE(entry(menu, qs(L("Экспорт диапазонов маркеров…#menu")))->isEnabled());
    rock->trigger();
    ASSERT_TRUE(fx.store().selection());
    EXPECT_DOUBLE_EQ(fx.store().selection()->lower, 2.0);
    EXPECT_DOUBLE_EQ(fx.store().selection()->upper, 3.0);
    QAction* point = entry(menu, qs(L("Маркер {0}", 1)));
    ASSERT_NE(point, nullptr);
    point->trigger();
    EXPECT_FALSE(fx.store().selection());
    EXPECT_DOUBLE_EQ(fx.store().cursor(), 1.0);

    // Two markers of one name are two entries, each going to its own marker.
    fx.store().renameMarker(fx.store().session().markers[0].id, "Rock & Roll");
    pump();
    QList<QAction*> same;
    for (QAction* a : menu->actions())
        if (shownText(a->text()) == QStringLiteral("Rock & Roll")) same << a;
    ASSERT_EQ(same.size(), 2);
    same[0]->trigger();
    EXPECT_FALSE(fx.store().selection());
    same[1]->trigger();
    EXPECT_TRUE(fx.store().selection());
    // Locked: every entry is off, the markers included.
    fx.store().setBusy(true);
    EXPECT_TRUE(enabledEntries(menu).isEmpty());
}

TEST(Menus, FavouriteSubmenusFollowTheListAndTheSelectedClip) {
    StudioFixture fx;
    fx.loadDemo();
    QMenu* menu = topMenu(fx, L("Эффекты"));
    ASSERT_NE(menu, nullptr);
    const auto visible = [menu] {
        QStringList out;
        for (QAction* a : menu->actions())
            if (a->isVisible()) out << (a->isSeparator() ? QStringLiteral("----") : shownText(a->text()));
        return out;
    };
    // No favourites: exactly one divider.
    EXPECT_EQ(visible(), QStringList({qs(L("Сохранить цепочку в избранное…")), QStringLiteral("----"),
                                      qs(L("Управление избранным…")), qs(L("Пакетная обработка…"))}));
    favourites(fx);
    EXPECT_EQ(visible().size(), 7);
    // No clip selected: the favourites are off, managing and batch processing on.
    EXPECT_EQ(enabledEntries(menu), titles({"Управление избранным…", "Пакетная обработка…"}));
    // A clip without effects: it cannot be saved, but a favourite can be applied to it.
    StudioStore& s = fx.store();
    s.setSelectedID(s.session().tracks[1].id);
    pump();
    EXPECT_FALSE(entry(menu, qs(L("Сохранить цепочку в избранное…")))->isEnabled());
    QAction* rock = nullptr;
    for (QAction* a : menu->actions())
        if (a->menu() && shownText(a->text()) == QStringLiteral("Rock & Roll")) rock = a;
    ASSERT_NE(rock, nullptr);
    EXPECT_TRUE(rock->isEnabled());
    entry(rock->menu(), qs(L("Заменить цепочку")))->trigger();
    fx.settle();
    ASSERT_EQ(s.session().tracks[1].rack.size(), 1u);
    EXPECT_EQ(s.session().tracks[1].rack[0].preset, EffectPreset::reverb);
    entry(rock->menu(), qs(L("Добавить к цепочке")))->trigger();
    fx.settle();
    EXPECT_EQ(s.session().tracks[1].rack.size(), 2u);
}

TEST(Menus, TogglesAndThePickerFollowTheStoreBothWays) {
    StudioFixture fx;
    fx.loadDemo();
    StudioStore& s = fx.store();
    QAction* spectrum = entry(fx, L("Вид"), L("Спектрограмма"));
    ASSERT_NE(spectrum, nullptr);
    s.setSpectralView(true);
    EXPECT_TRUE(spectrum->isChecked());
    spectrum->trigger();
    EXPECT_FALSE(s.spectralView());
    EXPECT_FALSE(spectrum->isChecked());

    // The crossfade switch is an undoable change; undo moves the mark back.
    QAction* crossfade = entry(fx, L("Дорожка"), L("Автоматический кроссфейд при наложении"));
    const bool before = s.session().autoCrossfade;
    crossfade->trigger();
    EXPECT_EQ(s.session().autoCrossfade, !before);
    EXPECT_EQ(crossfade->isChecked(), !before);
    s.undo();
    EXPECT_EQ(crossfade->isChecked(), before);

    QAction* bars = entry(fx, L("Вид"), L("Такты и доли"));
    bars->trigger();
    EXPECT_EQ(s.timeFormat(), TimeFormat::bars);
    EXPECT_TRUE(bars->isChecked());
    EXPECT_FALSE(entry(fx, L("Вид"), L("мм:сс.мс"))->isChecked());
    s.cycleTimeFormat();
    EXPECT_FALSE(bars->isChecked());

    QAction* metronome = entry(fx, L("Вид"), L("Метроном"));
    metronome->trigger();
    EXPECT_TRUE(s.metronome());
    EXPECT_EQ(s.status(), L("Метроном включён"));
    EXPECT_TRUE(metronome->isChecked());
}

TEST(Menus, ZoomEntriesStopAtTheLimits) {
    StudioFixture fx;
    fx.loadDemo();
    StudioStore& s = fx.store();
    QAction* in = entry(fx, L("Вид"), L("Увеличить"));
    QAction* out = entry(fx, L("Вид"), L("Уменьшить"));
    QAction* fit = entry(fx, L("Вид"), L("Масштаб по выделению"));
    s.setSelectedID(std::nullopt);
    EXPECT_FALSE(fit->isEnabled());
    s.setZoom(30.0);
    in->trigger();
    EXPECT_EQ(s.zoom(), 32.0);
    EXPECT_FALSE(in->isEnabled());
    EXPECT_TRUE(out->isEnabled());
    s.setZoom(1.2);
    out->trigger();
    EXPECT_EQ(s.zoom(), 1.0);
    EXPECT_FALSE(out->isEnabled());
    s.setZoom(8.0);
    entry(fx, L("Вид"), L("Показать весь проект"))->trigger();
    EXPECT_EQ(s.zoom(), 1.0);
    ASSERT_TRUE(s.zoomFocus());
    EXPECT_EQ(s.zoomFocus()->time, 0.0);
    EXPECT_EQ(s.zoomFocus()->fraction, 0.0);
    s.setSelection(TimeRange{1.0, 2.0});
    EXPECT_TRUE(fit->isEnabled());
}

TEST(Menus, PasteboardAndUndoKeysInATextFieldStayInTheField) {
    StudioFixture fx;
    threeClipsOneSelected(fx);
    StudioStore& s = fx.store();
    s.checkpoint("Rock #live");
    activate(fx);
    auto* edit = new QLineEdit(fx.window().studio());
    edit->show();
    edit->setFocus();
    pump();
    QTest::keyClicks(edit, QStringLiteral("abc"));
    edit->selectAll();
    QApplication::clipboard()->clear();
    QTest::keyClick(edit, Qt::Key_C, Qt::ControlModifier);
    EXPECT_FALSE(s.clipboard());
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("abc"));
    // Ctrl+Z undoes the typing, not the project.
    const auto steps = s.undoNames().size();
    QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
    EXPECT_TRUE(edit->text().isEmpty());
    QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(edit->text(), QStringLiteral("abc"));
    EXPECT_EQ(s.undoNames().size(), steps);
    // The menu's entry goes to the focused field too.
    edit->setSelection(0, 1);
    entry(fx, L("Правка"), L("Копировать"))->trigger();
    EXPECT_FALSE(s.clipboard());
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("a"));
    entry(fx, L("Правка"), L("Выделить всё"))->trigger();
    EXPECT_EQ(edit->selectedText(), QStringLiteral("abc"));

    // Without a text field in focus, Ctrl+C copies the selected audio.
    edit->hide();
    fx.window().studio()->setFocus();
    pump();
    QTest::keyClick(&fx.window(), Qt::Key_C, Qt::ControlModifier);
    ASSERT_TRUE(s.clipboard());
    EXPECT_EQ(s.clipboard()->frames(), 24000);
}

TEST(Menus, WindowShortcutsSleepUnderASheet) {
    StudioFixture fx;
    fx.loadDemo();
    activate(fx);
    StudioStore& s = fx.store();
    const auto rows = s.session().lanes.size();
    QTest::keyClick(&fx.window(), Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(s.session().lanes.size(), rows + 1);
    s.setShowExport(true);
    pump();
    QDialog* sheet = fx.view().sheets()->topSheet();
    ASSERT_NE(sheet, nullptr);
    QApplication::setActiveWindow(sheet);
    pump();
    QTest::keyClick(sheet, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(sheet, Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(s.session().lanes.size(), rows + 1);
    EXPECT_FALSE(s.showMatchLoudness());
}

namespace {

// A press as a layout without a Latin group gives it: the layout's own letter with the X key code
// of its place, sent to the focused widget (else the window).
void pressOnPlace(StudioFixture& fx, int key, quint32 scan, Qt::KeyboardModifiers mods = Qt::ControlModifier,
                  const QString& text = QString()) {
    QWidget* to = QApplication::focusWidget() ? QApplication::focusWidget() : &fx.window();
    QKeyEvent press(QEvent::KeyPress, key, mods, scan, 0, 0, text);
    QApplication::sendEvent(to, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods, scan, 0, 0, text);
    QApplication::sendEvent(to, &release);
}

constexpr int kYa = 0x42F, kTe = 0x422;       // Я on the Z place, Т on the N place
constexpr quint32 kZPlace = 52, kNPlace = 57;

}  // namespace

TEST(Menus, LetterShortcutsFollowTheKeyPlaceOnALayoutWithoutLatin) {
    StudioFixture fx;
    fx.loadDemo();
    activate(fx);
    fx.window().studio()->setFocus();
    pump();
    StudioStore& s = fx.store();
    const auto rows = s.session().lanes.size();
    pressOnPlace(fx, kTe, kNPlace, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(s.session().lanes.size(), rows + 1);
    pressOnPlace(fx, kYa, kZPlace);
    EXPECT_EQ(s.session().lanes.size(), rows);
    pressOnPlace(fx, kYa, kZPlace, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(s.session().lanes.size(), rows + 1);
    // A Latin letter on another place (Ctrl+W where a US keyboard has Z) is that letter, not Z.
    pressOnPlace(fx, Qt::Key_W, kZPlace);
    EXPECT_EQ(s.session().lanes.size(), rows + 1);
    // Without Ctrl the press is typing or a single key.
    const auto steps = s.undoNames().size();
    pressOnPlace(fx, kYa, kZPlace, Qt::NoModifier);
    EXPECT_EQ(s.undoNames().size(), steps);

    // In a text field Ctrl+Я undoes the typing, not the project.
    auto* edit = new QLineEdit(fx.window().studio());
    edit->show();
    edit->setFocus();
    pump();
    QTest::keyClicks(edit, QStringLiteral("abc"));
    pressOnPlace(fx, kYa, kZPlace);
    EXPECT_TRUE(edit->text().isEmpty());
    // Typing Russian stays typing.
    pressOnPlace(fx, kYa, kZPlace, Qt::NoModifier, QStringLiteral("я"));
    pressOnPlace(fx, kYa, kZPlace, Qt::ShiftModifier, QStringLiteral("Я"));
    EXPECT_EQ(edit->text(), QStringLiteral("яЯ"));
    EXPECT_EQ(s.session().lanes.size(), rows + 1);
    edit->hide();

    // An open menu keeps its keys: Ctrl+Я reaches the menu's window, not the project behind it.
    QMenu* open = topMenu(fx, L("Правка"));
    ASSERT_NE(open, nullptr);
    open->popup(fx.window().mapToGlobal(QPoint(40, 40)));
    pump();
    ASSERT_EQ(QApplication::activePopupWidget(), open);
    QKeyEvent press(QEvent::KeyPress, kYa, Qt::ControlModifier, kZPlace, 0, 0);
    QApplication::sendEvent(open->windowHandle(), &press);
    QKeyEvent release(QEvent::KeyRelease, kYa, Qt::ControlModifier, kZPlace, 0, 0);
    QApplication::sendEvent(open->windowHandle(), &release);
    pump();
    EXPECT_EQ(s.session().lanes.size(), rows + 1);
    open->close();
    pump();

    // Under a sheet the window's shortcuts sleep on every layout.
    s.setShowExport(true);
    pump();
    QDialog* sheet = fx.view().sheets()->topSheet();
    ASSERT_NE(sheet, nullptr);
    QApplication::setActiveWindow(sheet);
    sheet->setFocus();
    pump();
    pressOnPlace(fx, kTe, kNPlace, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(s.session().lanes.size(), rows + 1);
}

// Without a pointer: F10 opens Файл with its first entry chosen, → walks to Правка, Вид and Дорожка,
// ↓ reaches every entry of Дорожка in turn, Return runs the chosen one; Alt+letter opens a menu, a
// bare Alt tap changes nothing.
TEST(Menus, F10OpensTheFileMenuAndTheArrowsReachTheTrackMenusEntries) {
    StudioFixture fx;
    threeClipsOneSelected(fx);
    activate(fx);
    const auto openMenu = [] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); };
    const auto press = [&](Qt::Key key) {
        QWidget* to = QApplication::activePopupWidget();
        ASSERT_TRUE(to);
        QTest::keyClick(to, key);
        pump();
    };
    EXPECT_FALSE(openMenu());
    QTest::keyClick(&fx.window(), Qt::Key_F10);
    pump();
    ASSERT_TRUE(openMenu());
    EXPECT_EQ(openMenu()->objectName(), QStringLiteral("fileMenu"));
    ASSERT_TRUE(openMenu()->activeAction());
    EXPECT_EQ(shownText(openMenu()->activeAction()->text()), qs(L("Новый проект")));

    for (const char* next : {"editMenu", "viewMenu", "trackMenu"}) {
        press(Qt::Key_Right);
        ASSERT_TRUE(openMenu()) << next;
        EXPECT_EQ(openMenu()->objectName(), QString::fromLatin1(next));
    }
    QMenu* track = openMenu();
    const QStringList entries = enabledEntries(track);
    ASSERT_GE(entries.size(), 4);
    QStringList reached;
    reached << shownText(track->activeAction()->text());
    for (int i = 1; i < entries.size(); ++i) {
        press(Qt::Key_Down);
        ASSERT_TRUE(track->activeAction());
        reached << shownText(track->activeAction()->text());
    }
    EXPECT_EQ(reached, entries);
    // ← goes back to Вид; Escape closes the menus.
    press(Qt::Key_Left);
    EXPECT_EQ(openMenu()->objectName(), QStringLiteral("viewMenu"));
    press(Qt::Key_Escape);
    if (openMenu()) press(Qt::Key_Escape);
    EXPECT_FALSE(openMenu());

    // Return runs the chosen entry: the first of Дорожка adds a row.
    const std::size_t rows = fx.store().session().lanes.size();
    QTest::keyClick(&fx.window(), Qt::Key_F10);
    pump();
    for (int i = 0; i < 3; ++i) press(Qt::Key_Right);
    ASSERT_EQ(openMenu(), track);
    const QString first = shownText(track->activeAction()->text());
    press(Qt::Key_Return);
    EXPECT_FALSE(openMenu());
    EXPECT_EQ(first, entries.first());
    EXPECT_NE(fx.store().session().lanes.size(), rows) << first.toStdString();

    // Alt closes an open menu.
    QTest::keyClick(&fx.window(), Qt::Key_F10);
    pump();
    ASSERT_TRUE(openMenu());
    press(Qt::Key_Alt);
    EXPECT_FALSE(openMenu());

    // Alt pressed and released alone leaves the menu bar alone: no hidden keyboard mode takes the
    // next Space, which plays as everywhere in the window.
    QTest::keyClick(&fx.window(), Qt::Key_Alt);
    pump();
    QMenuBar* bar = fx.window().menuBar();
    EXPECT_FALSE(bar->hasFocus());
    EXPECT_FALSE(bar->activeAction());
    ASSERT_FALSE(fx.store().transport().playing());
    QTest::keyClick(&fx.window(), Qt::Key_Space);
    fx.settle();
    EXPECT_FALSE(openMenu());
    EXPECT_TRUE(fx.store().transport().playing());
    fx.store().stop();
    fx.settle();

    // Each title has its own letter: Alt with it opens that menu.
    QSet<QChar> letters;
    for (QAction* title : fx.window().menuBar()->actions()) {
        const QKeySequence mnemonic = QKeySequence::mnemonic(title->text());
        ASSERT_FALSE(mnemonic.isEmpty()) << shownText(title->text()).toStdString();
        const qsizetype at = title->text().indexOf(QLatin1Char('&'));
        EXPECT_FALSE(letters.contains(title->text()[at + 1].toLower()));
        letters.insert(title->text()[at + 1].toLower());
        EXPECT_EQ(shownText(title->text()), title->menu() ? shownText(title->menu()->title()) : QString());
    }
    QAction* trackTitle = track->menuAction();
    const QKeySequence alt = QKeySequence::mnemonic(trackTitle->text());
    ASSERT_EQ(alt.count(), 1);
    const QKeyCombination combination = alt[0];
    ASSERT_EQ(combination.keyboardModifiers(), Qt::AltModifier);
    // (Qt's test keys know no Cyrillic: the press is sent with its text.)
    const QString letter = QString(QChar(combination.key())).toLower();
    QTest::sendKeyEvent(QTest::Press, &fx.window(), combination.key(), letter, Qt::AltModifier);
    QTest::sendKeyEvent(QTest::Release, &fx.window(), combination.key(), letter, Qt::AltModifier);
    pump();
    EXPECT_EQ(openMenu(), track) << alt.toString().toStdString();
    if (openMenu()) press(Qt::Key_Escape);
}

TEST(Menus, MnemonicsTakeEachTitlesFirstFreeLetterAndKeepAmpersands) {
    QMenuBar bar;
    const QStringList titles = {QStringLiteral("File"), QStringLiteral("Edit"), QStringLiteral("Effects"),
                                QStringLiteral("Fee"), QStringLiteral("R&B"), QStringLiteral("1 2")};
    for (const QString& t : titles) bar.addMenu(menuText(t));
    Menus::addMnemonics(bar.actions());
    QStringList got;
    for (QAction* a : bar.actions()) got << a->text();
    EXPECT_EQ(got, (QStringList{QStringLiteral("&File"), QStringLiteral("&Edit"), QStringLiteral("Effe&cts"),
                                QStringLiteral("Fee"), QStringLiteral("&R&&B"), QStringLiteral("1 2")}));
    for (int i = 0; i < titles.size(); ++i) EXPECT_EQ(shownText(got[i]), titles[i]);
}

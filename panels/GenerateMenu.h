#pragma once

class QMenu;

namespace tessoral {

class StudioStore;
class TransportSignals;

namespace panels {

// The whole "Генерация" menu: "Тон…" and "Шум…" (off while the store is locked), then "Вставить
// тишину…" (also off without a selected clip). Each opens its processing sheet.
void populateGenerateMenu(StudioStore& store, TransportSignals* transport, QMenu* menu);

}  // namespace panels

}  // namespace tessoral

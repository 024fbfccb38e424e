#pragma once

#include <QWidget>

#include <map>
#include <vector>

#include "model/EffectSlot.h"
#include "model/Uuid.h"

class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace tessoral {

class StudioStore;
class ToolButton;
class TransportSignals;
class ValueSlider;

namespace panels {
class Popover;
}

// One slot of the rack: number, power, preset, parameters (a popover with the effect editor), the
// dry/wet slider, and moves and delete. Every control is one store command addressed by the clip's
// and the slot's ids.
class RackSlotView : public QWidget {
    Q_OBJECT
public:
    RackSlotView(StudioStore& store, TransportSignals* transport, Uuid trackID, const EffectSlot& slot, int index,
                 int count, QWidget* parent = nullptr);
    ~RackSlotView() override;

    // The slot as published now, its place and the rack's size.
    void update(Uuid trackID, const EffectSlot& slot, int index, int count);
    const EffectSlot& slot() const { return slot_; }
    bool editing() const { return editing_; }
    // Opens the parameters popover (what the parameters button does).
    void openEditor();
    // Closes the parameters popover if it is open.
    void closeEditor();
    panels::Popover* popover() const { return popover_; }

    QLabel* numberLabel() const { return number_; }
    QToolButton* powerButton() const { return power_; }
    QComboBox* presetBox() const { return preset_; }
    QToolButton* parametersButton() const { return params_; }
    ValueSlider* wetSlider() const { return wet_; }
    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }
    QToolButton* deleteButton() const { return delete_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    StudioStore& store_;
    TransportSignals* transport_;
    Uuid trackID_;
    EffectSlot slot_;
    int index_ = 0;
    int count_ = 0;
    bool editing_ = false;
    QLabel* number_ = nullptr;
    QToolButton* power_ = nullptr;
    QComboBox* preset_ = nullptr;
    QToolButton* params_ = nullptr;
    ValueSlider* wet_ = nullptr;
    QToolButton* up_ = nullptr;
    QToolButton* down_ = nullptr;
    QToolButton* delete_ = nullptr;
    panels::Popover* popover_ = nullptr;
};

// The inspector's "Эффекты" page: the selected clip's effect chain of up to 8 slots, built once and
// updated in place from the store (slot rows keyed by slot id, so a moved row keeps its popover).
class EffectsRackView : public QWidget {
    Q_OBJECT
public:
    EffectsRackView(StudioStore& store, TransportSignals* transport, QWidget* parent = nullptr);

    // The slot rows in rack order and the add rows' numbers.
    std::vector<RackSlotView*> slotRows() const;
    RackSlotView* slotRow(const Uuid& slotID) const;
    QStringList addRowNumbers() const;
    // The add menu of the free position `position` (0-based).
    QMenu* addMenu(int position) const;
    QLabel* emptyText() const { return emptyText_; }
    QLabel* clipName() const { return clipName_; }
    QLabel* countText() const { return count_; }
    QLabel* badge() const { return badge_; }
    QPushButton* applyButton() const { return apply_; }
    ToolButton* chainPower() const { return chainPower_; }
    QToolButton* favoritesButton() const { return favorites_; }
    QMenu* favoritesMenu() const { return favoritesMenu_; }

private:
    void refresh();
    void fillFavoritesMenu();

    StudioStore& store_;
    TransportSignals* transport_;
    QWidget* emptyPage_ = nullptr;
    QWidget* clipPage_ = nullptr;
    QLabel* emptyText_ = nullptr;
    QWidget* dot_ = nullptr;
    QLabel* clipName_ = nullptr;
    QVBoxLayout* list_ = nullptr;
    std::map<Uuid, RackSlotView*> rows_;
    std::vector<QWidget*> addRows_;  // eight, the first `rack size` hidden
    QLabel* count_ = nullptr;
    QLabel* badge_ = nullptr;
    QPushButton* apply_ = nullptr;
    ToolButton* chainPower_ = nullptr;
    QToolButton* favorites_ = nullptr;
    QMenu* favoritesMenu_ = nullptr;
};

}  // namespace tessoral

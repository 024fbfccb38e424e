#include "panels/EffectRack.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "model/Track.h"
#include "panels/EffectEditor.h"
#include "panels/PanelSupport.h"
#include "store/StudioStore.h"
#include "widgets/Eliding.h"
#include "widgets/Fonts.h"
#include "widgets/Icons.h"
#include "widgets/Palette.h"
#include "widgets/Styling.h"
#include "widgets/ToolButton.h"
#include "widgets/ValueSlider.h"

namespace tessoral {

using panels::qs;

namespace {

void setTextColour(QWidget* w, const QColor& colour) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, colour);
    pal.setColor(QPalette::ButtonText, colour);
    w->setPalette(pal);
}

using styling::divider;

// A borderless icon button of the slot row.
QToolButton* plainButton(const QString& symbol, const QString& help, const QColor& colour, int size, QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setAutoRaise(true);
    b->setIcon(Icons::icon(symbol, colour, size));
    b->setIconSize(QSize(size, size));
    b->setToolTip(help);
    b->setAccessibleName(help);
    b->setFocusPolicy(Qt::TabFocus);
    return b;
}

QString twoDigits(int n) { return qs(num::padded(n, 2)); }

// The wet amount as "%.0f%%" of wet × 100.
QString percent(double wet) { return qs(num::fixed(wet * 100.0, 0) + "%"); }

const Track* selectedClip(const StudioStore& store) {
    const auto index = store.selectedIndex();
    if (!index) return nullptr;
    return &store.session().tracks[*index];
}

}  // namespace

// ---- RackSlotView ----

RackSlotView::RackSlotView(StudioStore& store, TransportSignals* transport, Uuid trackID, const EffectSlot& slot,
                           int index, int count, QWidget* parent)
    : QWidget(parent), store_(store), transport_(transport), trackID_(trackID), slot_(slot), index_(index), count_(count) {
    setObjectName(QStringLiteral("rackSlot"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* body = new QVBoxLayout;
    body->setContentsMargins(11, 11, 11, 11);
    body->setSpacing(7);

    auto* top = new QHBoxLayout;
    top->setSpacing(5);
    number_ = new QLabel(this);
    number_->setFont(Fonts::mono(9));
    setTextColour(number_, Palette::secondaryText());
    top->addWidget(number_);
    power_ = plainButton(QStringLiteral("power"), qs(L("Включить или отключить эффект")), Palette::accent(), 13, this);
    connect(power_, &QToolButton::clicked, this, [this] { store_.toggleRackSlotEnabled(trackID_, slot_.id); });
    top->addWidget(power_);
    preset_ = new ElidingComboBox(this);
    preset_->setFont(Fonts::ui(11));
    for (EffectPreset p : allCases<EffectPreset>()) preset_->addItem(qs(title(p)), static_cast<int>(p));
    preset_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    preset_->setMinimumContentsLength(8);
    // Only a choice of another preset is an edit: the same one again records nothing.
    connect(preset_, &QComboBox::activated, this, [this](int i) {
        const auto chosen = static_cast<EffectPreset>(preset_->itemData(i).toInt());
        if (chosen != slot_.preset) store_.setRackSlotPreset(trackID_, slot_.id, chosen);
        refresh();
    });
    top->addWidget(preset_, 1);
    params_ = plainButton(QStringLiteral("slider.horizontal.3"), qs(L("Параметры эффекта")), Palette::accent(), 14, this);
    connect(params_, &QToolButton::clicked, this, &RackSlotView::openEditor);
    top->addWidget(params_);
    body->addLayout(top);

    wet_ = new ValueSlider(
        qs(L("Обработанный сигнал")), slot_.wet, 0.0, 1.0, percent(slot_.wet), true, [this] { store_.stop(); },
        [this](double wet) { store_.setRackSlotWet(trackID_, slot_.id, wet); }, this);
    wet_->speakAs(100.0);  // in the percent shown
    body->addWidget(wet_);

    auto* bottom = new QHBoxLayout;
    auto* caption = new QLabel(QStringLiteral("DRY / WET"), this);
    caption->setFont(Fonts::mono(8));
    setTextColour(caption, Palette::tertiaryText());
    bottom->addWidget(caption);
    bottom->addStretch(1);
    up_ = plainButton(QStringLiteral("chevron.up"), qs(L("Выше в цепочке")), Palette::secondaryText(), 11, this);
    connect(up_, &QToolButton::clicked, this, [this] { store_.moveRackSlot(slot_.id, -1); });
    bottom->addWidget(up_);
    down_ = plainButton(QStringLiteral("chevron.down"), qs(L("Ниже в цепочке")), Palette::secondaryText(), 11, this);
    connect(down_, &QToolButton::clicked, this, [this] { store_.moveRackSlot(slot_.id, 1); });
    bottom->addWidget(down_);
    delete_ = plainButton(QStringLiteral("trash"), qs(L("Удалить эффект")), Palette::secondaryText(), 11, this);
    connect(delete_, &QToolButton::clicked, this, [this] { store_.removeRackSlot(trackID_, slot_.id); });
    bottom->addWidget(delete_);
    body->addLayout(bottom);

    outer->addLayout(body);
    outer->addWidget(divider(this));
    refresh();
}

RackSlotView::~RackSlotView() {
    // The popover goes first, while this row can still hear that it closed.
    if (popover_) {
        popover_->setOnClosed({});
        delete popover_;
    }
}

void RackSlotView::update(Uuid trackID, const EffectSlot& slot, int index, int count) {
    if (trackID == trackID_ && slot == slot_ && index == index_ && count == count_) return;
    trackID_ = trackID;
    slot_ = slot;
    index_ = index;
    count_ = count;
    refresh();
}

void RackSlotView::refresh() {
    number_->setText(twoDigits(index_ + 1));
    power_->setIcon(Icons::icon(QStringLiteral("power"), slot_.enabled ? Palette::accent() : Palette::grey(), 13));
    power_->setProperty("lit", slot_.enabled);
    const int at = preset_->findData(static_cast<int>(slot_.preset));
    if (preset_->currentIndex() != at) preset_->setCurrentIndex(at);
    preset_->setAccessibleName(qs(L("Эффект {0}", index_ + 1)));
    const bool hasParams = !slot_.params.empty();
    params_->setIcon(Icons::icon(QStringLiteral("slider.horizontal.3"),
                                 hasParams ? Palette::accent() : Palette::secondaryText(), 14));
    params_->setProperty("lit", hasParams);
    wet_->setValue(slot_.wet);
    wet_->setDisplay(percent(slot_.wet));
    up_->setEnabled(index_ > 0);
    down_->setEnabled(index_ < count_ - 1);
    QWidget::update();
}

void RackSlotView::openEditor() {
    if (!popover_) {
        popover_ = new panels::Popover(this);
        popover_->setObjectName(QStringLiteral("effectPopover"));
        popover_->setOnClosed([this] {
            editing_ = false;
            // A fresh editor at each opening (its band starts at the second peak again).
            if (popover_) popover_->setContent(nullptr);
        });
    }
    editing_ = true;
    popover_->setContent(new EffectEditorView(store_, transport_, trackID_, slot_.id));
    popover_->showBelow(params_);
}

void RackSlotView::closeEditor() {
    if (popover_ && popover_->isVisible()) popover_->hide();
}

void RackSlotView::paintEvent(QPaintEvent*) {
    // An enabled slot sits on a faint white tint.
    if (!slot_.enabled) return;
    QPainter p(this);
    p.fillRect(rect(), QColor(255, 255, 255, 6));
}

// ---- EffectsRackView ----

EffectsRackView::EffectsRackView(StudioStore& store, TransportSignals* transport, QWidget* parent)
    : QWidget(parent), store_(store), transport_(transport) {
    setObjectName(QStringLiteral("effectsRack"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Palette::panel());
    setPalette(pal);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Header: title, favourites menu and the chain's power.
    auto* headerBox = new QWidget(this);
    headerBox->setFixedHeight(42);
    auto* header = new QHBoxLayout(headerBox);
    header->setContentsMargins(12, 0, 12, 0);
    auto* heading = new QLabel(qs(L("ЦЕПОЧКА ЭФФЕКТОВ")), headerBox);
    heading->setFont(Fonts::ui(10, QFont::DemiBold));
    setTextColour(heading, Palette::secondaryText());
    header->addWidget(heading);
    header->addStretch(1);
    favorites_ = new QToolButton(headerBox);
    favorites_->setObjectName(QStringLiteral("favorites"));
    favorites_->setAutoRaise(true);
    favorites_->setIcon(Icons::icon(QStringLiteral("star"), Palette::secondaryText(), 14));
    favorites_->setFixedWidth(28);
    favorites_->setToolTip(qs(L("Избранные цепочки эффектов")));
    favorites_->setPopupMode(QToolButton::InstantPopup);
    favorites_->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0; }"));
    favoritesMenu_ = new QMenu(favorites_);
    favorites_->setMenu(favoritesMenu_);
    connect(favoritesMenu_, &QMenu::aboutToShow, this, &EffectsRackView::fillFavoritesMenu);
    header->addWidget(favorites_);
    chainPower_ = new ToolButton(QStringLiteral("power"), qs(L("Обход всей цепочки")), true, Palette::accent(),
                                 [this] {
                                     if (const Track* clip = selectedClip(store_)) store_.toggleRackBypass(clip->id);
                                 },
                                 headerBox);
    chainPower_->setObjectName(QStringLiteral("chainPower"));
    header->addWidget(chainPower_);
    column->addWidget(headerBox);
    column->addWidget(divider(this));

    // Without a selected clip.
    emptyPage_ = new QWidget(this);
    auto* emptyLayout = new QVBoxLayout(emptyPage_);
    emptyLayout->setContentsMargins(20, 20, 20, 20);
    emptyText_ = new QLabel(qs(L("Клип не выбран")), emptyPage_);
    emptyText_->setFont(Fonts::ui(12));
    setTextColour(emptyText_, Palette::secondaryText());
    emptyLayout->addWidget(emptyText_);
    emptyLayout->addStretch(1);
    column->addWidget(emptyPage_, 1);

    // With one.
    clipPage_ = new QWidget(this);
    auto* page = new QVBoxLayout(clipPage_);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);
    auto* clipLine = new QHBoxLayout;
    clipLine->setContentsMargins(12, 12, 12, 12);
    clipLine->setSpacing(8);  // the dot apart from the name (the page's own spacing is 0)
    dot_ = new QWidget(clipPage_);
    dot_->setFixedSize(5, 5);
    dot_->setAttribute(Qt::WA_StyledBackground);
    clipLine->addWidget(dot_);
    clipName_ = new QLabel(clipPage_);
    clipName_->setObjectName(QStringLiteral("clipName"));
    clipName_->setFont(Fonts::ui(12, QFont::Medium));
    clipName_->setTextFormat(Qt::PlainText);
    clipLine->addWidget(clipName_, 1);
    page->addLayout(clipLine);

    auto* scroll = new QScrollArea(clipPage_);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* listBox = new QWidget(scroll);
    listBox->setAutoFillBackground(false);
    list_ = new QVBoxLayout(listBox);
    list_->setContentsMargins(0, 0, 0, 0);
    list_->setSpacing(0);

    // The add menu: equalisers, a divider, the other twenty. A new slot always goes to the end.
    auto* addMenu = new QMenu(this);
    addMenu->setObjectName(QStringLiteral("addEffectMenu"));
    auto addEntry = [this, addMenu](EffectPreset p) {
        addMenu->addAction(qs(title(p)), this, [this, p] { store_.addRackEffect(p); });
    };
    for (EffectPreset p : allCases<EffectPreset>())
        if (isEqualizer(p)) addEntry(p);
    addMenu->addSeparator();
    for (EffectPreset p : processingCases()) addEntry(p);

    for (int i = 0; i < 8; ++i) {
        auto* row = new QWidget(listBox);
        row->setObjectName(QStringLiteral("addRow"));
        auto* rowColumn = new QVBoxLayout(row);
        rowColumn->setContentsMargins(0, 0, 0, 0);
        rowColumn->setSpacing(0);
        auto* line = new QWidget(row);
        line->setFixedHeight(39);
        auto* h = new QHBoxLayout(line);
        h->setContentsMargins(12, 0, 12, 0);
        h->setSpacing(9);
        auto* number = new QLabel(twoDigits(i + 1), line);
        number->setObjectName(QStringLiteral("addNumber"));
        number->setFont(Fonts::mono(10));
        number->setFixedWidth(20);
        setTextColour(number, Palette::tertiaryText());
        h->addWidget(number);
        auto* add = new QToolButton(line);
        add->setObjectName(QStringLiteral("addEffect"));
        add->setText(qs(L("Добавить эффект")));
        add->setFont(Fonts::ui(11));
        add->setAutoRaise(true);
        add->setPopupMode(QToolButton::InstantPopup);
        add->setMenu(addMenu);
        add->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0; }"));
        h->addStretch(1);
        h->addWidget(add);
        h->addStretch(1);
        rowColumn->addWidget(line);
        rowColumn->addWidget(divider(row));
        list_->addWidget(row);
        addRows_.push_back(row);
    }
    list_->addStretch(1);
    scroll->setWidget(listBox);
    page->addWidget(scroll, 1);
    page->addWidget(divider(clipPage_));

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(12, 12, 12, 12);
    count_ = new QLabel(clipPage_);
    count_->setObjectName(QStringLiteral("activeCount"));
    count_->setFont(Fonts::mono(9));
    footer->addWidget(count_);
    footer->addStretch(1);
    badge_ = new QLabel(clipPage_);
    badge_->setObjectName(QStringLiteral("badge"));
    badge_->setFont(Fonts::mono(9));
    footer->addWidget(badge_);
    page->addLayout(footer);
    auto* applyRow = new QHBoxLayout;
    applyRow->setContentsMargins(12, 0, 12, 14);
    apply_ = new QPushButton(Icons::icon(QStringLiteral("checkmark"), Palette::primaryText(), 12),
                             qs(L("Применить к звуку")), clipPage_);
    apply_->setObjectName(QStringLiteral("flatten"));
    apply_->setAutoDefault(false);
    connect(apply_, &QPushButton::clicked, this, [this] { store_.flattenRack(); });
    applyRow->addStretch(1);
    applyRow->addWidget(apply_);
    applyRow->addStretch(1);
    page->addLayout(applyRow);
    column->addWidget(clipPage_, 1);

    panels::followLocked(this, store_, transport_);
    connect(&store_, &StudioStore::sessionChanged, this, &EffectsRackView::refresh);
    connect(&store_, &StudioStore::selectedIDChanged, this, &EffectsRackView::refresh);
    refresh();
}

void EffectsRackView::fillFavoritesMenu() {
    favoritesMenu_->clear();
    const Track* clip = selectedClip(store_);
    QAction* save = favoritesMenu_->addAction(qs(L("Сохранить цепочку в избранное…")), this,
                                              [this] { store_.setEffectsSheet(EffectsSheet::saveFavorite); });
    save->setEnabled(clip && !clip->rack.empty());
    if (!store_.favorites().empty()) {
        favoritesMenu_->addSeparator();
        for (const EffectFavorite& f : store_.favorites()) {
            // An '&' in a user's name is no mnemonic.
            QString name = qs(f.name);
            name.replace(QLatin1Char('&'), QStringLiteral("&&"));
            const EffectFavorite chosen = f;
            favoritesMenu_->addAction(name, this, [this, chosen] { store_.applyFavorite(chosen, false); });
        }
    }
    favoritesMenu_->addSeparator();
    favoritesMenu_->addAction(qs(L("Управление избранным…")), this,
                              [this] { store_.setEffectsSheet(EffectsSheet::manageFavorites); });
    favoritesMenu_->addAction(qs(L("Пакетная обработка…")), this,
                              [this] { store_.setEffectsSheet(EffectsSheet::batch); });
}

void EffectsRackView::refresh() {
    const Track* clip = selectedClip(store_);
    favorites_->setVisible(clip != nullptr);
    chainPower_->setVisible(clip != nullptr);
    emptyPage_->setVisible(!clip);
    clipPage_->setVisible(clip != nullptr);
    if (!clip) {
        // Rows of a clip no longer shown go at once, with their popovers: out of the list and out of
        // sight, so that the next clip's rows never stand beside them until they are deleted.
        for (auto& [id, row] : rows_) {
            row->closeEditor();
            list_->removeWidget(row);
            row->hide();
            row->deleteLater();
        }
        rows_.clear();
        return;
    }
    chainPower_->setActive(!clip->rackBypassed);
    clipName_->setText(qs(clip->name));
    dot_->setStyleSheet(QStringLiteral("background: %1; border-radius: 2px;").arg(Palette::track(clip->color).name()));

    const int count = static_cast<int>(clip->rack.size());
    // Rows keyed by slot id: gone slots lose theirs, the others are updated and put in rack order.
    std::map<Uuid, RackSlotView*> kept;
    for (int i = 0; i < count; ++i) {
        const EffectSlot& slot = clip->rack[static_cast<std::size_t>(i)];
        RackSlotView* row = nullptr;
        if (auto it = rows_.find(slot.id); it != rows_.end()) {
            row = it->second;
            rows_.erase(it);
            row->update(clip->id, slot, i, count);
        } else {
            row = new RackSlotView(store_, transport_, clip->id, slot, i, count, list_->parentWidget());
        }
        kept[slot.id] = row;
        if (list_->indexOf(row) != i) {
            list_->removeWidget(row);
            list_->insertWidget(i, row);
        }
        row->show();
    }
    // A deleted slot's row goes, and its popover (a window of its own) with it at once.
    for (auto& [id, row] : rows_) {
        row->closeEditor();
        list_->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    rows_ = std::move(kept);
    for (int i = 0; i < 8; ++i) {
        QWidget* row = addRows_[static_cast<std::size_t>(i)];
        // A row that went while its menu was open (its effect chosen) never heard the pointer leave:
        // it comes back without the hover frame.
        if (i >= count && row->isHidden())
            row->findChild<QToolButton*>(QStringLiteral("addEffect"))->setAttribute(Qt::WA_UnderMouse, false);
        row->setVisible(i >= count);
    }

    const int active = static_cast<int>(
        std::count_if(clip->rack.begin(), clip->rack.end(), [](const EffectSlot& s) { return s.enabled; }));
    count_->setText(qs(L("{0} / {1} активно", active, count)));
    setTextColour(count_, Palette::secondaryText());
    badge_->setText(clip->rackBypassed ? QStringLiteral("BYPASS") : QStringLiteral("PRE-FADER"));
    setTextColour(badge_, clip->rackBypassed ? panels::orange() : Palette::secondaryText());
    apply_->setEnabled(count > 0 && !clip->rackBypassed);
}

std::vector<RackSlotView*> EffectsRackView::slotRows() const {
    std::vector<RackSlotView*> out;
    for (int i = 0; i < list_->count(); ++i)
        if (auto* row = qobject_cast<RackSlotView*>(list_->itemAt(i)->widget())) out.push_back(row);
    return out;
}

RackSlotView* EffectsRackView::slotRow(const Uuid& slotID) const {
    const auto it = rows_.find(slotID);
    return it == rows_.end() ? nullptr : it->second;
}

QStringList EffectsRackView::addRowNumbers() const {
    QStringList out;
    for (QWidget* row : addRows_)
        if (!row->isHidden()) out << row->findChild<QLabel*>(QStringLiteral("addNumber"))->text();
    return out;
}

QMenu* EffectsRackView::addMenu(int position) const {
    if (position < 0 || position >= 8) return nullptr;
    return addRows_[static_cast<std::size_t>(position)]->findChild<QToolButton*>(QStringLiteral("addEffect"))->menu();
}

}  // namespace tessoral

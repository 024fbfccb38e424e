#include "panels/FavoriteSheets.h"

#include <QAbstractButton>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "model/EffectPreset.h"
#include "model/Localization.h"
#include "panels/BatchSheet.h"
#include "panels/ChainSummary.h"
#include "panels/PanelSupport.h"
#include "panels/ProcessingSheetStyle.h"
#include "store/StudioStore.h"
#include "widgets/Fonts.h"
#include "widgets/Icons.h"
#include "widgets/Palette.h"

namespace tessoral {

using panels::qs;

namespace {

QFont headline() { return Fonts::ui(13, QFont::DemiBold); }

bool isReturn(QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

// Blanks and tabs removed at both ends.
QString trimmedBlanks(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (begin < end && blank(text[begin])) ++begin;
    while (end > begin && blank(text[end - 1])) --end;
    return text.mid(begin, end - begin);
}

const Track* selectedClip(const StudioStore& store) {
    const auto index = store.selectedIndex();
    return index ? &store.session().tracks[*index] : nullptr;
}

QPushButton* button(const QString& text, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setAutoDefault(false);
    return b;
}

class TrashButton : public QAbstractButton {
public:
    explicit TrashButton(QWidget* parent) : QAbstractButton(parent) {
        setObjectName(QStringLiteral("trash"));
        setFixedSize(22, 22);
        setFocusPolicy(Qt::TabFocus);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QColor c = Palette::secondaryText();
        if (!isEnabled()) c.setAlphaF(c.alphaF() * 0.4f);
        if (isDown()) c = Palette::primaryText();
        p.drawPixmap((width() - 14) / 2, (height() - 14) / 2,
                     Icons::pixmap(QStringLiteral("trash"), c, 14, devicePixelRatioF()));
    }
};

}  // namespace

// ---- SaveFavoriteSheet ----

SaveFavoriteSheet::SaveFavoriteSheet(StudioStore& store, QWidget* parent) : QWidget(parent), store_(store) {
    setObjectName(QStringLiteral("saveFavoriteSheet"));
    setFixedWidth(400);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);
    column->addWidget(panels::style::label(qs(L("Сохранить цепочку в избранное")), headline(), Palette::primaryText(), this));

    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("name"));
    name_->setPlaceholderText(qs(L("Название")));
    // The default name, counted from the favourites there are now.
    name_->setText(qs(L("Цепочка {0}", store_.favorites().size() + 1)));
    name_->installEventFilter(this);
    column->addWidget(name_);
    summary_ = panels::style::note(QString(), 11, this);
    summary_->setObjectName(QStringLiteral("summary"));
    column->addWidget(summary_);
    empty_ = panels::style::note(qs(L("В цепочке выбранного клипа нет эффектов.")), 12, this);
    column->addWidget(empty_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cancel_ = button(qs(L("Отмена")), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    connect(cancel_, &QPushButton::clicked, this, [this] { store_.setEffectsSheet(std::nullopt); });
    buttons->addWidget(cancel_);
    save_ = button(qs(L("Сохранить")), this);
    save_->setObjectName(QStringLiteral("save"));
    save_->setDefault(true);
    panels::style::makeProminent(save_);
    connect(save_, &QPushButton::clicked, this, &SaveFavoriteSheet::save);
    buttons->addWidget(save_);
    column->addLayout(buttons);

    connect(name_, &QLineEdit::textChanged, this, &SaveFavoriteSheet::refresh);
    connect(&store_, &StudioStore::sessionChanged, this, &SaveFavoriteSheet::refresh);
    connect(&store_, &StudioStore::selectedIDChanged, this, &SaveFavoriteSheet::refresh);
    refresh();
}

void SaveFavoriteSheet::refresh() {
    const Track* clip = selectedClip(store_);
    const bool hasChain = clip && !clip->rack.empty();
    name_->setVisible(hasChain);
    summary_->setVisible(hasChain);
    empty_->setVisible(!hasChain);
    if (hasChain) summary_->setText(chainSummary(clip->rack));
    save_->setEnabled(hasChain && !trimmedBlanks(name_->text()).isEmpty());
}

void SaveFavoriteSheet::save() {
    const Track* clip = selectedClip(store_);
    if (!clip || clip->rack.empty()) return;
    if (trimmedBlanks(name_->text()).isEmpty()) return;
    const std::string name = name_->text().toStdString();
    store_.saveFavorite(name);
    // Closes whatever the store decided (a refusal shows in the window's alert).
    store_.setEffectsSheet(std::nullopt);
}

bool SaveFavoriteSheet::eventFilter(QObject* watched, QEvent* event) {
    // Return in the field saves, once: the event goes no further, so the default button stays out.
    if (watched == name_ && isReturn(event)) {
        save();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- FavoriteRow ----

FavoriteRow::FavoriteRow(StudioStore& store, TransportSignals* transport, const EffectFavorite& favorite,
                         QWidget* parent)
    : QWidget(parent), store_(store), favorite_(favorite) {
    setObjectName(QStringLiteral("favoriteRow"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 4, 4, 4);
    row->setSpacing(8);
    auto* text = new QVBoxLayout;
    text->setSpacing(3);
    name_ = new QLineEdit(qs(favorite.name), this);
    name_->setObjectName(QStringLiteral("name"));
    name_->setPlaceholderText(qs(L("Название")));
    name_->setFrame(false);
    name_->setFont(Fonts::ui(12, QFont::Medium));
    QPalette pal = name_->palette();
    pal.setColor(QPalette::Base, QColor(0, 0, 0, 0));
    name_->setPalette(pal);
    name_->installEventFilter(this);
    text->addWidget(name_);
    summary_ = panels::style::note(QString(), 10, this);
    summary_->setObjectName(QStringLiteral("summary"));
    summary_->setMaximumHeight(2 * summary_->fontMetrics().lineSpacing() + 2);
    text->addWidget(summary_);
    row->addLayout(text, 1);

    replace_ = button(qs(L("Заменить")), this);
    replace_->setObjectName(QStringLiteral("replace"));
    replace_->setToolTip(qs(L("Заменить цепочку выбранного клипа")));
    replace_->setFont(Fonts::ui(11));
    connect(replace_, &QPushButton::clicked, this, [this] {
        const EffectFavorite copy = favorite_;
        store_.applyFavorite(copy, false);
    });
    row->addWidget(replace_);
    append_ = button(qs(L("Добавить")), this);
    append_->setObjectName(QStringLiteral("append"));
    append_->setToolTip(qs(L("Добавить эффекты в конец цепочки (не более 8)")));
    append_->setFont(Fonts::ui(11));
    connect(append_, &QPushButton::clicked, this, [this] {
        const EffectFavorite copy = favorite_;
        store_.applyFavorite(copy, true);
    });
    row->addWidget(append_);
    auto* trash = new TrashButton(this);
    trash->setToolTip(qs(L("Удалить из избранного")));
    connect(trash, &QAbstractButton::clicked, this, [this] {
        const Uuid id = favorite_.id;
        store_.deleteFavorite(id);
    });
    delete_ = trash;
    row->addWidget(trash);

    panels::followLocked(this, store_, transport);
    setFavorite(favorite);
}

void FavoriteRow::setFavorite(const EffectFavorite& favorite) {
    const bool renamed = favorite.name != favorite_.name;
    favorite_ = favorite;
    if (renamed) name_->setText(qs(favorite.name));
    summary_->setText(favorite.slots.empty() ? qs(L("Без эффектов")) : chainSummary(favorite.slots));
}

bool FavoriteRow::eventFilter(QObject* watched, QEvent* event) {
    // Return renames and stops here: the sheet's default button ("Готово") never sees it.
    if (watched == name_ && isReturn(event)) {
        const Uuid id = favorite_.id;
        store_.renameFavorite(id, name_->text().toStdString());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- FavoritesManagerSheet ----

FavoritesManagerSheet::FavoritesManagerSheet(StudioStore& store, TransportSignals* transport, QWidget* parent)
    : QWidget(parent), store_(store), transport_(transport) {
    setObjectName(QStringLiteral("favoritesManagerSheet"));
    setFixedWidth(540);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);
    column->addWidget(panels::style::label(qs(L("Избранные цепочки эффектов")), headline(), Palette::primaryText(), this));

    empty_ = panels::style::note(
        qs(L("Пока пусто. Настройте цепочку эффектов клипа и выберите «Эффекты → Сохранить цепочку в избранное…».")), 12,
        this);
    column->addWidget(empty_);
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("favoritesList"));
    scroll->setWidgetResizable(true);
    scroll->setMinimumHeight(220);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_ = new QWidget(scroll);
    rowsLayout_ = new QVBoxLayout(list_);
    rowsLayout_->setContentsMargins(4, 4, 4, 4);
    rowsLayout_->setSpacing(2);
    rowsLayout_->addStretch(1);
    scroll->setWidget(list_);
    column->addWidget(scroll);

    auto* buttons = new QHBoxLayout;
    saveCurrent_ = button(qs(L("Сохранить текущую цепочку…")), this);
    saveCurrent_->setObjectName(QStringLiteral("saveCurrent"));
    connect(saveCurrent_, &QPushButton::clicked, this, [this] { store_.setEffectsSheet(EffectsSheet::saveFavorite); });
    buttons->addWidget(saveCurrent_);
    buttons->addStretch(1);
    done_ = button(qs(L("Готово")), this);
    done_->setObjectName(QStringLiteral("done"));
    done_->setDefault(true);
    panels::style::makeProminent(done_);
    connect(done_, &QPushButton::clicked, this, [this] { store_.setEffectsSheet(std::nullopt); });
    buttons->addWidget(done_);
    column->addLayout(buttons);

    connect(&store_, &StudioStore::favoritesChanged, this, &FavoritesManagerSheet::refresh);
    connect(&store_, &StudioStore::sessionChanged, this, &FavoritesManagerSheet::refresh);
    connect(&store_, &StudioStore::selectedIDChanged, this, &FavoritesManagerSheet::refresh);
    refresh();
}

void FavoritesManagerSheet::refresh() {
    const auto& favorites = store_.favorites();
    std::vector<std::pair<Uuid, FavoriteRow*>> next;
    std::map<Uuid, FavoriteRow*> kept;
    for (auto& [id, row] : rows_) kept[id] = row;
    for (const EffectFavorite& f : favorites) {
        auto it = kept.find(f.id);
        if (it != kept.end() && it->second) {
            it->second->setFavorite(f);
            next.emplace_back(f.id, it->second);
            it->second = nullptr;
        } else if (it == kept.end()) {
            next.emplace_back(f.id, new FavoriteRow(store_, transport_, f, list_));
            kept[f.id] = nullptr;
        }
    }
    // Rows of deleted favourites go later: a row's own button may have got us here.
    for (auto& [id, row] : kept)
        if (row) {
            rowsLayout_->removeWidget(row);
            row->hide();
            row->deleteLater();
        }
    for (auto& [id, row] : next) rowsLayout_->removeWidget(row);
    int index = 0;
    for (auto& [id, row] : next) {
        rowsLayout_->insertWidget(index++, row);
        row->show();
    }
    rows_ = std::move(next);
    const bool empty = favorites.empty();
    empty_->setVisible(empty);
    list_->parentWidget()->parentWidget()->setVisible(!empty);
    const Track* clip = selectedClip(store_);
    saveCurrent_->setEnabled(clip && !clip->rack.empty());
}

std::vector<FavoriteRow*> FavoritesManagerSheet::rows() const {
    std::vector<FavoriteRow*> out;
    for (const auto& [id, row] : rows_) out.push_back(row);
    return out;
}

// ---- EffectsSheetView ----

EffectsSheetView::EffectsSheetView(StudioStore& store, TransportSignals* transport, QWidget* parent)
    : QWidget(parent), store_(store), transport_(transport) {
    setObjectName(QStringLiteral("effectsSheet"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    connect(&store_, &StudioStore::effectsSheetChanged, this, &EffectsSheetView::follow);
    follow();
}

void EffectsSheetView::follow() {
    const auto& wanted = store_.effectsSheet();
    // None: the host closes the sheet; the content stays until then.
    if (!wanted || wanted == shown_) return;
    if (child_) {
        child_->hide();
        layout()->removeWidget(child_);
        child_->deleteLater();  // a button of it may have asked for the switch
    }
    switch (*wanted) {
        case EffectsSheet::saveFavorite: child_ = new SaveFavoriteSheet(store_, this); break;
        case EffectsSheet::manageFavorites: child_ = new FavoritesManagerSheet(store_, transport_, this); break;
        case EffectsSheet::batch: child_ = new BatchProcessSheet(store_, transport_, this); break;
    }
    shown_ = wanted;
    layout()->addWidget(child_);
    child_->show();
    if (auto* save = qobject_cast<SaveFavoriteSheet*>(child_.data())) {
        save->nameField()->setFocus();
        save->nameField()->selectAll();
    }
}

}  // namespace tessoral

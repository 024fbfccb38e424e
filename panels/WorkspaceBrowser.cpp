#include "panels/WorkspaceBrowser.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QApplication>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTextLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <unordered_map>

#include "model/EditorVocabulary.h"
#include "model/Localization.h"
#include "model/Track.h"
#include "panels/PanelSupport.h"
#include "store/StudioStore.h"
#include "widgets/Eliding.h"
#include "widgets/Fonts.h"
#include "widgets/Icons.h"
#include "widgets/Palette.h"
#include "widgets/SegmentedControl.h"
#include "widgets/Styling.h"
#include "widgets/ToolButton.h"

namespace tessoral {

using panels::qs;

namespace browser {

namespace {

constexpr int kInset = 10;

// The lines of `text` wrapped to `width`, at most `maxLines`, the last one elided.
QStringList wrapped(const QString& text, const QFont& font, int width, int maxLines) {
    QStringList lines;
    if (width <= 0) return lines;
    const QFontMetrics metrics(font);
    if (maxLines <= 1) {
        lines << metrics.elidedText(text, Qt::ElideRight, width);
        return lines;
    }
    QTextLayout layout(text, font);
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        if (lines.size() == maxLines - 1) {
            lines << metrics.elidedText(text.mid(line.textStart()), Qt::ElideRight, width);
            break;
        }
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    if (lines.isEmpty()) lines << QString();
    return lines;
}

}  // namespace

Row::Row(QWidget* parent) : QAbstractButton(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    titleFont_ = Fonts::ui(11);
    titleColor_ = Palette::primaryText();
}

void Row::setSymbol(const QString& symbol, const QColor& color, int size) {
    if (symbol == symbol_ && color == symbolColor_ && size == symbolSize_) return;
    symbol_ = symbol;
    symbolColor_ = color;
    symbolSize_ = size;
    update();
}

void Row::setLines(const QString& title, const QFont& titleFont, const QColor& titleColor, const QString& subtitle,
                   const QFont& subtitleFont, int maxTitleLines) {
    const bool geometry = title != text() || subtitle != subtitle_ || titleFont != titleFont_ ||
                          maxTitleLines != maxTitleLines_;
    setText(title);
    titleFont_ = titleFont;
    titleColor_ = titleColor;
    subtitle_ = subtitle;
    subtitleFont_ = subtitleFont;
    maxTitleLines_ = maxTitleLines;
    if (geometry) updateGeometry();
    update();
}

void Row::setHighlighted(bool highlighted) {
    if (highlighted == highlighted_) return;
    highlighted_ = highlighted;
    update();
}

int Row::textWidth(int width) const {
    int left = kInset;
    if (!symbol_.isEmpty()) left += symbolSize_ + spacing_;
    return width - left - kInset;
}

int Row::heightForWidth(int width) const {
    const QFontMetrics title(titleFont_);
    const int lines = std::max<int>(1, int(wrapped(text(), titleFont_, textWidth(width), maxTitleLines_).size()));
    int h = lines * title.height();
    if (!subtitle_.isEmpty()) h += 5 + QFontMetrics(subtitleFont_).height();
    h = std::max(h, symbolSize_);
    return h + 2 * kInset;
}

QSize Row::sizeHint() const { return {WorkspaceBrowser::kWidth, heightForWidth(WorkspaceBrowser::kWidth - 12)}; }
QSize Row::minimumSizeHint() const { return {40, heightForWidth(WorkspaceBrowser::kWidth - 12)}; }

void Row::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (highlighted_) p.fillRect(rect(), Palette::raised());
    if (isDown()) p.fillRect(rect(), QColor(255, 255, 255, 16));
    const bool enabled = isEnabled();
    auto dim = [enabled](QColor c) {
        if (!enabled) c.setAlphaF(c.alphaF() * 0.4f);
        return c;
    };
    const int w = textWidth(width());
    const QStringList lines = wrapped(text(), titleFont_, w, maxTitleLines_);
    const QFontMetrics tm(titleFont_);
    int blockHeight = int(std::max<qsizetype>(1, lines.size())) * tm.height();
    if (!subtitle_.isEmpty()) blockHeight += 5 + QFontMetrics(subtitleFont_).height();
    int x = kInset;
    if (!symbol_.isEmpty()) {
        const QPixmap icon = Icons::pixmap(symbol_, dim(symbolColor_), symbolSize_, devicePixelRatioF());
        p.drawPixmap(x, (height() - symbolSize_) / 2, icon);
        x += symbolSize_ + spacing_;
    }
    int y = (height() - blockHeight) / 2;
    p.setFont(titleFont_);
    p.setPen(dim(titleColor_));
    for (const QString& line : lines) {
        p.drawText(QRect(x, y, w, tm.height()), Qt::AlignLeft | Qt::AlignVCenter, line);
        y += tm.height();
    }
    if (!subtitle_.isEmpty()) {
        y += 5;
        const QFontMetrics sm(subtitleFont_);
        p.setFont(subtitleFont_);
        p.setPen(dim(Palette::secondaryText()));
        p.drawText(QRect(x, y, w, sm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   sm.elidedText(subtitle_, Qt::ElideRight, w));
    }
}

void Row::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press is a press like the first: its release runs the click action too.
    doubleClick_ = event->button() == Qt::LeftButton;
    QAbstractButton::mousePressEvent(event);
}

void Row::mouseReleaseEvent(QMouseEvent* event) {
    const bool twice = doubleClick_ && event->button() == Qt::LeftButton;
    if (event->button() == Qt::LeftButton) doubleClick_ = false;
    QAbstractButton::mouseReleaseEvent(event);
    if (twice && rect().contains(event->position().toPoint())) Q_EMIT doubleClicked();
}

// ---- MarkerRow ----

namespace {

class IconButton : public QAbstractButton {
public:
    IconButton(const QString& symbol, const QColor& color, int size, QWidget* parent)
        : QAbstractButton(parent), color_(color), size_(size) {
        setSymbol(symbol);
        setFocusPolicy(Qt::TabFocus);
        setFixedSize(size + 4, size + 4);
        setCursor(Qt::PointingHandCursor);
    }
    void setSymbol(const QString& symbol) {
        if (symbol == symbol_) return;
        symbol_ = symbol;
        setObjectName(symbol);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QColor c = color_;
        if (!isEnabled()) c.setAlphaF(c.alphaF() * 0.4f);
        if (isDown()) c = c.darker(130);
        p.drawPixmap((width() - size_) / 2, (height() - size_) / 2, Icons::pixmap(symbol_, c, size_, devicePixelRatioF()));
    }

private:
    QString symbol_;
    QColor color_;
    int size_;
};

}  // namespace

MarkerRow::MarkerRow(StudioStore& store, const SessionMarker& marker, QWidget* parent)
    : QWidget(parent), store_(store), marker_(marker) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kInset, kInset, kInset, kInset);
    row->setSpacing(7);
    go_ = new IconButton(marker.isRange() ? QStringLiteral("bookmark.square.fill") : QStringLiteral("bookmark.fill"),
                         panels::orange(), 14, this);
    go_->setToolTip(qs(L("Перейти к маркеру")));
    connect(go_, &QAbstractButton::clicked, this, [this] {
        const SessionMarker copy = marker_;
        store_.goToMarker(copy);
    });
    row->addWidget(go_);

    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    column->setContentsMargins(0, 0, 0, 0);
    field_ = new ElidingLineEdit(this);
    field_->setObjectName(QStringLiteral("markerName"));
    field_->setPlaceholderText(qs(L("Название")));
    field_->setFrame(false);
    field_->setFont(Fonts::ui(11));
    field_->setText(qs(marker.name));
    field_->setCursorPosition(0);  // a long name shows its beginning
    QPalette pal = field_->palette();
    pal.setColor(QPalette::Base, QColor(0, 0, 0, 0));
    field_->setPalette(pal);
    // Return and the loss of focus both commit; the second of the two finds the name stored.
    connect(field_, &QLineEdit::editingFinished, this, &MarkerRow::commit);
    column->addWidget(field_);
    time_ = new QLabel(qs(timeLabel(marker.start)), this);
    time_->setFont(Fonts::mono(9));
    QPalette tp = time_->palette();
    tp.setColor(QPalette::WindowText, Palette::secondaryText());
    time_->setPalette(tp);
    column->addWidget(time_);
    row->addLayout(column, 1);

    delete_ = new IconButton(QStringLiteral("xmark"), Palette::secondaryText(), 9, this);
    delete_->setToolTip(qs(L("Удалить маркер")));
    connect(delete_, &QAbstractButton::clicked, this, [this] {
        const Uuid id = marker_.id;
        store_.removeMarker(id);
    });
    row->addWidget(delete_);
}

void MarkerRow::setMarker(const SessionMarker& marker) {
    if (marker == marker_) return;
    const bool renamed = marker.name != marker_.name;
    marker_ = marker;
    static_cast<IconButton*>(go_)->setSymbol(marker.isRange() ? QStringLiteral("bookmark.square.fill")
                                                              : QStringLiteral("bookmark.fill"));
    time_->setText(qs(timeLabel(marker.start)));
    if (renamed) {
        field_->setText(qs(marker.name));
        if (!field_->hasFocus()) field_->setCursorPosition(0);
    }
}

void MarkerRow::commit() {
    const Uuid id = marker_.id;
    store_.renameMarker(id, field_->text().toStdString());
}

}  // namespace browser

// ---- WorkspaceBrowser ----

namespace {

QLabel* emptyText(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(Fonts::ui(11));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setContentsMargins(18, 18, 18, 18);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, Palette::secondaryText());
    label->setPalette(pal);
    return label;
}

using styling::divider;

}  // namespace

WorkspaceBrowser::WorkspaceBrowser(StudioStore& store, TransportSignals* transport, QWidget* parent)
    : QWidget(parent), store_(store) {
    setObjectName(QStringLiteral("workspaceBrowser"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Palette::panel());
    setPalette(pal);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    picker_ = new SegmentedControl({qs(L("Файлы")), qs(L("Метки")), qs(L("История"))}, this);
    picker_->setAccessibleName(qs(L("Навигатор")));
    // The small control size: its texts keep their distance from the dividers in a narrow browser.
    picker_->setFont(Fonts::ui(11, QFont::Medium));
    picker_->setCurrentIndex(0);
    auto* pickerBox = new QHBoxLayout;
    pickerBox->setContentsMargins(9, 9, 9, 9);
    pickerBox->addWidget(picker_);
    column->addLayout(pickerBox);
    connect(picker_, &SegmentedControl::activated, this, &WorkspaceBrowser::setTab);
    column->addWidget(divider(this));

    pages_ = new QStackedWidget(this);
    pages_->addWidget(makePage(clipList_));
    pages_->addWidget(makePage(markerList_));
    pages_->addWidget(makePage(historyList_));
    column->addWidget(pages_, 1);
    column->addWidget(divider(this));

    noClips_ = emptyText(qs(L("Нет клипов")), clipList_->parentWidget());
    clipList_->addWidget(noClips_);
    noMarkers_ = emptyText(qs(L("Нет маркеров")), markerList_->parentWidget());
    markerList_->addWidget(noMarkers_);
    // Rows follow the first item (the empty text, the initial state); the rest of the page is free.
    clipList_->addStretch(1);
    markerList_->addStretch(1);
    initial_ = new browser::Row(historyList_->parentWidget());
    initial_->setObjectName(QStringLiteral("initialState"));
    initial_->setSymbol(QStringLiteral("clock.arrow.circlepath"), Palette::primaryText(), 13);
    initial_->setLines(qs(L("Начальное состояние")), Fonts::ui(11), Palette::primaryText());
    connect(initial_, &QAbstractButton::clicked, this, [this] { historyClicked(-1); });
    historyList_->addWidget(initial_);
    historyList_->addStretch(1);

    // Footer: the tab's buttons, a spacer, the count.
    auto* footer = new QWidget(this);
    footer->setFixedHeight(36);
    auto* footerRow = new QHBoxLayout(footer);
    footerRow->setContentsMargins(8, 0, 8, 0);
    footerButtons_ = new QStackedWidget(footer);
    const QColor tint = Palette::primaryText();
    auto group = [&](std::vector<ToolButton*> list) {
        auto* box = new QWidget(footerButtons_);
        auto* row = new QHBoxLayout(box);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(4);
        for (auto* b : list) {
            b->setParent(box);
            b->setToolTip(b->title());
            row->addWidget(b);
        }
        row->addStretch(1);
        footerButtons_->addWidget(box);
        buttons_.push_back(std::move(list));
    };
    group({new ToolButton(QStringLiteral("plus"), qs(L("Добавить аудио")), false, tint, [this] { store_.openPanel(); })});
    group({new ToolButton(QStringLiteral("bookmark"), qs(L("Добавить маркер")), false, tint, [this] { store_.addMarker(); })});
    group({new ToolButton(QStringLiteral("arrow.uturn.backward"), qs(L("Отменить")), false, tint, [this] { store_.undo(); }),
           new ToolButton(QStringLiteral("arrow.uturn.forward"), qs(L("Повторить")), false, tint, [this] { store_.redo(); })});
    footerRow->addWidget(footerButtons_);
    footerRow->addStretch(1);
    count_ = new QLabel(footer);
    count_->setObjectName(QStringLiteral("count"));
    count_->setFont(Fonts::ui(9));
    QPalette cp = count_->palette();
    cp.setColor(QPalette::WindowText, Palette::secondaryText());
    count_->setPalette(cp);
    footerRow->addWidget(count_);
    column->addWidget(footer);

    connect(&store_, &StudioStore::sessionChanged, this, [this] {
        refreshClips();
        refreshMarkers();
        refreshFooter();
    });
    connect(&store_, &StudioStore::selectedIDChanged, this, &WorkspaceBrowser::refreshSelection);
    connect(&store_, &StudioStore::undoNamesChanged, this, [this] {
        refreshHistory();
        refreshFooter();
    });
    connect(&store_, &StudioStore::redoNamesChanged, this, [this] {
        refreshHistory();
        refreshFooter();
    });
    panels::followLocked(this, store_, transport);

    refreshClips();
    refreshMarkers();
    refreshHistory();
    setTab(0);
}

QScrollArea* WorkspaceBrowser::makePage(QVBoxLayout*& list) {
    auto* area = new QScrollArea(this);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* content = new QWidget(area);
    content->setAutoFillBackground(false);
    area->viewport()->setAutoFillBackground(false);
    list = new QVBoxLayout(content);
    list->setContentsMargins(0, 5, 0, 5);
    list->setSpacing(1);
    area->setWidget(content);
    return area;
}

void WorkspaceBrowser::setTab(int tab) {
    tab = std::clamp(tab, 0, 2);
    tab_ = tab;
    picker_->setCurrentIndex(tab);
    pages_->setCurrentIndex(tab);
    footerButtons_->setCurrentIndex(tab);
    refreshFooter();
}

void WorkspaceBrowser::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Shown again, the column starts on its first tab.
    if (!event->spontaneous()) setTab(0);
}

void WorkspaceBrowser::refreshClips() {
    const Session& session = store_.session();
    std::vector<Uuid> order;
    std::map<Uuid, std::pair<const Track*, const Lane*>> rows;
    for (const Lane& lane : session.lanes)
        for (const Track* clip : session.clipsInLane(lane.id)) {
            if (rows.count(clip->id)) continue;
            order.push_back(clip->id);
            rows[clip->id] = {clip, &lane};
        }
    // Rows of clips that are gone go (later: a row may be the sender of what changed the project).
    for (auto it = clipRows_.begin(); it != clipRows_.end();) {
        if (!rows.count(it->first)) {
            clipList_->removeWidget(it->second);
            it->second->hide();
            it->second->deleteLater();
            it = clipRows_.erase(it);
        } else {
            ++it;
        }
    }
    const QFont titleFont = Fonts::ui(11, QFont::Medium);
    const QFont subtitleFont = Fonts::mono(9);
    for (const Uuid& id : order) {
        const auto [clip, lane] = rows[id];
        browser::Row*& row = clipRows_[id];
        if (!row) {
            row = new browser::Row(clipList_->parentWidget());
            row->setObjectName(QStringLiteral("clipRow"));
            connect(row, &QAbstractButton::clicked, this, [this, id] { clipClicked(id); });
            connect(row, &browser::Row::doubleClicked, this, [this, id] { clipDoubleClicked(id); });
        }
        row->setSymbol(QStringLiteral("waveform"), Palette::track(clip->color), 14);
        const QString laneName = qs(lane->name);
        row->setLines(qs(clip->name), titleFont, Palette::primaryText(),
                      laneName + QStringLiteral(" · ") + qs(timeLabel(double(clip->audio.frames()) / 48000.0)),
                      subtitleFont);
        row->setToolTip(qs(L("Клип на дорожке «{0}». Двойной щелчок — открыть в редакторе «Волна»", lane->name)));
    }
    if (order != clipOrder_) {
        for (const Uuid& id : order) clipList_->removeWidget(clipRows_[id]);
        int index = 1;  // after the empty text
        for (const Uuid& id : order) {
            clipList_->insertWidget(index++, clipRows_[id]);
            clipRows_[id]->show();
        }
        clipOrder_ = order;
    }
    noClips_->setVisible(session.tracks.empty());
    refreshSelection();
}

void WorkspaceBrowser::refreshSelection() {
    const auto& selected = store_.selectedID();
    for (auto& [id, row] : clipRows_) row->setHighlighted(selected && *selected == id);
}

void WorkspaceBrowser::refreshMarkers() {
    const auto& markers = store_.session().markers;
    // Most changes leave the markers alone; then no row is touched.
    if (markersShown_ && markers == shownMarkers_) return;
    std::vector<Uuid> order;
    order.reserve(markers.size());
    std::unordered_map<Uuid, const SessionMarker*> byID;
    byID.reserve(markers.size());
    for (const auto& m : markers)
        if (byID.emplace(m.id, &m).second) order.push_back(m.id);
    // Rows of markers that are gone go (later: a row may be the sender of what changed the project).
    // From the end, so that a block emptied and gone moves none still to be looked at.
    for (std::size_t b = markerBlocks_.size(); b-- > 0;) {
        for (std::size_t i = markerBlocks_[b].rows.size(); i-- > 0;) {
            browser::MarkerRow* row = markerBlocks_[b].rows[i];
            if (byID.count(row->marker().id)) continue;
            markerRows_.erase(row->marker().id);
            takeMarkerRow(b, i);
            row->hide();
            row->deleteLater();
        }
    }
    for (const Uuid& id : order) {
        auto found = markerRows_.find(id);
        if (found != markerRows_.end()) found->second->setMarker(*byID[id]);  // nothing when the marker is as it was
    }
    if (order != markerOrder_) placeMarkerRows(order);
    shownMarkers_ = markers;
    markersShown_ = true;
    noMarkers_->setVisible(markers.empty());
}

namespace {

// A block splits in two past twice this many rows.
constexpr std::size_t kMarkerBlockRows = 16;

}  // namespace

// Puts the rows in `order`, new ones made: only the rows not yet in their place move, so a marker
// added or removed moves one row.
void WorkspaceBrowser::placeMarkerRows(const std::vector<Uuid>& order) {
    const auto& markers = store_.session().markers;
    std::size_t block = 0, index = 0;  // where the next row of `order` belongs
    for (const Uuid& id : order) {
        while (block < markerBlocks_.size() && index >= markerBlocks_[block].rows.size()) {
            ++block;
            index = 0;
        }
        if (block < markerBlocks_.size() && markerBlocks_[block].rows[index]->marker().id == id) {
            ++index;
            continue;
        }
        browser::MarkerRow* row = nullptr;
        if (auto found = markerRows_.find(id); found != markerRows_.end()) {
            // A row further down (everything before the cursor is already in place): it moves up here.
            row = found->second;
            for (std::size_t b = block; b < markerBlocks_.size() && row; ++b) {
                auto& rows = markerBlocks_[b].rows;
                const auto at = std::find(rows.begin() + (b == block ? std::ptrdiff_t(index) : 0), rows.end(), row);
                if (at == rows.end()) continue;
                takeMarkerRow(b, std::size_t(at - rows.begin()));
                break;
            }
        } else {
            const auto marker = std::find_if(markers.begin(), markers.end(), [&](const SessionMarker& m) { return m.id == id; });
            row = new browser::MarkerRow(store_, *marker, markerList_->parentWidget());
            markerRows_[id] = row;
        }
        if (block == markerBlocks_.size() && block > 0 && markerBlocks_[block - 1].rows.size() < kMarkerBlockRows) {
            // After every row: at the end of the last block, or in a new block once that one is full.
            --block;
            index = markerBlocks_[block].rows.size();
        } else if (block == markerBlocks_.size()) {
            index = 0;
        }
        putMarkerRow(block, index, row);
        ++index;
    }
    for (std::size_t b = markerBlocks_.size(); b-- > 0;) splitMarkerBlock(b);
    markerOrder_ = order;
}

void WorkspaceBrowser::takeMarkerRow(std::size_t block, std::size_t index) {
    MarkerBlock& b = markerBlocks_[block];
    b.list->removeWidget(b.rows[index]);
    b.rows.erase(b.rows.begin() + std::ptrdiff_t(index));
    if (!b.rows.empty()) return;
    // An empty block goes; its rows were all taken out of it, so none goes with it.
    markerList_->removeWidget(b.box);
    b.box->hide();
    b.box->deleteLater();
    markerBlocks_.erase(markerBlocks_.begin() + std::ptrdiff_t(block));
}

void WorkspaceBrowser::insertMarkerBlock(std::size_t at) {
    MarkerBlock made;
    made.box = new QWidget(markerList_->parentWidget());
    made.box->setObjectName(QStringLiteral("markerBlock"));
    made.list = new QVBoxLayout(made.box);
    made.list->setContentsMargins(0, 0, 0, 0);
    made.list->setSpacing(markerList_->spacing());
    // After the empty text and the blocks before it.
    markerList_->insertWidget(int(1 + at), made.box);
    made.box->show();
    markerBlocks_.insert(markerBlocks_.begin() + std::ptrdiff_t(at), made);
}

void WorkspaceBrowser::putMarkerRow(std::size_t block, std::size_t index, browser::MarkerRow* row) {
    if (block == markerBlocks_.size()) insertMarkerBlock(block);
    MarkerBlock& b = markerBlocks_[block];
    // A row from another block changes its parent, which hides it and takes the focus from it: a
    // name being typed stays in the field, uncommitted, and the focus comes back to it.
    QWidget* focused = QApplication::focusWidget();
    if (focused && !row->isAncestorOf(focused)) focused = nullptr;
    const bool wasBlocked = row->field()->blockSignals(true);
    b.list->insertWidget(int(index), row);
    b.rows.insert(b.rows.begin() + std::ptrdiff_t(index), row);
    row->show();
    row->field()->blockSignals(wasBlocked);
    if (focused && !focused->hasFocus()) focused->setFocus(Qt::OtherFocusReason);
}

// Moves the rows of a block past twice the block size into new blocks after it, the last ones first.
void WorkspaceBrowser::splitMarkerBlock(std::size_t block) {
    while (markerBlocks_[block].rows.size() > 2 * kMarkerBlockRows) {
        auto& rows = markerBlocks_[block].rows;
        const std::vector<browser::MarkerRow*> moving(rows.end() - kMarkerBlockRows, rows.end());
        const std::size_t keep = rows.size() - kMarkerBlockRows;
        for (std::size_t i = rows.size(); i-- > keep;) takeMarkerRow(block, i);
        insertMarkerBlock(block + 1);
        for (std::size_t i = 0; i < moving.size(); ++i) putMarkerRow(block + 1, i, moving[i]);
    }
}

void WorkspaceBrowser::refreshHistory() {
    const auto& undo = store_.undoNames();
    const auto& redo = store_.redoNames();
    const std::size_t wanted = undo.size() + redo.size();
    while (historyRows_.size() > wanted) {
        browser::Row* row = historyRows_.back();
        historyRows_.pop_back();
        historyList_->removeWidget(row);
        row->hide();
        row->deleteLater();  // it may be the row whose click got here
    }
    while (historyRows_.size() < wanted) {
        auto* row = new browser::Row(historyList_->parentWidget());
        row->setObjectName(QStringLiteral("historyRow"));
        row->setSpacing(7);
        const int index = int(historyRows_.size());
        connect(row, &QAbstractButton::clicked, this, [this, index] { historyClicked(index); });
        historyList_->insertWidget(1 + index, row);
        historyRows_.push_back(row);
    }
    const QFont font = Fonts::ui(10);
    for (std::size_t i = 0; i < undo.size(); ++i) {
        browser::Row* row = historyRows_[i];
        const bool current = i + 1 == undo.size();
        row->setSymbol(current ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("circle"), Palette::accent(), 12);
        row->setLines(qs(undo[i]), font, Palette::primaryText(), {}, {}, 2);
    }
    for (std::size_t k = 0; k < redo.size(); ++k) {
        browser::Row* row = historyRows_[undo.size() + k];
        row->setSymbol(QStringLiteral("arrow.uturn.forward"), Palette::tertiaryText(), 12);
        row->setLines(qs(redo[redo.size() - 1 - k]), font, Palette::tertiaryText(), {}, {}, 2);
    }
    // Once the limits dropped older steps, the first row leads back to the state before the oldest
    // step still kept, not to the project as it was opened.
    if (store_.olderStepsDropped() && (!undo.empty() || !redo.empty())) {
        const std::string& oldest = undo.empty() ? redo.back() : undo.front();
        initial_->setLines(qs(L("До шага «{0}»", oldest)), Fonts::ui(11), Palette::primaryText(), {}, {}, 2);
    } else {
        initial_->setLines(qs(L("Начальное состояние")), Fonts::ui(11), Palette::primaryText());
    }
    initial_->setEnabled(!undo.empty());
}

void WorkspaceBrowser::refreshFooter() {
    const auto& s = store_.session();
    switch (tab_) {
        case 0: count_->setText(qs(LP(static_cast<long long>(s.tracks.size()), "{0} клип|{0} клипа|{0} клипов"))); break;
        case 1: count_->setText(qs(LP(static_cast<long long>(s.markers.size()), "{0} метка|{0} метки|{0} меток"))); break;
        default: count_->setText(qs(LP(static_cast<long long>(store_.undoNames().size()), "{0} шаг|{0} шага|{0} шагов"))); break;
    }
    buttons_[2][0]->setEnabled(!store_.undoNames().empty());
    buttons_[2][1]->setEnabled(!store_.redoNames().empty());
}

void WorkspaceBrowser::clipClicked(const Uuid& id) {
    const Uuid copy = id;
    store_.stop();
    store_.setSelectedID(copy);
    store_.setSelection(std::nullopt);
}

void WorkspaceBrowser::clipDoubleClicked(const Uuid& id) {
    const Uuid copy = id;
    store_.setSelectedID(copy);
    store_.switchMode(EditorMode::waveform);
}

void WorkspaceBrowser::historyClicked(int index) {
    const int undoCount = int(store_.undoNames().size());
    if (index < 0) {
        for (int i = 0; i < undoCount; ++i) store_.undo();
    } else if (index < undoCount) {
        for (int i = 0; i < undoCount - 1 - index; ++i) store_.undo();
    } else {
        const int redoIndex = index - undoCount;
        for (int i = 0; i <= redoIndex; ++i) store_.redo();
    }
}

std::vector<browser::Row*> WorkspaceBrowser::clipRows() const {
    std::vector<browser::Row*> out;
    for (const Uuid& id : clipOrder_) out.push_back(clipRows_.at(id));
    return out;
}

std::vector<browser::MarkerRow*> WorkspaceBrowser::markerRows() const {
    std::vector<browser::MarkerRow*> out;
    for (const Uuid& id : markerOrder_) out.push_back(markerRows_.at(id));
    return out;
}

std::vector<browser::Row*> WorkspaceBrowser::historyRows() const { return historyRows_; }

ToolButton* WorkspaceBrowser::footerButton(int tab, int index) const {
    if (tab < 0 || tab >= int(buttons_.size()) || index < 0 || index >= int(buttons_[size_t(tab)].size())) return nullptr;
    return buttons_[size_t(tab)][size_t(index)];
}

}  // namespace tessoral

#include "timeline/LaneHeader.h"

#include <QAction>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"
#include "timeline/ClipAutomationMenu.h"
#include "widgets/Eliding.h"
#include "widgets/Fonts.h"
#include "widgets/Icons.h"
#include "widgets/Palette.h"
#include "widgets/ToolButton.h"
#include "widgets/ValueSlider.h"

namespace tessoral {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

constexpr int kMaxLanes = 32;
constexpr std::size_t kMaxClips = 256;

// A menu text with the user's '&' kept literal.
QString menuText(const std::string& s) { return qs(s).replace(QLatin1Char('&'), QStringLiteral("&&")); }

// Spaces and tabs (white space other than line breaks) trimmed from both ends.
QString trimmedName(const QString& text) {
    auto blank = [](QChar c) {
        return c.isSpace() && c != QLatin1Char('\n') && c != QLatin1Char('\r') && c != QChar(0x2028) && c != QChar(0x2029) &&
               c != QChar(0x0B) && c != QChar(0x0C) && c != QChar(0x85);
    };
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && blank(text.at(from))) ++from;
    while (to > from && blank(text.at(to - 1))) --to;
    return text.mid(from, to - from);
}

class ColorDot : public QWidget {
public:
    explicit ColorDot(QWidget* parent) : QWidget(parent) { setFixedSize(6, 6); }
    void setColor(const QColor& c) {
        if (c == color_) return;
        color_ = c;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(color_);
        p.drawEllipse(QRectF(0, 0, 6, 6));
    }

private:
    QColor color_;
};

}  // namespace

QString panLabel(double pan) {
    if (!std::isfinite(pan) || std::abs(pan) < 0.005) return QStringLiteral("C");
    return QString::fromLatin1(pan < 0 ? "L" : "R") + qs(num::fixed(std::abs(pan) * 100.0, 0));
}

QString gainLabel(double gainDB) {
    const std::string text = num::fixed(gainDB, 1);
    return qs(!text.empty() && text[0] == '-' ? text : "+" + text);
}

QIcon colorSwatch(int index) {
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Palette::track(index));
    p.drawEllipse(QRectF(1, 1, 10, 10));
    p.end();
    return QIcon(pixmap);
}

// ---- the reorder handle ----

LaneDragHandle::LaneDragHandle(StudioStore& store, Uuid lane, QWidget* parent)
    : QWidget(parent), store_(store), lane_(lane) {
    setObjectName(QStringLiteral("laneDragHandle"));
    setFixedSize(12, 18);
    setCursor(Qt::OpenHandCursor);
    setToolTip(qs(L("Перетащите вверх или вниз, чтобы изменить порядок дорожек (Ctrl+Alt+↑ / Ctrl+Alt+↓)")));
}

void LaneDragHandle::setHighlighted(bool on) {
    if (on == highlighted_) return;
    highlighted_ = on;
    update();
}

void LaneDragHandle::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QColor c = reordering_ || highlighted_ ? Palette::accent() : Palette::secondaryText();
    const QPixmap icon = Icons::pixmap(QStringLiteral("line.3.horizontal"), c, 10, devicePixelRatioF());
    if (!icon.isNull()) p.drawPixmap(QPointF((width() - 10) / 2.0, (height() - 10) / 2.0), icon);
}

void LaneDragHandle::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    pressed_ = event->globalPosition();
    event->accept();
}

void LaneDragHandle::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed_) return;
    const QPointF travel = event->globalPosition() - *pressed_;
    if (!reordering_) {
        if (std::hypot(travel.x(), travel.y()) < kMinimumDistance) return;
        reordering_ = true;
        update();
        const Uuid id = lane_;
        store_.beginLaneDrag(id);
    }
    const Uuid id = lane_;
    store_.dragLane(id, travel.y(), kRowHeight);
}

void LaneDragHandle::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    finish();
}

void LaneDragHandle::finish() {
    pressed_.reset();
    if (!reordering_) return;
    reordering_ = false;
    update();
    if (store_.laneDragOrigin() && store_.laneDragOrigin()->id == lane_) store_.setLaneDragOrigin(std::nullopt);
}

void LaneDragHandle::changeEvent(QEvent* event) {
    // A widget disabled mid-drag gets no release: end the drag here.
    if (event->type() == QEvent::EnabledChange && !isEnabled()) finish();
    QWidget::changeEvent(event);
}

void LaneDragHandle::hideEvent(QHideEvent* event) {
    finish();
    QWidget::hideEvent(event);
}

// ---- the header ----

LaneHeader::LaneHeader(StudioStore& store, Uuid lane, QWidget* parent) : QWidget(parent), store_(store) {
    lane_.id = lane;
    setObjectName(QStringLiteral("laneHeader"));
    setFixedHeight(134);
    setAttribute(Qt::WA_OpaquePaintEvent);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(11, 9, 11, 9);
    column->setSpacing(7);

    auto* row1 = new QHBoxLayout;
    row1->setSpacing(6);
    handle_ = new LaneDragHandle(store_, lane, this);
    row1->addWidget(handle_);
    auto* dot = new ColorDot(this);
    dot_ = dot;
    row1->addWidget(dot_);
    // A long name reads from its start and ends in "…" until it is edited.
    name_ = new ElidingLineEdit(this);
    name_->setObjectName(QStringLiteral("laneName"));
    name_->setFrame(false);
    name_->setPlaceholderText(qs(L("Название")));
    name_->setFont(Fonts::ui(12, QFont::Medium));
    name_->setToolTip(qs(L("Название дорожки")));
    {
        QPalette pal = name_->palette();
        pal.setColor(QPalette::Base, QColor(0, 0, 0, 0));
        name_->setPalette(pal);
    }
    // Return and the loss of focus both commit; the second finds nothing to do.
    connect(name_, &QLineEdit::editingFinished, this, &LaneHeader::commitName);
    row1->addWidget(name_, 1);
    menuButton_ = new QToolButton(this);
    menuButton_->setObjectName(QStringLiteral("laneMenuButton"));
    menuButton_->setAutoRaise(true);
    menuButton_->setIcon(Icons::icon(QStringLiteral("ellipsis"), Palette::secondaryText(), 14));
    menuButton_->setFixedWidth(18);
    menuButton_->setPopupMode(QToolButton::InstantPopup);
    menuButton_->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0px; }"));
    menuButton_->setToolTip(qs(L("Команды дорожки и клипа")));
    menu_ = new QMenu(menuButton_);
    menuButton_->setMenu(menu_);
    connect(menu_, &QMenu::aboutToShow, this, &LaneHeader::fillMenu);
    row1->addWidget(menuButton_);
    column->addLayout(row1);

    auto* row2 = new QHBoxLayout;
    row2->setSpacing(6);
    mute_ = new ToolButton(QStringLiteral("speaker.slash.fill"), qs(L("Выключить дорожку")), false, QColor(255, 159, 10),
                           [this] {
                               const Uuid id = lane_.id;
                               store_.toggleLaneMute(id);
                           },
                           this);
    mute_->setObjectName(QStringLiteral("laneMute"));
    mute_->setFocusPolicy(Qt::TabFocus);  // reached with Tab like the row's other controls
    row2->addWidget(mute_);
    solo_ = new ToolButton(QStringLiteral("headphones"), qs(L("Соло: слушать только эту дорожку")), false, Palette::accent(),
                           [this] {
                               const Uuid id = lane_.id;
                               store_.toggleLaneSolo(id);
                           },
                           this);
    solo_->setObjectName(QStringLiteral("laneSolo"));
    solo_->setFocusPolicy(Qt::TabFocus);
    row2->addWidget(solo_);
    row2->addStretch(1);
    count_ = new QLabel(this);
    count_->setObjectName(QStringLiteral("laneClipCount"));
    count_->setFont(Fonts::mono(9));
    {
        QPalette pal = count_->palette();
        pal.setColor(QPalette::WindowText, Palette::secondaryText());
        count_->setPalette(pal);
    }
    row2->addWidget(count_);
    column->addLayout(row2);

    gain_ = new ValueSlider(qs(L("Громкость дорожки")), 0.0, -60.0, 12.0, gainLabel(0.0), true, [this] { store_.stop(); },
                            [this](double v) {
                                const Uuid id = lane_.id;
                                store_.setLaneGain(id, v);
                            },
                            this);
    gain_->setObjectName(QStringLiteral("laneGain"));
    gain_->stepIn(10);  // tenths of a dB, as the read-out shows
    gain_->setToolTip(qs(L("Громкость дорожки, dB: действует на все её клипы")));
    column->addWidget(gain_);
    pan_ = new ValueSlider(qs(L("Панорама дорожки")), 0.0, -1.0, 1.0, panLabel(0.0), true, [this] { store_.stop(); },
                           [this](double v) {
                               const Uuid id = lane_.id;
                               store_.setLanePan(id, v);
                           },
                           this);
    pan_->setObjectName(QStringLiteral("lanePan"));
    pan_->speakAs(100.0);  // "R25" is 25
    pan_->stepIn(100);     // whole percents
    pan_->setToolTip(qs(L("Панорама дорожки: действует на все её клипы")));
    column->addWidget(pan_);
    column->addStretch(1);
}

void LaneHeader::setLane(const Lane& lane, int clipCount, bool selected, bool dragging) {
    const bool first = lane_.name.empty() && name_->text().isEmpty();
    if (first || lane.name != lane_.name) {
        name_->setText(qs(lane.name));
        // Every row's sliders are told apart by the row's name, as the mixer's are.
        gain_->slider()->setAccessibleName(qs(L("{0}: громкость", lane.name)));
        pan_->slider()->setAccessibleName(qs(L("{0}: панорама", lane.name)));
    }
    const bool repaint = selected != selected_ || dragging != dragging_ || lane.color != lane_.color;
    lane_ = lane;
    selected_ = selected;
    dragging_ = dragging;
    static_cast<ColorDot*>(dot_)->setColor(Palette::track(lane.color));
    mute_->setActive(lane.muted);
    solo_->setActive(lane.solo);
    count_->setText(qs(LP(clipCount, "{0} клип|{0} клипа|{0} клипов")));
    gain_->setValue(lane.gainDB);
    gain_->setDisplay(gainLabel(lane.gainDB));
    pan_->setValue(lane.pan);
    pan_->setDisplay(panLabel(lane.pan));
    handle_->setHighlighted(dragging);
    if (repaint) update();
}

void LaneHeader::commitName() {
    const QString trimmed = trimmedName(name_->text());
    if (trimmed.isEmpty()) {
        name_->setText(qs(lane_.name));
        return;
    }
    const std::string value = trimmed.toStdString();
    if (value == lane_.name) return;
    const Uuid id = lane_.id;
    store_.renameLane(id, value);
}

void LaneHeader::fillMenu() {
    menu_->clear();
    const Session& session = store_.session();
    const Uuid id = lane_.id;
    const bool roomForLane = session.lanes.size() < std::size_t(kMaxLanes);

    QAction* add = menu_->addAction(qs(L("Новая дорожка")), this, [this, id] {
        store_.selectLane(id, false);
        store_.newLane();
    });
    add->setEnabled(roomForLane);
    QAction* duplicate = menu_->addAction(qs(L("Дублировать дорожку")), this, [this, id] {
        store_.selectLane(id, true);
        store_.duplicateLane();
    });
    duplicate->setEnabled(roomForLane);
    menu_->addAction(qs(L("Удалить дорожку")), this, [this, id] {
        store_.selectLane(id, true);
        store_.removeLane();
    });

    QMenu* colors = menu_->addMenu(qs(L("Цвет")));
    colors->setToolTipsVisible(true);
    colors->menuAction()->setToolTip(qs(L("Цвет дорожки и всех её клипов")));
    menu_->setToolTipsVisible(true);
    const auto& names = Palette::colorNames();
    for (int i = 0; i < 8; ++i) {
        QString title = i < int(names.size()) ? names[std::size_t(i)] : QString::number(i);
        title.replace(QLatin1Char('&'), QStringLiteral("&&"));
        if (Palette::trackIndex(lane_.color) == i) title = QStringLiteral("✓ ") + title;
        colors->addAction(colorSwatch(i), title, this, [this, id, i] { store_.setLaneColor(id, i); });
    }

    const auto selected = store_.selectedIndex();
    if (!selected || *selected >= session.tracks.size()) return;
    const Track& clip = session.tracks[*selected];
    if (!clip.laneID || *clip.laneID != id) return;
    menu_->addSeparator();
    QAction* heading = menu_->addAction(menuText(L("Клип «{0}»", clip.name)));
    heading->setEnabled(false);
    menu_->addAction(qs(L("Разделить в позиции курсора")), this, [this] { store_.split(); });
    QAction* dup = menu_->addAction(qs(L("Дублировать клип")), this, [this] { store_.duplicateClip(); });
    dup->setEnabled(session.tracks.size() < kMaxClips);
    menu_->addAction(qs(L("Удалить клип")), this, [this] { store_.removeClip(); });
    ClipAutomationMenu::addItems(menu_, store_, clip);
}

void LaneHeader::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), selected_ ? Palette::raised() : Palette::panel());
    if (selected_) p.fillRect(QRect(0, 0, 3, height()), Palette::track(lane_.color));
    p.fillRect(QRect(0, height() - 1, width(), 1), Palette::line());
    if (dragging_) {
        QColor c = Palette::accent();
        c.setAlphaF(0.8f);
        p.setPen(QPen(c, 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(1, 1, width() - 2, height() - 2));
    }
}

void LaneHeader::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const Uuid id = lane_.id;
        store_.selectLane(id, true);
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

// ---- the column ----

LaneHeaderColumn::LaneHeaderColumn(StudioStore& store, QWidget* column, QVBoxLayout* rows, TransportSignals* transport)
    : QObject(column), store_(store), column_(column), rows_(rows) {
    if (transport) connect(transport, &TransportSignals::recordingChanged, this, &LaneHeaderColumn::sync);
    connect(&store_, &StudioStore::selectedLaneIDChanged, this, &LaneHeaderColumn::sync);
    connect(&store_, &StudioStore::laneDragOriginChanged, this, &LaneHeaderColumn::sync);
    connect(&store_, &StudioStore::sessionChanged, this, &LaneHeaderColumn::sync);
    connect(&store_, &StudioStore::busyChanged, this, &LaneHeaderColumn::sync);
    sync();
}

LaneHeader* LaneHeaderColumn::header(const Uuid& lane) const {
    const auto it = headers_.find(lane);
    return it == headers_.end() ? nullptr : it->second.data();
}

void LaneHeaderColumn::sync() {
    const Session& session = store_.session();
    std::map<Uuid, int> clips;
    for (const Track& t : session.tracks)
        if (t.laneID) ++clips[*t.laneID];
    // Rows that are gone.
    for (auto it = headers_.begin(); it != headers_.end();) {
        if (!it->second || !session.laneIndex(it->first)) {
            if (it->second) {
                rows_->removeWidget(it->second);
                delete it->second.data();
            }
            it = headers_.erase(it);
        } else {
            ++it;
        }
    }
    const bool locked = store_.locked();
    const auto& origin = store_.laneDragOrigin();
    for (std::size_t i = 0; i < session.lanes.size(); ++i) {
        const Lane& lane = session.lanes[i];
        LaneHeader* h = header(lane.id);
        if (!h) {
            h = new LaneHeader(store_, lane.id, column_);
            headers_[lane.id] = h;
        }
        // Moved into place, never rebuilt: a running handle drag keeps its mouse grab.
        if (rows_->indexOf(h) != int(i)) {
            rows_->removeWidget(h);
            rows_->insertWidget(int(i), h);
        }
        const auto count = clips.find(lane.id);
        h->setLane(lane, count == clips.end() ? 0 : count->second, store_.selectedLaneID() == lane.id,
                   origin && origin->id == lane.id);
        h->setEnabled(!locked);
        h->show();
    }
}

}  // namespace tessoral

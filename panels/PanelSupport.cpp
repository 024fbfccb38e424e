#include "panels/PanelSupport.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

#include <cmath>

#include "model/NumberFormat.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"
#include "widgets/Fonts.h"
#include "widgets/Icons.h"
#include "widgets/Palette.h"

namespace tessoral::panels {

QColor orange() { return QColor(0xFF, 0x9F, 0x0A); }

QString withMinusSign(const std::string& text) {
    QString out = QString::fromStdString(text);
    out.replace(QLatin1Char('-'), QChar(0x2212));
    return out;
}

QString fixedText(double value, int decimals) { return withMinusSign(num::fixed(value, decimals)); }

QString signedFixedText(double value, int decimals) {
    std::string text = num::fixed(value, decimals);
    // printf's '+' flag: a sign on every number that does not already carry a minus.
    if (text.empty() || text.front() != '-') text.insert(text.begin(), '+');
    if (std::isnan(value)) text = "nan";
    return withMinusSign(text);
}

void followLocked(QWidget* widget, StudioStore& store, TransportSignals* transport) {
    widget->setEnabled(!store.locked());
    auto update = [widget, &store] { widget->setEnabled(!store.locked()); };
    QObject::connect(&store, &StudioStore::busyChanged, widget, update);
    if (transport) QObject::connect(transport, &TransportSignals::recordingChanged, widget, update);
}

// ---- Popover ----

Popover::Popover(QWidget* parent) : QFrame(parent, Qt::Popup) {
    setFrameShape(QFrame::StyledPanel);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Palette::raised());
    setPalette(pal);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void Popover::setContent(QWidget* content) {
    if (content_) content_->deleteLater();
    content_ = content;
    if (content_) {
        content_->setParent(this);
        layout()->addWidget(content_);
    }
}

void Popover::showBelow(QWidget* anchor) {
    adjustSize();
    QPoint at = anchor->mapToGlobal(QPoint(0, anchor->height() + 2));
    if (QScreen* screen = anchor->screen()) {
        const QRect area = screen->availableGeometry();
        const QSize size = sizeHint();
        if (at.x() + size.width() > area.right()) at.setX(std::max(area.left(), area.right() - size.width()));
        if (at.y() + size.height() > area.bottom()) {
            // No room below: open above the anchor.
            const int above = anchor->mapToGlobal(QPoint(0, 0)).y() - size.height() - 2;
            at.setY(std::max(area.top(), above));
        }
    }
    move(at);
    show();
}

void Popover::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    if (closed_) closed_();
    Q_EMIT closed();
}

// ---- SheetErrorText ----

SheetErrorText::SheetErrorText(StudioStore& store, QWidget* parent) : QWidget(parent), store_(store) {
    setObjectName(QStringLiteral("sheetErrorText"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);
    icon_ = new QLabel(this);
    icon_->setPixmap(Icons::pixmap(QStringLiteral("exclamationmark.triangle.fill"), orange(), 12, devicePixelRatioF()));
    icon_->setAlignment(Qt::AlignTop);
    row->addWidget(icon_);
    text_ = new QLabel(this);
    text_->setFont(Fonts::ui(11));
    text_->setWordWrap(true);
    text_->setTextFormat(Qt::PlainText);
    QPalette pal = text_->palette();
    pal.setColor(QPalette::WindowText, orange());
    text_->setPalette(pal);
    row->addWidget(text_, 1);
    connect(&store_, &StudioStore::errorChanged, this, &SheetErrorText::refresh);
    refresh();
}

void SheetErrorText::refresh() {
    const auto& error = store_.error();
    text_->setText(error ? qs(*error) : QString());
    setVisible(error.has_value());
}

}  // namespace tessoral::panels

#include "app/shell/SettingsWindow.h"

#include <QKeySequence>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

#include "model/Localization.h"

namespace tessoral {

SettingsWindow::SettingsWindow(QWidget* form, QWidget* owner)
    : QWidget(nullptr, Qt::Window), scroll_(new QScrollArea(this)), form_(form), owner_(owner) {
    setObjectName(QStringLiteral("settingsWindow"));
    setWindowTitle(QString::fromStdString(L("Настройки")));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    scroll_->setObjectName(QStringLiteral("settingsScroll"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->setWidgetResizable(true);
    scroll_->setFocusPolicy(Qt::NoFocus);  // Tab goes from the form's first control on
    scroll_->setWidget(form_);
    layout->addWidget(scroll_);
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, &QWidget::close);
    }
}

QSize SettingsWindow::fittedSize(QSize form, QRect available, QSize frame, int scrollBarWidth) {
    const int room = std::max(200, available.height() - frame.height());
    if (form.height() <= room) return form;
    return {form.width() + scrollBarWidth, room};
}

QPoint SettingsWindow::centredOver(QRect owner, QSize size, QRect available) {
    QPoint corner(owner.x() + (owner.width() - size.width()) / 2, owner.y() + (owner.height() - size.height()) / 2);
    corner.setX(std::clamp(corner.x(), available.left(), std::max(available.left(), available.right() + 1 - size.width())));
    corner.setY(std::clamp(corner.y(), available.top(), std::max(available.top(), available.bottom() + 1 - size.height())));
    return corner;
}

void SettingsWindow::open() {
    QScreen* where = owner_ ? owner_->screen() : screen();
    const QRect available = where ? where->availableGeometry() : QRect(0, 0, 1366, 768);
    // The title bar and borders, as the window manager drew them last time (a guess before that).
    QSize frame = frameGeometry().size() - geometry().size();
    if (!isVisible() && frame.height() <= 0) frame = QSize(2, 32);
    const QSize formSize = form_->sizeHint().expandedTo(form_->minimumSizeHint());
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroll_);
    const QSize size = fittedSize(formSize, available, frame, bar);
    setFixedWidth(size.width());
    setMinimumHeight(std::min(size.height(), 200));
    setMaximumHeight(formSize.height());
    resize(size);
    if (!isVisible()) {
        const QRect over = owner_ && owner_->isVisible() ? owner_->frameGeometry() : available;
        move(centredOver(over, size + frame, available));
        // Kept above the main window, and placed over it by a Wayland compositor (which ignores
        // the position asked for here).
        if (owner_ && owner_->window()->windowHandle()) {
            winId();
            windowHandle()->setTransientParent(owner_->window()->windowHandle());
        }
    }
    show();
    raise();
    activateWindow();
}

}  // namespace tessoral

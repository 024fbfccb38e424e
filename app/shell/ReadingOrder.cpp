#include "app/shell/ReadingOrder.h"

#include <QApplication>
#include <QScrollArea>
#include <QWidget>

#include <algorithm>
#include <vector>

namespace tessoral::ReadingOrder {

namespace {

bool isStop(const QWidget* w) {
    // A scroll area is no stop of its own: its controls are, and it scrolls to show each.
    return w->isVisible() && w->isEnabled() && !w->focusProxy() && (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus &&
           !qobject_cast<const QScrollArea*>(w);
}

// The visible children of `parent` in reading order: sorted by their top edge, gathered into rows
// (a child whose vertical middle lies within the row so far joins it), each row from left to right.
// `anchor` keeps its place among them while it is hidden.
QList<QWidget*> ordered(QWidget* parent, const QWidget* anchor) {
    std::vector<QWidget*> kids;
    for (QObject* o : parent->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (w && !w->isWindow() && (w->isVisible() || (anchor && (w == anchor || w->isAncestorOf(anchor)))))
            kids.push_back(w);
    }
    std::stable_sort(kids.begin(), kids.end(), [](const QWidget* a, const QWidget* b) { return a->y() < b->y(); });
    QList<QWidget*> out;
    std::vector<QWidget*> row;
    int rowBottom = 0;
    const auto flush = [&] {
        std::stable_sort(row.begin(), row.end(), [](const QWidget* a, const QWidget* b) { return a->x() < b->x(); });
        for (QWidget* w : row) out << w;
        row.clear();
    };
    for (QWidget* w : kids) {
        const int middle = w->y() + w->height() / 2;
        if (!row.empty() && middle >= rowBottom) flush();
        if (row.empty()) rowBottom = w->y() + std::max(1, w->height());
        else rowBottom = std::max(rowBottom, w->y() + std::max(1, w->height()));
        row.push_back(w);
    }
    flush();
    return out;
}

void collect(QWidget* parent, QList<QWidget*>& out, const QWidget* anchor = nullptr) {
    for (QWidget* w : ordered(parent, anchor)) {
        if (isStop(w) || w == anchor) out << w;
        collect(w, out, anchor);
    }
}

}  // namespace

QList<QWidget*> stops(QWidget* root) {
    QList<QWidget*> out;
    if (root) collect(root, out);
    return out;
}

bool step(QWidget* root, bool forward, QWidget* last) {
    // The stop holding the focus, or the one whose part holds it (a picker's text field); else the
    // control that held the focus last where it is no stop (a clicked area, a control hidden or
    // disabled since): the next stop is then the one after its place.
    QWidget* anchor = nullptr;
    for (QWidget* f = QApplication::focusWidget(); f && !anchor; f = f->isWindow() ? nullptr : f->parentWidget())
        if (isStop(f) && root->isAncestorOf(f)) anchor = f;
    if (!anchor && last && root->isAncestorOf(last) && !isStop(last)) anchor = last;
    QList<QWidget*> all;
    collect(root, all, anchor);
    const qsizetype at = anchor ? all.indexOf(anchor) : -1;
    if (at >= 0 && !isStop(anchor)) all.removeAt(at);
    if (all.isEmpty()) return false;
    qsizetype next = 0;
    if (at < 0) next = forward ? 0 : all.size() - 1;
    else if (!isStop(anchor)) next = forward ? at % all.size() : (at + all.size() - 1) % all.size();
    else next = (at + (forward ? 1 : all.size() - 1)) % all.size();
    QWidget* target = all[next];
    target->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    for (QWidget* w = target->parentWidget(); w && w != root; w = w->parentWidget())
        if (auto* area = qobject_cast<QScrollArea*>(w)) area->ensureWidgetVisible(target, 8, 8);
    return true;
}

}  // namespace tessoral::ReadingOrder

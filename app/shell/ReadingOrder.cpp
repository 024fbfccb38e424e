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
QList<QWidget*> ordered(QWidget* parent) {
    std::vector<QWidget*> kids;
    for (QObject* o : parent->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (w && !w->isWindow() && w->isVisible()) kids.push_back(w);
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

void collect(QWidget* parent, QList<QWidget*>& out) {
    for (QWidget* w : ordered(parent)) {
        if (isStop(w)) out << w;
        collect(w, out);
    }
}

}  // namespace

QList<QWidget*> stops(QWidget* root) {
    QList<QWidget*> out;
    if (root) collect(root, out);
    return out;
}

bool step(QWidget* root, bool forward) {
    const QList<QWidget*> all = stops(root);
    if (all.isEmpty()) return false;
    // The stop holding the focus, or the one whose part holds it (a picker's text field).
    qsizetype at = -1;
    for (QWidget* f = QApplication::focusWidget(); f && at < 0; f = f->isWindow() ? nullptr : f->parentWidget())
        at = all.indexOf(f);
    qsizetype next = 0;
    if (at < 0) next = forward ? 0 : all.size() - 1;
    else next = (at + (forward ? 1 : all.size() - 1)) % all.size();
    QWidget* target = all[next];
    target->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    for (QWidget* w = target->parentWidget(); w && w != root; w = w->parentWidget())
        if (auto* area = qobject_cast<QScrollArea*>(w)) area->ensureWidgetVisible(target, 8, 8);
    return true;
}

}  // namespace tessoral::ReadingOrder

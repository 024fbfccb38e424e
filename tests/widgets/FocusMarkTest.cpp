// The keyboard focus mark over plain Qt controls: where the keyboard brought the focus, back with
// the focus from a popup, gone after a click; around a picker rather than its text field; on the
// control's own edge where it fills its window to an edge; cut where a scroll area cuts the control.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

#include "widgets/FocusMark.h"
#include "widgets/Palette.h"

using namespace tessoral;

namespace {

void pump() {
    for (int i = 0; i < 4; ++i) QApplication::processEvents();
}

bool accentAt(const QImage& image, int x, int y) {
    const QColor c = image.pixelColor(x, y), a = Palette::accent();
    return std::abs(c.red() - a.red()) < 40 && std::abs(c.green() - a.green()) < 40 && std::abs(c.blue() - a.blue()) < 40;
}

// Accent pixels in the rectangle.
int accentIn(const QImage& image, QRect r) {
    int n = 0;
    r &= image.rect();
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) n += accentAt(image, x, y);
    return n;
}

}  // namespace

TEST(FocusMark, ShowsWhereTheKeyboardBroughtTheFocus) {
    FocusMark::install();
    QWidget window;
    window.resize(320, 220);
    auto* area = new QScrollArea(&window);
    area->setGeometry(0, 40, 320, 100);  // reaches the window's left and right edges
    auto* content = new QWidget;
    content->resize(300, 400);
    auto* inner = new QPushButton(QStringLiteral("inner"), content);
    inner->setGeometry(40, 100, 100, 30);
    area->setWidget(content);
    auto* first = new QPushButton(QStringLiteral("first"), &window);
    first->setGeometry(20, 170, 100, 30);
    auto* picker = new QComboBox(&window);
    picker->setEditable(true);
    picker->setGeometry(160, 170, 120, 30);
    window.show();
    QApplication::setActiveWindow(&window);
    pump();

    first->setFocus(Qt::TabFocusReason);
    pump();
    EXPECT_EQ(FocusMark::marked(), first);
    QImage image = window.grab().toImage();
    // Two pixels wide, one pixel clear of the button, on all four sides.
    const QRect r = first->geometry();
    for (const QPoint at : {QPoint(r.left() - 2, r.center().y()), QPoint(r.right() + 2, r.center().y()),
                            QPoint(r.center().x(), r.top() - 2), QPoint(r.center().x(), r.bottom() + 3)})
        EXPECT_TRUE(accentAt(image, at.x(), at.y())) << at.x() << "," << at.y();
    EXPECT_FALSE(accentAt(image, r.left() - 1, r.center().y()));

    // The picker's text field takes the focus; the mark goes round the picker.
    picker->lineEdit()->setFocus(Qt::BacktabFocusReason);
    pump();
    EXPECT_EQ(FocusMark::marked(), picker);

    // A click elsewhere: no mark. Focus handed back from a popup goes with the mark only to the
    // control the keyboard chose.
    first->setFocus(Qt::MouseFocusReason);
    pump();
    EXPECT_EQ(FocusMark::marked(), nullptr);
    EXPECT_EQ(accentIn(window.grab().toImage(), r.adjusted(-4, -4, 4, 4)), 0);
    picker->lineEdit()->setFocus(Qt::MouseFocusReason);
    pump();
    first->setFocus(Qt::TabFocusReason);
    pump();
    picker->lineEdit()->setFocus(Qt::PopupFocusReason);
    pump();
    EXPECT_EQ(FocusMark::marked(), nullptr);
    first->setFocus(Qt::PopupFocusReason);
    pump();
    EXPECT_EQ(FocusMark::marked(), first);
    first->clearFocus();
    pump();
    EXPECT_EQ(FocusMark::marked(), nullptr);

    // The scroll area fills the window from edge to edge: marked on its own edge.
    area->setFocus(Qt::TabFocusReason);
    pump();
    EXPECT_EQ(FocusMark::marked(), area);
    image = window.grab().toImage();
    const QRect a = area->geometry();
    EXPECT_TRUE(accentAt(image, a.left(), a.center().y()));
    EXPECT_TRUE(accentAt(image, a.right(), a.center().y()));
    EXPECT_TRUE(accentAt(image, a.center().x(), a.top() + 1));

    // Scrolled half out of view: the mark stops at the viewport's edge.
    inner->setFocus(Qt::TabFocusReason);
    pump();
    area->verticalScrollBar()->setValue(115);
    pump();
    EXPECT_EQ(FocusMark::marked(), inner);
    image = window.grab().toImage();
    const QRect viewport(area->viewport()->mapTo(&window, QPoint(0, 0)), area->viewport()->size());
    const QRect shown(inner->mapTo(&window, QPoint(0, 0)), inner->size());
    ASSERT_LT(shown.top(), viewport.top());
    EXPECT_EQ(accentIn(image, QRect(shown.left() - 4, 0, shown.width() + 8, viewport.top() - 4)), 0);
    EXPECT_GT(accentIn(image, QRect(shown.left() - 4, viewport.top(), 4, viewport.height())), 10);
}

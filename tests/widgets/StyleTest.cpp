// The program's style, measured on rendered pixels: check boxes, radio buttons and menu toggles
// stand out from the surface behind them by at least 3:1 (relative luminance, as the web content
// accessibility guidelines define non-text contrast), ticked ones in the accent and never weaker
// than unticked ones, disabled ones dimmer, the keyboard focus ring visible on every one of them;
// a menu taller than the screen keeps one column.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QMenu>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QTest>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

#include <gtest/gtest.h>

#include "support/views/Contrast.h"
#include "widgets/Palette.h"

using namespace tessoral;
using tessoral::test::contrast;
using tessoral::test::outlineContrast;

namespace {

// A check box or radio button on a surface of `surface`.
struct Indicator {
    std::unique_ptr<QWidget> host;
    QAbstractButton* button = nullptr;
    Indicator(bool radio, QColor surface, bool checked, bool enabled = true, bool focused = false) {
        host = std::make_unique<QWidget>();
        host->setAutoFillBackground(true);
        QPalette pal = host->palette();
        pal.setColor(QPalette::Window, surface);
        host->setPalette(pal);
        auto* column = new QVBoxLayout(host.get());
        column->setContentsMargins(10, 10, 10, 10);
        if (radio)
            button = new QRadioButton(QStringLiteral("Радио"), host.get());
        else
            button = new QCheckBox(QStringLiteral("Выключить клип"), host.get());
        button->setChecked(checked);
        button->setEnabled(enabled);
        column->addWidget(button);
        host->adjustSize();
        host->show();
        QApplication::processEvents();
        if (focused) {
            // As the Tab key gives it: the focus ring shows only for a focus change from the keyboard.
            QApplication::setActiveWindow(host.get());
            button->setFocus(Qt::TabFocusReason);
            host->setAttribute(Qt::WA_KeyboardFocusChange);
            QApplication::processEvents();
        } else {
            button->clearFocus();
            QApplication::processEvents();
        }
    }
    // The host, the button on it.
    QImage image() const { return host->grab().toImage().convertToFormat(QImage::Format_RGB32); }
    QRect box() const {
        QStyleOptionButton opt;
        opt.initFrom(button);
        const bool radio = qobject_cast<QRadioButton*>(button) != nullptr;
        return button->style()
            ->subElementRect(radio ? QStyle::SE_RadioButtonIndicator : QStyle::SE_CheckBoxIndicator, &opt, button)
            .translated(button->pos());
    }
};

}  // namespace

TEST(Style, UncheckedIndicatorsStandOutFromEverySurface) {
    for (const bool radio : {false, true}) {
        for (const QColor surface : {Palette::background(), Palette::panel(), Palette::raised()}) {
            Indicator unchecked(radio, surface, false);
            const QImage image = unchecked.image();
            const QRect box = unchecked.box();
            ASSERT_FALSE(box.isEmpty());
            const QColor behind = image.pixelColor(std::max(box.left() - 2, 0), box.center().y());
            EXPECT_TRUE(contrast(behind, surface) < 1.05) << "the probe beside the indicator sees the surface";
            EXPECT_GE(outlineContrast(image, box, behind), 3.0)
                << (radio ? "radio button" : "check box") << " on " << surface.name().toStdString();
        }
    }
}

TEST(Style, TickedDisabledAndFocusedIndicatorsStandOutAndDifferAsTheyShould) {
    for (const bool radio : {false, true}) {
        for (const QColor surface : {Palette::background(), Palette::panel(), Palette::raised()}) {
            const std::string where = std::string(radio ? "radio button" : "check box") + " on " + surface.name().toStdString();
            // Contrast with the surface, by [ticked][enabled][focused].
            double strength[2][2][2] = {};
            QImage images[2][2][2];
            QRect box;
            for (const bool ticked : {false, true}) {
                for (const bool enabled : {true, false}) {
                    for (const bool focused : {false, true}) {
                        if (focused && !enabled) continue;  // a disabled control takes no focus
                        Indicator indicator(radio, surface, ticked, enabled, focused);
                        ASSERT_EQ(indicator.button->hasFocus(), focused) << where;
                        const QImage image = indicator.image();
                        box = indicator.box();
                        const QColor behind = image.pixelColor(std::max(box.left() - 2, 0), box.center().y());
                        ASSERT_LT(contrast(behind, surface), 1.05);
                        const double c = outlineContrast(image, box, behind);
                        const std::string state = std::string(ticked ? " ticked" : " unticked") +
                                                  (enabled ? "" : ", disabled") + (focused ? ", focused" : "");
                        EXPECT_GE(c, 3.0) << where << state;
                        strength[ticked][enabled][focused] = c;
                        images[ticked][enabled][focused] = image;
                    }
                }
            }
            for (const bool enabled : {true, false}) {
                EXPECT_GE(strength[1][enabled][0], strength[0][enabled][0]) << where << ": ticked weaker than unticked";
                for (const bool ticked : {false, true})
                    EXPECT_LT(strength[ticked][0][0], strength[ticked][1][0] - 0.5)
                        << where << (ticked ? " ticked" : " unticked") << ": disabled not dimmer";
            }
            for (const bool ticked : {false, true}) {
                // The focus ring: pixels of the indicator that change by at least 3:1 with the focus.
                double ring = 1.0;
                for (int y = box.top(); y <= box.bottom(); ++y)
                    for (int x = box.left(); x <= box.right(); ++x)
                        ring = std::max(ring, contrast(images[ticked][1][1].pixelColor(x, y), images[ticked][1][0].pixelColor(x, y)));
                EXPECT_GE(ring, 3.0) << where << (ticked ? " ticked" : " unticked") << ": no visible focus ring";
            }
            // A ticked one is drawn in the window's tint, and a ticked box's mark reads on its fill.
            const QImage& ticked = images[1][1][0];
            int accentPixels = 0;
            for (int y = box.top(); y <= box.bottom(); ++y)
                for (int x = box.left(); x <= box.right(); ++x)
                    accentPixels += contrast(ticked.pixelColor(x, y), Palette::accent()) < 1.1;
            EXPECT_GE(accentPixels, radio ? 12 : box.width() * box.height() / 3) << where;
            if (radio) {
                EXPECT_LT(contrast(ticked.pixelColor(box.center()), Palette::accent()), 1.1) << where << ": no accent dot";
            } else {
                const QRect inside = box.adjusted(3, 3, -3, -3);
                const QColor fill = ticked.pixelColor(inside.topLeft());
                double mark = 1.0;
                for (int y = inside.top(); y <= inside.bottom(); ++y)
                    for (int x = inside.left(); x <= inside.right(); ++x) mark = std::max(mark, contrast(ticked.pixelColor(x, y), fill));
                EXPECT_GE(mark, 4.5) << where << ": the tick does not read on the fill";
            }
        }
    }
}

TEST(Style, MenuTogglesStandOutOnPlainAndHighlightedRows) {
    QMenu menu;
    QAction* first = menu.addAction(QStringLiteral("Огибающие громкости и панорамы"));
    first->setCheckable(true);
    QAction* second = menu.addAction(QStringLiteral("Метроном"));
    second->setCheckable(true);
    QAction* third = menu.addAction(QStringLiteral("Привязка"));
    third->setCheckable(true);
    third->setChecked(true);
    menu.popup(QPoint(0, 0));
    QApplication::processEvents();
    // Unticked on a plain and a highlighted row, ticked on a plain and then a highlighted one.
    for (QAction* highlighted : {second, third}) {
        menu.setActiveAction(highlighted);
        QApplication::processEvents();
        const QImage image = menu.grab().toImage().convertToFormat(QImage::Format_RGB32);
        for (QAction* action : {first, second, third}) {
            const QRect row = menu.actionGeometry(action);
            const QColor behind = image.pixelColor(row.left() + 2, row.center().y());
            // The indicator: the pixels unlike the row's colour before the text begins.
            QRect box;
            for (int x = row.left() + 2; x < row.left() + 26; ++x)
                for (int y = row.top(); y <= row.bottom(); ++y)
                    if (contrast(image.pixelColor(x, y), behind) > 1.15) box |= QRect(x, y, 1, 1);
            ASSERT_FALSE(box.isEmpty()) << "no indicator drawn on " << action->text().toStdString();
            EXPECT_GE(box.width(), 8);
            EXPECT_GE(outlineContrast(image, box, behind), 3.0)
                << action->text().toStdString() << (action == highlighted ? " (highlighted)" : "");
        }
    }
    menu.hide();
}

TEST(Style, AMenuTallerThanTheScreenKeepsOneColumn) {
    QMenu menu;
    const int screenHeight = QGuiApplication::primaryScreen()->availableGeometry().height();
    std::vector<QAction*> actions;
    for (int i = 0; actions.size() < 200 && int(actions.size()) * 20 < screenHeight * 2; ++i)
        actions.push_back(menu.addAction(QStringLiteral("Пункт %1").arg(i + 1)));
    menu.popup(QPoint(0, 0));
    QApplication::processEvents();
    ASSERT_GT(menu.sizeHint().height(), 0);
    EXPECT_LE(menu.height(), screenHeight);
    for (QAction* a : actions) EXPECT_EQ(menu.actionGeometry(a).left(), menu.actionGeometry(actions.front()).left()) << a->text().toStdString();
    menu.hide();
}

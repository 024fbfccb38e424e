// The program's style, measured on rendered pixels: unchecked check boxes, radio buttons and menu
// toggles stand out from the surface behind them by at least 3:1 (relative luminance, as the web
// content accessibility guidelines define non-text contrast); checked ones look as Fusion draws
// them; a menu taller than the screen keeps one column.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QMenu>
#include <QRadioButton>
#include <QScreen>
#include <QStyleFactory>
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
    Indicator(bool radio, QColor surface, bool checked, QStyle* style = nullptr) {
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
        if (style) button->setStyle(style);
        button->setChecked(checked);
        column->addWidget(button);
        host->adjustSize();
        host->show();
        QApplication::processEvents();
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

TEST(Style, CheckedIndicatorsLookAsFusionDrawsThem) {
    std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    for (const bool radio : {false, true}) {
        Indicator ours(radio, Palette::panel(), true);
        Indicator plain(radio, Palette::panel(), true, fusion.get());
        EXPECT_EQ(ours.image(), plain.image()) << (radio ? "radio button" : "check box");
    }
}

TEST(Style, UncheckedMenuTogglesStandOutOnPlainAndHighlightedRows) {
    QMenu menu;
    QAction* first = menu.addAction(QStringLiteral("Огибающие громкости и панорамы"));
    first->setCheckable(true);
    QAction* second = menu.addAction(QStringLiteral("Метроном"));
    second->setCheckable(true);
    menu.popup(QPoint(0, 0));
    QApplication::processEvents();
    menu.setActiveAction(second);
    QApplication::processEvents();
    const QImage image = menu.grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (QAction* action : {first, second}) {
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
            << action->text().toStdString() << (action == second ? " (highlighted)" : "");
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

// Palette, tool button, segmented control, meter and icons, drawn offscreen and probed by pixel.
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTest>

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "widgets/Eliding.h"
#include "widgets/Icons.h"
#include "widgets/MeterView.h"
#include "widgets/Palette.h"
#include "widgets/SegmentedControl.h"
#include "widgets/ToolButton.h"

using namespace tessoral;

namespace {

QImage render(QWidget& w) { return w.grab().toImage().convertToFormat(QImage::Format_ARGB32); }

bool near(QColor a, QColor b, int tolerance = 3) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

}  // namespace

TEST(Palette, TrackIndexWrapsEveryInteger) {
    for (auto [index, expected] : std::vector<std::pair<long long, int>>{
             {-1, 7}, {8, 0}, {-9, 7}, {0, 0}, {15, 7}, {-16, 0}, {std::numeric_limits<long long>::min(), 0}}) {
        EXPECT_EQ(Palette::trackIndex(index), expected) << index;
        EXPECT_EQ(Palette::track(index), Palette::colors()[size_t(expected)]) << index;
    }
    EXPECT_EQ(Palette::colors().front(), Palette::accent());
    EXPECT_EQ(Palette::colorNames().size(), 8u);
    EXPECT_EQ(Palette::colorNames()[3], QString::fromUtf8("Красный"));
    // 0.40, 0.86, 0.62 in eight-bit components.
    EXPECT_TRUE(near(Palette::accent(), QColor(102, 219, 158), 1));
}

TEST(ToolButton, IsThirtyTwoByThirtyAndActsOnItsTransparentCorner) {
    int clicks = 0;
    ToolButton button("play.fill", "Воспроизвести", false, Palette::accent(), [&] { ++clicks; });
    button.show();
    EXPECT_EQ(button.size(), QSize(32, 30));
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(1, 1));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(button.toolTip(), QString::fromUtf8("Воспроизвести"));
    EXPECT_EQ(button.accessibleName(), button.toolTip());

    button.setEnabled(false);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(16, 15));
    EXPECT_EQ(clicks, 1);
}

TEST(ToolButton, ActiveLookFillsWithTintAndDrawsIconInBackground) {
    ToolButton button("stop.fill", "Остановить", false, Palette::accent(), {});
    QImage flat = render(button);
    // Inactive: nothing drawn at the corner (the window shows through), the centre carries the tint.
    EXPECT_TRUE(near(flat.pixelColor(2, 15), Palette::background()));
    EXPECT_TRUE(near(flat.pixelColor(16, 15), Palette::accent(), 8));

    button.setActive(true);
    QImage lit = render(button);
    EXPECT_EQ(button.size(), QSize(32, 30));
    EXPECT_TRUE(near(lit.pixelColor(3, 15), Palette::accent()));
    EXPECT_TRUE(near(lit.pixelColor(16, 15), Palette::background(), 8));
}

TEST(SegmentedControl, ReportsChoiceButShowsOnlyWhatItIsTold) {
    SegmentedControl control({"Волна", "Мультитрек", "Микшер"});
    control.setFixedWidth(244);
    control.setCurrentIndex(1);
    control.show();
    QSignalSpy spy(&control, &SegmentedControl::activated);
    QTest::mouseClick(&control, Qt::LeftButton, {}, control.segmentRect(2).center());
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 2);
    EXPECT_EQ(control.currentIndex(), 1);
    control.setCurrentIndex(7);
    EXPECT_EQ(control.currentIndex(), -1);
}

TEST(MeterView, FractionFollowsTheLogarithmicScale) {
    EXPECT_NEAR(MeterView::fraction(0.5f), 0.8746, 0.001);
    EXPECT_NEAR(MeterView::fraction(std::pow(10.0f, -24.0f / 20.0f)), 0.5, 1e-5);
    for (float none : {0.001f, 0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(),
                       -std::numeric_limits<float>::infinity()})
        EXPECT_EQ(MeterView::fraction(none), 0.0f) << none;
    EXPECT_EQ(MeterView::fraction(1.0f), 1.0f);
    EXPECT_EQ(MeterView::fraction(4.0f), 1.0f);
    EXPECT_EQ(MeterView::fraction(std::numeric_limits<float>::infinity()), 1.0f);
}

TEST(MeterView, BarsAreFiveHighAndTurnRedOnlyAtFullScale) {
    MeterView meter;
    meter.resize(180, meter.sizeHint().height());
    meter.setLevels(1.0f, 0.999f);
    QImage img = render(meter);
    const QRect top = meter.barRect(0), bottom = meter.barRect(1);
    EXPECT_EQ(top.height(), 5);
    EXPECT_EQ(bottom.top() - top.bottom() - 1, 4);
    EXPECT_TRUE(near(img.pixelColor(top.right() - 1, top.center().y()), Palette::red()));
    EXPECT_TRUE(near(img.pixelColor(bottom.right() - 2, bottom.center().y()), Palette::accent()));

    meter.setLevels(0.5f, 0.0f);
    img = render(meter);
    const int edge = int(std::lround(0.8746 * 180));
    EXPECT_TRUE(near(img.pixelColor(edge - 2, top.center().y()), Palette::accent()));
    EXPECT_FALSE(near(img.pixelColor(edge + 2, top.center().y()), Palette::accent(), 40));
    EXPECT_FALSE(near(img.pixelColor(2, bottom.center().y()), Palette::accent(), 40));
}

TEST(Icons, EveryNamedIconRendersInTheRequestedColour) {
    for (const char* name : {"waveform", "waveform.path", "sidebar.left", "sidebar.right", "folder",
                             "square.and.arrow.down", "square.and.arrow.up", "backward.end.fill", "stop.fill",
                             "play.fill", "pause.fill", "record.circle", "stop.circle.fill", "repeat", "mic"}) {
        const QPixmap pm = Icons::pixmap(name, Palette::red(), 16);
        ASSERT_FALSE(pm.isNull()) << name;
        const QImage img = pm.toImage().convertToFormat(QImage::Format_ARGB32);
        int opaque = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (qAlpha(img.pixel(x, y)) > 100) {
                    ++opaque;
                    const QColor c = img.pixelColor(x, y);
                    EXPECT_TRUE(near(c, Palette::red())) << name << " " << x << "," << y;
                }
        EXPECT_GT(opaque, 6) << name;
    }
    EXPECT_TRUE(Icons::pixmap("no.such.icon", Palette::red(), 16).isNull());
}

// Every icon, in a room of its own size and in a button's larger one, placed as a style places the
// pixmap at the ratios of common screens: its logical size in the middle of the room, pixel for
// pixel its drawing rendered straight at that ratio (no pixmap made for another ratio, scaled).
TEST(Icons, QIconsAreDrawnFromTheDrawingAtTheScreensRatio) {
    const auto alphaOf = [](const QImage& image, int x, int y) { return qAlpha(image.pixel(x, y)); };
    const auto covered = [](const QImage& image) {
        QRect box;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) box |= qAlpha(image.pixel(x, y)) ? QRect(x, y, 1, 1) : QRect();
        return box;
    };
    for (const QString& file : QDir(QStringLiteral(":/tessoral/icons")).entryList()) {
        const QIcon icon = Icons::icon(QFileInfo(file).completeBaseName(), Palette::red(), 14);
        for (const int room : {14, 24})
            for (const qreal ratio : {1.0, 1.25, 1.5, 2.0}) {
                SCOPED_TRACE((file + QStringLiteral(" in %1 at %2").arg(room).arg(ratio)).toStdString());
                const QPixmap pm = icon.pixmap(QSize(room, room), ratio);
                EXPECT_DOUBLE_EQ(pm.devicePixelRatio(), ratio);
                QImage drawn(QSize(room, room) * ratio, QImage::Format_ARGB32_Premultiplied);
                drawn.fill(Qt::transparent);
                drawn.setDevicePixelRatio(ratio);
                QPainter(&drawn).drawPixmap((QPointF(room, room) - QPointF(pm.deviceIndependentSize().width(),
                                                                           pm.deviceIndependentSize().height())) / 2, pm);
                const int px = int(std::lround(14 * ratio));
                QImage reference(px, px, QImage::Format_ARGB32_Premultiplied);
                reference.fill(Qt::transparent);
                {
                    QPainter p(&reference);
                    p.setRenderHint(QPainter::Antialiasing);
                    QSvgRenderer(QStringLiteral(":/tessoral/icons/") + file).render(&p, QRectF(0, 0, px, px));
                }
                const QRect got = covered(drawn), want = covered(reference);
                const qreal margin = (room - 14) / 2.0;
                EXPECT_NEAR(got.width() / ratio, want.width() / ratio, 1.0);
                EXPECT_NEAR(got.height() / ratio, want.height() / ratio, 1.0);
                EXPECT_NEAR(got.left() / ratio, margin + want.left() / ratio, 1.0);
                EXPECT_NEAR(got.top() / ratio, margin + want.top() / ratio, 1.0);
                int worst = 0;
                for (int y = want.top(); y <= want.bottom(); ++y)
                    for (int x = want.left(); x <= want.right(); ++x)
                        worst = std::max(worst, std::abs(alphaOf(drawn, got.left() + x - want.left(), got.top() + y - want.top()) -
                                                         alphaOf(reference, x, y)));
                EXPECT_LE(worst, 2) << "not drawn at its ratio";
            }
    }
    // Disabled, it is dimmer.
    const QImage disabled = Icons::icon(QStringLiteral("waveform"), Palette::red(), 16).pixmap(QSize(16, 16), 1.5, QIcon::Disabled).toImage();
    int brightest = 0;
    for (int y = 0; y < disabled.height(); ++y)
        for (int x = 0; x < disabled.width(); ++x) brightest = std::max(brightest, qAlpha(disabled.pixel(x, y)));
    EXPECT_GT(brightest, 40);
    EXPECT_LT(brightest, 100);
    EXPECT_TRUE(Icons::icon(QStringLiteral("no.such.icon"), Palette::red(), 16).isNull());
}

// What the eliding controls draw is what a plain control draws of their shortened text: the whole
// text where it fits, its start and "…" where it does not.
TEST(Eliding, PickerAndFieldDrawTheirTextsShortenedAtTheEnd) {
    const QString name = QStringLiteral("Параметрический эквалайзер с очень длинным названием");
    auto grabbed = [](QWidget& w) {
        w.resize(120, w.sizeHint().height());
        return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    };

    ElidingComboBox picker;
    picker.addItem(name);
    picker.resize(120, picker.sizeHint().height());
    const QString shown = picker.displayedText();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("…"))) << shown.toStdString();
    EXPECT_TRUE(name.startsWith(shown.chopped(1))) << shown.toStdString();
    QComboBox plain;
    plain.addItem(shown);
    EXPECT_EQ(grabbed(picker), grabbed(plain));
    picker.setItemText(0, QStringLiteral("EQ"));
    EXPECT_EQ(picker.displayedText(), QStringLiteral("EQ"));

    ElidingLineEdit field(name);
    field.resize(120, field.sizeHint().height());
    const QString start = field.displayedText();
    EXPECT_TRUE(start.endsWith(QStringLiteral("…"))) << start.toStdString();
    EXPECT_TRUE(name.startsWith(start.chopped(1))) << start.toStdString();
    QLineEdit plainField(start);
    plainField.setCursorPosition(0);
    EXPECT_EQ(grabbed(field), grabbed(plainField));

    ElidedLabel label;
    label.setText(name);
    label.resize(90, 20);
    EXPECT_TRUE(label.displayedText().endsWith(QStringLiteral("…")));
    EXPECT_GE(label.sizeHint().width(), QFontMetrics(label.font()).horizontalAdvance(name));
}

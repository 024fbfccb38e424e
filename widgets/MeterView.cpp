#include "widgets/MeterView.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "model/Localization.h"
#include "widgets/Fonts.h"
#include "widgets/Palette.h"

namespace tessoral {

namespace {
// U+2212 minus signs: the scale reads the same in every language.
const QString kLabels[] = {QStringLiteral("\u221248"), QStringLiteral("\u221224"), QStringLiteral("\u22126"),
                           QStringLiteral("0")};
}  // namespace

MeterView::MeterView(QWidget* parent) : QWidget(parent) {
    setFont(Fonts::mono(8));
    setAccessibleName(QString::fromStdString(L("Уровень звука")));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(sizeHint().height());
}

float MeterView::fraction(float level) {
    float db = kFloorDB;
    if (level > 0.0f) db = std::max(20.0f * std::log10(level), kFloorDB);
    const float f = (db - kFloorDB) / -kFloorDB;
    if (!(f > 0.0f)) return 0.0f;
    return std::min(f, 1.0f);
}

int MeterView::scaleHeight() const { return QFontMetrics(font()).height(); }

QSize MeterView::sizeHint() const { return {180, scaleHeight() + 2 * (kSpacing + kBarHeight)}; }
QSize MeterView::minimumSizeHint() const { return {60, sizeHint().height()}; }

QRect MeterView::barRect(int channel) const {
    const int y = scaleHeight() + kSpacing + channel * (kBarHeight + kSpacing);
    return QRect(0, y, width(), kBarHeight);
}

QRectF MeterView::levelRect(int channel) const {
    const QRect bar = barRect(channel);
    const float f = fraction(channel == 0 ? left_ : right_);
    return QRectF(bar.left(), bar.top(), double(f) * bar.width(), bar.height());
}

void MeterView::setLevels(float left, float right) {
    const auto shown = [this](int ch) {
        const float x = ch == 0 ? left_ : right_;
        return std::pair<int, bool>{int(std::lround(double(fraction(x)) * barRect(ch).width() * 4)), clipping(x)};
    };
    const auto before0 = shown(0), before1 = shown(1);
    left_ = left;
    right_ = right;
    if (shown(0) != before0) update(barRect(0));
    if (shown(1) != before1) update(barRect(1));
}

void MeterView::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    const QRect dirty = event->rect();
    const int sh = scaleHeight();
    if (dirty.top() < sh) {
        // Four labels spread evenly from the leading to the trailing edge.
        p.setPen(Palette::secondaryText());
        const QFontMetrics fm(font());
        int total = 0;
        for (const auto& s : kLabels) total += fm.horizontalAdvance(s);
        const double gap = std::max(0.0, double(width() - total) / 3.0);
        double x = 0;
        for (const auto& s : kLabels) {
            p.drawText(QPointF(x, fm.ascent()), s);
            x += fm.horizontalAdvance(s) + gap;
        }
    }
    for (int ch = 0; ch < 2; ++ch) {
        const QRect bar = barRect(ch);
        if (!bar.intersects(dirty)) continue;
        p.fillRect(bar, QColor::fromRgbF(1, 1, 1, 0.05f));
        const float level = ch == 0 ? left_ : right_;
        p.fillRect(levelRect(ch), clipping(level) ? Palette::red() : Palette::accent());
    }
}

}  // namespace tessoral

#include "timeline/AmplitudeScale.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "model/Localization.h"
#include "model/NavigationMath.h"
#include "store/StudioStore.h"
#include "widgets/Fonts.h"
#include "widgets/Palette.h"
#include "widgets/ToolButton.h"

namespace tessoral {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

int wholeZoom(double zoom) { return std::isfinite(zoom) ? int(std::clamp(zoom, -1.0e6, 1.0e6)) : 1; }

}  // namespace

QString AmplitudeScale::markText(int db) {
    if (db == 0) return QStringLiteral("0");
    return QString(QChar(0x2212)) + QString::number(std::abs(db));
}

std::vector<AmplitudeScale::Mark> AmplitudeScale::marks(double zoom, double rowHeight) {
    std::vector<Mark> out;
    if (!(rowHeight > 0.0) || !std::isfinite(rowHeight)) return out;
    const double h = 0.2 * rowHeight;
    const auto levels = NavigationMath::amplitudeMarks(zoom, h, 13.0);
    for (double middle : {0.28 * rowHeight, 0.76 * rowHeight}) {
        for (const AmplitudeMark& m : levels) {
            out.push_back({markText(m.db), middle - h * m.fraction});
            out.push_back({markText(m.db), middle + h * m.fraction});
        }
    }
    return out;
}

AmplitudeScale::AmplitudeScale(StudioStore& store, QWidget* parent) : QWidget(parent), store_(store) {
    setObjectName(QStringLiteral("amplitudeScale"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedWidth(kWidth);
    connect(&store_, &StudioStore::amplitudeZoomChanged, this, &AmplitudeScale::refresh);
    refresh();
}

void AmplitudeScale::refresh() {
    zoom_ = store_.amplitudeZoom();
    setAccessibleName(qs(L("Шкала амплитуды, увеличение ×{0}", wholeZoom(zoom_))));
    update();
}

void AmplitudeScale::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const double W = width();
    const double R = height();
    QColor back = Palette::background();
    back.setAlphaF(0.78f);
    p.fillRect(QRectF(0, 0, W, R), back);
    const double h = 0.2 * R;
    const auto levels = NavigationMath::amplitudeMarks(zoom_, h, 13.0);
    const QColor tick = QColor::fromRgbF(1, 1, 1, 0.35f);
    const QFont letter = Fonts::ui(10, QFont::DemiBold);
    const QFont digits = Fonts::mono(8);
    for (int channel = 0; channel < 2; ++channel) {
        const double m = (channel == 0 ? 0.28 : 0.76) * R;
        p.setFont(letter);
        p.setPen(Palette::grey());
        p.drawText(QRectF(4, m - h - 10 - 8, 20, 16), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromLatin1(channel == 0 ? "L" : "R"));
        p.fillRect(QRectF(W - 6, std::floor(m), 6, 1), tick);
        p.setFont(digits);
        for (const AmplitudeMark& mark : levels) {
            const QString text = markText(mark.db);
            for (double y : {m - h * mark.fraction, m + h * mark.fraction}) {
                p.fillRect(QRectF(W - 5, std::floor(y), 5, 1), tick);
                p.drawText(QRectF(0, y - 6, W - 7, 12), Qt::AlignRight | Qt::AlignVCenter, text);
            }
        }
    }
    p.fillRect(QRectF(W - 1, 0, 1, R), Palette::line());
}

AmplitudeZoomControls::AmplitudeZoomControls(StudioStore& store, QWidget* parent) : QWidget(parent), store_(store) {
    setObjectName(QStringLiteral("amplitudeZoomControls"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    out_ = new ToolButton(QStringLiteral("arrow.down.right.and.arrow.up.left"), qs(L("Уменьшить амплитуду")), false,
                          Palette::primaryText(), [this] { store_.changeAmplitudeZoom(false); }, this);
    out_->setObjectName(QStringLiteral("amplitudeZoomOut"));
    label_ = new QLabel(this);
    label_->setObjectName(QStringLiteral("amplitudeZoomLabel"));
    label_->setFont(Fonts::mono(10));
    label_->setFixedWidth(36);
    label_->setAlignment(Qt::AlignCenter);
    label_->setToolTip(qs(L("Вертикальное увеличение волны")));
    in_ = new ToolButton(QStringLiteral("arrow.up.left.and.arrow.down.right"), qs(L("Увеличить амплитуду")), false,
                         Palette::primaryText(), [this] { store_.changeAmplitudeZoom(true); }, this);
    in_->setObjectName(QStringLiteral("amplitudeZoomIn"));
    row->addWidget(out_);
    row->addWidget(label_);
    row->addWidget(in_);
    connect(&store_, &StudioStore::amplitudeZoomChanged, this, &AmplitudeZoomControls::refresh);
    refresh();
}

void AmplitudeZoomControls::refresh() {
    const double z = store_.amplitudeZoom();
    label_->setText(QStringLiteral("A ×") + QString::number(wholeZoom(z)));
    out_->setEnabled(!(z <= 1.0));
    in_->setEnabled(!(z >= 16.0));
}

}  // namespace tessoral

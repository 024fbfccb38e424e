#include "panels/FrequencyAnalysis.h"

#include <QAccessible>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <exception>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "model/StudioError.h"
#include "panels/PanelSupport.h"
#include "processing/RackRenderer.h"
#include "store/StudioStore.h"
#include "widgets/Fonts.h"
#include "widgets/Palette.h"
#include "widgets/Spinner.h"
#include "widgets/ToolButton.h"

namespace tessoral {

using panels::qs;

// ---- SpectrumGraph ----

SpectrumGraph::SpectrumGraph(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("spectrumGraph"));
    setAccessibleName(qs(L("Частотный спектр от 20 Гц до 20 кГц")));
    setMinimumWidth(200);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void SpectrumGraph::setValues(std::vector<double> values) {
    if (values == values_) return;
    values_ = std::move(values);
    update();
}

QRectF SpectrumGraph::plotRect(double w, double h) {
    return QRectF(27.0, 7.0, std::max(w - 37.0, 1.0), std::max(h - 28.0, 1.0));
}

QPointF SpectrumGraph::point(const QRectF& plot, std::size_t i, std::size_t n, double value) {
    const double denominator = static_cast<double>(std::max<std::size_t>(n, 2) - 1);
    const double x = plot.left() + static_cast<double>(i) / denominator * plot.width();
    double t = 0.0;
    if (value <= 0.0) t = std::min(-value, 100.0) / 100.0;
    else if (std::isnan(value)) t = 1.0;
    return {x, plot.top() + t * plot.height()};
}

double SpectrumGraph::frequencyX(const QRectF& plot, double hertz) {
    return plot.left() + std::log10(hertz / 20.0) / 3.0 * plot.width();
}

void SpectrumGraph::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRectF plot = plotRect(width(), height());
    const QColor gridColor(255, 255, 255, 20);
    p.setFont(Fonts::mono(8));
    const QFontMetricsF fm(p.font());
    for (int level = 0; level >= -100; level -= 20) {
        const double y = plot.top() + (-level / 100.0) * plot.height();
        p.setPen(QPen(gridColor, 1.0));
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(Palette::grey());
        const QString text = QString::number(level);
        const double tw = fm.horizontalAdvance(text);
        p.drawText(QRectF(20.0 - tw, y - fm.height() / 2, tw, fm.height()), Qt::AlignRight | Qt::AlignVCenter, text);
    }
    for (const double f : {20.0, 100.0, 1000.0, 10000.0, 20000.0}) {
        const double x = frequencyX(plot, f);
        p.setPen(QPen(gridColor, 1.0));
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p.setPen(Palette::grey());
        const QString text = f >= 1000.0 ? QString::number(static_cast<int>(f / 1000.0)) + QLatin1Char('k')
                                         : QString::number(static_cast<int>(f));
        const double tw = fm.horizontalAdvance(text);
        p.drawText(QRectF(x - tw / 2, plot.bottom() + 12 - fm.height() / 2, tw, fm.height()), Qt::AlignCenter, text);
    }
    const std::size_t n = values_.size();
    if (n == 0) return;
    QPainterPath path(point(plot, 0, n, values_[0]));
    for (std::size_t i = 1; i < n; ++i) path.lineTo(point(plot, i, n, values_[i]));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Palette::accent(), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

// ---- FrequencyAnalysisPanel ----

AmplitudeReport FrequencyAnalysisPanel::analyze(const Track& clip, FrameRange frames) {
    const AudioData rendered = RackRenderer::render(clip);
    return AmplitudeReport::analyze(rendered.slice(frames));
}

FrequencyAnalysisPanel::FrequencyAnalysisPanel(StudioStore& store, TransportSignals* transport, QWidget* parent)
    : FrequencyAnalysisPanel(store, &FrequencyAnalysisPanel::analyze, transport, parent) {}

FrequencyAnalysisPanel::FrequencyAnalysisPanel(StudioStore& store, Analyzer analyzer, TransportSignals* transport,
                                               QWidget* parent)
    : QWidget(parent), store_(store), analyzer_(std::move(analyzer)) {
    setObjectName(QStringLiteral("frequencyAnalysisPanel"));
    setFixedHeight(kHeight);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Palette::panel());
    setPalette(pal);
    work_ = std::make_unique<panels::PanelWork>(this, *store_.services().tasks);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QWidget(this);
    header->setFixedHeight(30);
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(12, 0, 12, 0);
    auto* title = new QLabel(qs(L("ЧАСТОТНЫЙ АНАЛИЗ")), header);
    title->setFont(Fonts::ui(10, QFont::DemiBold));
    QPalette secondary = title->palette();
    secondary.setColor(QPalette::WindowText, Palette::secondaryText());
    title->setPalette(secondary);
    headerRow->addWidget(title);
    scope_ = new QLabel(header);
    scope_->setObjectName(QStringLiteral("analysisScope"));
    scope_->setFont(Fonts::ui(10));
    QPalette tertiary = scope_->palette();
    tertiary.setColor(QPalette::WindowText, Palette::tertiaryText());
    scope_->setPalette(tertiary);
    headerRow->addWidget(scope_);
    headerRow->addStretch(1);
    spinner_ = new Spinner(10, header);
    spinner_->setVisible(false);
    headerRow->addWidget(spinner_);
    // The click must not delete the panel under its own button: the flag is reset afterwards.
    QPointer<StudioStore> storeRef(&store_);
    close_ = new ToolButton(QStringLiteral("xmark"), qs(L("Закрыть анализ")), false, Palette::primaryText(),
                            [storeRef] {
                                QMetaObject::invokeMethod(
                                    storeRef.data(), [storeRef] { if (storeRef) storeRef->setShowAnalysis(false); },
                                    Qt::QueuedConnection);
                            },
                            header);
    close_->setObjectName(QStringLiteral("closeAnalysis"));
    headerRow->addWidget(close_);
    column->addWidget(header);

    auto* content = new QWidget(this);
    auto* contentRow = new QHBoxLayout(content);
    contentRow->setContentsMargins(12, 0, 12, 12);
    contentRow->setSpacing(12);
    graph_ = new SpectrumGraph(content);
    contentRow->addWidget(graph_, 1);
    auto* readouts = new QWidget(content);
    readouts->setFixedWidth(kReadoutWidth);
    auto* readoutColumn = new QVBoxLayout(readouts);
    readoutColumn->setContentsMargins(0, 0, 0, 0);
    readoutColumn->setSpacing(0);
    metrics_ = new QWidget(readouts);
    auto* metricColumn = new QVBoxLayout(metrics_);
    metricColumn->setContentsMargins(0, 0, 0, 0);
    metricColumn->setSpacing(7);
    const QString names[5] = {qs(L("Пик")), QStringLiteral("RMS"), qs(L("Громкость")), QStringLiteral("DC"),
                              qs(L("Клиппинг"))};
    for (int i = 0; i < 5; ++i) {
        auto* row = new QHBoxLayout;
        labels_[i] = new QLabel(names[i], metrics_);
        labels_[i]->setFont(Fonts::ui(10));
        labels_[i]->setPalette(secondary);
        values_[i] = new QLabel(metrics_);
        values_[i]->setFont(Fonts::mono(10));
        values_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row->addWidget(labels_[i]);
        row->addStretch(1);
        row->addWidget(values_[i]);
        metricColumn->addLayout(row);
    }
    readoutColumn->addWidget(metrics_);
    message_ = new QLabel(readouts);
    message_->setObjectName(QStringLiteral("analysisMessage"));
    message_->setFont(Fonts::ui(11));
    message_->setPalette(secondary);
    message_->setWordWrap(true);
    readoutColumn->addWidget(message_);
    readoutColumn->addStretch(1);
    contentRow->addWidget(readouts);
    column->addWidget(content, 1);

    connect(&store_, &StudioStore::sessionChanged, this, &FrequencyAnalysisPanel::keyMaybeChanged);
    connect(&store_, &StudioStore::selectedIDChanged, this, &FrequencyAnalysisPanel::keyMaybeChanged);
    connect(&store_, &StudioStore::selectionChanged, this, &FrequencyAnalysisPanel::keyMaybeChanged);
    connect(&store_, &StudioStore::selectionChanged, this, &FrequencyAnalysisPanel::refresh);
    panels::followLocked(this, store_, transport);
    refresh();
    // The first analysis starts with the panel.
    restart();
}

FrequencyAnalysisPanel::~FrequencyAnalysisPanel() = default;

std::optional<AnalysisKey> FrequencyAnalysisPanel::keyOf(const StudioStore& store) {
    const std::optional<std::size_t> index = store.selectedIndex();
    if (!index) return std::nullopt;
    const Track& t = store.session().tracks[*index];
    return AnalysisKey{t.revision, t.rack, t.rackBypassed, t.framesIn(store.selection())};
}

void FrequencyAnalysisPanel::keyMaybeChanged() {
    std::optional<AnalysisKey> key = keyOf(store_);
    if (keyKnown_ && key == key_) return;
    key_ = std::move(key);
    restart();
}

void FrequencyAnalysisPanel::restart() {
    keyKnown_ = true;
    if (!key_) key_ = keyOf(store_);
    ++generation_;
    // The running analysis is cancelled: its result, when it comes, is dropped.
    work_->invalidate();
    wait_ = store_.services().scheduler->singleShot(kDebounceSeconds, [this] {
        // Destroying the handle from inside its own call is allowed.
        wait_.reset();
        startAnalysis();
    });
}

void FrequencyAnalysisPanel::startAnalysis() {
    const std::optional<std::size_t> index = store_.selectedIndex();
    if (!index) {
        finish(std::nullopt, std::nullopt);
        return;
    }
    Track clip = store_.session().tracks[*index];
    const FrameRange frames = clip.framesIn(store_.selection());
    if (frames.empty()) {
        finish(std::nullopt, std::nullopt);
        return;
    }
    calculating_ = true;
    failure_.reset();
    refresh();
    work_->run([analyzer = analyzer_, clip = std::move(clip), frames] { return analyzer(clip, frames); },
               [this](TaskResult<AmplitudeReport> result) {
                   if (result.ok()) {
                       finish(std::move(result.value()), std::nullopt);
                       return;
                   }
                   QString message;
                   try {
                       std::rethrow_exception(result.error());
                   } catch (const std::exception& e) {
                       message = QString::fromUtf8(e.what());
                   } catch (...) {
                       message = qs(L("Неизвестная ошибка"));
                   }
                   finish(std::nullopt, message);
               });
}

void FrequencyAnalysisPanel::finish(std::optional<AmplitudeReport> report, std::optional<QString> failure) {
    report_ = std::move(report);
    failure_ = std::move(failure);
    calculating_ = false;
    refresh();
}

QString FrequencyAnalysisPanel::metricValues(const AmplitudeReport& r, int row) {
    switch (row) {
        case 0: return qs(num::fixed(r.peak, 1) + " dBFS");
        case 1: return qs(num::fixed(r.rms, 1) + " dBFS");
        case 2: return r.lufs ? qs(num::fixed(*r.lufs, 1) + " LUFS") : QStringLiteral("\u2212\u221E LUFS");
        case 3: return qs(num::fixed(r.dcOffset * 100.0, 3) + "%");
        case 4: return qs(num::integer(r.clippedSamples));
        default: return {};
    }
}

QStringList FrequencyAnalysisPanel::readoutTexts() const {
    QStringList out;
    if (!report_) return out;
    for (int i = 0; i < 5; ++i) out << labels_[i]->text() + QStringLiteral(": ") + values_[i]->text();
    return out;
}

void FrequencyAnalysisPanel::refresh() {
    const QString scope = store_.selection() ? qs(L("Выделение")) : qs(L("Весь клип"));
    if (scope_->text() != scope) scope_->setText(scope);
    spinner_->setVisible(calculating_);
    graph_->setValues(report_ ? report_->spectrum : std::vector<double>{});
    metrics_->setVisible(report_.has_value());
    message_->setVisible(!report_);
    if (report_) {
        for (int i = 0; i < 5; ++i) values_[i]->setText(metricValues(*report_, i));
    } else {
        message_->setText(failure_ ? *failure_ : qs(L("Нет анализа")));
    }
}

}  // namespace tessoral

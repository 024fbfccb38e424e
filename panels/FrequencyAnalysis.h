#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "model/AudioData.h"
#include "model/EffectSlot.h"
#include "model/Track.h"
#include "model/Uuid.h"
#include "processing/AmplitudeReport.h"

class QLabel;

namespace tessoral {

class SingleShot;
class Spinner;
class StudioStore;
class ToolButton;
class TransportSignals;

namespace panels {
class PanelWork;
}

// The spectrum of an analysis: level grid 0…−100 dB, frequency grid 20 Hz…20 kHz on a logarithmic
// axis, and the curve in the accent colour.
class SpectrumGraph : public QWidget {
    Q_OBJECT
public:
    explicit SpectrumGraph(QWidget* parent = nullptr);

    const std::vector<double>& values() const { return values_; }
    void setValues(std::vector<double> values);

    // The plot inside a canvas w × h: x 27, y 7, max(w − 37, 1) × max(h − 28, 1).
    static QRectF plotRect(double w, double h);
    // Point i of n values over the plot (values above 0 dB on the top edge, below −100 on the bottom).
    static QPointF point(const QRectF& plot, std::size_t i, std::size_t n, double value);
    // x of a frequency (20 Hz at the left edge, 20 kHz at the right).
    static double frequencyX(const QRectF& plot, double hertz);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<double> values_;
};

// What decides whether the analysis must run again: the clip's audio revision, its rack, the
// bypass switch and the analysed frame range. None: no clip is selected.
struct AnalysisKey {
    Uuid revision;
    std::vector<EffectSlot> rack;
    bool bypassed = false;
    FrameRange frames;
    friend bool operator==(const AnalysisKey&, const AnalysisKey&) = default;
};

// The strip under the editor, 196 high: the selected clip, or the part of it under the time
// selection, measured after its rack (peak, RMS, loudness, DC offset, clipped samples) beside its
// spectrum. A change of what it measures restarts a 180 ms wait; the render and analysis then run on
// a worker over a copy of the clip, and a result that is no longer current is dropped.
class FrequencyAnalysisPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 196;
    static constexpr double kDebounceSeconds = 0.18;
    static constexpr int kReadoutWidth = 164;

    // Renders the clip through its rack and analyses `frames` of the result (on a worker).
    using Analyzer = std::function<AmplitudeReport(const Track& clip, FrameRange frames)>;
    static AmplitudeReport analyze(const Track& clip, FrameRange frames);

    // Dimmed as a whole while the store is locked (`transport` tells when a recording runs; may be null).
    explicit FrequencyAnalysisPanel(StudioStore& store, TransportSignals* transport = nullptr,
                                    QWidget* parent = nullptr);
    FrequencyAnalysisPanel(StudioStore& store, Analyzer analyzer, TransportSignals* transport = nullptr,
                           QWidget* parent = nullptr);
    ~FrequencyAnalysisPanel() override;

    // The key of the store's current selection (none without a selected clip).
    static std::optional<AnalysisKey> keyOf(const StudioStore& store);

    const std::optional<AmplitudeReport>& report() const { return report_; }
    bool calculating() const { return calculating_; }
    const std::optional<QString>& failure() const { return failure_; }
    // Times the key changed since the panel was built (the first analysis included).
    std::uint64_t generation() const { return generation_; }

    // The texts of the five readout rows, "label: value" in order (empty without a report).
    QStringList readoutTexts() const;
    QLabel* scopeLabel() const { return scope_; }
    QLabel* messageLabel() const { return message_; }
    Spinner* spinner() const { return spinner_; }
    ToolButton* closeButton() const { return close_; }
    SpectrumGraph* graph() const { return graph_; }

    // "%.1f dBFS" and the others, as the readout rows write them.
    static QString metricValues(const AmplitudeReport& report, int row);

private:
    void keyMaybeChanged();
    void restart();
    void startAnalysis();
    void finish(std::optional<AmplitudeReport> report, std::optional<QString> failure);
    void refresh();

    StudioStore& store_;
    Analyzer analyzer_;
    std::optional<AnalysisKey> key_;
    bool keyKnown_ = false;
    std::uint64_t generation_ = 0;
    std::unique_ptr<SingleShot> wait_;
    std::unique_ptr<panels::PanelWork> work_;
    std::optional<AmplitudeReport> report_;
    bool calculating_ = false;
    std::optional<QString> failure_;

    QLabel* scope_ = nullptr;
    Spinner* spinner_ = nullptr;
    ToolButton* close_ = nullptr;
    SpectrumGraph* graph_ = nullptr;
    QWidget* metrics_ = nullptr;
    QLabel* values_[5] = {};
    QLabel* labels_[5] = {};
    QLabel* message_ = nullptr;
};

}  // namespace tessoral

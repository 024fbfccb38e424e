#pragma once

#include <QPixmap>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/EffectParameters.h"
#include "model/EffectPreset.h"

namespace tessoral {

// The geometry and the drag rule of the equaliser curve, free of any widget.
namespace EQCurve {

// One draggable point: a band of the parametric equaliser or a slider of the graphic one.
struct Node {
    std::string id;
    std::string title;
    double frequency = 1000.0;  // Hz
    double gain = 0.0;          // dB
    bool enabled = true;
    std::optional<std::string> frequencyKey;  // written by a horizontal drag
    std::optional<std::string> gainKey;       // written by a vertical drag
    std::optional<std::string> qKey;          // written by a drag with the Q modifier
    std::optional<std::string> onKey;         // set to 1 by any drag of the point
    friend bool operator==(const Node&, const Node&) = default;
};

// What the drag remembers of its point when it picks it.
struct Origin {
    double frequency = 0.0;
    double gain = 0.0;
    double q = 1.0;
};

// The points of the preset for a parameter dictionary (missing keys read as defaults).
std::vector<Node> nodes(EffectPreset preset, const EffectParams& params);

// 20 Hz at the left edge, 20 kHz at the right, logarithmic.
double x(double frequency, double width);
// +18 dB at the top, −18 dB at the bottom.
double y(double gain, double height);

// The index of the point nearest to (px, py) when it lies closer than 16 px (the earlier point wins
// a tie); none otherwise.
std::optional<std::size_t> pick(const std::vector<Node>& nodes, double px, double py, double width, double height);

// Where a drag picks `node` from: its frequency and gain, and its Q in `params` (1 without a Q key).
Origin origin(EffectPreset preset, const Node& node, const EffectParams& params);

// One change of a drag: the stored dictionary with the dragged point moved by (dx, dy) from its
// origin (or its Q scaled when `qModifier` is held), cleaned for the preset.
EffectParams dragStep(EffectPreset preset, const EffectParams& params, const Node& node, const Origin& origin,
                      double dx, double dy, bool qModifier, double width, double height);

}  // namespace EQCurve

// The graphical editor of the two equalisers: a grid, the response of the parameters and one
// draggable point per band. A drag picks the point nearest to its start (within 16 px), calls
// `begin` once, redraws from a pending dictionary while it moves, and hands the whole dictionary to
// `commit` once when released. Alt or Shift held during a move changes the band's Q instead.
class EQCurveView : public QWidget {
    Q_OBJECT
public:
    EQCurveView(EffectPreset preset, EffectParams params, std::function<void()> begin,
                std::function<void(const EffectParams&)> commit, QWidget* parent = nullptr);

    // The stored dictionary; a drag in progress keeps its own pending one.
    void setParams(const EffectParams& params);
    const EffectParams& params() const { return params_; }
    // The selected band's id ("p2", "g3"); the editor's band picker follows `selectedBandChanged`.
    void setSelectedBand(const std::string& id);
    const std::string& selectedBand() const { return selected_; }
    const std::optional<EffectParams>& draft() const { return draft_; }
    EffectPreset preset() const { return preset_; }

    // Paints the whole view into `painter` at the view's size (the paint event's routine).
    void render(QPainter& painter);
    // The static layer: frame, grid lines and their labels for a canvas of w × h.
    static void paintGrid(QPainter& painter, double w, double h);

Q_SIGNALS:
    void selectedBandChanged(const QString& id);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void finishDrag();
    double canvasWidth() const { return width(); }
    double canvasHeight() const { return height(); }

    EffectPreset preset_;
    EffectParams params_;
    std::function<void()> begin_;
    std::function<void(const EffectParams&)> commit_;
    std::string selected_;
    std::optional<EffectParams> draft_;
    std::optional<EQCurve::Node> dragging_;
    EQCurve::Origin origin_;
    std::optional<QPointF> pressAt_;
    bool moved_ = false;
    QPixmap grid_;  // the static grid and its labels at the current size
    std::vector<EffectParameter> parameters_;
};

}  // namespace tessoral

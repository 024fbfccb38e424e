#include "panels/DiagnosticsPanel.h"

#include <QHBoxLayout>
#include <QHelpEvent>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "model/Track.h"
#include "panels/PanelSupport.h"
#include "panels/ProcessingSheetStyle.h"
#include "store/DiagnosticsState.h"
#include "store/StudioStore.h"
#include "widgets/Icons.h"
#include "widgets/SegmentedControl.h"
#include "widgets/ValueSlider.h"

namespace tessoral::panels {

namespace {

constexpr double kFrameRate = 48000.0;

QString sText(double seconds) { return qs(L("{0} с", num::fixed(seconds, 2))); }
QString percentText(double share) { return qs(num::fixed(share * 100.0, 0) + "%"); }
QString dbfsText(double db, int decimals) { return qs(num::fixed(db, decimals) + " dBFS"); }
QString dbText(double db) { return qs(num::fixed(db, 1) + " dB"); }
QString minRunText(int count) {
    return qs(LP(count, "Мин. длина: {0} отсч.|Мин. длина: {0} отсч.|Мин. длина: {0} отсч."));
}

QWidget* group(QWidget* parent) {
    auto* w = new QWidget(parent);
    auto* column = new QVBoxLayout(w);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    return w;
}

// The first clip of the project with the id, if any.
const Track* clipWithID(const Session& session, const std::optional<Uuid>& id) {
    if (!id) return nullptr;
    for (const Track& clip : session.tracks)
        if (clip.id == *id) return &clip;
    return nullptr;
}

}  // namespace

// ---- FindingsModel ----

FindingsModel::FindingsModel(QObject* parent) : QAbstractListModel(parent) {}

void FindingsModel::setFindings(const std::vector<DiagnosticFinding>& findings) {
    if (findings == findings_) return;
    beginResetModel();
    findings_ = findings;
    endResetModel();
    ++resets_;
}

void FindingsModel::setClipStart(double seconds) {
    if (seconds == clipStart_) return;
    clipStart_ = seconds;
    if (!findings_.empty()) Q_EMIT dataChanged(index(0), index(rowCount() - 1), {PositionRole});
}

int FindingsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(findings_.size());
}

QVariant FindingsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) return {};
    const DiagnosticFinding& f = findings_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
        case PositionRole: return qs(timeLabel(clipStart_ + static_cast<double>(f.range.lower) / kFrameRate));
        case LengthRole: return DiagnosticsPanel::lengthLabel(f.range.upper - f.range.lower);
        case SeverityRole: return f.severity;
        default: return {};
    }
}

// ---- FindingDelegate ----

QRect FindingDelegate::barRect(const QRect& row) {
    return {row.right() - 6 - kBarWidth + 1, row.center().y() - kBarHeight / 2 + 1, kBarWidth, kBarHeight};
}

QSize FindingDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const { return {200, kRowHeight}; }

void FindingDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    p->save();
    const QRect r = option.rect;
    if (option.state & QStyle::State_Selected) {
        QColor fill = Palette::accent();
        fill.setAlphaF(0.28f);
        p->setRenderHint(QPainter::Antialiasing, true);
        p->setPen(Qt::NoPen);
        p->setBrush(fill);
        p->drawRoundedRect(QRectF(r).adjusted(2, 1, -2, -1), 4, 4);
    }
    p->setRenderHint(QPainter::Antialiasing, false);
    const QFont font = Fonts::mono(10);
    p->setFont(font);
    const QFontMetrics fm(font);
    const QString position = index.data(FindingsModel::PositionRole).toString();
    const QString length = index.data(FindingsModel::LengthRole).toString();
    int x = r.left() + 6;
    p->setPen(Palette::primaryText());
    p->drawText(QRect(x, r.top(), fm.horizontalAdvance(position) + 1, r.height()), Qt::AlignVCenter | Qt::AlignLeft,
                position);
    x += fm.horizontalAdvance(position) + 8;
    const QRect bar = barRect(r);
    p->setPen(Palette::secondaryText());
    const int lengthWidth = std::max(0, bar.left() - 2 - x);
    p->drawText(QRect(x, r.top(), lengthWidth, r.height()), Qt::AlignVCenter | Qt::AlignLeft,
                fm.elidedText(length, Qt::ElideRight, lengthWidth));

    const double severity = index.data(FindingsModel::SeverityRole).toDouble();
    p->setRenderHint(QPainter::Antialiasing, true);
    p->setPen(Qt::NoPen);
    p->setBrush(QColor(255, 255, 255, 20));  // white at 0.08
    p->drawRoundedRect(QRectF(bar), kBarHeight / 2.0, kBarHeight / 2.0);
    QRectF value(bar);
    value.setWidth(bar.width() * DiagnosticsPanel::severityShare(severity));
    p->setBrush(DiagnosticsPanel::severityColor(severity));
    p->drawRoundedRect(value, kBarHeight / 2.0, kBarHeight / 2.0);
    p->restore();
}

bool FindingDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                const QModelIndex& index) {
    if (event && event->type() == QEvent::ToolTip && barRect(option.rect).adjusted(-2, -6, 2, 6).contains(event->pos())) {
        QToolTip::showText(event->globalPos(), qs(L("Выраженность")), view);
        return true;
    }
    QToolTip::hideText();
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

// ---- DiagnosticsPanel ----

QString DiagnosticsPanel::lengthLabel(std::int64_t frames) {
    const double ms = static_cast<double>(frames) / kFrameRate * 1000.0;
    if (ms < 10.0) return qs(L("{0} мс", num::fixed(ms, 2)));
    if (ms < 1000.0) return qs(L("{0} мс", num::fixed(ms, 0)));
    return qs(L("{0} с", num::fixed(ms / 1000.0, 2)));
}

QColor DiagnosticsPanel::severityColor(double severity) {
    if (severity > 0.66) return Palette::red();
    if (severity > 0.33) return orange();
    return Palette::accent();
}

double DiagnosticsPanel::severityShare(double severity) {
    if (!std::isfinite(severity)) return 0.08;
    return std::clamp(severity, 0.08, 1.0);
}

DiagnosticsPanel::DiagnosticsPanel(StudioStore& store, TransportSignals* transport, QWidget* parent)
    : QWidget(parent), store_(store), transport_(transport), seenSelected_(store.diagnostics().selected) {
    setObjectName(QStringLiteral("diagnosticsPanel"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    setAutoFillBackground(true);
    {
        // The panel colour at 0.65 over the window background.
        QColor bg = Palette::panel();
        const QColor under = Palette::background();
        bg = QColor::fromRgbF(under.redF() + (bg.redF() - under.redF()) * 0.65f,
                              under.greenF() + (bg.greenF() - under.greenF()) * 0.65f,
                              under.blueF() + (bg.blueF() - under.blueF()) * 0.65f);
        QPalette pal = palette();
        pal.setColor(QPalette::Window, bg);
        setPalette(pal);
    }

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(12);

    column->addWidget(style::label(qs(L("ДИАГНОСТИКА")), Fonts::ui(10, QFont::DemiBold), Palette::secondaryText(), this));

    QStringList kinds;
    for (DiagnosticKind k : allCases<DiagnosticKind>()) kinds << qs(title(k));
    kind_ = new SegmentedControl(kinds, this);
    kind_->setObjectName(QStringLiteral("detector"));
    kind_->setAccessibleName(qs(L("Детектор")));
    connect(kind_, &SegmentedControl::activated, this, [this](int i) {
        const auto cases = allCases<DiagnosticKind>();
        if (i < 0 || i >= static_cast<int>(cases.size())) return;
        if (store_.diagnostics().kind == cases[static_cast<std::size_t>(i)]) return;
        DiagnosticsState d = store_.diagnostics();
        d.kind = cases[static_cast<std::size_t>(i)];
        store_.setDiagnostics(std::move(d));
    });
    column->addWidget(kind_);

    buildParameters();
    column->addWidget(clicks_);
    column->addWidget(clipping_);
    column->addWidget(silence_);

    scope_ = style::label({}, Fonts::ui(10), Palette::secondaryText(), this);
    scope_->setObjectName(QStringLiteral("scope"));
    scope_->setWordWrap(true);
    scope_->setMaximumHeight(QFontMetrics(scope_->font()).lineSpacing() * 2 + 2);
    column->addWidget(scope_);

    scan_ = new QPushButton(Icons::icon(QStringLiteral("waveform.badge.magnifyingglass"), Palette::background(), 14),
                            qs(L("Сканировать")), this);
    scan_->setObjectName(QStringLiteral("scan"));
    scan_->setToolTip(qs(L("Найти проблемы в выбранном клипе или в выделении")));
    scan_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    style::makeProminent(scan_);
    connect(scan_, &QPushButton::clicked, this, [this] { store_.scanDiagnostics(); });
    column->addWidget(scan_);

    column->addWidget(style::divider(this));

    auto* header = new QHBoxLayout;
    summary_ = style::label({}, Fonts::ui(11, QFont::Medium), Palette::secondaryText(), this);
    summary_->setObjectName(QStringLiteral("summary"));
    header->addWidget(summary_);
    header->addStretch(1);
    clipName_ = style::label({}, Fonts::ui(10), Palette::secondaryText(), this);
    clipName_->setObjectName(QStringLiteral("scannedClip"));
    header->addWidget(clipName_);
    column->addLayout(header);

    model_ = new FindingsModel(this);
    list_ = new QListView(this);
    list_->setObjectName(QStringLiteral("findings"));
    list_->setModel(model_);
    list_->setItemDelegate(new FindingDelegate(list_));
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setUniformItemSizes(true);
    list_->setMinimumHeight(120);
    list_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    {
        QColor bg = Palette::background();
        list_->setStyleSheet(QStringLiteral("QListView { background: rgba(%1, %2, %3, 0.4); border: none; "
                                            "border-radius: 5px; }")
                                 .arg(bg.red())
                                 .arg(bg.green())
                                 .arg(bg.blue()));
    }
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &DiagnosticsPanel::listSelectionChanged);
    column->addWidget(list_, 1);

    auto* fixes = new QVBoxLayout;
    fixes->setSpacing(6);
    fixSelected_ = new QPushButton(qs(L("Исправить выбранное")), this);
    fixSelected_->setObjectName(QStringLiteral("fixSelected"));
    fixAll_ = new QPushButton(qs(L("Исправить всё")), this);
    fixAll_->setObjectName(QStringLiteral("fixAll"));
    for (QPushButton* b : {fixSelected_, fixAll_}) {
        b->setFont(Fonts::ui(11));
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        fixes->addWidget(b);
    }
    connect(fixSelected_, &QPushButton::clicked, this, [this] { store_.fixDiagnostics(false); });
    connect(fixAll_, &QPushButton::clicked, this, [this] { store_.fixDiagnostics(true); });
    column->addLayout(fixes);

    connect(&store_, &StudioStore::diagnosticsChanged, this, &DiagnosticsPanel::refresh);
    for (auto signal : {&StudioStore::selectedIDChanged, &StudioStore::selectionChanged, &StudioStore::sessionChanged})
        connect(&store_, signal, this, &DiagnosticsPanel::refreshScope);
    followLocked(this, store_, transport_);
    refresh();
}

void DiagnosticsPanel::buildParameters() {
    const DiagnosticSettings& s = store_.diagnostics().settings;
    auto noBegin = [] {};

    clicks_ = group(this);
    sensitivity_ = new ValueSlider(qs(L("Чувствительность")), s.clickSensitivity, 0.0, 1.0, percentText(s.clickSensitivity),
                                   false, noBegin,
                                   [this](double v) { writeSettings([v](DiagnosticSettings& x) { x.clickSensitivity = v; }); },
                                   clicks_);
    sensitivity_->setObjectName(QStringLiteral("clickSensitivity"));
    sensitivity_->speakAs(100.0);  // in the percent shown
    clicks_->layout()->addWidget(sensitivity_);
    clicks_->layout()->addWidget(
        style::note(qs(L("Щелчки восстанавливаются интерполяцией по соседним участкам (линейное предсказание).")), 10,
                    clicks_));

    clipping_ = group(this);
    clipThreshold_ = new ValueSlider(qs(L("Порог")), s.clipThresholdDB, -6.0, 0.0, dbfsText(s.clipThresholdDB, 1), false,
                                     noBegin,
                                     [this](double v) { writeSettings([v](DiagnosticSettings& x) { x.clipThresholdDB = v; }); },
                                     clipping_);
    clipThreshold_->setObjectName(QStringLiteral("clipThreshold"));
    clipping_->layout()->addWidget(clipThreshold_);
    {
        auto* row = new QWidget(clipping_);
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(4);
        const QString help = qs(L("Сколько отсчётов подряд на пороге считается клиппингом"));
        minRunLabel_ = style::label({}, Fonts::ui(11), Palette::primaryText(), row);
        minRunLabel_->setObjectName(QStringLiteral("minRun"));
        minRunLabel_->setToolTip(help);
        line->addWidget(minRunLabel_);
        minRunDown_ = new QToolButton(row);
        minRunDown_->setArrowType(Qt::DownArrow);
        minRunDown_->setObjectName(QStringLiteral("minRunDown"));
        minRunUp_ = new QToolButton(row);
        minRunUp_->setArrowType(Qt::UpArrow);
        minRunUp_->setObjectName(QStringLiteral("minRunUp"));
        for (QToolButton* b : {minRunDown_, minRunUp_}) {
            b->setToolTip(help);
            b->setAutoRaise(true);
            b->setFixedSize(18, 16);
        }
        line->addWidget(minRunDown_);
        line->addWidget(minRunUp_);
        line->addStretch(1);
        auto step = [this](int by) {
            const int now = store_.diagnostics().settings.clipMinRun;
            const int next = std::clamp(now + by, 1, 64);
            if (next != now) writeSettings([next](DiagnosticSettings& x) { x.clipMinRun = next; });
        };
        connect(minRunDown_, &QToolButton::clicked, this, [step] { step(-1); });
        connect(minRunUp_, &QToolButton::clicked, this, [step] { step(+1); });
        clipping_->layout()->addWidget(row);
    }
    headroom_ = new ValueSlider(qs(L("Снизить громкость")), s.declipHeadroomDB, -12.0, 0.0, dbText(s.declipHeadroomDB),
                                false, noBegin,
                                [this](double v) { writeSettings([v](DiagnosticSettings& x) { x.declipHeadroomDB = v; }); },
                                clipping_);
    headroom_->setObjectName(QStringLiteral("declipHeadroom"));
    headroom_->setToolTip(qs(L("Запас по уровню: восстановленные пики выше 0 dBFS")));
    clipping_->layout()->addWidget(headroom_);

    silence_ = group(this);
    silenceThreshold_ = new ValueSlider(
        qs(L("Порог")), s.silenceThresholdDB, -90.0, -20.0, dbfsText(s.silenceThresholdDB, 0), false, noBegin,
        [this](double v) { writeSettings([v](DiagnosticSettings& x) { x.silenceThresholdDB = v; }); }, silence_);
    silenceThreshold_->setObjectName(QStringLiteral("silenceThreshold"));
    silence_->layout()->addWidget(silenceThreshold_);
    silenceMin_ = new ValueSlider(
        qs(L("Мин. длительность")), s.silenceMinDuration, 0.1, 5.0, sText(s.silenceMinDuration), false, noBegin,
        [this](double v) { writeSettings([v](DiagnosticSettings& x) { x.silenceMinDuration = v; }); }, silence_);
    silenceMin_->setObjectName(QStringLiteral("silenceMinDuration"));
    silence_->layout()->addWidget(silenceMin_);
    silenceAction_ = new SegmentedControl({qs(L("Удалить тишину")), qs(L("Заглушить"))}, silence_);
    silenceAction_->setObjectName(QStringLiteral("silenceAction"));
    silenceAction_->setAccessibleName(qs(L("Действие")));
    connect(silenceAction_, &SegmentedControl::activated, this, [this](int i) {
        const bool remove = i == 0;
        if (store_.diagnostics().settings.silenceDelete != remove)
            writeSettings([remove](DiagnosticSettings& x) { x.silenceDelete = remove; });
    });
    silence_->layout()->addWidget(silenceAction_);
    keepPause_ = new ValueSlider(
        qs(L("Оставить паузу")), s.silenceKeepPause, 0.0, 2.0, sText(s.silenceKeepPause), false, noBegin,
        [this](double v) { writeSettings([v](DiagnosticSettings& x) { x.silenceKeepPause = v; }); }, silence_);
    keepPause_->setObjectName(QStringLiteral("silenceKeepPause"));
    keepPause_->setToolTip(qs(L("Короткая пауза, которая остаётся на месте удалённой тишины")));
    silence_->layout()->addWidget(keepPause_);
}

void DiagnosticsPanel::writeSettings(const std::function<void(DiagnosticSettings&)>& change) {
    DiagnosticsState d = store_.diagnostics();
    change(d.settings);
    if (d.settings == store_.diagnostics().settings) return;
    store_.setDiagnostics(std::move(d));
}

void DiagnosticsPanel::refresh() {
    const DiagnosticsState& d = store_.diagnostics();
    const DiagnosticSettings& s = d.settings;
    const auto kinds = allCases<DiagnosticKind>();
    const int kindIndex = static_cast<int>(std::find(kinds.begin(), kinds.end(), d.kind) - kinds.begin());
    kind_->setCurrentIndex(kindIndex);
    clicks_->setVisible(d.kind == DiagnosticKind::clicks);
    clipping_->setVisible(d.kind == DiagnosticKind::clipping);
    silence_->setVisible(d.kind == DiagnosticKind::silence);

    sensitivity_->setValue(s.clickSensitivity);
    sensitivity_->setDisplay(percentText(s.clickSensitivity));
    clipThreshold_->setValue(s.clipThresholdDB);
    clipThreshold_->setDisplay(dbfsText(s.clipThresholdDB, 1));
    headroom_->setValue(s.declipHeadroomDB);
    headroom_->setDisplay(dbText(s.declipHeadroomDB));
    minRunLabel_->setText(minRunText(s.clipMinRun));
    minRunDown_->setEnabled(s.clipMinRun > 1);
    minRunUp_->setEnabled(s.clipMinRun < 64);
    silenceThreshold_->setValue(s.silenceThresholdDB);
    silenceThreshold_->setDisplay(dbfsText(s.silenceThresholdDB, 0));
    silenceMin_->setValue(s.silenceMinDuration);
    silenceMin_->setDisplay(sText(s.silenceMinDuration));
    silenceAction_->setCurrentIndex(s.silenceDelete ? 0 : 1);
    keepPause_->setValue(s.silenceKeepPause);
    keepPause_->setDisplay(sText(s.silenceKeepPause));
    keepPause_->setVisible(s.silenceDelete);

    refreshFindings();
    refreshScope();
}

void DiagnosticsPanel::refreshScope() {
    const auto index = store_.selectedIndex();
    QString text;
    if (!index) text = qs(L("Клип не выбран"));
    else if (store_.rescansPreviousRange()) text = qs(L("Область: как при прошлом сканировании"));
    else if (!store_.selection()) text = qs(L("Область: весь клип «{0}»", store_.session().tracks[*index].name));
    else text = qs(L("Область: выделенный фрагмент"));
    if (scope_->text() != text) scope_->setText(text);
    scan_->setEnabled(index.has_value());

    // The scanned clip is looked up afresh: its start is the rows' origin, its name stands in the
    // header while another clip (or none) is selected.
    const DiagnosticsState& d = store_.diagnostics();
    const Track* scanned = clipWithID(store_.session(), d.trackID);
    model_->setClipStart(scanned ? scanned->start : 0.0);
    const bool showName = scanned && (!store_.selectedID() || *store_.selectedID() != scanned->id);
    clipName_->setText(showName ? qs("\u00AB" + scanned->name + "\u00BB") : QString());
    clipName_->setVisible(showName);
}

void DiagnosticsPanel::refreshFindings() {
    const DiagnosticsState& d = store_.diagnostics();
    model_->setFindings(d.findings);
    summary_->setText(d.findings.empty()
                          ? qs(L("Находок нет"))
                          : qs(title(d.scannedKind) + ": " + num::integer(static_cast<long long>(d.findings.size()))));
    fixSelected_->setEnabled(!d.selected.empty());
    fixAll_->setEnabled(!d.findings.empty());

    // The list takes the store's selection without reporting it back.
    QItemSelection wanted;
    const auto& findings = model_->findings();
    int runStart = -1;
    for (int row = 0; row <= static_cast<int>(findings.size()); ++row) {
        const bool in = row < static_cast<int>(findings.size()) && d.selected.count(findings[static_cast<std::size_t>(row)].id);
        if (in && runStart < 0) runStart = row;
        if (!in && runStart >= 0) {
            wanted.select(model_->index(runStart), model_->index(row - 1));
            runStart = -1;
        }
    }
    QItemSelectionModel* selection = list_->selectionModel();
    if (selection->selection() != wanted) {
        const QSignalBlocker blocker(selection);
        applyingSelection_ = true;
        selection->select(wanted, QItemSelectionModel::ClearAndSelect);
        applyingSelection_ = false;
        list_->viewport()->update();
    }

    const std::set<Uuid> previous = seenSelected_;
    if (previous != d.selected) {
        seenSelected_ = d.selected;
        followSelection(previous, seenSelected_);
    }
}

void DiagnosticsPanel::followSelection(const std::set<Uuid>& previous, const std::set<Uuid>& current) {
    if (previous == current || current.size() != 1) return;
    const Uuid only = *current.begin();
    for (const DiagnosticFinding& f : store_.diagnostics().findings)
        if (f.id == only) {
            // A copy: showing the finding replaces the state that holds it.
            const DiagnosticFinding finding = f;
            store_.showFinding(finding);
            return;
        }
}

void DiagnosticsPanel::listSelectionChanged() {
    if (applyingSelection_) return;
    std::set<Uuid> chosen;
    const auto& findings = model_->findings();
    for (const QModelIndex& index : list_->selectionModel()->selectedIndexes())
        if (index.row() >= 0 && index.row() < static_cast<int>(findings.size()))
            chosen.insert(findings[static_cast<std::size_t>(index.row())].id);
    if (chosen == store_.diagnostics().selected) return;
    DiagnosticsState d = store_.diagnostics();
    d.selected = std::move(chosen);
    store_.setDiagnostics(std::move(d));
}

}  // namespace tessoral::panels

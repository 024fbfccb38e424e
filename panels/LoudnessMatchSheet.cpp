#include "panels/LoudnessMatchSheet.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <cmath>

#include "model/Localization.h"
#include "panels/PanelSupport.h"
#include "processing/Loudness.h"
#include "processing/RackRenderer.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"
#include "widgets/Fonts.h"
#include "widgets/Palette.h"
#include "widgets/Spinner.h"
#include "widgets/Styling.h"

namespace tessoral {

using panels::qs;

namespace MatchRows {

namespace {
const QString kPending = QStringLiteral("\u2026");
const QString kNone = QStringLiteral("\u2014");
const QString kMinusInfinity = QStringLiteral("\u2212\u221E");
}  // namespace

bool isCurrent(const LoudnessMatch::Entry& entry, const Track& clip) {
    return entry.id == clip.id && entry.revision == clip.revision && entry.rack == clip.rack &&
           entry.bypassed == clip.rackBypassed;
}

double threshold(LoudnessTarget target) { return target == LoudnessTarget::atsc ? -1.95 : -0.95; }

Texts texts(const std::optional<LoudnessMatch::Entry>& entry, LoudnessTarget target, bool processAudio,
            double laneGainDB) {
    Texts t;
    const double lane = processAudio ? 0.0 : laneGainDB;
    std::optional<double> gain;
    if (entry) gain = LoudnessMatch::faderGain(entry->measurement, target, lane);
    const double predicted =
        entry && gain ? lane + entry->measurement.truePeak + *gain : -std::numeric_limits<double>::infinity();
    t.highlighted = predicted > threshold(target);

    if (!entry) {
        t.lufs = kPending;
        t.truePeak = kPending;
    } else {
        const auto& m = entry->measurement;
        t.lufs = m.lufs && std::isfinite(*m.lufs) ? panels::fixedText(*m.lufs, 1) : kMinusInfinity;
        t.truePeak = std::isfinite(m.truePeak) ? panels::fixedText(m.truePeak, 1) : kMinusInfinity;
    }
    if (!gain)
        t.gain = kNone;
    else if (!std::isfinite(*gain))
        t.gain = kMinusInfinity + QStringLiteral(" dB");
    else
        t.gain = panels::signedFixedText(*gain, 1) + QStringLiteral(" dB");

    if (processAudio && t.highlighted)
        t.after = qs(L("лимитер"));
    else if (!gain)
        t.after = kNone;
    else if (!std::isfinite(predicted))
        t.after = kMinusInfinity;
    else
        t.after = panels::fixedText(predicted, 1);
    return t;
}

int tableHeight(std::size_t clips) {
    const std::size_t n = std::max<std::size_t>(clips, 1);
    return static_cast<int>(std::min<std::size_t>(n * 26 + 4, 260));
}

}  // namespace MatchRows

namespace {

constexpr int kWidths[4] = {64, 68, 70, 72};

void setTextColour(QWidget* w, const QColor& colour) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, colour);
    w->setPalette(pal);
}

// The five-column layout shared by the header and the clip rows.
QHBoxLayout* fiveColumns(QLabel* (&cells)[5], QWidget* parent, const QFont& font) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    for (int i = 0; i < 5; ++i) {
        cells[i] = new QLabel(parent);
        cells[i]->setFont(font);
        cells[i]->setTextFormat(Qt::PlainText);
        if (i == 0) {
            cells[i]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            cells[i]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
            row->addWidget(cells[i], 1);
        } else {
            cells[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            cells[i]->setFixedWidth(kWidths[i - 1]);
            row->addWidget(cells[i]);
        }
    }
    return row;
}

// A clip row: 26 high with a hairline along its bottom edge.
class ClipRow : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(QRect(0, height() - 1, width(), 1), Palette::line());
    }
};

const LoudnessTarget kTargets[] = {LoudnessTarget::peak, LoudnessTarget::streaming, LoudnessTarget::podcast,
                                   LoudnessTarget::ebu, LoudnessTarget::atsc};

}  // namespace

MatchLoudnessSheet::MatchLoudnessSheet(StudioStore& store, TransportSignals* transport, QWidget* parent)
    : QWidget(parent), store_(store), transport_(transport) {
    setObjectName(QStringLiteral("matchLoudnessSheet"));
    setFixedWidth(560);
    work_ = std::make_unique<panels::PanelWork>(this, *store_.services().tasks);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(26, 26, 26, 26);
    column->setSpacing(16);

    auto* heading = new QLabel(qs(L("Сопоставить громкость")), this);
    heading->setFont(Fonts::ui(20, QFont::DemiBold));
    column->addWidget(heading);
    auto* description = new QLabel(qs(L("Интегральная громкость (BS.1770) и истинный пик каждого клипа после цепочки "
                                        "эффектов, до громкости клипа и дорожки.")),
                                   this);
    description->setFont(Fonts::ui(11));
    description->setWordWrap(true);
    setTextColour(description, Palette::secondaryText());
    column->addWidget(description);

    // The table box.
    auto* box = new QFrame(this);
    box->setObjectName(QStringLiteral("matchTable"));
    box->setStyleSheet(QStringLiteral("#matchTable { background: %1; border-radius: 6px; }").arg(Palette::panel().name()));
    auto* boxColumn = new QVBoxLayout(box);
    boxColumn->setContentsMargins(10, 0, 10, 0);
    boxColumn->setSpacing(0);
    QLabel* head[5];
    auto* headRow = new QWidget(box);
    auto* headLayout = fiveColumns(head, headRow, Fonts::ui(10, QFont::DemiBold));
    headLayout->setContentsMargins(0, 6, 0, 6);
    headRow->setLayout(headLayout);
    const QString headers[5] = {qs(L("Клип")), QStringLiteral("LUFS"), qs(L("Пик dBTP")), qs(L("Усиление")),
                                qs(L("Пик после"))};
    for (int i = 0; i < 5; ++i) {
        head[i]->setText(headers[i]);
        setTextColour(head[i], Palette::secondaryText());
    }
    boxColumn->addWidget(headRow);
    auto* line = new QFrame(box);
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("background: %1;").arg(Palette::line().name(QColor::HexArgb)));
    boxColumn->addWidget(line);
    scroll_ = new QScrollArea(box);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setStyleSheet(QStringLiteral("QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }"));
    auto* rowsBox = new QWidget(scroll_);
    rowsLayout_ = new QVBoxLayout(rowsBox);
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(0);
    rowsLayout_->addStretch(1);
    scroll_->setWidget(rowsBox);
    boxColumn->addWidget(scroll_);
    column->addWidget(box);

    // Target and mode.
    auto* targetRow = new QHBoxLayout;
    targetRow->addWidget(new QLabel(qs(L("Цель")), this));
    targetRow->addStretch(1);
    targetBox_ = new QComboBox(this);
    targetBox_->setFixedWidth(230);
    targetBox_->setAccessibleName(qs(L("Цель")));
    for (LoudnessTarget t : kTargets) targetBox_->addItem(qs(title(t)), static_cast<int>(t));
    targetBox_->setCurrentIndex(targetBox_->findData(static_cast<int>(target_)));
    connect(targetBox_, &QComboBox::activated, this,
            [this](int i) { setTarget(static_cast<LoudnessTarget>(targetBox_->itemData(i).toInt())); });
    targetRow->addWidget(targetBox_);
    column->addLayout(targetRow);

    auto* modes = new QVBoxLayout;
    modes->setSpacing(4);
    gainMode_ = new QRadioButton(qs(L("Изменить громкость клипа (без изменения звука)")), this);
    processMode_ = new QRadioButton(qs(L("Обработать звук")), this);
    auto* group = new QButtonGroup(this);
    group->addButton(gainMode_);
    group->addButton(processMode_);
    gainMode_->setChecked(true);
    connect(gainMode_, &QRadioButton::clicked, this, [this] { setProcessAudio(false); });
    connect(processMode_, &QRadioButton::clicked, this, [this] { setProcessAudio(true); });
    modes->addWidget(gainMode_);
    modes->addWidget(processMode_);
    column->addLayout(modes);

    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("note"));
    note_->setFont(Fonts::ui(10));
    note_->setWordWrap(true);
    setTextColour(note_, Palette::secondaryText());
    column->addWidget(note_);

    column->addWidget(new panels::SheetErrorText(store_, this));

    auto* buttons = new QHBoxLayout;
    progress_ = new QWidget(this);
    auto* progressRow = new QHBoxLayout(progress_);
    progressRow->setContentsMargins(0, 0, 0, 0);
    progressRow->setSpacing(6);
    progressRow->addWidget(new Spinner(12, progress_));
    auto* measuringText = new QLabel(qs(L("Измерение…")), progress_);
    measuringText->setFont(Fonts::ui(11));
    setTextColour(measuringText, Palette::secondaryText());
    progressRow->addWidget(measuringText);
    buttons->addWidget(progress_);
    buttons->addStretch(1);
    cancel_ = new QPushButton(qs(L("Отмена")), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, &MatchLoudnessSheet::cancel);
    buttons->addWidget(cancel_);
    apply_ = new QPushButton(qs(L("Применить")), this);
    apply_->setObjectName(QStringLiteral("apply"));
    apply_->setDefault(true);
    styling::makeProminent(apply_);
    connect(apply_, &QPushButton::clicked, this, &MatchLoudnessSheet::apply);
    buttons->addWidget(apply_);
    column->addLayout(buttons);

    // Escape and the window manager's close run "Отмена" (the error goes before the flag).
    if (auto* dialog = qobject_cast<QDialog*>(parent)) dialog->installEventFilter(this);

    connect(&store_, &StudioStore::sessionChanged, this, &MatchLoudnessSheet::refreshRows);
    connect(&store_, &StudioStore::busyChanged, this, &MatchLoudnessSheet::refreshControls);
    if (transport_) connect(transport_, &TransportSignals::recordingChanged, this, &MatchLoudnessSheet::refreshControls);

    // The measuring pass over the clips as they are now; clips added later stay unmeasured.
    pass_ = store_.session().tracks;
    refreshRows();
    measureFrom(0);
}

MatchLoudnessSheet::~MatchLoudnessSheet() {
    // A clip being measured finishes on its worker; its result is dropped with the sheet.
    cancelled_->store(true);
}

bool MatchLoudnessSheet::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        cancel();
        return true;
    }
    if (event->type() == QEvent::Close) {
        cancel();
        event->ignore();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void MatchLoudnessSheet::measureFrom(std::size_t index) {
    if (cancelled_->load()) return;
    if (index >= pass_.size()) {
        measuring_ = false;
        pass_.clear();
        refreshControls();
        return;
    }
    const Track clip = pass_[index];
    auto cancelled = cancelled_;
    work_->run(
        [clip, cancelled]() -> std::optional<LoudnessMatch::Entry> {
            if (cancelled->load()) return std::nullopt;
            const AudioData audio = RackRenderer::render(clip);
            return LoudnessMatch::Entry{clip.id, clip.revision, clip.rack, clip.rackBypassed, LoudnessMeasurement(audio)};
        },
        [this, index](TaskResult<std::optional<LoudnessMatch::Entry>> result) {
            if (cancelled_->load()) return;
            // A clip whose rendering failed is skipped without a word.
            if (result.ok() && result.value()) {
                const LoudnessMatch::Entry& entry = *result.value();
                entries_[entry.id] = entry;
                refreshRows();
            }
            measureFrom(index + 1);
        });
}

void MatchLoudnessSheet::setTarget(LoudnessTarget target) {
    target_ = target;
    const int at = targetBox_->findData(static_cast<int>(target));
    if (targetBox_->currentIndex() != at) targetBox_->setCurrentIndex(at);
    refreshRows();
}

void MatchLoudnessSheet::setProcessAudio(bool processAudio) {
    processAudio_ = processAudio;
    (processAudio ? processMode_ : gainMode_)->setChecked(true);
    refreshRows();
}

void MatchLoudnessSheet::cancel() {
    store_.setError(std::nullopt);
    store_.setShowMatchLoudness(false);
}

void MatchLoudnessSheet::apply() {
    if (!apply_->isEnabled()) return;
    store_.setError(std::nullopt);
    store_.matchLoudness(entries_, target_, processAudio_);
}

void MatchLoudnessSheet::refreshRows() {
    const Session& session = store_.session();
    std::map<Uuid, Row> kept;
    int position = 0;
    for (const Track& clip : session.tracks) {
        Row row;
        if (auto it = rows_.find(clip.id); it != rows_.end()) {
            row = it->second;
            rows_.erase(it);
        } else {
            row.widget = new ClipRow(rowsLayout_->parentWidget());
            row.widget->setFixedHeight(26);
            // The numbers stand right-aligned in fixed columns: they end at one edge.
            const QFont font = Fonts::ui(11);
            row.widget->setLayout(fiveColumns(row.cells, row.widget, font));
        }
        if (rowsLayout_->indexOf(row.widget) != position) {
            rowsLayout_->removeWidget(row.widget);
            rowsLayout_->insertWidget(position, row.widget);
        }
        ++position;
        std::optional<LoudnessMatch::Entry> entry;
        if (auto e = entries_.find(clip.id); e != entries_.end() && MatchRows::isCurrent(e->second, clip))
            entry = e->second;
        const Lane* lane = session.lane(clip);
        const auto t = MatchRows::texts(entry, target_, processAudio_, lane ? lane->gainDB : 0.0);
        row.cells[0]->setText(qs(clip.name));
        row.cells[1]->setText(t.lufs);
        row.cells[2]->setText(t.truePeak);
        row.cells[3]->setText(t.gain);
        row.cells[4]->setText(t.after);
        row.highlighted = t.highlighted;
        setTextColour(row.cells[4], t.highlighted ? panels::orange() : Palette::primaryText());
        kept[clip.id] = row;
    }
    for (auto& [id, row] : rows_) {
        rowsLayout_->removeWidget(row.widget);
        delete row.widget;
    }
    rows_ = std::move(kept);
    scroll_->setFixedHeight(MatchRows::tableHeight(session.tracks.size()));
    scroll_->setVerticalScrollBarPolicy(session.tracks.size() * 26 + 4 > 260 ? Qt::ScrollBarAlwaysOn
                                                                             : Qt::ScrollBarAsNeeded);
    refreshControls();
}

void MatchLoudnessSheet::refreshControls() {
    const double ceiling = target_ == LoudnessTarget::atsc ? -2.0 : -1.0;
    const QString ceilingText = panels::fixedText(ceiling, 0) + QStringLiteral(" dBTP");
    note_->setText(processAudio_
                       ? qs(L("Цепочка эффектов, усиление и лимитер истинного пика (потолок {0}) записываются в звук, "
                              "громкость клипа сбрасывается на 0 dB.",
                              ceilingText.toStdString()))
                       : qs(L("Меняется только громкость клипа (−60…+12 dB), фейдеры дорожек не трогаются. Если пик "
                              "после превысит потолок {0}, он подсвечивается оранжевым.",
                              ceilingText.toStdString())));
    progress_->setVisible(measuring_);
    apply_->setEnabled(!measuring_ && !entries_.empty() && !store_.locked());
}

QStringList MatchLoudnessSheet::rowTexts(const Uuid& clipID) const {
    const auto it = rows_.find(clipID);
    if (it == rows_.end()) return {};
    QStringList out;
    for (QLabel* cell : it->second.cells) out << cell->text();
    return out;
}

bool MatchLoudnessSheet::rowHighlighted(const Uuid& clipID) const {
    const auto it = rows_.find(clipID);
    return it != rows_.end() && it->second.highlighted;
}

}  // namespace tessoral

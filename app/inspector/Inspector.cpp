#include "app/inspector/Inspector.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "app/inspector/ClipProperties.h"
#include "app/inspector/InspectorStyle.h"
#include "model/EffectParameters.h"
#include "model/EffectPreset.h"
#include "model/Localization.h"
#include "model/Session.h"
#include "store/StudioStore.h"
#include "widgets/Icons.h"
#include "widgets/NumberField.h"
#include "widgets/ToolButton.h"
#include "widgets/ValueSlider.h"

namespace tessoral {

namespace {

QPushButton* labelledButton(const QString& title, const char* symbol, QWidget* parent) {
    auto* b = new QPushButton(title, parent);
    if (symbol) b->setIcon(Icons::icon(QString::fromLatin1(symbol), Palette::primaryText(), 14));
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    b->setFont(Fonts::ui(12));
    return b;
}

// The gain field: leaving it reads what was typed.
class GainField : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    std::function<void()> left;

protected:
    void focusOutEvent(QFocusEvent* event) override {
        QLineEdit::focusOutEvent(event);
        if (event->reason() != Qt::PopupFocusReason && left) left();
    }
};

}  // namespace

// ---- edit tiles ----

EditTile::EditTile(EditAction action, QWidget* parent) : QAbstractButton(parent), action_(action) {
    const QString title = ui::qs(tessoral::title(action));
    setText(title);
    setToolTip(title);
    setAccessibleName(title);
    setFixedHeight(64);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

void EditTile::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) p.setOpacity(0.4);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 5, 5);
    p.fillPath(shape, isDown() ? Palette::raised().lighter(130) : Palette::raised());
    // Symbol (17) and the title in a 26-high frame, 7 apart, centred as a block.
    const int symbolSize = 17, titleHeight = 26, gap = 7;
    const int top = (height() - (symbolSize + gap + titleHeight)) / 2;
    const QPixmap pm = Icons::pixmap(QString::fromLatin1(ProcessingInspector::symbol(action_)), Palette::primaryText(),
                                     symbolSize, devicePixelRatioF());
    if (!pm.isNull()) p.drawPixmap(QPointF((width() - symbolSize) / 2.0, top), pm);
    p.setFont(Fonts::ui(10));
    p.setPen(Palette::primaryText());
    p.drawText(QRect(4, top + symbolSize + gap, width() - 8, titleHeight), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
               text());
}

// ---- the page ----

const char* ProcessingInspector::symbol(EditAction action) {
    switch (action) {
        case EditAction::normalize: return "waveform.path";
        case EditAction::peak: return "arrow.up.to.line";
        case EditAction::fadeIn: return "increase.indent";
        case EditAction::fadeOut: return "decrease.indent";
        case EditAction::reverse: return "backward.end";
        case EditAction::silence: return "speaker.slash";
        case EditAction::gain: return "plus.forwardslash.minus";
        case EditAction::trim: return "crop";
        case EditAction::delete_: return "scissors";
    }
    return "waveform.path";
}

QString ProcessingInspector::peakText(const float* peaks, std::size_t count, bool* clipping) {
    float p = 0.0f;
    bool any = false;
    for (std::size_t i = 0; i < count; ++i) {
        if (!any || peaks[i] > p) p = peaks[i];
        any = true;
    }
    if (clipping) *clipping = any && p > 1.0f;
    if (!any || !(p > 0.0f)) return QStringLiteral("\u2212\u221E dBFS");
    return ui::qs(num::fixed(20.0 * std::log10(static_cast<double>(p)), 1) + " dBFS");
}

double ProcessingInspector::gainToApply(const QString& text, double fallback) {
    bool ok = false;
    double v = NumberField::locale().toDouble(text.trimmed(), &ok);
    if (!ok) v = fallback;
    if (!std::isfinite(v)) v = 0.0;
    return std::clamp(v, -60.0, 24.0);
}

ProcessingInspector::ProcessingInspector(StudioStore& store, QWidget* parent) : QScrollArea(parent), store_(store) {
    setObjectName(QStringLiteral("processingInspector"));
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The panel colour at 0.65 over the window background.
    const QColor panel = Palette::panel(), under = Palette::background();
    const QColor bg = QColor::fromRgbF(float(panel.redF() * 0.65 + under.redF() * 0.35),
                                       float(panel.greenF() * 0.65 + under.greenF() * 0.35),
                                       float(panel.blueF() * 0.65 + under.blueF() * 0.35));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, bg);
    setPalette(pal);
    viewport()->setAutoFillBackground(true);
    viewport()->setPalette(pal);

    content_ = new QWidget;
    content_->setObjectName(QStringLiteral("inspectorContent"));
    content_->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(content_);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(17);
    column->addWidget(ui::sectionHeader(ui::qs(L("ОБРАБОТКА")), content_));

    // ---- the three forms of the selection block ----
    noClip_ = ui::emptyLine(ui::qs(L("Клип не выбран")), content_);
    noClip_->setObjectName(QStringLiteral("noClip"));
    column->addWidget(noClip_);

    laneBlock_ = new QWidget(content_);
    {
        auto* lane = new QVBoxLayout(laneBlock_);
        lane->setContentsMargins(0, 0, 0, 0);
        lane->setSpacing(17);
        laneTitle_ = ui::emptyLine({}, laneBlock_);
        laneTitle_->setObjectName(QStringLiteral("laneLine"));
        lane->addWidget(laneTitle_);
        lane->addWidget(ui::note(ui::qs(L("Щёлкните клип на дорожке. На пустое место дорожки можно вставить фрагмент "
                                          "(Ctrl+V) — он встанет в позицию курсора.")),
                                 laneBlock_));
    }
    column->addWidget(laneBlock_);

    clipBlock_ = new QWidget(content_);
    clipBlock_->setObjectName(QStringLiteral("clipBlock"));
    auto* clip = new QVBoxLayout(clipBlock_);
    clip->setContentsMargins(0, 0, 0, 0);
    clip->setSpacing(17);
    propertiesHost_ = new QVBoxLayout;
    propertiesHost_->setContentsMargins(0, 0, 0, 0);
    clip->addLayout(propertiesHost_);

    auto* peakRow = new QHBoxLayout;
    peakRow->addWidget(ui::label(ui::qs(L("Пик")), Fonts::mono(11), Palette::secondaryText(), clipBlock_));
    peakRow->addStretch(1);
    peak_ = ui::label({}, Fonts::mono(11), Palette::accent(), clipBlock_);
    peak_->setObjectName(QStringLiteral("peak"));
    peakRow->addWidget(peak_);
    clip->addLayout(peakRow);
    clip->addWidget(ui::hairline(Qt::Horizontal, clipBlock_));

    scope_ = ui::subsectionLabel({}, clipBlock_);
    scope_->setObjectName(QStringLiteral("scope"));
    clip->addWidget(scope_);
    auto* grid = new QGridLayout;
    grid->setVerticalSpacing(8);
    grid->setHorizontalSpacing(8);
    for (int i = 0; i < 4; ++i) {
        const EditAction action = kTiles[i];
        tiles_[i] = new EditTile(action, clipBlock_);
        connect(tiles_[i], &QAbstractButton::clicked, this, [this, action] { store_.edit(action); });
        grid->addWidget(tiles_[i], i / 2, i % 2);
    }
    clip->addLayout(grid);

    auto* gainRow = new QHBoxLayout;
    gainRow->addWidget(ui::label(ui::qs(L("Усиление")), Fonts::ui(11), Palette::primaryText(), clipBlock_));
    gainRow->addStretch(1);
    auto* gainField = new GainField(clipBlock_);
    gainField_ = gainField;
    gainField_->setObjectName(QStringLiteral("gainAmount"));
    gainField_->setPlaceholderText(QStringLiteral("dB"));
    gainField_->setFixedWidth(56);
    gainField_->setFont(Fonts::ui(11));
    gainField->left = [this] { takeGainText(); };
    connect(gainField_, &QLineEdit::returnPressed, this, &ProcessingInspector::takeGainText);
    gainRow->addWidget(gainField_);
    gainRow->addWidget(ui::note(QStringLiteral("dB"), clipBlock_));
    clip->addLayout(gainRow);
    applyGain_ = labelledButton(ui::qs(L("Применить усиление")), nullptr, clipBlock_);
    applyGain_->setObjectName(QStringLiteral("applyGain"));
    connect(applyGain_, &QPushButton::clicked, this, &ProcessingInspector::applyGain);
    clip->addWidget(applyGain_);

    // The spectral repair panel goes here while the spectrogram is shown.
    spectralDivider_ = ui::hairline(Qt::Horizontal, clipBlock_);
    clip->addWidget(spectralDivider_);
    spectralSlot_ = new QWidget(clipBlock_);
    spectralSlot_->setObjectName(QStringLiteral("spectralRepairSlot"));
    auto* slotLayout = new QVBoxLayout(spectralSlot_);
    slotLayout->setContentsMargins(0, 0, 0, 0);
    clip->addWidget(spectralSlot_);

    clip->addWidget(ui::hairline(Qt::Horizontal, clipBlock_));
    clip->addWidget(ui::subsectionLabel(ui::qs(L("Эффект")), clipBlock_));
    effect_ = new QComboBox(clipBlock_);
    effect_->setObjectName(QStringLiteral("effectPicker"));
    effect_->setAccessibleName(ui::qs(L("Эффект")));
    effect_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // The longest preset title must not widen the column: the picker elides instead.
    effect_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    effect_->setMinimumContentsLength(8);
    for (EffectPreset preset : processingCases())
        effect_->addItem(ui::qs(tessoral::title(preset)), static_cast<int>(preset));
    connect(effect_, &QComboBox::activated, this, [this](int index) {
        store_.setChosenEffect(static_cast<EffectPreset>(effect_->itemData(index).toInt()));
    });
    clip->addWidget(effect_);
    applyEffect_ = labelledButton(ui::qs(L("Применить эффект")), "slider.horizontal.3", clipBlock_);
    applyEffect_->setObjectName(QStringLiteral("applyEffect"));
    connect(applyEffect_, &QPushButton::clicked, this, [this] { store_.applyEffect(); });
    clip->addWidget(applyEffect_);
    // The command's own title, as the Processing menu shows it (the plain key is the busy status).
    timePitch_ = labelledButton(ui::qs(L("Скорость и тон…#menu")), "metronome", clipBlock_);
    timePitch_->setObjectName(QStringLiteral("timePitch"));
    connect(timePitch_, &QPushButton::clicked, this, [this] {
        // Every opening from here starts from the neutral settings.
        store_.setTimeRate(1.0);
        store_.setTimeSemitones(0.0);
        store_.setShowTimePitch(true);
    });
    clip->addWidget(timePitch_);

    clip->addWidget(ui::hairline(Qt::Horizontal, clipBlock_));
    clip->addWidget(ui::subsectionLabel(ui::qs(L("Шумоподавление")), clipBlock_));
    noiseNote_ = ui::note({}, clipBlock_);
    noiseNote_->setObjectName(QStringLiteral("noiseNote"));
    clip->addWidget(noiseNote_);
    learnNoise_ = labelledButton(ui::qs(L("Запомнить шум")), "waveform.badge.magnifyingglass", clipBlock_);
    learnNoise_->setObjectName(QStringLiteral("learnNoise"));
    connect(learnNoise_, &QPushButton::clicked, this, [this] { store_.learnNoise(); });
    clip->addWidget(learnNoise_);
    noiseStrength_ = new ValueSlider(
        ui::qs(L("Сила подавления")), store_.noiseStrength(), 0.15, 1.0, {}, false, [] {},
        [this](double v) { store_.setNoiseStrength(v); }, clipBlock_);
    noiseStrength_->setObjectName(QStringLiteral("noiseStrength"));
    clip->addWidget(noiseStrength_);
    reduceNoise_ = labelledButton(ui::qs(L("Убрать шум")), "waveform.path.badge.minus", clipBlock_);
    reduceNoise_->setObjectName(QStringLiteral("reduceNoise"));
    ui::makeProminent(reduceNoise_);
    reduceNoise_->setIcon(Icons::icon(QStringLiteral("waveform.path.badge.minus"), Palette::background(), 14));
    connect(reduceNoise_, &QPushButton::clicked, this, [this] { store_.reduceNoise(); });
    clip->addWidget(reduceNoise_);

    auto* actions = new QHBoxLayout;
    actions->setSpacing(0);
    auto* duplicate = new ToolButton(QStringLiteral("plus.square.on.square"), ui::qs(L("Дублировать клип")), false,
                                     Palette::primaryText(), [this] { store_.duplicateClip(); }, clipBlock_);
    duplicate->setObjectName(QStringLiteral("duplicateClip"));
    auto* silence = new ToolButton(QStringLiteral("speaker.slash"), ui::qs(L("Заменить выделение тишиной")), false,
                                   Palette::primaryText(), [this] { store_.edit(EditAction::silence); }, clipBlock_);
    silence->setObjectName(QStringLiteral("silenceSelection"));
    auto* remove = new ToolButton(QStringLiteral("trash"), ui::qs(L("Удалить клип")), false, Palette::primaryText(),
                                  [this] { store_.removeClip(); }, clipBlock_);
    remove->setObjectName(QStringLiteral("removeClip"));
    actions->addWidget(duplicate);
    actions->addWidget(silence);
    actions->addStretch(1);
    actions->addWidget(remove);
    clip->addLayout(actions);
    column->addWidget(clipBlock_);

    // ---- the mix ----
    column->addWidget(ui::hairline(Qt::Horizontal, content_));
    column->addWidget(ui::sectionHeader(ui::qs(L("МИКС")), content_));
    master_ = new ValueSlider(ui::qs(L("Общая громкость")), store_.session().masterDB, -60, 12,
                              ui::decibels(store_.session().masterDB), false, [this] { store_.stop(); },
                              [this](double v) { store_.setMaster(v); }, content_);
    master_->setObjectName(QStringLiteral("masterGain"));
    column->addWidget(master_);
    column->addSpacing(8);
    column->addStretch(1);
    setWidget(content_);
    content_->setAutoFillBackground(false);

    for (auto signal : {&StudioStore::sessionChanged, &StudioStore::selectedIDChanged,
                        &StudioStore::selectedLaneIDChanged, &StudioStore::selectionChanged,
                        &StudioStore::spectralViewChanged, &StudioStore::noiseProfileChanged,
                        &StudioStore::noiseStrengthChanged, &StudioStore::chosenEffectChanged})
        connect(&store_, signal, this, &ProcessingInspector::refresh);
    connect(&store_, &StudioStore::gainAmountChanged, this, &ProcessingInspector::showGainAmount);
    showGainAmount();
    refresh();
}

void ProcessingInspector::showGainAmount() {
    const QString text = NumberField::locale().toString(store_.gainAmount(), 'f', 1);
    if (gainField_->text() != text) gainField_->setText(text);
}

void ProcessingInspector::takeGainText() {
    bool ok = false;
    const double v = NumberField::locale().toDouble(gainField_->text().trimmed(), &ok);
    if (ok && std::isfinite(v)) store_.setGainAmount(v);
    showGainAmount();
}

void ProcessingInspector::applyGain() {
    // What is typed counts even when it was never confirmed with Return.
    const double amount = gainToApply(gainField_->text(), store_.gainAmount());
    store_.setGainAmount(amount);
    showGainAmount();
    store_.edit(EditAction::gain);
}

void ProcessingInspector::refreshClip() {
    const auto index = store_.selectedIndex();
    const std::optional<Uuid> id =
        index ? std::optional<Uuid>(store_.session().tracks[*index].id) : std::optional<Uuid>();
    if (id != shownClip_) {
        // Fresh name text and focus for every clip.
        delete clipProperties_;
        clipProperties_ = nullptr;
        shownClip_ = id;
        if (id) {
            clipProperties_ = new ClipProperties(store_, *id, clipBlock_);
            propertiesHost_->addWidget(clipProperties_);
        }
    }
    if (!index) return;
    const Track& t = store_.session().tracks[*index];
    bool red = false;
    const QString peak = peakText(t.peaks.begin(), t.peaks.size(), &red);
    if (peak_->text() != peak) peak_->setText(peak);
    ui::setTextColor(peak_, red ? Palette::red() : Palette::accent());
}

void ProcessingInspector::refresh() {
    const StudioStore& s = store_;
    const Session& session = s.session();
    const bool clip = s.selectedIndex().has_value();
    const auto laneIndex = clip ? std::nullopt : session.laneIndex(s.selectedLaneID());
    clipBlock_->setVisible(clip);
    laneBlock_->setVisible(!clip && laneIndex.has_value());
    noClip_->setVisible(!clip && !laneIndex);
    if (laneIndex) {
        const QString line = ui::qs(L("Дорожка «{0}»: клип не выбран", session.lanes[*laneIndex].name));
        if (laneTitle_->text() != line) laneTitle_->setText(line);
    }
    refreshClip();

    const bool hasSelection = s.selection().has_value();
    scope_->setText(ui::qs(hasSelection ? L("Выделенный фрагмент") : L("Весь клип")));
    spectralDivider_->setVisible(s.spectralView());
    spectralSlot_->setVisible(s.spectralView());
    const int effectIndex = effect_->findData(static_cast<int>(s.chosenEffect()));
    if (effect_->currentIndex() != effectIndex) effect_->setCurrentIndex(effectIndex);
    noiseNote_->setText(ui::qs(s.noiseProfile()
                                   ? L("Профиль шума запомнен. «Убрать шум» обработает весь клип или выделение.")
                                   : L("1. Выделите участок, где слышен только шум.\n2. Нажмите «Запомнить шум».\n3. "
                                       "Снимите выделение и нажмите «Убрать шум».")));
    learnNoise_->setEnabled(hasSelection);
    reduceNoise_->setEnabled(s.noiseProfile().has_value());
    noiseStrength_->setValue(s.noiseStrength());
    noiseStrength_->setDisplay(ui::qs(num::fixed(s.noiseStrength() * 100.0, 0) + "%"));
    master_->setValue(session.masterDB);
    master_->setDisplay(ui::decibels(session.masterDB));
}

}  // namespace tessoral

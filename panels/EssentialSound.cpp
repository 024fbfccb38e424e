#include "panels/EssentialSound.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <set>

#include "model/EssentialSoundChain.h"
#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "panels/PanelSupport.h"
#include "panels/ProcessingSheetStyle.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"
#include "widgets/Icons.h"
#include "widgets/ToolButton.h"
#include "widgets/ValueSlider.h"

namespace tessoral::panels {

namespace {

QString symbolOf(SoundType type) {
    switch (type) {
        case SoundType::dialogue: return QStringLiteral("person.wave.2");
        case SoundType::music: return QStringLiteral("music.note");
        case SoundType::effects: return QStringLiteral("sparkles");
        case SoundType::ambience: return QStringLiteral("cloud");
    }
    return {};
}

QString amountText(double amount) { return qs(num::fixed(amount, 1)); }

// A small filled circle in a clip's colour.
class ColorDot : public QWidget {
public:
    explicit ColorDot(QWidget* parent) : QWidget(parent) { setFixedSize(5, 5); }
    void setColor(const QColor& color) {
        if (color == color_) return;
        color_ = color;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(Qt::NoPen);
        p.setBrush(color_);
        p.drawEllipse(QRectF(rect()));
    }

private:
    QColor color_;
};

QCheckBox* makeCheckBox(const QString& text, const QString& help, QWidget* parent) {
    auto* c = new QCheckBox(text, parent);
    c->setFont(Fonts::ui(11));
    c->setToolTip(help);
    return c;
}

}  // namespace

// ---- SoundTypeButton ----

SoundTypeButton::SoundTypeButton(SoundType type, QWidget* parent)
    : QAbstractButton(parent), type_(type), symbol_(symbolOf(type)) {
    setText(qs(title(type)));
    setToolTip(qs(L("Тип звука: {0}", title(type))));
    setFont(Fonts::ui(11, QFont::Medium));
    setFixedHeight(28);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setMinimumWidth(10);
    setCursor(Qt::PointingHandCursor);
}

void SoundTypeButton::setHighlighted(bool on) {
    if (on == highlighted_) return;
    highlighted_ = on;
    update();
}

QSize SoundTypeButton::sizeHint() const {
    return {QFontMetrics(font()).horizontalAdvance(text()) + 36, 28};
}

void SoundTypeButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QColor fill = highlighted_ ? Palette::accent() : Palette::raised();
    QColor ink = highlighted_ ? Palette::background() : Palette::primaryText();
    if (!isEnabled()) ink.setAlphaF(ink.alphaF() * 0.45f);
    p.setPen(Qt::NoPen);
    p.setBrush(isDown() ? fill.darker(120) : fill);
    p.drawRoundedRect(QRectF(rect()), 5, 5);
    const QFontMetrics fm(font());
    const int icon = 14, gap = 5;
    const int textWidth = std::min(fm.horizontalAdvance(text()), width() - icon - gap - 8);
    const int total = icon + gap + textWidth;
    int x = (width() - total) / 2;
    const QPixmap pm = Icons::pixmap(symbol_, ink, icon, devicePixelRatioF());
    if (!pm.isNull()) p.drawPixmap(QRect(x, (height() - icon) / 2, icon, icon), pm);
    x += icon + gap;
    p.setFont(font());
    p.setPen(ink);
    // Elided only when it really does not fit (an exact fit would lose its last letter to rounding).
    const bool fits = fm.horizontalAdvance(text()) <= textWidth;
    p.drawText(QRect(x, 0, textWidth + 2, height()), Qt::AlignVCenter | Qt::AlignLeft,
               fits ? text() : fm.elidedText(text(), Qt::ElideRight, textWidth));
}

// ---- EssentialCard ----

EssentialCard::EssentialCard(const QString& title, QWidget* parent) : QFrame(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(8);
    title_ = style::label(title.toUpper(), Fonts::mono(9, QFont::DemiBold),
                          Palette::secondaryText(), this);
    title_->setObjectName(QStringLiteral("cardTitle"));
    column->addWidget(title_);
    rows_ = new QVBoxLayout;
    rows_->setSpacing(8);
    column->addLayout(rows_);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void EssentialCard::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(1, 1, 1, 0.025f));
    p.drawRoundedRect(QRectF(rect()), 6, 6);
}

// ---- EssentialOptionRow ----

double EssentialOptionRow::stored(double value) { return std::round(value * 10.0) / 10.0; }

QString EssentialOptionRow::panoramaText(double amount) {
    if (amount == 0.0) return qs(L("Центр"));
    return qs((amount < 0 ? L("Л") : L("П")) + " " + num::fixed(std::fabs(amount), 0));
}

EssentialOptionRow::EssentialOptionRow(EssentialSoundView& view, const QString& title, const QString& help, Field field,
                                       double lower, double upper, std::function<QString(double)> display,
                                       QWidget* parent)
    : QWidget(parent), view_(view), title_(title), field_(field), display_(std::move(display)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    check_ = makeCheckBox(title, help, this);
    connect(check_, &QCheckBox::clicked, this, [this](bool on) {
        // Only the switch: an amount asked for meanwhile and still waiting keeps its value.
        const Field field = field_;
        askedOn_ = on;
        view_.write(title_, [field, on](EssentialSound& s) { (s.*field).enabled = on; });
    });
    column->addWidget(check_);
    slider_ = new ValueSlider(
        title, shown_.amount, lower, upper, display_(shown_.amount), true, [this] { view_.store().stop(); },
        [this](double v) {
            const Field field = field_;
            const double a = stored(v);
            asked_ = a;
            view_.write(title_, [field, a](EssentialSound& s) { (s.*field).amount = a; });
        },
        this);
    slider_->setToolTip(qs(L("{0}: количество", title.toStdString())));
    slider_->setContentsMargins(20, 0, 0, 0);
    column->addWidget(slider_);
}

void EssentialOptionRow::setAmount(const EssentialAmount& amount) {
    shown_ = amount;
    // While changes the panel sent still wait for an analysis, an earlier one landing does not move
    // the controls back: the next step goes on from what the person set last.
    if (askedOn_ && (*askedOn_ == amount.enabled || !view_.pending())) askedOn_.reset();
    if (asked_ && (*asked_ == amount.amount || !view_.pending())) asked_.reset();
    const bool on = askedOn_.value_or(amount.enabled);
    check_->setChecked(on);
    // A gesture under way keeps its draft: its own commit comes after this value.
    if (!slider_->dragging() && !asked_) slider_->setValue(amount.amount);
    slider_->setDisplay(display_(amount.amount));
    slider_->setVisible(on);
}

void EssentialOptionRow::setTitle(const QString& title) {
    if (title == title_) return;
    title_ = title;
    check_->setText(title);
    slider_->setToolTip(qs(L("{0}: количество", title.toStdString())));
}

void EssentialOptionRow::setHelp(const QString& help) { check_->setToolTip(help); }

// ---- EssentialSoundView ----

EssentialSoundView::EssentialSoundView(StudioStore& store, TransportSignals* transport, QWidget* parent)
    : QWidget(parent), store_(store) {
    setObjectName(QStringLiteral("essentialSound"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Palette::panel());
    setPalette(pal);
    build();
    for (auto signal : {&StudioStore::selectedIDChanged, &StudioStore::sessionChanged, &StudioStore::busyChanged})
        connect(&store_, signal, this, &EssentialSoundView::refresh);
    // Locked, the panel is closed, except while the clip is analysed for its own change: every step
    // a person takes meanwhile counts.
    connect(&store_, &StudioStore::busyChanged, this, &EssentialSoundView::followLock);
    if (transport) connect(transport, &TransportSignals::recordingChanged, this, &EssentialSoundView::followLock);
    followLock();
    refresh();
    qApp->installEventFilter(this);
}

bool EssentialSoundView::eventFilter(QObject* watched, QEvent* event) {
    // While the project is locked for this panel's analysis, what that lock refuses says so.
    if (!analysing_ || !store_.busy() || !watched->isWidgetType()) return QWidget::eventFilter(watched, event);
    bool refused = false;
    if (event->type() == QEvent::KeyPress) {
        auto* receiver = static_cast<QWidget*>(watched);
        // The press a receiver below refused, passed on to its parent: said once.
        if (event == refusedPress_ && refusedAt_ && receiver != refusedAt_ && receiver->isAncestorOf(refusedAt_)) {
            refusedAt_ = receiver;
            return QWidget::eventFilter(watched, event);
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        // Space plays, except on the panel's own buttons and checkboxes (one of its changes) and in
        // text being typed.
        const bool own = qobject_cast<QAbstractButton*>(watched) && isAncestorOf(static_cast<QWidget*>(watched));
        const bool typing = watched->inherits("QLineEdit") || watched->inherits("QAbstractSpinBox") ||
                            watched->inherits("QTextEdit") || watched->inherits("QPlainTextEdit");
        refused = (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier && !own && !typing) ||
                  key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo) ||
                  key->matches(QKeySequence::Save) || key->matches(QKeySequence::SaveAs);
        refusedPress_ = refused ? event : nullptr;
        refusedAt_ = receiver;
    } else if (event->type() == QEvent::Close) {
        refused = watched == window();
    }
    if (refused) store_.setStatus(L("Дождитесь конца анализа дорожки: до тех пор воспроизведение, отмена и сохранение недоступны"));
    return QWidget::eventFilter(watched, event);
}

void EssentialSoundView::write(const QString& label, std::function<void(EssentialSound&)> mutation) {
    ++writes_;
    act([this, name = label.toStdString(), mutation = std::move(mutation)] { store_.updateEssential(name, mutation); });
}

void EssentialSoundView::act(std::function<void()> change) {
    if (store_.locked()) {
        if (analysing_) waiting_.push_back(std::move(change));
        return;
    }
    // Set first: the analysis a change starts locks the store before the change returns.
    analysing_ = true;
    change();
    if (!store_.locked()) analysing_ = false;
}

void EssentialSoundView::followLock() {
    if (!store_.locked()) {
        analysing_ = false;
        // What was told meanwhile, in order, so the last value wins.
        while (!waiting_.empty() && !store_.locked()) {
            std::function<void()> next = std::move(waiting_.front());
            waiting_.pop_front();
            act(std::move(next));
        }
    }
    setEnabled(!store_.locked() || analysing_);
}

void EssentialSoundView::build() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    states_ = new QStackedWidget(this);
    outer->addWidget(states_);

    // The empty state.
    auto* emptyPage = new QWidget(states_);
    auto* emptyColumn = new QVBoxLayout(emptyPage);
    emptyColumn->setContentsMargins(20, 20, 20, 20);
    empty_ = style::label(qs(L("Клип не выбран")), Fonts::ui(12), Palette::secondaryText(), emptyPage);
    empty_->setObjectName(QStringLiteral("empty"));
    emptyColumn->addWidget(empty_);
    emptyColumn->addStretch(1);
    states_->addWidget(emptyPage);

    // A clip.
    auto* page = new QWidget(states_);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QWidget(page);
    header->setFixedHeight(42);
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(12, 0, 12, 0);
    dot_ = new ColorDot(header);
    headerRow->addWidget(dot_);
    name_ = style::label({}, Fonts::ui(12, QFont::Medium), Palette::primaryText(), header);
    name_->setObjectName(QStringLiteral("clipName"));
    name_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    headerRow->addWidget(name_, 1);
    reset_ = new ToolButton(QStringLiteral("arrow.counterclockwise"), qs(L("Сбросить: убрать обработку основного звука")),
                            false, Palette::primaryText(), [this] { act([this] { store_.resetEssentialSound(); }); }, header);
    reset_->setObjectName(QStringLiteral("reset"));
    headerRow->addWidget(reset_);
    column->addWidget(header);
    column->addWidget(style::divider(page));

    auto* grid = new QWidget(page);
    auto* gridLayout = new QGridLayout(grid);
    gridLayout->setContentsMargins(10, 10, 10, 10);
    gridLayout->setVerticalSpacing(6);
    int i = 0;
    for (SoundType type : allCases<SoundType>()) {
        auto* b = new SoundTypeButton(type, grid);
        connect(b, &QAbstractButton::clicked, this, [this, type] { act([this, type] { store_.setEssentialType(type); }); });
        gridLayout->addWidget(b, i / 2, i % 2);
        typeButtons_.push_back(b);
        ++i;
    }
    column->addWidget(grid);
    column->addWidget(style::divider(page));

    body_ = new QStackedWidget(page);
    auto* hintPage = new QWidget(body_);
    auto* hintColumn = new QVBoxLayout(hintPage);
    hintColumn->setContentsMargins(14, 14, 14, 14);
    hint_ = style::note(qs(L("Назначьте клипу тип звука, чтобы получить готовую обработку в один клик. Эффекты "
                             "панели добавляются в начало цепочки и не трогают ваши собственные.")),
                        11, hintPage);
    hint_->setObjectName(QStringLiteral("hint"));
    hintColumn->addWidget(hint_);
    hintColumn->addStretch(1);
    body_->addWidget(hintPage);

    scroll_ = new QScrollArea(body_);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* sections = new QWidget(scroll_);
    sections->setAutoFillBackground(false);
    scroll_->viewport()->setAutoFillBackground(false);
    auto* list = new QVBoxLayout(sections);
    list->setContentsMargins(12, 12, 12, 12);
    list->setSpacing(12);
    scroll_->setWidget(sections);
    body_->addWidget(scroll_);
    column->addWidget(body_, 1);
    states_->addWidget(page);

    // Loudness.
    auto* loudness = new EssentialCard(qs(L("Громкость")), sections);
    match_ = makeCheckBox(qs(L("Автосовпадение")),
                      qs(L("Подобрать громкость клипа так, чтобы звук после эффектов достиг целевой громкости")),
                      loudness);
    connect(match_, &QCheckBox::clicked, this, [this](bool on) {
        write(qs(L("автосовпадение")), [on](EssentialSound& s) { s.matchLoudness = on; });
    });
    loudness->rows()->addWidget(match_);
    targetRow_ = new QWidget(loudness);
    {
        auto* row = new QHBoxLayout(targetRow_);
        row->setContentsMargins(0, 0, 0, 0);
        row->addWidget(style::label(qs(L("Цель")), Fonts::ui(11), Palette::secondaryText(), targetRow_));
        target_ = new QComboBox(targetRow_);
        target_->setAccessibleName(qs(L("Цель")));
        target_->setFont(Fonts::ui(11));
        for (double t : kTargets) target_->addItem(qs(num::fixed(t, 0) + " LUFS"));
        connect(target_, &QComboBox::activated, this, [this](int index) {
            if (index < 0 || index >= 4) return;
            const double t = kTargets[index];
            write(qs(L("цель громкости")), [t](EssentialSound& s) { s.targetLUFS = t; });
        });
        row->addWidget(target_);
        row->addStretch(1);
    }
    loudness->rows()->addWidget(targetRow_);
    gainRow_ = new QWidget(loudness);
    {
        auto* row = new QHBoxLayout(gainRow_);
        row->setContentsMargins(0, 0, 0, 0);
        gain_ = style::label({}, Fonts::mono(10), Palette::secondaryText(), gainRow_);
        gain_->setObjectName(QStringLiteral("gain"));
        // In a narrow inspector the line breaks rather than pushing the button out of sight.
        gain_->setWordWrap(true);
        gain_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        row->addWidget(gain_, 1);
        measure_ = new QPushButton(qs(L("Измерить")), gainRow_);
        measure_->setFont(Fonts::ui(11));
        measure_->setToolTip(qs(L("Заново измерить громкость и подобрать усиление")));
        connect(measure_, &QPushButton::clicked, this, [this] { act([this] { measure(); }); });
        row->addWidget(measure_);
    }
    loudness->rows()->addWidget(gainRow_);
    cards_.push_back(loudness);

    auto option = [this](EssentialCard* card, const std::string& title, const std::string& help,
                         EssentialOptionRow::Field field, double lower, double upper,
                         std::function<QString(double)> display) {
        auto* row = new EssentialOptionRow(*this, qs(title), qs(help), field, lower, upper,
                                           std::move(display), card);
        card->rows()->addWidget(row);
        options_.push_back(row);
        return row;
    };

    auto* repair = new EssentialCard(qs(L("Восстановление#repair")), sections);
    option(repair, L("Уменьшить шум"), L("Адаптивное шумоподавление по самым тихим участкам"), &EssentialSound::reduceNoise,
           0, 10, amountText);
    option(repair, L("Убрать гул"), L("Срез низких частот ниже 100 Гц"), &EssentialSound::reduceRumble, 0, 10, amountText);
    option(repair, L("Убрать фон сети"), L("Частота сети 50 или 60 Гц определяется автоматически"),
           &EssentialSound::removeHum, 0, 10, amountText);
    option(repair, L("Смягчить свист"), L("Де-эссер для шипящих"), &EssentialSound::deess, 0, 10, amountText);
    cards_.push_back(repair);

    auto* clarity = new EssentialCard(qs(L("Чёткость")), sections);
    option(clarity, L("Динамика"), L("Компрессор выравнивает громкость фраз"), &EssentialSound::dynamics, 0, 10, amountText);
    option(clarity, L("Эквалайзер"), L("Тембральный пресет для голоса"), &EssentialSound::eq, 0, 10, amountText);
    presetRow_ = new QWidget(clarity);
    {
        auto* row = new QHBoxLayout(presetRow_);
        row->setContentsMargins(20, 0, 0, 0);
        row->addWidget(style::label(qs(L("Пресет")), Fonts::ui(11), Palette::primaryText(), presetRow_));
        preset_ = new QComboBox(presetRow_);
        preset_->setFont(Fonts::ui(11));
        preset_->setAccessibleName(qs(L("Пресет")));
        for (const std::string& name : {L("Подкаст"), L("Радио"), L("Тёплый голос"), L("Телефон")})
            preset_->addItem(qs(name));
        connect(preset_, &QComboBox::activated, this, [this](int index) {
            const auto cases = allCases<DialogueEQ>();
            if (index < 0 || index >= static_cast<int>(cases.size())) return;
            const DialogueEQ eq = cases[static_cast<std::size_t>(index)];
            write(qs(L("пресет эквалайзера")), [eq](EssentialSound& s) { s.eqPreset = eq; });
        });
        row->addWidget(preset_);
        row->addStretch(1);
    }
    clarity->rows()->addWidget(presetRow_);
    option(clarity, L("Улучшить речь"), L("Подъём разборчивости в районе 3 кГц"), &EssentialSound::enhance, 0, 10, amountText);
    cards_.push_back(clarity);

    auto* creative = new EssentialCard(qs(L("Творческие")), sections);
    option(creative, L("Реверберация"), L("Небольшая комната"), &EssentialSound::reverb, 0, 10, amountText);
    cards_.push_back(creative);

    auto* panorama = new EssentialCard(qs(L("Панорама")), sections);
    option(panorama, L("Панорама"), L("Положение звука в стерео: влево или вправо"), &EssentialSound::panorama, -10, 10,
           &EssentialOptionRow::panoramaText);
    cards_.push_back(panorama);

    auto* ducking = new EssentialCard(qs(L("Приглушение")), sections);
    ducking_ = makeCheckBox(qs(L("Приглушение под речью")),
                        qs(L("Автоматически приглушать этот клип, когда звучат клипы типа «Диалог»")), ducking);
    connect(ducking_, &QCheckBox::clicked, this, [this](bool on) {
        write(qs(L("приглушение")), [on](EssentialSound& s) { s.duckUnderDialogue = on; });
    });
    ducking->rows()->addWidget(ducking_);
    cards_.push_back(ducking);

    for (EssentialCard* card : cards_) list->addWidget(card);
    count_ = style::label({}, Fonts::mono(9), Palette::tertiaryText(), sections);
    count_->setObjectName(QStringLiteral("count"));
    list->addWidget(count_);
    list->addStretch(1);
}

void EssentialSoundView::refresh() {
    const auto index = store_.selectedIndex();
    if (!index) {
        states_->setCurrentIndex(0);
        return;
    }
    states_->setCurrentIndex(1);
    const Track& clip = store_.session().tracks[*index];
    static_cast<ColorDot*>(dot_)->setColor(Palette::track(clip.color));
    const QString name = qs(clip.name);
    if (name_->text() != name) name_->setText(name);
    const auto& settings = clip.essentialSound;
    reset_->setVisible(settings.has_value());
    for (SoundTypeButton* b : typeButtons_) b->setHighlighted(settings && settings->type == b->type());
    if (!settings) {
        body_->setCurrentIndex(0);
        return;
    }
    body_->setCurrentIndex(1);
    const EssentialSound& s = *settings;
    const SoundType type = s.type;

    match_->setChecked(s.matchLoudness);
    targetRow_->setVisible(s.matchLoudness);
    gainRow_->setVisible(s.matchLoudness);
    {
        // A target outside the four shows no item (and nothing is written back).
        int at = -1;
        for (int i = 0; i < 4; ++i)
            if (kTargets[i] == s.targetLUFS) at = i;
        const QSignalBlocker blocker(target_);
        target_->setCurrentIndex(at);
    }
    std::string gain = num::fixed(clip.gainDB, 1);
    if (gain.empty() || gain.front() != '-') gain.insert(gain.begin(), '+');
    // The value keeps its unit on its line when the text wraps.
    gain_->setText(qs(L("Громкость клипа {0} dB", gain)).replace(QStringLiteral(" dB"), QStringLiteral("\u00A0dB")));

    cards_[1]->setVisible(type == SoundType::dialogue);
    cards_[2]->setVisible(type == SoundType::dialogue);
    cards_[3]->setVisible(type == SoundType::effects || type == SoundType::ambience);
    cards_[4]->setVisible(type == SoundType::effects);
    cards_[5]->setVisible(type == SoundType::music || type == SoundType::ambience);

    const EssentialAmount* amounts[] = {&s.reduceNoise, &s.reduceRumble, &s.removeHum, &s.deess, &s.dynamics,
                                        &s.eq,          &s.enhance,      &s.reverb,    &s.panorama};
    options_[2]->setTitle(s.humFrequency ? qs(L("Убрать фон сети · {0} Гц", *s.humFrequency)) : qs(L("Убрать фон сети")));
    options_[7]->setHelp(qs(type == SoundType::ambience ? L("Большой зал") : L("Небольшая комната")));
    for (std::size_t i = 0; i < options_.size(); ++i) options_[i]->setAmount(*amounts[i]);
    presetRow_->setVisible(s.eq.enabled);
    {
        const auto cases = allCases<DialogueEQ>();
        const QSignalBlocker blocker(preset_);
        preset_->setCurrentIndex(static_cast<int>(std::find(cases.begin(), cases.end(), s.eqPreset) - cases.begin()));
    }
    ducking_->setChecked(s.duckUnderDialogue);

    std::set<Uuid> ids;
    for (const auto& [role, id] : s.slotIDs) ids.insert(id);
    long long count = 0;
    for (const auto& slot : clip.rack)
        if (ids.count(slot.id)) ++count;
    count_->setText(qs(L("Эффектов панели в цепочке: {0}", count)));
}

void EssentialSoundView::measure() {
    const auto index = store_.selectedIndex();
    if (!index) return;
    const Track& clip = store_.session().tracks[*index];
    if (!clip.essentialSound || !clip.essentialSound->matchLoudness) return;
    // Copies: the commit replaces the project that holds them.
    const Uuid id = clip.id;
    const std::optional<EssentialSound> settings = clip.essentialSound;
    store_.commitEssential(id, settings, L("Основной звук: громкость"), true);
}

}  // namespace tessoral::panels

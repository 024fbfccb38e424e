#include "panels/Settings.h"

#include <QAccessibleWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <system_error>
#include <thread>

#include "model/AppPaths.h"
#include "model/EnumTraits.h"
#include "model/ExportFormat.h"
#include "model/Localization.h"
#include "model/LoudnessTarget.h"
#include "model/NumberFormat.h"
#include "model/RecordingPreferences.h"
#include "panels/PanelSupport.h"
#include "processing/ExportPipeline.h"
#include "store/Preferences.h"
#include "store/StudioStore.h"
#include "transport/AudioBackend.h"
#include "widgets/Eliding.h"
#include "widgets/Fonts.h"
#include "widgets/Icons.h"
#include "widgets/Palette.h"
#include "widgets/WrappingCheckBox.h"

namespace tessoral {

namespace {

using panels::qs;

// The keys the window writes, and what each shows while it is absent.
constexpr const char* kInputKey = AudioDevices::kInputDeviceKey;
constexpr const char* kOutputKey = AudioDevices::kOutputDeviceKey;
constexpr const char* kCountdownKey = RecordingPreferences::kCountdownKey;
constexpr const char* kFollowKey = "playback.follow";
constexpr const char* kFormatKey = "export.default.format";
constexpr const char* kLoudnessKey = "export.default.loudness";
constexpr const char* kSampleRateKey = "export.default.samplerate";
constexpr const char* kDitherKey = "export.default.dither";
constexpr const char* kAutosaveKey = "project.autosave";
constexpr const char* kOverdubKey = RecordingPreferences::kPlayProjectKey;
constexpr const char* kPreRollKey = RecordingPreferences::kPreRollKey;
constexpr const char* kLatencyKey = RecordingPreferences::kLatencyKey;
constexpr const char* kMonitorKey = RecordingPreferences::kMonitorKey;
constexpr const char* kMonitorLevelKey = RecordingPreferences::kMonitorLevelKey;
constexpr const char* kLanguageKey = Localization::kInterfaceLanguageKey;

constexpr int kLevelSteps = 1000;  // the monitoring level slider's resolution
constexpr int kMargin = 16;        // around the sections
constexpr int kSectionMargin = 12; // inside a section
// The width of a note: wrapped labels take their height from it (a height for the width given by
// the layout would be lost in the nested sections).
constexpr int kNoteWidth = SettingsView::kWidth - 2 * kMargin - 2 * kSectionMargin - 6;  // 6: the group frame

// One group of the form: rows top to bottom; a labelled row puts its control after the label.
struct Section {
    QVBoxLayout* rows;
    void addRow(QWidget* widget) const { rows->addWidget(widget); }
    void addRow(const QString& label, QWidget* control) const {
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        auto* text = new QLabel(label, control->parentWidget());
        text->setBuddy(control);
        row->addWidget(text);
        row->addWidget(control, 1);
        rows->addLayout(row);
    }
};

QLabel* note(const QString& text, const QColor& color, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setFont(Fonts::ui(11));
    l->setWordWrap(true);
    l->setFixedWidth(kNoteWidth);
    l->setMinimumHeight(std::max(0, l->heightForWidth(kNoteWidth)));
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, color);
    l->setPalette(pal);
    return l;
}

void setColor(QLabel* l, const QColor& color) {
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, color);
    l->setPalette(pal);
}

// A warning line: the symbol and the text, 11 px, orange. One label (the symbol is its child in
// its left margin), so the wrapped text keeps its height in the form.
QLabel* warning(const QString& symbol, const QString& text, QWidget* parent) {
    auto* label = note(text, panels::orange(), parent);
    label->setContentsMargins(18, 0, 0, 0);
    label->setMinimumHeight(std::max(0, label->heightForWidth(kNoteWidth)));
    auto* icon = new QLabel(label);
    icon->setPixmap(Icons::pixmap(symbol, panels::orange(), 12, parent->devicePixelRatioF()));
    icon->setGeometry(0, 1, 14, 14);
    return label;
}

QLabel* valueLabel(QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setFont(Fonts::mono(11));
    l->setFixedWidth(40);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return l;
}

// Selects the entry holding `value`; none when no entry holds it (or there is no value).
void select(QComboBox* picker, const std::optional<QVariant>& value) {
    const int index = value ? picker->findData(*value) : -1;
    if (picker->currentIndex() != index) picker->setCurrentIndex(index);
}

std::optional<QVariant> stringChoice(const Defaults& d, const char* key, const char* fallback) {
    if (!d.value(key)) return QVariant(QString::fromUtf8(fallback));
    if (auto s = d.string(key)) return QVariant(qs(*s));
    return std::nullopt;
}

std::optional<QVariant> intChoice(const Defaults& d, const char* key, int fallback) {
    if (!d.value(key)) return QVariant(fallback);
    const auto n = d.number(key);
    if (!n || !std::isfinite(*n) || *n != std::floor(*n) || std::abs(*n) > 1e9) return std::nullopt;
    return QVariant(static_cast<int>(*n));
}

bool flag(const Defaults& d, const char* key, bool fallback) { return d.boolean(key).value_or(fallback); }

void setChecked(QCheckBox* box, bool on) {
    if (box->isChecked() != on) box->setChecked(on);
}

// What assistive technology reads of the monitoring level: the percent shown beside the slider,
// not the slider's finer steps.
class LevelSliderAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit LevelSliderAccessible(QSlider* slider) : QAccessibleWidget(slider, QAccessible::Slider) {}
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return SettingsView::levelText(slider()->value() / double(kLevelSteps));
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return slider()->value() * 100.0 / kLevelSteps; }
    void setCurrentValue(const QVariant& value) override {
        slider()->setValue(static_cast<int>(std::llround(std::clamp(value.toDouble(), 0.0, 100.0) * kLevelSteps / 100.0)));
    }
    QVariant maximumValue() const override { return 100.0; }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override { return 1.0; }

private:
    QSlider* slider() const { return static_cast<QSlider*>(widget()); }
};

QAccessibleInterface* levelSliderAccessible(const QString&, QObject* object) {
    auto* slider = qobject_cast<QSlider*>(object);
    if (slider && slider->objectName() == QLatin1String("monitorLevelSlider")) return new LevelSliderAccessible(slider);
    return nullptr;
}

}  // namespace

SettingsView::SettingsView(Preferences& preferences, AudioBackend* backend, std::filesystem::path dataFolder,
                           QWidget* parent)
    : QWidget(parent), prefs_(preferences), backend_(backend) {
    build(dataFolder);
}

SettingsView::SettingsView(StudioStore& store, QWidget* parent)
    : QWidget(parent),
      ownPreferences_(Preferences::of(*store.services().defaults)
                          ? nullptr
                          : std::make_unique<Preferences>(*store.services().defaults)),
      prefs_(ownPreferences_ ? *ownPreferences_ : *Preferences::of(*store.services().defaults)),
      backend_(store.services().backend) {
    build(store.services().dataFolder.value_or(AppPaths::dataFolder()));
}

SettingsView::~SettingsView() = default;

QString SettingsView::latencyText(double milliseconds) {
    std::string text = num::fixed(milliseconds, 0);
    if (text.empty() || text.front() != '-') text.insert(text.begin(), '+');
    return qs(text);
}

QString SettingsView::levelText(double level) {
    const double percent = std::isfinite(level) ? std::clamp(level * 100.0, -1e9, 1e9) : 0.0;
    return qs(num::integer(std::llround(percent)) + " %");
}

void SettingsView::build(const std::filesystem::path& dataFolder) {
    setObjectName(QStringLiteral("settingsView"));
    setMinimumWidth(kWidth);
    {
        const std::string stored = prefs_.string(kLanguageKey).value_or("system");
        const auto choice = Localization::languageChoice(stored);
        launchLanguage_ = qs(std::string(Localization::rawValue(choice.value_or(LanguageChoice::system))));
    }

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    column->setSpacing(14);
    auto section = [this, column](const QString& title) {
        auto* box = new QGroupBox(title, this);
        auto* rows = new QVBoxLayout(box);
        rows->setSpacing(8);
        rows->setContentsMargins(kSectionMargin, 10, kSectionMargin, 10);
        column->addWidget(box);
        return Section{rows};
    };
    auto combo = [this](const char* name) {
        // A long device name ends in "…" rather than widening the form.
        auto* c = new ElidingComboBox(this);
        c->setObjectName(QString::fromLatin1(name));
        c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        c->setMinimumContentsLength(12);
        return c;
    };
    auto toggle = [this](const std::string& text, const char* name) {
        // A long text wraps at the form's width.
        auto* b = new WrappingCheckBox(qs(text), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setFixedWidth(kNoteWidth);
        b->setMinimumHeight(b->heightForWidth(kNoteWidth));
        return b;
    };
    const QColor secondary = Palette::secondaryText();

    // 1. Language.
    Section form = section(QString());
    language_ = combo("languagePicker");
    language_->addItem(qs(L("Системный")), QStringLiteral("system"));
    language_->addItem(QStringLiteral("Русский"), QStringLiteral("ru"));
    language_->addItem(QStringLiteral("English"), QStringLiteral("en"));
    form.addRow(QStringLiteral("Язык / Language"), language_);
    languageNote_ = note(QString(), secondary, this);
    form.addRow(languageNote_);

    // 2. Recording.
    form = section(qs(L("Запись")));
    input_ = combo("microphonePicker");
    form.addRow(qs(L("Микрофон")), input_);
    micWarning_ = warning(QStringLiteral("exclamationmark.triangle.fill"),
                          qs(L("Сохранённый микрофон сейчас не подключён. Подключите его или выберите другой.")), this);
    form.addRow(micWarning_);
    countdown_ = combo("countdownPicker");
    countdown_->addItem(qs(L("Выключен")), 0);
    countdown_->addItem(qs(L("1 секунда")), 1);
    countdown_->addItem(qs(L("3 секунды")), 3);
    form.addRow(qs(L("Отсчёт перед записью")), countdown_);
    overdub_ = toggle(L("Воспроизводить проект во время записи"), "overdubToggle");
    form.addRow(overdub_);
    preRoll_ = combo("preRollPicker");
    for (int n = 0; n <= 3; ++n)
        preRoll_->addItem(n == 0 ? qs(L("Выключена")) : qs(L("{0} с", n)), n);
    form.addRow(qs(L("Предзапись")), preRoll_);
    form.addRow(note(qs(L("Если есть выделение, запись идёт только внутри него (панч-ин): проект начинает звучать "
                           "раньше на время предзаписи, запись останавливается в конце выделения.")),
                      secondary, this));
    {
        auto* row = new QWidget(this);
        auto* h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        h->addWidget(new QLabel(qs(L("Коррекция задержки, мс")), row));
        latency_ = new QSlider(Qt::Horizontal, row);
        latency_->setObjectName(QStringLiteral("latencySlider"));
        latency_->setAccessibleName(qs(L("Коррекция задержки, мс")));
        latency_->setRange(-200, 200);
        latency_->setSingleStep(1);
        latency_->setPageStep(10);
        h->addWidget(latency_, 1);
        latencyValue_ = valueLabel(row);
        h->addWidget(latencyValue_);
        form.addRow(row);
    }
    form.addRow(note(qs(L("Задержка устройств учитывается автоматически. Если дубль всё равно опаздывает, "
                           "увеличьте значение; если спешит — уменьшите.")),
                      secondary, this));
    monitor_ = toggle(L("Слышать микрофон во время записи"), "monitorToggle");
    form.addRow(monitor_);
    {
        monitorRow_ = new QWidget(this);
        auto* h = new QHBoxLayout(monitorRow_);
        h->setContentsMargins(0, 0, 0, 0);
        h->addWidget(new QLabel(qs(L("Громкость мониторинга")), monitorRow_));
        static const bool accessible = (QAccessible::installFactory(levelSliderAccessible), true);
        (void)accessible;
        monitorLevel_ = new QSlider(Qt::Horizontal, monitorRow_);
        monitorLevel_->setObjectName(QStringLiteral("monitorLevelSlider"));
        monitorLevel_->setAccessibleName(qs(L("Громкость мониторинга")));
        monitorLevel_->setRange(0, kLevelSteps);
        // An arrow moves a hundredth of the range and a page a tenth, as every other slider does.
        monitorLevel_->setSingleStep(kLevelSteps / 100);
        monitorLevel_->setPageStep(kLevelSteps / 10);
        h->addWidget(monitorLevel_, 1);
        monitorLevelValue_ = valueLabel(monitorRow_);
        h->addWidget(monitorLevelValue_);
        form.addRow(monitorRow_);
        headphones_ = warning(QStringLiteral("headphones"),
                              qs(L("Используйте наушники: через динамики микрофон создаст обратную связь (свист).")),
                              this);
        form.addRow(headphones_);
    }

    // 3. Playback.
    form = section(qs(L("Воспроизведение#settings")));
    output_ = combo("outputPicker");
    form.addRow(qs(L("Устройство вывода")), output_);
    follow_ = toggle(L("Следовать за курсором при воспроизведении"), "followToggle");
    form.addRow(follow_);

    // 4. Export defaults.
    form = section(qs(L("Экспорт по умолчанию")));
    format_ = combo("formatPicker");
    for (const ExportFormat f : allCases<ExportFormat>())
        format_->addItem(qs(title(f)), qs(std::string(rawValue(f))));
    form.addRow(qs(L("Формат")), format_);
    loudness_ = combo("loudnessPicker");
    for (const LoudnessTarget t : allCases<LoudnessTarget>())
        loudness_->addItem(qs(title(t)), qs(std::string(rawValue(t))));
    form.addRow(qs(L("Громкость")), loudness_);
    sampleRate_ = combo("sampleRatePicker");
    sampleRate_->addItem(qs(L("44,1 кГц")), 44100);
    sampleRate_->addItem(qs(L("48 кГц")), 48000);
    sampleRate_->addItem(qs(L("96 кГц")), 96000);
    form.addRow(qs(L("Частота#samplerate")), sampleRate_);
    dither_ = toggle(L("Дизеринг TPDF для WAV 16 бит"), "ditherToggle");
    form.addRow(dither_);

    // 5. Project.
    form = section(qs(L("Проект")));
    autosave_ = toggle(L("Автосохранение копии восстановления (раз в минуту)"), "autosaveToggle");
    form.addRow(autosave_);
    autosaveNote_ = note(qs(L("Копия хранится в {0} и предлагается к восстановлению, если приложение закрылось "
                              "нештатно. Файл проекта на диске не перезаписывается.",
                              dataFolder.string())),
                         secondary, this);
    form.addRow(autosaveNote_);

    // 6. Devices.
    form = section(QString());
    {
        auto* row = new QWidget(this);
        auto* h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        refresh_ = new QPushButton(qs(L("Обновить список устройств")), row);
        refresh_->setObjectName(QStringLiteral("refreshDevices"));
        refresh_->setAutoDefault(false);
        h->addWidget(refresh_);
        h->addStretch(1);
        form.addRow(row);
    }
    devicesNote_ = note(QString(), secondary, this);
    form.addRow(devicesNote_);
    showDevicesNote();

    // Writes: every change of a control, each slider step included.
    connect(language_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0) return;
        const QString raw = language_->itemData(index).toString();
        prefs_.set(kLanguageKey, raw.toStdString());
        Localization::applyAppleLanguages(Localization::languageChoice(raw.toStdString()).value_or(LanguageChoice::system),
                                          prefs_);
    });
    connect(input_, &QComboBox::currentIndexChanged, this,
            [this](int i) { if (i >= 0) write(kInputKey, input_->itemData(i)); });
    connect(output_, &QComboBox::currentIndexChanged, this,
            [this](int i) { if (i >= 0) write(kOutputKey, output_->itemData(i)); });
    connect(countdown_, &QComboBox::currentIndexChanged, this,
            [this](int i) { if (i >= 0) write(kCountdownKey, countdown_->itemData(i)); });
    connect(preRoll_, &QComboBox::currentIndexChanged, this,
            [this](int i) { if (i >= 0) write(kPreRollKey, preRoll_->itemData(i)); });
    connect(format_, &QComboBox::currentIndexChanged, this,
            [this](int i) { if (i >= 0) write(kFormatKey, format_->itemData(i)); });
    connect(loudness_, &QComboBox::currentIndexChanged, this,
            [this](int i) { if (i >= 0) write(kLoudnessKey, loudness_->itemData(i)); });
    connect(sampleRate_, &QComboBox::currentIndexChanged, this,
            [this](int i) { if (i >= 0) write(kSampleRateKey, sampleRate_->itemData(i)); });
    connect(overdub_, &QCheckBox::toggled, this, [this](bool on) { prefs_.set(kOverdubKey, on); });
    connect(monitor_, &QCheckBox::toggled, this, [this](bool on) { prefs_.set(kMonitorKey, on); });
    connect(follow_, &QCheckBox::toggled, this, [this](bool on) { prefs_.set(kFollowKey, on); });
    connect(dither_, &QCheckBox::toggled, this, [this](bool on) { prefs_.set(kDitherKey, on); });
    connect(autosave_, &QCheckBox::toggled, this, [this](bool on) { prefs_.set(kAutosaveKey, on); });
    connect(latency_, &QSlider::valueChanged, this,
            [this](int ms) { prefs_.set(kLatencyKey, static_cast<double>(ms)); });
    connect(monitorLevel_, &QSlider::valueChanged, this,
            [this](int step) { prefs_.set(kMonitorLevelKey, static_cast<double>(step) / kLevelSteps); });
    connect(refresh_, &QPushButton::clicked, this, &SettingsView::refreshDevices);
    connect(&prefs_, &Preferences::changed, this, &SettingsView::reload);

    fillDevicePicker(input_, inputs_, qs(L("Системный по умолчанию")));
    fillDevicePicker(output_, outputs_, qs(L("Системное по умолчанию")));
    reload();
}

void SettingsView::write(const std::string& key, const QVariant& value) {
    if (value.typeId() == QMetaType::Int) prefs_.set(key, static_cast<long long>(value.toInt()));
    else prefs_.set(key, value.toString().toStdString());
}

void SettingsView::fillDevicePicker(QComboBox* picker, const std::vector<AudioDevice>& devices,
                                    const QString& systemEntry) {
    const QSignalBlocker block(picker);
    picker->clear();
    picker->addItem(systemEntry, QString());
    for (const AudioDevice& d : devices) picker->addItem(qs(d.name), qs(d.uid));
}

void SettingsView::refreshDevices() {
    showDevices();  // the last known lists until the scan lands
    if (!backend_ || scanLanded_) return;
    // On a thread of its own, left to itself should the program end first: a sound server that
    // does not answer keeps a scan waiting for minutes. It holds nothing of this window.
    auto landed = std::make_shared<std::atomic<bool>>(false);
    try {
        std::thread([scan = backend_->scanner(), landed] {
            scan();  // refused while a stream is open: the lists are read again anyway
            landed->store(true);
        }).detach();
    } catch (const std::system_error&) {
        return;
    }
    scanLanded_ = std::move(landed);
    showDevicesNote();
    if (!scanWatch_) {
        scanWatch_ = new QTimer(this);
        scanWatch_->setInterval(100);
        connect(scanWatch_, &QTimer::timeout, this, [this] {
            if (!scanLanded_ || !scanLanded_->load()) return;
            scanLanded_.reset();
            scanWatch_->stop();
            showDevices();
        });
    }
    scanWatch_->start();
}

void SettingsView::showDevicesNote() {
    // Until the scan lands the lists may be empty or old: a sound server can keep it minutes.
    // One that is not running brings no device: the lists say nothing of it, the note does.
    const bool gone = !scanning() && backend_ && backend_->soundServerGone();
    const QString text =
        scanning() ? qs(L("Идёт поиск звуковых устройств: списки заполнятся, когда он закончится. "
                          "Звук не покидает этот компьютер."))
        : gone     ? qs(L("Звуковой сервер не запущен. Запустите его и попробуйте ещё раз."))
                   : qs(L("Микрофон и устройство вывода применяются со следующей записи или воспроизведения. "
                          "Звук не покидает этот компьютер."));
    devicesNote_->setText(text);
    devicesNote_->setMinimumHeight(std::max(0, devicesNote_->heightForWidth(kNoteWidth)));
    setColor(devicesNote_, gone ? panels::orange() : Palette::secondaryText());
}

void SettingsView::showDevices() {
    if (backend_) {
        inputs_ = AudioDevices::devices(*backend_, AudioDeviceScope::input);
        outputs_ = AudioDevices::devices(*backend_, AudioDeviceScope::output);
    }
    fillDevicePicker(input_, inputs_, qs(L("Системный по умолчанию")));
    fillDevicePicker(output_, outputs_, qs(L("Системное по умолчанию")));
    showDevicesNote();
    reload();
}

void SettingsView::reload() {
    const Defaults& d = prefs_;
    const QSignalBlocker blocks[] = {QSignalBlocker(language_), QSignalBlocker(input_),     QSignalBlocker(output_),
                                     QSignalBlocker(countdown_), QSignalBlocker(preRoll_), QSignalBlocker(format_),
                                     QSignalBlocker(loudness_),  QSignalBlocker(sampleRate_), QSignalBlocker(overdub_),
                                     QSignalBlocker(monitor_),   QSignalBlocker(follow_),  QSignalBlocker(dither_),
                                     QSignalBlocker(autosave_),  QSignalBlocker(latency_), QSignalBlocker(monitorLevel_)};
    (void)blocks;

    // Language and its note.
    const std::optional<QVariant> language = stringChoice(d, kLanguageKey, "system");
    select(language_, language);
    const bool atLaunch = language && language->toString() == launchLanguage_;
    const QString languageText = (atLaunch ? qs(L("Системный — язык системы: русский, если он первый в списке языков, "
                                           "иначе английский."))
                                    : qs(L("Язык сменится после перезапуска Tessoral.")));
    if (languageNote_->text() != languageText) {
        languageNote_->setText(languageText);
        languageNote_->setMinimumHeight(std::max(0, languageNote_->heightForWidth(kNoteWidth)));
    }
    setColor(languageNote_, atLaunch ? Palette::secondaryText() : panels::orange());

    // Devices.
    const std::optional<QVariant> input = stringChoice(d, kInputKey, "");
    select(input_, input);
    const QString inputUID = input ? input->toString() : QString();
    bool found = inputUID.isEmpty();
    for (const AudioDevice& dev : inputs_) found = found || qs(dev.uid) == inputUID;
    micWarning_->setVisible(!found);
    select(output_, stringChoice(d, kOutputKey, ""));

    // Recording.
    select(countdown_, intChoice(d, kCountdownKey, 0));
    setChecked(overdub_, flag(d, kOverdubKey, true));
    select(preRoll_, intChoice(d, kPreRollKey, 2));
    const double latency = d.number(kLatencyKey).value_or(0.0);
    const double shownLatency = std::isfinite(latency) ? latency : 0.0;
    latency_->setValue(static_cast<int>(std::clamp(std::llround(std::clamp(shownLatency, -1e6, 1e6)), -200LL, 200LL)));
    latencyValue_->setText(latencyText(shownLatency));
    const bool monitoring = flag(d, kMonitorKey, false);
    setChecked(monitor_, monitoring);
    monitorRow_->setVisible(monitoring);
    headphones_->setVisible(monitoring);
    const double level = d.number(kMonitorLevelKey).value_or(0.8);
    const double shownLevel = std::isfinite(level) ? level : 0.8;
    monitorLevel_->setValue(static_cast<int>(std::llround(std::clamp(shownLevel, 0.0, 1.0) * kLevelSteps)));
    monitorLevelValue_->setText(levelText(shownLevel));

    // Playback, export, project.
    setChecked(follow_, flag(d, kFollowKey, true));
    select(format_, stringChoice(d, kFormatKey, "wav24"));
    select(loudness_, stringChoice(d, kLoudnessKey, "peak"));
    select(sampleRate_, intChoice(d, kSampleRateKey, 48000));
    setChecked(dither_, flag(d, kDitherKey, true));
    setChecked(autosave_, flag(d, kAutosaveKey, true));
}

void SettingsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Refilled at each showing; refreshDevices() reads every key again too.
    refreshDevices();
}

void SettingsView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) reload();
}

}  // namespace tessoral

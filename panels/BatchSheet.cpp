#include "panels/BatchSheet.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <utility>
#include <condition_variable>
#include <mutex>

#include "model/EffectPreset.h"
#include "model/ExportFormat.h"
#include "model/FavoritesStore.h"
#include "model/Localization.h"
#include "panels/ChainSummary.h"
#include "panels/PanelSupport.h"
#include "panels/ProcessingSheetStyle.h"
#include "store/Prompts.h"
#include "store/StudioStore.h"
#include "store/TaskRunner.h"
#include "widgets/Fonts.h"
#include "widgets/Icons.h"
#include "widgets/Palette.h"

namespace tessoral {

using panels::qs;

// ---- running batches ----

namespace {

struct Registry {
    std::mutex mutex;
    std::condition_variable idle;
    int running = 0;
    std::vector<std::weak_ptr<BatchController::Work>> works;
};

Registry& registry() {
    static Registry* r = new Registry;  // reachable from workers until the very end
    return *r;
}

void workerReturned() {
    Registry& r = registry();
    {
        std::lock_guard lock(r.mutex);
        --r.running;
    }
    r.idle.notify_all();
}

void remember(const std::shared_ptr<BatchController::Work>& work) {
    if (!work) return;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::erase_if(r.works, [](const auto& w) { return w.expired(); });
    r.works.push_back(work);
}

// The audio files the decoder reads, for the input chooser.
const std::vector<std::string>& audioExtensions() {
    static const std::vector<std::string> extensions{"wav", "wave", "aif", "aiff", "aifc", "flac", "mp3", "m4a",
                                                     "mp4", "aac",  "caf", "ogg", "oga",  "opus", "wma",
                                                     "ape", "wv",   "w64", "mka", "webm", "au",  "snd",  "ac3", "mp2"};
    return extensions;
}

BatchController::Executors executors(TaskRunner* tasks) {
    BatchController::Executors ex;
    ex.background = [tasks](std::function<void()> job) {
        {
            Registry& r = registry();
            std::lock_guard lock(r.mutex);
            ++r.running;
        }
        // Counted down once: when the job has run, or when the runner drops it unrun.
        struct Token {
            std::atomic<bool> counted{false};
            void countDown() {
                if (!counted.exchange(true)) workerReturned();
            }
            ~Token() { countDown(); }
        };
        auto token = std::make_shared<Token>();
        tasks->run(nullptr, TaskPriority::userInitiated,
                   [job = std::move(job), token] {
                       struct Returned {
                           Token& token;
                           ~Returned() { token.countDown(); }
                       } returned{*token};
                       job();
                   },
                   [](TaskResult<void>) {});
    };
    // An input's read goes with the reads the program may end without: a stop gives it up.
    ex.read = [tasks](std::function<void()> read) { tasks->runRead(std::move(read)); };
    ex.main = [](std::function<void()> call) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(call), Qt::QueuedConnection);
    };
    return ex;
}

QString extensionOf(ExportFormat format) { return qs(std::string(fileExtension(format))); }

QLabel* text(const QString& t, int size, QWidget* parent, QFont::Weight weight = QFont::Normal) {
    return panels::style::label(t, Fonts::ui(size, weight), Palette::primaryText(), parent);
}

// The list rows' remove button: a plain "xmark".
class RemoveButton : public QAbstractButton {
public:
    explicit RemoveButton(QWidget* parent) : QAbstractButton(parent) {
        setFixedSize(18, 18);
        setFocusPolicy(Qt::TabFocus);
        setCursor(Qt::PointingHandCursor);
        setToolTip(qs(L("Убрать из списка")));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QColor c = isDown() ? Palette::primaryText() : Palette::secondaryText();
        p.drawPixmap(4, 4, Icons::pixmap(QStringLiteral("xmark"), c, 10, devicePixelRatioF()));
    }
};

// What a finished batch did, in one line: "Готово файлов: 3 · ошибок: 1".
std::string summaryOf(const BatchReport& report) {
    std::string summary = L("Готово файлов: {0}", report.written.size());
    if (report.cancelled) summary += L(" · остановлено");
    if (!report.failures.empty()) summary += L(" · ошибок: {0}", report.failures.size());
    return summary;
}

// The report's lines under its summary, each with whether it warns: each failure, each input cut
// short, and after a stop the inputs that were done.
std::vector<std::pair<std::string, bool>> reportLines(const BatchReport& report) {
    std::vector<std::pair<std::string, bool>> lines;
    for (const BatchFailure& f : report.failures) lines.emplace_back(f.file + ": " + f.message, true);
    for (const std::string& name : report.endedEarly)
        lines.emplace_back(L("Файл «{0}» обрывается раньше, чем указано в нём", name), true);
    if (report.cancelled && !report.done.empty()) {
        std::string names;
        for (const std::string& name : report.done) names += (names.empty() ? "" : ", ") + name;
        lines.emplace_back(L("Обработаны до остановки: {0}", names), false);
    }
    return lines;
}

}  // namespace

namespace BatchRuns {

void cancelAllAndWait() {
    Registry& r = registry();
    std::unique_lock lock(r.mutex);
    for (auto& w : r.works)
        if (auto work = w.lock()) work->cancel();
    r.works.clear();
    r.idle.wait(lock, [&] { return r.running == 0; });
}

int running() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.running;
}

}  // namespace BatchRuns

// ---- BatchProcessSheet ----

BatchProcessSheet::BatchProcessSheet(StudioStore& store, TransportSignals*, QWidget* parent)
    : QWidget(parent), store_(store), batch_(BatchController::create(executors(store.services().tasks))) {
    setObjectName(QStringLiteral("batchProcessSheet"));
    setFixedWidth(560);

    // The editor's export settings, on every showing.
    batch_->format = store_.exportFormat();
    batch_->dither = store_.exportDither();
    // The sheet may be gone when a batch ends: redraws go through a guard, the reveal through the
    // store, which says in the status line when nothing could show the files.
    QPointer<BatchProcessSheet> self(this);
    batch_->changed = [self] {
        if (self) self->refresh();
    };
    QPointer<StudioStore> revealer(&store_);
    // The batch ends with its own status line, to which a failure to show its files is joined.
    batch_->finished = [revealer](const BatchReport& report) {
        if (!revealer) return;
        std::string status = L("Пакетная обработка: {0}", summaryOf(report));
        for (const std::string& name : report.endedEarly) status += L(". Файл «{0}» обрывается раньше, чем указано в нём", name);
        revealer->setStatus(std::move(status));
    };
    batch_->reveal = [revealer](const std::vector<std::filesystem::path>& files) {
        if (revealer) revealer->revealFiles(files);
    };

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);
    column->addWidget(text(qs(L("Пакетная обработка")), 13, this, QFont::DemiBold));

    // File header and list.
    auto* header = new QHBoxLayout;
    fileCount_ = text(QString(), 12, this, QFont::Medium);
    fileCount_->setObjectName(QStringLiteral("fileCount"));
    header->addWidget(fileCount_);
    header->addStretch(1);
    auto* add = new QPushButton(qs(L("Добавить файлы…")), this);
    add->setObjectName(QStringLiteral("addFiles"));
    add->setAutoDefault(false);
    connect(add, &QPushButton::clicked, this, &BatchProcessSheet::addFiles);
    header->addWidget(add);
    clear_ = new QPushButton(qs(L("Очистить")), this);
    clear_->setObjectName(QStringLiteral("clear"));
    clear_->setAutoDefault(false);
    connect(clear_, &QPushButton::clicked, this, [this] {
        batch_->inputs.clear();
        batch_->report.reset();
        refresh();
    });
    header->addWidget(clear_);
    column->addLayout(header);

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("fileList"));
    scroll->setFixedHeight(130);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    fileList_ = new QWidget(scroll);
    fileRows_ = new QVBoxLayout(fileList_);
    fileRows_->setContentsMargins(6, 4, 6, 4);
    fileRows_->setSpacing(2);
    fileRows_->addStretch(1);
    scroll->setWidget(fileList_);
    column->addWidget(scroll);

    // Settings.
    form_ = new QWidget(this);
    form_->setObjectName(QStringLiteral("settings"));
    auto* form = new QFormLayout(form_);
    form->setContentsMargins(0, 0, 0, 0);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    source_ = new QComboBox(form_);
    source_->setObjectName(QStringLiteral("source"));
    connect(source_, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        if (index < 0) return;
        batch_->source = source_->itemData(index).toString().toStdString();
        refresh();
    });
    form->addRow(qs(L("Цепочка эффектов")), source_);
    chain_ = panels::style::note(QString(), 10, form_);
    chain_->setObjectName(QStringLiteral("chain"));
    chain_->setMaximumHeight(2 * chain_->fontMetrics().lineSpacing() + 2);
    form->addRow(QString(), chain_);
    normalize_ = new QCheckBox(qs(L("Нормализовать громкость (авто, −16 LUFS)")), form_);
    normalize_->setObjectName(QStringLiteral("normalize"));
    connect(normalize_, &QCheckBox::toggled, this, [this](bool on) {
        batch_->normalize = on;
        refresh();
    });
    form->addRow(QString(), normalize_);
    format_ = new QComboBox(form_);
    format_->setObjectName(QStringLiteral("format"));
    for (const auto& [value, raw] : EnumTraits<ExportFormat>::cases) format_->addItem(qs(title(value)), int(value));
    connect(format_, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        if (index < 0) return;
        batch_->format = static_cast<ExportFormat>(format_->itemData(index).toInt());
        refresh();
    });
    form->addRow(qs(L("Формат")), format_);
    rate_ = new QComboBox(form_);
    rate_->setObjectName(QStringLiteral("rate"));
    rate_->addItem(qs(L("Как у исходного файла")), 0);
    rate_->addItem(qs(L("44,1 кГц")), int(ExportSampleRate::hz44100));
    rate_->addItem(qs(L("48 кГц")), int(ExportSampleRate::hz48000));
    rate_->addItem(qs(L("96 кГц")), int(ExportSampleRate::hz96000));
    connect(rate_, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        const int hz = rate_->itemData(index).toInt();
        if (hz == 0)
            batch_->sampleRate.reset();
        else
            batch_->sampleRate = static_cast<ExportSampleRate>(hz);
        refresh();
    });
    form->addRow(qs(L("Частота#samplerate")), rate_);
    dither_ = new QCheckBox(qs(L("Дизеринг TPDF")), form_);
    dither_->setObjectName(QStringLiteral("dither"));
    connect(dither_, &QCheckBox::toggled, this, [this](bool on) {
        batch_->dither = on;
        refresh();
    });
    form->addRow(QString(), dither_);
    auto* folderRow = new QHBoxLayout;
    folder_ = text(QString(), 12, form_);
    folder_->setObjectName(QStringLiteral("folder"));
    folder_->setMinimumWidth(100);
    folder_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    folderRow->addWidget(folder_, 1);
    auto* choose = new QPushButton(qs(L("Выбрать…")), form_);
    choose->setObjectName(QStringLiteral("chooseFolder"));
    choose->setAutoDefault(false);
    connect(choose, &QPushButton::clicked, this, &BatchProcessSheet::chooseFolder);
    folderRow->addWidget(choose);
    form->addRow(QString(), folderRow);
    column->addWidget(form_);

    // Progress.
    progressRow_ = new QWidget(this);
    auto* progress = new QVBoxLayout(progressRow_);
    progress->setContentsMargins(0, 0, 0, 0);
    progress->setSpacing(4);
    progress_ = new QProgressBar(progressRow_);
    progress_->setTextVisible(false);
    progress->addWidget(progress_);
    progressText_ = text(QString(), 11, progressRow_);
    progressText_->setObjectName(QStringLiteral("progress"));
    progress->addWidget(progressText_);
    column->addWidget(progressRow_);

    // Report.
    reportBox_ = new QWidget(this);
    auto* report = new QVBoxLayout(reportBox_);
    report->setContentsMargins(0, 0, 0, 0);
    report->setSpacing(4);
    reportSummary_ = text(QString(), 12, reportBox_, QFont::Medium);
    reportSummary_->setObjectName(QStringLiteral("reportSummary"));
    report->addWidget(reportSummary_);
    failureRows_ = new QVBoxLayout;
    failureRows_->setSpacing(4);
    report->addLayout(failureRows_);
    column->addWidget(reportBox_);

    // Footer.
    auto* footer = new QHBoxLayout;
    result_ = panels::style::label(QString(), Fonts::ui(10), Palette::tertiaryText(), this);
    result_->setObjectName(QStringLiteral("result"));
    footer->addWidget(result_);
    footer->addStretch(1);
    stop_ = new QPushButton(qs(L("Остановить")), this);
    stop_->setObjectName(QStringLiteral("stop"));
    stop_->setAutoDefault(false);
    connect(stop_, &QPushButton::clicked, this, &BatchProcessSheet::stop);
    footer->addWidget(stop_);
    close_ = new QPushButton(qs(L("Закрыть")), this);
    close_->setObjectName(QStringLiteral("close"));
    close_->setAutoDefault(false);
    connect(close_, &QPushButton::clicked, this, [this] { store_.setEffectsSheet(std::nullopt); });
    footer->addWidget(close_);
    start_ = new QPushButton(qs(L("Запустить")), this);
    start_->setObjectName(QStringLiteral("start"));
    start_->setDefault(true);
    panels::style::makeProminent(start_);
    connect(start_, &QPushButton::clicked, this, &BatchProcessSheet::start);
    footer->addWidget(start_);
    column->addLayout(footer);

    connect(&store_, &StudioStore::favoritesChanged, this, &BatchProcessSheet::refresh);
    connect(&store_, &StudioStore::sessionChanged, this, &BatchProcessSheet::refresh);
    connect(&store_, &StudioStore::selectedIDChanged, this, &BatchProcessSheet::refresh);
    refresh();
}

BatchProcessSheet::~BatchProcessSheet() {
    if (filteredWindow_) filteredWindow_->removeEventFilter(this);
    // A running batch goes on: its completion keeps the controller and reveals through the desktop.
    batch_->changed = nullptr;
}

std::vector<EffectSlot> BatchProcessSheet::rack() const {
    for (const EffectFavorite& f : store_.favorites())
        if (f.id.text() == batch_->source) return FavoritesStore::applying(f, {}, false, {});
    if (const auto index = store_.selectedIndex()) return store_.session().tracks[*index].rack;
    return {};
}

void BatchProcessSheet::addFiles() {
    OpenRequest request;
    request.title = L("Файлы для пакетной обработки");
    request.filters = {FileFilter{L("Аудиофайлы"), audioExtensions()}};
    request.multiple = true;
    const auto chosen = store_.services().prompts->chooseFilesToOpen(request);
    if (chosen.empty()) return;
    batch_->addFiles(chosen);
    refresh();
}

void BatchProcessSheet::chooseFolder() {
    FolderRequest request;
    request.title = L("Папка для результатов");
    request.folder = batch_->folder;
    const auto chosen = store_.services().prompts->chooseFolder(request);
    if (!chosen) return;
    batch_->chooseFolder(*chosen);
    refresh();
}

void BatchProcessSheet::start() {
    if (!start_->isEnabled() || batch_->running) return;
    batch_->start(rack());
    remember(batch_->work);
    refresh();
}

void BatchProcessSheet::stop() {
    if (batch_->work) batch_->work->cancel();
}

void BatchProcessSheet::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // While a batch runs the sheet cannot be dismissed: its window's close and Escape are held.
    if (QWidget* w = window(); w != this && w != filteredWindow_) {
        if (filteredWindow_) filteredWindow_->removeEventFilter(this);
        filteredWindow_ = w;
        w->installEventFilter(this);
    }
}

bool BatchProcessSheet::eventFilter(QObject* watched, QEvent* event) {
    if (watched == filteredWindow_ && batch_->running) {
        if (event->type() == QEvent::Close) {
            event->ignore();
            return true;
        }
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) return true;
    }
    return QWidget::eventFilter(watched, event);
}

void BatchProcessSheet::refresh() {
    BatchController& b = *batch_;
    fileCount_->setText(qs(L("Файлы: {0}", b.inputs.size())));
    clear_->setEnabled(!b.inputs.empty());
    refreshFiles();
    refreshSource();

    normalize_->setChecked(b.normalize);
    format_->setCurrentIndex(format_->findData(int(b.format)));
    rate_->setCurrentIndex(rate_->findData(b.sampleRate ? int(*b.sampleRate) : 0));
    dither_->setChecked(b.dither);
    dither_->setEnabled(b.format == ExportFormat::wav16);
    const QString path = b.folder ? qs(b.folder->string()) : qs(L("не выбрана"));
    const QString folderText = qs(L("Папка: {0}", path.toStdString()));
    folder_->setText(folder_->fontMetrics().elidedText(folderText, Qt::ElideMiddle, std::max(folder_->width(), 300)));
    folder_->setToolTip(b.folder ? path : QString());
    form_->setEnabled(!b.running);

    progressRow_->setVisible(b.running);
    if (b.running) {
        // The job's own count: files removed from the list meanwhile are still in the batch.
        const std::size_t total = b.total;
        progress_->setRange(0, int(std::max<std::size_t>(total, 1)));
        progress_->setValue(int(std::min(b.done, std::max<std::size_t>(total, 1))));
        progressText_->setText(
            qs(L("Обработка {0} из {1}: {2}", std::min(b.done + 1, total), total, b.currentFile)));
    }
    refreshReport();

    result_->setText(qs(L("Результат: «имя (обработано).{0}»", extensionOf(b.format).toStdString())));
    stop_->setVisible(b.running);
    close_->setVisible(!b.running);
    start_->setVisible(!b.running);
    const bool nothingToDo = rack().empty() && !b.normalize;
    start_->setEnabled(!b.running && !b.inputs.empty() && b.folder && !nothingToDo);
}

void BatchProcessSheet::refreshFiles() {
    if (batch_->inputs == shownInputs_) return;
    while (fileRows_->count() > 1) {
        QLayoutItem* item = fileRows_->takeAt(0);
        if (QWidget* w = item->widget()) {
            w->hide();
            w->deleteLater();  // its remove button may be what got us here
        }
        delete item;
    }
    int index = 0;
    for (const auto& url : batch_->inputs) {
        auto* row = new QWidget(fileList_);
        row->setObjectName(QStringLiteral("fileRow"));
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        auto* name = text(qs(url.filename().string()), 11, row);
        name->setObjectName(QStringLiteral("fileName"));
        name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        line->addWidget(name, 1);
        auto* remove = new RemoveButton(row);
        remove->setObjectName(QStringLiteral("remove"));
        connect(remove, &QAbstractButton::clicked, this, [this, url] {
            std::erase(batch_->inputs, url);
            refresh();
        });
        line->addWidget(remove);
        fileRows_->insertWidget(index++, row);
    }
    shownInputs_ = batch_->inputs;
}

void BatchProcessSheet::refreshSource() {
    const auto& favorites = store_.favorites();
    const Track* clip = nullptr;
    if (const auto index = store_.selectedIndex()) clip = &store_.session().tracks[*index];
    QStringList labels{qs(L("Текущая цепочка клипа ({0})", clip ? clip->rack.size() : std::size_t(0)))};
    QStringList values{QStringLiteral("current")};
    for (const EffectFavorite& f : favorites) {
        labels << QStringLiteral("\u2605 ") + qs(f.name);
        values << qs(f.id.text());
    }
    bool same = source_->count() == labels.size();
    for (int i = 0; same && i < labels.size(); ++i)
        same = source_->itemText(i) == labels[i] && source_->itemData(i).toString() == values[i];
    if (!same) {
        source_->clear();
        for (int i = 0; i < labels.size(); ++i) source_->addItem(labels[i], values[i]);
    }
    // A favourite that no longer exists: no option is chosen (the clip's chain is used).
    source_->setCurrentIndex(source_->findData(qs(batch_->source)));
    const auto chain = rack();
    chain_->setText(chain.empty() ? qs(L("Без эффектов")) : chainSummary(chain));
}

void BatchProcessSheet::refreshReport() {
    const auto& report = batch_->report;
    reportBox_->setVisible(report.has_value());
    if (!report) return;
    if (reportShown_ && shownReport_ == report) return;
    reportSummary_->setText(qs(summaryOf(*report)));
    while (QLayoutItem* item = failureRows_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const auto& [text, warns] : reportLines(*report)) {
        auto* line = panels::style::label(qs(text), Fonts::ui(10), warns ? panels::orange() : Palette::secondaryText(),
                                          reportBox_);
        line->setObjectName(QStringLiteral("reportLine"));
        line->setWordWrap(true);
        line->setMaximumHeight(2 * line->fontMetrics().lineSpacing() + 2);
        failureRows_->addWidget(line);
    }
    shownReport_ = report;
    reportShown_ = true;
}

std::vector<QLabel*> BatchProcessSheet::fileLabels() const {
    std::vector<QLabel*> out;
    for (int i = 0; i < fileRows_->count(); ++i)
        if (QWidget* w = fileRows_->itemAt(i)->widget())
            out.push_back(w->findChild<QLabel*>(QStringLiteral("fileName")));
    return out;
}

std::vector<QAbstractButton*> BatchProcessSheet::removeButtons() const {
    std::vector<QAbstractButton*> out;
    for (int i = 0; i < fileRows_->count(); ++i)
        if (QWidget* w = fileRows_->itemAt(i)->widget())
            out.push_back(w->findChild<QAbstractButton*>(QStringLiteral("remove")));
    return out;
}

std::vector<QLabel*> BatchProcessSheet::reportLabels() const {
    std::vector<QLabel*> out;
    for (int i = 0; i < failureRows_->count(); ++i)
        if (auto* l = qobject_cast<QLabel*>(failureRows_->itemAt(i)->widget())) out.push_back(l);
    return out;
}

}  // namespace tessoral

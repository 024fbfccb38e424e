#include "app/inspector/ExportSheet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "app/inspector/InspectorStyle.h"
#include "model/EnumTraits.h"
#include "model/ExportFormat.h"
#include "model/Localization.h"
#include "model/LoudnessTarget.h"
#include "model/Session.h"
#include "store/StudioStore.h"
#include "widgets/SegmentedControl.h"

namespace tessoral {

namespace {

constexpr int kPickerWidth = 230;

QHBoxLayout* pickerRow(const QString& title, QWidget* picker, QWidget* parent) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(ui::label(title, Fonts::ui(13), Palette::primaryText(), parent));
    row->addStretch(1);
    picker->setFixedWidth(kPickerWidth);
    row->addWidget(picker);
    return row;
}

}  // namespace

QString ExportSheet::rateLabel(ExportSampleRate rate) {
    switch (rate) {
        case ExportSampleRate::hz44100: return ui::qs(L("44,1 кГц"));
        case ExportSampleRate::hz48000: return ui::qs(L("48 кГц"));
        case ExportSampleRate::hz96000: return ui::qs(L("96 кГц"));
    }
    return ui::qs(L("48 кГц"));
}

QString ExportSheet::summary(const ExportOptions& options) {
    const ExportSampleRate effective = options.effectiveSampleRate();
    const std::string note = options.sampleRate != effective ? L(" (AAC — не выше 48 кГц)") : std::string();
    return ui::qs(L("Стерео, {0}{1}; пересчёт частоты — мастеринг-качество. FLAC и Apple Lossless сжимают без потерь; "
                    "AAC — компактный формат с потерями. Кодирование MP3 недоступно.",
                    rateLabel(effective).toStdString(), note));
}

ExportSheet::ExportSheet(StudioStore& store, QWidget* parent) : QWidget(parent), store_(store) {
    setObjectName(QStringLiteral("exportSheet"));
    setFixedWidth(kWidth);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(26, 26, 26, 26);
    column->setSpacing(20);
    column->addWidget(ui::label(ui::qs(L("Экспорт аудио")), Fonts::ui(20, QFont::DemiBold), Palette::primaryText(), this));

    format_ = new QComboBox(this);
    format_->setObjectName(QStringLiteral("formatPicker"));
    format_->setAccessibleName(ui::qs(L("Формат")));
    for (const auto& [format, raw] : EnumTraits<ExportFormat>::cases)
        format_->addItem(ui::qs(tessoral::title(format)), static_cast<int>(format));
    connect(format_, &QComboBox::activated, this,
            [this](int i) { store_.setExportFormat(static_cast<ExportFormat>(format_->itemData(i).toInt())); });
    column->addLayout(pickerRow(ui::qs(L("Формат")), format_, this));

    QStringList rates;
    for (ExportSampleRate r : kExportSampleRates) rates << rateLabel(r);
    rate_ = new SegmentedControl(rates, this);
    rate_->setObjectName(QStringLiteral("ratePicker"));
    rate_->setAccessibleName(ui::qs(L("Частота#samplerate")));
    connect(rate_, &SegmentedControl::activated, this, [this](int i) {
        if (i >= 0 && i < static_cast<int>(kExportSampleRates.size()))
            store_.setExportSampleRate(kExportSampleRates[static_cast<std::size_t>(i)]);
    });
    column->addLayout(pickerRow(ui::qs(L("Частота#samplerate")), rate_, this));

    loudness_ = new QComboBox(this);
    loudness_->setObjectName(QStringLiteral("loudnessPicker"));
    loudness_->setAccessibleName(ui::qs(L("Громкость")));
    for (const auto& [target, raw] : EnumTraits<LoudnessTarget>::cases)
        loudness_->addItem(ui::qs(tessoral::title(target)), static_cast<int>(target));
    connect(loudness_, &QComboBox::activated, this, [this](int i) {
        store_.setExportLoudness(static_cast<LoudnessTarget>(loudness_->itemData(i).toInt()));
    });
    auto* loudnessRow = new QWidget(this);
    loudnessRow->setObjectName(QStringLiteral("loudnessRow"));
    loudnessRow->setToolTip(ui::qs(L("Цели LUFS измеряются по BS.1770; если истинный пик превысит потолок (−1 dBTP, "
                                     "для ATSC −2 dBTP), включается лимитер")));
    loudnessRow->setLayout(pickerRow(ui::qs(L("Громкость")), loudness_, loudnessRow));
    column->addWidget(loudnessRow);

    dither_ = new QCheckBox(ui::qs(L("Дизеринг TPDF")), this);
    dither_->setObjectName(QStringLiteral("dither"));
    dither_->setToolTip(ui::qs(L("Треугольный шум ±1 младший разряд при переводе в 16 бит: тихие хвосты не "
                                 "превращаются в искажения")));
    connect(dither_, &QCheckBox::clicked, this, [this](bool on) { store_.setExportDither(on); });
    column->addWidget(dither_);

    summary_ = ui::note({}, this);
    summary_->setObjectName(QStringLiteral("summary"));
    column->addWidget(summary_);

    selectionOnly_ = new QCheckBox(ui::qs(L("Только выделение")), this);
    selectionOnly_->setObjectName(QStringLiteral("selectionOnly"));
    connect(selectionOnly_, &QCheckBox::clicked, this, [this](bool on) { store_.setExportSelection(on); });
    column->addWidget(selectionOnly_);
    scope_ = new QCheckBox(this);
    scope_->setObjectName(QStringLiteral("scope"));
    connect(scope_, &QCheckBox::clicked, this, [this](bool on) { store_.setExportSelectedTrack(on); });
    column->addWidget(scope_);

    auto* buttons = new QHBoxLayout;
    markers_ = new QPushButton(ui::qs(L("Диапазоны маркеров…")), this);
    markers_->setObjectName(QStringLiteral("markerRanges"));
    markers_->setAutoDefault(false);
    markers_->setToolTip(
        ui::qs(L("Отдельный файл для каждого маркера-диапазона с этими настройками: «01 Название»")));
    connect(markers_, &QPushButton::clicked, this, [this] { store_.exportMarkerRanges(); });
    cancel_ = new QPushButton(ui::qs(L("Отмена")), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, [this] { store_.setShowExport(false); });
    export_ = new QPushButton(ui::qs(L("Экспортировать")), this);
    export_->setObjectName(QStringLiteral("export"));
    export_->setDefault(true);
    ui::makeProminent(export_);
    connect(export_, &QPushButton::clicked, this, [this] { store_.exportMix(); });
    buttons->addWidget(markers_);
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    buttons->addWidget(export_);
    column->addLayout(buttons);

    for (auto signal : {&StudioStore::exportFormatChanged, &StudioStore::exportSampleRateChanged,
                        &StudioStore::exportLoudnessChanged, &StudioStore::exportDitherChanged,
                        &StudioStore::exportSelectionChanged, &StudioStore::exportSelectedTrackChanged,
                        &StudioStore::selectionChanged, &StudioStore::selectedIDChanged,
                        &StudioStore::selectedLaneIDChanged, &StudioStore::editorModeChanged,
                        &StudioStore::sessionChanged})
        connect(&store_, signal, this, &ExportSheet::refresh);
    refresh();
    // The sheet is made while the store turns `showExport` on, before it reloads the saved
    // defaults: the opening rules run once that has happened.
    QTimer::singleShot(0, this, &ExportSheet::applyAppearanceRules);
}

void ExportSheet::applyAppearanceRules() {
    if (!store_.selection()) store_.setExportSelection(false);
    store_.setExportSelectedTrack(store_.editorMode() == EditorMode::waveform && store_.selectedID().has_value());
}

void ExportSheet::refresh() {
    const StudioStore& s = store_;
    const int formatIndex = format_->findData(static_cast<int>(s.exportFormat()));
    if (format_->currentIndex() != formatIndex) format_->setCurrentIndex(formatIndex);
    const auto rate = std::find(kExportSampleRates.begin(), kExportSampleRates.end(), s.exportSampleRate());
    rate_->setCurrentIndex(rate == kExportSampleRates.end() ? -1 : static_cast<int>(rate - kExportSampleRates.begin()));
    const int loudnessIndex = loudness_->findData(static_cast<int>(s.exportLoudness()));
    if (loudness_->currentIndex() != loudnessIndex) loudness_->setCurrentIndex(loudnessIndex);
    dither_->setChecked(s.exportDither());
    dither_->setEnabled(s.exportFormat() == ExportFormat::wav16);
    const QString text = summary(s.exportOptions());
    if (summary_->text() != text) summary_->setText(text);

    selectionOnly_->setChecked(s.exportSelection());
    selectionOnly_->setEnabled(s.selection().has_value());
    scope_->setChecked(s.exportSelectedTrack());
    if (s.editorMode() == EditorMode::waveform) {
        scope_->setText(ui::qs(L("Только выбранный клип")));
        scope_->setEnabled(s.selectedID().has_value());
        scope_->setToolTip(ui::qs(L("Клип так, как он звучит в редакторе «Волна»: без громкости, панорамы и "
                                    "автоматизации клипа и дорожки")));
    } else {
        scope_->setText(ui::qs(L("Только выбранная дорожка")));
        scope_->setEnabled(s.selectedLaneID().has_value());
        scope_->setToolTip(ui::qs(L("Все клипы выбранной дорожки; громкость, панорама и выключение дорожки не "
                                    "учитываются")));
    }
    const auto& markers = s.session().markers;
    markers_->setEnabled(std::any_of(markers.begin(), markers.end(), [](const SessionMarker& m) { return m.isRange(); }));
}

}  // namespace tessoral

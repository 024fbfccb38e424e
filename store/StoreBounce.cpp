// Bouncing the mix into a new clip, range markers exported as one file each, and the marker list
// as CSV.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/AtomicFile.h"
#include "model/Limits.h"
#include "model/Localization.h"
#include "processing/MarkerExport.h"
#include "processing/RackRenderer.h"
#include "store/StudioStore.h"

namespace tessoral {

namespace {

// The name of a folder as the file manager shows it (also for a path ending in a separator).
std::string folderName(const std::filesystem::path& folder) {
    std::filesystem::path p = folder.lexically_normal();
    if (p.filename().empty()) p = p.parent_path();
    const std::string name = p.filename().string();
    return name.empty() ? p.string() : name;
}

// How many names of conflicting files the overwrite question lists.
constexpr std::size_t kListedConflicts = 5;

}  // namespace

void StudioStore::bounceToNewTrack() {
    if (locked() || session_.tracks.empty()) return;
    if (session_.lanes.size() >= static_cast<std::size_t>(limits::kMaxLanes) ||
        session_.tracks.size() >= static_cast<std::size_t>(limits::kMaxClips)) {
        setError(L("Достигнут предел проекта: {0} дорожек и {1} клипов.", limits::kMaxLanes, limits::kMaxClips));
        return;
    }
    stop();
    const auto rows = static_cast<std::int64_t>(session_.lanes.size());
    const std::string name = L("Сведение {0}", rows + 1);
    const std::int64_t color = rows % limits::kPaletteSize;
    std::function<Track()> work = [project = session_, selection = selection_, name, color]() mutable {
        std::optional<TimeRange> range;
        if (selection && selection->upper > selection->lower) range = selection;
        project.masterDB = 0.0;
        Track clip = Track::make(name, RackRenderer::mix(project, range));
        clip.color = color;
        clip.start = range ? std::max(range->lower, 0.0) : 0.0;
        return clip;
    };
    std::function<void(Track&&)> apply = [this](Track&& clip) {
        if (session_.bytes() + clip.frames() * 8 > limits::kMaxBytes) {
            setError(L("Недостаточно памяти проекта для новой дорожки."));
            return;
        }
        const std::string clipName = clip.name;
        const std::string length = timeLabel(clip.duration());
        checkpoint(L("Свести в новую дорожку"));
        Session changed = session_;
        const Uuid id = changed.appendOnNewLane(std::move(clip));
        setSession(std::move(changed));
        setSelectedID(id);
        setStatus(L("Сведено в «{0}»: {1}", clipName, length));
    };
    runLong<Track>(L("Сведение…"), std::move(work), std::move(apply));
}

void StudioStore::exportMarkerRanges() {
    if (locked() || session_.tracks.empty()) return;
    // A range over none of the selected clip's or row's audio is as far outside it as one beyond its end.
    Session source = exportSelectedTrack_ ? MarkerExport::withoutSilentRanges(isolatedExportSession()) : session_;
    if (MarkerExport::items(source.markers, source.duration()).empty()) {
        const bool elsewhere =
            exportSelectedTrack_ && !MarkerExport::items(session_.markers, session_.duration()).empty();
        if (elsewhere && editorMode_ == EditorMode::waveform)
            setError(L("Маркеры-диапазоны лежат за пределами выбранного клипа. Отключите «Только выбранный клип» "
                       "или выберите другой клип."));
        else if (elsewhere)
            setError(L("Маркеры-диапазоны лежат за пределами выбранной дорожки. Отключите «Только выбранная "
                       "дорожка» или выберите другую дорожку."));
        else
            setError(L("В проекте нет маркеров-диапазонов. Выделите фрагмент и добавьте маркер (M)."));
        return;
    }
    FolderRequest request;
    request.title = L("Папка для диапазонов маркеров");
    request.prompt = L("Экспортировать");
    const auto chosen = services_.prompts->chooseFolder(request);
    if (!chosen || chosen->empty()) return;
    const std::filesystem::path folder = *chosen;
    const ExportOptions options = exportOptions();
    bool replace = false;
    if (const auto existing = MarkerExport::existing(source, folder, options); !existing.empty()) {
        AlertRequest alert;
        alert.message = L("В папке уже есть файлы с такими именами ({0})", static_cast<std::int64_t>(existing.size()));
        for (std::size_t i = 0; i < existing.size() && i < kListedConflicts; ++i) {
            if (i > 0) alert.informative += "\n";
            alert.informative += existing[i].filename().string();
        }
        if (existing.size() > kListedConflicts) alert.informative += "\n…";
        alert.buttons = {L("Сохранить оба"), L("Заменить"), L("Отмена")};
        const auto answer = services_.prompts->alert(alert);
        if (answer == 0)
            replace = false;
        else if (answer == 1)
            replace = true;
        else
            return;
    }
    stop();
    saveExportDefaults();
    setShowExport(false);
    std::function<std::vector<std::filesystem::path>()> work = [source = std::move(source), folder, options, replace] {
        return MarkerExport::exportRanges(source, folder, options, replace);
    };
    std::function<void(std::vector<std::filesystem::path>&&)> apply =
        [this, folder](std::vector<std::filesystem::path>&& files) {
            // The count after the noun reads for every number in Russian; the English counts "file".
            setStatus(LP(static_cast<long long>(files.size()),
                         "Экспортировано файлов: {0} в «{1}»|Экспортировано файлов: {0} в «{1}»|"
                         "Экспортировано файлов: {0} в «{1}»",
                         folderName(folder)));
            revealFiles(files);
        };
    runLong<std::vector<std::filesystem::path>>(L("Экспорт диапазонов маркеров…"), std::move(work), std::move(apply),
                                                [this] { setStatus(L("Ошибка экспорта")); });
}

void StudioStore::exportMarkerCSV() {
    if (locked() || session_.markers.empty()) return;
    SaveRequest request;
    request.title = L("Экспорт списка маркеров");
    request.proposedName = L("{0} — маркеры.csv", title());
    request.extension = "csv";
    request.filterName = "CSV";
    const auto target = services_.prompts->chooseSaveFile(request);
    if (!target) return;
    const std::string text = "\xEF\xBB\xBF" + MarkerExport::csv(session_.markers);
    try {
        AtomicFile::write(*target, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()),
                                                                  text.size()));
    } catch (...) {
        setError(describe(std::current_exception()));
        return;
    }
    setStatus(L("Список маркеров сохранён: {0}", target->filename().string()));
}

}  // namespace tessoral

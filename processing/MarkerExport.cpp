#include "processing/MarkerExport.h"

#include <algorithm>
#include <cmath>
#include <system_error>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "model/StudioError.h"
#include "model/Track.h"
#include "model/UnicodeText.h"
#include "processing/RackRenderer.h"

namespace tessoral::MarkerExport {

namespace {

// Room kept for the " k" of a taken name.
constexpr std::size_t kSuffixReserve = 6;

// Sort key with NaN after everything, so the order is always a strict weak order.
double sortKey(double start) { return std::isnan(start) ? std::numeric_limits<double>::infinity() : start; }

std::vector<SessionMarker> sortedByStart(const std::vector<SessionMarker>& markers) {
    std::vector<SessionMarker> sorted = markers;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const SessionMarker& a, const SessionMarker& b) { return sortKey(a.start) < sortKey(b.start); });
    return sorted;
}

bool fileExists(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(p, ec));
}

std::string cleanedName(const std::string& name) {
    std::string cleaned = UnicodeText::trimmingWhitespace(UnicodeText::replacingFileNameForbidden(name, "-"));
    std::size_t dots = 0;
    while (dots < cleaned.size() && cleaned[dots] == '.') ++dots;
    cleaned.erase(0, dots);
    if (cleaned.empty()) return L("Маркер");
    return cleaned;
}

// An RFC 4180 field.
std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

}  // namespace

std::vector<Item> items(const std::vector<SessionMarker>& markers, double duration) {
    std::vector<Item> out;
    for (const auto& m : sortedByStart(markers)) {
        if (!m.end) continue;
        const double s = std::max(m.start, 0.0);
        const double e = std::min(*m.end, duration);
        // NaN anywhere fails this test.
        if (!(e - s >= kMinimumLength)) continue;
        out.push_back({static_cast<int>(out.size()) + 1, m, TimeRange{s, e}});
    }
    return out;
}

Session withoutSilentRanges(Session project) {
    const bool solo = project.soloActive();
    const double duration = project.duration();
    const auto silent = [&](const SessionMarker& m) {
        if (!m.end) return false;
        // The part items() exports; one under a frame is left out there already.
        const double s = std::max(m.start, 0.0), e = std::min(*m.end, duration);
        if (!(e - s >= kMinimumLength)) return false;
        return std::none_of(project.tracks.begin(), project.tracks.end(), [&](const Track& clip) {
            return project.isAudible(clip, solo) && clip.start < e && clip.end() > s;
        });
    };
    std::erase_if(project.markers, silent);
    return project;
}

std::string fileName(const Item& item, std::string_view fileExtension) {
    std::string name = UnicodeText::prefixCharacters(cleanedName(item.marker.name), kNameCharacters);
    std::string head = num::padded(item.number, 2);
    head += ' ';
    const std::size_t fixed = head.size() + 1 + fileExtension.size() + kSuffixReserve;
    // Long multi-byte names: drop whole characters until the name fits the file system.
    if (fixed + name.size() > kMaxFileNameBytes) {
        std::size_t count = UnicodeText::characterCount(name);
        while (count > 0 && fixed + name.size() > kMaxFileNameBytes) name = UnicodeText::prefixCharacters(name, --count);
    }
    head += name;
    head += '.';
    head += fileExtension;
    return head;
}

std::vector<std::filesystem::path> existing(const Session& project, const std::filesystem::path& folder,
                                            const ExportOptions& options) {
    std::vector<std::filesystem::path> out;
    const std::string_view extension = fileExtension(options.format);
    for (const auto& item : items(project.markers, project.duration())) {
        auto url = folder / fileName(item, extension);
        if (fileExists(url)) out.push_back(std::move(url));
    }
    return out;
}

std::vector<std::filesystem::path> exportRanges(const Session& project, const std::filesystem::path& folder,
                                                const ExportOptions& options, bool replaceExisting) {
    const auto list = items(project.markers, project.duration());
    if (list.empty())
        throw StudioError(L("В проекте нет маркеров-диапазонов. Выделите фрагмент и добавьте маркер (M)."));
    const std::string extension(fileExtension(options.format));
    std::vector<std::filesystem::path> written;
    for (const auto& item : list) {
        auto url = folder / fileName(item, extension);
        if (!replaceExisting && fileExists(url)) {
            const std::string base = url.stem().string();
            for (long long k = 2;; ++k) {
                std::string name = base;
                name.append(" ").append(num::integer(k)).append(".").append(extension);
                auto candidate = folder / name;
                if (!fileExists(candidate)) {
                    url = std::move(candidate);
                    break;
                }
            }
        }
        const AudioData audio = RackRenderer::mix(project, item.range);
        ExportPipeline::exportMix(audio, url, options);
        written.push_back(std::move(url));
    }
    return written;
}

std::string csv(const std::vector<SessionMarker>& markers) {
    std::string out = L("Название,Начало,Конец,Длительность,Начало (с),Конец (с),Тип");
    out += '\n';
    for (const auto& m : sortedByStart(markers)) {
        const double end = m.end.value_or(m.start);
        out += csvField(m.name);
        for (const std::string& field :
             {timeLabel(m.start), timeLabel(end), timeLabel(end - m.start), num::fixed(m.start, 3), num::fixed(end, 3),
              m.end ? L("Диапазон") : L("Точка")}) {
            out += ',';
            out += field;
        }
        out += '\n';
    }
    return out;
}

}  // namespace tessoral::MarkerExport

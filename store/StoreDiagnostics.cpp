// Diagnostics of one clip: scanning for clicks, clipping and silence, jumping to a finding, and
// repairing the chosen findings as one undo step.

#include <QString>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "model/Automation.h"
#include "model/Localization.h"
#include "processing/Diagnostics.h"
#include "store/StudioStore.h"

namespace tessoral {

std::string title(DiagnosticKind kind) {
    switch (kind) {
        case DiagnosticKind::clicks: return L("Щелчки");
        case DiagnosticKind::clipping: return L("Клиппинг");
        case DiagnosticKind::silence: return L("Тишина");
    }
    return L("Щелчки");
}

std::string title(ToneWaveform waveform) {
    switch (waveform) {
        case ToneWaveform::sine: return L("Синус");
        case ToneWaveform::square: return L("Меандр");
        case ToneWaveform::sawtooth: return L("Пила");
        case ToneWaveform::triangle: return L("Треугольник");
    }
    return L("Синус");
}

std::string title(NoiseColor color) {
    switch (color) {
        case NoiseColor::white: return L("Белый");
        case NoiseColor::pink: return L("Розовый");
        case NoiseColor::brown: return L("Коричневый");
    }
    return L("Белый");
}

namespace {

FrameRange clampedRange(FrameRange range, std::int64_t frames) {
    return {clampTo<std::int64_t>(range.lower, 0, frames), clampTo<std::int64_t>(range.upper, 0, frames)};
}

std::string lowercased(const std::string& text) { return QString::fromStdString(text).toLower().toStdString(); }

// Rebuilds the clipped runs of the findings in both channels, then lowers the scanned range by the
// headroom (at most 0 dB: a positive headroom never raises).
AudioData repairClipping(const AudioData& audio, const std::vector<DiagnosticFinding>& targets,
                         const DiagnosticSettings& settings, std::optional<FrameRange> scanned) {
    const std::int64_t n = audio.frames();
    const float level = Diagnostics::clipLevel(settings.clipThresholdDB);
    std::vector<float> left(audio.left.begin(), audio.left.end());
    std::vector<float> right(audio.right.begin(), audio.right.end());
    for (const DiagnosticFinding& target : targets) {
        const FrameRange span = clampedRange(target.range, n);
        Diagnostics::reconstructClipped(left, audio.left.span(), span, level);
        Diagnostics::reconstructClipped(right, audio.right.span(), span, level);
    }
    const double headroom =
        std::isfinite(settings.declipHeadroomDB) ? std::clamp(settings.declipHeadroomDB, -24.0, 0.0) : 0.0;
    const auto gain = static_cast<float>(std::pow(10.0, headroom / 20.0));
    if (gain < 1.0f) {
        const FrameRange lowered = scanned ? clampedRange(*scanned, n) : FrameRange{0, n};
        for (std::int64_t i = lowered.lower; i < lowered.upper; ++i) {
            left[static_cast<std::size_t>(i)] *= gain;
            right[static_cast<std::size_t>(i)] *= gain;
        }
    }
    return AudioData(std::move(left), std::move(right));
}

}  // namespace

bool StudioStore::rescansPreviousRange() const {
    return selection_ && diagnostics_.findingSelection && *selection_ == *diagnostics_.findingSelection &&
           selectedID_ == diagnostics_.trackID && diagnostics_.scannedRange.has_value();
}

bool StudioStore::sheetShowsError() const { return diagnostics_.sheet.has_value() || showMatchLoudness_; }

void StudioStore::scanDiagnostics() {
    if (locked()) return;
    const auto index = selectedIndex();
    if (!index) {
        setError(L("Выберите клип для сканирования."));
        return;
    }
    const Track& clip = session_.tracks[*index];
    const FrameRange range = rescansPreviousRange() ? clampedRange(*diagnostics_.scannedRange, clip.frames())
                                                    : clip.framesIn(selection_);
    if (range.empty()) {
        setError(L("Выделите фрагмент внутри выбранного клипа."));
        return;
    }
    stop();
    const DiagnosticKind kind = diagnostics_.kind;
    const DiagnosticSettings settings = diagnostics_.settings;
    const Uuid id = clip.id;
    const Uuid revision = clip.revision;
    std::function<std::vector<DiagnosticFinding>()> work = [audio = clip.audio, range, kind, settings] {
        const FrameRange inside = clampedRange(range, audio.frames());
        if (inside.empty()) return std::vector<DiagnosticFinding>{};
        switch (kind) {
            case DiagnosticKind::clicks: return Diagnostics::detectClicks(audio, inside, settings.clickSensitivity);
            case DiagnosticKind::clipping:
                return Diagnostics::detectClipping(audio, inside, settings.clipThresholdDB, settings.clipMinRun);
            case DiagnosticKind::silence:
                return Diagnostics::detectSilence(audio, inside, settings.silenceThresholdDB,
                                                  settings.silenceMinDuration);
        }
        return std::vector<DiagnosticFinding>{};
    };
    std::function<void(std::vector<DiagnosticFinding>&&)> apply =
        [this, kind, id, revision, range](std::vector<DiagnosticFinding>&& findings) {
            const std::size_t count = findings.size();
            DiagnosticsState state = diagnostics_;
            state.findings = std::move(findings);
            state.selected.clear();
            state.trackID = id;
            state.revision = revision;
            state.scannedKind = kind;
            state.scannedRange = range;
            state.headroomApplied = false;
            setDiagnostics(std::move(state));
            if (count > 0) {
                std::string text = L("{0}: найдено {1}", tessoral::title(kind), static_cast<std::int64_t>(count));
                if (count >= Diagnostics::kMaxFindings) text += L(" (показаны первые)");
                setStatus(std::move(text));
            } else {
                setStatus(L("{0}: проблем не найдено", tessoral::title(kind)));
            }
        };
    runLong<std::vector<DiagnosticFinding>>(L("Сканирование: {0}…", lowercased(tessoral::title(kind))), std::move(work),
                                            std::move(apply));
}

void StudioStore::showFinding(const DiagnosticFinding& finding) {
    if (locked() || !diagnostics_.trackID) return;
    const Track* clip = session_.track(*diagnostics_.trackID);
    if (!clip) return;
    stop();
    const double pad = finding.kind == DiagnosticKind::clicks ? 0.001 : 0.0;
    const double start = clip->start;
    const double end = start + framesToSeconds(clip->frames());
    const double lower = std::max(start, start + framesToSeconds(finding.range.lower) - pad);
    const double upper = std::max(lower, std::min(end, start + framesToSeconds(finding.range.upper) + pad));
    setSelectedID(clip->id);
    setSelection(TimeRange{lower, upper});
    DiagnosticsState state = diagnostics_;
    state.findingSelection = selection_;
    setDiagnostics(std::move(state));
    setCursor(lower);
}

void StudioStore::fixDiagnostics(bool all) {
    if (locked() || !diagnostics_.trackID) return;
    const Uuid id = *diagnostics_.trackID;
    const Track* clip = session_.track(id);
    if (!clip) return;
    if (!diagnostics_.revision || clip->revision != *diagnostics_.revision) {
        setError(L("Дорожка изменилась после сканирования. Запустите сканирование ещё раз."));
        return;
    }
    std::vector<DiagnosticFinding> targets;
    for (const DiagnosticFinding& finding : diagnostics_.findings)
        if (all || diagnostics_.selected.count(finding.id)) targets.push_back(finding);
    if (targets.empty()) {
        setError(L("Выберите находки в списке."));
        return;
    }
    const DiagnosticKind kind = diagnostics_.scannedKind;
    DiagnosticSettings settings = diagnostics_.settings;
    if (diagnostics_.headroomApplied) settings.declipHeadroomDB = 0.0;
    const std::optional<FrameRange> scanned = diagnostics_.scannedRange;
    const bool deletesSilence = kind == DiagnosticKind::silence && settings.silenceDelete;
    std::string name;
    switch (kind) {
        case DiagnosticKind::clicks: name = L("Удаление щелчков"); break;
        case DiagnosticKind::clipping: name = L("Восстановление клиппинга"); break;
        case DiagnosticKind::silence:
            name = settings.silenceDelete ? L("Удаление тишины") : L("Заглушение тишины");
            break;
    }
    const std::int64_t frames = clip->frames();
    stop();
    // The repaired audio, and which targets the repair really repaired (a click repair checks its
    // work; the other repairs repair every target).
    struct Repair {
        RefreshedAudio refreshed;
        std::vector<bool> repaired;
    };
    std::function<Repair()> work = [audio = clip->audio, targets, kind, settings, scanned] {
        const std::vector<bool> every(targets.size(), true);
        switch (kind) {
            case DiagnosticKind::clicks: {
                Diagnostics::ClickRepair repair = Diagnostics::repairClicks(audio, targets, settings.clickSensitivity);
                return Repair{RefreshedAudio::of(std::move(repair.audio)), std::move(repair.repaired)};
            }
            case DiagnosticKind::clipping:
                return Repair{RefreshedAudio::of(repairClipping(audio, targets, settings, scanned)), every};
            case DiagnosticKind::silence:
                if (settings.silenceDelete)
                    return Repair{RefreshedAudio::of(Diagnostics::removeSilence(audio, targets, settings.silenceKeepPause)), every};
                return Repair{RefreshedAudio::of(Diagnostics::muteSilence(audio, targets)), every};
        }
        return Repair{RefreshedAudio::of(audio), every};
    };
    std::function<void(Repair&&)> apply = [this, id, name, targets, kind, settings, deletesSilence,
                                           frames](Repair&& repair) {
        const auto index = session_.trackIndex(id);
        if (!index) {
            setError(L("Дорожка удалена."));
            return;
        }
        refreshClip(*index, name, std::move(repair.refreshed), [&](Track& changed) {
            if (!deletesSilence) return;
            const auto cuts = Diagnostics::silenceCuts(frames, targets, settings.silenceKeepPause);
            for (auto cut = cuts.rbegin(); cut != cuts.rend(); ++cut) {
                const TimeRange removed{framesToSeconds(cut->lower), framesToSeconds(cut->upper)};
                changed.volumeEnvelope = Automation::replacing(changed.volumeEnvelope, removed, 0.0);
                changed.panEnvelope = Automation::replacing(changed.panEnvelope, removed, 0.0);
            }
        });
        std::set<Uuid> repaired;
        for (std::size_t i = 0; i < targets.size(); ++i)
            if (i < repair.repaired.size() && repair.repaired[i]) repaired.insert(targets[i].id);
        DiagnosticsState state = diagnostics_;
        if (deletesSilence) {
            state.findings.clear();
        } else {
            std::erase_if(state.findings, [&](const DiagnosticFinding& f) { return repaired.count(f.id) > 0; });
        }
        state.selected.clear();
        state.revision = session_.tracks[*index].revision;
        if (kind == DiagnosticKind::clipping && settings.declipHeadroomDB < 0.0) state.headroomApplied = true;
        setDiagnostics(std::move(state));
        if (deletesSilence) {
            setSelection(std::nullopt);
            setCursor(std::min(cursor_, session_.duration()));
        }
        const auto fixed = static_cast<std::int64_t>(repaired.size());
        const auto asked = static_cast<std::int64_t>(targets.size());
        // Findings a repair could not mend stay listed, and the count says so.
        setStatus(fixed == asked ? L("{0}: исправлено {1}", name, fixed) : L("{0}: исправлено {1} из {2}", name, fixed, asked));
    };
    runLong<Repair>(name + "…", std::move(work), std::move(apply));
}

}  // namespace tessoral

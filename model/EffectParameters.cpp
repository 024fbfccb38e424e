#include "model/EffectParameters.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "model/TextJoin.h"

namespace tessoral {

namespace {

EffectParameter row(std::string key, std::string title, std::string unit, double lower, double upper,
                    double defaultValue, bool logarithmic = false) {
    EffectParameter p;
    p.key = std::move(key);
    p.title = std::move(title);
    p.range = {lower, upper};
    p.defaultValue = defaultValue;
    p.unit = std::move(unit);
    p.logarithmic = logarithmic;
    return p;
}

constexpr bool kLog = true;

// Step 2 of reading a value: the entry cleaned for a known parameter.
double cleaned(const EffectParameter& p, double entry) {
    if (!std::isfinite(entry)) return p.defaultValue;
    if (p.toggle) return entry >= 0.5 ? 1.0 : 0.0;
    return std::min(std::max(entry, p.range.lower), p.range.upper);
}

std::vector<EffectParameter> parametricParameters() {
    const std::string hz = L("Гц");
    const std::string db = L("дБ");
    std::vector<EffectParameter> out;
    out.reserve(30);
    for (const EQBandSpec& band : EQDesign::parametricBands()) {
        EffectParameter on = row(joined(band.id, ".on"), L("{0}: вкл", band.title), "", 0, 1, band.enabled ? 1 : 0);
        on.toggle = true;
        out.push_back(std::move(on));
        out.push_back(row(joined(band.id, ".f"), L("{0}: частота", band.title), hz, 20, 20000, band.frequency, kLog));
        if (band.kind == EQBandKind::lowShelf || band.kind == EQBandKind::peak || band.kind == EQBandKind::highShelf)
            out.push_back(row(joined(band.id, ".g"), L("{0}: усиление", band.title), db, -18, 18, 0));
        out.push_back(row(joined(band.id, ".q"), L("{0}: добротность", band.title), "", 0.1, 10, band.q, kLog));
    }
    return out;
}

std::vector<EffectParameter> graphicParameters() {
    const std::string db = L("дБ");
    const auto& labels = EQDesign::graphicLabels();
    std::vector<EffectParameter> out;
    out.reserve(labels.size());
    for (std::size_t i = 0; i < labels.size(); ++i)
        out.push_back(row(joined("g", num::integer(static_cast<long long>(i))), labels[i], db, -12, 12, 0));
    return out;
}

}  // namespace

double EffectParameter::value(double at) const {
    double p = std::isfinite(at) ? at : 0.0;
    p = std::min(std::max(p, 0.0), 1.0);
    const double lo = range.lower;
    const double hi = range.upper;
    if (logarithmic && lo > 0) return lo * std::pow(hi / lo, p);
    return lo + p * (hi - lo);
}

double EffectParameter::position(double of) const {
    const double v = cleaned(*this, of);
    const double lo = range.lower;
    const double hi = range.upper;
    if (hi <= lo) return 0.0;
    if (logarithmic && lo > 0) return std::log(v / lo) / std::log(hi / lo);
    return (v - lo) / (hi - lo);
}

std::string EffectParameter::display(double v) const {
    double x = v;
    if (!std::isfinite(x))
        x = defaultValue;
    else if (!toggle)
        x = std::min(std::max(x, range.lower), range.upper);
    if (toggle) return x >= 0.5 ? L("вкл") : L("выкл");
    if (unit == L("Гц") && x >= 1000) {
        const std::string khz = num::fixed(x / 1000, x >= 10000 ? 1 : 2);
        return L("{0} кГц", khz);
    }
    const int decimals = (std::fabs(x) < 10 && range.upper - range.lower <= 50) ? 1 : 0;
    std::string text = num::fixed(x, decimals);
    if (unit.empty()) return text;
    return text + " " + unit;
}

std::vector<EffectParameter> parameters(EffectPreset preset) {
    const std::string hz = L("Гц");
    const std::string db = L("дБ");
    const std::string ms = L("мс");
    const std::string pct = "%";
    switch (preset) {
        case EffectPreset::voice:
            return {row("lowCut", L("Срез НЧ"), hz, 40, 300, 85, kLog),
                    row("presence", L("Подъём присутствия"), db, 0, 8, 2.5)};
        case EffectPreset::deesser:
            return {row("sensitivity", L("Чувствительность"), pct, 0, 100, 50),
                    row("depth", L("Глубина"), db, 1, 24, 10),
                    row("low", L("Нижняя граница полосы"), hz, 2000, 9000, 4500, kLog)};
        case EffectPreset::leveler:
            return {row("target", L("Целевой уровень"), db, -30, -6, -18),
                    row("maxGain", L("Максимальное усиление"), db, 1, 24, 12)};
        case EffectPreset::lowCut:
            return {row("frequency", L("Частота среза"), hz, 20, 500, 100, kLog)};
        case EffectPreset::dehum50:
        case EffectPreset::dehum60:
            return {row("depth", L("Глубина"), db, 0, 40, 30)};
        case EffectPreset::telephone:
            return {row("low", L("Нижняя граница"), hz, 100, 1000, 300, kLog),
                    row("high", L("Верхняя граница"), hz, 1500, 8000, 3400, kLog)};
        case EffectPreset::warm:
            return {row("frequency", L("Частота"), hz, 60, 500, 180, kLog),
                    row("gain", L("Усиление"), db, -6, 9, 3)};
        case EffectPreset::bright:
            return {row("frequency", L("Частота"), hz, 1000, 10000, 3200, kLog),
                    row("gain", L("Усиление"), db, -6, 9, 2.5)};
        case EffectPreset::compressor:
            return {row("threshold", L("Порог"), db, -60, 0, -20),
                    row("headroom", L("Запас"), db, 0.1, 40, 8),
                    row("attack", L("Атака"), ms, 0.1, 200, 5, kLog),
                    row("release", L("Восстановление"), ms, 10, 3000, 120, kLog),
                    row("makeup", L("Усиление на выходе"), db, -20, 20, 0)};
        case EffectPreset::limiter:
            return {row("ceiling", L("Потолок"), db, -12, 0, -1),
                    row("release", L("Восстановление"), ms, 10, 1000, 50, kLog)};
        case EffectPreset::reverb: return {row("mix", L("Микс"), pct, 0, 100, 18)};
        case EffectPreset::hall: return {row("mix", L("Микс"), pct, 0, 100, 28)};
        case EffectPreset::cathedral: return {row("mix", L("Микс"), pct, 0, 100, 34)};
        case EffectPreset::echo:
            return {row("delay", L("Задержка"), ms, 20, 2000, 270, kLog),
                    row("feedback", L("Обратная связь"), pct, 0, 90, 32),
                    row("mix", L("Микс"), pct, 0, 100, 26),
                    row("lowPass", L("ФНЧ"), hz, 1000, 20000, 9500, kLog)};
        case EffectPreset::chorus:
            return {row("rate", L("Частота#rate"), hz, 0.1, 5, 0.7, kLog),
                    row("depth", L("Глубина"), ms, 1, 15, 6),
                    row("feedback", L("Обратная связь"), pct, 0, 70, 0),
                    row("mix", L("Микс"), pct, 0, 100, 35)};
        case EffectPreset::flanger:
            return {row("rate", L("Частота#rate"), hz, 0.05, 5, 0.25, kLog),
                    row("depth", L("Глубина"), ms, 0.1, 1.4, 1.2),
                    row("feedback", L("Обратная связь"), pct, 0, 90, 35),
                    row("mix", L("Микс"), pct, 0, 100, 50)};
        case EffectPreset::distortion:
            return {row("preGain", L("Предусиление"), db, -40, 20, -6),
                    row("mix", L("Микс"), pct, 0, 100, 45)};
        case EffectPreset::invert: return {};
        case EffectPreset::autoDenoise: return {row("strength", L("Сила подавления"), pct, 0, 100, 70)};
        case EffectPreset::parametricEQ: return parametricParameters();
        case EffectPreset::graphicEQ: return graphicParameters();
    }
    return {};
}

// The parameter lists for reading and cleaning values, built once per run: ranges, defaults and
// switch flags do not depend on the language (the titles in here are not shown anywhere). Building
// a list localises every title, which made each single read cost a whole list.
static const std::vector<EffectParameter>& rulesOf(EffectPreset preset) {
    static const auto table = [] {
        std::vector<std::vector<EffectParameter>> out;
        for (EffectPreset p : allCases<EffectPreset>()) out.push_back(parameters(p));
        return out;
    }();
    static const std::vector<EffectParameter> none;
    const auto index = static_cast<std::size_t>(preset);
    return index < table.size() ? table[index] : none;
}

double value(EffectPreset preset, const std::string& key, const EffectParams& params) {
    const auto entry = params.find(key);
    for (const EffectParameter& p : rulesOf(preset)) {
        if (p.key != key) continue;
        return entry == params.end() ? p.defaultValue : cleaned(p, entry->second);
    }
    return entry == params.end() ? 0.0 : entry->second;
}

EffectParams sanitized(EffectPreset preset, const EffectParams& params) {
    EffectParams out;
    for (const EffectParameter& p : rulesOf(preset)) {
        const auto entry = params.find(p.key);
        if (entry != params.end()) out.emplace(p.key, cleaned(p, entry->second));
    }
    return out;
}

bool isEqualizer(EffectPreset preset) {
    return preset == EffectPreset::parametricEQ || preset == EffectPreset::graphicEQ;
}

std::vector<EffectPreset> processingCases() {
    std::vector<EffectPreset> out;
    for (EffectPreset preset : allCases<EffectPreset>())
        if (!isEqualizer(preset)) out.push_back(preset);
    return out;
}

namespace EQDesign {

const std::vector<EQBandSpec>& parametricBands() {
    static const std::vector<EQBandSpec> bands = {
        {"hp", L("ФВЧ"), EQBandKind::highPass, 40, 0.707, false},
        {"ls", L("НЧ-полка"), EQBandKind::lowShelf, 100, 0.707, true},
        {"p1", L("Полоса 1"), EQBandKind::peak, 250, 1, true},
        {"p2", L("Полоса 2"), EQBandKind::peak, 1000, 1, true},
        {"p3", L("Полоса 3"), EQBandKind::peak, 3000, 1, true},
        {"p4", L("Полоса 4"), EQBandKind::peak, 8000, 1, true},
        {"hs", L("ВЧ-полка"), EQBandKind::highShelf, 10000, 0.707, true},
        {"lp", L("ФНЧ"), EQBandKind::lowPass, 18000, 0.707, false},
    };
    return bands;
}

const std::vector<std::string>& graphicLabels() {
    static const std::vector<std::string> labels = {
        L("31,5 Гц"), L("63 Гц"), L("125 Гц"), L("250 Гц"), L("500 Гц"),
        L("1 кГц"),   L("2 кГц"), L("4 кГц"),   L("8 кГц"),   L("16 кГц"),
    };
    return labels;
}

}  // namespace EQDesign

}  // namespace tessoral

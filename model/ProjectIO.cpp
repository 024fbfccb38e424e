#include "model/ProjectIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <string_view>
#include <system_error>
#include <unordered_set>

#include "model/AtomicFile.h"
#include "model/Automation.h"
#include "model/Bplist.h"
#include "model/EssentialSoundChain.h"
#include "model/Limits.h"
#include "model/Localization.h"
#include "model/StudioError.h"

namespace tessoral {

// Samples are stored as little-endian Float32 and written and read as they lie in memory.
static_assert(std::endian::native == std::endian::little, "sample blocks assume a little-endian host");

namespace {

// ---- limits of the reader ----

constexpr std::uint64_t kMaxBlockBytes = 92'160'000;    // one channel of one block: 23,040,000 frames
constexpr std::int64_t kMaxClipBytes = 184'320'000;     // Track::bytes of one clip
constexpr std::size_t kMaxParams = 64;

// ---- refusals ----

enum class Refusal {
    fileSize,
    project,
    lanes,
    markers,
    tempo,
    clip,
    samples,
    rack,
    essentialSound,
    automation,
    length,
    memory,
};

std::string message(Refusal r) {
    switch (r) {
        case Refusal::fileSize: return L("Проект превышает лимит памяти 384 МБ.");
        case Refusal::project: return L("Неподдерживаемый или повреждённый проект.");
        case Refusal::lanes: return L("Повреждены дорожки проекта.");
        case Refusal::markers: return L("Повреждены маркеры проекта.");
        case Refusal::tempo: return L("Повреждены темп или размер проекта.");
        case Refusal::clip: return L("Повреждённая дорожка в проекте.");
        case Refusal::samples: return L("Некорректные сэмплы в проекте.");
        case Refusal::rack: return L("Повреждена цепочка эффектов в проекте.");
        case Refusal::essentialSound: return L("Повреждены настройки основного звука в проекте.");
        case Refusal::automation: return L("Повреждена автоматизация дорожки в проекте.");
        case Refusal::length: return L("Длина проекта ограничена 8 минутами.");
        case Refusal::memory: return L("Проект превышает лимит памяти.");
    }
    return {};
}

[[noreturn]] void refuse(Refusal r) { throw StudioError(message(r)); }

bool within(double v, double lo, double hi) { return std::isfinite(v) && v >= lo && v <= hi; }

// ---- writing ----

PlistOut::Bytes sampleBytes(const SharedArray<float>& channel) {
    return {reinterpret_cast<const std::uint8_t*>(channel.data()), channel.size() * sizeof(float)};
}

// One clip as it is stored: the clip itself, or a track row folded into its single clip.
struct StoredTrack {
    const Track* clip = nullptr;
    double gainDB = 0;
    double pan = 0;
    bool muted = false;
    bool solo = false;
    std::optional<Uuid> laneID;

    explicit StoredTrack(const Track& t)
        : clip(&t), gainDB(t.gainDB), pan(t.pan), muted(t.muted), solo(t.solo), laneID(t.laneID) {}

    // The row and its one clip as a lane-less clip, when nothing of either is lost.
    static std::optional<StoredTrack> folding(const Track& t, const Lane& row) {
        if (t.gainDB != 0.0 || t.muted || row.name != t.name || row.color != t.color) return std::nullopt;
        const bool panEnvelope = !t.panEnvelope.empty();
        if (panEnvelope ? row.pan != 0.0 : t.pan != 0.0) return std::nullopt;
        StoredTrack s(t);
        s.gainDB = row.gainDB;
        s.muted = row.muted;
        s.solo = row.solo;
        if (!panEnvelope) s.pan = row.pan;
        s.laneID.reset();
        return s;
    }

    bool hasFades() const { return clip->fadeIn > 0 || clip->fadeOut > 0; }

    // Whether this clip needs version 3 in a lane-less file.
    bool needsVersion3() const {
        if (clip->essentialSound || hasFades() || !clip->volumeEnvelope.empty() || !clip->panEnvelope.empty())
            return true;
        return std::any_of(clip->rack.begin(), clip->rack.end(), [](const EffectSlot& s) { return !s.params.empty(); });
    }

    PlistOut encode() const {
        const Track& t = *clip;
        PlistOut d;
        d.add("id", t.id);
        d.add("name", t.name);
        d.add("left", PlistOut::bytes(sampleBytes(t.audio.left)));
        d.add("right", PlistOut::bytes(sampleBytes(t.audio.right)));
        d.add("start", t.start);
        d.add("gainDB", gainDB);
        d.add("pan", pan);
        d.add("muted", muted);
        d.add("solo", solo);
        d.add("color", t.color);
        PlistOut::Array rack;
        for (const auto& slot : t.rack) rack.emplace_back(slot.stored());
        d.add("rack", std::move(rack));
        d.add("rackBypassed", t.rackBypassed);
        if (t.essentialSound) d.add("essentialSound", t.essentialSound->stored());
        if (hasFades()) {
            d.add("fadeIn", t.fadeIn);
            d.add("fadeOut", t.fadeOut);
            d.add("fadeInCurve", std::string(rawValue(t.fadeInCurve)));
            d.add("fadeOutCurve", std::string(rawValue(t.fadeOutCurve)));
        }
        if (!t.volumeEnvelope.empty()) d.add("volumeEnvelope", storedEnvelope(t.volumeEnvelope));
        if (!t.panEnvelope.empty()) d.add("panEnvelope", storedEnvelope(t.panEnvelope));
        if (laneID) d.add("laneID", *laneID);
        if (t.headHandle) {
            d.add("headLeft", PlistOut::bytes(sampleBytes(t.headHandle->left)));
            d.add("headRight", PlistOut::bytes(sampleBytes(t.headHandle->right)));
        }
        if (t.tailHandle) {
            d.add("tailLeft", PlistOut::bytes(sampleBytes(t.tailHandle->left)));
            d.add("tailRight", PlistOut::bytes(sampleBytes(t.tailHandle->right)));
        }
        if (t.punchTake) d.add("punchTake", true);
        if (t.handleEnvelopes) {
            d.add("handleVolume", storedEnvelope(t.handleEnvelopes->volume));
            d.add("handlePan", storedEnvelope(t.handleEnvelopes->pan));
        }
        return d;
    }
};

// The lane-less clip list, one clip per track row in row order; none when the project
// needs its track rows.
std::optional<std::vector<StoredTrack>> legacyTracks(const Session& s) {
    if (s.lanes.size() != s.tracks.size()) return std::nullopt;
    std::vector<StoredTrack> out;
    out.reserve(s.lanes.size());
    for (const Lane& row : s.lanes) {
        const Track* only = nullptr;
        for (const Track& t : s.tracks) {
            if (t.laneID != row.id) continue;
            if (only) return std::nullopt;
            only = &t;
        }
        if (!only) return std::nullopt;
        auto folded = StoredTrack::folding(*only, row);
        if (!folded) return std::nullopt;
        out.push_back(*folded);
    }
    return out;
}

// ---- reading: the stored records ----

using Ref = BplistReader::Ref;
using DataRange = BplistReader::DataRange;

// Budgets for materialising small records: far above anything the program writes.
constexpr BplistReader::Budget kScalar{1, 1, 16u << 20};
constexpr BplistReader::Budget kRecord{8, 4096, 16u << 20};

// An envelope as stored; its points are decoded only when there are few enough to be valid.
struct StoredEnvelope {
    std::uint64_t count = 0;
    Envelope points;
    bool tooLong() const { return count > static_cast<std::uint64_t>(limits::kMaxAutomationPoints); }
};

struct StoredClip {
    Uuid id;
    std::string name;
    DataRange left, right;
    double start = 0, gainDB = 0, pan = 0;
    bool muted = false, solo = false;
    std::int64_t color = 0;
    std::uint64_t rackCount = 0;
    std::vector<EffectSlot> rack;  // decoded only when rackCount ≤ 8
    bool rackBypassed = false;
    std::optional<EssentialSound> essentialSound;
    std::optional<double> fadeIn, fadeOut;
    std::optional<std::string> fadeInCurve, fadeOutCurve;
    StoredEnvelope volumeEnvelope, panEnvelope;
    std::optional<Uuid> laneID;
    std::optional<DataRange> headLeft, headRight, tailLeft, tailRight;
    bool punchTake = false;
    std::optional<StoredEnvelope> handleVolume, handlePan;
};

struct StoredSession {
    std::int64_t version = 0;
    std::int64_t sampleRate = 0;
    double masterDB = 0;
    std::uint64_t trackCount = 0;
    std::vector<StoredClip> tracks;  // decoded only when trackCount ≤ 256
    bool hasLanes = false;
    std::uint64_t laneCount = 0;
    std::vector<Lane> lanes;  // decoded only when laneCount ≤ 32
    std::uint64_t markerCount = 0;
    std::vector<SessionMarker> markers;  // decoded only when markerCount ≤ 1000
    std::optional<double> tempo;
    std::optional<std::int64_t> beatsPerBar;
    bool autoCrossfade = false;
};

class Decoder {
public:
    explicit Decoder(const BplistReader& reader) : r_(reader) {}

    StoredSession session() {
        const Ref root = r_.root();
        if (r_.kind(root) != PlistKind::dict) refuse(Refusal::project);
        auto f = fields(root);
        StoredSession s;
        guard(Refusal::project, [&] {
            s.version = integer(need(f, "version"), "version");
            s.sampleRate = integer(need(f, "sampleRate"), "sampleRate");
            s.masterDB = number(need(f, "masterDB"), "masterDB");
            if (auto a = find(f, "autoCrossfade")) s.autoCrossfade = boolean(*a, "autoCrossfade");
        });
        const Ref tracks = guard(Refusal::project, [&] { return array(need(f, "tracks")); });
        s.trackCount = r_.count(tracks);
        if (auto lanes = find(f, "lanes")) {
            s.hasLanes = true;
            guard(Refusal::lanes, [&] {
                const Ref a = array(*lanes);
                s.laneCount = r_.count(a);
                if (s.laneCount <= static_cast<std::uint64_t>(limits::kMaxLanes))
                    for (std::uint64_t i = 0; i < s.laneCount; ++i)
                        s.lanes.push_back(Lane::fromStored(r_.value(r_.item(a, i), kRecord)));
            });
        }
        if (auto markers = find(f, "markers")) {
            guard(Refusal::markers, [&] {
                const Ref a = array(*markers);
                s.markerCount = r_.count(a);
                if (s.markerCount <= static_cast<std::uint64_t>(limits::kMaxMarkers))
                    for (std::uint64_t i = 0; i < s.markerCount; ++i)
                        s.markers.push_back(SessionMarker::fromStored(r_.value(r_.item(a, i), kRecord)));
            });
        }
        guard(Refusal::tempo, [&] {
            if (auto t = find(f, "tempo")) s.tempo = number(*t, "tempo");
            if (auto b = find(f, "beatsPerBar")) s.beatsPerBar = integer(*b, "beatsPerBar");
        });
        if (s.trackCount <= static_cast<std::uint64_t>(limits::kMaxClips))
            for (std::uint64_t i = 0; i < s.trackCount; ++i) s.tracks.push_back(clip(r_.item(tracks, i)));
        return s;
    }

private:
    using Fields = std::map<std::string, Ref, std::less<>>;

    // The entries of a dictionary by key (the last of repeated keys wins).
    Fields fields(Ref dict) const {
        Fields f;
        r_.forEachEntry(dict, [&](const std::string& key, Ref value) { f[key] = value; });
        return f;
    }

    static std::optional<Ref> find(const Fields& f, std::string_view key) {
        if (auto it = f.find(key); it != f.end()) return it->second;
        return std::nullopt;
    }

    static Ref need(const Fields& f, std::string_view key) {
        if (auto it = f.find(key); it != f.end()) return it->second;
        throw DecodeError(std::string(key) + ": missing");
    }

    template <class F>
    static auto guard(Refusal r, F&& f) -> decltype(f()) {
        try {
            return f();
        } catch (const DecodeError&) {
            refuse(r);
        } catch (const BplistError&) {
            refuse(r);
        }
    }

    PlistValue scalar(Ref ref) const { return r_.value(ref, kScalar); }
    double number(Ref ref, std::string_view what) const { return stored::number(scalar(ref), what); }
    std::int64_t integer(Ref ref, std::string_view what) const { return stored::integer(scalar(ref), what); }
    bool boolean(Ref ref, std::string_view what) const { return stored::boolean(scalar(ref), what); }
    std::string string(Ref ref, std::string_view what) const { return stored::string(scalar(ref), what); }
    Uuid uuid(Ref ref, std::string_view what) const { return stored::uuid(scalar(ref), what); }
    Ref array(Ref ref) const {
        if (r_.kind(ref) != PlistKind::array) throw DecodeError("expected an array");
        return ref;
    }
    DataRange data(Ref ref) const {
        if (r_.kind(ref) != PlistKind::data) throw DecodeError("expected data");
        return r_.data(ref);
    }

    StoredEnvelope envelope(Ref ref) const {
        const Ref a = array(ref);
        StoredEnvelope e;
        e.count = r_.count(a);
        if (!e.tooLong())
            for (std::uint64_t i = 0; i < e.count; ++i)
                e.points.push_back(AutomationPoint::fromStored(r_.value(r_.item(a, i), kRecord)));
        return e;
    }

    StoredClip clip(Ref ref) const {
        StoredClip c;
        const Fields f = guard(Refusal::clip, [&] {
            if (r_.kind(ref) != PlistKind::dict) throw DecodeError("clip: expected a dictionary");
            return fields(ref);
        });
        guard(Refusal::clip, [&] {
            c.id = uuid(need(f, "id"), "id");
            c.name = string(need(f, "name"), "name");
            c.left = data(need(f, "left"));
            c.right = data(need(f, "right"));
            c.start = number(need(f, "start"), "start");
            c.gainDB = number(need(f, "gainDB"), "gainDB");
            c.pan = number(need(f, "pan"), "pan");
            c.muted = boolean(need(f, "muted"), "muted");
            c.solo = boolean(need(f, "solo"), "solo");
            c.color = integer(need(f, "color"), "color");
            if (auto v = find(f, "laneID")) c.laneID = uuid(*v, "laneID");
            if (auto v = find(f, "headLeft")) c.headLeft = data(*v);
            if (auto v = find(f, "headRight")) c.headRight = data(*v);
            if (auto v = find(f, "tailLeft")) c.tailLeft = data(*v);
            if (auto v = find(f, "tailRight")) c.tailRight = data(*v);
            if (auto v = find(f, "punchTake")) c.punchTake = boolean(*v, "punchTake");
        });
        guard(Refusal::rack, [&] {
            if (auto v = find(f, "rack")) {
                const Ref a = array(*v);
                c.rackCount = r_.count(a);
                if (c.rackCount <= static_cast<std::uint64_t>(limits::kMaxRackSlots))
                    for (std::uint64_t i = 0; i < c.rackCount; ++i)
                        c.rack.push_back(EffectSlot::fromStored(r_.value(r_.item(a, i), kRecord)));
            }
            if (auto v = find(f, "rackBypassed")) c.rackBypassed = boolean(*v, "rackBypassed");
        });
        guard(Refusal::essentialSound, [&] {
            if (auto v = find(f, "essentialSound")) c.essentialSound = EssentialSound::fromStored(r_.value(*v, kRecord));
        });
        guard(Refusal::automation, [&] {
            if (auto v = find(f, "fadeIn")) c.fadeIn = number(*v, "fadeIn");
            if (auto v = find(f, "fadeOut")) c.fadeOut = number(*v, "fadeOut");
            if (auto v = find(f, "fadeInCurve")) c.fadeInCurve = string(*v, "fadeInCurve");
            if (auto v = find(f, "fadeOutCurve")) c.fadeOutCurve = string(*v, "fadeOutCurve");
            if (auto v = find(f, "volumeEnvelope")) c.volumeEnvelope = envelope(*v);
            if (auto v = find(f, "panEnvelope")) c.panEnvelope = envelope(*v);
            if (auto v = find(f, "handleVolume")) c.handleVolume = envelope(*v);
            if (auto v = find(f, "handlePan")) c.handlePan = envelope(*v);
        });
        return c;
    }

    const BplistReader& r_;
};

// ---- reading: samples and clips ----

// The byte count of a sample block is usable: a whole number of samples, 1 … 23,040,000 of them.
bool blockSizeOK(std::uint64_t bytes) { return bytes % 4 == 0 && bytes >= 4 && bytes <= kMaxBlockBytes; }

// True when no sample of the block is infinite or NaN (exponent bits all set).
bool allFinite(const float* x, std::size_t n) {
    std::uint32_t bad = 0;
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t bits;
        std::memcpy(&bits, x + i, 4);
        bad |= static_cast<std::uint32_t>((bits & 0x7F800000u) == 0x7F800000u);
    }
    return bad == 0;
}

// One sample block as Float32 values; with keep = false the samples are only checked.
SharedArray<float> floats(const ByteSource& source, DataRange block, bool keep) {
    const std::size_t n = static_cast<std::size_t>(block.size / 4);
    if (keep) {
        std::vector<float> samples(n);
        source.read(block.offset, samples.data(), n * 4);
        constexpr std::size_t kChunk = 1 << 16;
        for (std::size_t i = 0; i < n; i += kChunk)
            if (!allFinite(samples.data() + i, std::min(kChunk, n - i))) refuse(Refusal::samples);
        return SharedArray<float>(std::move(samples));
    }
    std::vector<float> scratch(std::min<std::size_t>(n, 1 << 18));
    for (std::size_t i = 0; i < n; i += scratch.size()) {
        const std::size_t m = std::min(scratch.size(), n - i);
        source.read(block.offset + i * 4, scratch.data(), m * 4);
        if (!allFinite(scratch.data(), m)) refuse(Refusal::samples);
    }
    return {};
}

std::optional<AudioData> handle(const ByteSource& source, const std::optional<DataRange>& left,
                                const std::optional<DataRange>& right, bool keep) {
    if (!left && !right) return std::nullopt;
    if (!left || !right || left->size != right->size || !blockSizeOK(left->size)) refuse(Refusal::clip);
    auto l = floats(source, *left, keep);
    auto r = floats(source, *right, keep);
    return AudioData(std::move(l), std::move(r));
}

bool handleEnvelopeIsValid(const StoredEnvelope& e, double lo, double hi) {
    if (e.tooLong()) return false;
    double previous = -INFINITY;
    for (const auto& p : e.points) {
        if (!std::isfinite(p.time) || p.time < 0 || !within(p.value, lo, hi) || p.time < previous) return false;
        previous = p.time;
    }
    return true;
}

// Track::bytes of the clip as stored: 8 bytes per frame of the clip and of each handle.
std::int64_t storedBytes(const StoredClip& c) {
    auto twice = [](const std::optional<DataRange>& b) { return b ? 2 * static_cast<std::int64_t>(b->size) : 0; };
    return 2 * static_cast<std::int64_t>(std::max(c.left.size, c.right.size)) + twice(c.headLeft) +
           twice(c.tailLeft);
}

// One stored clip to a Track with every clip check. With keep = false the samples are
// checked but not kept (the project is over its memory budget and will be refused).
Track unpack(const StoredClip& c, const ByteSource& source, bool keep) {
    if (c.left.size != c.right.size || !blockSizeOK(c.left.size)) refuse(Refusal::clip);
    if (!std::isfinite(c.start) || c.start < 0) refuse(Refusal::clip);
    if (!within(c.gainDB, -60.0, 24.0) || !within(c.pan, -1.0, 1.0)) refuse(Refusal::clip);
    auto left = floats(source, c.left, keep);
    auto right = floats(source, c.right, keep);

    Track t;
    t.id = c.id;
    t.name = c.name;
    t.audio = AudioData(std::move(left), std::move(right));
    t.start = c.start;
    t.color = c.color;
    t.refreshDrawingCaches();
    t.revision = Uuid::random();

    t.headHandle = handle(source, c.headLeft, c.headRight, keep);
    t.tailHandle = handle(source, c.tailLeft, c.tailRight, keep);

    t.gainDB = c.gainDB;
    t.pan = c.pan;
    t.muted = c.muted;
    t.solo = c.solo;
    t.laneID = c.laneID;
    t.punchTake = c.punchTake;

    if (c.rackCount > static_cast<std::uint64_t>(limits::kMaxRackSlots)) refuse(Refusal::rack);
    std::unordered_set<Uuid> slotIDs;
    for (const auto& slot : c.rack)
        if (!slotIDs.insert(slot.id).second) refuse(Refusal::rack);
    for (const auto& slot : c.rack) {
        if (!within(slot.wet, 0.0, 1.0) || slot.params.size() > kMaxParams) refuse(Refusal::rack);
        for (const auto& [key, value] : slot.params)
            if (!std::isfinite(value)) refuse(Refusal::rack);
    }
    t.rack = c.rack;
    t.rackBypassed = c.rackBypassed;

    if (c.essentialSound && !isValid(*c.essentialSound)) refuse(Refusal::essentialSound);
    t.essentialSound = c.essentialSound;

    const double fadeIn = c.fadeIn.value_or(0.0);
    const double fadeOut = c.fadeOut.value_or(0.0);
    if (!within(fadeIn, 0.0, limits::kMaxSeconds) || !within(fadeOut, 0.0, limits::kMaxSeconds))
        refuse(Refusal::automation);
    if (c.volumeEnvelope.tooLong() || !Automation::isValid(c.volumeEnvelope.points, Automation::kVolumeRange))
        refuse(Refusal::automation);
    if (c.panEnvelope.tooLong() || !Automation::isValid(c.panEnvelope.points, Automation::kPanRange))
        refuse(Refusal::automation);

    auto curve = [](const std::optional<std::string>& name) {
        return name ? fromRaw<FadeCurve>(*name).value_or(FadeCurve::linear) : FadeCurve::linear;
    };
    t.fadeInCurve = curve(c.fadeInCurve);
    t.fadeOutCurve = curve(c.fadeOutCurve);

    const std::int64_t frames = static_cast<std::int64_t>(c.left.size / 4);
    const double length = framesToSeconds(frames);
    t.fadeIn = std::min(fadeIn, length);
    t.fadeOut = std::min(fadeOut, length - t.fadeIn);

    t.volumeEnvelope = c.volumeEnvelope.points;
    t.panEnvelope = c.panEnvelope.points;

    if ((c.headLeft || c.tailLeft) && c.handleVolume && c.handlePan) {
        if (!handleEnvelopeIsValid(*c.handleVolume, -60.0, 12.0) || !handleEnvelopeIsValid(*c.handlePan, -1.0, 1.0))
            refuse(Refusal::automation);
        t.handleEnvelopes = HandleEnvelopes{c.handleVolume->points, c.handlePan->points};
    }

    if (c.start + length > limits::kMaxSeconds) refuse(Refusal::length);
    if (storedBytes(c) > kMaxClipBytes) refuse(Refusal::clip);
    return t;
}

Session build(const StoredSession& s, const ByteSource& source) {
    // The header.
    if (s.version < 1 || s.version > 4 || s.sampleRate != kSampleRate || !std::isfinite(s.masterDB) ||
        s.masterDB < -60.0 || s.masterDB > 12.0 || s.trackCount > static_cast<std::uint64_t>(limits::kMaxClips))
        refuse(Refusal::project);
    {
        std::unordered_set<Uuid> ids;
        for (const auto& c : s.tracks)
            if (!ids.insert(c.id).second) refuse(Refusal::project);
    }
    // Track rows.
    if (s.laneCount > static_cast<std::uint64_t>(limits::kMaxLanes)) refuse(Refusal::lanes);
    {
        std::unordered_set<Uuid> ids;
        for (const auto& row : s.lanes)
            if (!ids.insert(row.id).second) refuse(Refusal::lanes);
        for (const auto& row : s.lanes)
            if (!within(row.gainDB, -60.0, 12.0) || !within(row.pan, -1.0, 1.0)) refuse(Refusal::lanes);
    }
    // Markers.
    if (s.markerCount > static_cast<std::uint64_t>(limits::kMaxMarkers)) refuse(Refusal::markers);
    {
        std::unordered_set<Uuid> ids;
        for (const auto& m : s.markers)
            if (!ids.insert(m.id).second) refuse(Refusal::markers);
        for (const auto& m : s.markers) {
            if (!within(m.start, 0.0, limits::kMaxSeconds)) refuse(Refusal::markers);
            if (m.end && !within(*m.end, m.start, limits::kMaxSeconds)) refuse(Refusal::markers);
        }
    }
    // Tempo and metre.
    const double tempo = s.tempo.value_or(120.0);
    const std::int64_t beatsPerBar = s.beatsPerBar.value_or(4);
    if (!within(tempo, 20.0, 300.0) || beatsPerBar < 1 || beatsPerBar > 16) refuse(Refusal::tempo);

    // Clips, in file order. When the stored blocks together exceed the project budget the
    // file is sure to be refused (by a clip check, the row count or the budget itself), so
    // the samples are then only checked, never held: a file cannot make the reader hold
    // more audio than a project may have.
    std::int64_t audioBytes = 0;
    for (const auto& c : s.tracks) audioBytes += storedBytes(c);
    const bool keep = audioBytes <= limits::kMaxBytes;
    Session session;
    session.tracks.reserve(s.tracks.size());
    for (const auto& c : s.tracks) session.tracks.push_back(unpack(c, source, keep));
    session.lanes = s.lanes;
    session.masterDB = s.masterDB;
    session.markers = s.markers;
    session.tempo = tempo;
    session.beatsPerBar = beatsPerBar;
    session.autoCrossfade = s.autoCrossfade;

    if (!s.hasLanes)
        for (auto& t : session.tracks) t.laneID.reset();
    session.normalizeLanes();
    if (session.lanes.size() > static_cast<std::size_t>(limits::kMaxLanes)) refuse(Refusal::lanes);
    if (!keep || session.bytes() > limits::kMaxBytes) refuse(Refusal::memory);
    return session;
}

[[noreturn]] void readFailed(const std::filesystem::path& path, int error) {
    const std::string detail = std::error_code(error, std::system_category()).message();
    throw PlatformError(L("Не удалось прочитать файл «{0}»: {1}", path.filename().string(), detail));
}

}  // namespace

namespace ProjectIO {

void write(const Session& session, ByteSink& sink) {
    Session copy = session;  // shares the samples
    copy.normalizeLanes();

    std::vector<StoredTrack> clips;
    clips.reserve(copy.tracks.size());
    for (const Track& t : copy.tracks) clips.emplace_back(t);

    int version = 2;
    const auto legacy = legacyTracks(copy);
    if (!legacy) {
        version = 4;
    } else {
        clips = *legacy;
        const bool clipNeeds = std::any_of(clips.begin(), clips.end(), [](const StoredTrack& c) { return c.needsVersion3(); });
        if (clipNeeds || copy.tempo != 120.0 || copy.beatsPerBar != 4) version = 3;
    }

    PlistOut root;
    root.add("version", version);
    root.add("sampleRate", kSampleRate);
    root.add("masterDB", copy.masterDB);
    PlistOut::Array tracks;
    tracks.reserve(clips.size());
    for (const auto& c : clips) tracks.push_back(c.encode());
    root.add("tracks", std::move(tracks));
    if (version == 4) {
        PlistOut::Array lanes;
        for (const auto& row : copy.lanes) lanes.emplace_back(row.stored());
        root.add("lanes", std::move(lanes));
    }
    PlistOut::Array markers;
    for (const auto& m : copy.markers) markers.emplace_back(m.stored());
    root.add("markers", std::move(markers));
    root.add("tempo", copy.tempo);
    root.add("beatsPerBar", copy.beatsPerBar);
    root.add("autoCrossfade", copy.autoCrossfade);
    Bplist::write(root, sink);
}

std::vector<std::uint8_t> encode(const Session& session) {
    VectorSink sink;
    write(session, sink);
    return std::move(sink.data);
}

void save(const Session& session, const std::filesystem::path& path) {
    AtomicFile::write(path, [&](ByteSink& sink) { write(session, sink); });
}

Session load(const ByteSource& source) {
    if (source.size() > kMaxFileBytes) refuse(Refusal::fileSize);
    try {
        BplistReader reader(source);
        const StoredSession stored = Decoder(reader).session();
        return build(stored, source);
    } catch (const BplistError&) {
        refuse(Refusal::project);
    }
}

Session loadFromBytes(std::span<const std::uint8_t> bytes) { return load(MemorySource(bytes)); }

Session load(const std::filesystem::path& path) {
    // Opened without waiting, so a FIFO nobody writes to cannot hang the loader; reads then block
    // as usual (a FIFO without a writer reads as empty).
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) readFailed(path, errno);
    if (const int flags = ::fcntl(fd, F_GETFL); flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        readFailed(path, error);
    }
    if (S_ISREG(st.st_mode)) {
        const auto size = static_cast<std::uint64_t>(st.st_size);
        if (size > kMaxFileBytes) {
            ::close(fd);
            refuse(Refusal::fileSize);
        }
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        FileSource source(fd, size, path);
        return load(source);
    }
    // A pipe or device has no size to check in advance: read at most one byte past the limit.
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            readFailed(path, error);
        }
        if (n == 0) break;
        bytes.insert(bytes.end(), buffer, buffer + n);
        if (bytes.size() > kMaxFileBytes) {
            ::close(fd);
            refuse(Refusal::fileSize);
        }
    }
    ::close(fd);
    return loadFromBytes(bytes);
}

}  // namespace ProjectIO

}  // namespace tessoral

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "BplistTestSupport.h"
#include "model/AtomicFile.h"
#include "model/Bplist.h"
#include "model/StudioError.h"

using namespace tessoral;
using test::RawBplist;

namespace {

PlistValue sample() {
    PlistValue inner;
    inner.add("zero", 0);
    inner.add("byte", 255);
    inner.add("short", 65535);
    inner.add("word", std::int64_t{4294967296});
    inner.add("negative", std::int64_t{-5});
    inner.add("min", std::numeric_limits<std::int64_t>::min());
    inner.add("max", std::numeric_limits<std::int64_t>::max());
    PlistValue root;
    root.add("ascii", "plain");
    root.add("cyrillic", "Дорожка «один» — ё");
    root.add("astral", "note \xF0\x9D\x84\x9E end");  // U+1D11E needs a surrogate pair
    root.add("empty", "");
    root.add("true", true);
    root.add("false", false);
    root.add("pi", 3.141592653589793);
    root.add("tiny", -1.5e-300);
    root.add("ints", inner);
    root.add("data", PlistValue::Data{0, 1, 2, 255});
    root.add("emptyData", PlistValue::Data{});
    PlistValue::Array many;
    for (int i = 0; i < 300; ++i) many.emplace_back(i % 7 == 0 ? PlistValue("seven") : PlistValue(i));
    root.add("many", many);
    root.add("emptyArray", PlistValue::Array{});
    root.add("emptyDict", PlistValue{});
    return root;
}

TEST(Bplist, RoundTripKeepsEveryValueAndKeyOrder) {
    const PlistValue v = sample();
    EXPECT_EQ(Bplist::decode(Bplist::encode(v)), v);
}

// Python's plistlib is the independent reader: it must see the same values.
TEST(Bplist, PlistlibReadsWhatWeWrite) {
    test::TempFolder dir;
    const auto file = dir / "sample.plist";
    test::writeFile(file, Bplist::encode(sample()));
    bool ok = false;
    const std::string out = test::python(R"(
import plistlib, sys
d = plistlib.load(open(sys.argv[1], 'rb'))
assert list(d.keys())[:3] == ['ascii', 'cyrillic', 'astral'], list(d.keys())
assert d['cyrillic'] == 'Дорожка «один» — ё'
assert d['astral'] == 'note \U0001D11E end'
assert d['empty'] == '' and d['true'] is True and d['false'] is False
assert d['pi'] == 3.141592653589793 and d['tiny'] == -1.5e-300
i = d['ints']
assert (i['zero'], i['byte'], i['short'], i['word'], i['negative']) == (0, 255, 65535, 4294967296, -5)
assert i['min'] == -2**63 and i['max'] == 2**63 - 1
assert d['data'] == bytes([0, 1, 2, 255]) and d['emptyData'] == b''
assert len(d['many']) == 300 and d['many'][7] == 'seven' and d['many'][8] == 8
assert d['emptyArray'] == [] and d['emptyDict'] == {}
print('ok')
)", {file.string()}, &ok);
    EXPECT_TRUE(ok) << out;
    EXPECT_EQ(out, "ok\n");
}

TEST(Bplist, ReadsWhatPlistlibWrites) {
    test::TempFolder dir;
    const auto file = dir / "py.plist";
    bool ok = false;
    test::python(R"(
import plistlib, sys
d = {'s': 'ёж', 'big': 2**40, 'neg': -7, 'f': 0.25, 'b': True, 'd': b'\x01\x02' * 40,
     'list': ['x'] * 20, 'nested': {'k': [1, 2.5, 'ё']}}
plistlib.dump(d, open(sys.argv[1], 'wb'), fmt=plistlib.FMT_BINARY, sort_keys=False)
)", {file.string()}, &ok);
    ASSERT_TRUE(ok);
    const PlistValue v = Bplist::decode(test::readFile(file));
    EXPECT_EQ(stored::requireString(v, "s"), "ёж");
    EXPECT_EQ(stored::requireInt(v, "big"), std::int64_t{1} << 40);
    EXPECT_EQ(stored::requireInt(v, "neg"), -7);
    EXPECT_EQ(stored::requireDouble(v, "f"), 0.25);
    EXPECT_TRUE(stored::requireBool(v, "b"));
    EXPECT_EQ(v.find("d")->as<PlistValue::Data>()->size(), 80u);
    EXPECT_EQ(stored::array(*v.find("list"), "list").size(), 20u);
    const auto& nested = stored::array(*v.find("nested")->find("k"), "k");
    EXPECT_EQ(stored::string(nested[2], "k"), "ё");
}

TEST(Bplist, BadUtf8IsWrittenAsReplacementCharacters) {
    PlistValue v;
    v.add("name", std::string("a\xFF" "b\xC3"));
    EXPECT_EQ(stored::requireString(Bplist::decode(Bplist::encode(v)), "name"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

void expectDamaged(const std::vector<std::uint8_t>& bytes, const char* what) {
    EXPECT_THROW(Bplist::decode(bytes), BplistError) << what;
}

TEST(Bplist, RefusesStructuralDamage) {
    const std::pair<RawBplist, const char*> cases[] = {
        {{{{0xA1, 0x00}}}, "an array that holds itself"},
        {{{{0xD1, 0x01, 0x00}, {0x51, 'k'}}}, "a dictionary whose value is the dictionary"},
        {{{{0xA1, 0x05}}}, "a reference beyond the object count"},
        {{{{0x08}}, 3}, "a root beyond the object count"},
        {{{{0x4F, 0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}}, "data longer than the file"},
        {{{{0x5F, 0x10, 0xFF}}}, "a string longer than the file"},
        {{{{0xD1, 0x01, 0x01}, {0x10, 0x01}}}, "an integer key"},
        // Unknown object types, null, UIDs and dates are not values of ours.
        {{{{0x70}}}, "unknown type"},
        {{{{0x00}}}, "null"},
        {{{{0x80, 0x01}}}, "uid"},
        {{{{0x08}}, 0, 1, 0}, "offset size 0"},
    };
    for (const auto& [raw, what] : cases) expectDamaged(raw.bytes(), what);
    // Not a property list at all, and too short.
    expectDamaged(std::vector<std::uint8_t>(64, 'x'), "garbage");
    expectDamaged({'b', 'p', 'l', 'i', 's', 't', '0', '0'}, "header only");
}

TEST(Bplist, RefusesDeepNestingAndAmplification) {
    // 100 arrays, each holding the next.
    RawBplist deep;
    for (int i = 0; i < 100; ++i) deep.objects.push_back({0xA1, static_cast<std::uint8_t>(i + 1)});
    deep.objects.push_back({0x09});
    expectDamaged(deep.bytes(), "deep");
    // 30 levels of [x, x]: a small file that would expand to 2^30 values.
    RawBplist wide;
    for (int i = 0; i < 30; ++i)
        wide.objects.push_back({0xA2, static_cast<std::uint8_t>(i + 1), static_cast<std::uint8_t>(i + 1)});
    wide.objects.push_back({0x09});
    BplistReader::Budget budget;
    budget.maxDepth = 64;
    EXPECT_THROW(Bplist::decode(wide.bytes(), budget), BplistError);
}

// Every prefix and every single-byte change of a valid file either reads or is refused
// as damaged; nothing else may happen.
TEST(Bplist, TruncatedAndFlippedFilesAreRefusedCleanly) {
    PlistValue v;
    v.add("name", "Клип");
    v.add("list", PlistValue::Array{1, 2.5, "x", PlistValue::Data{1, 2, 3}});
    const auto good = Bplist::encode(v);
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_THROW(Bplist::decode(std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<long>(n))),
                     BplistError);
    for (std::size_t i = 0; i < good.size() * 8; ++i) {
        auto bad = good;
        bad[i / 8] ^= static_cast<std::uint8_t>(1 << (i % 8));
        try {
            Bplist::decode(bad);
        } catch (const BplistError&) {
        }
    }
}

TEST(AtomicFile, ReplacesTheTargetOrKeepsItOnFailure) {
    test::TempFolder dir;
    const auto target = dir / "file.bin";
    auto entries = [&] { return std::distance(std::filesystem::directory_iterator(dir.path()), {}); };
    test::writeFile(target, {1, 2, 3});
    AtomicFile::write(target, std::vector<std::uint8_t>{9, 8});
    EXPECT_EQ(test::readFile(target), (std::vector<std::uint8_t>{9, 8}));
    EXPECT_EQ(entries(), 1);  // no temporary left

    auto failing = [](ByteSink& sink) {
        sink.write("abc", 3);
        throw std::runtime_error("producer failed");
    };
    EXPECT_THROW(AtomicFile::write(target, failing), std::runtime_error);
    EXPECT_EQ(test::readFile(target), (std::vector<std::uint8_t>{9, 8}));
    EXPECT_EQ(entries(), 1);
    // A folder that does not exist: a platform error, nothing written.
    EXPECT_THROW(AtomicFile::write(dir / "missing/file.bin", std::vector<std::uint8_t>{1}), PlatformError);
    // The target is a folder: the rename fails and the temporary goes away.
    std::filesystem::create_directory(dir / "folder");
    EXPECT_THROW(AtomicFile::write(dir / "folder", std::vector<std::uint8_t>{1}), PlatformError);
    EXPECT_EQ(entries(), 2);
}

}  // namespace

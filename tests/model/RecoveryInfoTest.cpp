#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>

#include "BplistTestSupport.h"
#include "model/Bplist.h"
#include "model/RecoveryInfo.h"

using namespace tessoral;

// The property-list date epoch is 2001-01-01 00:00:00 UTC; plistlib converts to naive UTC datetimes.
TEST(RecoveryInfo, PlistlibReadsOurDateAndPath) {
    test::TempFolder dir;
    const auto file = dir / "Recovery.plist";
    RecoveryInfo info;
    info.date = PlistDate::fromUnix(1700000000.25);  // 2023-11-14 22:13:20.25 UTC
    info.path = "/home/анна/Проекты/Запись «один».tessoral";
    info.write(file);
    bool ok = false;
    const std::string out = test::python(R"(
import plistlib, sys, datetime
d = plistlib.load(open(sys.argv[1], 'rb'))
assert set(d) == {'date', 'path'}, d
assert d['date'] == datetime.datetime(2023, 11, 14, 22, 13, 20, 250000), d['date']
assert d['path'] == '/home/анна/Проекты/Запись «один».tessoral'
print('ok')
)", {file.string()}, &ok);
    EXPECT_TRUE(ok) << out;
    EXPECT_EQ(out, "ok\n");

    // The date's raw encoding: marker 0x33, then the big-endian double of the seconds since 2001.
    const auto bytes = test::readFile(file);
    const double seconds = 1700000000.25 - 978307200.0;
    std::vector<std::uint8_t> expected{0x33};
    const auto raw = std::bit_cast<std::uint64_t>(seconds);
    for (int i = 7; i >= 0; --i) expected.push_back(static_cast<std::uint8_t>(raw >> (8 * i)));
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), expected.begin(), expected.end()), bytes.end());
}

TEST(RecoveryInfo, ReadsWhatPlistlibWrites) {
    test::TempFolder dir;
    bool ok = false;
    test::python(R"(
import plistlib, sys, datetime
base = sys.argv[1]
plistlib.dump({'date': datetime.datetime(1999, 12, 31, 23, 59, 30), 'path': '/tmp/старый.tessoral'},
              open(base + '/full.plist', 'wb'), fmt=plistlib.FMT_BINARY)
plistlib.dump({'date': datetime.datetime(2026, 3, 1, 8, 0, 0)}, open(base + '/unsaved.plist', 'wb'), fmt=plistlib.FMT_BINARY)
plistlib.dump({'date': '2026-03-01', 'path': 42, 'extra': [1, 2]}, open(base + '/wrong.plist', 'wb'), fmt=plistlib.FMT_BINARY)
plistlib.dump({'path': 'relative/x.tessoral'}, open(base + '/relative.plist', 'wb'), fmt=plistlib.FMT_BINARY)
plistlib.dump([1, 2], open(base + '/array.plist', 'wb'), fmt=plistlib.FMT_BINARY)
plistlib.dump({'date': datetime.datetime(2026, 3, 1)}, open(base + '/xml.plist', 'wb'), fmt=plistlib.FMT_XML)
)", {dir.path().string()}, &ok);
    ASSERT_TRUE(ok);

    const auto full = RecoveryInfo::read(dir / "full.plist");
    ASSERT_TRUE(full);
    ASSERT_TRUE(full->date);
    EXPECT_DOUBLE_EQ(full->date->seconds, -(366.0 * 86400.0 + 30.0));  // the leap year 2000 and half a minute before the epoch
    EXPECT_EQ(full->path, std::filesystem::path("/tmp/старый.tessoral"));

    const auto unsaved = RecoveryInfo::read(dir / "unsaved.plist");
    ASSERT_TRUE(unsaved && unsaved->date);
    EXPECT_DOUBLE_EQ(unsaved->date->unixSeconds(), 1772352000.0);
    EXPECT_FALSE(unsaved->path);

    // Entries of the wrong type are ignored, not fatal; a relative path names no file.
    EXPECT_EQ(RecoveryInfo::read(dir / "wrong.plist"), RecoveryInfo{});
    EXPECT_EQ(RecoveryInfo::read(dir / "relative.plist"), RecoveryInfo{});
    // A root that is no dictionary, and a text property list, give no metadata.
    EXPECT_FALSE(RecoveryInfo::read(dir / "array.plist"));
    EXPECT_FALSE(RecoveryInfo::read(dir / "xml.plist"));
}

TEST(RecoveryInfo, RoundTripAndUnreadableFiles) {
    test::TempFolder dir;
    RecoveryInfo info;
    info.date = PlistDate::now();
    info.write(dir / "a.plist");
    EXPECT_EQ(RecoveryInfo::read(dir / "a.plist"), info);
    EXPECT_EQ(RecoveryInfo::decode(RecoveryInfo{}.encode()), RecoveryInfo{});

    EXPECT_FALSE(RecoveryInfo::read(dir / "missing.plist"));
    EXPECT_FALSE(RecoveryInfo::read(dir.path()));  // a folder
    // A FIFO nobody writes to is refused at once instead of waiting.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(RecoveryInfo::read(dir / "fifo"));
    // Too large to be ours.
    test::writeFile(dir / "big.plist", std::vector<std::uint8_t>(RecoveryInfo::kMaxFileSize + 1, 0));
    EXPECT_FALSE(RecoveryInfo::read(dir / "big.plist"));
    // Every truncation of a valid file is refused or read without a crash.
    info.path = "/x/y.tessoral";
    const auto bytes = info.encode();
    for (std::size_t n = 0; n < bytes.size(); ++n)
        EXPECT_NO_THROW({
            try {
                (void)RecoveryInfo::decode(std::span(bytes.data(), n));
            } catch (const BplistError&) {
            }
        });
}

TEST(RecoveryInfo, APathThatIsNoUtf8KeepsItsBytesAndPlistlibReadsItsText) {
    test::TempFolder dir;
    RecoveryInfo info;
    info.path = std::filesystem::path("/m/\xff\xfe \xd0\x97\xd0\xb0\xd0\xbf\xd0\xb8\xd1\x81\xd1\x8c.tessoral");
    info.write(dir / "r.plist");
    EXPECT_EQ(RecoveryInfo::read(dir / "r.plist"), info);
    bool ok = false;
    const std::string text = test::python(
        "import plistlib, sys\nd = plistlib.load(open(sys.argv[1], 'rb'))\nprint(ascii(d['path']), ascii(d['pathBytes']))\n",
        {(dir / "r.plist").string()}, &ok);
    EXPECT_TRUE(ok) << text;
    EXPECT_EQ(text, "'/m/\\ufffd\\ufffd \\u0417\\u0430\\u043f\\u0438\\u0441\\u044c.tessoral' "
                    "b'/m/\\xff\\xfe \\xd0\\x97\\xd0\\xb0\\xd0\\xbf\\xd0\\xb8\\xd1\\x81\\xd1\\x8c.tessoral'\n");
    // A UTF-8 path needs no bytes beside it.
    RecoveryInfo plain;
    plain.path = "/m/Запись.tessoral";
    test::writeFile(dir / "p.plist", plain.encode());
    EXPECT_EQ(test::python("import plistlib, sys\nprint(sorted(plistlib.load(open(sys.argv[1], 'rb'))))\n",
                           {(dir / "p.plist").string()}),
              "['path']\n");
    // Bytes that do not read as the text (the text was edited by hand) count for nothing.
    test::python("import plistlib, sys\nd = {'path': '/other.tessoral', 'pathBytes': b'/m/\\xff.tessoral'}\n"
                 "plistlib.dump(d, open(sys.argv[1], 'wb'), fmt=plistlib.FMT_BINARY)\n",
                 {(dir / "e.plist").string()});
    const auto edited = RecoveryInfo::read(dir / "e.plist");
    ASSERT_TRUE(edited);
    EXPECT_EQ(edited->path, std::filesystem::path("/other.tessoral"));
}

TEST(RecoveryInfo, DatesThatAreNoTimeCountAsAbsent) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    for (const double seconds : {std::numeric_limits<double>::quiet_NaN(), inf, -inf, 2.0e11, -2.0e11}) {
        PlistOut::Dict root;
        root.emplace_back("date", PlistDate{seconds});
        root.emplace_back("path", "/p.tessoral");
        const auto info = RecoveryInfo::decode(Bplist::encode(PlistOut(std::move(root))));
        EXPECT_FALSE(info.date) << seconds;
        EXPECT_EQ(info.path, std::filesystem::path("/p.tessoral"));
    }
    // The reader refuses a date where another type is asked for, and the other way round.
    PlistOut::Dict root;
    root.emplace_back("date", PlistDate{1.0});
    const auto bytes = Bplist::encode(PlistOut(std::move(root)));
    MemorySource source(bytes);
    BplistReader reader(source);
    const auto value = reader.value(reader.root(), 0);
    EXPECT_EQ(reader.kind(value), PlistKind::date);
    EXPECT_THROW(reader.real(value), BplistError);
    EXPECT_THROW(reader.date(reader.key(reader.root(), 0)), BplistError);
    EXPECT_THROW(Bplist::decode(bytes), BplistError);  // trees of PlistValue hold no dates
}

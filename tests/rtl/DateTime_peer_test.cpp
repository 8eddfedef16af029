// TDateTime against Python's datetime and zoneinfo: calendar serials over the whole range
// (before 1899 included), weekdays, and local time in zones with a history of daylight
// saving, computed by an independent implementation.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <sstream>

#include "rtl/DateTime.h"
#include "support/TestSupport.h"

namespace {

// The peer prints one line per case:
//   D y m d h n s ms serial weekday      serial: days since 1899-12-30, time after the date
//                                        (taken away before 1899-12-30); weekday 1 = Sunday
//   L zone epoch_ms y m d h n s ms       the local wall-clock time of a point in time
const char* const kPeer = R"PY(
import datetime, random, sys, zoneinfo
rnd = random.Random(int(sys.argv[1]))
epoch = datetime.date(1899, 12, 30)
for _ in range(4000):
    ordinal = rnd.randint(datetime.date(1, 1, 1).toordinal(), datetime.date(9999, 12, 31).toordinal())
    day = datetime.date.fromordinal(ordinal)
    ms = rnd.randrange(86400000)
    days = (day - epoch).days
    frac = ms / 86400000
    serial = days + frac if days >= 0 else days - frac
    weekday = day.isoweekday() % 7 + 1
    print("D", day.year, day.month, day.day, ms // 3600000, ms // 60000 % 60, ms // 1000 % 60, ms % 1000,
          repr(serial), weekday)
lo = int(datetime.datetime(1950, 1, 1, tzinfo=datetime.timezone.utc).timestamp() * 1000)
hi = int(datetime.datetime(2100, 1, 1, tzinfo=datetime.timezone.utc).timestamp() * 1000)
for zone in ("America/Sao_Paulo", "Europe/Lisbon", "America/New_York"):
    tz = zoneinfo.ZoneInfo(zone)
    for _ in range(3000):
        ms = rnd.randint(lo, hi)
        t = datetime.datetime.fromtimestamp(ms // 1000, tz)
        print("L", zone, ms, t.year, t.month, t.day, t.hour, t.minute, t.second, ms % 1000)
)PY";

bool PythonWithZoneinfo() {
    return std::system(
               "python3 -c 'import zoneinfo; zoneinfo.ZoneInfo(\"America/Sao_Paulo\")' >/dev/null 2>&1") == 0;
}

using kwtest::ScopedTZ;

TEST(DateTimePeer, AgreesWithPythonDatetime) {
    KW_REQUIRE_PEER(PythonWithZoneinfo(), "python3 with zoneinfo and tzdata");
    kwtest::TempDir dir;
    kwtest::WriteFile(dir / "peer.py", kPeer);
    const std::string cmd = "python3 " + (dir / "peer.py").string() + " 20240305";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    ASSERT_EQ(pclose(p), 0);

    std::istringstream lines(out);
    std::string line;
    int dates = 0, locals = 0;
    std::unique_ptr<ScopedTZ> tz;  // switched only when the peer moves to another zone
    std::string currentZone;
    while (std::getline(lines, line)) {
        std::istringstream in(line);
        std::string kind;
        in >> kind;
        if (kind == "D") {
            int y, m, d, h, mi, s, ms, weekday;
            std::string serialText;
            in >> y >> m >> d >> h >> mi >> s >> ms >> serialText >> weekday;
            const double serial = std::strtod(serialText.c_str(), nullptr);
            const double dt = rtl::CombineDateTime(rtl::EncodeDate(y, m, d), rtl::EncodeTime(h, mi, s, ms));
            ASSERT_EQ(dt, serial) << line;
            int yy, mm, dd, hh, nn, ss, zz;
            rtl::DecodeDate(serial, yy, mm, dd);
            rtl::DecodeTime(serial, hh, nn, ss, zz);
            ASSERT_TRUE(yy == y && mm == m && dd == d && hh == h && nn == mi && ss == s && zz == ms) << line;
            ASSERT_EQ(rtl::DayOfWeek(serial), weekday) << line;
            ++dates;
        } else if (kind == "L") {
            std::string zone;
            long long epochMs;
            int y, m, d, h, mi, s, ms;
            in >> zone >> epochMs >> y >> m >> d >> h >> mi >> s >> ms;
            if (zone != currentZone) {
                tz.reset();
                tz = std::make_unique<ScopedTZ>(zone);
                currentZone = zone;
            }
            const std::chrono::system_clock::time_point tp{std::chrono::milliseconds(epochMs)};
            const double dt = rtl::DateTimeFromTimePoint(tp);
            int yy, mm, dd, hh, nn, ss, zz;
            rtl::DecodeDate(dt, yy, mm, dd);
            rtl::DecodeTime(dt, hh, nn, ss, zz);
            ASSERT_TRUE(yy == y && mm == m && dd == d && hh == h && nn == mi && ss == s && zz == ms) << line;
            ++locals;
        }
    }
    EXPECT_EQ(dates, 4000);
    EXPECT_EQ(locals, 9000);
}

}  // namespace

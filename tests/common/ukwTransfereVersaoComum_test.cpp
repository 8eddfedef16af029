// The trace file: its line format, and the size rule looked at on every 11th write.
#include "common/ukwTransfereVersaoComum.h"

#include <gtest/gtest.h>

#include "LauncherBaseTestSupport.h"
#include "rtl/StringList.h"

namespace {

std::vector<std::string> Lines(const std::filesystem::path& p) {
    rtl::StringList l;
    l.LoadFromFile(p.string());
    return l.Lines();
}

TEST(GraveLogDepuracao, AppendsStampedLinesInTheLaunchersFolder) {
    kwtest::FixedUtcClock clock;
    kwtest::LauncherFolder dir;
    clock.Clock().Advance(3723045);  // 01:02:03.045 later
    GraveLogDepuracao("trace.log", "primeira");
    GraveLogDepuracao("trace.log", "segunda");
    EXPECT_EQ(kwtest::ReadFile(dir / "trace.log"),
              "15/01/2027 09:02:03.045 - primeira\r\n15/01/2027 09:02:03.045 - segunda\r\n");
}

TEST(GraveLogDepuracao, TheEleventhWriteHalvesABigFile) {
    kwtest::FixedUtcClock clock;
    kwtest::LauncherFolder dir;
    for (int i = 0; i < 10; ++i)
        GraveLogDepuracao("outro.log", "x");
    // A file over 102400 bytes in 10 lines meets the 11th write.
    std::string big;
    for (int i = 1; i <= 10; ++i)
        big += "linha " + std::to_string(i) + " " + std::string(11000, 'z') + "\r\n";
    kwtest::WriteFile(dir / "trace.log", big);
    GraveLogDepuracao("trace.log", "nova");
    const auto l = Lines(dir / "trace.log");
    ASSERT_EQ(l.size(), 5u);
    EXPECT_EQ(l[0].substr(0, 8), "linha 7 ");
    EXPECT_EQ(l[3].substr(0, 9), "linha 10 ");
    EXPECT_EQ(l[4], "15/01/2027 08:00:00.000 - nova");
    // The counter starts again: the next ten writes leave a big file alone.
    kwtest::WriteFile(dir / "trace.log", big);
    for (int i = 0; i < 10; ++i)
        GraveLogDepuracao("trace.log", "y");
    EXPECT_EQ(Lines(dir / "trace.log").size(), 20u);
    GraveLogDepuracao("trace.log", "onze");
    EXPECT_EQ(Lines(dir / "trace.log").size(), 20u - 11u + 1u);
}

TEST(GraveLogDepuracao, ASmallFileIsLeftWhole) {
    kwtest::FixedUtcClock clock;
    kwtest::LauncherFolder dir;
    for (int i = 0; i < 25; ++i)
        GraveLogDepuracao("trace.log", "linha");
    EXPECT_EQ(Lines(dir / "trace.log").size(), 25u);
}

TEST(GraveLogDepuracao, FileErrorsReachTheCaller) {
    kwtest::LauncherFolder dir;
    EXPECT_THROW(GraveLogDepuracao("nao-existe/trace.log", "x"), rtl::Exception);
    // The lock was released: the next write works.
    GraveLogDepuracao("trace.log", "x");
    EXPECT_EQ(Lines(dir / "trace.log").size(), 1u);
}

}  // namespace

// Instance markers between real processes.
#include "platform/InstanceMarker.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "platform/Files.h"
#include "platform/Process.h"
#include "support/OtherUser.h"
#include "support/TestSupport.h"

namespace {

using namespace std::chrono_literals;

using kwtest::Eventually;
using kwtest::ScopedEnv;

// Every test gets a marker folder of its own.
class InstanceMarkerTest : public ::testing::Test {
protected:
    kwtest::TempDir dir;
    ScopedEnv env{"KW_MARKER_DIR", (dir / "markers").string()};
};

TEST_F(InstanceMarkerTest, SecondProcessSeesTheMarkerUntilTheHolderIsKilled) {
    const std::string cls = "TfkwUpdLoaderStatus";
    EXPECT_FALSE(plat::IsInstanceMarkerHeld(cls));
    const auto ready = (dir / "ready").string();
    const auto holder = plat::StartProcess(kwtest::ProgPath("plat_child").string(), {"marker", cls, ready});
    ASSERT_TRUE(Eventually([&] { return plat::FileExists(ready); })) << "the holder never started";
    EXPECT_EQ(kwtest::ReadFile(ready), std::to_string(holder.pid));

    EXPECT_TRUE(plat::IsInstanceMarkerHeld(cls));
    // Window classes ignore case.
    EXPECT_TRUE(plat::IsInstanceMarkerHeld("TFKWUPDLOADERSTATUS"));
    // Another class is another marker.
    EXPECT_FALSE(plat::IsInstanceMarkerHeld("TfkwUpdExecStatus"));
    plat::InstanceMarker mine(cls);
    EXPECT_FALSE(mine.TryAcquire());
    EXPECT_THROW(mine.Acquire(), plat::EInstanceMarkerError);
    // Probing many times never takes the lock away from the holder.
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(plat::IsInstanceMarkerHeld(cls));

    // A crash gives the marker up: SIGKILL leaves no chance to clean anything.
    ASSERT_EQ(::kill(holder.pid, SIGKILL), 0);
    EXPECT_TRUE(Eventually([&] { return !plat::IsInstanceMarkerHeld(cls); }));
    EXPECT_TRUE(mine.TryAcquire());
    EXPECT_TRUE(mine.Held());
}

TEST_F(InstanceMarkerTest, HolderInThisProcess) {
    const std::string cls = "TfkwUpdExecStatus";
    {
        plat::InstanceMarker m(cls);
        EXPECT_FALSE(m.Held());
        m.Acquire();
        EXPECT_TRUE(m.Held());
        EXPECT_TRUE(m.TryAcquire());  // already ours
        // The holder itself sees its marker, as a program finds its own window.
        EXPECT_TRUE(plat::IsInstanceMarkerHeld(cls));
        // A second holder object, even in this process, cannot take it.
        plat::InstanceMarker other(cls);
        EXPECT_FALSE(other.TryAcquire());

        // Moving hands the hold over without a gap.
        plat::InstanceMarker moved(std::move(m));
        EXPECT_TRUE(moved.Held());
        EXPECT_TRUE(plat::IsInstanceMarkerHeld(cls));
        moved.Release();
        EXPECT_FALSE(moved.Held());
        EXPECT_FALSE(plat::IsInstanceMarkerHeld(cls));
        EXPECT_TRUE(other.TryAcquire());
    }
    // The destructor released it.
    EXPECT_FALSE(plat::IsInstanceMarkerHeld(cls));
}

TEST_F(InstanceMarkerTest, ProgramsWeStartDoNotInheritTheMarker) {
    const std::string cls = "TfkwUpdLoaderStatus";
    const auto child = kwtest::ProgPath("plat_child").string();
    long pid = 0;
    {
        plat::InstanceMarker m(cls);
        m.Acquire();
        // The launcher starts the executor and ends; the executor must not keep its window.
        pid = plat::StartProcess(child, {"sleep", "20000"}).pid;
    }
    EXPECT_FALSE(plat::IsInstanceMarkerHeld(cls));
    ::kill(pid_t(pid), SIGKILL);
}

TEST_F(InstanceMarkerTest, ClassNamesBecomeSafeFileNames) {
    struct Case {
        std::string cls, file;
    };
    const Case cases[] = {
        {"TfkwUpdLoaderStatus", "tfkwupdloaderstatus.lock"},
        {"a/b", "a%2Fb.lock"},
        {"..", "%2E..lock"},
        {"x y", "x%20y.lock"},
        {"ção", "%C3%A7%C3%A3o.lock"},
        {"v1.2-a_b", "v1.2-a_b.lock"},
    };
    for (const auto& c : cases) {
        const auto p = plat::InstanceMarkerPath(c.cls);
        EXPECT_EQ(p, (dir / "markers" / c.file).string()) << c.cls;
    }
    EXPECT_THROW(plat::InstanceMarkerPath(""), plat::EInstanceMarkerError);
}

TEST(InstanceMarkerFolder, PrivateFolderUnderTmp) {
    ScopedEnv m("KW_MARKER_DIR", std::nullopt);
    ScopedEnv x("XDG_RUNTIME_DIR", std::nullopt);
    const std::string expected = "/tmp/kw-" + std::to_string(::geteuid());
    EXPECT_EQ(plat::InstanceMarkerFolder(), expected);
    struct stat st {};
    ASSERT_EQ(::lstat(expected.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, ::geteuid());
}

TEST(InstanceMarkerFolder, RuntimeFolderWhenSet) {
    kwtest::TempDir dir;
    ScopedEnv m("KW_MARKER_DIR", std::nullopt);
    ScopedEnv x("XDG_RUNTIME_DIR", dir.path().string());
    EXPECT_EQ(plat::InstanceMarkerFolder(), dir.path().string());
    // A runtime folder that does not exist is not used.
    ScopedEnv y("XDG_RUNTIME_DIR", (dir / "missing").string());
    EXPECT_EQ(plat::InstanceMarkerFolder(), "/tmp/kw-" + std::to_string(::geteuid()));
}

// /tmp/kw-<uid> made beforehand by someone else (a link, or a folder of another user) must
// not become the place where this user's markers live, nor stop this user's launcher: the
// next private name is used, and every process of the user meets there. The other user is a
// real second process (nobody), started from a copy of the program it can reach.
TEST(InstanceMarkerFolder, ForeignPrivateFolderIsRefusedForAnotherPrivateOne) {
    if (!kwtest::CanActAsOtherUser()) GTEST_SKIP() << "needs root to act as two users";
    const uid_t nobody = kwtest::kNobodyUid;
    const std::string planted = "/tmp/kw-" + std::to_string(nobody);
    const std::string fallback = planted + ".1";
    std::filesystem::remove_all(planted);
    std::filesystem::remove_all(fallback);
    ASSERT_EQ(::mkdir(planted.c_str(), 0777), 0);  // owned by root, not by nobody
    ::chmod(planted.c_str(), 0777);

    const kwtest::ProgramForAnyone child("plat_child");
    auto runAsNobody = [&]() -> std::pair<int, std::string> {
        kwtest::TempDir out;
        ::chmod(out.path().c_str(), 0777);
        const auto outFile = (out / "result").string();
        const pid_t pid = kwtest::StartAsUser(nobody, kwtest::kNobodyGid, child.path(),
                                              {"markerdir", outFile}, {"KW_MARKER_DIR", "XDG_RUNTIME_DIR"});
        const int code = kwtest::WaitForExit(pid);
        return {code, plat::FileExists(outFile) ? kwtest::ReadFile(outFile) : std::string()};
    };
    auto privateToNobody = [&](const std::string& dir) {
        struct stat st {};
        ASSERT_EQ(::lstat(dir.c_str(), &st), 0) << dir;
        EXPECT_TRUE(S_ISDIR(st.st_mode)) << dir;
        EXPECT_EQ(st.st_uid, nobody) << dir;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << dir;
    };

    auto [code, text] = runAsNobody();
    EXPECT_EQ(code, 0) << text;
    EXPECT_EQ(text, fallback);
    privateToNobody(fallback);
    // The planted folder is left as it was, and a second run meets the first in the same place.
    struct stat st {};
    ASSERT_EQ(::lstat(planted.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    std::tie(code, text) = runAsNobody();
    EXPECT_EQ(code, 0) << text;
    EXPECT_EQ(text, fallback);

    // A link planted in its place is refused as well.
    std::filesystem::remove_all(planted);
    std::filesystem::create_directory_symlink("/tmp", planted);
    std::tie(code, text) = runAsNobody();
    EXPECT_EQ(code, 0) << text;
    EXPECT_EQ(text, fallback);

    // When every name is taken by someone else the launcher is told so, naming the folder.
    std::filesystem::remove_all(fallback);
    for (int i = 1; i < 8; ++i) {
        const std::string n = planted + "." + std::to_string(i);
        std::filesystem::remove_all(n);
        ASSERT_EQ(::mkdir(n.c_str(), 0700), 0);
    }
    std::tie(code, text) = runAsNobody();
    EXPECT_EQ(code, 1) << text;
    EXPECT_NE(text.find(planted), std::string::npos) << text;
    EXPECT_NE(text.find("not folders of this user"), std::string::npos) << text;
    for (int i = 1; i < 8; ++i)
        std::filesystem::remove_all(planted + "." + std::to_string(i));

    // Once the folder is gone, the user makes a private one under the first name.
    std::filesystem::remove(planted);
    std::tie(code, text) = runAsNobody();
    EXPECT_EQ(code, 0) << text;
    EXPECT_EQ(text, planted);
    privateToNobody(planted);
    std::filesystem::remove_all(planted);
}

}  // namespace

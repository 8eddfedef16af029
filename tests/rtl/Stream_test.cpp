// Streams: memory and file streams, exact-count reads and writes, copying, and the atomic
// replacement of a file's content.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <random>
#include <system_error>

#include "rtl/Stream.h"
#include "support/OtherUser.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = char(gen());
    return s;
}

// A stream that hands out at most one byte per Read, as a pipe or a slow device may.
class TrickleStream : public rtl::Stream {
public:
    explicit TrickleStream(std::string data) : inner_(std::move(data)) {}
    size_t Read(void* buffer, size_t count) override { return inner_.Read(buffer, count > 0 ? 1 : 0); }
    size_t Write(const void* buffer, size_t count) override {
        return inner_.Write(buffer, count > 0 ? 1 : 0);
    }
    int64_t Seek(int64_t offset, rtl::SeekOrigin origin) override { return inner_.Seek(offset, origin); }
    const std::string& Data() const { return inner_.Data(); }

private:
    rtl::MemoryStream inner_;
};

TEST(MemoryStream, ReadWriteSeekAndGaps) {
    rtl::MemoryStream m;
    m.WriteBuffer("hello", 5);
    EXPECT_EQ(m.Position(), 5);
    EXPECT_EQ(m.Size(), 5);

    // Writing past the end fills the gap with zeros.
    EXPECT_EQ(m.Seek(3, rtl::SeekOrigin::End), 8);
    m.WriteBuffer("!", 1);
    EXPECT_EQ(m.Data(), std::string("hello\0\0\0!", 9));

    struct Case {
        int64_t offset;
        rtl::SeekOrigin origin;
        int64_t expected;
    };
    const Case cases[] = {
        {0, rtl::SeekOrigin::Begin, 0}, {2, rtl::SeekOrigin::Current, 2},   {-1, rtl::SeekOrigin::Current, 1},
        {-4, rtl::SeekOrigin::End, 5},  {100, rtl::SeekOrigin::Begin, 100},
    };
    for (const auto& c : cases)
        EXPECT_EQ(m.Seek(c.offset, c.origin), c.expected);

    // Reading past the end gives nothing; an exact read there fails.
    char buf[4];
    EXPECT_EQ(m.Read(buf, sizeof buf), 0u);
    EXPECT_THROW(m.ReadBuffer(buf, 1), rtl::EReadError);

    // A position before the start is refused, whatever the origin, and the position stays.
    m.SetPosition(2);
    EXPECT_THROW(m.Seek(-1, rtl::SeekOrigin::Begin), rtl::EReadError);
    EXPECT_THROW(m.Seek(-3, rtl::SeekOrigin::Current), rtl::EReadError);
    EXPECT_THROW(m.Seek(-10, rtl::SeekOrigin::End), rtl::EReadError);
    EXPECT_THROW(m.Seek(INT64_MAX, rtl::SeekOrigin::End), rtl::EReadError);
    EXPECT_EQ(m.Position(), 2);

    // A short exact read raises and leaves what it could read consumed.
    m.SetPosition(6);
    EXPECT_THROW(m.ReadBuffer(buf, 4), rtl::EReadError);
    EXPECT_EQ(m.Position(), 9);

    // Shrinking pulls the position back to the new end.
    m.SetPosition(8);
    m.SetSize(3);
    EXPECT_EQ(m.Position(), 3);
    EXPECT_EQ(m.Data(), "hel");
    m.SetSize(5);
    EXPECT_EQ(m.Data(), std::string("hel\0\0", 5));
    EXPECT_THROW(m.SetSize(-1), rtl::EWriteError);
}

TEST(Stream, ExactCountsSurviveShortTransfers) {
    const std::string data = RandomBytes(1000, 1);
    TrickleStream t(data);
    std::string got(data.size(), '\0');
    t.ReadBuffer(got.data(), got.size());
    EXPECT_EQ(got, data);
    EXPECT_THROW(t.ReadBuffer(got.data(), 1), rtl::EReadError);

    TrickleStream out("");
    out.WriteBuffer(data);
    EXPECT_EQ(out.Data(), data);
    // The base class finds the size by seeking and puts the position back.
    out.SetPosition(10);
    EXPECT_EQ(out.Size(), 1000);
    EXPECT_EQ(out.Position(), 10);
    EXPECT_THROW(out.SetSize(5), rtl::EWriteError);
}

TEST(Stream, CopyFrom) {
    const std::string data = RandomBytes(200000, 2);
    rtl::MemoryStream src(data);

    // Count 0: the whole source from its beginning, wherever its position was.
    src.SetPosition(12345);
    rtl::MemoryStream all;
    EXPECT_EQ(all.CopyFrom(src, 0), int64_t(data.size()));
    EXPECT_EQ(all.Data(), data);

    // A count: from the source's position, through a stream that moves a byte at a time.
    src.SetPosition(100);
    TrickleStream part("");
    EXPECT_EQ(part.CopyFrom(src, 70000), 70000);
    EXPECT_EQ(part.Data(), data.substr(100, 70000));
    EXPECT_EQ(src.Position(), 70100);

    // A source that ends before the count raises.
    src.SetPosition(int64_t(data.size()) - 10);
    rtl::MemoryStream shortCopy;
    EXPECT_THROW(shortCopy.CopyFrom(src, 11), rtl::EReadError);
    EXPECT_THROW(shortCopy.CopyFrom(src, -1), rtl::EReadError);

    // Empty source.
    rtl::MemoryStream empty;
    rtl::MemoryStream into;
    EXPECT_EQ(into.CopyFrom(empty, 0), 0);
    EXPECT_EQ(into.Size(), 0);
}

TEST(FileStream, RoundTripThroughTheFileSystem) {
    kwtest::TempDir dir;
    const std::string path = (dir / "data.bin").string();
    const std::string data = RandomBytes(300000, 3);
    {
        rtl::FileStream f(path, rtl::FileMode::Create);
        f.WriteBuffer(data);
        EXPECT_EQ(f.Size(), int64_t(data.size()));
        f.Flush();
    }
    EXPECT_EQ(kwtest::ReadFile(path), data);
    {
        rtl::FileStream f(path, rtl::FileMode::OpenReadWrite);
        f.Seek(-5, rtl::SeekOrigin::End);
        f.WriteBuffer("XYZ", 3);
        f.SetSize(int64_t(data.size()) - 1);
        EXPECT_EQ(f.Position(), int64_t(data.size()) - 2);
        f.SetPosition(int64_t(data.size()));
        f.SetSize(int64_t(data.size()) - 1);  // a position past the new end is pulled back
        EXPECT_EQ(f.Position(), int64_t(data.size()) - 1);
        f.SetPosition(0);
        rtl::MemoryStream m;
        m.CopyFrom(f, 0);
        std::string expected = data.substr(0, data.size() - 1);
        expected.replace(data.size() - 5, 3, "XYZ");
        EXPECT_EQ(m.Data(), expected);
    }
    rtl::MemoryStream loaded;
    loaded.LoadFromFile(path);
    EXPECT_EQ(loaded.Size(), int64_t(data.size()) - 1);
    loaded.SaveToFile((dir / "copy.bin").string());
    EXPECT_EQ(kwtest::ReadFile(dir / "copy.bin"), loaded.Data());

    // Create truncates; CreateNew refuses an existing file.
    { rtl::FileStream f(path, rtl::FileMode::Create); }
    EXPECT_EQ(fs::file_size(path), 0u);
    EXPECT_THROW(rtl::FileStream(path, rtl::FileMode::CreateNew), rtl::EFOpenError);
}

TEST(FileStream, ErrorsNameTheFileAndTheReason) {
    kwtest::TempDir dir;
    const std::string missing = (dir / "nada.txt").string();
    const std::string inMissingFolder = (dir / "no" / "such.txt").string();
    kwtest::WriteFile(dir / "present.txt", "x");

    struct Case {
        std::string path;
        rtl::FileMode mode;
        std::string prefix;
        int err;
    };
    const Case cases[] = {
        {missing, rtl::FileMode::OpenRead, "Cannot open file", ENOENT},
        {missing, rtl::FileMode::OpenReadWrite, "Cannot open file", ENOENT},
        {inMissingFolder, rtl::FileMode::Create, "Cannot create file", ENOENT},
        {dir.path().string(), rtl::FileMode::OpenRead, "Cannot open file", EISDIR},
        {(dir / "present.txt").string(), rtl::FileMode::CreateNew, "Cannot create file", EEXIST},
    };
    for (const auto& c : cases) {
        try {
            rtl::FileStream f(c.path, c.mode);
            ADD_FAILURE() << "opened " << c.path;
        } catch (const rtl::EFOpenError& e) {
            EXPECT_EQ(e.Message(),
                      c.prefix + " \"" + c.path + "\". " + std::system_category().message(c.err));
            EXPECT_STREQ(e.ClassName(), "EFOpenError");
        }
    }

    // Writing to a stream opened for reading fails with the system's reason, not silently.
    rtl::FileStream ro((dir / "present.txt").string(), rtl::FileMode::OpenRead);
    EXPECT_THROW(ro.WriteBuffer("y", 1), rtl::EWriteError);

    // A full device: the write error carries the file's name.
    rtl::FileStream full("/dev/full", rtl::FileMode::OpenReadWrite);
    try {
        full.WriteBuffer("abc", 3);
        ADD_FAILURE() << "wrote to /dev/full";
    } catch (const rtl::EWriteError& e) {
        EXPECT_NE(e.Message().find("/dev/full"), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find(std::system_category().message(ENOSPC)), std::string::npos) << e.Message();
    }
}

TEST(FileStream, ReadsFilesThatReportNoSize) {
    // /proc files report size 0 and still have content.
    const std::string status = rtl::ReadFileBytes("/proc/self/status");
    EXPECT_NE(status.find("Name:"), std::string::npos);
    EXPECT_THROW(rtl::ReadFileBytes("/nonexistent/file"), rtl::EFOpenError);
}

TEST(WriteFileAtomically, ReplacesKeepsModeFollowsLinksLeavesNoTemporaries) {
    kwtest::TempDir dir;
    const fs::path target = dir / "cfg.ini";
    kwtest::WriteFile(target, "old content\r\n");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    struct stat before {};
    ASSERT_EQ(::stat(target.c_str(), &before), 0);

    rtl::WriteFileAtomically(target.string(), "new content\r\n");
    EXPECT_EQ(kwtest::ReadFile(target), "new content\r\n");
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    // The content arrived by a rename: the name points to another file than before.
    struct stat after {};
    ASSERT_EQ(::stat(target.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);

    // A link stays a link; the file it points to gets the content.
    const fs::path real = dir / "real.ini";
    const fs::path link = dir / "link.ini";
    kwtest::WriteFile(real, "a");
    fs::create_symlink(real, link);
    rtl::WriteFileAtomically(link.string(), "b");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(kwtest::ReadFile(real), "b");

    // A new file is created.
    rtl::WriteFileAtomically((dir / "fresh.ini").string(), "");
    EXPECT_TRUE(fs::exists(dir / "fresh.ini"));

    // A mode given replaces the old file's: a file that holds a secret is never readable by
    // others, not even while it is being written.
    kwtest::WriteFile(dir / "secret.key", "old");
    fs::permissions(dir / "secret.key", fs::perms::all);
    rtl::WriteFileAtomically((dir / "secret.key").string(), "k", 0600);
    EXPECT_EQ(fs::status(dir / "secret.key").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(kwtest::ReadFile(dir / "secret.key"), "k");

    // A folder that does not exist: a clear error and nothing else touched.
    EXPECT_THROW(rtl::WriteFileAtomically((dir / "none" / "x.ini").string(), "z"), rtl::EWriteError);

    // Only the files written above remain: no temporary file is left behind.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"cfg.ini", "fresh.ini", "link.ini", "real.ini", "secret.key"}));
}

}  // namespace

// A second local user (nobody, a real process) keeps opening the temporary files of a folder it
// may list while we write secrets there, with the mode asked for and with the old file's 0600
// kept: it must never open one, since a file opened once can be read after it narrows.
TEST(WriteFileAtomically, AnotherUserNeverOpensTheTemporaryFile) {
    if (!kwtest::CanActAsOtherUser()) GTEST_SKIP() << "needs root to act as two users";
    kwtest::TempDir dir;
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    kwtest::TempDir out;
    fs::permissions(out.path(), fs::perms::all);
    const kwtest::ProgramForAnyone snoop("plat_child");
    const std::string result = (out / "snoop").string();
    const pid_t pid = kwtest::StartAsUser(kwtest::kNobodyUid, kwtest::kNobodyGid, snoop.path(),
                                          {"snoop", dir.path().string(), result});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(kwtest::Eventually([&] { return fs::exists(result + ".ready"); }));

    const std::string secret = "deUsuario=site;deSenha=scrambled\r\n";
    kwtest::WriteFile(dir / "kept.req", "old");
    fs::permissions(dir / "kept.req", fs::perms::owner_read | fs::perms::owner_write);
    for (int i = 0; i < 150; ++i) {
        rtl::WriteFileAtomically((dir / "asked.lcm").string(), std::string(20000, 'x') + secret, 0600);
        rtl::WriteFileAtomically((dir / "kept.req").string(), std::string(20000, 'y') + secret);
    }
    kwtest::WriteFile(dir / "stop", "");
    EXPECT_EQ(kwtest::WaitForExit(pid), 0);
    const std::string seen = kwtest::ReadFile(result);
    EXPECT_EQ(seen.substr(0, seen.find('\n')), "0");
    EXPECT_EQ(seen.find("deSenha"), std::string::npos);
    EXPECT_EQ(fs::status(dir / "asked.lcm").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(dir / "kept.req").permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

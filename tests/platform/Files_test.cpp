// File services on real files in a temporary folder.
#include "platform/Files.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

using namespace std::chrono;

mode_t Mode(const std::string& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
}

void Chmod(const std::string& p, mode_t m) {
    ASSERT_EQ(::chmod(p.c_str(), m), 0);
}

// A UTC calendar time, built without the local time zone.
plat::FileTime Utc(int y, unsigned mo, unsigned d, int h, int mi, int s) {
    return sys_days(year(y) / month(mo) / day(d)) + hours(h) + minutes(mi) + seconds(s);
}

TEST(Files, ExistenceAndHiddenNames) {
    kwtest::TempDir dir;
    const auto file = (dir / "a.txt").string();
    kwtest::WriteFile(file, "x");
    struct Case {
        std::string path;
        bool file, folder;
    };
    const Case cases[] = {
        {file, true, false},
        {dir.path().string(), false, true},
        {(dir / "missing").string(), false, false},
        {(dir / "a.txt" / "below").string(), false, false},
        {"", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(plat::FileExists(c.path), c.file) << c.path;
        EXPECT_EQ(plat::FolderExists(c.path), c.folder) << c.path;
        EXPECT_EQ(plat::PathExists(c.path), c.file || c.folder) << c.path;
    }
    const std::pair<std::string, bool> hidden[] = {
        {"/x/.hidden", true}, {".profile", true}, {"/x/visible", false}, {"/x/.", false},
        {"/x/..", false},     {"/x/.d/", true},   {"a.b", false},
    };
    for (const auto& [p, h] : hidden)
        EXPECT_EQ(plat::IsHiddenName(p), h) << p;
}

TEST(Files, SizeAndTimesInUtc) {
    kwtest::TempDir dir;
    const auto file = (dir / "f.bin").string();
    kwtest::WriteFile(file, std::string(12345, 'z'));
    EXPECT_EQ(plat::FileSize(file), 12345);
    int64_t size = -1;
    int err = 0;
    EXPECT_FALSE(plat::TryFileSize((dir / "none").string(), size, &err));
    EXPECT_EQ(err, ENOENT);
    EXPECT_FALSE(plat::TryFileSize(dir.path().string(), size, &err));
    EXPECT_EQ(err, EISDIR);

    // Times go in and come out as UTC, whatever the local zone is; sub-second parts survive.
    {
        const kwtest::ScopedTZ zone("America/Sao_Paulo");
        const plat::FileTime times[] = {
            Utc(2024, 1, 15, 13, 45, 30),  Utc(2024, 1, 15, 13, 45, 30) + milliseconds(250),
            Utc(1999, 12, 31, 23, 59, 59), Utc(2038, 1, 19, 3, 14, 8),  // past 32-bit seconds
            Utc(1970, 1, 1, 0, 0, 0),
        };
        for (const auto t : times) {
            plat::SetFileLastWriteTime(file, t);
            EXPECT_EQ(plat::FileLastWriteTime(file), t);
            // Cross-check against the kernel's own seconds count.
            struct stat st {};
            ASSERT_EQ(::stat(file.c_str(), &st), 0);
            EXPECT_EQ(int64_t(st.st_mtim.tv_sec), duration_cast<seconds>(t.time_since_epoch()).count());
        }
    }

    try {
        plat::FileLastWriteTime((dir / "none.txt").string());
        ADD_FAILURE();
    } catch (const plat::EFileError& e) {
        EXPECT_EQ(e.ErrorCode(), ENOENT);
        EXPECT_EQ(e.Path(), (dir / "none.txt").string());
        EXPECT_NE(e.Message().find("none.txt"), std::string::npos);
        EXPECT_NE(e.Message().find("No such file"), std::string::npos);
    }
    // A fresh file's time is close to now.
    const auto fresh = (dir / "fresh").string();
    kwtest::WriteFile(fresh, "");
    EXPECT_LT(std::abs(duration_cast<seconds>(plat::FileLastWriteTime(fresh) - system_clock::now()).count()),
              60);
}

TEST(Files, ReadOnlyFlag) {
    kwtest::TempDir dir;
    const auto file = (dir / "ro.txt").string();
    kwtest::WriteFile(file, "x");
    struct Case {
        mode_t before;
        bool readOnly;  // IsReadOnly before
        bool set;       // SetReadOnly(set)
        mode_t after;
    };
    const Case cases[] = {
        {0644, false, true, 0444}, {0664, false, true, 0444}, {0755, false, true, 0555},
        {0200, false, true, 0000}, {0444, true, false, 0644}, {0555, true, false, 0755},
        {0400, true, false, 0600}, {0000, true, false, 0200}, {0604, false, false, 0604},
        {0444, true, true, 0444},  {0020, false, true, 0000},
    };
    for (const auto& c : cases) {
        Chmod(file, c.before);
        EXPECT_EQ(plat::IsReadOnly(file), c.readOnly) << std::oct << c.before;
        plat::SetReadOnly(file, c.set);
        EXPECT_EQ(Mode(file), c.after) << std::oct << c.before << " set " << c.set;
        EXPECT_EQ(plat::IsReadOnly(file), c.set);
    }
    int err = 0;
    EXPECT_FALSE(plat::TrySetReadOnly((dir / "none").string(), true, &err));
    EXPECT_EQ(err, ENOENT);
    EXPECT_THROW(plat::IsReadOnly((dir / "none").string()), plat::EFileError);
}

TEST(Files, CopyKeepsContentModeAndTime) {
    kwtest::TempDir dir;
    const auto src = (dir / "src.exe").string();
    std::string content;
    for (int i = 0; i < 300000; ++i)
        content += char(i * 7);
    kwtest::WriteFile(src, content);
    Chmod(src, 0755);
    const auto when = Utc(2020, 2, 29, 12, 0, 1) + microseconds(5);
    plat::SetFileLastWriteTime(src, when);

    const auto dst = (dir / "dst.exe").string();
    plat::CopyFile(src, dst);
    EXPECT_EQ(kwtest::ReadFile(dst), content);
    EXPECT_EQ(Mode(dst), 0755u);
    EXPECT_EQ(plat::FileLastWriteTime(dst), when);

    // Without preserving, the copy is new.
    const auto fresh = (dir / "fresh.exe").string();
    plat::CopyFile(src, fresh, {.overwrite = true, .preserveTime = false});
    EXPECT_GT(plat::FileLastWriteTime(fresh), when + hours(24));

    // Overwriting replaces; no temporary file is left behind.
    kwtest::WriteFile(src, "new");
    plat::CopyFile(src, dst);
    EXPECT_EQ(kwtest::ReadFile(dst), "new");
    for (const auto& e : plat::ListFolder(dir.path().string()))
        EXPECT_EQ(e.name.find("kwtmp"), std::string::npos) << e.name;

    // A read-only source gives a read-only copy, as the attribute travels with the file.
    Chmod(src, 0444);
    const auto ro = (dir / "ro.exe").string();
    plat::CopyFile(src, ro);
    EXPECT_TRUE(plat::IsReadOnly(ro));
}

TEST(Files, CopyRefusals) {
    kwtest::TempDir dir;
    const auto src = (dir / "src").string();
    kwtest::WriteFile(src, "s");
    const auto dst = (dir / "dst").string();
    kwtest::WriteFile(dst, "old");
    struct Case {
        std::string from, to;
        plat::CopyOptions options;
        int error;
        std::function<void()> setup;
    };
    const Case cases[] = {
        {(dir / "none").string(), dst, {}, ENOENT, [] {}},
        {dir.path().string(), dst, {}, EISDIR, [] {}},
        {src, dir.path().string(), {}, EISDIR, [] {}},
        {src, dst, {.overwrite = false, .preserveTime = true}, EEXIST, [] {}},
        // Anything but a regular file: a pipe with no writer (opening it must not block), a
        // device that never ends (directly or through a link).
        {(dir / "fifo").string(),
         dst,
         {},
         plat::kErrNotARegularFile,
         [&] { ::mkfifo((dir / "fifo").c_str(), 0644); }},
        {"/dev/zero", dst, {}, plat::kErrNotARegularFile, [] {}},
        {(dir / "zero").string(),
         dst,
         {},
         plat::kErrNotARegularFile,
         [&] { std::filesystem::create_symlink("/dev/zero", dir / "zero"); }},
        {src, dst, {}, EACCES, [&] { Chmod(dst, 0444); }},
        {src, (dir / "no" / "folder" / "x").string(), {}, ENOENT, [] {}},
    };
    for (const auto& c : cases) {
        c.setup();
        int err = 0;
        EXPECT_FALSE(plat::TryCopyFile(c.from, c.to, c.options, &err)) << c.from << " -> " << c.to;
        EXPECT_EQ(err, c.error) << c.from << " -> " << c.to;
        // The destination is untouched by a refused or failed copy.
        EXPECT_EQ(kwtest::ReadFile(dst), "old");
        for (const auto& e : plat::ListFolder(dir.path().string()))
            EXPECT_EQ(e.name.find("kwtmp"), std::string::npos) << e.name;
    }
    try {
        plat::CopyFile(src, dst);
        ADD_FAILURE();
    } catch (const plat::EFileError& e) {
        EXPECT_NE(e.Message().find("\"" + src + "\" to \"" + dst + "\""), std::string::npos) << e.Message();
    }
    EXPECT_EQ(plat::SystemErrorText(plat::kErrNotARegularFile),
              "Not a regular file (a pipe, a device or a socket)");
    // Without overwrite, a missing destination is created.
    EXPECT_TRUE(plat::TryCopyFile(src, (dir / "new").string(), {.overwrite = false, .preserveTime = true}));
    EXPECT_EQ(kwtest::ReadFile(dir / "new"), "s");
}

// Makes a folder immutable (no name may be added to it, even by root) for the lifetime of the
// object; Made() is false where the file system or our rights do not allow it.
class ImmutableFolder {
public:
    explicit ImmutableFolder(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_DIRECTORY)) {
        int flags = 0;
        if (fd_ < 0 || ::ioctl(fd_, FS_IOC_GETFLAGS, &flags) != 0) return;
        flags |= FS_IMMUTABLE_FL;
        made_ = ::ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ~ImmutableFolder() {
        int flags = 0;
        if (made_ && ::ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ::ioctl(fd_, FS_IOC_SETFLAGS, &flags);
        }
        if (fd_ >= 0) ::close(fd_);
    }
    ImmutableFolder(const ImmutableFolder&) = delete;
    ImmutableFolder& operator=(const ImmutableFolder&) = delete;
    bool Made() const { return made_; }

private:
    int fd_;
    bool made_ = false;
};

TEST(Files, CopyIntoAFolderThatTakesNoNewNameWritesInPlace) {
    kwtest::TempDir dir;
    const auto locked = dir / "locked";
    std::filesystem::create_directory(locked);
    const auto dst = (locked / "a.exe").string();
    const auto src = (dir / "src").string();
    kwtest::WriteFile(dst, "old content");
    kwtest::WriteFile(src, "new");
    ImmutableFolder immutable(locked.string());
    if (!immutable.Made()) GTEST_SKIP() << "this file system cannot make a folder immutable here";

    // No temporary name can be made beside the destination: the copy writes the file itself.
    plat::CopyFile(src, dst);
    EXPECT_EQ(kwtest::ReadFile(dst), "new");
    // Copying the file onto itself there must not truncate it on the way.
    plat::CopyFile(dst, dst);
    EXPECT_EQ(kwtest::ReadFile(dst), "new");
    // A destination that is not there cannot be made.
    int err = 0;
    EXPECT_FALSE(plat::TryCopyFile(src, (locked / "other").string(), {}, &err));
    EXPECT_EQ(err, EPERM);
}

TEST(Files, RenameDeleteAndFolders) {
    kwtest::TempDir dir;
    const auto a = (dir / "a").string(), b = (dir / "b").string();
    kwtest::WriteFile(a, "A");
    kwtest::WriteFile(b, "B");
    int err = 0;
    EXPECT_FALSE(plat::TryRenameFile(a, b, false, &err));
    EXPECT_EQ(err, EEXIST);
    EXPECT_EQ(kwtest::ReadFile(b), "B");
    Chmod(b, 0444);
    EXPECT_FALSE(plat::TryRenameFile(a, b, true, &err));
    EXPECT_EQ(err, EACCES);
    Chmod(b, 0644);
    plat::RenameFile(a, b);
    EXPECT_EQ(kwtest::ReadFile(b), "A");
    EXPECT_FALSE(plat::FileExists(a));
    EXPECT_FALSE(plat::TryRenameFile(a, b, true, &err));
    EXPECT_EQ(err, ENOENT);
    // A read-only file may be renamed (its name is the folder's business).
    Chmod(b, 0444);
    EXPECT_TRUE(plat::TryRenameFile(b, a, false));
    EXPECT_TRUE(plat::IsReadOnly(a));

    // Deleting: read-only files are protected until the flag is cleared.
    EXPECT_FALSE(plat::TryDeleteFile(a, &err));
    EXPECT_EQ(err, EACCES);
    plat::SetReadOnly(a, false);
    plat::DeleteFile(a);
    EXPECT_FALSE(plat::PathExists(a));
    EXPECT_FALSE(plat::TryDeleteFile(a, &err));
    EXPECT_EQ(err, ENOENT);
    EXPECT_FALSE(plat::TryDeleteFile(dir.path().string(), &err));
    EXPECT_EQ(err, EISDIR);

    // Folders: every level, an existing folder is fine, a file in the way is not.
    const auto deep = (dir / "x" / "y" / "z").string();
    plat::CreateFolders(deep);
    EXPECT_TRUE(plat::FolderExists(deep));
    plat::CreateFolders(deep + "/");
    plat::CreateFolders((dir / "x" / "y").string());
    kwtest::WriteFile(dir / "file", "");
    EXPECT_FALSE(plat::TryCreateFolders((dir / "file" / "sub").string(), &err));
    EXPECT_EQ(err, ENOTDIR);
    EXPECT_FALSE(plat::TryCreateFolders((dir / "file").string(), &err));
    EXPECT_EQ(err, ENOTDIR);
    EXPECT_THROW(plat::CreateFolders(""), plat::EFileError);
}

TEST(Files, RenameAcrossFileSystemsCopiesAndRemoves) {
    // /dev/shm is a separate file system from the temporary folder on most machines.
    kwtest::TempDir dir;
    if (!plat::FolderExists("/dev/shm")) GTEST_SKIP() << "no /dev/shm";
    struct stat a {
    }, b{};
    ::stat(dir.path().c_str(), &a);
    ::stat("/dev/shm", &b);
    if (a.st_dev == b.st_dev) GTEST_SKIP() << "/dev/shm is on the same file system";
    const auto src = (dir / "moved.bin").string();
    kwtest::WriteFile(src, "content");
    const auto when = Utc(2021, 6, 1, 8, 0, 0);
    plat::SetFileLastWriteTime(src, when);
    const auto dst = "/dev/shm/kw-platform-test-" + std::to_string(::getpid());
    plat::RenameFile(src, dst);
    EXPECT_FALSE(plat::PathExists(src));
    EXPECT_EQ(kwtest::ReadFile(dst), "content");
    EXPECT_EQ(plat::FileLastWriteTime(dst), when);
    plat::DeleteFile(dst);
}

TEST(Files, ListFolder) {
    kwtest::TempDir dir;
    kwtest::WriteFile(dir / "b.txt", "12");
    kwtest::WriteFile(dir / ".hidden", "");
    kwtest::WriteFile(dir / "A.TXT", "1");
    plat::CreateFolders((dir / "sub").string());
    Chmod((dir / "b.txt").string(), 0444);
    std::filesystem::create_symlink(dir / "nowhere", dir / "dangling");
    const auto list = plat::ListFolder(dir.path().string());
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].name, ".hidden");
    EXPECT_TRUE(list[0].hidden);
    EXPECT_EQ(list[1].name, "A.TXT");
    EXPECT_EQ(list[1].size, 1);
    EXPECT_FALSE(list[1].readOnly);
    EXPECT_EQ(list[2].name, "b.txt");
    EXPECT_EQ(list[2].size, 2);
    EXPECT_TRUE(list[2].readOnly);
    EXPECT_EQ(list[3].name, "sub");
    EXPECT_TRUE(list[3].isFolder);
    EXPECT_THROW(plat::ListFolder((dir / "none").string()), plat::EFileError);
}

// A look through the open folders finds what a look at the whole path finds: the same entry,
// or the same error, whatever the path is, and however many folders it has gone through.
TEST(Files, FileInfoLookupFindsWhatALookAtThePathFinds) {
    kwtest::TempDir dir;
    const std::string d = dir.path().string();
    kwtest::WriteFile(dir / "a.dll", "123");
    kwtest::WriteFile(dir / ".oculto", "1");
    plat::CreateFolders(d + "/sub/sub2");
    kwtest::WriteFile(dir / "sub" / "b.dll", "12345");
    Chmod(d + "/a.dll", 0444);
    std::filesystem::create_symlink(dir / "sub", dir / "atalho");
    std::filesystem::create_symlink(dir / "nada", dir / "quebrado");
    for (int i = 0; i < 6; ++i)
        kwtest::WriteFile(dir / ("p" + std::to_string(i)), "");
    plat::CreateFolders(d + "/muitas");
    for (int i = 0; i < 6; ++i) {
        plat::CreateFolders(d + "/muitas/" + std::to_string(i));
        kwtest::WriteFile(dir / "muitas" / std::to_string(i) / "c.dll", std::string(size_t(i), 'x'));
    }
    struct Caso {
        std::string caminho;
        int erro;  // 0: found
        int64_t tamanho;
        bool pasta, oculto, somenteLeitura;
    };
    std::vector<Caso> casos = {
        {d + "/a.dll", 0, 3, false, false, true},
        {d + "/.oculto", 0, 1, false, true, false},
        {d + "/sub", 0, 0, true, false, false},
        {d + "/sub/", 0, 0, true, false, false},
        {d + "/sub/b.dll", 0, 5, false, false, false},
        {d + "/atalho/b.dll", 0, 5, false, false, false},
        {d + "/atalho/sub2", 0, 0, true, false, false},
        {d + "/falta.dll", ENOENT, 0, false, false, false},
        {d + "/quebrado", ENOENT, 0, false, false, false},
        {d + "/nenhuma/b.dll", ENOENT, 0, false, false, false},
        {d + "/a.dll/b.dll", ENOTDIR, 0, false, false, false},
        {d + "/sub/b.dll", 0, 5, false, false, false},  // back to an open folder
        {"/", 0, 0, true, false, false},
        {"/tmp", 0, 0, true, false, false},
    };
    // More folders than stay open, then the first ones again.
    for (int volta = 0; volta < 2; ++volta)
        for (int i = 0; i < 6; ++i)
            casos.push_back({d + "/muitas/" + std::to_string(i) + "/c.dll", 0, i, false, false, false});
    plat::FileInfoLookup lookup;
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.caminho);
        plat::FolderEntry achado, esperado;
        int erroAchado = 0, erroEsperado = 0;
        const bool ok = lookup.TryFileInfo(c.caminho, achado, &erroAchado);
        ASSERT_EQ(plat::TryFileInfo(c.caminho, esperado, &erroEsperado), c.erro == 0);
        ASSERT_EQ(ok, c.erro == 0);
        if (!ok) {
            EXPECT_EQ(erroAchado, c.erro);
            EXPECT_EQ(erroEsperado, c.erro);
            continue;
        }
        EXPECT_EQ(achado.name, esperado.name);
        EXPECT_EQ(achado.size, c.tamanho);
        EXPECT_EQ(achado.isFolder, c.pasta);
        EXPECT_EQ(achado.hidden, c.oculto);
        EXPECT_EQ(achado.readOnly, c.somenteLeitura);
        EXPECT_EQ(achado.lastWrite, esperado.lastWrite);
    }
    // A bare name is looked at in the process's own folder.
    const auto antes = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    plat::FolderEntry e;
    const bool achou = lookup.TryFileInfo("a.dll", e);
    std::filesystem::current_path(antes);
    ASSERT_TRUE(achou);
    EXPECT_EQ(e.size, 3);
}

TEST(Files, ResolveCaseInsensitive) {
    kwtest::TempDir dir;
    const std::string d = dir.path().string();
    plat::CreateFolders(d + "/Sistema/Ação");
    kwtest::WriteFile(d + "/Sistema/QORAPP.exe", "");
    kwtest::WriteFile(d + "/Sistema/Ação/Relatório.DLL", "");
    kwtest::WriteFile(d + "/Sistema/dup.txt", "");
    kwtest::WriteFile(d + "/Sistema/DUP.txt", "");
    kwtest::WriteFile(d + "/Sistema/Łódź.txt", "");
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        // Exact names come back as they are.
        {d + "/Sistema/QORAPP.exe", d + "/Sistema/QORAPP.exe"},
        {d + "/Sistema//QORAPP.exe", d + "/Sistema//QORAPP.exe"},
        // Each component matched without regard to case, Latin-1 letters included.
        {d + "/sistema/qorapp.EXE", d + "/Sistema/QORAPP.exe"},
        {d + "/SISTEMA/AÇÃO/RELATÓRIO.dll", d + "/Sistema/Ação/Relatório.DLL"},
        {d + "/sistema/ação/", d + "/Sistema/Ação/"},
        // Several candidates: an exact one wins, else the first in byte order.
        {d + "/Sistema/dup.txt", d + "/Sistema/dup.txt"},
        {d + "/Sistema/Dup.txt", d + "/Sistema/DUP.txt"},
        // Missing tails keep their spelling under the matched folders.
        {d + "/SISTEMA/novo.exe", d + "/Sistema/novo.exe"},
        {d + "/SISTEMA/Novo/x.exe", d + "/Sistema/Novo/x.exe"},
        // Nothing matches: unchanged.
        {d + "/Outro/x", d + "/Outro/x"},
        {"/kw-no-such-root/a", "/kw-no-such-root/a"},
        {"", ""},
        // "." and ".." are kept as written.
        {d + "/sistema/../SISTEMA/qorapp.exe", d + "/Sistema/../Sistema/QORAPP.exe"},
        // A file cannot be a folder.
        {d + "/sistema/qorapp.exe/x", d + "/Sistema/QORAPP.exe/x"},
        // A last name that exists nowhere keeps its spelling.
        {d + "/SISTEMA/AÇÃO/RELATÓRIO.DLL.bak", d + "/Sistema/Ação/RELATÓRIO.DLL.bak"},
        // Letters beyond Latin-1 are not folded (Ł is U+0141).
        {d + "/Sistema/łódź.txt", d + "/Sistema/łódź.txt"},
        {d + "/sistema/Łódź.TXT", d + "/Sistema/Łódź.txt"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(plat::ResolveCaseInsensitive(c.in), c.out) << c.in;

    // Relative paths stay relative.
    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    EXPECT_EQ(plat::ResolveCaseInsensitive("sistema/qorapp.exe"), "Sistema/QORAPP.exe");
    EXPECT_EQ(plat::ResolveCaseInsensitive("./SISTEMA"), "./Sistema");
    std::filesystem::current_path(old);
}

}  // namespace

// A file the system reports as empty (as /proc's are) copies as empty: a copy takes no more
// than the size the source had when it was opened.
TEST(Files, CopyTakesNoMoreThanTheSourcesSize) {
    kwtest::TempDir dir;
    const auto dst = (dir / "dst").string();
    EXPECT_TRUE(plat::TryCopyFile("/proc/self/status", dst));
    EXPECT_EQ(kwtest::ReadFile(dst), "");
}

TEST(Files, MakeExecutable) {
    kwtest::TempDir dir;
    struct Case {
        mode_t before, after;
    };
    for (const Case c :
         {Case{0644, 0755}, Case{0600, 0700}, Case{0640, 0750}, Case{0444, 0555}, Case{0755, 0755}}) {
        const auto f = (dir / "x").string();
        kwtest::WriteFile(f, "#!/bin/sh\nexit 7\n");
        Chmod(f, c.before);
        int err = 0;
        EXPECT_TRUE(plat::TryMakeExecutable(f, &err)) << std::oct << c.before << " " << err;
        struct stat st {};
        ASSERT_EQ(::stat(f.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.after) << std::oct << c.before;
        std::filesystem::remove(f);
    }
    int err = 0;
    EXPECT_FALSE(plat::TryMakeExecutable((dir / "none").string(), &err));
    EXPECT_EQ(err, ENOENT);
    EXPECT_FALSE(plat::TryMakeExecutable(dir.path().string(), &err));
    EXPECT_EQ(err, EISDIR);
}

// A file system mounted without execution: the bits are set, but the file still cannot be
// started, and the call says so (the launcher then neither installs nor records the executor).
TEST(Files, MakeExecutableFailsWhereNothingMayRun) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a file system";
    kwtest::TempDir dir;
    const std::string mnt = (dir / "noexec").string();
    std::filesystem::create_directories(mnt);
    if (::system(("mount -t tmpfs -o size=1m,noexec tmpfs " + mnt + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no tmpfs mount here";
    const auto f = mnt + "/kwExec.exe";
    kwtest::WriteFile(f, "#!/bin/sh\nexit 0\n");
    int err = 0;
    EXPECT_FALSE(plat::TryMakeExecutable(f, &err));
    EXPECT_EQ(err, EACCES);
    EXPECT_EQ(::system(("umount " + mnt).c_str()), 0);
}

// A temporary name beside a file is fresh each time and of the form copies leave, so the
// leftovers' cleanup takes an old one and keeps a recent one.
TEST(Files, TemporaryNamesBesideAFileAreTheLeftoversTheCleanupKnows) {
    kwtest::TempDir dir;
    const std::string destino = (dir / "kwExec.exe").string();
    const std::string a = plat::TemporaryNameBeside(destino);
    const std::string b = plat::TemporaryNameBeside(destino);
    EXPECT_NE(a, b);
    const std::string prefixo = dir.path().string() + "/.kwExec.exe.kwtmp-";
    ASSERT_EQ(a.size(), prefixo.size() + 6) << a;
    EXPECT_EQ(a.compare(0, prefixo.size(), prefixo), 0) << a;
    kwtest::WriteFile(a, "old");
    kwtest::WriteFile(b, "recent");
    plat::SetFileLastWriteTime(a, plat::FileLastWriteTime(a) - std::chrono::hours(1));
    EXPECT_EQ(plat::RemoveCopyLeftovers(destino, std::chrono::minutes(10)), 1);
    EXPECT_FALSE(plat::FileExists(a));
    EXPECT_TRUE(plat::FileExists(b));
}

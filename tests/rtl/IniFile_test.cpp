// INI files: the profile rules for reading (case, blanks, quotes, duplicates, numbers,
// missing pieces), writes that keep every other byte of the file, and the parsed copy that
// is reused until the file changes on disk.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "rtl/IniFile.h"
#include "rtl/Stream.h"
#include "rtl/Text.h"
#include "support/OtherUser.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// Moves a file's time well into the past, as for a configuration file that was installed
// long ago.
void MakeOld(const fs::path& p, std::chrono::hours age = std::chrono::hours(1)) {
    fs::last_write_time(p, fs::file_time_type::clock::now() - age);
}

const char* const kSample =
    "\xEF\xBB\xBF; configuration of the workstation\r\n"
    "orphan=before any section\r\n"
    "\r\n"
    "[KWUPDATE]\r\n"
    "TipoServidor = remoto\r\n"
    "CdSistema=  12  \r\n"
    "Alias=\"  spaced  \"\r\n"
    "Single='quoted'\r\n"
    "Mismatch=\"abc'\r\n"
    "OnlyQuote=\"\r\n"
    "Inner=a \"b\" c\r\n"
    "Empty=\r\n"
    "Quotes=\"\"\r\n"
    "NoEquals line\r\n"
    "  Indented  =  yes\t\r\n"
    "=novalue\r\n"
    "Semi=a;b ; not a comment\r\n"
    "[ Servidor ]  trailing text\r\n"
    "enderecoIP=10.0.0.1:211\n"
    "[kwupdate]\r\n"
    "CdSistema=99\r\n"
    "Extra=from second\r\n"
    "[DataBaseName]\r\n"
    "; nothing here\r\n"
    "[Configuração]\r\n"
    "Língua=10\r\n"
    "[Numbers]\r\n"
    "a=0x1F\r\n"
    "b=0X7fffffff\r\n"
    "c=0xFFFFFFFF\r\n"
    "d=0x1FFFFFFFF\r\n"
    "e=$10\r\n"
    "f=-12\r\n"
    "g=+7\r\n"
    "h=12abc\r\n"
    "i=1.5\r\n"
    "j=\r\n"
    "k=0x\r\n"
    "l=99999999999\r\n"
    "m= 42 \r\n"
    "n=\"7\"\r\n"
    "o=0xG1\r\n"
    "p=-0x10\r\n"
    "[Bool]\r\n"
    "zero=0\r\n"
    "one=1\r\n"
    "two=2\r\n"
    "neg=-1\r\n"
    "word=true\r\n"
    "hexzero=0x0\r\n"
    "blank=\r\n";

class IniFileTest : public testing::Test {
protected:
    void SetUp() override {
        path_ = (dir_ / "kwCFG.ini").string();
        kwtest::WriteFile(path_, kSample);
    }
    kwtest::TempDir dir_;
    std::string path_;
};

TEST_F(IniFileTest, ReadsStringsAsTheProfileFunctionsDo) {
    rtl::IniFile ini(path_);
    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    };
    const Case cases[] = {
        {"kwupdate", "tiposervidor", "remoto"},       // case of section and key does not matter
        {" KWUPDATE ", " CdSistema ", "12"},          // names and value are trimmed; first wins
        {"KWUPDATE", "Alias", "  spaced  "},          // quotes keep the blanks inside
        {"KWUPDATE", "Single", "quoted"},             // single quotes too
        {"KWUPDATE", "Mismatch", "\"abc'"},           // only a matching pair is removed
        {"KWUPDATE", "OnlyQuote", "\""},              // one quote is not a pair
        {"KWUPDATE", "Inner", "a \"b\" c"},           // quotes inside stay
        {"KWUPDATE", "Empty", ""},                    // present and empty: not the default
        {"KWUPDATE", "Quotes", ""},                   // an empty quoted value
        {"KWUPDATE", "NoEquals line", "<def>"},       // a line without '=' is no key
        {"KWUPDATE", "Indented", "yes"},              // blanks and tabs around
        {"KWUPDATE", "", "<def>"},                    // "=novalue" has no key
        {"KWUPDATE", "Semi", "a;b ; not a comment"},  // ';' only starts a comment line
        {"KWUPDATE", "Extra", "from second"},         // a repeated section adds its keys
        {"Servidor", "EnderecoIP", "10.0.0.1:211"},   // blanks inside the brackets, LF line end
        {"KWUPDATE", "orphan", "<def>"},              // keys before any section belong to none
        {"", "orphan", "<def>"},
        {"CONFIGURAÇÃO", "LÍNGUA", "10"},  // Latin-1 letters fold too
        {"Missing", "Key", "<def>"},
        {"KWUPDATE", "Missing", "<def>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ini.ReadString(c.section, c.key, "<def>"), c.expected) << c.section << "/" << c.key;

    // A byte order mark in front of the first section header does not hide the section.
    kwtest::WriteFile(dir_ / "bom.ini", "\xEF\xBB\xBF[A]\r\nx=1\r\n");
    EXPECT_EQ(rtl::IniFile((dir_ / "bom.ini").string()).ReadString("a", "x", ""), "1");
}

TEST_F(IniFileTest, ReadsNumbersAndBooleans) {
    rtl::IniFile ini(path_);
    struct Case {
        const char* key;
        int32_t expected;  // with default -99
    };
    const Case ints[] = {
        {"a", 0x1F}, {"b", 0x7FFFFFFF}, {"c", -1},  {"d", -99}, {"e", 16},       {"f", -12},
        {"g", 7},    {"h", -99},        {"i", -99}, {"j", -99}, {"k", -99},      {"l", -99},
        {"m", 42},   {"n", 7},          {"o", -99}, {"p", -99}, {"absent", -99},
    };
    for (const auto& c : ints)
        EXPECT_EQ(ini.ReadInteger("Numbers", c.key, -99), c.expected) << c.key;

    struct BoolCase {
        const char* key;
        bool withTrue;
        bool withFalse;
    };
    const BoolCase bools[] = {
        {"zero", false, false}, {"one", true, true},       {"two", true, true},    {"neg", true, true},
        {"word", true, false},  {"hexzero", false, false}, {"blank", true, false}, {"absent", true, false},
    };
    for (const auto& c : bools) {
        EXPECT_EQ(ini.ReadBool("Bool", c.key, true), c.withTrue) << c.key;
        EXPECT_EQ(ini.ReadBool("Bool", c.key, false), c.withFalse) << c.key;
    }
}

TEST_F(IniFileTest, ListsSectionsAndKeys) {
    rtl::IniFile ini(path_);
    rtl::StringList l;
    ini.ReadSection("kwupdate", l);
    EXPECT_EQ(l.Lines(), (Lines{"TipoServidor", "CdSistema", "Alias", "Single", "Mismatch", "OnlyQuote",
                                "Inner", "Empty", "Quotes", "Indented", "Semi", "Extra"}));
    ini.ReadSections(l);
    EXPECT_EQ(l.Lines(), (Lines{"KWUPDATE", "Servidor", "DataBaseName", "Configuração", "Numbers", "Bool"}));
    ini.ReadSectionValues("SERVIDOR", l);
    EXPECT_EQ(l.Lines(), (Lines{"enderecoIP=10.0.0.1:211"}));
    ini.ReadSection("DataBaseName", l);  // a header with only a comment has no keys
    EXPECT_EQ(l.Count(), 0);
    ini.ReadSection("nowhere", l);
    EXPECT_EQ(l.Count(), 0);

    EXPECT_TRUE(ini.SectionExists("servidor"));
    EXPECT_FALSE(ini.SectionExists("DataBaseName"));  // a section exists when it has keys
    EXPECT_FALSE(ini.SectionExists("nowhere"));
    EXPECT_TRUE(ini.ValueExists("KWUPDATE", "empty"));
    EXPECT_TRUE(ini.ValueExists("KWUPDATE", "Extra"));
    EXPECT_FALSE(ini.ValueExists("KWUPDATE", "NoEquals line"));
    EXPECT_FALSE(ini.ValueExists("nowhere", "x"));
}

TEST(IniFile, MissingFileGivesDefaultsAndIsNotCreatedByReads) {
    kwtest::TempDir dir;
    const std::string path = (dir / "absent.ini").string();
    rtl::IniFile ini(path);
    EXPECT_EQ(ini.ReadString("A", "b", "def"), "def");
    EXPECT_EQ(ini.ReadInteger("A", "b", 4), 4);
    EXPECT_TRUE(ini.ReadBool("A", "b", true));
    rtl::StringList l{"stale"};
    ini.ReadSections(l);
    EXPECT_EQ(l.Count(), 0);
    EXPECT_FALSE(ini.SectionExists("A"));
    ini.EraseSection("A");
    ini.DeleteKey("A", "b");
    EXPECT_FALSE(fs::exists(path));

    // A folder where the file should be reads as an empty file.
    fs::create_directory(dir / "folder.ini");
    EXPECT_EQ(rtl::IniFile((dir / "folder.ini").string()).ReadString("A", "b", "d"), "d");
}

TEST(IniFile, WritesKeepEveryOtherByte) {
    struct Case {
        const char* name;
        std::string before;
        std::function<void(rtl::IniFile&)> op;
        std::string after;
    };
    const Case cases[] = {
        {"change keeps spelling, spacing and neighbours",
         "; top\r\n[RPC]\r\nControlarReconexao = 0\r\n; c\r\n",
         [](rtl::IniFile& i) { i.WriteBool("rpc", "controlarreconexao", true); },
         "; top\r\n[RPC]\r\nControlarReconexao = 1\r\n; c\r\n"},
        {"new key after the last key line", "[A]\r\nx=1\r\n\r\n; tail comment\r\n[B]\r\ny=2\r\n",
         [](rtl::IniFile& i) { i.WriteString("A", "z", "3"); },
         "[A]\r\nx=1\r\nz=3\r\n\r\n; tail comment\r\n[B]\r\ny=2\r\n"},
        {"new key in a section without keys", "[A]\r\n; only comment\r\n[B]\r\n",
         [](rtl::IniFile& i) { i.WriteString("A", "k", "v"); }, "[A]\r\nk=v\r\n; only comment\r\n[B]\r\n"},
        {"new section at the end, in the file's line ends", "[A]\nx=1",
         [](rtl::IniFile& i) { i.WriteInteger("RPC", "k", -5); }, "[A]\nx=1\n[RPC]\nk=-5\n"},
        {"new key after a last line without line end", "[A]\r\nx=1",
         [](rtl::IniFile& i) { i.WriteString("A", "y", "2"); }, "[A]\r\nx=1\r\ny=2\r\n"},
        {"mixed line ends: a lone CR never joins the next line's LF", "[A]\rx=1\n\n[B]\r",
         [](rtl::IniFile& i) { i.WriteString("A", "y", "2"); }, "[A]\rx=1\ny=2\r\n\n[B]\r"},
        {"empty file", "", [](rtl::IniFile& i) { i.WriteBool("RPC", "ConsultarDispIDLocal", false); },
         "[RPC]\r\nConsultarDispIDLocal=0\r\n"},
        {"the first of repeated keys changes", "[A]\r\nk=1\r\n[B]\r\n[a]\r\nk=2\r\ny=2\r\n",
         [](rtl::IniFile& i) { i.WriteString("A", "K", "9"); }, "[A]\r\nk=9\r\n[B]\r\n[a]\r\nk=2\r\ny=2\r\n"},
        {"a key of the second occurrence changes there", "[A]\r\nx=1\r\n[B]\r\n[a]\r\ny=2\r\n",
         [](rtl::IniFile& i) { i.WriteString("A", "y", "3"); }, "[A]\r\nx=1\r\n[B]\r\n[a]\r\ny=3\r\n"},
        {"a new key goes to the first occurrence", "[A]\r\nx=1\r\n[B]\r\n[a]\r\ny=2\r\n",
         [](rtl::IniFile& i) { i.WriteString("A", "z", "4"); }, "[A]\r\nx=1\r\nz=4\r\n[B]\r\n[a]\r\ny=2\r\n"},
        {"unknown lines, BOM and loose keys stay",
         "\xEF\xBB\xBF; top\r\nloose=1\r\n[A]\r\nweird line\r\n x = 1 \r\n",
         [](rtl::IniFile& i) { i.WriteString("a", "X", "2"); },
         "\xEF\xBB\xBF; top\r\nloose=1\r\n[A]\r\nweird line\r\n x = 2\r\n"},
        {"values that would not read back are quoted", "[A]\r\n",
         [](rtl::IniFile& i) {
             i.WriteString("A", "pad", " p ");
             i.WriteString("A", "dq", "\"x\"");
             i.WriteString("A", "sq", "'y'");
             i.WriteString("A", "plain", "a \"b\" c");
             i.WriteString("A", "empty", "");
         },
         "[A]\r\npad=\" p \"\r\ndq=\"\"x\"\"\r\nsq=\"'y'\"\r\nplain=a \"b\" c\r\nempty=\r\n"},
        {"erase every occurrence of a section",
         "[A]\r\na=1\r\n[B]\r\nb=1\r\n; b comment\r\n[a]\r\nc=1\r\n[C]\r\n",
         [](rtl::IniFile& i) { i.EraseSection(" a "); }, "[B]\r\nb=1\r\n; b comment\r\n[C]\r\n"},
        {"delete every line of a key", "[A]\r\nk=1\r\nK=2\r\nj=3\r\n[B]\r\nk=4\r\n",
         [](rtl::IniFile& i) { i.DeleteKey("A", "k"); }, "[A]\r\nj=3\r\n[B]\r\nk=4\r\n"},
        {"delete of a missing key changes nothing", "[A]\nk=1",
         [](rtl::IniFile& i) {
             i.DeleteKey("A", "x");
             i.EraseSection("Z");
         },
         "[A]\nk=1"},
    };
    for (const auto& c : cases) {
        kwtest::TempDir dir;
        const fs::path p = dir / "kwCFG.ini";
        kwtest::WriteFile(p, c.before);
        rtl::IniFile ini(p.string());
        c.op(ini);
        EXPECT_EQ(kwtest::ReadFile(p), c.after) << c.name;
    }
}

TEST(IniFile, WrittenValuesReadBackAsWritten) {
    kwtest::TempDir dir;
    const std::string path = (dir / "rt.ini").string();
    rtl::IniFile ini(path);
    const std::string values[] = {
        "",      " ",   "  lead", "trail\t",
        "\"q\"", "'s'", "\"",     "a=b",
        "ação",  "x;y", "\"a'",   std::string(5000, 'x')};  // longer than a profile buffer: never cut
    int n = 0;
    for (const auto& v : values)
        ini.WriteString("S", "k" + std::to_string(n++), v);
    rtl::IniFile again(path);
    n = 0;
    for (const auto& v : values)
        EXPECT_EQ(again.ReadString("S", "k" + std::to_string(n++), "<def>"), v) << v;
}

TEST(IniFile, MissingFileIsCreatedOnWrite) {
    kwtest::TempDir dir;
    const fs::path p = dir / "novo.ini";
    rtl::IniFile ini(p.string());
    EXPECT_EQ(ini.ReadString("RPC", "ControlarReconexao", "x"), "x");
    ini.WriteBool("RPC", "ControlarReconexao", true);
    ini.WriteBool("RPC", "ConsultarDispIDLocal", false);
    EXPECT_EQ(kwtest::ReadFile(p), "[RPC]\r\nControlarReconexao=1\r\nConsultarDispIDLocal=0\r\n");
    EXPECT_TRUE(ini.ReadBool("RPC", "ControlarReconexao", false));
}

TEST(IniFile, RefusesNamesAndValuesThatWouldBreakTheFile) {
    kwtest::TempDir dir;
    const fs::path p = dir / "x.ini";
    kwtest::WriteFile(p, "[A]\r\nk=1\r\n");
    rtl::IniFile ini(p.string());
    struct Case {
        std::string section, key, value;
    };
    const Case cases[] = {
        {"", "k", "v"},     {"  ", "k", "v"},   {"A]", "k", "v"},   {"A\r\nB", "k", "v"},
        {"A", "", "v"},     {"A", "k=x", "v"},  {"A", "[k", "v"},   {"A", ";k", "v"},
        {"A", "k\nx", "v"}, {"A", "k", "a\nb"}, {"A", "k", "a\rb"}, {"A", "k", std::string("a\0b", 3)},
    };
    for (const auto& c : cases)
        EXPECT_THROW(ini.WriteString(c.section, c.key, c.value), rtl::EIniFileException)
            << testing::PrintToString(c.section) << " " << testing::PrintToString(c.key);
    EXPECT_EQ(kwtest::ReadFile(p), "[A]\r\nk=1\r\n");
}

TEST(IniFile, FailedWritesRaiseAndLoseNothing) {
    kwtest::TempDir dir;
    // The folder is missing.
    const std::string inMissing = (dir / "no" / "kwCFG.ini").string();
    try {
        rtl::IniFile(inMissing).WriteBool("RPC", "k", true);
        ADD_FAILURE() << "wrote into a missing folder";
    } catch (const rtl::EIniFileException& e) {
        EXPECT_EQ(e.Message(), "Unable to write to " + inMissing);
        EXPECT_STREQ(e.ClassName(), "EIniFileException");
        // The system's reason comes with it.
        const rtl::FileFailure* f = rtl::FileFailureIn(e);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->Reason(), "No such file or directory");
    }
    // Something that cannot be read stands where the file is: it is not replaced by a file
    // holding only the new key.
    const fs::path folder = dir / "kwCFG.ini";
    fs::create_directory(folder);
    kwtest::WriteFile(folder / "inside", "keep");
    EXPECT_THROW(rtl::IniFile(folder.string()).WriteString("A", "k", "v"), rtl::EIniFileException);
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(kwtest::ReadFile(folder / "inside"), "keep");
}

// A folder its user may not write to, with a settings file the user may write (a program
// installed by an administrator for every user): the write is made in place, the file keeps its
// identity and the folder gets nothing new. A file the user may not write either fails, with
// the system's reason carried by the error. A second local user (nobody) writes.
TEST(IniFile, AFolderThatRefusesNewFilesIsWrittenInPlace) {
    if (!kwtest::CanActAsOtherUser()) GTEST_SKIP() << "needs root to act as two users";
    kwtest::TempDir dir;
    const auto rx = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                    fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(dir.path(), rx);
    kwtest::TempDir out;
    fs::permissions(out.path(), fs::perms::all);
    const kwtest::ProgramForAnyone prog("rtl_ini_write");
    struct Case {
        const char* name;
        fs::perms mode;
        std::string result;
    };
    const fs::perms rw =
        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;
    const Case cases[] = {
        {"writable file", rw | fs::perms::group_write | fs::perms::others_write, "ok\n"},
        {"read-only file", rw,
         "error\nUnable to write to " + (dir / "kwCFG.ini").string() + "\nPermission denied\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path ini = dir / "kwCFG.ini";
        const std::string before = "; comment\r\n[KWUPDATE]\r\nCdSistema=3\r\n";
        kwtest::WriteFile(ini, before);
        fs::permissions(ini, c.mode);
        struct stat was {};
        ASSERT_EQ(::stat(ini.c_str(), &was), 0);
        const std::string result = (out / "result").string();
        const pid_t pid = kwtest::StartAsUser(kwtest::kNobodyUid, kwtest::kNobodyGid, prog.path(),
                                              {ini.string(), "RPC", "ControlarReconexao", "1", result});
        ASSERT_GT(pid, 0);
        EXPECT_EQ(kwtest::WaitForExit(pid), c.result == "ok\n" ? 0 : 1);
        EXPECT_EQ(kwtest::ReadFile(result), c.result);
        EXPECT_EQ(kwtest::ReadFile(ini),
                  c.result == "ok\n" ? before + "[RPC]\r\nControlarReconexao=1\r\n" : before);
        struct stat now {};
        ASSERT_EQ(::stat(ini.c_str(), &now), 0);
        EXPECT_EQ(now.st_ino, was.st_ino);
        EXPECT_EQ(now.st_uid, 0u);
        EXPECT_EQ(now.st_mode, was.st_mode);
        int entries = 0;
        for (const auto& e : fs::directory_iterator(dir.path())) {
            (void)e;
            ++entries;
        }
        EXPECT_EQ(entries, 1);
    }
}

// The in-place writer itself: longer and shorter contents, the file's identity and mode kept;
// something that is not a regular file is refused, with the system's reason.
TEST(IniFile, InPlaceWritesReplaceTheWholeContent) {
    kwtest::TempDir dir;
    const fs::path p = dir / "f.ini";
    kwtest::WriteFile(p, "0123456789");
    fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    struct stat was {};
    ASSERT_EQ(::stat(p.c_str(), &was), 0);
    for (const std::string& content : {std::string(100000, 'x'), std::string("ab"), std::string()}) {
        rtl::WriteFileInPlace(p.string(), content);
        EXPECT_EQ(kwtest::ReadFile(p), content);
        struct stat now {};
        ASSERT_EQ(::stat(p.c_str(), &now), 0);
        EXPECT_EQ(now.st_ino, was.st_ino);
        EXPECT_EQ(now.st_mode, was.st_mode);
    }
    for (const fs::path& other : {dir / "missing.ini", dir.path()}) {
        try {
            rtl::WriteFileInPlace(other.string(), "x");
            ADD_FAILURE() << "wrote " << other;
        } catch (const rtl::EWriteError& e) {
            const rtl::FileFailure* f = rtl::FileFailureIn(e);
            ASSERT_NE(f, nullptr);
            EXPECT_EQ(f->FileName(), other.string());
            EXPECT_NE(f->Code(), 0);
            EXPECT_NE(e.Message().find(f->Reason()), std::string::npos) << e.Message();
        }
    }
}

TEST(IniFile, WritesReplaceTheFileWholeAndLeaveNoTemporaries) {
    kwtest::TempDir dir;
    const fs::path p = dir / "kwCFG.ini";
    kwtest::WriteFile(p, "[A]\r\nk=1\r\n");
    MakeOld(p);
    struct stat before {};
    ASSERT_EQ(::stat(p.c_str(), &before), 0);
    const auto oldTime = fs::last_write_time(p);

    rtl::IniFile ini(p.string());
    ini.WriteString("A", "k", "1");  // the same value: the file is not touched
    EXPECT_EQ(fs::last_write_time(p), oldTime);

    ini.WriteString("A", "k", "2");
    struct stat after {};
    ASSERT_EQ(::stat(p.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);  // renamed into place, never rewritten in place
    size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 1u);
}

TEST(IniFile, ThousandReadsParseOnce) {
    kwtest::TempDir dir;
    const fs::path p = dir / "kwCFG.ini";
    std::string text = "[Servidor]\r\nTimeoutTesteRede=4\r\n[kwBalanceador]\r\nGUID={0}\r\n";
    for (int i = 1; i <= 500; i += 7)
        text += "EnderecoIP" + std::to_string(i) + "=10.0.0." + std::to_string(i % 250) + "\r\n";
    kwtest::WriteFile(p, text);
    MakeOld(p);

    rtl::IniFile ini(p.string());
    const uint64_t totalBefore = rtl::IniFile::TotalParseCount();
    int found = 0;
    for (int i = 1; i <= 500; ++i)
        if (!ini.ReadString("kwBalanceador", "EnderecoIP" + std::to_string(i), "").empty()) ++found;
    for (int i = 0; i < 500; ++i)
        EXPECT_EQ(ini.ReadInteger("Servidor", "TimeoutTesteRede", 0), 4);
    EXPECT_EQ(found, 72);
    EXPECT_EQ(ini.ParseCount(), 1u);
    EXPECT_EQ(rtl::IniFile::TotalParseCount() - totalBefore, 1u);
}

TEST(IniFile, AChangeOnDiskIsReadAgain) {
    kwtest::TempDir dir;
    const fs::path p = dir / "kwCFG.ini";
    kwtest::WriteFile(p, "[A]\r\nk=1\r\n");
    MakeOld(p, std::chrono::hours(2));
    rtl::IniFile ini(p.string());
    EXPECT_EQ(ini.ReadString("A", "k", ""), "1");
    EXPECT_EQ(ini.ReadString("A", "k", ""), "1");
    EXPECT_EQ(ini.ParseCount(), 1u);

    // Another size.
    kwtest::WriteFile(p, "[A]\r\nk=22\r\n");
    MakeOld(p, std::chrono::hours(2));
    EXPECT_EQ(ini.ReadString("A", "k", ""), "22");
    EXPECT_EQ(ini.ParseCount(), 2u);

    // The same size, another time.
    kwtest::WriteFile(p, "[A]\r\nk=33\r\n");
    MakeOld(p, std::chrono::hours(3));
    EXPECT_EQ(ini.ReadString("A", "k", ""), "33");
    EXPECT_EQ(ini.ParseCount(), 3u);

    // Removed and written by another object.
    fs::remove(p);
    EXPECT_EQ(ini.ReadString("A", "k", "gone"), "gone");
    rtl::IniFile other(p.string());
    other.WriteString("A", "k", "44");
    EXPECT_EQ(ini.ReadString("A", "k", ""), "44");
}

TEST(IniFile, ASameSizeChangeInTheSameClockTickIsNotMissed) {
    // A file written moments ago may be rewritten within the same tick of the file system's
    // clock; with the same size, its size and time then look unchanged. Forge exactly that:
    // rewrite with the same size and put the old time stamp back.
    kwtest::TempDir dir;
    const fs::path p = dir / "kwCFG.ini";
    kwtest::WriteFile(p, "[RPC]\r\nControlarReconexao=1\r\n");
    const auto stamp = fs::last_write_time(p);
    rtl::IniFile ini(p.string());
    EXPECT_TRUE(ini.ReadBool("RPC", "ControlarReconexao", false));

    kwtest::WriteFile(p, "[RPC]\r\nControlarReconexao=0\r\n");
    fs::last_write_time(p, stamp);
    EXPECT_FALSE(ini.ReadBool("RPC", "ControlarReconexao", true));
}

TEST(IniFile, OneObjectSharedByThreads) {
    kwtest::TempDir dir;
    const fs::path p = dir / "kwCFG.ini";
    kwtest::WriteFile(p, "[A]\r\nk=short\r\n");
    rtl::IniFile shared(p.string());
    rtl::IniFile writer(p.string());
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t)
        readers.emplace_back([&] {
            while (!stop) {
                const std::string v = shared.ReadString("A", "k", "");
                if (v != "short" && v != "a much longer value") ++bad;
            }
        });
    for (int i = 0; i < 100; ++i)
        writer.WriteString("A", "k", i % 2 ? "short" : "a much longer value");
    stop = true;
    for (auto& t : readers)
        t.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(shared.ReadString("A", "k", ""), "short");
}

TEST(IniFile, WritersThroughSeveralObjectsLoseNoKey) {
    // The configuration reader and the RPC writer are two objects on one file; writes through
    // them from several threads must each see the others' keys, never write over them.
    kwtest::TempDir dir;
    const fs::path p = dir / "kwCFG.ini";
    kwtest::WriteFile(p, "[Geral]\r\nLingua=10\r\n");
    constexpr int kThreads = 4, kKeys = 30;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&, t] {
            rtl::IniFile ini(p.string());
            for (int k = 0; k < kKeys; ++k)
                ini.WriteInteger("T" + std::to_string(t), "k" + std::to_string(k), k);
        });
    for (auto& w : writers)
        w.join();
    rtl::IniFile check(p.string());
    int found = 0;
    for (int t = 0; t < kThreads; ++t)
        for (int k = 0; k < kKeys; ++k)
            if (check.ReadInteger("T" + std::to_string(t), "k" + std::to_string(k), -1) == k) ++found;
    EXPECT_EQ(found, kThreads * kKeys);
    EXPECT_EQ(check.ReadString("Geral", "Lingua", ""), "10");
}

}  // namespace

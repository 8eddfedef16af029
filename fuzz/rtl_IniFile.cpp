// Fuzz target: INI files of any content. Every key read before a write reads the same after
// it (a write touches nothing but its own key), and the written value reads back as written.
//
// The file lives in a temporary folder of the fuzzing process, removed when the process ends
// (a run used to leave its file in /tmp), and the file itself goes after each input.
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "rtl/IniFile.h"
#include "rtl/Stream.h"
#include "rtl/Text.h"

namespace {

class TempFolder {
public:
    TempFolder() {
        std::string t = (std::filesystem::temp_directory_path() / "kw-fuzz-ini-XXXXXX").string();
        if (::mkdtemp(t.data()) == nullptr) std::abort();
        path_ = t;
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

const std::string& IniPath() {
    static const TempFolder folder;
    static const std::string path = folder.Path() + "/kwCFG.ini";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = IniPath();
    struct RemoveAfter {
        const std::string& path;
        ~RemoveAfter() {
            std::error_code ec;
            std::filesystem::remove(path, ec);
        }
    } removeAfter{path};
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    rtl::WriteFileAtomically(path, bytes);

    struct Pair {
        std::string section, key, value;
    };
    std::vector<Pair> before;
    {
        rtl::IniFile ini(path);
        rtl::StringList sections, keys;
        ini.ReadSections(sections);
        for (int s = 0; s < sections.Count(); ++s) {
            ini.ReadSection(sections[s], keys);
            for (int k = 0; k < keys.Count(); ++k)
                before.push_back({sections[s], keys[k], ini.ReadString(sections[s], keys[k], "")});
        }
        ini.ReadInteger("a", "b", 0);
        try {
            ini.WriteString("Fz", "k", " v\"");
        } catch (const rtl::EIniFileException&) {
            std::abort();  // a valid write into a writable folder must succeed
        }
    }
    rtl::IniFile again(path);
    if (again.ReadString("Fz", "k", "<none>") != " v\"") std::abort();
    for (const auto& p : before) {
        const bool isWritten = rtl::SameText(p.section, "Fz") && rtl::SameText(p.key, "k");
        if (!isWritten && again.ReadString(p.section, p.key, "<none>") != p.value) std::abort();
    }
    return 0;
}

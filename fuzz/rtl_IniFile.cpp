// Fuzz target: INI files of any content. Every key read before a write reads the same after
// it (a write touches nothing but its own key), and the written value reads back as written.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "rtl/IniFile.h"
#include "rtl/Stream.h"
#include "rtl/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/kw-fuzz-ini-" + std::to_string(::getpid()) + ".ini";
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

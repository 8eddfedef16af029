// tests/transfer/PatchToolSupport.h: the stand-in patch tool (tests/transfer/progs/
// kwAplicaPatchTeste) installed as kwAplicaPatch.exe, and the argument vector it recorded.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace kwtest {

inline void InstalePatchTeste(const std::filesystem::path& destino) {
    std::filesystem::copy_file(ProgPath("kwAplicaPatchTeste"), destino,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(destino, std::filesystem::perms::owner_all);
}

// The argument vector (argv[0] included) the tool at that path recorded at its last run.
inline std::vector<std::string> ArgumentosGravados(const std::filesystem::path& ferramenta) {
    const std::string dados = ReadFile(ferramenta.string() + ".argv");
    std::vector<std::string> r;
    std::string atual;
    for (char c : dados) {
        if (c == '\0') {
            r.push_back(atual);
            atual.clear();
        } else {
            atual += c;
        }
    }
    return r;
}

}  // namespace kwtest

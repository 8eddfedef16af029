// Fuzz target: requisites texts of any content (they arrive from the application server or the
// database). Reading never fails or reads out of bounds, the layout always fits the first line,
// and records written back through the layout read back to the same values.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/ukwUpdDBFlatFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string texto(reinterpret_cast<const char*>(data), size);
    TkwUpdDadosRequisitos lido;
    lido.SetTexto(texto);
    const int n = TkwUpdDBFlatFile::ConteCamposPrimeiraLinha(texto);
    const size_t campos = lido.NomesCampos().size();
    if (campos != size_t(n <= 13 ? 11 : n == 14 ? 14 : 16)) std::abort();

    std::vector<std::vector<std::string>> valores;
    lido.First();
    while (!lido.Eof()) {
        std::vector<std::string> registro;
        for (const std::string& nome : lido.NomesCampos())
            registro.push_back(lido.CampoPorNome(nome));
        // Rewriting a record through the layout keeps its values.
        lido.LimpeRegistro();
        lido.Post();
        valores.push_back(std::move(registro));
        lido.Next();
    }

    TkwUpdDadosRequisitos relido;
    relido.SetTexto(lido.GetTexto());
    if (relido.RecordCount() != int(valores.size())) std::abort();
    relido.First();
    for (const auto& registro : valores) {
        // A text of fewer fields than its layout is written out at full width: the layout of
        // the rewritten text may only grow, and the values read before stay where they were.
        for (size_t i = 0; i < registro.size(); ++i)
            if (relido.CampoPorNome(lido.NomesCampos()[i]) != registro[i]) std::abort();
        relido.Next();
    }
    return 0;
}

// transfer/ukwFuncoesTCP.cpp: the interface lines the application server takes.
#include "transfer/ukwFuncoesTCP.h"

#include "common/ukwFuncoesString.h"
#include "rtl/Format.h"
#include "rtl/StringList.h"
#include "rtl/Text.h"
#include "transfer/ukwFuncoesSocket.h"

namespace {

// The value of the first "nome=valor" item of a comma-separated line whose name is nome (any
// case), or empty.
std::string ValorDoItem(std::string_view linha, std::string_view nome) {
    for (const std::string& item : rtl::SplitFields(linha, ',')) {
        const size_t igual = item.find('=');
        if (igual != std::string::npos && rtl::SameText(std::string_view(item).substr(0, igual), nome))
            return item.substr(igual + 1);
    }
    return {};
}

}  // namespace

std::string LinhasInterfacesRede(std::string_view infoInterfaces) {
    rtl::StringList linhas;
    linhas.SetText(RemovaCaractere(infoInterfaces, ' '));
    std::string resultado;
    for (int i = 0; i < linhas.Count(); ++i) {
        const std::string& linha = linhas[i];
        resultado += rtl::Format("IP=%s|MASK=%s\r\n", ValorDoItem(linha, "IP"), ValorDoItem(linha, "Mask"));
    }
    return resultado;
}

std::string ListeInterfacesRede() {
    return LinhasInterfacesRede(ListeInfoInterfaces(false));
}

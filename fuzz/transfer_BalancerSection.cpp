// Fuzz target: the balancer list an application server sends, written into the configuration
// file as section [kwBalanceador]. Input: the file's content, a NUL byte, the server's text. A
// list that is not that section is refused with the system's exception; an accepted one gives
// a content that ends with the list's lines and that the same list rewrites to itself.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Exception.h"
#include "rtl/StringList.h"
#include "transfer/ukwUpdConexaoKw4.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view entrada(reinterpret_cast<const char*>(data), size);
    const size_t nul = entrada.find('\0');
    const std::string_view conteudo = entrada.substr(0, nul);
    const std::string_view lista =
        nul == std::string_view::npos ? std::string_view() : entrada.substr(nul + 1);
    rtl::StringList sl;
    sl.SetText(lista);
    std::vector<std::string> linhas;
    for (int i = 0; i < sl.Count(); ++i)
        linhas.push_back(sl[i]);
    std::string escrito;
    try {
        escrito = ReescrevaSecaoBalanceador(conteudo, linhas);
    } catch (const rtl::Exception&) {
        return 0;
    }
    const std::string fim =
        escrito.find("\r\n") != std::string::npos || escrito.find('\n') == std::string::npos ? "\r\n" : "\n";
    std::string cauda;
    for (const std::string& l : linhas)
        cauda += l + fim;
    if (escrito.size() < cauda.size() ||
        escrito.compare(escrito.size() - cauda.size(), cauda.size(), cauda) != 0)
        std::abort();
    if (ReescrevaSecaoBalanceador(escrito, linhas) != escrito) std::abort();
    return 0;
}

// Fuzz target: the JSON reader over any text (a download server's answer). Reading fails only
// with a syntax error or the "\u" conversion error; what was read writes to a text that reads
// back and writes to the same text; lookups and Quote work on whatever was read.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "rtl/Exception.h"
#include "transfer/uJSON.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string texto(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<TJSONObject> lido;
    try {
        lido = TJSONObject::CreateFromText(texto);
    } catch (const ParseException&) {
        return 0;
    } catch (const rtl::EConvertError&) {
        return 0;
    }
    const std::string escrito = lido->toString();
    const std::unique_ptr<TJSONObject> relido = TJSONObject::CreateFromText(escrito);
    if (relido->toString() != escrito) std::abort();
    for (const std::string& chave : lido->Keys()) {
        if (chave.empty()) continue;
        if (lido->Opt(chave) == nullptr) std::abort();
        (void)Quote(lido->GetText(chave));
    }
    return 0;
}

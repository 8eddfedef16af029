// Fuzz target: component form texts (a request object's text or a field's, with its floats
// and sets, as a server or a client may send it). Reading never fails other than by the
// reader's errors, and what was read writes to a text that reads back and writes to the same
// text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "rtl/ClassRegistry.h"
#include "rtl/Exception.h"
#include "transfer/ukwObjDadosRequisito.h"
#include "transfer/ukwTransferenciaObjeto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rtl::RegisterClass(TkwObjDadosRequisito::ClassInfo());
    rtl::RegisterClass(TkwTransferenciaObjeto::ClassInfo());
    const std::string texto(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<rtl::Component> lido;
    try {
        lido = TkwTransferenciaObjeto::TextoParaObjeto(texto);
    } catch (const rtl::Exception&) {
        return 0;
    }
    const std::string escrito = TkwTransferenciaObjeto::ObjetoParaTexto(*lido);
    const std::unique_ptr<rtl::Component> relido = TkwTransferenciaObjeto::TextoParaObjeto(escrito);
    if (TkwTransferenciaObjeto::ObjetoParaTexto(*relido) != escrito) std::abort();
    return 0;
}

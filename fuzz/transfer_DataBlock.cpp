// Fuzz target: data blocks as they arrive from an application server or a client. Taking the
// bytes and decoding their values never reads out of bounds or allocates what the input only
// claims; values that decode encode to bytes that decode and encode to the same bytes; the
// answering side fed the block answers or refuses it without crashing.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "rtl/Exception.h"
#include "transfer/ukwSCONNECTInterpreter.h"

namespace {

// Swallows whatever the interpreter sends.
class Sumidouro : public ISendDataBlock {
public:
    std::unique_ptr<TDataBlock> EnviarBloco(TDataBlock&, bool) override { return nullptr; }
};

bool TemObjeto(const rtl::Variant& v) {
    if (v.Type() == rtl::VarType::Dispatch) return true;
    if (!v.IsArray()) return false;
    for (size_t i = 0; i < v.ArrayElementCount(); ++i)
        if (TemObjeto(v.FlatElement(i))) return true;
    return false;
}

std::string Codificado(TDataBlockInterpreter& in, const rtl::Variant& v) {
    TDataBlock b;
    in.EscreverVariante(v, b);
    const auto m = b.Memory();
    return std::string(reinterpret_cast<const char*>(m.data()) + 8, m.size() - 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Sumidouro sumidouro;
    TDataBlockInterpreter in(sumidouro, "Sockets");
    const std::span<const uint8_t> bytes(data, size);
    for (const bool verificar : {true, false}) {
        TDataBlock bloco;
        try {
            bloco.TomarBytes(bytes, verificar);
        } catch (const rtl::Exception&) {
            continue;
        }
        TDataBlock copia = bloco;
        while (bloco.Remaining() > 0) {
            rtl::Variant v;
            try {
                v = in.LerVariante(bloco);
            } catch (const rtl::Exception&) {
                break;
            }
            if (TemObjeto(v)) continue;  // an object re-encodes as a local object's new index
            try {
                const std::string primeiro = Codificado(in, v);
                TDataBlock de;
                de.Write(primeiro.data(), primeiro.size());
                if (Codificado(in, in.LerVariante(de)) != primeiro) std::abort();
            } catch (const EInterpreterError&) {
                // Types the wire reads but never writes (Int64 does not arise from the wire).
            }
        }
        try {
            in.InterpretarBloco(copia);
        } catch (const rtl::Exception&) {
            // An error block raises its text, as a received error does.
        }
    }
    return 0;
}

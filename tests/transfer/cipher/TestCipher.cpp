// A stand-in for the socket transport's cipher library, built for the tests only: it XORs
// each byte i of what it is given with (0x5A + 7 i), the transformation the scripted
// application server applies too, and appends one line per call to the file named by
// KW_TEST_CIPHER_LOG: "C" or "U", the length, the bytes it was given in hexadecimal. Built
// once whole and once without "UnCypher" (KW_TEST_CIPHER_ONLY_CYPHER).
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Registrar(char qual, const uint8_t* p, int32_t n) {
    const char* arquivo = std::getenv("KW_TEST_CIPHER_LOG");
    if (arquivo == nullptr) return;
    FILE* f = std::fopen(arquivo, "a");
    if (f == nullptr) return;
    std::fprintf(f, "%c %d ", qual, int(n));
    for (int32_t i = 0; i < n; ++i)
        std::fprintf(f, "%02X", p[i]);
    std::fprintf(f, "\n");
    std::fclose(f);
}

int32_t Transformar(char qual, void* entrada, int32_t n, void* saida, int32_t* tamanhoSaida) {
    const auto* in = static_cast<const uint8_t*>(entrada);
    auto* out = static_cast<uint8_t*>(saida);
    Registrar(qual, in, n);
    for (int32_t i = 0; i < n; ++i)
        out[i] = uint8_t(in[i] ^ uint8_t(0x5A + 7 * i));
    *tamanhoSaida = n;
    return 0;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t Cypher(void* entrada, int32_t n, void* saida, int32_t* m) {
    return Transformar('C', entrada, n, saida, m);
}

#ifndef KW_TEST_CIPHER_ONLY_CYPHER
extern "C" __attribute__((visibility("default"))) int32_t UnCypher(void* entrada, int32_t n, void* saida, int32_t* m) {
    return Transformar('U', entrada, n, saida, m);
}
#endif

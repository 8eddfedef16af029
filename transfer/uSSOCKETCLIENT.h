// transfer/uSSOCKETCLIENT.h: the optional cipher of the socket transport.
//
// When the library "libssocketclient.so" lies in the launcher's own folder (and only there:
// never through the loader's search path), the socket transport hands each block's payload
// after its first four bytes to the library's "Cypher" before sending and to "UnCypher" after
// receiving; both transform the bytes in place and keep their length. Without the library the
// traffic is plain. A library that lacks one of the two entry points fails the first block
// with "A dll SSOCKETCLIENT.DLL não foi localizada." (the text the system has always shown).
//
// The library, once loaded, is never unloaded: a connection thread that outlived its attempt
// may still be inside it when the program ends. The process-wide instance is made at its
// first use and only read afterwards, so any thread may use it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/DynamicLibrary.h"

// Both entry points: input, input length, output, output length (the system passes the same
// buffer twice, and reads neither the output length nor the result).
using TFuncaoCifra = int32_t (*)(void* entrada, int32_t tamanhoEntrada, void* saida, int32_t* tamanhoSaida);

inline constexpr const char* kArquivoSSOCKETCLIENT = "libssocketclient.so";

class TSSOCKETCLIENT {
public:
    // Loads kArquivoSSOCKETCLIENT from that folder, when it is there.
    explicit TSSOCKETCLIENT(const std::string& pasta);
    TSSOCKETCLIENT(const TSSOCKETCLIENT&) = delete;
    TSSOCKETCLIENT& operator=(const TSSOCKETCLIENT&) = delete;

    bool CarregouBiblioteca() const { return biblioteca_.IsLoaded(); }
    int32_t Cifrar(void* entrada, int32_t tamanhoEntrada, void* saida, int32_t* tamanhoSaida) const;
    int32_t Decifrar(void* entrada, int32_t tamanhoEntrada, void* saida, int32_t* tamanhoSaida) const;

private:
    plat::DynamicLibrary biblioteca_;
    TFuncaoCifra cypher_ = nullptr;
    TFuncaoCifra uncypher_ = nullptr;
};

// The process-wide instance, loaded from the launcher's folder at its first use.
const TSSOCKETCLIENT& SSOCKETCLIENT();

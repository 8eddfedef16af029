// transfer/ukwSCONNECTInterpreter.h: the values a data block carries, the exchanges of a
// client with the application server's objects, and the answering side of the same protocol.
//
// A value is a 32-bit type code and what the type needs (little-endian):
//
//   0 empty, 1 null                     nothing
//   2 16-bit, 3 32-bit integer          2 / 4 bytes
//   4 32-bit, 5 64-bit float            4 / 8
//   6 currency (x10000), 7 date-time    8 / 8
//   8 text                              32-bit count of UTF-16 units, then the units
//   9 object                            32-bit index of the object on the side that sent it
//   10 error code, 11 Boolean           4 / 2 (0 false, 0xFFFF true)
//   16 8-bit signed, 17 8-bit unsigned, 18 16-bit unsigned, 19 32-bit unsigned: 1, 1, 2, 4
//   14, 15                              nothing (read as empty)
//   flag 0x4000                         by reference; 0x4000 alone: the next value is the
//                                       content of a referenced variant
//   flag 0x2000                         array: dimension count D, D low bounds, D high bounds,
//                                       then for element types 2-7, 11, 16-19 a byte count and
//                                       the elements' bytes, for others each element as a value;
//                                       elements in index order, last dimension fastest
// Any other code (13 and 20 up, other flags) is refused with EInterpreterError
// "Tipo de variante: %s não suportado" (the code in four hexadecimal digits).
//
// Client exchanges (a call block, then its reply from the connection's EnviarBloco):
//   PedirCriacaoObjeto   0xDA04 [8 name]                       -> 0xDB04 value (an object)
//   PedirIdentificador   0xDA03 [3 object][8 name]             -> 0xDB03 [3 status]([3 id])
//   PedirInvocacao       0xDA02 [3 object][3 id][3 flags][11 result wanted][3 argc][3 named]
//                        named ids, arguments last first       -> 0xDB02 [3 status]
//                        ([3 code][8 description] for 0x80020009), new values of the
//                        by-reference arguments in the order sent, the result when wanted
//   PedirLiberacaoObjeto 0xDA05 [3 object]                     (no reply)
//   PedirListaServidores 0xDA12                                -> 0xDB12 value
// An error reply 0xDB01 [8 text] raises a plain exception with exactly that text. An awaited
// reply that does not come raises "Não foi recebido nenhum valor de retorno que era aguardado";
// a reply of another action, a reply that is not a reply, or one whose values are cut short
// or followed by more bytes is refused ("Base de dados inválida").
//
// Limits against hostile input, each refusing the block before anything is allocated or read
// ("Base de dados inválida"): a text count beyond what is left, an array whose element bytes
// or element count do not fit in what is left, more than kMaximoDimensoes dimensions, values
// nested deeper than kMaximoAninhamento (arrays of variants, variant references).
//
// The answering side (InterpretarBloco) serves calls that arrive: it creates objects of the
// local classes registered with RegistrarClasseLocal when the connection's check text
// ("Sockets", "Web"; empty allows all) is among the class's flags, keeps the objects it hands
// out in a table, looks up names, invokes and frees them; a failure goes back as an error reply.
//
// Objects the server hands out become TDataDispatch proxies. A proxy whose last reference
// goes sends the free-object call while its interpreter exists; when the interpreter goes
// first, the proxies lose their link and later free nothing remotely.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rtl/Dispatch.h"
#include "rtl/Exception.h"
#include "rtl/Variant.h"
#include "transfer/ukwSCONNECTBlock.h"

RTL_EXCEPTION(EInterpreterError, rtl::Exception);

// Variant type codes and flags of the wire.
inline constexpr int32_t kVarPorReferencia = 0x4000;
inline constexpr int32_t kVarMatriz = 0x2000;
inline constexpr int32_t kVarTipoMascara = 0x0FFF;

// Nesting and dimension limits of values read from the wire.
inline constexpr int kMaximoAninhamento = 32;
inline constexpr int32_t kMaximoDimensoes = 64;

// Sends a block and, when a reply is awaited, answers it (an error reply raises there).
class ISendDataBlock {
public:
    virtual ~ISendDataBlock() = default;
    virtual std::unique_ptr<TDataBlock> EnviarBloco(TDataBlock& bloco, bool esperarResposta) = 0;
};

// A class whose objects the answering side may create: its braced class identifier, its
// name, whether socket and web connections may create it.
struct TClasseLocal {
    std::string guid;
    std::string nome;
    bool sockets = false;
    bool web = false;
    std::function<std::shared_ptr<rtl::DispatchObject>()> criar;
};
void RegistrarClasseLocal(TClasseLocal classe);
void RemoverClasseLocal(const std::string& guid);
// The registered class of a braced identifier or a name (any case); false when none.
bool ProcureClasseLocal(const std::string& guidOuNome, TClasseLocal& classe);

class TDataBlockInterpreter;

// How a value was read: by reference, and whether as a referenced variant.
struct TFlagsVariante {
    bool porReferencia = false;
    bool referenciaVariante = false;
};

// The link a proxy keeps to its interpreter; cleared when the interpreter goes.
struct TLigacaoInterpretador {
    std::atomic<TDataBlockInterpreter*> interpretador{nullptr};
};

// The proxy of one object of the server.
class TDataDispatch final : public rtl::DispatchObject {
public:
    TDataDispatch(std::shared_ptr<TLigacaoInterpretador> ligacao, int32_t indiceObjeto)
        : ligacao_(std::move(ligacao)), indiceObjeto_(indiceObjeto) {}
    // Frees the server's object when the interpreter still exists; never raises.
    ~TDataDispatch() override;

    int32_t IndiceObjeto() const { return indiceObjeto_; }
    TDataBlockInterpreter* Interpretador() const { return ligacao_->interpretador.load(); }

    // One name per request; otherwise "not implemented" without asking the server.
    rtl::HResult GetIDsOfNames(const std::vector<std::string>& names, std::vector<int32_t>& ids) override;
    rtl::HResult Invoke(int32_t dispId, uint16_t flags, std::vector<rtl::DispArg>& args, rtl::Variant* result,
                        rtl::ExcepInfo& excepInfo) override;

private:
    std::shared_ptr<TLigacaoInterpretador> ligacao_;
    int32_t indiceObjeto_;
};

class TCustomDataBlockInterpreter {
public:
    virtual ~TCustomDataBlockInterpreter() = default;
    virtual void PedirLiberacaoObjeto(int32_t indiceObjeto) = 0;
    virtual rtl::HResult PedirIdentificador(int32_t indiceObjeto, const std::vector<std::string>& nomes,
                                            std::vector<int32_t>& ids) = 0;
    virtual rtl::HResult PedirInvocacao(int32_t indiceObjeto, int32_t dispId, uint16_t flags,
                                        std::vector<rtl::DispArg>& args, rtl::Variant* resultado,
                                        rtl::ExcepInfo& excecao) = 0;
    virtual rtl::Variant PedirListaServidores() = 0;
    virtual rtl::Variant PedirCriacaoObjeto(const std::string& nome) = 0;
    virtual void InterpretarBloco(TDataBlock& bloco) = 0;
};

class TDataBlockInterpreter : public TCustomDataBlockInterpreter {
public:
    // enviador sends the blocks (the connection that owns the interpreter); textoVerificacao
    // is "Sockets" or "Web" (empty: every local class may be created).
    TDataBlockInterpreter(ISendDataBlock& enviador, std::string textoVerificacao);
    ~TDataBlockInterpreter() override;
    TDataBlockInterpreter(const TDataBlockInterpreter&) = delete;
    TDataBlockInterpreter& operator=(const TDataBlockInterpreter&) = delete;

    const std::string& TextoVerificacao() const { return textoVerificacao_; }

    // ---- Client exchanges ----
    void PedirLiberacaoObjeto(int32_t indiceObjeto) override;
    rtl::HResult PedirIdentificador(int32_t indiceObjeto, const std::vector<std::string>& nomes,
                                    std::vector<int32_t>& ids) override;
    // args in dispatch order (last argument first); the values handed back go into the
    // by-reference arguments.
    rtl::HResult PedirInvocacao(int32_t indiceObjeto, int32_t dispId, uint16_t flags, std::vector<rtl::DispArg>& args,
                                rtl::Variant* resultado, rtl::ExcepInfo& excecao) override;
    rtl::Variant PedirListaServidores() override;
    // The braced class identifier of the server's object, or a registered name.
    rtl::Variant PedirCriacaoObjeto(const std::string& nome) override;

    // ---- Answering side ----
    void InterpretarBloco(TDataBlock& bloco) override;
    // The objects handed out so far (released ones are empty).
    size_t QuantidadeObjetosLocais() const { return objetosLocais_.size(); }

    // ---- Values ----
    // A value, written with the by-reference form the argument asks for (a typed reference
    // to a variable that holds no value goes as a referenced variant).
    void EscreverVariante(const rtl::DispArg& argumento, TDataBlock& bloco);
    void EscreverVariante(const rtl::Variant& valor, TDataBlock& bloco) {
        EscreverVariante(rtl::DispArg::ByValue(valor), bloco);
    }
    rtl::Variant LerVariante(TDataBlock& bloco, TFlagsVariante& flags);
    rtl::Variant LerVariante(TDataBlock& bloco) {
        TFlagsVariante flags;
        return LerVariante(bloco, flags);
    }

protected:
    // Actions other than the protocol's; answers whether it handled the block. Declines.
    virtual bool AcaoPersonalizada(int32_t acao, TDataBlock& bloco);

private:
    void EscreverValor(const rtl::Variant& valor, int32_t referencia, TDataBlock& bloco, int profundidade);
    void EscreverMatriz(const rtl::Variant& valor, int32_t referencia, TDataBlock& bloco, int profundidade);
    rtl::Variant LerValor(TDataBlock& bloco, TFlagsVariante& flags, int profundidade);
    rtl::Variant LerMatriz(TDataBlock& bloco, int32_t codigo, int profundidade);
    int32_t GuardarObjetoLocal(const rtl::Variant& objeto);
    // Sends a call and answers its reply, checked against the action.
    std::unique_ptr<TDataBlock> Trocar(TDataBlock& bloco, int32_t acao);

    void ResponderInvocacao(TDataBlock& bloco);
    void ResponderIdentificador(TDataBlock& bloco);
    void ResponderCriacao(TDataBlock& bloco);
    void ResponderLiberacao(TDataBlock& bloco);
    void ResponderListaServidores(TDataBlock& bloco, int32_t acao);
    std::shared_ptr<rtl::DispatchObject> ObjetoLocal(int32_t indice) const;

    ISendDataBlock& enviador_;
    std::string textoVerificacao_;
    std::shared_ptr<TLigacaoInterpretador> ligacao_;
    std::vector<rtl::Variant> objetosLocais_;
};

// Reads a 32-bit integer value ([3][n]) and refuses anything else.
int32_t LerInteiro(TDataBlockInterpreter& interpretador, TDataBlock& bloco);

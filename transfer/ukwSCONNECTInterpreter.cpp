// transfer/ukwSCONNECTInterpreter.cpp: the value codec, the client exchanges and the
// answering side.
#include "transfer/ukwSCONNECTInterpreter.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>

#include "rtl/Bytes.h"
#include "rtl/Format.h"
#include "rtl/Text.h"
#include "rtl/Unicode.h"

namespace {

using rtl::VarType;
using rtl::Variant;

// ---- Type codes ---------------------------------------------------------------------------

constexpr int32_t kVarEmpty = 0;
constexpr int32_t kVarNull = 1;
constexpr int32_t kVarSmallint = 2;
constexpr int32_t kVarInteger = 3;
constexpr int32_t kVarSingle = 4;
constexpr int32_t kVarDouble = 5;
constexpr int32_t kVarCurrency = 6;
constexpr int32_t kVarDate = 7;
constexpr int32_t kVarOleStr = 8;
constexpr int32_t kVarDispatch = 9;
constexpr int32_t kVarError = 10;
constexpr int32_t kVarBoolean = 11;
constexpr int32_t kVarVariant = 12;
constexpr int32_t kVarUnknown = 13;
constexpr int32_t kVarShortInt = 16;
constexpr int32_t kVarByte = 17;
constexpr int32_t kVarWord = 18;
constexpr int32_t kVarLongWord = 19;
constexpr int32_t kVarInt64 = 20;

[[noreturn]] void TipoNaoSuportado(int32_t codigo) {
    throw EInterpreterError(rtl::Format("Tipo de variante: %s não suportado", rtl::IntToHex(uint32_t(codigo) & 0xFFFF, 4)));
}

// The wire's code of an rtl type (Int64 has one the wire refuses).
int32_t CodigoDoTipo(VarType t) {
    switch (t) {
        case VarType::Empty:
            return kVarEmpty;
        case VarType::Null:
            return kVarNull;
        case VarType::Smallint:
            return kVarSmallint;
        case VarType::Integer:
            return kVarInteger;
        case VarType::Single:
            return kVarSingle;
        case VarType::Double:
            return kVarDouble;
        case VarType::Currency:
            return kVarCurrency;
        case VarType::Date:
            return kVarDate;
        case VarType::String:
            return kVarOleStr;
        case VarType::Dispatch:
            return kVarDispatch;
        case VarType::Error:
            return kVarError;
        case VarType::Boolean:
            return kVarBoolean;
        case VarType::Variant:
            return kVarVariant;
        case VarType::ShortInt:
            return kVarShortInt;
        case VarType::Byte:
            return kVarByte;
        case VarType::Word:
            return kVarWord;
        case VarType::LongWord:
            return kVarLongWord;
        case VarType::Int64:
            return kVarInt64;
        case VarType::ByteArray:
        case VarType::Array:
            break;
    }
    return kVarUnknown;
}

// The rtl type of a wire code that an element or a value may have; false for the others.
bool TipoDoCodigo(int32_t codigo, VarType& tipo) {
    switch (codigo) {
        case kVarSmallint:
            tipo = VarType::Smallint;
            return true;
        case kVarInteger:
            tipo = VarType::Integer;
            return true;
        case kVarSingle:
            tipo = VarType::Single;
            return true;
        case kVarDouble:
            tipo = VarType::Double;
            return true;
        case kVarCurrency:
            tipo = VarType::Currency;
            return true;
        case kVarDate:
            tipo = VarType::Date;
            return true;
        case kVarOleStr:
            tipo = VarType::String;
            return true;
        case kVarDispatch:
            tipo = VarType::Dispatch;
            return true;
        case kVarError:
            tipo = VarType::Error;
            return true;
        case kVarBoolean:
            tipo = VarType::Boolean;
            return true;
        case kVarVariant:
            tipo = VarType::Variant;
            return true;
        case kVarShortInt:
            tipo = VarType::ShortInt;
            return true;
        case kVarByte:
            tipo = VarType::Byte;
            return true;
        case kVarWord:
            tipo = VarType::Word;
            return true;
        case kVarLongWord:
            tipo = VarType::LongWord;
            return true;
        default:
            return false;
    }
}

// The size of a plain element (types whose arrays travel as bytes), 0 for the others.
size_t TamanhoSimples(int32_t codigo) {
    switch (codigo) {
        case kVarShortInt:
        case kVarByte:
            return 1;
        case kVarSmallint:
        case kVarBoolean:
        case kVarWord:
            return 2;
        case kVarInteger:
        case kVarSingle:
        case kVarLongWord:
            return 4;
        case kVarDouble:
        case kVarCurrency:
        case kVarDate:
            return 8;
        default:
            return 0;
    }
}

// The bytes of a plain value (little-endian) into out, which has room for 8.
void BytesSimples(const Variant& v, int32_t codigo, uint8_t* out) {
    switch (codigo) {
        case kVarShortInt:
        case kVarByte:
            out[0] = uint8_t(v.AsInt64());
            return;
        case kVarSmallint:
        case kVarWord:
            rtl::store_le16(out, uint16_t(v.AsInt64()));
            return;
        case kVarBoolean:
            rtl::store_le16(out, v.AsBoolean() ? 0xFFFF : 0);
            return;
        case kVarInteger:
        case kVarLongWord:
        case kVarError:
            rtl::store_le32(out, uint32_t(v.AsInt64()));
            return;
        case kVarSingle:
            rtl::store_le32(out, std::bit_cast<uint32_t>(float(v.AsDouble())));
            return;
        case kVarDouble:
        case kVarDate:
            rtl::store_le64(out, std::bit_cast<uint64_t>(v.AsDouble()));
            return;
        case kVarCurrency:
            rtl::store_le64(out, uint64_t(v.AsCurrency()));
            return;
        default:
            TipoNaoSuportado(codigo);
    }
}

Variant ValorSimples(int32_t codigo, const uint8_t* p) {
    switch (codigo) {
        case kVarShortInt:
            return Variant::FromShortInt(int8_t(p[0]));
        case kVarByte:
            return Variant::FromByte(p[0]);
        case kVarSmallint:
            return Variant(int16_t(rtl::load_le16(p)));
        case kVarWord:
            return Variant::FromWord(rtl::load_le16(p));
        case kVarBoolean:
            return Variant(rtl::load_le16(p) != 0);
        case kVarInteger:
            return Variant(int32_t(rtl::load_le32(p)));
        case kVarLongWord:
            return Variant::FromLongWord(rtl::load_le32(p));
        case kVarError:
            return Variant::FromError(int32_t(rtl::load_le32(p)));
        case kVarSingle:
            return Variant::FromSingle(std::bit_cast<float>(rtl::load_le32(p)));
        case kVarDouble:
            return Variant(std::bit_cast<double>(rtl::load_le64(p)));
        case kVarDate:
            return Variant::FromDateTime(std::bit_cast<double>(rtl::load_le64(p)));
        case kVarCurrency:
            return Variant::FromCurrency(int64_t(rtl::load_le64(p)));
        default:
            TipoNaoSuportado(codigo);
    }
}

void EscreverInt32(TDataBlock& bloco, int32_t v) {
    uint8_t b[4];
    rtl::store_le32(b, uint32_t(v));
    bloco.Write(b, 4);
}

int32_t LerInt32(TDataBlock& bloco) {
    uint8_t b[4];
    bloco.ReadExact(b, 4);
    return int32_t(rtl::load_le32(b));
}

// ---- Local classes ------------------------------------------------------------------------

struct ClassesLocais {
    std::mutex mutex;
    std::vector<TClasseLocal> classes;
};

ClassesLocais& Classes() {
    static ClassesLocais c;
    return c;
}

constexpr const char* kSemRetorno = "Não foi recebido nenhum valor de retorno que era aguardado";

}  // namespace

void RegistrarClasseLocal(TClasseLocal classe) {
    ClassesLocais& c = Classes();
    std::lock_guard lock(c.mutex);
    std::erase_if(c.classes, [&](const TClasseLocal& k) { return rtl::SameText(k.guid, classe.guid); });
    c.classes.push_back(std::move(classe));
}

void RemoverClasseLocal(const std::string& guid) {
    ClassesLocais& c = Classes();
    std::lock_guard lock(c.mutex);
    std::erase_if(c.classes, [&](const TClasseLocal& k) { return rtl::SameText(k.guid, guid); });
}

bool ProcureClasseLocal(const std::string& guidOuNome, TClasseLocal& classe) {
    ClassesLocais& c = Classes();
    std::lock_guard lock(c.mutex);
    for (const TClasseLocal& k : c.classes)
        if (rtl::SameText(k.guid, guidOuNome) || rtl::SameText(k.nome, guidOuNome)) {
            classe = k;
            return true;
        }
    return false;
}

// ---- Proxy --------------------------------------------------------------------------------

TDataDispatch::~TDataDispatch() {
    TDataBlockInterpreter* interpretador = ligacao_->interpretador.load();
    if (interpretador == nullptr) return;
    try {
        interpretador->PedirLiberacaoObjeto(indiceObjeto_);
    } catch (...) {
        // The connection may be gone or broken; the server frees its objects with it.
    }
}

rtl::HResult TDataDispatch::GetIDsOfNames(const std::vector<std::string>& names, std::vector<int32_t>& ids) {
    TDataBlockInterpreter* interpretador = ligacao_->interpretador.load();
    if (interpretador == nullptr) return rtl::E_FAIL;
    return interpretador->PedirIdentificador(indiceObjeto_, names, ids);
}

rtl::HResult TDataDispatch::Invoke(int32_t dispId, uint16_t flags, std::vector<rtl::DispArg>& args,
                                   rtl::Variant* result, rtl::ExcepInfo& excepInfo) {
    TDataBlockInterpreter* interpretador = ligacao_->interpretador.load();
    if (interpretador == nullptr) return rtl::E_FAIL;
    return interpretador->PedirInvocacao(indiceObjeto_, dispId, flags, args, result, excepInfo);
}

// ---- Interpreter --------------------------------------------------------------------------

TDataBlockInterpreter::TDataBlockInterpreter(ISendDataBlock& enviador, std::string textoVerificacao)
    : enviador_(enviador), textoVerificacao_(std::move(textoVerificacao)), ligacao_(std::make_shared<TLigacaoInterpretador>()) {
    ligacao_->interpretador.store(this);
}

TDataBlockInterpreter::~TDataBlockInterpreter() {
    ligacao_->interpretador.store(nullptr);
}

bool TDataBlockInterpreter::AcaoPersonalizada(int32_t, TDataBlock&) {
    return false;
}

int32_t TDataBlockInterpreter::GuardarObjetoLocal(const Variant& objeto) {
    // The table grows ten entries at a time, as the objects handed out rarely exceed a few.
    if (objetosLocais_.size() == objetosLocais_.capacity()) objetosLocais_.reserve(objetosLocais_.size() + 10);
    objetosLocais_.push_back(objeto);
    return int32_t(objetosLocais_.size() - 1);
}

std::shared_ptr<rtl::DispatchObject> TDataBlockInterpreter::ObjetoLocal(int32_t indice) const {
    if (indice < 0 || size_t(indice) >= objetosLocais_.size() ||
        objetosLocais_[size_t(indice)].Type() != VarType::Dispatch || !objetosLocais_[size_t(indice)].AsDispatch())
        throw rtl::Exception(rtl::Format("Objeto local inválido: %d", indice));
    return objetosLocais_[size_t(indice)].AsDispatch();
}

// -- Writing values --

void TDataBlockInterpreter::EscreverVariante(const rtl::DispArg& argumento, TDataBlock& bloco) {
    const Variant& valor = argumento.Value();
    rtl::DispArgKind tipo = argumento.Kind();
    // A variable that holds no value can only be referred to as a variant.
    if (tipo == rtl::DispArgKind::Ref && valor.IsEmptyOrNull()) tipo = rtl::DispArgKind::VariantRef;
    if (tipo == rtl::DispArgKind::VariantRef) {
        EscreverInt32(bloco, kVarPorReferencia);
        EscreverValor(valor, 0, bloco, 0);
    } else {
        EscreverValor(valor, tipo == rtl::DispArgKind::Ref ? kVarPorReferencia : 0, bloco, 0);
    }
}

void TDataBlockInterpreter::EscreverValor(const Variant& valor, int32_t referencia, TDataBlock& bloco,
                                          int profundidade) {
    if (profundidade > kMaximoAninhamento) throw EInterpreterError("Valor aninhado demais");
    if (valor.IsArray()) {
        EscreverMatriz(valor, referencia, bloco, profundidade);
        return;
    }
    const int32_t codigo = CodigoDoTipo(valor.Type());
    switch (codigo) {
        case kVarEmpty:
        case kVarNull:
            EscreverInt32(bloco, codigo);
            return;
        case kVarOleStr: {
            const std::u16string texto = rtl::Utf8ToUtf16(valor.AsString());
            EscreverInt32(bloco, codigo | referencia);
            EscreverInt32(bloco, int32_t(texto.size()));
            for (char16_t c : texto) {
                uint8_t b[2];
                rtl::store_le16(b, c);
                bloco.Write(b, 2);
            }
            return;
        }
        case kVarDispatch:
            if (referencia != 0) TipoNaoSuportado(codigo | referencia);
            EscreverInt32(bloco, codigo);
            EscreverInt32(bloco, GuardarObjetoLocal(valor));
            return;
        default:
            if (codigo == kVarError || TamanhoSimples(codigo) != 0) {
                uint8_t b[8];
                BytesSimples(valor, codigo, b);
                EscreverInt32(bloco, codigo | referencia);
                bloco.Write(b, codigo == kVarError ? 4 : TamanhoSimples(codigo));
                return;
            }
            TipoNaoSuportado(codigo | referencia);
    }
}

void TDataBlockInterpreter::EscreverMatriz(const Variant& valor, int32_t referencia, TDataBlock& bloco,
                                           int profundidade) {
    const int32_t elemento = CodigoDoTipo(valor.ArrayElementType());
    const int dimensoes = valor.ArrayDimCount();
    EscreverInt32(bloco, elemento | kVarMatriz | referencia);
    EscreverInt32(bloco, dimensoes);
    for (int d = 0; d < dimensoes; ++d)
        EscreverInt32(bloco, valor.ArrayBound(d).low);
    for (int d = 0; d < dimensoes; ++d)
        EscreverInt32(bloco, valor.ArrayBound(d).high);
    const size_t quantidade = valor.ArrayElementCount();
    if (const size_t tamanho = TamanhoSimples(elemento); tamanho != 0) {
        EscreverInt32(bloco, int32_t(quantidade * tamanho));
        if (const rtl::ByteArray* bytes = valor.Bytes()) {
            bloco.Write(bytes->data(), bytes->size());
            return;
        }
        for (size_t i = 0; i < quantidade; ++i) {
            uint8_t b[8];
            BytesSimples(valor.FlatElement(i), elemento, b);
            bloco.Write(b, tamanho);
        }
        return;
    }
    for (size_t i = 0; i < quantidade; ++i)
        EscreverValor(valor.FlatElement(i), 0, bloco, profundidade + 1);
}

// -- Reading values --

Variant TDataBlockInterpreter::LerVariante(TDataBlock& bloco, TFlagsVariante& flags) {
    flags = {};
    return LerValor(bloco, flags, 0);
}

Variant TDataBlockInterpreter::LerValor(TDataBlock& bloco, TFlagsVariante& flags, int profundidade) {
    if (profundidade > kMaximoAninhamento) ErroBlocoInvalido();
    int32_t codigo = LerInt32(bloco);
    if (codigo == kVarPorReferencia) {
        flags.porReferencia = flags.referenciaVariante = true;
        TFlagsVariante interno;
        return LerValor(bloco, interno, profundidade + 1);
    }
    if ((codigo & kVarPorReferencia) != 0) {
        flags.porReferencia = true;
        codigo &= ~kVarPorReferencia;
    }
    if ((codigo & ~(kVarMatriz | kVarTipoMascara)) != 0) TipoNaoSuportado(codigo);
    if ((codigo & kVarMatriz) != 0) return LerMatriz(bloco, codigo & kVarTipoMascara, profundidade);
    switch (codigo) {
        case kVarEmpty:
        case 14:
        case 15:
            return Variant();
        case kVarNull:
            return Variant::Null();
        case kVarOleStr: {
            const int32_t quantidade = LerInt32(bloco);
            if (quantidade < 0 || size_t(quantidade) > bloco.Remaining() / 2) ErroBlocoInvalido();
            std::u16string texto(size_t(quantidade), u'\0');
            for (char16_t& c : texto) {
                uint8_t b[2];
                bloco.ReadExact(b, 2);
                c = char16_t(rtl::load_le16(b));
            }
            return Variant(rtl::Utf16ToUtf8(texto));
        }
        case kVarDispatch:
            return Variant::FromDispatch(std::make_shared<TDataDispatch>(ligacao_, LerInt32(bloco)));
        case kVarError: {
            uint8_t b[4];
            bloco.ReadExact(b, 4);
            return ValorSimples(codigo, b);
        }
        default:
            if (const size_t tamanho = TamanhoSimples(codigo); tamanho != 0) {
                uint8_t b[8];
                bloco.ReadExact(b, tamanho);
                return ValorSimples(codigo, b);
            }
            TipoNaoSuportado(codigo | (flags.porReferencia ? kVarPorReferencia : 0));
    }
}

Variant TDataBlockInterpreter::LerMatriz(TDataBlock& bloco, int32_t elemento, int profundidade) {
    VarType tipo;
    if (!TipoDoCodigo(elemento, tipo)) TipoNaoSuportado(elemento | kVarMatriz);
    const int32_t dimensoes = LerInt32(bloco);
    if (dimensoes <= 0 || dimensoes > kMaximoDimensoes) ErroBlocoInvalido();
    std::vector<rtl::VarArrayBound> limites(static_cast<size_t>(dimensoes));
    for (auto& l : limites)
        l.low = LerInt32(bloco);
    for (auto& l : limites)
        l.high = LerInt32(bloco);
    // The element count, refused as soon as it cannot fit in what is left of the block.
    const size_t tamanho = TamanhoSimples(elemento);
    const size_t teto = bloco.Remaining() / (tamanho != 0 ? tamanho : 4);
    uint64_t quantidade = 1;
    for (const auto& l : limites) {
        const int64_t comprimento = int64_t(l.high) - int64_t(l.low) + 1;
        if (comprimento < 0) ErroBlocoInvalido();
        quantidade *= uint64_t(comprimento);
        if (quantidade > teto) ErroBlocoInvalido();
    }
    std::vector<Variant> itens;
    itens.reserve(size_t(quantidade));
    if (tamanho != 0) {
        const int32_t bytes = LerInt32(bloco);
        if (bytes < 0 || uint64_t(bytes) != quantidade * tamanho) ErroBlocoInvalido();
        for (uint64_t i = 0; i < quantidade; ++i) {
            uint8_t b[8];
            bloco.ReadExact(b, tamanho);
            itens.push_back(ValorSimples(elemento, b));
        }
    } else {
        for (uint64_t i = 0; i < quantidade; ++i) {
            TFlagsVariante flags;
            itens.push_back(LerValor(bloco, flags, profundidade + 1));
        }
    }
    try {
        return Variant::FromSafeArray(tipo, std::move(limites), std::move(itens));
    } catch (const rtl::EVariantError&) {
        ErroBlocoInvalido();  // elements of another type than the array declares
    }
}

int32_t LerInteiro(TDataBlockInterpreter& interpretador, TDataBlock& bloco) {
    const Variant v = interpretador.LerVariante(bloco);
    if (v.Type() != VarType::Integer) ErroBlocoInvalido();
    return v.AsInteger();
}

// -- Client exchanges --

std::unique_ptr<TDataBlock> TDataBlockInterpreter::Trocar(TDataBlock& bloco, int32_t acao) {
    bloco.SetSignature(kAssinaturaChamada | acao);
    std::unique_ptr<TDataBlock> resposta = enviador_.EnviarBloco(bloco, true);
    if (!resposta) throw rtl::Exception(kSemRetorno);
    const int32_t assinatura = resposta->Signature();
    if (AcaoDoBloco(assinatura) == kAcaoErro) InterpretarBloco(*resposta);  // raises the server's text
    if ((assinatura & 0xFF00) != kAssinaturaResposta || AcaoDoBloco(assinatura) != acao) ErroBlocoInvalido();
    return resposta;
}

void TDataBlockInterpreter::PedirLiberacaoObjeto(int32_t indiceObjeto) {
    TDataBlock bloco;
    EscreverVariante(Variant(indiceObjeto), bloco);
    bloco.SetSignature(kAssinaturaChamada | kAcaoLiberarObjeto);
    enviador_.EnviarBloco(bloco, false);
}

rtl::HResult TDataBlockInterpreter::PedirIdentificador(int32_t indiceObjeto, const std::vector<std::string>& nomes,
                                                       std::vector<int32_t>& ids) {
    if (nomes.size() != 1) return rtl::E_NOTIMPL;
    TDataBlock bloco;
    EscreverVariante(Variant(indiceObjeto), bloco);
    EscreverVariante(Variant(nomes.front()), bloco);
    std::unique_ptr<TDataBlock> resposta = Trocar(bloco, kAcaoIdentificador);
    const rtl::HResult status = LerInteiro(*this, *resposta);
    if (status == rtl::S_OK) ids = {LerInteiro(*this, *resposta)};
    if (resposta->Remaining() != 0) ErroBlocoInvalido();
    return status;
}

rtl::HResult TDataBlockInterpreter::PedirInvocacao(int32_t indiceObjeto, int32_t dispId, uint16_t flags,
                                                   std::vector<rtl::DispArg>& args, Variant* resultado,
                                                   rtl::ExcepInfo& excecao) {
    TDataBlock bloco;
    EscreverVariante(Variant(indiceObjeto), bloco);
    EscreverVariante(Variant(dispId), bloco);
    EscreverVariante(Variant(int32_t(flags)), bloco);
    EscreverVariante(Variant(resultado != nullptr), bloco);
    EscreverVariante(Variant(int32_t(args.size())), bloco);
    EscreverVariante(Variant(int32_t(0)), bloco);  // no named arguments
    for (const rtl::DispArg& a : args)
        EscreverVariante(a, bloco);
    std::unique_ptr<TDataBlock> resposta = Trocar(bloco, kAcaoInvocar);

    const rtl::HResult status = LerInteiro(*this, *resposta);
    if (status == rtl::DISP_E_EXCEPTION) {
        excecao.code = LerInteiro(*this, *resposta);
        const Variant descricao = LerVariante(*resposta);
        if (!descricao.IsText()) ErroBlocoInvalido();
        excecao.description = descricao.AsString();
    }
    // A failed call may come without the new values; what it does send is read as usual.
    const bool falhou = status != rtl::S_OK;
    for (rtl::DispArg& a : args) {
        if (!a.IsByRef()) continue;
        if (falhou && resposta->Remaining() == 0) break;
        a.SetByRefValue(LerVariante(*resposta));
    }
    if (resultado != nullptr && !(falhou && resposta->Remaining() == 0)) *resultado = LerVariante(*resposta);
    if (resposta->Remaining() != 0) ErroBlocoInvalido();
    return status;
}

Variant TDataBlockInterpreter::PedirListaServidores() {
    TDataBlock bloco;
    std::unique_ptr<TDataBlock> resposta = Trocar(bloco, kAcaoListaServidoresAplicacao);
    Variant lista = LerVariante(*resposta);
    if (resposta->Remaining() != 0) ErroBlocoInvalido();
    return lista;
}

Variant TDataBlockInterpreter::PedirCriacaoObjeto(const std::string& nome) {
    TDataBlock bloco;
    EscreverVariante(Variant(nome), bloco);
    std::unique_ptr<TDataBlock> resposta = Trocar(bloco, kAcaoCriarObjeto);
    Variant objeto = LerVariante(*resposta);
    if (resposta->Remaining() != 0) ErroBlocoInvalido();
    return objeto;
}

// -- Answering side --

void TDataBlockInterpreter::InterpretarBloco(TDataBlock& bloco) {
    const int32_t acao = AcaoDoBloco(bloco.Signature());
    if (acao == kAcaoErro) {
        const Variant texto = LerVariante(bloco);
        throw rtl::Exception(texto.AsString());
    }
    try {
        switch (acao) {
            case kAcaoInvocar:
                ResponderInvocacao(bloco);
                return;
            case kAcaoIdentificador:
                ResponderIdentificador(bloco);
                return;
            case kAcaoCriarObjeto:
                ResponderCriacao(bloco);
                return;
            case kAcaoLiberarObjeto:
                ResponderLiberacao(bloco);
                return;
            case kAcaoListaServidores:
            case kAcaoListaServidoresAplicacao:
                ResponderListaServidores(bloco, acao);
                return;
            default:
                if (!AcaoPersonalizada(acao, bloco))
                    throw rtl::Exception(rtl::Format("Ação recebida: %d inválida", acao));
        }
    } catch (const std::exception& e) {
        bloco.Clear();
        EscreverVariante(Variant(std::string(e.what())), bloco);
        bloco.SetSignature(kAssinaturaResposta | kAcaoErro);
        enviador_.EnviarBloco(bloco, false);
    }
}

void TDataBlockInterpreter::ResponderInvocacao(TDataBlock& bloco) {
    const int32_t indice = LerInteiro(*this, bloco);
    const int32_t dispId = LerInteiro(*this, bloco);
    const int32_t flags = LerInteiro(*this, bloco);
    const Variant querResultado = LerVariante(bloco);
    if (querResultado.Type() != VarType::Boolean) ErroBlocoInvalido();
    const int32_t quantidade = LerInteiro(*this, bloco);
    const int32_t nomeados = LerInteiro(*this, bloco);
    if (quantidade < 0 || nomeados < 0 || size_t(quantidade) > bloco.Remaining() / 4 ||
        size_t(nomeados) > bloco.Remaining() / 4)
        ErroBlocoInvalido();
    for (int32_t i = 0; i < nomeados; ++i)
        LerInteiro(*this, bloco);

    // The arguments' values live here; the call sees them through references.
    std::vector<Variant> valores(static_cast<size_t>(quantidade));
    std::vector<TFlagsVariante> formas(static_cast<size_t>(quantidade));
    for (size_t i = 0; i < valores.size(); ++i)
        valores[i] = LerVariante(bloco, formas[i]);
    if (bloco.Remaining() != 0) ErroBlocoInvalido();
    std::vector<rtl::DispArg> args;
    args.reserve(valores.size());
    for (size_t i = 0; i < valores.size(); ++i) {
        if (!formas[i].porReferencia)
            args.push_back(rtl::DispArg::ByValue(valores[i]));
        else if (formas[i].referenciaVariante)
            args.push_back(rtl::DispArg::ByRefVariant(valores[i]));
        else
            args.push_back(rtl::DispArg::ByRef(valores[i]));
    }

    Variant resultado;
    rtl::ExcepInfo excecao;
    rtl::HResult status = rtl::DISP_E_NONAMEDARGS;
    if (nomeados == 0)
        status = ObjetoLocal(indice)->Invoke(dispId, uint16_t(flags), args,
                                             querResultado.AsBoolean() ? &resultado : nullptr, excecao);

    bloco.Clear();
    EscreverVariante(Variant(status), bloco);
    if (status == rtl::DISP_E_EXCEPTION) {
        EscreverVariante(Variant(excecao.code), bloco);
        EscreverVariante(Variant(excecao.description), bloco);
    }
    for (const rtl::DispArg& a : args)
        if (a.IsByRef()) EscreverVariante(a, bloco);
    if (querResultado.AsBoolean()) EscreverVariante(resultado, bloco);
    bloco.SetSignature(kAssinaturaResposta | kAcaoInvocar);
    enviador_.EnviarBloco(bloco, false);
}

void TDataBlockInterpreter::ResponderIdentificador(TDataBlock& bloco) {
    const int32_t indice = LerInteiro(*this, bloco);
    const Variant nome = LerVariante(bloco);
    if (!nome.IsText() || bloco.Remaining() != 0) ErroBlocoInvalido();
    std::vector<int32_t> ids;
    const rtl::HResult status = ObjetoLocal(indice)->GetIDsOfNames({nome.AsString()}, ids);
    bloco.Clear();
    EscreverVariante(Variant(status), bloco);
    if (status == rtl::S_OK) EscreverVariante(Variant(ids.empty() ? 0 : ids.front()), bloco);
    bloco.SetSignature(kAssinaturaResposta | kAcaoIdentificador);
    enviador_.EnviarBloco(bloco, false);
}

void TDataBlockInterpreter::ResponderCriacao(TDataBlock& bloco) {
    const Variant nome = LerVariante(bloco);
    if (!nome.IsText() || bloco.Remaining() != 0) ErroBlocoInvalido();
    TClasseLocal classe;
    if (!ProcureClasseLocal(nome.AsString(), classe))
        throw rtl::Exception(rtl::Format("Objeto não disponível: %s", nome.AsString()));
    const bool permitida = textoVerificacao_.empty() || (rtl::SameText(textoVerificacao_, "Sockets") && classe.sockets) ||
                           (rtl::SameText(textoVerificacao_, "Web") && classe.web);
    if (!permitida || !classe.criar) throw rtl::Exception(rtl::Format("Objeto não disponível: %s", classe.guid));
    const Variant objeto = Variant::FromDispatch(classe.criar());
    bloco.Clear();
    EscreverVariante(objeto, bloco);  // stores it in the table and writes its index
    bloco.SetSignature(kAssinaturaResposta | kAcaoCriarObjeto);
    enviador_.EnviarBloco(bloco, false);
}

void TDataBlockInterpreter::ResponderLiberacao(TDataBlock& bloco) {
    try {
        const int32_t indice = LerInteiro(*this, bloco);
        if (indice >= 0 && size_t(indice) < objetosLocais_.size()) objetosLocais_[size_t(indice)] = Variant();
    } catch (const rtl::Exception&) {
        // A free that cannot be read frees nothing; there is nobody to answer.
    }
}

void TDataBlockInterpreter::ResponderListaServidores(TDataBlock& bloco, int32_t acao) {
    std::vector<Variant> nomes;
    {
        ClassesLocais& c = Classes();
        std::lock_guard lock(c.mutex);
        for (const TClasseLocal& k : c.classes)
            if (textoVerificacao_.empty() || (rtl::SameText(textoVerificacao_, "Sockets") && k.sockets) ||
                (rtl::SameText(textoVerificacao_, "Web") && k.web))
                nomes.emplace_back(k.nome);
    }
    bloco.Clear();
    const std::vector<rtl::VarArrayBound> limites{{0, int32_t(nomes.size()) - 1}};
    EscreverVariante(nomes.empty() ? Variant::Null() : Variant::FromSafeArray(VarType::String, limites, std::move(nomes)),
                     bloco);
    bloco.SetSignature(kAssinaturaResposta | acao);
    enviador_.EnviarBloco(bloco, false);
}

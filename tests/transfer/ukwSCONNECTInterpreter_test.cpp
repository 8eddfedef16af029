// Data blocks and their interpreter: golden blocks of the exchanges the launcher makes, every
// value type both ways, the limits against hostile input, the proxy's free call and the
// answering side fed blocks.
#include <gtest/gtest.h>

#include <bit>
#include <deque>
#include <functional>
#include <optional>

#include "support/TestSupport.h"
#include "transfer/BlockBytes.h"
#include "rtl/Dispatch.h"
#include "rtl/Unicode.h"
#include "transfer/ukwSCONNECTInterpreter.h"

namespace {

using rtl::DispArg;
using rtl::Variant;
using kwtest::Block;
using kwtest::Bool;
using kwtest::Hex;
using kwtest::I16;
using kwtest::I32;
using kwtest::I64;
using kwtest::Int;
using kwtest::Txt;

// A peer that records what it is sent and answers with the replies queued for it.
class FakePeer : public ISendDataBlock {
public:
    std::unique_ptr<TDataBlock> EnviarBloco(TDataBlock& bloco, bool esperarResposta) override {
        const auto m = bloco.Memory();
        sent.emplace_back(reinterpret_cast<const char*>(m.data()), m.size());
        waited.push_back(esperarResposta);
        if (!esperarResposta) return nullptr;
        if (replies.empty()) return nullptr;
        std::optional<std::string> r = replies.front();
        replies.pop_front();
        if (!r) return nullptr;
        auto b = std::make_unique<TDataBlock>();
        b->TomarBytes(std::span(reinterpret_cast<const uint8_t*>(r->data()), r->size()), true);
        return b;
    }

    std::vector<std::string> sent;
    std::vector<bool> waited;
    std::deque<std::optional<std::string>> replies;
};

TDataBlock BlockOf(const std::string& payload, int32_t signature = 0xDB02) {
    TDataBlock b;
    b.SetSignature(signature);
    b.Write(payload.data(), payload.size());
    return b;
}


// ---- The block ----------------------------------------------------------------------------

TEST(TDataBlock, TakesBytesAndChecksThem) {
    TDataBlock b;
    const std::string ok = Block(0xDB04, Int(9, 9));
    EXPECT_EQ(b.TomarBytes(std::span(reinterpret_cast<const uint8_t*>(ok.data()), ok.size()), true), 8);
    EXPECT_EQ(b.Signature(), 0xDB04);
    EXPECT_EQ(b.Size(), 8);
    const auto m = b.Memory();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.data()), m.size()), ok);

    struct Case {
        const char* name;
        std::string bytes;
        bool check;
    };
    const Case bad[] = {
        {"short header", std::string("\x02\xDA\0\0\0", 5), false},
        {"bad signature", Block(0xDC02, ""), false},
        {"signature without a kind", Block(0x0002, ""), false},
        {"size mismatch", I32(0xDA02) + I32(5) + "abcd", true},
        {"negative size", I32(0xDA02) + I32(-4), true},
        {"huge size", I32(0xDA02) + I32(0x7FFFFFF0), true},
    };
    for (const Case& c : bad)
        EXPECT_EQ(kwtest::ThrownMessage([&] {
                      TDataBlock x;
                      x.TomarBytes(std::span(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()),
                                   c.check);
                  }),
                  "Base de dados inválida")
            << c.name;
    // Without the check the payload is what follows the header, whatever was declared.
    const std::string loose = I32(0xDA02) + I32(99) + "abc";
    EXPECT_EQ(b.TomarBytes(std::span(reinterpret_cast<const uint8_t*>(loose.data()), loose.size()), false), 99);
    EXPECT_EQ(b.Size(), 3);

    EXPECT_EQ(kwtest::ThrownMessage([] { TDataBlock().SetSize(-1); }), "Base de dados inválida");
    EXPECT_EQ(kwtest::ThrownMessage([] { TDataBlock().SetSize(kTamanhoMaximoCarga + 1); }), "Base de dados inválida");
    TDataBlock small;
    char out[4];
    small.Write("ab", 2);
    EXPECT_EQ(small.Read(out, 4), 2u);  // fewer bytes at the end
    EXPECT_EQ(kwtest::ThrownMessage([&] { small.ReadExact(out, 1); }), "Base de dados inválida");
}

// ---- Golden exchanges ---------------------------------------------------------------------

TEST(Interpreter, CreateObjectSendsTheNameAndMakesAProxy) {
    FakePeer peer;
    TDataBlockInterpreter in(peer, "Sockets");
    peer.replies.push_back(Block(0xDB04, Int(1, 9)));
    const Variant servidor = in.PedirCriacaoObjeto("{6F9A3B1C-0D2E-4F50-8A7B-1C2D3E4F5A6B}");
    ASSERT_EQ(peer.sent.size(), 1u);
    EXPECT_EQ(Hex(peer.sent[0]), Hex(Block(0xDA04, Txt("{6F9A3B1C-0D2E-4F50-8A7B-1C2D3E4F5A6B}"))));
    auto proxy = std::dynamic_pointer_cast<TDataDispatch>(servidor.AsDispatch());
    ASSERT_NE(proxy, nullptr);
    EXPECT_EQ(proxy->IndiceObjeto(), 1);
    EXPECT_EQ(proxy->Interpretador(), &in);
}

TEST(Interpreter, TheLoginInvokeWritesItsArgumentsLastFirst) {
    FakePeer peer;
    TDataBlockInterpreter in(peer, "Sockets");
    peer.replies.push_back(Block(0xDB04, Int(1, 9)));
    const Variant servidor = in.PedirCriacaoObjeto("AppServer");
    peer.sent.clear();

    // Name lookup, then the invoke with flags 1 and no result.
    peer.replies.push_back(Block(0xDB03, Int(0) + Int(12)));
    peer.replies.push_back(Block(0xDB02, Int(0) + Int(0, 0x4003) + Txt("Servidor OK", 0x4008) + Int(3, 0x4003) +
                                             Int(8, 0x4003)));
    Variant codigoSistema(int32_t(7)), codigoLogin(int32_t(0)), mensagem(""), oito(int32_t(0));
    const Variant r = rtl::DispatchInvoke(
        servidor, "login",
        {DispArg::ByRef(codigoSistema), DispArg::ByValue(""), DispArg::ByValue(""), DispArg::ByValue(""),
         DispArg::ByValue("10.0.0.5"), DispArg::ByRef(codigoLogin), DispArg::ByRef(mensagem), DispArg::ByRef(oito),
         DispArg::ByValue("")},
        false);
    EXPECT_TRUE(r.IsEmpty());
    ASSERT_EQ(peer.sent.size(), 2u);
    EXPECT_EQ(Hex(peer.sent[0]), Hex(Block(0xDA03, Int(1) + Txt("login"))));
    const std::string invoke = Int(1) + Int(12) + Int(1) + Bool(false) + Int(9) + Int(0) + Txt("") + Int(0, 0x4003) +
                               Txt("", 0x4008) + Int(0, 0x4003) + Txt("10.0.0.5") + Txt("") + Txt("") + Txt("") +
                               Int(7, 0x4003);
    EXPECT_EQ(Hex(peer.sent[1]), Hex(Block(0xDA02, invoke)));
    // The new values come in the order the references were sent (last argument first).
    EXPECT_EQ(oito.AsInteger(), 0);
    EXPECT_EQ(mensagem.AsString(), "Servidor OK");
    EXPECT_EQ(codigoLogin.AsInteger(), 3);
    EXPECT_EQ(codigoSistema.AsInteger(), 8);
    EXPECT_EQ(codigoSistema.Type(), rtl::VarType::Integer);
}

TEST(Interpreter, ACallWithoutArgumentsThatWantsAResultCarriesFlags3) {
    FakePeer peer;
    TDataBlockInterpreter in(peer, "Sockets");
    peer.replies.push_back(Block(0xDB04, Int(1, 9)));
    const Variant servidor = in.PedirCriacaoObjeto("AppServer");
    peer.sent.clear();
    peer.replies.push_back(Block(0xDB03, Int(0) + Int(4)));
    peer.replies.push_back(Block(0xDB02, Int(0) + Int(2, 9)));
    const Variant kwDB = rtl::DispatchInvoke(servidor, "kwDB", {}, true);
    EXPECT_EQ(Hex(peer.sent[1]), Hex(Block(0xDA02, Int(1) + Int(4) + Int(3) + Bool(true) + Int(0) + Int(0))));
    EXPECT_EQ(std::dynamic_pointer_cast<TDataDispatch>(kwDB.AsDispatch())->IndiceObjeto(), 2);
}

TEST(Interpreter, AVariantReferenceHoldingATextAndATextResult) {
    FakePeer peer;
    TDataBlockInterpreter in(peer, "Web");
    peer.replies.push_back(Block(0xDB04, Int(1, 9)));
    const Variant balanceador = in.PedirCriacaoObjeto("Balanceador");
    peer.sent.clear();
    peer.replies.push_back(Block(0xDB03, Int(0) + Int(1)));
    // The new value of a referenced variant comes as 0x4000 and the value.
    peer.replies.push_back(Block(0xDB02, Int(0) + I32(0x4000) + Txt("psTipoConexao=HTTP\r\n") +
                                             Txt("srv;id;{G};10.0.0.1:211;http://srv/x")));
    Variant pedido("psTipoConexao=HTTP\r\n");
    const Variant r = rtl::DispatchInvoke(balanceador, "GetServidorParametros", {DispArg::ByRefVariant(pedido)}, true);
    EXPECT_EQ(Hex(peer.sent[1]), Hex(Block(0xDA02, Int(1) + Int(1) + Int(1) + Bool(true) + Int(1) + Int(0) +
                                                       I32(0x4000) + Txt("psTipoConexao=HTTP\r\n"))));
    EXPECT_EQ(r.AsString(), "srv;id;{G};10.0.0.1:211;http://srv/x");
}

TEST(Interpreter, CallsByNameFailWithTheServersWords) {
    FakePeer peer;
    TDataBlockInterpreter in(peer, "Sockets");
    peer.replies.push_back(Block(0xDB04, Int(1, 9)));
    const Variant servidor = in.PedirCriacaoObjeto("AppServer");

    // Unknown name: the lookup's status fails the call before any invoke.
    peer.replies.push_back(Block(0xDB03, Int(int32_t(0x80020006u))));
    EXPECT_EQ(kwtest::ThrownMessage([&] { rtl::DispatchInvoke(servidor, "GetDadosRequisitosBanco5", {}, true); }),
              "Method 'GetDadosRequisitosBanco5' not supported by automation object");

    // An exception on the server: its description, after the by-reference values are read.
    peer.replies.push_back(Block(0xDB03, Int(0) + Int(3)));
    peer.replies.push_back(Block(0xDB02, Int(int32_t(0x80020009u)) + Int(5) + Txt("Banco fora do ar") +
                                             Txt("log do servidor", 0x4008)));
    Variant log("");
    EXPECT_EQ(kwtest::ThrownMessage([&] { rtl::DispatchInvoke(servidor, "GetDadosRequisitosBanco4", {DispArg::ByRef(log)}, true); }),
              "Banco fora do ar");
    EXPECT_EQ(log.AsString(), "log do servidor");

    // Other statuses in hexadecimal, also when nothing follows the status.
    peer.replies.push_back(Block(0xDB03, Int(0) + Int(3)));
    peer.replies.push_back(Block(0xDB02, Int(int32_t(0x8002000Eu))));
    EXPECT_EQ(kwtest::ThrownMessage([&] { rtl::DispatchInvoke(servidor, "X", {}, true); }), "OLE error 8002000E");

    // An error reply: exactly its text.
    peer.replies.push_back(Block(0xDB01, Txt("Acesso negado ao servidor")));
    EXPECT_EQ(kwtest::ThrownMessage([&] { rtl::DispatchInvoke(servidor, "X", {}, true); }), "Acesso negado ao servidor");

    // No reply where one is awaited.
    peer.replies.push_back(std::nullopt);
    EXPECT_EQ(kwtest::ThrownMessage([&] { rtl::DispatchInvoke(servidor, "X", {}, true); }),
              "Não foi recebido nenhum valor de retorno que era aguardado");

    // A reply of another action, a call instead of a reply, extra bytes, a status cut short.
    const std::string refused[] = {Block(0xDB02, Int(0) + Int(3)), Block(0xDA03, Int(0) + Int(3)),
                                   Block(0xDB03, Int(0) + Int(3) + Int(1)), Block(0xDB03, I32(3) + "\x01")};
    for (const std::string& r : refused) {
        peer.replies.push_back(r);
        EXPECT_EQ(kwtest::ThrownMessage([&] { rtl::DispatchInvoke(servidor, "X", {}, true); }), "Base de dados inválida") << Hex(r);
    }
    // A wanted result that is missing from a successful reply.
    peer.replies.push_back(Block(0xDB03, Int(0) + Int(3)));
    peer.replies.push_back(Block(0xDB02, Int(0)));
    EXPECT_EQ(kwtest::ThrownMessage([&] { rtl::DispatchInvoke(servidor, "X", {}, true); }), "Base de dados inválida");
}

TEST(Interpreter, OneNamePerLookupOnly) {
    FakePeer peer;
    TDataBlockInterpreter in(peer, "Sockets");
    std::vector<int32_t> ids;
    EXPECT_EQ(in.PedirIdentificador(1, {"a", "b"}, ids), rtl::E_NOTIMPL);
    EXPECT_EQ(in.PedirIdentificador(1, {}, ids), rtl::E_NOTIMPL);
    EXPECT_TRUE(peer.sent.empty());
}

TEST(Interpreter, AProxyFreesItsObjectWhenItsLastReferenceGoes) {
    FakePeer peer;
    auto in = std::make_unique<TDataBlockInterpreter>(peer, "Sockets");
    peer.replies.push_back(Block(0xDB04, Int(3, 9)));
    Variant kwDB = in->PedirCriacaoObjeto("kwDB");
    Variant copia = kwDB;
    peer.sent.clear();
    kwDB = Variant();
    EXPECT_TRUE(peer.sent.empty());  // a copy still refers to it
    copia = Variant::Null();
    ASSERT_EQ(peer.sent.size(), 1u);
    EXPECT_EQ(Hex(peer.sent[0]), Hex(Block(0xDA05, Int(3))));
    EXPECT_FALSE(peer.waited.back());

    // When the interpreter goes first, the proxy frees nothing remotely.
    peer.replies.push_back(Block(0xDB04, Int(4, 9)));
    Variant outro = in->PedirCriacaoObjeto("kwDB");
    peer.sent.clear();
    in.reset();
    outro = Variant();
    EXPECT_TRUE(peer.sent.empty());
}

TEST(Interpreter, TheServerListComesAsAnArrayOfTexts) {
    FakePeer peer;
    TDataBlockInterpreter in(peer, "Sockets");
    peer.replies.push_back(Block(0xDB12, I32(0x2008) + I32(1) + I32(0) + I32(1) + Txt("A") + Txt("B")));
    const Variant lista = in.PedirListaServidores();
    EXPECT_EQ(Hex(peer.sent[0]), Hex(Block(0xDA12, "")));
    ASSERT_TRUE(lista.IsArray());
    EXPECT_EQ(lista.Element(1).AsString(), "B");
}

// ---- Values both ways ---------------------------------------------------------------------

struct ValueCase {
    const char* name;
    Variant value;
    std::string bytes;
};

TEST(Interpreter, EveryValueTypeBothWays) {
    FakePeer peer;
    TDataBlockInterpreter in(peer, "");
    const double pi = 3.25;
    const ValueCase cases[] = {
        {"empty", Variant(), I32(0)},
        {"null", Variant::Null(), I32(1)},
        {"smallint", Variant(int16_t(-2)), I32(2) + I16(0xFFFE)},
        {"integer", Variant(int32_t(-70000)), Int(-70000)},
        {"single", Variant::FromSingle(1.5f), I32(4) + I32(0x3FC00000)},
        {"double", Variant(pi), I32(5) + I64(std::bit_cast<uint64_t>(pi))},
        {"currency", Variant::FromCurrency(-12345), I32(6) + I64(uint64_t(int64_t(-12345)))},
        {"date", Variant::FromDateTime(40000.5), I32(7) + I64(std::bit_cast<uint64_t>(40000.5))},
        {"text", Variant("Olá"), I32(8) + I32(3) + std::string("O\0l\0\xE1\0", 6)},
        {"empty text", Variant(""), I32(8) + I32(0)},
        {"error", Variant::FromError(int32_t(0x80020004u)), I32(10) + I32(0x80020004u)},
        {"true", Variant(true), Bool(true)},
        {"false", Variant(false), Bool(false)},
        {"shortint", Variant::FromShortInt(-3), I32(16) + "\xFD"},
        {"byte", Variant::FromByte(200), I32(17) + "\xC8"},
        {"word", Variant::FromWord(65535), I32(18) + I16(0xFFFF)},
        {"longword", Variant::FromLongWord(4000000000u), I32(19) + I32(4000000000u)},
        {"bytes", Variant::FromBytes({1, 2, 3}), I32(0x2011) + I32(1) + I32(0) + I32(2) + I32(3) + "\x01\x02\x03"},
        {"variants", Variant::FromArray({Variant(int32_t(1)), Variant("a")}),
         I32(0x200C) + I32(1) + I32(0) + I32(1) + Int(1) + Txt("a")},
        {"2x2 integers from 1", Variant::FromSafeArray(rtl::VarType::Integer, {{1, 2}, {1, 2}},
                                                      {Variant(1), Variant(2), Variant(3), Variant(4)}),
         I32(0x2003) + I32(2) + I32(1) + I32(1) + I32(2) + I32(2) + I32(16) + I32(1) + I32(2) + I32(3) + I32(4)},
        {"texts", Variant::FromSafeArray(rtl::VarType::String, {{5, 5}}, {Variant("z")}),
         I32(0x2008) + I32(1) + I32(5) + I32(5) + Txt("z")},
        {"booleans", Variant::FromSafeArray(rtl::VarType::Boolean, {{0, 1}}, {Variant(true), Variant(false)}),
         I32(0x200B) + I32(1) + I32(0) + I32(1) + I32(4) + I16(0xFFFF) + I16(0)},
        {"nested", Variant::FromArray({Variant::FromArray({Variant(int16_t(1))})}),
         I32(0x200C) + I32(1) + I32(0) + I32(0) + I32(0x200C) + I32(1) + I32(0) + I32(0) + I32(2) + I16(1)},
    };
    for (const ValueCase& c : cases) {
        TDataBlock b;
        in.EscreverVariante(c.value, b);
        const auto m = b.Memory();
        EXPECT_EQ(Hex(std::string(reinterpret_cast<const char*>(m.data()) + 8, m.size() - 8)), Hex(c.bytes)) << c.name;
        TDataBlock r = BlockOf(c.bytes);
        TFlagsVariante flags;
        const Variant back = in.LerVariante(r, flags);
        EXPECT_EQ(back.Type(), c.value.Type()) << c.name;
        EXPECT_TRUE(back == c.value || (c.value.IsNull() && back.IsNull())) << c.name;
        if (c.value.IsArray()) {
            EXPECT_EQ(back.ArrayDimCount(), c.value.ArrayDimCount()) << c.name;
            EXPECT_EQ(back.ArrayBound(0), c.value.ArrayBound(0)) << c.name;
            EXPECT_EQ(back.ArrayElementType(), c.value.ArrayElementType()) << c.name;
        }
        EXPECT_FALSE(flags.porReferencia) << c.name;
        EXPECT_EQ(r.Remaining(), 0u) << c.name;

        // With 0x4000 set the value is the same, flagged as by reference.
        if (!c.value.IsEmptyOrNull()) {
            std::string byRef = c.bytes;
            byRef[1] = char(uint8_t(byRef[1]) | 0x40);
            TDataBlock rr = BlockOf(byRef);
            const Variant same = in.LerVariante(rr, flags);
            EXPECT_TRUE(same == c.value) << c.name;
            EXPECT_TRUE(flags.porReferencia) << c.name;
            EXPECT_FALSE(flags.referenciaVariante) << c.name;
        }
    }
    // A referenced variant: 0x4000, then its content.
    TDataBlock v = BlockOf(I32(0x4000) + Int(5));
    TFlagsVariante flags;
    EXPECT_EQ(in.LerVariante(v, flags).AsInteger(), 5);
    EXPECT_TRUE(flags.referenciaVariante);
    // Codes 14 and 15 carry nothing.
    TDataBlock nada = BlockOf(I32(14) + I32(15));
    EXPECT_TRUE(in.LerVariante(nada).IsEmpty());
    EXPECT_TRUE(in.LerVariante(nada).IsEmpty());
    EXPECT_EQ(nada.Remaining(), 0u);
}

TEST(Interpreter, UnsupportedTypesAreRefused) {
    FakePeer peer;
    TDataBlockInterpreter in(peer, "");
    TDataBlock b;
    EXPECT_EQ(kwtest::ThrownMessage([&] { in.EscreverVariante(Variant(int64_t(5)), b); }), "Tipo de variante: 0014 não suportado");
    Variant objeto = Variant::FromDispatch(nullptr);
    EXPECT_EQ(kwtest::ThrownMessage([&] { in.EscreverVariante(DispArg::ByRef(objeto), b); }), "Tipo de variante: 4009 não suportado");
    const std::pair<std::string, const char*> reads[] = {
        {I32(13) + I32(0), "Tipo de variante: 000D não suportado"},
        {I32(20) + I64(0), "Tipo de variante: 0014 não suportado"},
        {I32(0x400D), "Tipo de variante: 400D não suportado"},
        {I32(0x1003) + I32(1), "Tipo de variante: 1003 não suportado"},
        {I32(0x200D) + I32(1), "Tipo de variante: 200D não suportado"},
        {I32(0x2000) + I32(1), "Tipo de variante: 2000 não suportado"},
    };
    for (const auto& [bytes, text] : reads) {
        TDataBlock r = BlockOf(bytes);
        try {
            in.LerVariante(r);
            ADD_FAILURE() << Hex(bytes);
        } catch (const EInterpreterError& e) {
            EXPECT_EQ(e.Message(), text) << Hex(bytes);
        }
    }
}

TEST(Interpreter, DeclaredLengthsAreCheckedBeforeAnythingIsRead) {
    FakePeer peer;
    TDataBlockInterpreter in(peer, "");
    std::string deep;
    for (int i = 0; i < 40; ++i)
        deep += I32(0x4000);
    deep += Int(1);
    std::string deepArrays;
    for (int i = 0; i < 40; ++i)
        deepArrays += I32(0x200C) + I32(1) + I32(0) + I32(0);
    deepArrays += Int(1);
    const std::pair<const char*, std::string> cases[] = {
        {"negative text count", I32(8) + I32(-1)},
        {"text count past the end", I32(8) + I32(3) + "a\0b\0"},
        {"huge text count", I32(8) + I32(0x7FFFFFFF)},
        {"value cut short", I32(5) + "1234"},
        {"type code cut short", std::string("\x03\x00", 2)},
        {"no dimension", I32(0x2003) + I32(0)},
        {"too many dimensions", I32(0x2003) + I32(65)},
        {"negative length", I32(0x2003) + I32(1) + I32(5) + I32(3)},
        {"elements past the end", I32(0x2003) + I32(1) + I32(0) + I32(1000) + I32(4004)},
        {"huge bounds", I32(0x200C) + I32(2) + I32(0x80000000u) + I32(0x80000000u) + I32(0x7FFFFFFF) + I32(0x7FFFFFFF)},
        {"byte count mismatch", I32(0x2011) + I32(1) + I32(0) + I32(1) + I32(3) + "\x01\x02\x03"},
        {"element of another type", I32(0x2008) + I32(1) + I32(0) + I32(0) + Int(1)},
        {"nested too deep", deep},
        {"arrays nested too deep", deepArrays},
    };
    for (const auto& [name, bytes] : cases) {
        TDataBlock r = BlockOf(bytes);
        EXPECT_EQ(kwtest::ThrownMessage([&] { in.LerVariante(r); }), "Base de dados inválida") << name;
    }
}

// ---- Answering side -----------------------------------------------------------------------

// A local object: "Eco" answers its first argument and doubles a referenced integer.
class Eco : public rtl::DispatchObject {
public:
    rtl::HResult GetIDsOfNames(const std::vector<std::string>& names, std::vector<int32_t>& ids) override {
        if (names.size() != 1 || names[0] != "Eco") return rtl::DISP_E_UNKNOWNNAME;
        ids = {1};
        return rtl::S_OK;
    }
    rtl::HResult Invoke(int32_t, uint16_t, std::vector<DispArg>& args, Variant* result, rtl::ExcepInfo& e) override {
        if (args.empty()) {
            e.code = 77;
            e.description = "sem argumentos";
            return rtl::DISP_E_EXCEPTION;
        }
        for (DispArg& a : args)
            if (a.IsByRef()) a.SetByRefValue(Variant(a.Value().AsInteger() * 2));
        if (result) *result = args.back().Value();
        return rtl::S_OK;
    }
};

const char* const kGuidEco = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";

TEST(Interpreter, TheAnsweringSideServesCallsItIsFed) {
    RegistrarClasseLocal({kGuidEco, "Teste.Eco", true, false, [] { return std::make_shared<Eco>(); }});
    FakePeer peer;
    TDataBlockInterpreter in(peer, "Sockets");
    auto feed = [&](int32_t signature, const std::string& payload) {
        TDataBlock b = BlockOf(payload, signature);
        in.InterpretarBloco(b);
        return Hex(peer.sent.back());
    };
    EXPECT_EQ(feed(0xDA04, Txt(kGuidEco)), Hex(Block(0xDB04, Int(0, 9))));
    EXPECT_EQ(feed(0xDA04, Txt("Teste.Eco")), Hex(Block(0xDB04, Int(1, 9))));  // by name too
    EXPECT_EQ(in.QuantidadeObjetosLocais(), 2u);
    EXPECT_EQ(feed(0xDA03, Int(0) + Txt("Eco")), Hex(Block(0xDB03, Int(0) + Int(1))));
    EXPECT_EQ(feed(0xDA03, Int(0) + Txt("Outro")), Hex(Block(0xDB03, Int(int32_t(0x80020006u)))));
    // Invoke: the arguments last first, a referenced integer doubled, the result.
    EXPECT_EQ(feed(0xDA02, Int(0) + Int(1) + Int(1) + Bool(true) + Int(2) + Int(0) + Int(21, 0x4003) + Txt("oi")),
              Hex(Block(0xDB02, Int(0) + Int(42, 0x4003) + Txt("oi"))));
    EXPECT_EQ(feed(0xDA02, Int(0) + Int(1) + Int(1) + Bool(false) + Int(0) + Int(0)),
              Hex(Block(0xDB02, Int(int32_t(0x80020009u)) + Int(77) + Txt("sem argumentos"))));
    EXPECT_EQ(feed(0xDA02, Int(0) + Int(1) + Int(1) + Bool(false) + Int(0) + Int(1) + Int(5)),
              Hex(Block(0xDB02, Int(int32_t(0x80020007u)))));
    EXPECT_EQ(feed(0xDA02, Int(9) + Int(1) + Int(1) + Bool(false) + Int(0) + Int(0)),
              Hex(Block(0xDB01, Txt("Objeto local inválido: 9"))));
    // The list of the classes this connection may create.
    EXPECT_EQ(feed(0xDA12, ""), Hex(Block(0xDB12, I32(0x2008) + I32(1) + I32(0) + I32(0) + Txt("Teste.Eco"))));
    // Free: no reply; the entry is released.
    const size_t before = peer.sent.size();
    TDataBlock free = BlockOf(Int(0), 0xDA05);
    in.InterpretarBloco(free);
    EXPECT_EQ(peer.sent.size(), before);
    EXPECT_EQ(feed(0xDA03, Int(0) + Txt("Eco")), Hex(Block(0xDB01, Txt("Objeto local inválido: 0"))));
    // Unknown action, and a failure that goes back as an error reply without waiting.
    EXPECT_EQ(feed(0xDA77, ""), Hex(Block(0xDB01, Txt("Ação recebida: 119 inválida"))));
    EXPECT_FALSE(peer.waited.back());
    EXPECT_EQ(feed(0xDA04, Txt("{00000000-0000-0000-0000-000000000000}")),
              Hex(Block(0xDB01, Txt("Objeto não disponível: {00000000-0000-0000-0000-000000000000}"))));
    // An error block received raises its text and is not answered.
    TDataBlock erro = BlockOf(Txt("falha remota"), 0xDB01);
    const size_t sent = peer.sent.size();
    EXPECT_EQ(kwtest::ThrownMessage([&] { in.InterpretarBloco(erro); }), "falha remota");
    EXPECT_EQ(peer.sent.size(), sent);

    // A web connection may not create a class flagged for sockets only.
    FakePeer webPeer;
    TDataBlockInterpreter web(webPeer, "Web");
    TDataBlock criar = BlockOf(Txt(kGuidEco), 0xDA04);
    web.InterpretarBloco(criar);
    EXPECT_EQ(Hex(webPeer.sent.back()), Hex(Block(0xDB01, std::string(Txt(std::string("Objeto não disponível: ") + kGuidEco)))));
    TDataBlock lista = BlockOf("", 0xDA10);
    web.InterpretarBloco(lista);
    EXPECT_EQ(Hex(webPeer.sent.back()), Hex(Block(0xDB10, I32(1))));
    RemoverClasseLocal(kGuidEco);
}

TEST(Interpreter, ALocalObjectSentToTheServerGoesIntoTheTable) {
    FakePeer peer;
    TDataBlockInterpreter in(peer, "Sockets");
    TDataBlock b;
    in.EscreverVariante(Variant::FromDispatch(std::make_shared<Eco>()), b);
    in.EscreverVariante(Variant::FromDispatch(std::make_shared<Eco>()), b);
    const auto m = b.Memory();
    EXPECT_EQ(Hex(std::string(reinterpret_cast<const char*>(m.data()) + 8, m.size() - 8)), Hex(Int(0, 9) + Int(1, 9)));
    EXPECT_EQ(in.QuantidadeObjetosLocais(), 2u);
}

}  // namespace

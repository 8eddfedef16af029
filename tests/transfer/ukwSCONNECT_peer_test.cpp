// The socket and web transports against the scripted application server: the exchanges, the
// exact requests it saw, the failures, HTTPS trust, the cipher, callbacks and cancellation.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "rtl/Dispatch.h"
#include "rtl/Text.h"
#include "rtl/Unicode.h"
#include "support/AppServerPeer.h"
#include "support/LoopbackListeners.h"
#include "transfer/BlockBytes.h"
#include "transfer/uSSOCKETCLIENT.h"
#include "transfer/ukwSCONNECT.h"

namespace {

using kwtest::AppServerPeer;
using kwtest::Json;
using rtl::DispArg;
using rtl::Variant;
using kwtest::Hex;
using kwtest::I32;
using kwtest::Int;
using kwtest::Txt;

constexpr const char* kGuid = "{6F9A3B1C-0D2E-4F50-8A7B-1C2D3E4F5A6B}";

// The objects every script serves; `methods` adds methods to the application server.
std::string Script(const std::string& mode, const std::string& methods = "", const std::string& extra = "") {
    return R"({"mode": ")" + mode + R"(", )" + extra + R"( "objects": [
        {"guid": ")" + std::string(kGuid) + R"(", "name": "AppServer", "methods": {
            "login": {"byref": {"6": 3, "7": "Bem-vindo"}},
            "kwDB": {"result": {"object": "kwDB"}},
            "Eco": {"result": "eco"})" + (methods.empty() ? "" : ", " + methods) + R"(}},
        {"name": "kwDB", "methods": {"TestarSeAtualizacaoVersionada": {"result": true}}}]})";
}

// The launcher's login: nine arguments, four of them by reference.
struct Login {
    Variant sistema = Variant(int32_t(7)), codigo = Variant(int32_t(0)), mensagem = Variant(""),
            oito = Variant(int32_t(0));
    void Call(const Variant& servidor) {
        rtl::DispatchInvoke(servidor, "login",
                            {DispArg::ByRef(sistema), DispArg::ByValue(""), DispArg::ByValue(""), DispArg::ByValue(""),
                             DispArg::ByValue("10.0.0.5"), DispArg::ByRef(codigo), DispArg::ByRef(mensagem),
                             DispArg::ByRef(oito), DispArg::ByValue("")},
                            false);
    }
};

// The whole dialogue the launcher has with a server, on any connection.
void Dialogue(TStreamedConnection& c) {
    c.SetConnected(true);
    ASSERT_TRUE(c.Connected());
    Login login;
    login.Call(c.AppServer());
    EXPECT_EQ(login.codigo.AsInteger(), 3);
    EXPECT_EQ(login.mensagem.AsString(), "Bem-vindo");
    EXPECT_EQ(login.sistema.AsInteger(), 7);  // sent back as it was
    {
        const Variant kwDB = rtl::DispatchInvoke(c.AppServer(), "kwDB", {}, true);
        EXPECT_TRUE(rtl::DispatchInvoke(kwDB, "TestarSeAtualizacaoVersionada", {}, true).AsBoolean());
    }  // the data module's proxy goes: its free call
    c.SetConnected(false);
    EXPECT_FALSE(c.Connected());
}

// What the server saw of that dialogue.
void CheckDialogue(const AppServerPeer& peer) {
    const std::vector<Json> r = peer.WaitRequests(9);
    ASSERT_GE(r.size(), 9u);
    EXPECT_EQ(r[0]["action"].str(), "create");
    EXPECT_EQ(r[0]["name"].str(), kGuid);  // braced, upper case
    EXPECT_EQ(r[1]["action"].str(), "lookup");
    EXPECT_EQ(r[1]["name"].str(), "login");
    const Json& login = r[2];
    EXPECT_EQ(login["method"].str(), "login");
    EXPECT_EQ(login["flags"].integer(), 1);
    EXPECT_FALSE(login["result_wanted"].boolean());
    ASSERT_EQ(login["args"].size(), 9u);
    EXPECT_TRUE(login["args"][0]["byref"].boolean());
    EXPECT_EQ(login["args"][0]["value"].integer(), 7);
    EXPECT_EQ(login["args"][4]["value"].str(), "10.0.0.5");
    const std::string invoke = Int(1) + Int(1) + Int(1) + I32(11) + std::string(2, '\0') + Int(9) + Int(0) + Txt("") +
                               Int(0, 0x4003) + Txt("", 0x4008) + Int(0, 0x4003) + Txt("10.0.0.5") + Txt("") + Txt("") +
                               Txt("") + Int(7, 0x4003);
    EXPECT_EQ(login["raw"].str(), Hex(I32(0xDA02) + I32(int32_t(invoke.size())) + invoke));
    EXPECT_EQ(r[4]["method"].str(), "kwDB");
    EXPECT_EQ(r[4]["flags"].integer(), 3);
    EXPECT_EQ(r[6]["method"].str(), "TestarSeAtualizacaoVersionada");
    EXPECT_EQ(r[7]["action"].str(), "free");
    EXPECT_EQ(r[7]["object"].str(), "kwDB");
    EXPECT_EQ(r[8]["action"].str(), "free");
    EXPECT_EQ(r[8]["object"].str(), "AppServer");
}

std::unique_ptr<TSocketConnection> SocketTo(const AppServerPeer& peer, const std::string& nome = "") {
    auto c = std::make_unique<TSocketConnection>();
    c->SetSupportCallbacks(false);
    if (nome.empty())
        c->SetServerGUID("{6f9a3b1c-0d2e-4f50-8a7b-1c2d3e4f5a6b}");
    else
        c->SetServerName(nome);
    c->SetAddress(peer.Address());
    return c;
}

std::unique_ptr<TWebConnection> WebTo(const AppServerPeer& peer, const std::string& scheme = "http",
                                      const std::string& host = "127.0.0.1") {
    auto c = std::make_unique<TWebConnection>();
    c->SetServerGUID(kGuid);
    c->SetURL(scheme + "://" + host + ":" + std::to_string(peer.Port()) + "/kw/httpsrvr.dll");
    return c;
}

// Calls "Lento" (which the server holds) on one thread and, once the server has the call,
// cancels the connection from this one; answers the call's failure.
std::string CancelWhileTheServerHoldsTheCall(TStreamedConnection& c, const AppServerPeer& peer) {
    std::string erro;
    std::thread chamada(
        [&] { erro = kwtest::ThrownMessage([&] { rtl::DispatchInvoke(c.AppServer(), "Lento", {}, true); }); });
    EXPECT_TRUE(kwtest::Eventually([&] { return !peer.Requests("invoke").empty(); }));
    c.Cancelar();
    chamada.join();
    return erro;
}

// ---- Socket -------------------------------------------------------------------------------

TEST(SocketTransport, TheLaunchersDialogue) {
    AppServerPeer peer(Script("socket"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    auto c = SocketTo(peer);
    Dialogue(*c);
    CheckDialogue(peer);
    // Without the cipher library the traffic is plain: the server logs no ciphered form.
    EXPECT_FALSE(peer.Requests()[0].has("wire"));
}

TEST(SocketTransport, FailuresCarryTheServersWordsOrTheTransports) {
    AppServerPeer peer(Script("socket", R"(
        "Excecao": {"status": "0x80020009", "code": 7, "description": "Banco fora do ar"},
        "Status": {"status": "0x80004005"},
        "Erro": {"error": "Acesso negado"},
        "Cai": {"drop": true},
        "bad-signature": {"malformed": "bad-signature"},
        "short-header": {"malformed": "short-header"},
        "size-mismatch": {"malformed": "size-mismatch"},
        "negative-size": {"malformed": "negative-size"},
        "huge-size": {"malformed": "huge-size"})"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    const std::pair<const char*, const char*> cases[] = {
        {"Nada", "Method 'Nada' not supported by automation object"},
        {"Excecao", "Banco fora do ar"},
        {"Status", "OLE error 80004005"},
        {"Erro", "Acesso negado"},
        {"Cai", "Erro de leitura no socket"},
        {"bad-signature", "Base de dados inválida"},
        {"short-header", "Erro de leitura no socket"},
        {"size-mismatch", "Erro de leitura no socket"},
        {"negative-size", "Base de dados inválida"},
        {"huge-size", "Base de dados inválida"},
    };
    for (const auto& [method, text] : cases) {
        auto c = SocketTo(peer);
        c->SetConnected(true);
        EXPECT_EQ(kwtest::ThrownMessage([&] { rtl::DispatchInvoke(c->AppServer(), method, {}, true); }), text) << method;
    }
    // An object the server does not have: its error reply.
    auto semObjeto = SocketTo(peer, "Nenhum");
    EXPECT_EQ(kwtest::ThrownMessage([&] { semObjeto->SetConnected(true); }), "Objeto não disponível: Nenhum");
    EXPECT_FALSE(semObjeto->Connected());
}

TEST(SocketTransport, ARefusedPortCarriesTheWindowsCode) {
    int port = 0;
    {
        AppServerPeer peer(Script("socket"));
        KW_REQUIRE_PEER(peer.Available(), peer.Reason());
        port = peer.Port();
    }  // stopped: nothing listens there now
    TSocketConnection c;
    c.SetSupportCallbacks(false);
    c.SetServerGUID(kGuid);
    c.SetAddress("127.0.0.1:" + std::to_string(port));
    try {
        c.SetConnected(true);
        FAIL() << "connected";
    } catch (const plat::ESocketError& e) {
        EXPECT_EQ(e.ErrorCode(), 10061);
        EXPECT_NE(e.Message().find("(10061)"), std::string::npos) << e.Message();
    }
    EXPECT_FALSE(c.Connected());
}

TEST(SocketTransport, CancelEndsAWaitForASilentServer) {
    AppServerPeer peer(Script("socket", R"("Lento": {"delay": 600, "result": 1})"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    auto c = SocketTo(peer);
    c->SetConnected(true);
    const std::string erro = CancelWhileTheServerHoldsTheCall(*c, peer);
    EXPECT_NE(erro.find("(10004)"), std::string::npos) << erro;
    // The connection stays cancelled: a new attempt on it fails at once.
    c->SetConnected(false);
    EXPECT_NE(kwtest::ThrownMessage([&] { c->SetConnected(true); }).find("(10004)"), std::string::npos);
}

TEST(SocketTransport, CancelEndsAConnectThatIsNeverAccepted) {
    // A listener with backlog 0 that never accepts; once its queue holds one connection the
    // next connect waits for the system's time-out.
    kwtest::FullBacklogListener full;

    TSocketConnection c;
    c.SetSupportCallbacks(false);
    c.SetServerGUID(kGuid);
    c.SetAddress(full.Address());
    std::string erro;
    std::thread conecta([&] { erro = kwtest::ThrownMessage([&] { c.SetConnected(true); }); });
    c.Cancelar();
    conecta.join();
    EXPECT_NE(erro.find("(10004)"), std::string::npos) << erro;
    EXPECT_FALSE(c.Connected());
}

TEST(SocketTransport, TheCipherGetsThePayloadAfterItsFirstFourBytes) {
    AppServerPeer peer(Script("socket", "", R"("cipher": true,)"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    kwtest::TempDir dir;
    kwtest::ScopedEnv log("KW_TEST_CIPHER_LOG", (dir / "cipher.log").string());
    const TSSOCKETCLIENT cifra(kwtest::ProgPath("cipher-whole").string());
    ASSERT_TRUE(cifra.CarregouBiblioteca());

    // The name "AB" makes a create block of payload 12: the cipher gets bytes 12 to 19.
    auto c = SocketTo(peer, "AB");
    c->SetCifra(&cifra);
    EXPECT_EQ(kwtest::ThrownMessage([&] { c->SetConnected(true); }), "Objeto não disponível: AB");  // its reply went through too
    const std::string block = I32(0xDA04) + I32(12) + Txt("AB");
    const std::string calls = kwtest::ReadFile(dir / "cipher.log");
    const std::string expected = "C 8 " + [&] {
        std::string h = Hex(block.substr(12, 8));
        for (char& ch : h)
            ch = char(std::toupper(static_cast<unsigned char>(ch)));
        return h;
    }();
    EXPECT_EQ(calls.substr(0, calls.find('\n')), expected);
    EXPECT_EQ(calls.find("\nU "), calls.find('\n'));  // then the reply was deciphered
    const Json create = peer.Requests("create").at(0);
    EXPECT_EQ(create["name"].str(), "AB");
    EXPECT_EQ(create["raw"].str(), Hex(block));                     // deciphered by the server
    EXPECT_EQ(create["wire"].str().substr(0, 24), Hex(block.substr(0, 12)));  // header and first 4 plain
    EXPECT_NE(create["wire"].str(), create["raw"].str());

    // The whole dialogue through the cipher.
    auto d = SocketTo(peer);
    d->SetCifra(&cifra);
    Dialogue(*d);
}

// A local object the server may call back: "Eco" answers its argument in upper case.
class Eco : public rtl::DispatchObject {
public:
    rtl::HResult GetIDsOfNames(const std::vector<std::string>& names, std::vector<int32_t>& ids) override {
        if (names.size() != 1 || names[0] != "Eco") return rtl::DISP_E_UNKNOWNNAME;
        ids = {5};
        return rtl::S_OK;
    }
    rtl::HResult Invoke(int32_t, uint16_t, std::vector<DispArg>& args, Variant* result, rtl::ExcepInfo&) override {
        ++chamadas;
        if (result) *result = Variant(rtl::UpperCase(args.empty() ? "" : args.back().Value().AsString()));
        return rtl::S_OK;
    }
    std::atomic<int> chamadas{0};
};

TEST(SocketTransport, CallbackModeServesTheServersCallBeforeTheReply) {
    AppServerPeer peer(Script("socket", R"(
        "ComRetorno": {"callback": {"arg": 1, "method": "Eco", "args": ["ola"]}, "result": "callback"})"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    TSocketConnection c;  // callbacks on, as after creation
    ASSERT_TRUE(c.SupportCallbacks());
    c.SetServerGUID(kGuid);
    c.SetAddress(peer.Address());
    c.SetConnected(true);
    auto eco = std::make_shared<Eco>();
    const Variant r = rtl::DispatchInvoke(c.AppServer(), "ComRetorno", {DispArg::ByValue(Variant::FromDispatch(eco))}, true);
    EXPECT_EQ(r.AsString(), "OLA");
    EXPECT_EQ(eco->chamadas.load(), 1);
    Login login;  // and plain calls go on
    login.Call(c.AppServer());
    EXPECT_EQ(login.codigo.AsInteger(), 3);
    c.SetConnected(false);

    const std::vector<Json> lookups = peer.Requests("callback-lookup-reply");
    ASSERT_EQ(lookups.size(), 1u);
    EXPECT_EQ(lookups[0]["status"].integer(), 0);
    EXPECT_EQ(lookups[0]["dispid"].integer(), 5);
    const std::vector<Json> invokes = peer.Requests("callback-invoke-reply");
    ASSERT_EQ(invokes.size(), 1u);
    EXPECT_EQ(invokes[0]["values"][1]["value"].str(), "OLA");
}

// ---- Web ----------------------------------------------------------------------------------

TEST(WebTransport, TheLaunchersDialogueAndTheRequestsSent) {
    AppServerPeer peer(Script("http"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    kwtest::ScopedEnv noProxy("no_proxy", "127.0.0.1,localhost");
    auto c = WebTo(peer);
    Dialogue(*c);
    CheckDialogue(peer);
    const std::vector<Json> r = peer.Requests();
    for (const Json& q : r) {
        const Json& http = q["http"];
        EXPECT_EQ(http["method"].str(), "POST");
        EXPECT_EQ(http["path"].str(), "/kw/httpsrvr.dll");
        EXPECT_EQ(http["headers"]["accept"].str(), "application/octet-stream");
        EXPECT_FALSE(http["headers"].has("content-type"));
        EXPECT_FALSE(http["headers"].has("expect"));
        EXPECT_EQ(http["headers"]["user-agent"].str(), "WebConnection");
        // One kept-alive connection for every block.
        EXPECT_EQ(q["conn"].str(), r[0]["conn"].str());
    }
}

TEST(WebTransport, StatusesAndBodiesThatAreNoReply) {
    AppServerPeer peer(Script("http", R"(
        "Falha500": {"http_status": 500, "http_reason": "Internal Server Error"},
        "SemMotivo": {"http_status": 502, "http_reason": ""},
        "Redireciona": {"http_status": 302, "http_reason": "Found"},
        "Vazio": {"body_hex": ""},
        "Curto": {"body_hex": "02db000000"},
        "Sete": {"body_hex": "02db0000000000"},
        "Desigual": {"malformed": "size-mismatch"},
        "Cai": {"drop": true},
        "Erro": {"error": "Acesso negado"})"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    kwtest::ScopedEnv noProxy("no_proxy", "127.0.0.1,localhost");
    const std::pair<const char*, const char*> cases[] = {
        {"Falha500", "Internal Server Error (500)"},
        {"SemMotivo", "HTTP response code said error (502)"},
        {"Redireciona", "Found (302)"},
        {"Vazio", "Não foi recebido nenhum valor de retorno que era aguardado"},
        {"Curto", "Base de dados inválida"},
        {"Sete", "Base de dados inválida"},
        {"Desigual", "Base de dados inválida"},
        {"Cai", "Empty reply from server"},
        {"Erro", "Acesso negado"},
    };
    auto c = WebTo(peer);
    c->SetConnected(true);
    for (const auto& [method, text] : cases) {
        const size_t antes = peer.Requests("invoke").size();
        EXPECT_EQ(kwtest::ThrownMessage([&] { rtl::DispatchInvoke(c->AppServer(), method, {}, true); }), text) << method;
        // Each failure is one request: nothing is sent again. Only a kept-alive connection
        // that dies without a byte of answer is tried once more on a fresh one (libcurl's rule
        // for a connection the server may have closed while idle).
        const size_t depois = peer.Requests("invoke").size();
        if (std::string(method) == "Cai")
            EXPECT_LE(depois, antes + 2);
        else
            EXPECT_EQ(depois, antes + 1) << method;
    }
}

TEST(WebTransport, ARefusedPortFailsOnceWithLibcurlsText) {
    int port = 0;
    {
        AppServerPeer peer(Script("http"));
        KW_REQUIRE_PEER(peer.Available(), peer.Reason());
        port = peer.Port();
    }
    kwtest::ScopedEnv noProxy("no_proxy", "127.0.0.1,localhost");
    TWebConnection c;
    c.SetServerGUID(kGuid);
    c.SetURL("http://127.0.0.1:" + std::to_string(port) + "/kw/httpsrvr.dll");
    const std::string erro = kwtest::ThrownMessage([&] { c.SetConnected(true); });
    EXPECT_NE(erro.find("127.0.0.1"), std::string::npos) << erro;
    EXPECT_NE(erro.find(std::to_string(port)), std::string::npos) << erro;
    EXPECT_FALSE(c.Connected());
}

TEST(WebTransport, ProxyFromThePropertyOrTheEnvironment) {
    AppServerPeer peer(Script("http"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    // The target itself refuses connections: only through the proxy (the fixture, which sees
    // the target in its request line) does a call get an answer.
    const std::string target = "http://127.0.0.1:" + std::to_string(kwtest::FreeLoopbackPort()) + "/kw/httpsrvr.dll";
    kwtest::ScopedEnv noProxy("no_proxy", std::nullopt);
    kwtest::ScopedEnv noProxyUpper("NO_PROXY", std::nullopt);
    {
        kwtest::ScopedEnv clear("http_proxy", std::nullopt);
        TWebConnection c;
        c.SetServerGUID(kGuid);
        c.SetURL(target);
        c.SetProxy("127.0.0.1:" + std::to_string(peer.Port()));
        c.SetConnected(true);
        c.SetConnected(false);
        EXPECT_EQ(peer.Requests("create").at(0)["http"]["path"].str(), target);
        // A bypassed host goes direct, where nothing answers.
        c.SetProxyByPass("<local>;127.0.0.1");
        EXPECT_NE(kwtest::ThrownMessage([&] { c.SetConnected(true); }), "(no exception)");
        EXPECT_EQ(peer.Requests("create").size(), 1u);
    }
    {
        kwtest::ScopedEnv proxy("http_proxy", "http://127.0.0.1:" + std::to_string(peer.Port()));
        TWebConnection c;
        c.SetServerGUID(kGuid);
        c.SetURL(target);
        c.SetConnected(true);
        c.SetConnected(false);
        EXPECT_EQ(peer.Requests("create").size(), 2u);
    }
}

TEST(WebTransport, CredentialsAnswerTheChallenge) {
    AppServerPeer peer(Script("http", "", R"("auth": {"user": "kw", "password": "s3nha"},)"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    kwtest::ScopedEnv noProxy("no_proxy", "127.0.0.1,localhost");
    auto sem = WebTo(peer);
    EXPECT_EQ(kwtest::ThrownMessage([&] { sem->SetConnected(true); }), "Unauthorized (401)");
    auto com = WebTo(peer);
    com->SetUserName("kw");
    com->SetPassword("s3nha");
    com->SetConnected(true);
    EXPECT_TRUE(com->Connected());
    // The first request goes without credentials and is challenged, then answered.
    const std::vector<Json> r = peer.Requests();
    ASSERT_GE(r.size(), 3u);
    EXPECT_EQ(r[1]["action"].str(), "challenged");
    EXPECT_FALSE(r[1]["http"]["headers"].has("authorization"));
    EXPECT_EQ(r[2]["action"].str(), "create");
}

TEST(WebTransport, CancelEndsAWaitForASilentServer) {
    AppServerPeer peer(Script("http", R"("Lento": {"delay": 600, "result": 1})"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    kwtest::ScopedEnv noProxy("no_proxy", "127.0.0.1,localhost");
    auto c = WebTo(peer);
    c->SetConnected(true);
    EXPECT_EQ(CancelWhileTheServerHoldsTheCall(*c, peer), "A conexão com o servidor foi cancelada.");
}

class Https : public ::testing::Test {
protected:
    void SetUp() override {
        certificado_ = AppServerPeer::MakeCertificate(dir_.path(), "appserver", "DNS:localhost,IP:127.0.0.1");
        outro_ = AppServerPeer::MakeCertificate(dir_.path(), "outro", "DNS:localhost,IP:127.0.0.1");
        errado_ = AppServerPeer::MakeCertificate(dir_.path(), "errado", "DNS:outro.kw.invalid");
        KW_REQUIRE_PEER(!certificado_.der.empty() && !outro_.der.empty() && !errado_.der.empty(), "openssl req");
    }
    std::string ScriptWith(const AppServerPeer::Certificate& c) {
        return Script("https", "", R"("cert": ")" + c.cert.string() + R"(", "key": ")" + c.key.string() + R"(",)");
    }

    kwtest::TempDir dir_;
    AppServerPeer::Certificate certificado_, outro_, errado_;
};

TEST_F(Https, TheTrustedCertificateOfThisConnectionOnly) {
    AppServerPeer peer(ScriptWith(certificado_));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    kwtest::ScopedEnv noProxy("no_proxy", "127.0.0.1,localhost");
    for (const char* host : {"127.0.0.1", "localhost"}) {
        auto c = WebTo(peer, "https", host);
        c->SetCertificadoConfiavel(certificado_.der);
        Dialogue(*c);
    }
    // Without it, or trusting another certificate, the server's is not trusted.
    auto sem = WebTo(peer, "https");
    EXPECT_NE(kwtest::ThrownMessage([&] { sem->SetConnected(true); }), "(no exception)");
    auto outro = WebTo(peer, "https");
    outro->SetCertificadoConfiavel(outro_.der);
    EXPECT_NE(kwtest::ThrownMessage([&] { outro->SetConnected(true); }), "(no exception)");
    // Trust given to one connection is not given to the next.
    auto depois = WebTo(peer, "https");
    EXPECT_NE(kwtest::ThrownMessage([&] { depois->SetConnected(true); }), "(no exception)");
    // Bytes that are no certificate.
    auto lixo = WebTo(peer, "https");
    lixo->SetCertificadoConfiavel("not a certificate");
    EXPECT_NE(kwtest::ThrownMessage([&] { lixo->SetConnected(true); }), "(no exception)");
    EXPECT_EQ(peer.Requests("create").size(), 2u);
}

TEST_F(Https, AWrongHostNameFailsEvenWhenTrusted) {
    AppServerPeer peer(ScriptWith(errado_));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    kwtest::ScopedEnv noProxy("no_proxy", "127.0.0.1,localhost");
    auto c = WebTo(peer, "https");
    c->SetCertificadoConfiavel(errado_.der);
    const std::string erro = kwtest::ThrownMessage([&] { c->SetConnected(true); });
    EXPECT_NE(erro, "(no exception)");
    EXPECT_TRUE(peer.Requests("create").empty());
}

}  // namespace

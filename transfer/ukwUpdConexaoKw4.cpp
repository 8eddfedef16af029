// transfer/ukwUpdConexaoKw4.cpp: Conectar of both connections, the application server's
// exchange and the balancer's, and the writing of [kwBalanceador].
#include "transfer/ukwUpdConexaoKw4.h"

#include <utility>

#include "common/ukwUpdConfig.h"
#include "common/ukwUpdIni.h"
#include "common/ukwUpdLog.h"
#include "common/ukwUpdUtil.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "rtl/Dispatch.h"
#include "rtl/Format.h"
#include "rtl/Stream.h"
#include "rtl/Text.h"
#include "transfer/ukwFuncoesAPI.h"
#include "transfer/ukwFuncoesTCP.h"
#include "transfer/ukwObjDadosRequisito.h"
#include "transfer/ukwParametrosBalanceador.h"
#include "transfer/ukwSCONNECT.h"
#include "transfer/ukwTelaStatus.h"
#include "transfer/ukwTransferenciaObjeto.h"
#include "transfer/ukwUpdConexaoKw4Ping.h"

using rtl::DispArg;
using rtl::DispatchInvoke;
using rtl::Variant;

namespace {

const char* const kSecaoBalanceador = "kwBalanceador";

// The text of a line as a section header ("[name]" after trimming: the name between the
// brackets, trimmed), or nothing for any other line.
std::optional<std::string> NomeDeSecao(std::string_view linha) {
    const std::string t = rtl::Trim(linha);
    if (t.empty() || t[0] != '[') return std::nullopt;
    const size_t fecha = t.find(']');
    return rtl::Trim(
        std::string_view(t).substr(1, fecha == std::string::npos ? std::string::npos : fecha - 1));
}

// The lines of a text split at CR LF, LF or CR; a final line break adds no empty line.
std::vector<std::string> Linhas(std::string_view texto) {
    std::vector<std::string> linhas;
    size_t inicio = 0;
    for (size_t i = 0; i < texto.size(); ++i) {
        if (texto[i] != '\r' && texto[i] != '\n') continue;
        linhas.emplace_back(texto.substr(inicio, i - inicio));
        if (texto[i] == '\r' && i + 1 < texto.size() && texto[i + 1] == '\n') ++i;
        inicio = i + 1;
    }
    if (inicio < texto.size()) linhas.emplace_back(texto.substr(inicio));
    return linhas;
}

// Refuses a balancer list that is not exactly section [kwBalanceador]: its header first, then
// only keys, blank lines and comments. The lines go into the configuration file as they
// stand, so anything else (another section, a line the file's reader cannot take, a control
// character) could change settings the server has no business with.
void ConfirmeSecaoBalanceador(const std::vector<std::string>& linhas) {
    const auto recuse = [](size_t n) {
        throw rtl::Exception(rtl::Format(
            "A lista de balanceadores recebida do servidor de aplicação foi recusada: a linha %d não "
            "pertence à seção [kwBalanceador].",
            int(n + 1)));
    };
    for (size_t n = 0; n < linhas.size(); ++n) {
        const std::string& linha = linhas[n];
        for (unsigned char c : linha)
            if (c < 0x20 && c != '\t') recuse(n);
        const std::optional<std::string> secao = NomeDeSecao(linha);
        if (n == 0) {
            if (!secao || !rtl::SameText(*secao, kSecaoBalanceador)) recuse(n);
            continue;
        }
        if (secao) recuse(n);
        const std::string t = rtl::Trim(linha);
        if (t.empty() || t[0] == ';') continue;
        const size_t igual = t.find('=');
        if (igual == std::string::npos || rtl::Trim(std::string_view(t).substr(0, igual)).empty()) recuse(n);
    }
}

// The value a by-reference text argument came back with.
std::string Texto(const Variant& v) {
    return v.AsString();
}

}  // namespace

std::string ObtenhaArquivoCertificado() {
    const std::string caminho = ObtenhaCaminhoExecutavel();
    const size_t barra = caminho.find_last_of('/');
    const size_t inicioNome = barra == std::string::npos ? 0 : barra + 1;
    const size_t exe = rtl::PosText(".exe", std::string_view(caminho).substr(inicioNome));
    if (exe == std::string::npos) return caminho + "App.cer";
    return caminho.substr(0, inicioNome + exe) + "App.cer" + caminho.substr(inicioNome + exe + 4);
}

std::string MensagemErroLogin(int32_t codigo, const std::string& m) {
    switch (codigo) {
        case 1:
            return "Não foi possível efetuar a conexão com o banco de dados. Possíveis causas: banco de "
                   "dados fora do ar, "
                   "configuração incorreta do cliente de banco de dados, da BDE ou do arquivo de "
                   "configuração "
                   "kwCfg.ini.\n\r\n\rMensagem original : " +
                   m;
        case 2:
            return "Banco de dados em manutenção. Mensagem: " + m;
        case 3:
        case 4:
        case 5:
        case 6:
            return {};
        case 11:
            return "Não foi possível efetuar a conexão com o banco de dados. Possíveis causas: banco de "
                   "dados fora do ar, "
                   "configuração incorreta do cliente de banco de dados, da BDE ou do arquivo de "
                   "configuração "
                   "kwCfg.ini. Alias: " +
                   m;
        case 12:
            return "O arquivo de configuração kwCfg.ini do servidor de aplicação não foi encontrado ou está "
                   "incorretamente configurado.";
        case 13:
            return "O sistema tentou conectar ao banco de dados de alias \"" + m +
                   "\" mas ele não está registrado na BDE. Entre em contato "
                   "com o suporte para registrar o alias na BDE e verificar no kwCfg.ini "
                   "se a configuração para o Alias na sessão [Database] também está "
                   "correta.";
        case 14:
            return "O sistema tentou conectar ao banco de dados com o alias \"" + m +
                   "\" mas ele não está catalogado no client do DB2. "
                   "Entre em contato com o suporte para catalogar o alias no client "
                   "do DB2.";
        case 15:
            return "O computador que possui o servidor de banco de dados está desligado ou não pode ser "
                   "alcançado por "
                   "problemas de rede (alias do banco e nome do computador: \"" +
                   m +
                   "\"). "
                   "Entre em contato com o suporte para verificar o problema.";
        default:
            return m.empty() ? std::string() : "Erro ao acessar o servivor de aplicação. Mensagem: " + m;
    }
}

TkwEnderecoWeb AnaliseEnderecoWeb(const std::string& endereco) {
    TkwEnderecoWeb e;
    const size_t doisPontos = endereco.find(':');
    std::string resto;
    if (doisPontos != std::string::npos) {
        e.Esquema = endereco.substr(0, doisPontos);
        resto = endereco.substr(std::min(doisPontos + 3, endereco.size()));  // after "://"
    } else {
        resto = endereco;
    }
    const size_t barra = resto.find('/');
    e.ParteHost = resto.substr(0, barra);
    if (barra != std::string::npos) e.Caminho = resto.substr(barra + 1);

    int32_t portaCaminho = 0;
    const size_t noCaminho = e.Caminho.find(':');
    if (noCaminho != std::string::npos) {
        portaCaminho = rtl::StrToInt(std::string_view(e.Caminho).substr(noCaminho + 1));
        e.Caminho.resize(noCaminho);
    }
    // The host part's own port is where a server listens; the path's port is the older way
    // of giving one.
    int32_t portaHost = 0;
    const size_t noHost = e.ParteHost.find(':');
    if (noHost != std::string::npos &&
        rtl::TryStrToInt(std::string_view(e.ParteHost).substr(noHost + 1), portaHost) && portaHost > 0) {
        e.PortaSonda = portaHost;
    } else if (noCaminho != std::string::npos) {
        e.PortaSonda = portaCaminho;
    } else {
        e.PortaSonda = rtl::UpperCase(e.Esquema) == "HTTP" ? 80 : 443;
    }
    return e;
}

// ---- TkwConexaoRemota -------------------------------------------------------------------------

TkwConexaoRemota::~TkwConexaoRemota() {
    try {
        Desconectar();
    } catch (...) {
        // The server frees its objects with the connection.
    }
}

void TkwConexaoRemota::SetTipoConexao(const std::string& tipo) {
    TipoConexao = rtl::UpperCase(tipo);
}

void TkwConexaoRemota::Desconectar() {
    if (Conexao && Conexao->Connected()) Conexao->SetConnected(false);
}

void TkwConexaoRemota::AdicionarErro(const std::string& texto) {
    if (texto.empty()) return;
    if (!MensagemErro.empty()) MensagemErro += "\r\n";
    MensagemErro += texto;
}

Variant TkwConexaoRemota::ObterAppServer() const {
    return Conexao ? Conexao->AppServer() : Variant::Null();
}

void TkwConexaoRemota::InstalarCertificadoHTTPS() {
    const auto* web = dynamic_cast<const TWebConnection*>(Conexao.get());
    if (web && rtl::LowerCase(web->URL()).find("https") != std::string::npos)
        InstalarCertificado(ObtenhaArquivoCertificado());
}

void TkwConexaoRemota::InstalarCertificado(const std::string& arquivo) {
    if (!plat::FileExists(arquivo))
        throw rtl::Exception("O arquivo de certificado '" + arquivo + "'" +
                             " não foi encontrado junto com o executável " + "do cliente da aplicação.");
    std::string der = rtl::ReadFileBytes(arquivo);
    if (auto* web = dynamic_cast<TWebConnection*>(Conexao.get()))
        web->SetCertificadoConfiavel(std::move(der));
}

void TkwConexaoRemota::Tarefa(const std::string& texto) {
    if (TelaStatus) TelaStatus->DefinaTextoTarefa(texto);
}

void TkwConexaoRemota::PrepareWeb() {
    const TkwEnderecoWeb e = AnaliseEnderecoWeb(EnderecoURL);
    const std::string testando =
        std::string("Testando conexão com ") + NomeAlvo() + " no seguinte endereço: \r\n";
    const std::string raiz = e.Esquema + "://" + e.ParteHost;
    Tarefa(testando + raiz);
    ServidorEncontrado = TPing::PingHTTPS(raiz, TempoTesteRede, TelaStatus);
    if (!ServidorEncontrado) {
        const std::string host = e.Host();
        Tarefa(testando + host);
        TPing ping;
        ServidorEncontrado = ping.Ping(ResolverEndereco(host), TempoTesteRede, e.PortaSonda);
    }
    if (!ServidorEncontrado) return;
    auto web = std::make_shared<TWebConnection>();
    Conexao = web;
    web->SetServerGUID(GUIDAlvo());
    try {
        web->SetURL(e.URL());
    } catch (const std::exception& x) {
        MensagemErro = x.what();
        ServidorEncontrado = false;
    }
    Tarefa(std::string("Conectando ao ") + NomeAlvo() + " no seguinte endereço: \r\n" + web->URL());
    try {
        InstalarCertificadoHTTPS();
    } catch (const std::exception& x) {
        MensagemErro = x.what();
    }
}

void TkwConexaoRemota::PrepareSoquete() {
    Tarefa(std::string("Testando conexão com ") + NomeAlvo() + " no seguinte endereço: \r\n" + EnderecoIP);
    {
        TPing ping;
        ServidorEncontrado = ping.Ping(EnderecoIP, TempoTesteRede, 0);
    }
    if (!ServidorEncontrado) return;
    auto soquete = std::make_shared<TSocketConnection>();
    Conexao = soquete;
    soquete->SetServerGUID(GUIDAlvo());
    try {
        soquete->SetAddress(EnderecoIP);
    } catch (const std::exception& x) {
        MensagemErro = x.what();
        ServidorEncontrado = false;
    }
    soquete->SetSupportCallbacks(false);
    Tarefa(std::string("Conectando ao ") + NomeAlvo() + " no seguinte endereço: \r\n" + EnderecoIP);
}

void TkwConexaoRemota::Conectar() {
    MensagemErro.clear();
    ServidorEncontrado = false;
    if (TipoConexao != "SOCKET" && TipoConexao != "HTTP")
        throw rtl::Exception("Não foi possível escolher nenhum tipo de conexão");
    // A transport of an earlier attempt is not used again.
    Desconectar();
    Conexao.reset();
    if (TipoConexao == "HTTP")
        PrepareWeb();
    else
        PrepareSoquete();
    if (!ServidorEncontrado || !MensagemErro.empty()) return;

    TimeOut = false;
    const std::shared_ptr<TkwTrabalhoConexao> trabalho = CrieTrabalho();
    const TkwDesfechoTentativa desfecho =
        TentativaProtegida(Conexao, trabalho, TimeoutSegundos, LogDaTentativa(), TelaStatus);
    TimeOut = desfecho.TimeOut;
    if (TimeOut)
        Conexao.reset();  // the late thread holds it until it ends; this object is done with it
    else
        TomeResultado(*trabalho);
    AdicionarErro(desfecho.TextoErro);
}

// ---- TkwUpdConexaoKw4 -------------------------------------------------------------------------

TkwUpdConexaoKw4::TkwUpdConexaoKw4() : TkwConexaoRemota(60) {}

TkwUpdConexaoKw4::~TkwUpdConexaoKw4() = default;

std::shared_ptr<TkwTrabalhoConexao> TkwUpdConexaoKw4::CrieTrabalho() {
    auto busca = std::make_shared<TBusca>();
    busca->CdSistema = CdSistema;
    busca->CdSistemaGenerico = CdSistemaGenerico;
    busca->CdLocalUpdate = CdLocalUpdate;
    busca->TipoConexao = TipoConexao;
    busca->EnderecoURL = EnderecoURL;
    busca->PodeBalancear = PodeBalancear;
    return busca;
}

void TkwUpdConexaoKw4::TomeResultado(TkwTrabalhoConexao& trabalho) {
    auto& busca = static_cast<TBusca&>(trabalho);
    CdSistema = busca.CdSistema;
    CdSistemaGenerico = busca.CdSistemaGenerico;
    CdLocalUpdate = busca.CdLocalUpdate;
    if (busca.Requisitos) Requisitos = *busca.Requisitos;
    if (busca.AtualizacaoVersionada) AtualizacaoVersionada = *busca.AtualizacaoVersionada;
    for (const std::string& erro : busca.Erros)
        AdicionarErro(erro);
}

std::string TkwUpdConexaoKw4::TBusca::FazerLogin(TkwContextoTentativa& contexto, int32_t cdSistema) {
    Variant sistema(cdSistema), codigo(int32_t(0)), mensagem(""), oitavo(int32_t(0));
    DispatchInvoke(contexto.Conexao().AppServer(), "login",
                   {DispArg::ByRef(sistema), DispArg::ByValue(""), DispArg::ByValue(""), DispArg::ByValue(""),
                    DispArg::ByValue(PegueIPLocal()), DispArg::ByRef(codigo), DispArg::ByRef(mensagem),
                    DispArg::ByRef(oitavo), DispArg::ByValue("")},
                   false);
    return MensagemErroLogin(codigo.AsInteger(), Texto(mensagem));
}

void TkwUpdConexaoKw4::TBusca::AtualizarINIRPC(TkwContextoTentativa& contexto) {
    // The configuration reader and its log are touched only under the attempt's gate.
    contexto.SobControle([] { kwUpdIni().LogarAtributosArquivoINI(); });
    const std::string marca = rtl::IntToHex(plat::GetClock().TickCount(), 8);
    const std::string antes = "kwCFG-antes-RPC-" + marca + ".ini";
    const std::string depois = "kwCFG-depois-RPC-" + marca + ".ini";
    try {
        contexto.SobControle([&] { kwUpdIni().CriarCopiaArquivoINI(antes); });
        const Variant app = contexto.Conexao().AppServer();
        const bool consultarDispIDLocal =
            DispatchInvoke(DispatchInvoke(app, "kwDB", {}, true), "GetParamConsultarDispIDLocal", {}, true)
                .AsBoolean();
        const bool controlarReconexao =
            DispatchInvoke(DispatchInvoke(app, "kwDB", {}, true), "GetParamControlarReconexao", {}, true)
                .AsBoolean();
        contexto.SobControle([&] {
            TkwUpdIni& ini = kwUpdIni();
            ini.EscreverConfiguracoesRPC(controlarReconexao, consultarDispIDLocal);
            ini.CriarCopiaArquivoINI(depois);
            ini.CompararCopiasArquivoINI(antes, depois);
        });
    } catch (const std::exception& e) {
        contexto.AdicioneDetalhe(std::string("TkwUpdConexaoKw4.AtualizarINIRPC: ") + e.what());
        const std::string excecaoAntes = "kwCFG-excecao-antes-RPC-" + marca + ".ini";
        const std::string excecaoDepois = "kwCFG-excecao-depois-RPC-" + marca + ".ini";
        contexto.SobControle([&] {
            TkwUpdIni& ini = kwUpdIni();
            ini.CriarCopiaArquivoINI(excecaoAntes);
            ini.EscreverConfiguracoesRPC(false, false);
            ini.CriarCopiaArquivoINI(excecaoDepois);
            ini.CompararCopiasArquivoINI(excecaoAntes, excecaoDepois);
        });
    }
}

void TkwUpdConexaoKw4::TBusca::BuscarRequisitos(TkwContextoTentativa& contexto) {
    contexto.AdicioneDetalhe("Fazendo login no servidor de aplicação...");
    const std::string erroLogin = FazerLogin(contexto, CdSistema);
    if (!erroLogin.empty()) {
        Erros.push_back(erroLogin);
        return;
    }
    contexto.AdicioneDetalhe("Login OK. Verificando os requisitos...");

    const Variant kwDB = DispatchInvoke(contexto.Conexao().AppServer(), "kwDB", {}, true);
    if (kwDB.IsEmptyOrNull()) {
        Erros.push_back("O kwDB retornado do servidor de aplicação está nulo.");
        return;
    }
    AtualizarINIRPC(contexto);
    const Variant alias = DispatchInvoke(kwDB, "GetAliasConectado", {}, true);
    const std::string endereco = TipoConexao == "SOCKET" ? ListeInterfacesRede() : EnderecoURL;

    // The server's log and error texts: the same two variables for every requisites method;
    // what a failing call hands back is not kept.
    std::string logServidor, erroServidor;
    const auto executado = [&](const char* metodo) {
        contexto.AdicioneDetalhe(std::string("Método remoto executado \"") + metodo + "\".");
    };
    const auto falhou = [&](const std::exception& e) {
        contexto.AdicioneDetalhe(std::string("Erro ao obter requisitos: ") + e.what());
    };
    // Methods 4, 3 and 2: the codes by reference (what comes back replaces them).
    const auto antigo = [&](const char* metodo, bool comEndereco) {
        Variant sistema(CdSistema), generico(CdSistemaGenerico), local(CdLocalUpdate), ender(endereco),
            log(logServidor), erro(erroServidor);
        std::vector<DispArg> args{DispArg::ByRef(sistema), DispArg::ByRef(generico), DispArg::ByRef(local)};
        if (comEndereco) args.push_back(DispArg::ByRef(ender));
        args.push_back(DispArg::ByRef(log));
        args.push_back(DispArg::ByRef(erro));
        const Variant r = DispatchInvoke(kwDB, metodo, std::move(args), true);
        CdSistema = sistema.AsInteger();
        CdSistemaGenerico = generico.AsInteger();
        CdLocalUpdate = local.AsInteger();
        logServidor = Texto(log);
        erroServidor = Texto(erro);
        Requisitos = Texto(r);
        executado(metodo);
    };

    bool novoFalhou = false;
    try {
        TkwObjDadosRequisito pedido;
        pedido.SetCdSistema(CdSistema);
        pedido.SetCdSistemaGenerico(CdSistemaGenerico);
        pedido.SetCdLocalUpdate(CdLocalUpdate);
        pedido.SetEndereco(endereco);
        Variant texto(TkwTransferenciaObjeto::ObjetoParaTexto(pedido)), log(logServidor), erro(erroServidor);
        const Variant r =
            DispatchInvoke(kwDB, "GetDadosRequisitosBanco5",
                           {DispArg::ByRef(texto), DispArg::ByRef(log), DispArg::ByRef(erro)}, true);
        logServidor = Texto(log);
        erroServidor = Texto(erro);
        Requisitos = Texto(r);
        executado("GetDadosRequisitosBanco5");
    } catch (const std::exception& e) {
        falhou(e);
        novoFalhou = true;
    }
    bool modoAntigo = false;
    if (novoFalhou) {
        try {
            antigo("GetDadosRequisitosBanco4", true);
        } catch (const std::exception& e) {
            falhou(e);
            modoAntigo = true;
        }
    }
    if (modoAntigo) {
        contexto.AdicioneDetalhe("Executando pelo modo antigo");
        try {
            antigo("GetDadosRequisitosBanco3", true);
            modoAntigo = false;
        } catch (const std::exception& e) {
            falhou(e);
        }
    }
    if (modoAntigo) {
        contexto.AdicioneDetalhe("Executando pelo modo antigo");
        antigo("GetDadosRequisitosBanco2", false);  // its failure ends the exchange
    }

    try {
        AtualizacaoVersionada = DispatchInvoke(kwDB, "TestarSeAtualizacaoVersionada", {}, true).AsBoolean();
        executado("TestarSeAtualizacaoVersionada");
    } catch (const std::exception& e) {
        contexto.AdicioneDetalhe(
            std::string("Erro ao executar o método remoto \"TestarSeAtualizacaoVersionada\": ") + e.what());
    }

    contexto.AdicioneTexto(logServidor);
    if (!erroServidor.empty()) {
        Erros.push_back(erroServidor);
        return;
    }
    if (PodeBalancear) BusqueBalanceadores(contexto, kwDB, alias);
}

void TkwUpdConexaoKw4::TBusca::BusqueBalanceadores(TkwContextoTentativa& contexto, const Variant& kwDB,
                                                   const Variant& alias) {
    struct Metodo {
        const char* aviso;
        const char* nome;
        bool porTipo;  // takes a second, empty text argument
        const char* erro;
    };
    static const Metodo kMetodos[] = {
        {"Verificando os requisitos OK. Pegando os balanceadores por base e tipo de conexão V2...",
         "GetBalanceadoresPorBaseETipoConexao_V2", true,
         "Ocorreu um erro tentando pegar os balanceadores por base e tipo de conexão V2: "},
        {"Verificando os requisitos OK. Pegando os balanceadores por base e tipo de conexão...",
         "GetBalanceadoresPorBaseETipoConexao", true,
         "Ocorreu um erro tentando pegar os balanceadores por base e tipo de conexão: "},
        {"Verificando os requisitos OK. Pegando os balanceadores por base V2...", "GetBalanceadores_V2",
         false, "Ocorreu um erro tentando pegar os balanceadores por base V2: "},
        {"Verificando os requisitos OK. Pegando os balanceadores por base...", "GetBalanceadores", false,
         "Ocorreu um erro tentando pegar os balanceadores por base: "},
    };
    for (const Metodo& m : kMetodos) {
        contexto.AdicioneDetalhe(m.aviso);
        try {
            Variant base(alias);
            std::vector<DispArg> args{DispArg::ByRef(base)};
            if (m.porTipo) args.push_back(DispArg::ByValue(""));
            const std::string lista = Texto(DispatchInvoke(kwDB, m.nome, std::move(args), true));
            contexto.SobControle([&] { GravarBalanceadores(lista); });
            return;
        } catch (const std::exception& e) {
            contexto.AdicioneDetalhe(m.erro + std::string(e.what()));
        }
    }
}

std::string ReescrevaSecaoBalanceador(std::string_view conteudo, const std::vector<std::string>& novas) {
    ConfirmeSecaoBalanceador(novas);
    const char* fimLinha =
        conteudo.find("\r\n") != std::string_view::npos || conteudo.find('\n') == std::string_view::npos
            ? "\r\n"
            : "\n";
    std::vector<std::string> linhas;
    bool naSecao = false;
    const std::vector<std::string> atuais = Linhas(conteudo);
    for (size_t i = 0; i < atuais.size(); ++i) {
        std::string_view texto = atuais[i];
        if (i == 0 && texto.substr(0, 3) == "\xEF\xBB\xBF") texto.remove_prefix(3);
        if (const std::optional<std::string> secao = NomeDeSecao(texto))
            naSecao = rtl::SameText(*secao, kSecaoBalanceador);
        if (!naSecao) linhas.push_back(atuais[i]);
    }
    if (!linhas.empty() && !linhas.back().empty()) linhas.emplace_back();
    linhas.insert(linhas.end(), novas.begin(), novas.end());

    std::string saida;
    for (const std::string& l : linhas)
        saida.append(l).append(fimLinha);
    return saida;
}

void TkwUpdConexaoKw4::GravarBalanceadores(const std::string& texto) {
    const std::vector<std::string> novas = Linhas(texto);
    if (novas.size() <= 2) return;
    ConfirmeSecaoBalanceador(novas);  // before the file is read: a refused list touches nothing
    const std::string nome = kwUpdConfig().GetArquivoINI();
    const std::string arquivo = CaminhoLocal(nome);
    try {
        const std::string conteudo = rtl::ReadFileBytes(arquivo);  // unreadable: nothing written
        // In place when the launcher's folder refuses new files, as every write of the settings.
        rtl::ReplaceFileContent(arquivo, ReescrevaSecaoBalanceador(conteudo, novas));
    } catch (const rtl::EFOpenError& e) {
        throw rtl::EWriteError(MensagemErroGravacao(nome, e));
    } catch (const rtl::EReadError& e) {
        throw rtl::EWriteError(MensagemErroGravacao(nome, e));
    } catch (const rtl::EWriteError& e) {
        throw rtl::EWriteError(MensagemErroGravacao(nome, e));
    }
}

// ---- TkwUpdConexaoKWBalanceador ---------------------------------------------------------------

TkwUpdConexaoKWBalanceador::TkwUpdConexaoKWBalanceador() : TkwConexaoRemota(10) {}

TkwUpdConexaoKWBalanceador::~TkwUpdConexaoKWBalanceador() = default;

std::shared_ptr<TkwTrabalhoConexao> TkwUpdConexaoKWBalanceador::CrieTrabalho() {
    auto p = std::make_shared<TParametros>();
    p->ServidoresJaTentados = ServidoresJaTentados;
    p->TipoConexao = TipoConexao;
    p->CdSistemaTexto = CdSistemaTexto;
    return p;
}

void TkwUpdConexaoKWBalanceador::TomeResultado(TkwTrabalhoConexao& trabalho) {
    auto& p = static_cast<TParametros&>(trabalho);
    if (p.ParametrosServidor) ParametrosServidor = *p.ParametrosServidor;
}

void TkwUpdConexaoKWBalanceador::TParametros::GetServidorParametros(TkwContextoTentativa& contexto) {
    Variant pedido(MonteParametrosBalanceador(ServidoresJaTentados, TipoConexao, "", CdSistemaTexto));
    const Variant r = DispatchInvoke(contexto.Conexao().AppServer(), "GetServidorParametros",
                                     {DispArg::ByRefVariant(pedido)}, true);
    ParametrosServidor = Texto(r);
}

// launcher/ukwUpdRequisitosServidor.cpp: the remote road's passes and its transport choice.
#include "launcher/ukwUpdRequisitosServidor.h"

#include <memory>

#include "common/ukwFuncoesString.h"
#include "common/ukwUpdIni.h"
#include "common/ukwUpdLog.h"
#include "launcher/ukwUpdLoader.h"
#include "launcher/ukwUpdLoaderStatus.h"
#include "platform/Files.h"
#include "rtl/Text.h"
#include "transfer/ukwUpdConexaoKw4.h"
#include "transfer/ukwUpdConexaoKw4Ping.h"

namespace {

const char* const kSemConexao = "Não foi possível conectar no servidor de aplicação.\r\n";

bool Responde(const std::string& endereco, int32_t timeoutTesteRede) {
    TPing ping;
    return ping.Ping(endereco, timeoutTesteRede, 0);
}

}  // namespace

bool TkwUpdEstradaServidor::ExisteArquivoCertificado() {
    return plat::FileExists(ObtenhaArquivoCertificado());
}

bool TkwUpdEstradaServidor::DeveUsarHTTP(const std::string& enderecoIP, const std::string& enderecoURL,
                                         const std::string& guidBalanceador, const std::string& listaIP,
                                         const std::string& listaURL, bool podeBalancear,
                                         int32_t timeoutTesteRede) {
    const bool localhost = rtl::SameText(enderecoIP, "LOCALHOST");
    const bool balanceia = !guidBalanceador.empty() && podeBalancear;
    if (!((!enderecoIP.empty() && !localhost) || !enderecoURL.empty() ||
          (balanceia && (!listaIP.empty() || !listaURL.empty()))))
        throw rtl::Exception(std::string(kSemConexao) +
                             "O arquivo kwCfg.ini não contêm nenhuma informação necessária para a conexão.");
    if (!(balanceia && !listaIP.empty())) {
        if (enderecoIP.empty() || localhost) return true;
        // The balancer addresses are probed even when balancing is off.
        if (listaIP.empty()) return !Responde(enderecoIP, timeoutTesteRede);
    }
    // The first two balancer addresses; a field is an address, "host" or "host:port", and
    // only an "IP:" prefix (as the combined list writes it) is not part of it.
    std::vector<std::string> enderecos;
    for (int i = 1, n = ConteCampos(listaIP, ";"); i <= n && enderecos.size() < 2; ++i) {
        std::string campo = ObtenhaCampo(listaIP, ";", i);
        if (campo.empty()) continue;
        if (campo.rfind("IP:", 0) == 0) campo.erase(0, 3);
        enderecos.push_back(std::move(campo));
    }
    for (const std::string& e : enderecos)
        if (Responde(e, timeoutTesteRede)) return false;
    return true;
}

TkwUpdRequisitosObtidos TkwUpdEstradaServidor::PegueDadosRequisitosServidor(TkwUpdLoader& loader) {
    TkwUpdRequisitosObtidos dados;
    auto conexao = std::make_unique<TkwUpdConexaoKw4>();
    if (ConfigurarConexaoServidorKw4(loader, conexao.get())) {
        dados.Requisitos = conexao->Requisitos;
        dados.AtualizacaoVersionada = conexao->AtualizacaoVersionada;
    }
    return dados;
}

bool TkwUpdEstradaServidor::ConfigurarConexaoServidorKw4(TkwUpdLoader& loader, TkwUpdConexaoKw4* conexao) {
    TkwUpdLog& log = *loader.Log;
    log.Adicione("INICIO - ConfigurarConexaoServidorKw4...");
    if (conexao == nullptr) {
        log.AdicioneDetalhe("Objeto de conexão com servidor não foi criado...");
        return false;
    }
    log.AdicioneDetalhe("Pegando informações do kwCFG.ini...");
    TkwUpdIni& ini = kwUpdIni();
    const std::string nomeServidor = ini.NomeServidorKw4();
    const std::string guidServidor = ini.GuidServidorKw4();
    const std::string enderecoIP = ini.EnderecoIPKw4();
    const std::string enderecoURL = ini.EnderecoURLKw4();
    ini.TipoConexaoKw4();  // read and logged only: the transport is chosen by probing
    std::string guidBalanceador = ini.GUIDKWBalanceadorKW4();
    std::string listaIP = ini.EnderecoIPKWBalanceadorKW4();
    const std::string listaURL = ini.EnderecoURLKWBalanceadorKW4();
    const std::string enderecos = ini.EnderecosKWBalanceadorKW4();
    log.AdicioneDetalhe("Informações pegas do kwCFG.ini com sucesso");
    bool podeBalancear = ini.PodeBalancearKW4();

    const int32_t timeoutTesteRede = ini.TimeoutTesteRede();
    IkwTelaStatus* tela = TelaStatus ? TelaStatus : loader.Status;
    // What the launcher sets on the application-server connection before each Conectar.
    const auto configure = [&](bool http, const std::string& ip, const std::string& url,
                               const std::string& guid, const std::string& nome) {
        conexao->CdSistema = loader.CdSistema;
        conexao->CdSistemaGenerico = loader.CdSistemaGenerico;
        conexao->CdLocalUpdate = loader.CdLocalUpdate;
        conexao->Log = loader.Log;
        conexao->GUIDServidor = guid;
        conexao->NomeServidor = nome;
        conexao->SetTipoConexao(http ? "HTTP" : "SOCKET");
        conexao->EnderecoIP = http ? std::string() : ip;
        conexao->EnderecoURL = http ? url : std::string();
        conexao->TempoTesteRede = timeoutTesteRede;
        conexao->TimeoutSegundos = ini.TimeoutConexaoServidorAplicacao();
        conexao->TelaStatus = tela;
        conexao->PodeBalancear = podeBalancear;
        conexao->Conectar();
        conexao->Desconectar();
    };

    std::string tentados;
    bool encontrado = false;
    bool feito = false;
    while (!feito) {
        bool http = DeveUsarHTTP(enderecoIP, enderecoURL, guidBalanceador, listaIP, listaURL, podeBalancear,
                                 timeoutTesteRede);
        std::string parametros;
        if (!guidBalanceador.empty() && podeBalancear) {
            TkwUpdConexaoKWBalanceador balanceador;
            bool perguntou = false;
            for (int i = 1, n = ConteCampos(enderecos, ";"); i <= n; ++i) {
                const std::string campo = ObtenhaCampo(enderecos, ";", i);
                const bool candidato = (campo.find("IP:") != std::string::npos && !http) ||
                                       (campo.find("URL:") != std::string::npos && http);
                if (candidato) {
                    const std::string endereco = campo.substr(campo.find(':') + 1);
                    balanceador.GUIDBalanceador = guidBalanceador;
                    balanceador.SetTipoConexao(http ? "HTTP" : "SOCKET");
                    balanceador.EnderecoURL = http ? endereco : std::string();
                    balanceador.EnderecoIP = http ? std::string() : endereco;
                    balanceador.TempoTesteRede = timeoutTesteRede;
                    balanceador.TimeoutSegundos = ini.TimeoutConexaoBalanceador();
                    balanceador.ServidoresJaTentados = tentados;
                    balanceador.TelaStatus = tela;
                    balanceador.CdSistemaTexto = ini.CdSistema();
                    balanceador.Conectar();
                    balanceador.Desconectar();
                    perguntou = true;
                }
                if (balanceador.GetServidorEncontrado() && !balanceador.GetTimeOut() &&
                    balanceador.MensagemErro.empty() && !balanceador.ParametrosServidor.empty())
                    break;
            }
            // A pass that asked nobody (no address of this transport) named nobody either: it
            // falls back to [Servidor] like every other pass without a named server.
            if (perguntou && balanceador.GetServidorEncontrado() && !balanceador.GetTimeOut() &&
                balanceador.MensagemErro.empty()) {
                parametros = balanceador.ParametrosServidor;
                http = balanceador.TipoConexao == "HTTP";
                if (parametros.empty())
                    throw TkwUpdException(
                        "Erro ao acessar o servidor de aplicação. O balanceador retornou que nenhum servidor "
                        "de "
                        "aplicação está disponível.",
                        log);
                if (!tentados.empty()) tentados += ";";
                tentados += ObtenhaCampo(parametros, ";", 2) + "|" + ObtenhaCampo(parametros, ";", 4);
            }
            if (!parametros.empty()) {
                configure(http, ObtenhaCampo(parametros, ";", 4), ObtenhaCampo(parametros, ";", 5),
                          ObtenhaCampo(parametros, ";", 3), ObtenhaCampo(parametros, ";", 1));
                if (!conexao->Requisitos.empty()) {
                    encontrado = true;
                    feito = true;
                } else {
                    // A named server without requisites: [Servidor] in this same pass.
                    guidBalanceador.clear();
                }
            }
        }
        if (!feito && (guidBalanceador.empty() || !podeBalancear)) {
            feito = true;
            if (http) {
                if (enderecoURL.empty())
                    throw rtl::Exception(std::string(kSemConexao) +
                                         "A chave EnderecoURL do arquivo kwCfg.ini está vazia.");
                if (rtl::ContainsText(enderecoURL, "HTTPSRVR.DLL") && !ExisteArquivoCertificado())
                    throw rtl::Exception(std::string(kSemConexao) +
                                         "O arquivo de certificado não está disponível.");
            } else if (enderecoIP.empty()) {
                throw rtl::Exception(std::string(kSemConexao) +
                                     "A chave EnderecoIP do arquivo kwCfg.ini está vazia.");
            }
            configure(http, enderecoIP, enderecoURL, guidServidor, nomeServidor);
            if (!conexao->GetServidorEncontrado())
                throw TkwUpdException(
                    "\r\nO computador do servidor de aplicação não foi encontrado na rede. Os motivos "
                    "possíveis "
                    "são:\r\n\r\n  1) O seu computador está desconectado da rede. \r\n  2) O computador do "
                    "servidor "
                    "de aplicação está desligado ou desconectado da rede.\r\n  3) A rede está com "
                    "problemas.\r\n\r\n"
                    "Por favor, contate o seu suporte de rede.",
                    log);
            if (conexao->GetTimeOut())
                throw TkwUpdException("Erro ao acessar o servidor de aplicação. Causa: TimeOut. Tempo: " +
                                          rtl::IntToStr(ini.TimeoutConexaoServidorAplicacao()) + " segundos.",
                                      log);
            if (!conexao->MensagemErro.empty())
                throw TkwUpdException("Erro ao acessar o servidor de aplicação. Mensagem de erro: \"" +
                                          conexao->MensagemErro + "\".",
                                      log);
            encontrado = true;
        }
        if (!encontrado) {
            guidBalanceador.clear();
            listaIP.clear();
            podeBalancear = false;
        }
    }
    log.Adicione("FIM - ConfigurarConexaoServidorKw4");
    return encontrado;
}

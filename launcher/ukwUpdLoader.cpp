// launcher/ukwUpdLoader.cpp: the launcher run step by step, its settings, and the three
// programs it starts.
#include "launcher/ukwUpdLoader.h"

#include <cstdio>
#include <filesystem>
#include <utility>

#include "common/ukwFuncoesFile.h"
#include "common/ukwFuncoesString.h"
#include "common/ukwUpdConfig.h"
#include "common/ukwUpdConstante.h"
#include "common/ukwUpdIni.h"
#include "common/ukwUpdUtil.h"
#include "common/ukwUpdVersao.h"
#include "launcher/ukwUpdEsperaChamador.h"
#include "launcher/ukwUpdLoaderStatus.h"
#include "launcher/ukwUpdVerificacao.h"
#include "platform/Files.h"
#include "platform/InstanceMarker.h"
#include "platform/ui/UserInterface.h"
#include "rtl/Format.h"
#include "rtl/Stream.h"
#include "rtl/Text.h"
#include "transfer/ukwFuncoesAPI.h"
#include "transfer/ukwTelaStatus.h"

namespace {

const char* const kClasseJanelaLoader = "TfkwUpdLoaderStatus";
const char* const kClasseJanelaExecutor = "TfkwUpdExecStatus";

std::string EntreAspas(const std::string& texto) {
    return "\"" + texto + "\"";
}

// The arguments as a Windows program would receive them on one line: each as a blank and
// the argument in double quotes. Only for the log: the programs get the vector itself.
std::string ListaEntreAspas(const std::vector<std::string>& argumentos) {
    std::string texto;
    for (const auto& a : argumentos)
        texto += " " + EntreAspas(a);
    return texto;
}

}  // namespace

// ---- Construction and destruction -----------------------------------------------------------

kwloader_detail::LogsDoLoader::LogsDoLoader() {
    // The version number of every later decision is read from this path.
    SetLauncherExeName(ObtenhaCaminhoExecutavel());
    secundario = std::make_unique<TkwUpdLog>();
    principal = std::make_unique<TkwUpdLog>();
}

kwloader_detail::LogsDoLoader::~LogsDoLoader() {
    std::string arquivo;
    try {
        arquivo = kwUpdConfig().GetArquivoLog();
        principal->SalveEmArquivo(arquivo, true);
    } catch (const std::exception& e) {
        // The program is ending and no one is left to raise to: the cause goes to standard
        // error always (a run nobody watches still leaves it behind) and to a box on a display,
        // and the program's exit status says so (OnLogNaoGravado).
        const std::string texto = TextoVisivel(MensagemErroGravacao(arquivo, e));
        if (plat::ui::CurrentBackend() != plat::ui::BackendKind::Headless)
            std::fprintf(stderr, "Erro: %s\n", texto.c_str());
        plat::ui::ShowMessageBox(texto, "Erro", plat::ui::MessageKind::Error);
        if (OnLogNaoGravado) OnLogNaoGravado();
    }
}

TkwUpdLoader::TkwUpdLoader()
    : TkwUpdClasseBasica("TkwUpdLoader", principal.get(), secundario.get(), -1),
      estradaServidor_(CrieEstradaServidor()),
      estradaBanco_(CrieEstradaBanco()) {
    DBUser.clear();
    DBPassword.clear();
    CdSistemaGenerico = -1;
    kwUpdIni().SetLog(Log);
    PodeAtualizar = true;
    Log->AdicioneDetalhe("Diretório de trabalho: " + kwUpdConfig().GetDiretorioTrabalho());
    VersaoLoader = ObtenhaVersaoArquivo(ObtenhaCaminhoExecutavel());
    Log->AdicioneDetalhe("Versao do KwLoader: " + VersaoLoader);
    Log->Adicione("FIM - Create");
}

TkwUpdLoader::~TkwUpdLoader() {
    Log->Adicione("INICIO - Destroy...");
    Log->Adicione("FIM - Destroy...");
    // The settings reader outlives the launcher: it must not keep writing to a freed log.
    if (kwUpdIni().Log() == Log) kwUpdIni().SetLog(nullptr);
}

void TkwUpdLoader::DefinaEstradaServidor(std::unique_ptr<TkwUpdEstradaRequisitos> estrada) {
    estradaServidor_ = std::move(estrada);
}

void TkwUpdLoader::DefinaEstradaBanco(std::unique_ptr<TkwUpdEstradaRequisitos> estrada) {
    estradaBanco_ = std::move(estrada);
}

// ---- The run ----------------------------------------------------------------------------------

void TkwUpdLoader::Execute(bool checaCRC) {
    falhou_ = false;
    Log->Adicione("INICIO - Execute...");
    Log->Adicione("Verificando se o kwLoader já esta executando (TfkwUpdLoaderStatus)...");
    // Taking the marker is the check: two launchers started together cannot both pass it.
    auto marcador = std::make_unique<plat::InstanceMarker>(kClasseJanelaLoader);
    if (!marcador->TryAcquire()) {
        Log->AdicioneDetalhe("O kwLoader já está executando. O sistema não será carregado.");
        Log->Adicione("FIM - Execute");
        return;
    }
    Log->AdicioneDetalhe("O kwLoader não está executando. Executando o carregamento do sistema...");

    {
        auto qorIni = std::make_unique<TkwQorIni>();
        auto status = std::make_unique<TfkwUpdLoaderStatus>(std::move(marcador));
        // Frees the window and the reader once, whichever way this block is left (an
        // exception from the offline start included).
        struct Liberacao {
            TkwUpdLoader& loader;
            std::unique_ptr<TfkwUpdLoaderStatus>& status;
            std::unique_ptr<TkwQorIni>& qorIni;
            ~Liberacao() {
                DefinaTelaStatusPrograma(nullptr);
                loader.Status = nullptr;
                loader.qorIni_ = nullptr;
                status.reset();
                qorIni.reset();
            }
        } liberacao{*this, status, qorIni};
        Status = status.get();
        // The file transfers' waits keep this window alive.
        DefinaTelaStatusPrograma(Status);
        qorIni_ = qorIni.get();

        Status->DefinaTarefa("Carregando o sistema");
        Status->DefinaVersao("Versão do loader: " + VersaoLoader);
        Status->Show();
        Status->ProcesseMensagens();

        try {
            ExecuteEtapas(checaCRC);
        } catch (const EkwLocalUpdateIndisponivel& e) {
            TrateFalha(e.Message(), true, true);
        } catch (const TkwUpdException& e) {
            TrateFalha(e.Message(), true, false);
        } catch (const rtl::Exception& e) {
            TrateFalha(e.Message(), false, false);
        } catch (const std::exception& e) {
            // Failures of the standard library (a file system error, memory) are failures of
            // the run like any other: shown, not left to end the program.
            TrateFalha(e.what(), false, false);
        }
    }
    Log->Adicione("FIM - Execute");
}

void TkwUpdLoader::ExecuteEtapas(bool checaCRC) {
    Status->DefinaTarefa("Lendo a configuração da estação");
    AdicioneConfiguracaoEstacaoNoLog();

    Status->DefinaTarefa("Carregando as configurações do kwCFG.ini");
    CarregueConfiguracoesDoINI();

    Status->DefinaTarefa("Verificando as configurações do sistema");
    Log->AdicioneDetalhe("Verificando se pode atualizar a estação...");
    if (!PodeAtualizar) {
        Log->AdicioneDetalhe("Não pode atualizar a estação");
        Status->DefinaTarefa("Executando o sistema");
        ExecuteAplicacao();
        return;
    }

    Log->AdicioneDetalhe("Pode atualizar a estação");
    Log->AdicioneDetalhe("Verificando as configurações do Loader...");
    if (CdSistema < 0)
        throw TkwUpdException(
            "O código do sistema está vazio. Verifique se ele foi configurado no arquivo kwCfg.ini", *Log);
    Log->AdicioneDetalhe("Sistema=" + rtl::IntToStr(CdSistema));
    Log->AdicioneDetalhe("Sistema genérico=" + rtl::IntToStr(CdSistemaGenerico));
    Log->AdicioneDetalhe("Local update=" + rtl::IntToStr(CdLocalUpdate));
    Log->AdicioneDetalhe("Configurações do Loader OK");
    Log->AdicioneDetalhe("Verificando o tipo de conexão (Local ou Remota)...");

    TkwUpdRequisitosObtidos dados;
    if (kwUpdIni().TipoServidor()) {
        Log->AdicioneDetalhe("Conexão remota. Pegado os dados de requisitos do S.A. KW4...");
        Status->DefinaTarefa("Buscando os requisitos do servidor de aplicação");
        dados = estradaServidor_->ObtenhaRequisitos(*this);
        Log->AdicioneDetalhe("Dados obtidos com sucesso.");
    } else {
        Log->AdicioneDetalhe("Conexão local. Pegando os dados de requisitos do banco de dados...");
        Status->DefinaTarefa("Buscando os requisitos do banco de dados");
        dados = estradaBanco_->ObtenhaRequisitos(*this);
        Log->AdicioneDetalhe("Dados pegos com sucesso.");
    }
    Log->AdicioneDetalhe("Verificando a consistência dos requisitos...");
    if (dados.Requisitos.empty())
        throw TkwUpdException(
            "Os dados necessários para verificar se o sistema está atualizado estão vazios. Causa: "
            "Desconhecida. "
            "Sistema: " +
                EntreAspas(rtl::IntToStr(CdSistema)) + ".",
            *Log);
    Log->AdicioneDetalhe("Requisitos OK");

    const std::string aplicacao = ObtenhaCaminhoAplicacao();
    Log->Adicione("Aguardando o encerramento da aplicação " + EntreAspas(aplicacao) + "...");
    {
        TkwUpdEsperaChamador espera(aplicacao);
        espera.Reticencias = false;
        espera.OnAguardando = [this](const std::string& texto) { Status->DefinaTarefa(texto); };
        espera.Aguarde();
    }
    Log->Adicione("Aplicação encerrada");

    Status->DefinaTarefa("Verificando se o sistema está atualizado");
    Log->AdicioneDetalhe("Criando oUpdVerificacao...");
    auto verificacao = std::make_unique<TkwUpdVerificacao>(Log, LogSecundario, CdSistema, &kwUpdIni());
    Log->AdicioneDetalhe("oUpdVerificacao criado com sucesso...");
    Log->AdicioneDetalhe("Verificando a necessidade de atualização...");
    if (checaCRC) Log->AdicioneDetalhe("(Verificação com checagem de integridade via CRC)");
    const bool atualizar =
        verificacao->VerifiqueNecessidadeAtualizacao(dados.Requisitos, checaCRC, dados.AtualizacaoVersionada);

    std::string parametros;
    for (const auto& a : Argumentos)
        parametros += a + " ";
    if (atualizar) {
        Log->AdicioneDetalhe("O Sistema deve ser atualizado. Atualizando o sistema...");
        Status->DefinaTarefa("Executando a atualização do sistema");
        Status->DefinaTarefa("Parâmetros recebidos pelo kwLoader: " + parametros);
        ExecuteAtualizacao(dados.AtualizacaoVersionada);
    } else {
        Log->AdicioneDetalhe("O sistema já está atualizado.");
        Status->DefinaTarefa("Executando o sistema");
        Status->DefinaTarefa("Parâmetros recebidos pelo kwLoader: " + parametros);
        ExecuteAplicacao();
    }
}

void TkwUpdLoader::TrateFalha(const std::string& mensagem, bool jaRegistrada, bool semLocalUpdate) {
    falhou_ = true;
    const std::string texto = "Houve um erro durante o carregamento do sistema. " + mensagem;
    // A TkwUpdException wrote its own line when it was created.
    if (!jaRegistrada) Log->AdicioneErro(texto);
    Status->MostreErro(Log->GetTexto());
    if (semLocalUpdate) {
        Status->DefinaTarefa(mensagem);
    } else if (qorIni_->UsaGravacaoOffline()) {
        // A failure here leaves the run: the window and the reader are still freed by the
        // caller, and the program reports it as an exception nobody handled.
        ExecuteNoNet();
    } else {
        Status->DefinaTarefa(
            "Erro ao carregar o sistema.\rFavor entrar em contato com o administrador do sistema.");
    }
    plat::ui::ShowMessageBox(TextoVisivel(texto), "Erro", plat::ui::MessageKind::Error);
    Status->Hide();
    Status->ShowModal();
}

// ---- Settings and identity --------------------------------------------------------------------

void TkwUpdLoader::VerifiqueArquivoINI(const std::string& arquivo) {
    // The settings reader takes a file it cannot read for an empty one, which would end the run
    // on "CdSistema é inválido" with an empty value: what stands at the path is said instead.
    const std::string local = CaminhoLocal(arquivo);
    if (plat::FolderExists(local))
        throw TkwUpdException("O arquivo " + EntreAspas(arquivo) + " é uma pasta, não um arquivo.", *Log);
    if (!plat::FileExists(local))
        throw TkwUpdException("O arquivo " + EntreAspas(arquivo) + " não existe.", *Log);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(local, ec))
        throw TkwUpdException("O arquivo " + EntreAspas(arquivo) + " não é um arquivo comum.", *Log);
    try {
        rtl::FileStream leitura(local, rtl::FileMode::OpenRead);
    } catch (const rtl::EFOpenError& e) {
        const rtl::FileFailure* f = rtl::FileFailureIn(e);
        throw TkwUpdException("O arquivo " + EntreAspas(arquivo) + " não pode ser lido. Mensagem de erro: " +
                                  (f != nullptr ? DescrevaErroSistema(f->Code()) : e.Message()),
                              *Log);
    }
}

void TkwUpdLoader::CarregueConfiguracoesDoINI() {
    Log->Adicione("INICIO - CarregueConfiguracoesDoINI...");
    auto& ini = kwUpdIni();
    const std::string arquivo = kwUpdConfig().GetArquivoINI();
    VerifiqueArquivoINI(arquivo);

    Log->AdicioneDetalhe("Carregando local update do kwCFG.ini...");
    const std::string localUpdate = ini.LocalUpdate();
    if (!rtl::Trim(localUpdate).empty()) {
        int32_t codigo = 0;
        if (!rtl::TryStrToInt(localUpdate, codigo))
            throw TkwUpdException(
                "Local de update é inválido. Esperado um número inteiro. Valor informado: " +
                    EntreAspas(localUpdate) + ".",
                *Log);
        CdLocalUpdate = codigo;
        Log->AdicioneDetalhe("Novo local update: " + localUpdate);
    } else {
        Log->AdicioneDetalhe("Nenhum local update setado no kwCFG.ini. Usando local update default.");
    }

    Log->AdicioneDetalhe("Carregando CdSistema do kwCFG.ini...");
    const std::string cdSistema = ini.CdSistema();
    int32_t sistema = 0;
    if (!rtl::TryStrToInt(cdSistema, sistema))
        throw TkwUpdException("CdSistema é inválido. Esperado um número inteiro. Valor informado: " +
                                  EntreAspas(cdSistema) + ".",
                              *Log);
    CdSistema = sistema;

    PodeAtualizar = ini.PodeAtualizar();

    Log->AdicioneDetalhe("Carregando MaximoTentativasDownload do kwCFG.ini...");
    Log->AdicioneDetalhe("MaximoTentativasDownload: " + rtl::IntToStr(ini.MaximoTentativasDownload()));
    Log->AdicioneDetalhe("Carregando TempoEsperaSegundosNovaTentativaDownload do kwCFG.ini...");
    Log->AdicioneDetalhe("TempoEsperaSegundosNovaTentativaDownload: " +
                         rtl::IntToStr(ini.TempoEsperaSegundosNovaTentativaDownload()) + " segundos");
    Log->AdicioneDetalhe("Carregando EnderecoProxy do kwCFG.ini...");
    Log->AdicioneDetalhe("EnderecoProxy: " + ini.EnderecoProxy());
    Log->AdicioneDetalhe("Carregando PortaProxy do kwCFG.ini...");
    Log->AdicioneDetalhe("PortaProxy: " + rtl::IntToStr(ini.PortaProxy()));
    Log->Adicione("FIM - CarregueConfiguracoesDoINI");
}

void TkwUpdLoader::AdicioneConfiguracaoEstacaoNoLog() {
    Log->Adicione("INICIO - AdicioneConfiguracaoEstacaoNoLog...");
    Log->AdicioneDetalhe("Verificando identificação da máquina local... ");
    Log->AdicioneDetalhe(" - IP : " + PegueIPLocal());
    Log->AdicioneDetalhe(" - Nome do computador : " + PegueNomeComputador());
    Log->AdicioneDetalhe("Verificando nome do usuário");
    Log->AdicioneDetalhe(" - Usuário logado : " + PegueUsuarioLogado());
    Log->AdicioneDetalhe("Verificando configurações regionais");
    // The formats every date and time of the launcher is written in, with this
    // workstation's separators.
    const char d = rtl::FormatSettings.DateSeparator;
    const char t = rtl::FormatSettings.TimeSeparator;
    Log->AdicioneDetalhe(std::string(" - Configuracao de data : dd") + d + "mm" + d + "yyyy");
    Log->AdicioneDetalhe(std::string(" - Configuracao de hora : hh") + t + "nn" + t + "ss");
    Log->Adicione("FIM - AdicioneConfiguracaoEstacaoNoLog");
}

// ---- Programs started ---------------------------------------------------------------------------

std::string TkwUpdLoader::ObtenhaCaminhoAplicacao() const {
    return ObtenhaDiretorioExecutavel() + ObtenhaNomeBaseExecutavel() + "APP.exe";
}

std::vector<std::string> TkwUpdLoader::ArgumentosRepassados() const {
    std::vector<std::string> lista = Argumentos;
    if (!lista.empty() && rtl::UpperCase(lista.front()) == "/CHECK") lista.erase(lista.begin());
    return lista;
}

void TkwUpdLoader::ExecuteAtualizacao(bool versionada) {
    Log->Adicione("INICIO - ExecuteAtualizacao...");
    Log->AdicioneDetalhe("Verificando se já não existe uma atualização em andamento...");
    if (plat::IsInstanceMarkerHeld(kClasseJanelaExecutor))
        throw TkwUpdException(
            "Não foi possível executar a atualização pois o sistema detectou que já existe uma atualização "
            "em "
            "andamento.",
            *Log);
    Log->AdicioneDetalhe("Nenhuma atualização em andamento");

    const std::string programa = kwUpdConfig().GetCaminhoExecutor();
    std::vector<std::string> argumentos{ObtenhaCaminhoAplicacao()};
    if (versionada) argumentos.push_back("-v");
    for (auto& a : ArgumentosRepassados())
        argumentos.push_back(std::move(a));
    std::string parametros = EntreAspas(argumentos.front()) + ListaEntreAspas(std::vector<std::string>(
                                                                  argumentos.begin() + 1, argumentos.end()));
    Log->AdicioneDetalhe("Executando : " + EntreAspas(programa) + " - Params : " + EntreAspas(parametros));
    if (!ExecuteComShell(programa, argumentos))
        throw TkwUpdException(
            "Não foi possível executar a atualização pois ocorreu um erro ao executar o kwExec. Causa: " +
                EntreAspas(UltimoErro) + ".",
            *Log);
    Log->AdicioneDetalhe("Execução OK");
    Log->Adicione("FIM - ExecuteAtualizacao");
}

void TkwUpdLoader::ExecuteAplicacao() {
    const std::string aplicacao = ObtenhaCaminhoAplicacao();
    Log->AdicioneDetalhe("Executando o sistema de: " + EntreAspas(aplicacao));
    std::vector<std::string> argumentos{"kwUpdate"};
    for (auto& a : ArgumentosRepassados())
        argumentos.push_back(std::move(a));
    if (!ExecuteComShell(aplicacao, argumentos))
        throw TkwUpdException("Não foi possível executar o sistema. Causa: " + EntreAspas(UltimoErro) + ".",
                              *Log);
    Log->AdicioneDetalhe("Execução OK");
}

void TkwUpdLoader::ExecuteNoNet() {
    const std::string programa = ObtenhaDiretorioExecutavel() + "QORNX5NONETapp.exe";
    if (!ExecuteComShell(programa, std::vector<std::string>{"kwUpdate"}))
        throw TkwUpdException("Não foi possível executar o noNet. Causa: " + EntreAspas(UltimoErro) + ".",
                              *Log);
    Log->AdicioneDetalhe("Executou noNet");
    // The modal message box and window that follow on the error path close at once.
    plat::ui::Terminate();
}

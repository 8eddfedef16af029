// launcher/ukwUpdVerificacao.cpp: the verification engine and the executor's self-update.
//
// The log lines are the system's own texts, in the order the launcher has always written
// them: support reads these logs to tell why a workstation was or was not updated.
#include "launcher/ukwUpdVerificacao.h"

#include <charconv>
#include <exception>
#include <functional>
#include <mutex>

#include "common/ukwFuncoesString.h"
#include "common/ukwUpdConfig.h"
#include "common/ukwUpdConstante.h"
#include "common/ukwUpdCriptografia.h"
#include "common/ukwUpdIni.h"
#include "common/ukwUpdTranslator.h"
#include "common/ukwUpdUtil.h"
#include "common/ukwUpdVersao.h"
#include "platform/Files.h"
#include "rtl/Exception.h"
#include "rtl/StringList.h"
#include "rtl/Text.h"
#include "transfer/ukwFuncoesAPI.h"
#include "transfer/ukwUpdFileUtil.h"

namespace {

const char* const kIndisponivel =
    "O servidor de atualização não está disponível. \r\n"
    "Por favor espere alguns minutos e tente novamente mais tarde.";

// Why a site was not tried.
const char* const kSite1N =
    "Não foi possível tentar a atualização no local update principal, pois está configurado para "
    "fldisponivel1 = N";
const char* const kSite2N =
    "Não foi possível tentar a atualização no segundo local update, pois está configurado para "
    "fldisponivel2 = N";
const char* const kSite3N =
    "Não foi possível tentar a atualização no terceiro local update, pois está configurado para "
    "fldisponivel3 = N";
const char* const kSite1SemEndereco =
    "Não foi possível tentar a atualização no local update principal, pois ele não está configurado";
const char* const kSite2SemEndereco =
    "Não foi possível tentar a atualização no segundo local update, pois ele não está configurado";
const char* const kSite3SemEndereco =
    "Não foi possível tentar a atualização no terceiro local update, pois ele não está configurado";

std::string Aspas(const std::string& s) {
    return "\"" + s + "\"";
}

// A detail line (" - " and the parts), built in one piece: the verification writes some twenty
// of them per requisite.
template <typename... Partes>
void Detalhe(TkwUpdLog& log, const Partes&... partes) {
    log.AdicionePartes({std::string_view(" - "), std::string_view(partes)...});
}

// A number in decimal, as rtl::IntToStr writes it, held without an allocation.
class Numero {
public:
    explicit Numero(int64_t valor)
        : tamanho_(size_t(std::to_chars(texto_, texto_ + sizeof texto_, valor).ptr - texto_)) {}
    operator std::string_view() const { return {texto_, tamanho_}; }

private:
    char texto_[24];
    size_t tamanho_;
};

bool SomenteASCII(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Appends the text in upper case (rtl::UpperCase) to `saida`, without a new string for ASCII
// text: names are upper-cased for every requisite and history record.
void AcrescenteMaiusculas(std::string_view texto, std::string& saida) {
    if (!SomenteASCII(texto)) {
        saida += rtl::UpperCase(texto);
        return;
    }
    for (char c : texto)
        saida += (c >= 'a' && c <= 'z') ? char(c - 32) : c;
}

bool ExisteArquivo(const std::string& caminho) {
    return plat::FileExists(CaminhoLocal(caminho));
}

// The text of the history key of (system, object, operation) into `chave`: the system as
// written, the object in upper case (names match without regard to case) and the operation in
// decimal; where the object stands in it into inicioObjeto and fimObjeto.
void MonteChaveHistorico(std::string_view sistema, std::string_view objeto, int32_t operacao,
                         std::string& chave, size_t& inicioObjeto, size_t& fimObjeto) {
    chave.assign(sistema);
    chave += '\x1f';
    inicioObjeto = chave.size();
    AcrescenteMaiusculas(objeto, chave);
    fimObjeto = chave.size();
    chave += '\x1f';
    chave += std::string_view(Numero(operacao));
}

uint32_t HashChave(std::string_view chave) {
    return uint32_t(std::hash<std::string_view>{}(chave));
}

// The name a new executor is copied to before it is checked: hidden, beside the destination.
std::string NomeTemporario(const std::string& destino) {
    const size_t barra = destino.find_last_of("\\/");
    if (barra == std::string::npos) return "." + destino + ".novo";
    return destino.substr(0, barra + 1) + "." + destino.substr(barra + 1) + ".novo";
}

// Deletes a file whatever its read-only flag; false when it is still there.
bool Remova(const std::string& caminho) {
    const std::string local = CaminhoLocal(caminho);
    if (!plat::FileExists(local)) return true;
    plat::TrySetReadOnly(local, false);
    return plat::TryDeleteFile(local);
}

// A copy whose checksum is wrong ends the run at once, whichever site served it: the sites
// hold the same file, so another site is no cure for a wrong requisite or a damaged release.
RTL_EXCEPTION(EArquivoNaoIntegro, rtl::Exception);

// Switches the proxy back on however the self-update ends.
struct ProxyLigadoAoSair {
    ~ProxyLigadoAoSair() { UsaProxy = true; }
};

}  // namespace

// ---- Construction -----------------------------------------------------------------------------

TkwUpdVerificacao::TkwUpdVerificacao(TkwUpdLog* log, TkwUpdLog* logSecundario, int32_t cdSistema,
                                     TkwUpdIni* configuracao)
    : TkwUpdClasseBasica("TkwUpdVerificacao", log, logSecundario, cdSistema), configuracao_(configuracao) {
    Detalhe(L(), "Criando definição do arquivo de requisitos...");
    requisitos_ = std::make_unique<TkwUpdDadosRequisitos>();
    Detalhe(L(), "Arquivos de requisitos definido com sucesso");
    Detalhe(L(), "Criando definição do arquivo de alterações...");
    alteracoes_ = std::make_unique<TkwUpdDadosAlteracoes>();
    Detalhe(L(), "Arquivos de alterações definido com sucesso");
    Detalhe(L(), "Criando definição do arquivo de histórico...");
    historico_ = std::make_unique<TkwUpdDadosHistorico>();
    historico_->OnNomeComputador = [this] { return NomeComputador(); };
    historico_->OnDadosArquivo = [](const std::string& caminho, std::string& tamanho, std::string& dataHora) {
        PegueDadosArquivo(caminho, tamanho, dataHora);
    };
    {
        TkwUpdDadosHistorico& h = *historico_;
        camposHistorico_.sistema = h.IndiceCampo("cdSistema");
        camposHistorico_.computador = h.IndiceCampo("nmComputador");
        camposHistorico_.objeto = h.IndiceCampo("nmObjeto");
        camposHistorico_.controle = h.IndiceCampo("nuControle");
        camposHistorico_.operacao = h.IndiceCampo("cdTipoOperacao");
        camposHistorico_.tamanho = h.IndiceCampo("tmArquivo");
        camposHistorico_.dataHora = h.IndiceCampo("dtHrArquivo");
        camposLinha_.resize(h.NomesCampos().size());
        camposRegistro_.resize(h.NomesCampos().size());
    }
    nomeExecutor_ = kwUpdConfig().GetNomeExecutor();
    Detalhe(L(), "Arquivos de histórico definido com sucesso");
    Detalhe(L(), "Lendo histórico de atualizações (HST)...");
    historico_->LoadFromFile(kwUpdConfig().GetArquivoHistorico());
    Detalhe(L(), rtl::IntToStr(historico_->RecordCount()) + " registro(s) lido(s)");
    Detalhe(L(), "Histórico de atualizações lido com sucesso");
    L().Adicione("FIM - Create");
}

TkwUpdVerificacao::~TkwUpdVerificacao() {
    TkwUpdLog& log = L();
    log.Adicione("INICIO - Destroy...");
    Detalhe(log, "Destruindo componentes de dados...");
    requisitos_.reset();
    alteracoes_.reset();
    historico_.reset();
    Detalhe(log, "Componentes destruídos com sucesso");
    // The base's mark comes before this class's end line.
    RegistreDestruicao();
    log.Adicione("FIM - Destroy...");
}

TkwUpdLog& TkwUpdVerificacao::L() {
    if (Log != nullptr) return *Log;
    if (!logReserva_) logReserva_ = std::make_unique<TkwUpdLog>();
    return *logReserva_;
}

const TDadosArquivo& TkwUpdVerificacao::Destino(TRequisito& r) {
    if (!r.examinado) {
        std::lock_guard<std::recursive_mutex> trava(SecaoCriticaArquivos);
        if (!examinador_) examinador_.emplace();
        examinador_->Examine(r.destino, r.arquivo);
        r.examinado = true;
    }
    return r.arquivo;
}

const std::string& TkwUpdVerificacao::NomeComputador() {
    // Looked up once per run: the name does not change while the launcher runs, and a name
    // lookup per requisite would cost more than the whole comparison.
    if (!temNomeComputador_) {
        nomeComputador_ = PegueNomeComputador();
        nomeComputadorMaiusculo_ = rtl::UpperCase(nomeComputador_);
        temNomeComputador_ = true;
    }
    return nomeComputador_;
}

const std::string& TkwUpdVerificacao::NomeComputadorMaiusculo() {
    NomeComputador();
    return nomeComputadorMaiusculo_;
}

// ---- The run ------------------------------------------------------------------------------------

bool TkwUpdVerificacao::VerifiqueNecessidadeAtualizacao(const std::string& requisitos, bool checaCRC,
                                                        bool versionada) {
    L().Adicione("INICIO - VerifiqueNecessidadeAtualizacao");
    // The folders it opened are closed however the verification ends.
    struct FecheExaminador {
        std::optional<TExaminadorArquivos>& examinador;
        ~FecheExaminador() { examinador.reset(); }
    } fecheExaminador{examinador_};
    examinador_.emplace();
    Detalhe(L(), "Atribuindo os dados dos requisitos...");
    requisitos_->SetTexto(requisitos);
    camposRequisito_ = TCamposRequisito();
    pastasDestino_.clear();
    Detalhe(L(), "Dados atribuídos com sucesso.");
    Detalhe(L(), "INICIO - CompareArquivos...");
    versao_ = ObtenhaNumeroVersao();
    // Before 3300 the requisites carry neither site flags nor the versioned-update mark.
    if (versao_ < 3300)
        CompareArquivos(checaCRC, false, false);
    else
        CompareArquivos(checaCRC, versionada, true);
    Detalhe(L(), "FIM - CompareArquivos");
    Detalhe(L(), "Verificando a necessidade de atualização...");
    bool resultado = false;
    if (alteracoes_->IsEmpty()) {
        // A change list left by an earlier run stays as it was: the executor is not started.
        Detalhe(L(), "Não é necessário executar a atualização");
    } else {
        Detalhe(L(), "Detectada a necessidade de atualização.");
        Detalhe(L(), "Salvando as alterações a serem executadas pelo atualizador...");
        const std::string arquivoAlteracoes = kwUpdConfig().GetArquivoAlteracoes();
        alteracoes_->SaveToFile(arquivoAlteracoes);
        Detalhe(L(), "Dados salvos em : " + arquivoAlteracoes);
        Detalhe(L(), "Salvando requisitos para kwExec...");
        requisitos_->SaveToFile(kwUpdConfig().GetArquivoRequisitos());
        Detalhe(L(), "Requisitos salvos com sucesso.");
        resultado = true;
    }
    L().Adicione("FIM - VerifiqueNecessidadeAtualizacao");
    return resultado;
}

void TkwUpdVerificacao::LeiaRequisito(TRequisito& r, int i, bool atual) {
    TkwUpdDadosRequisitos& q = *requisitos_;
    // The layout is fixed for the whole text: its positions are looked up at the first
    // record. A field the layout lacks fails there, with the data set's own message.
    TCamposRequisito& c = camposRequisito_;
    if (!c.resolvidos) {
        c.sistema = q.IndiceCampo("cdSistema");
        c.sequencia = q.IndiceCampo("nuSeqObjeto");
        c.objeto = q.IndiceCampo("nmObjeto");
        c.destino = q.IndiceCampo("nmLocalDestino");
        c.origem = q.IndiceCampo("nmLocalOrigem");
        c.controle = q.IndiceCampo("nuControle");
        c.operacao = q.IndiceCampo("cdTipoOperacao");
        c.site1 = q.IndiceCampo("deLocalUpdate");
        c.usuario = q.IndiceCampo("deUsuario");
        c.senha = q.IndiceCampo("deSenha");
        c.crc = q.IndiceCampo("nuCRC");
        if (atual) {
            c.disponivel2 = q.IndiceCampo("flDisponivel2");
            c.disponivel1 = q.IndiceCampo("flDisponivel1");
            c.site2 = q.IndiceCampo("deLocalUpdate2");
            c.disponivel3 = q.PossuiCampo("flDisponivel3") ? q.IndiceCampo("flDisponivel3") : -1;
            c.site3 = c.disponivel3 >= 0 ? q.IndiceCampo("deLocalUpdate3") : -1;
        }
        c.resolvidos = true;
        camposRequisitoLinha_.resize(q.NomesCampos().size());
    }
    // The fields are read as a move to the record would read them, viewed in its line.
    const std::vector<std::string_view>& v = camposRequisitoLinha_;
    q.SepareCampos(q.Linha(i), camposRequisitoLinha_);
    r.sistema = v[size_t(c.sistema)];
    r.sequencia = v[size_t(c.sequencia)];
    r.objeto = v[size_t(c.objeto)];
    r.controleTexto = v[size_t(c.controle)];
    r.controle = rtl::StrToInt(r.controleTexto);
    // The code is a whole number: 257 is no operation, not operation 1.
    r.operacao = rtl::StrToInt(v[size_t(c.operacao)]);
    r.pasta = v[size_t(c.origem)];
    r.site1 = v[size_t(c.site1)];
    r.site2 = r.site3 = r.disponivel1 = r.disponivel2 = r.disponivel3 = std::string_view();
    r.temDisponivel3 = false;
    if (atual) {
        r.disponivel2 = v[size_t(c.disponivel2)];
        r.disponivel1 = v[size_t(c.disponivel1)];
        r.site2 = v[size_t(c.site2)];
        r.temDisponivel3 = c.disponivel3 >= 0;
        if (r.temDisponivel3) {
            r.disponivel3 = v[size_t(c.disponivel3)];
            r.site3 = v[size_t(c.site3)];
        }
    }
    r.origensMontadas = false;
    r.origem1.clear();
    r.origem2.clear();
    r.origem3.clear();
    // The full form of a destination folder is the same for every requisite that names it.
    const std::string_view pastaDestino = v[size_t(c.destino)];
    auto pasta = pastasDestino_.find(pastaDestino);
    if (pasta == pastasDestino_.end())
        pasta = pastasDestino_
                    .emplace(pastaDestino, std::make_pair(ExpandaCaminho(pastaDestino),
                                                          DestinoForaDaEstacao(pastaDestino, "")))
                    .first;
    // A destination that leads outside the launcher's folder (or the Windows folder) ends the
    // run before anything is copied or removed there: a requisite must not place a file, an
    // executor least of all, anywhere else on the machine. The name joins the check only when
    // it could walk on by itself.
    if (pasta->second.second ||
        (r.objeto.find("..") != std::string_view::npos && DestinoForaDaEstacao(pastaDestino, r.objeto)))
        throw TkwUpdException("O destino \"" + std::string(pastaDestino) + "\" do objeto \"" +
                                  std::string(r.objeto) + "\" fica fora da pasta do launcher (" +
                                  ObtenhaDiretorioExecutavel() + "). A verificação foi interrompida.",
                              L());
    r.destino = JunteTextosEntreAspas(pasta->second.first, r.objeto);
    r.usuario = v[size_t(c.usuario)];
    r.senha = v[size_t(c.senha)];
    r.crc = v[size_t(c.crc)];
    r.examinado = false;
}

void TkwUpdVerificacao::MonteOrigens(TRequisito& r) {
    if (r.origensMontadas) return;
    r.origensMontadas = true;
    // A site without an address is off whatever its flag says: its path would otherwise be
    // the bare folder and name, a path relative to wherever the launcher runs.
    auto caminhoSite = [&](std::string_view endereco) {
        return rtl::Trim(endereco).empty() ? std::string() : MonteCaminhoOrigem(endereco, r.pasta, r.objeto);
    };
    r.origem1 = caminhoSite(r.site1);
    if (versao_ >= 3300 && r.disponivel2 == "S") r.origem2 = caminhoSite(r.site2);
    if (versao_ >= 4030 && r.temDisponivel3 && r.disponivel3 == "S") r.origem3 = caminhoSite(r.site3);
}

// Whether requisite r asks for an action, with the log line that names it. The form before
// version 3300 (atual false) removes a file or folder that exists without asking the history.
bool TkwUpdVerificacao::DecidaAcao(TRequisito& r, bool checaCRC, bool versionada, bool atual) {
    bool acao = false;
    switch (r.operacao) {
        case 1:
        case 5: {
            if (AtualizeExecutor(r, checaCRC, versionada)) break;
            const bool exato = r.operacao == 1;
            r.operacao = 1;  // recorded and listed as an update
            if (!Destino(r).arquivo) {
                Detalhe(L(), r.destino, " não foi encontrado.");
                acao = true;
            } else {
                acao = !ConfiraHistorico(r, exato, checaCRC);
            }
            if (acao) Detalhe(L(), "Ação : Atualizar");
            break;
        }
        case 2:
            acao = !ConfiraHistorico(r, true, checaCRC);
            if (acao) Detalhe(L(), "Ação : Executar");
            break;
        case 3:
            if (!atual || !ConfiraHistorico(r, false, checaCRC)) {
                acao = Destino(r).arquivo;
                Detalhe(L(),
                        acao ? "Ação : Remover" : "Ação : Remover (Arquivo " + r.destino + " não existe)");
            }
            break;
        case 4:
            if (!atual || !ConfiraHistorico(r, false, checaCRC)) {
                acao = Destino(r).pasta;
                Detalhe(L(), acao ? "Ação : Remover Dir"
                                  : "Ação : Remover Dir (Diretório " + r.destino + " não existe)");
            }
            break;
        case 6:
        case 7:
        case 8: {
            acao = !ConfiraHistorico(r, true, checaCRC);
            static const char* const linhas[] = {"Ação : Shutdown", "Ação : Executar remoto",
                                                 "Ação : Registar DLL"};
            if (acao) Detalhe(L(), linhas[r.operacao - 6]);
            break;
        }
        case 9:
            acao = !ConfiraHistorico(r, true, checaCRC) || ArquivoDescompactadoAusente(r.destino);
            if (acao) Detalhe(L(), "Ação : Copiar e descompactar");
            break;
        case 10:
            acao = !ConfiraHistorico(r, false, checaCRC);
            if (acao) Detalhe(L(), "Ação : Aplicar patch de correção");
            break;
        default:
            break;  // 0 and codes outside 0..10: nothing to do
    }
    return acao;
}

void TkwUpdVerificacao::CompareArquivos(bool checaCRC, bool versionada, bool atual) {
    L().Adicione("INICIO - CompareArquivos....");
    Detalhe(L(), "Iniciando a verificação de versão...");
    TkwUpdDadosRequisitos& q = *requisitos_;
    TRequisito r;
    const int total = q.RecordCount();
    for (int i = 0; i < total; ++i) {
        LeiaRequisito(r, i, atual);
        L().AdicioneLinhas({{""}, {" # Verificando a situação de \"", r.objeto, "\"..."}});
        if (DecidaAcao(r, checaCRC, versionada, atual)) {
            MonteOrigens(r);
            if (atual) {
                // A site whose path is empty is off, whatever its flag says.
                const std::string f1 = r.origem1.empty()       ? "N"
                                       : r.disponivel1.empty() ? "S"
                                                               : rtl::UpperCase(r.disponivel1);
                const std::string f2 = r.origem2.empty() ? "N" : rtl::UpperCase(r.disponivel2);
                const std::string f3 = r.origem3.empty() ? "N" : rtl::UpperCase(r.disponivel3);
                if (f1 != "S" && f2 != "S" && f3 != "S") throw EkwLocalUpdateIndisponivel(kIndisponivel, L());
                InsiraAlteracao(r, f1, f2, f3);
            } else {
                // The older form keeps no site flags in the change list.
                InsiraAlteracao(r, "", "", "");
            }
        }
        Detalhe(L(), "FIM - Verificando requisito");
    }
    // Past the last record, where a walk over them leaves the cursor.
    q.MoveTo(total);
    Detalhe(L(), "Fim da verificação");
    L().Adicione("FIM - CompareArquivos");
}

// ---- History --------------------------------------------------------------------------------

void TkwUpdVerificacao::ConstruaIndiceHistorico() {
    TkwUpdDadosHistorico& h = *historico_;
    const TCamposHistorico& c = camposHistorico_;
    const int32_t registros = h.RecordCount();
    // At most two thirds full: probes stay short and the table small.
    size_t capacidade = 16;
    while (capacidade < size_t(registros) + size_t(registros) / 2)
        capacidade *= 2;
    indiceHistorico_.assign(capacidade, TEntradaIndice());
    const size_t mascara = capacidade - 1;
    // The first record of each key decides, as a scan from the top would find it.
    // The damaged records are named once per run: the index is built again whenever the history
    // changes (the executor's copy records itself), and a damaged history named each record
    // at every build.
    const bool nomeieDanificados = !danificadosNomeados_;
    danificadosNomeados_ = true;
    const int campos = int(h.NomesCampos().size());
    for (int32_t registro = 0; registro < registros; ++registro) {
        const int presentes = h.SepareCampos(h.Linha(registro), camposLinha_);
        int32_t controle = 0;
        int32_t op = 0;
        const std::string_view textoControle = camposLinha_[size_t(c.controle)];
        const std::string_view textoOperacao = camposLinha_[size_t(c.operacao)];
        if (presentes < campos) {
            // A record cut short (a history written while the disk filled, or by a program
            // that was killed): its last fields are missing and the ones it has may be cut
            // too; taking it would complete it with the file's facts under a cut name.
            if (nomeieDanificados)
                L().AdicioneErro("Registro " + rtl::IntToStr(registro + 1) +
                                 " do histórico (HST) ignorado: está incompleto (" +
                                 rtl::IntToStr(presentes) + " de " + rtl::IntToStr(campos) + " campos).");
        } else if (rtl::TryStrToInt(textoControle, controle) && rtl::TryStrToInt(textoOperacao, op)) {
            const uint32_t hash =
                MonteChave(camposLinha_[size_t(c.sistema)], camposLinha_[size_t(c.objeto)], op);
            for (size_t i = hash & mascara;; i = (i + 1) & mascara) {
                TEntradaIndice& e = indiceHistorico_[i];
                if (e.registro < 0) {
                    e = {hash, registro};
                    break;
                }
                if (e.hash == hash && TemAChave(e)) break;  // an earlier record
            }
        } else if (nomeieDanificados) {
            // One damaged line must not stop every later run: it is left out and named.
            L().AdicioneErro("Registro " + rtl::IntToStr(registro + 1) +
                             " do histórico (HST) ignorado: nuControle " + Aspas(std::string(textoControle)) +
                             " e cdTipoOperacao " + Aspas(std::string(textoOperacao)) +
                             " devem ser números inteiros.");
        }
    }
    versaoIndice_ = h.Versao();
}

uint32_t TkwUpdVerificacao::MonteChave(std::string_view sistema, std::string_view objeto, int32_t operacao) {
    size_t inicio = 0;
    size_t fim = 0;
    MonteChaveHistorico(sistema, objeto, operacao, chave_.texto, inicio, fim);
    chave_.sistema = sistema;
    chave_.objeto = std::string_view(chave_.texto).substr(inicio, fim - inicio);
    chave_.operacao = operacao;
    return HashChave(chave_.texto);
}

bool TkwUpdVerificacao::TemAChave(const TEntradaIndice& e) {
    const TCamposHistorico& c = camposHistorico_;
    historico_->SepareCampos(historico_->Linha(e.registro), camposRegistro_);
    int32_t op = 0;
    rtl::TryStrToInt(camposRegistro_[size_t(c.operacao)], op);  // a number: the index took it
    return op == chave_.operacao && camposRegistro_[size_t(c.sistema)] == chave_.sistema &&
           rtl::SameText(camposRegistro_[size_t(c.objeto)], chave_.objeto);
}

bool TkwUpdVerificacao::ProcureHistorico(std::string_view sistema, std::string_view objeto, int32_t operacao,
                                         TRegistroHistorico& achado) {
    if (versaoIndice_ != historico_->Versao()) ConstruaIndiceHistorico();
    const uint32_t hash = MonteChave(sistema, objeto, operacao);
    const size_t mascara = indiceHistorico_.size() - 1;
    for (size_t i = hash & mascara;; i = (i + 1) & mascara) {
        TEntradaIndice& e = indiceHistorico_[i];
        if (e.registro < 0) return false;  // the table is never full
        if (e.hash == hash && TemAChave(e)) {
            const TCamposHistorico& c = camposHistorico_;
            achado.registro = e.registro;
            rtl::TryStrToInt(camposRegistro_[size_t(c.controle)],
                             achado.controle);  // the index took a number
            achado.computador = camposRegistro_[size_t(c.computador)];
            achado.tamanho = camposRegistro_[size_t(c.tamanho)];
            achado.dataHora = camposRegistro_[size_t(c.dataHora)];
            return true;
        }
    }
}

bool TkwUpdVerificacao::ConfiraHistorico(TRequisito& r, bool exato, bool checaCRC) {
    const std::string& estacao = NomeComputadorMaiusculo();
    TRegistroHistorico gravado;
    if (!ProcureHistorico(r.sistema, r.objeto, r.operacao, gravado)) {
        Detalhe(L(), "Objeto não existente no histórico (HST)");
        return false;
    }
    bool ok = CompareNroControle(exato, r.controle, gravado.controle);
    if (ok) {
        computadorMaiusculo_.clear();
        AcrescenteMaiusculas(gravado.computador, computadorMaiusculo_);
        ok = CompareNomeComputador(estacao, computadorMaiusculo_);
    }
    if (ok && (r.operacao == 1 || r.operacao == 5)) {
        if (checaCRC) {
            ok = CompareCRC(Destino(r).local, r.crc);
        } else if (!r.crc.empty()) {
            if (!gravado.tamanho.empty() && !gravado.dataHora.empty()) {
                ok = CompareTamanhoData(Destino(r), gravado.tamanho, gravado.dataHora);
            } else {
                Detalhe(L(), "Arquivo sem \"Tamanho\" e \"Data e hora\".");
                Detalhe(L(), "Pegando dados do arquivo...");
                const std::string& t = Destino(r).tamanho;
                const std::string& d = Destino(r).dataHora;
                Detalhe(L(), "Tamanho : \"", t, "\" / Data e hora : \"", d);
                Detalhe(L(), "Gravando dados do arquivo no HST...");
                TkwUpdDadosHistorico& h = *historico_;
                h.MoveTo(gravado.registro);
                h.LimpeRegistro();
                h.AtribuaCampo("tmArquivo", t);
                h.AtribuaCampo("dtHrArquivo", d);
                h.Post();
                // The record keeps its key and its control number, so the index still holds
                // (the record's old line, and what `gravado` viewed in it, are gone).
                versaoIndice_ = h.Versao();
                h.SaveToFile(kwUpdConfig().GetArquivoHistorico());
                Detalhe(L(), "Dados gravados com sucesso.");
                ok = true;
            }
        }
    }
    Detalhe(L(), ok ? "Objeto já atualizado" : "Objeto desatualizado");
    return ok;
}

bool TkwUpdVerificacao::CompareNroControle(bool exato, int32_t requerido, int32_t local) {
    // Exact: a higher installed number is out of date too, so the executor installs the lower.
    const bool ok = exato ? local == requerido : local >= requerido;
    L().AdicioneLinhas(
        {{" - Verificando \"NroControle\" requerido e local..."},
         {" - Nro controle requerido / local: \"", Numero(requerido), "\" / \"", Numero(local), "\""},
         {" - Pode fazer downgrade: \"", NomeBooleano(exato), "\""},
         {ok ? " - NrosControle iguais" : " - NrosControle diferentes"}});
    return ok;
}

// Both names arrive in upper case (rtl::UpperCase, which a second pass leaves unchanged).
bool TkwUpdVerificacao::CompareNomeComputador(std::string_view estacao, std::string_view gravado) {
    L().AdicioneLinhas({{" - Verificando \"Nome do computador\" requerido e local..."},
                        {" - Nome do computador requerido / local: \"", estacao, "\" / \"", gravado}});
    // The setting is read (and its reading logged) after these lines.
    const bool ok = (configuracao_ != nullptr && !configuracao_->UsaNomeComputador()) || estacao == gravado;
    Detalhe(L(), ok ? "Nomes dos computadores iguais" : "Nomes dos computadores diferentes");
    return ok;
}

bool TkwUpdVerificacao::CompareCRC(const std::string& caminho, std::string_view requerido) {
    if (!NaoEhOProprioExecutavel(caminho)) return true;
    Detalhe(L(), "Verificando \"CRC\" requerido e local...");
    if (!TemCRCInformado(requerido)) return true;
    Detalhe(L(), "Pegando CRC local...");
    const int32_t local = int32_t(CalculeCRCArquivo(caminho));
    Detalhe(L(), "CRC pego com sucesso.");
    Detalhe(L(), "CRC requerido / local : \"", requerido, "\" / \"", Numero(local));
    const bool ok = local == rtl::StrToInt(requerido);
    Detalhe(L(), ok ? "CRCs iguais." : "CRCs diferentes.");
    return ok;
}

bool TkwUpdVerificacao::CompareTamanhoData(const TDadosArquivo& local, std::string_view tamanho,
                                           std::string_view dataHora) {
    const std::string& t = local.tamanho;
    const std::string& d = local.dataHora;
    const bool ok = tamanho == t && dataHora == d;
    L().AdicioneLinhas({{" - Verificando \"Tamanho\" e \"Data e hora\" do arquivo..."},
                        {" - Pegando dados do arquivo local..."},
                        {" - Dados pegos com sucesso."},
                        {" - Tamanho requerido / local: \"", tamanho, "\" / \"", t, "\""},
                        {" - Data e hora requerido / local: \"", dataHora, "\" / \"", d, "\""},
                        {ok ? " - Dados dos arquivos iguais." : " - Dados dos arquivos diferentes."}});
    return ok;
}

bool TkwUpdVerificacao::ArquivoDescompactadoAusente(const std::string& destino) {
    // a.dll.zip holds a.dll: the unpacked file must be in the launcher's folder.
    const size_t barra = destino.find_last_of("\\/");
    const std::string nome = barra == std::string::npos ? destino : destino.substr(barra + 1);
    const std::string desempacotado = nome.size() > 4 ? nome.substr(0, nome.size() - 4) : std::string();
    if (desempacotado.find('.') == std::string::npos) return false;
    return !ExisteArquivo(ObtenhaDiretorioExecutavel() + desempacotado);
}

void TkwUpdVerificacao::InsiraAlteracao(const TRequisito& r, const std::string& f1, const std::string& f2,
                                        const std::string& f3) {
    Detalhe(L(), "Inserindo no cache...");
    TkwUpdDadosAlteracoes& a = *alteracoes_;
    a.Append();
    auto atribua = [&](const char* campo, std::string_view valor) {
        if (a.PossuiCampo(campo)) a.AtribuaCampo(campo, valor);
    };
    atribua("cdSistema", r.sistema);
    atribua("nuSeqObjeto", r.sequencia);
    atribua("nmObjeto", r.objeto);
    atribua("nmLocalDestino", r.destino);
    atribua("nmLocalOrigem", r.origem1);
    atribua("nmLocalOrigem2", r.origem2);
    atribua("nmLocalOrigem3", r.origem3);
    atribua("flDisponivel1", f1);
    atribua("flDisponivel2", f2);
    atribua("flDisponivel3", f3);
    atribua("nuControle", r.controleTexto);
    atribua("deUsuario", r.usuario);
    atribua("deSenha", r.senha);  // still scrambled
    atribua("cdTipoOperacao", rtl::IntToStr(r.operacao));
    a.Post();
    Detalhe(L(), "Inserção OK");
}

// ---- The executor's self-update -----------------------------------------------------------------

bool TkwUpdVerificacao::AtualizeExecutor(TRequisito& r, bool checaCRC, bool versionada) {
    if (!rtl::SameText(r.objeto, nomeExecutor_)) return false;
    // A missing executor is copied without asking the history or reading any checksum.
    if (Destino(r).arquivo && ConfiraHistorico(r, true, checaCRC) && CompareCRC(Destino(r).local, r.crc))
        return true;
    Detalhe(L(), kwUpdConfig().GetCaminhoExecutor() + " desatualizado. Copiando a versão nova...");
    MonteOrigens(r);

    if (versao_ < 3300) {
        if (r.origem1.empty()) throw rtl::Exception(kSite1SemEndereco);
        CopieExecutor(r, r.origem1, "", "");
        return true;
    }

    ProxyLigadoAoSair proxy;
    auto versao = [&](const std::string& origem) {
        return versionada ? origem + "_" + rtl::IntToStr(r.controle) : origem;
    };
    const bool site2Desligado = r.disponivel2 == "N" || r.origem2.empty();
    const bool site3Desligado = !r.temDisponivel3 || r.disponivel3 == "N" || r.origem3.empty();
    std::string mensagem;
    try {
        if (r.disponivel1 == "N") throw rtl::Exception(kSite1N);
        if (r.origem1.empty()) throw rtl::Exception(kSite1SemEndereco);
        UsaProxy = true;
        CopieExecutor(r, versao(r.origem1), r.origem2, r.origem3);
    } catch (const EArquivoNaoIntegro&) {
        throw;
    } catch (const std::exception& primeira) {
        const std::string texto1 = primeira.what();
        L().Adicione(texto1);
        if (InterpreteErroFTP(texto1, "primeiro", mensagem) && site2Desligado && site3Desligado) {
            mensagem += "\rO segundo local update não está disponível.";
            if (r.temDisponivel3) mensagem += "\rO terceiro local update não está disponível.";
            throw rtl::Exception(mensagem);
        }
        // The second site's state ends the run here, but it is not why the copy failed: the
        // first attempt's own failure (a full disk, a folder that cannot be written, the site's
        // file) follows, so that the message shown names the real cause even when the log
        // itself cannot be written.
        if (r.disponivel2 == "N") throw rtl::Exception(std::string(kSite2N) + "\rCausa: " + texto1);
        if (r.origem2.empty()) throw rtl::Exception(std::string(kSite2SemEndereco) + "\rCausa: " + texto1);
        try {
            UsaProxy = false;
            CopieExecutor(r, versao(r.origem2), "", r.origem3);
            UsaProxy = true;
        } catch (const EArquivoNaoIntegro&) {
            throw;
        } catch (const std::exception& segunda) {
            UsaProxy = true;
            const std::string texto2 = segunda.what();
            L().Adicione(texto2);
            if (InterpreteErroFTP(texto2, "segundo", mensagem) && site3Desligado)
                throw rtl::Exception(mensagem + "\rO terceiro local update não está disponível.");
            // The second site's own failure ends the run when there is no third site to try.
            if (!r.temDisponivel3 || r.disponivel3 == "N") {
                L().Adicione(kSite3N);
                throw;
            }
            if (r.origem3.empty()) {
                L().Adicione(kSite3SemEndereco);
                throw;
            }
            try {
                UsaProxy = false;
                CopieExecutor(r, versao(r.origem3), "", r.origem3);
                UsaProxy = true;
            } catch (const EArquivoNaoIntegro&) {
                throw;
            } catch (const std::exception& terceira) {
                UsaProxy = true;
                const std::string texto3 = terceira.what();
                if (InterpreteErroFTP(texto3, "terceiro", mensagem)) throw rtl::Exception(mensagem);
                throw rtl::Exception(texto3);
            }
        }
    }
    return true;
}

void TkwUpdVerificacao::CopieExecutor(const TRequisito& r, const std::string& origem,
                                      const std::string& site2, const std::string& site3) {
    TkwUpdLog& log = L();
    Detalhe(log, "Atualizando kwExec...");
    const std::string senha = rtl::Trim(r.senha).empty() ? std::string(r.senha) : Descriptografe(r.senha);
    Detalhe(log, "Atualizar ", r.objeto, "...");
    Detalhe(log, " - De : " + origem);
    Detalhe(log, " - Para : " + r.destino);

    // The new executor is fetched under a temporary name and checked there; only a whole,
    // checked file replaces the old one (by a rename, so there is no moment without an
    // executor), and only then is the copy recorded. Any failure leaves the old executor and
    // the history as they were.
    const std::string temporario = NomeTemporario(r.destino);
    Remova(temporario);
    // What a killed run left of its copy (a whole executor each time) goes too, once no one
    // has written to it for a while.
    plat::RemoveCopyLeftovers(CaminhoLocal(temporario), std::chrono::minutes(10));
    bool disponivel2 = !site2.empty();
    bool disponivel3 = !site3.empty();
    if (!CopieArquivo(origem, temporario, std::string(r.usuario), senha, false, &log, disponivel2,
                      disponivel3, site2, site3, -999)) {
        const std::string motivo = UltimoErro;
        Remova(temporario);
        throw TkwUpdException(Traduza(32, r.objeto, motivo), log);
    }

    const std::string destino = CaminhoLocal(r.destino);
    const std::string backup = CaminhoLocal(NomeArquivoBackup(r.destino));
    const std::string historicoAntes = historico_->GetTexto();
    bool temBackup = false;
    bool somenteLeitura = false;
    bool instalado = false;
    try {
        VerifiqueIntegridade(r.destino, r.crc, temporario);
        // The executor must start whatever mode the site gave its file (a site file of mode
        // 0644 was installed, recorded and then failed with "Permission denied" at every run):
        // a copy that cannot be made startable is neither installed nor recorded.
        {
            int erro = 0;
            if (!plat::TryMakeExecutable(CaminhoLocal(temporario), &erro))
                throw TkwUpdException(
                    Traduza(32, r.objeto,
                            "o arquivo copiado " + Aspas(temporario) +
                                " não pode ser tornado executável: " + DescrevaErroSistema(erro)),
                    log);
        }
        // The old executor is kept as its backup until the copy is recorded.
        Remova(NomeArquivoBackup(r.destino));
        if (plat::FileExists(destino)) {
            plat::CopyFile(destino, backup);
            temBackup = true;
            somenteLeitura = plat::IsReadOnly(destino);
            plat::TrySetReadOnly(destino, false);
        }
        int erro = 0;
        if (!plat::TryRenameFile(CaminhoLocal(temporario), destino, true, &erro))
            throw TkwUpdException(
                Traduza(32, r.objeto, Traduza(13, temporario, r.destino, DescrevaErroSistema(erro))), log);
        instalado = true;
        // Under the requisite's system, where the next run's history check looks for it (an
        // executor of the generic system would otherwise be copied again at every run).
        historico_->RegistreHistorico(std::string(r.sistema), std::string(r.objeto),
                                      std::string(r.controleTexto), r.operacao, r.destino, &log);
        historico_->SaveToFile(kwUpdConfig().GetArquivoHistorico());
    } catch (...) {
        Remova(temporario);
        if (instalado) {
            historico_->SetTexto(historicoAntes);
            if (temBackup) plat::TryRenameFile(backup, destino, true);
        } else if (temBackup) {
            if (somenteLeitura) plat::TrySetReadOnly(destino, true);
            Remova(NomeArquivoBackup(r.destino));
        }
        throw;
    }
    if (temBackup && !Remova(NomeArquivoBackup(r.destino)))
        Detalhe(log, "Não foi possível apagar a cópia de segurança " + Aspas(backup) + ".");
    Detalhe(log, " - Atualização OK");
    Detalhe(log, "Atualização do kwExec OK");
}

void TkwUpdVerificacao::VerifiqueIntegridade(const std::string& caminho, std::string_view requerido,
                                             const std::string& lido) {
    if (!TemCRCInformado(requerido)) return;
    Detalhe(L(), "Verificando integridade do arquivo " + Aspas(caminho) + "...");
    if (ExisteArquivo(lido) && CompareCRC(lido, requerido)) {
        Detalhe(L(), "Integridade OK.");
        return;
    }
    Detalhe(L(), "ERRO: Arquivo NÃO está íntegro.");
    throw EArquivoNaoIntegro(Traduza(33, caminho));
}

bool TkwUpdVerificacao::InterpreteErroFTP(const std::string& texto, const std::string& ordinal,
                                          std::string& mensagem) {
    rtl::StringList linhas;
    linhas.SetText(rtl::StringReplace(texto, ":", "="));
    const std::string classe = linhas.Values("ExceptionClass");
    if (classe.empty()) return false;
    mensagem = "Não foi possível tentar a atualização no " + ordinal + " local update. " +
               "Retorno do FTP: " + rtl::Trim(linhas.Values("Mensagem original do servidor"));
    return true;
}

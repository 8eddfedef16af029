// app/demo/kwExecDemo.cpp: kwExecDemo, a STAND-IN for the update executor "kwExec.exe", made
// only for `make demo` (scripts/demo) and the launcher's end-to-end test. The real update
// executor is a separate product; this small program does just enough of its contract for the
// demo workstation to update itself:
//
//   kwExec.exe "<application path>" ["-v"] ["<launcher argument>"...]
//
//   - holds the instance marker "TfkwUpdExecStatus" while it runs (a launcher started
//     meanwhile starts no second executor);
//   - carries out the change list "log/kwVerify.lcm" that the launcher wrote: operation 1
//     (copy the file from the first update site that is available, through the launcher's own
//     file transfer), 3 (remove the file) and 4 (remove the folder); any other operation is
//     logged as not done here and left alone;
//   - records every change it made in the update history "log/kwExec.hst" with the launcher's
//     own flat-file classes, so the next launcher run finds the workstation current;
//   - starts the application with "kwUpdate" and the launcher's arguments;
//   - writes what it did to "log/kwExecDemo.log" (newest run first) and, last of all, the file
//     "log/kwExecDemo.fim" holding its exit status, which the demo script waits for.
//
// Exit status: 0 when every change was made and the application started, 1 otherwise, 3 when
// another executor holds the marker.
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/ukwUpdConfig.h"
#include "common/ukwUpdConstante.h"
#include "common/ukwUpdCriptografia.h"
#include "common/ukwUpdDBFlatFile.h"
#include "common/ukwUpdLog.h"
#include "common/ukwUpdUtil.h"
#include "platform/Files.h"
#include "platform/InstanceMarker.h"
#include "rtl/Exception.h"
#include "rtl/Text.h"
#include "transfer/ukwFuncoesAPI.h"
#include "transfer/ukwUpdFileUtil.h"

namespace {

std::string Campo(const TkwUpdDadosAlteracoes& lista, const char* nome) {
    return lista.PossuiCampo(nome) ? lista.CampoPorNome(nome) : std::string();
}

// Copies one change-list record's file from the first site that is available and works.
bool Copie(const TkwUpdDadosAlteracoes& lista, const std::string& destino, TkwUpdLog& log) {
    std::vector<std::string> origens;
    if (rtl::UpperCase(Campo(lista, "flDisponivel1")) != "N")
        origens.push_back(Campo(lista, "nmLocalOrigem"));
    if (rtl::UpperCase(Campo(lista, "flDisponivel2")) == "S")
        origens.push_back(Campo(lista, "nmLocalOrigem2"));
    if (rtl::UpperCase(Campo(lista, "flDisponivel3")) == "S")
        origens.push_back(Campo(lista, "nmLocalOrigem3"));
    std::string senha = Campo(lista, "deSenha");
    if (!rtl::Trim(senha).empty()) senha = Descriptografe(senha);
    for (const std::string& origem : origens) {
        if (origem.empty()) continue;
        bool disponivel2 = false, disponivel3 = false;
        log.AdicioneDetalhe("Copiando de " + origem + " para " + destino);
        if (CopieArquivo(origem, destino, Campo(lista, "deUsuario"), senha, true, &log, disponivel2,
                         disponivel3, "", "", -999))
            return true;
        log.AdicioneDetalhe("Erro: " + UltimoErro);
    }
    return false;
}

int Execute(int argc, char** argv, TkwUpdLog& log) {
    if (argc < 2) {
        log.AdicioneDetalhe("Erro: uso: kwExec.exe \"<aplicação>\" [\"-v\"] [argumentos...]");
        return 1;
    }
    const std::string aplicacao = argv[1];
    int primeiro = 2;
    if (argc > 2 && std::string(argv[2]) == "-v") {
        log.AdicioneDetalhe("Atualização versionada");
        primeiro = 3;
    }

    TkwUpdDadosAlteracoes lista;
    if (!lista.LoadFromFile(kwUpdConfig().GetArquivoAlteracoes())) {
        log.AdicioneDetalhe("Erro: a lista de alterações " + kwUpdConfig().GetArquivoAlteracoes() +
                            " não existe.");
        return 1;
    }
    TkwUpdDadosHistorico historico;
    historico.OnNomeComputador = PegueNomeComputador;
    historico.OnDadosArquivo = PegueDadosArquivo;
    historico.LoadFromFile(kwUpdConfig().GetArquivoHistorico());

    int falhas = 0;
    for (lista.First(); !lista.Eof(); lista.Next()) {
        const std::string objeto = Campo(lista, "nmObjeto");
        const std::string destino = Campo(lista, "nmLocalDestino");
        const int operacao = rtl::StrToIntDef(Campo(lista, "cdTipoOperacao"), -1);
        bool feito = false;
        switch (operacao) {
            case 1:
                feito = Copie(lista, destino, log);
                if (feito) log.AdicioneDetalhe("Atualizado: " + objeto);
                break;
            case 3:
                if (plat::FileExists(CaminhoLocal(destino))) plat::DeleteFile(CaminhoLocal(destino));
                feito = !plat::FileExists(CaminhoLocal(destino));
                if (feito) log.AdicioneDetalhe("Removido: " + objeto);
                break;
            case 4:
                std::filesystem::remove_all(CaminhoLocal(destino));
                feito = !plat::FolderExists(CaminhoLocal(destino));
                if (feito) log.AdicioneDetalhe("Pasta removida: " + destino);
                break;
            default:
                log.AdicioneDetalhe("A operação " + rtl::IntToStr(operacao) + " de " + objeto +
                                    " não é feita por este executor de demonstração.");
                continue;
        }
        if (!feito) {
            ++falhas;
            log.AdicioneDetalhe("Erro: não foi possível atualizar " + objeto);
            continue;
        }
        historico.RegistreHistorico(Campo(lista, "cdSistema"), objeto, Campo(lista, "nuControle"), operacao,
                                    destino, &log);
    }
    historico.SaveToFile(kwUpdConfig().GetArquivoHistorico());
    log.AdicioneDetalhe("Histórico gravado em " + kwUpdConfig().GetArquivoHistorico());

    std::vector<std::string> argumentos{"kwUpdate"};
    for (int i = primeiro; i < argc; ++i)
        argumentos.emplace_back(argv[i]);
    log.AdicioneDetalhe("Iniciando a aplicação " + aplicacao);
    if (!ExecuteComShell(aplicacao, argumentos)) {
        log.AdicioneDetalhe("Erro: " + UltimoErro);
        return 1;
    }
    return falhas == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    plat::InstanceMarker marcador("TfkwUpdExecStatus");
    if (!marcador.TryAcquire()) return 3;

    TkwUpdLog log;
    log.Adicione("INICIO - kwExec.exe de demonstração");
    int codigo = 1;
    try {
        codigo = Execute(argc, argv, log);
    } catch (const rtl::Exception& e) {
        log.AdicioneDetalhe("Erro: " + e.Message());
    } catch (const std::exception& e) {
        log.AdicioneDetalhe(std::string("Erro: ") + e.what());
    }
    log.Adicione("FIM - kwExec.exe de demonstração");
    const std::string pasta = kwUpdConfig().GetDiretorioTrabalho();
    try {
        log.SalveEmArquivo(pasta + "kwExecDemo.log", true);
        // Last of all: the demo script waits for this file, which appears whole (a rename).
        {
            std::ofstream fim(pasta + "kwExecDemo.fim.tmp", std::ios::trunc);
            fim << codigo << "\n";
        }
        plat::RenameFile(pasta + "kwExecDemo.fim.tmp", pasta + "kwExecDemo.fim");
    } catch (const std::exception&) {
        return 1;
    }
    return codigo;
}

// transfer/ukwUpdFileUtilDDS.cpp: BaixeArquivoDDS over the download-server client.
#include "transfer/ukwUpdFileUtilDDS.h"

#include <memory>
#include <vector>

#include "common/ukwFuncoesString.h"
#include "common/ukwUpdLog.h"
#include "common/ukwUpdUtil.h"
#include "platform/Files.h"
#include "rtl/Format.h"
#include "rtl/Text.h"
#include "transfer/uDDSConnection.h"

namespace {

const char* const kClientId = "kwLoader";
const char* const kGrantType = "password";

}  // namespace

void ExtraiaNomeEVersao(const std::string& endereco, std::string& nome, std::string& versao) {
    nome.clear();
    versao.clear();
    if (endereco.empty()) return;
    const size_t marca = endereco.find("://");
    const size_t inicio = marca == std::string::npos ? 2 : marca + 3;
    const std::string resto = inicio < endereco.size() ? endereco.substr(inicio) : std::string();
    const size_t barra = resto.rfind('/');
    const std::string elemento = barra == std::string::npos ? resto : resto.substr(barra + 1);
    const size_t sublinhado = elemento.rfind('_');
    if (sublinhado == std::string::npos) {
        versao = elemento;
        return;
    }
    nome = elemento.substr(0, sublinhado);
    versao = elemento.substr(sublinhado + 1);
}

std::string EnderecoBaseDDS(const std::string& endereco) {
    const std::string semPrefixo = rtl::StartsText("DDS:", endereco) ? endereco.substr(4) : endereco;
    // The address's own scheme: the password grant to an https server must not go in clear.
    const size_t marca = semPrefixo.find("://");
    std::string esquema =
        marca == std::string::npos ? std::string() : rtl::LowerCase(semPrefixo.substr(0, marca));
    if (esquema != "http" && esquema != "https") esquema = "http";
    return HostPart(semPrefixo, esquema + "://");
}

void TDDSHandler::DownloadBegin(int64_t tamanho) {
    if (log_ != nullptr) log_->AdicioneDetalhe(rtl::Format("Iniciando Download (Tamanho %d Bytes)", tamanho));
}

void TDDSHandler::DownloadProgress(int64_t /*posicao*/) {
    // No progress bar is attached in this system.
}

void TDDSHandler::DownloadEnd() {
    if (log_ != nullptr) log_->AdicioneDetalhe("Download Finalizado");
}

void TDDSHandler::Polling(int32_t /*restantes*/) {
    // No task label is attached in this system; one would show PrefixoRotulo + " (n)".
}

void TDDSHandler::LogLine(const std::string& texto) {
    if (log_ != nullptr) log_->AdicioneDetalhe(texto);
}

bool BaixeArquivoDDS(const std::string& endereco1, const std::string& endereco2, const std::string& endereco3,
                     const std::string& Destino, const std::string& Usuario, const std::string& Senha,
                     int32_t NuControle, bool copiaAntigaExiste, TkwUpdLog* Log, bool& patch) {
    bool resultado = false;
    patch = true;
    const std::shared_ptr<IDDSConnection> conexao = TDDSConnection::Create();
    TDDSHandler tratador(Log);
    conexao->SetOnDownloadBegin([&](IDDSConnection*, int64_t tamanho) { tratador.DownloadBegin(tamanho); });
    conexao->SetOnDownloadProgress(
        [&](IDDSConnection*, int64_t posicao) { tratador.DownloadProgress(posicao); });
    conexao->SetOnDownloadEnd([&](IDDSConnection*) { tratador.DownloadEnd(); });
    conexao->SetOnPolling([&](IDDSConnection*, int32_t restantes) { tratador.Polling(restantes); });
    conexao->SetOnLog([&](IDDSConnection*, const std::string& texto) { tratador.LogLine(texto); });

    std::vector<std::string> enderecos;
    for (const std::string* e : {&endereco1, &endereco2, &endereco3}) {
        if (e->empty()) continue;
        enderecos.push_back(*e);
        conexao->AddServer(kClientId, Usuario, Senha, kGrantType, EnderecoBaseDDS(*e));
    }

    size_t k = 0;
    for (;;) {
        conexao->Authenticate();
        ++k;
        if (conexao->IsAuthenticated() || !conexao->NextHost()) break;
    }
    if (!conexao->IsAuthenticated()) {
        if (Log != nullptr)
            Log->AdicioneErro(rtl::Format("Não foi possível autenticar-se no DDServer: %s", ""));
        return false;
    }
    if (enderecos.size() < k) throw rtl::Exception("Invalid server");

    std::string nome;
    std::string versao;
    ExtraiaNomeEVersao(enderecos[k - 1], nome, versao);
    const std::string controle = NuControle == -999 ? "0" : rtl::IntToStr(NuControle);
    const bool pedePatch = copiaAntigaExiste && controle != "0";
    const std::string nomeMaiusculo = ConvertaParaMaiusculas(nome);
    const std::string pedido = pedePatch ? rtl::Format("PATCH_%s_%s_%s", nomeMaiusculo, controle, versao)
                                         : nomeMaiusculo + "_" + versao;
    if (Log != nullptr) {
        Log->Adicione(" - DebugDDSFileName: " + nome);
        Log->Adicione(" - DebugDDSNewVersion: " + versao);
        Log->Adicione(" - DebugDDSFileNameToAsk: " + pedido);
    }
    patch = pedePatch;

    std::string url;
    std::string status;
    conexao->RequestFile(pedido, url, status, patch);
    if (conexao->IsStatusAcceptable(status) && !url.empty()) {
        // Only a whole file counts: a failed or cut download leaves nothing under Destino's
        // name, and the caller puts the old file back.
        resultado = conexao->DownloadFile(url, Destino) && plat::FileExists(CaminhoLocal(Destino));
    } else {
        if (Log != nullptr)
            Log->AdicioneErro(
                status.empty()
                    ? std::string("O arquivo não foi localizado no DDServer")
                    : rtl::Format("O status do arquivo no DDServer é inválido. Status: %s", status));
        patch = false;
    }
    return resultado;
}

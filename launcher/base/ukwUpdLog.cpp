// launcher/base/ukwUpdLog.cpp: the launcher's log, its base object and its exceptions.
#include "launcher/base/ukwUpdLog.h"

#include "launcher/base/ukwUpdConstante.h"
#include "launcher/base/ukwUpdUtil.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "rtl/DateTime.h"
#include "rtl/Stream.h"
#include "rtl/StringList.h"

namespace {

std::string CarimboDeTempo() {
    return rtl::FormatDateTime("dd/mm/yyyy hh:nn:ss", rtl::DateTimeFromTimePoint(plat::GetClock().Now()));
}

}  // namespace

void TkwUpdLog::Adicione(std::string_view texto) {
    std::string linha = CarimboDeTempo();
    linha += " : ";
    linha += texto;
    std::lock_guard lock(mutex_);
    linhas_.push_back(std::move(linha));
}

void TkwUpdLog::AdicioneDetalhe(std::string_view texto) {
    Adicione(std::string(" - ").append(texto));
}

void TkwUpdLog::AdicioneItem(std::string_view texto) {
    Adicione(std::string(" # ").append(texto));
}

void TkwUpdLog::AdicioneErro(std::string_view texto) {
    AdicioneDetalhe(std::string("Erro: ").append(texto));
}

void TkwUpdLog::AdicioneTexto(std::string_view texto) {
    rtl::StringList partes;
    partes.SetText(texto);
    std::lock_guard lock(mutex_);
    for (const auto& l : partes.Lines())
        linhas_.push_back(l);
}

std::string TkwUpdLog::GetTexto() const {
    std::lock_guard lock(mutex_);
    std::string r;
    for (const auto& l : linhas_)
        r.append(l).append("\r\n");
    return r;
}

std::vector<std::string> TkwUpdLog::Linhas() const {
    std::lock_guard lock(mutex_);
    return linhas_;
}

void TkwUpdLog::SalveEmArquivo(const std::string& caminho, bool comSeparador) {
    const std::string arquivo = CaminhoLocal(caminho);
    std::vector<std::string> anteriores;
    const bool existia = plat::FileExists(arquivo);
    if (existia) {
        {
            // The file lock, as every routine that clears a read-only flag takes it; the
            // outcome is not looked at: a file still read-only fails the write below.
            std::lock_guard lock(SecaoCriticaArquivos);
            plat::TrySetReadOnly(arquivo, false);
        }
        rtl::StringList antigas;
        antigas.LoadFromFile(arquivo);
        anteriores = antigas.Lines();
    }
    std::lock_guard lock(mutex_);
    std::string conteudo;
    for (const auto& l : linhas_)
        conteudo.append(l).append("\r\n");
    if (existia) {
        if (comSeparador) conteudo.append("\r\n").append(54, '=').append("\r\n\r\n");
        for (const auto& l : anteriores)
            conteudo.append(l).append("\r\n");
    }
    rtl::WriteFileAtomically(arquivo, conteudo);
    linhas_.clear();
}

TkwUpdClasseBasica::TkwUpdClasseBasica(std::string nomeClasse, TkwUpdLog* log, TkwUpdLog* logSecundario,
                                       int32_t cdSistema)
    : Log(log), CdSistema(-1), LogSecundario(logSecundario), nomeClasse_(std::move(nomeClasse)) {
    if (Log != nullptr) {
        Log->Adicione("#CREATE# " + nomeClasse_);
        Log->Adicione("INICIO - Create...");
    }
    CdSistema = cdSistema;
}

TkwUpdClasseBasica::~TkwUpdClasseBasica() {
    if (Log != nullptr) Log->Adicione("#DESTROY# " + nomeClasse_);
}

TkwUpdException::TkwUpdException(const std::string& mensagem, TkwUpdLog& log) : rtl::Exception(mensagem) {
    log.Adicione("EXCEPTION: " + mensagem);
}

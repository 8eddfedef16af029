// common/ukwUpdLog.cpp: the launcher's log, its base object and its exceptions.
#include "common/ukwUpdLog.h"

#include <chrono>
#include <climits>

#include "common/ukwUpdConstante.h"
#include "common/ukwUpdUtil.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "rtl/DateTime.h"
#include "rtl/Format.h"
#include "rtl/Stream.h"
#include "rtl/StringList.h"

namespace {

// The stamp changes once a second, while a verification writes hundreds of thousands of
// lines: the text of the current second (and separators) is kept per thread, and the time is
// read from the clock's cheap reading (CoarseNow, within a timer tick of the exact time, as
// the original platform's local time was), since an exact reading per line cost more than
// building the line.
const std::string& CarimboDeTempo() {
    struct Cache {
        int64_t second = INT64_MIN;
        char dateSep = 0, timeSep = 0;
        std::string text;
    };
    thread_local Cache cache;
    const auto now = plat::GetClock().CoarseNow();
    const int64_t second = std::chrono::floor<std::chrono::seconds>(now).time_since_epoch().count();
    if (second != cache.second || cache.dateSep != rtl::FormatSettings.DateSeparator ||
        cache.timeSep != rtl::FormatSettings.TimeSeparator) {
        cache.text = rtl::FormatDateTime("dd/mm/yyyy hh:nn:ss", rtl::DateTimeFromTimePoint(now));
        cache.second = second;
        cache.dateSep = rtl::FormatSettings.DateSeparator;
        cache.timeSep = rtl::FormatSettings.TimeSeparator;
    }
    return cache.text;
}

}  // namespace

void TkwUpdLog::AdicioneComMarca(std::initializer_list<std::string_view> partes) {
    const std::string& carimbo = CarimboDeTempo();
    constexpr std::string_view kAposCarimbo = " : ";
    size_t tamanho = carimbo.size() + kAposCarimbo.size();
    for (std::string_view p : partes)
        tamanho += p.size();
    std::string linha;
    linha.reserve(tamanho);
    linha.append(carimbo).append(kAposCarimbo);
    for (std::string_view p : partes)
        linha.append(p);
    std::lock_guard lock(mutex_);
    linhas_.push_back(std::move(linha));
}

void TkwUpdLog::Adicione(std::string_view texto) {
    AdicioneComMarca({texto});
}

void TkwUpdLog::AdicioneDetalhe(std::string_view texto) {
    AdicioneComMarca({" - ", texto});
}

void TkwUpdLog::AdicioneItem(std::string_view texto) {
    AdicioneComMarca({" # ", texto});
}

void TkwUpdLog::AdicioneErro(std::string_view texto) {
    AdicioneComMarca({" - Erro: ", texto});
}

void TkwUpdLog::AdicionePartes(std::initializer_list<std::string_view> partes) {
    AdicioneComMarca(partes);
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
    size_t tamanho = 0;
    for (std::string_view l : linhas_)
        tamanho += l.size() + 2;
    std::string r;
    r.reserve(tamanho);
    for (std::string_view l : linhas_)
        r.append(l).append("\r\n");
    return r;
}

std::vector<std::string> TkwUpdLog::Linhas() const {
    std::lock_guard lock(mutex_);
    return linhas_;
}

void TkwUpdLog::SalveEmArquivo(const std::string& caminho, bool comSeparador) {
    const std::string arquivo = CaminhoLocal(caminho);
    // From the read of the old blocks to the rename of the new file, no other launcher (nor
    // the executor) may save into the same folder: two runs ending together would each put
    // their block in front of the same old text, and the later rename would drop the other's.
    const size_t barra = arquivo.rfind('/');
    const plat::FolderLock trava(barra == std::string::npos ? "." : barra == 0 ? "/" : arquivo.substr(0, barra));
    // Under the lock every writer of this log takes, a temporary copy of it can only be one
    // that a killed run left (a whole copy of the log each): remove those.
    if (trava.Held()) rtl::RemoveAtomicWriteLeftovers(arquivo);
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
    RegistreDestruicao();
}

void TkwUpdClasseBasica::RegistreDestruicao() {
    if (destruicaoRegistrada_) return;
    destruicaoRegistrada_ = true;
    if (Log != nullptr) Log->Adicione("#DESTROY# " + nomeClasse_);
}

TkwUpdException::TkwUpdException(const std::string& mensagem, TkwUpdLog& log) : rtl::Exception(mensagem) {
    log.Adicione("EXCEPTION: " + mensagem);
}

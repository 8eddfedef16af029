// common/ukwUpdLog.cpp: the launcher's log, its base object and its exceptions.
#include "common/ukwUpdLog.h"

#include <algorithm>
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

namespace {
// The room of a block of lines: large enough that blocks are few, small enough that a short
// log does not hold much more than it needs.
constexpr size_t kBlocoLog = 1u << 20;
}  // namespace

char* TkwUpdLog::Reserve(size_t tamanho, int32_t carimbo) {
    if (blocos_.empty() || blocos_.back().capacidade - blocos_.back().usado < tamanho) {
        TBloco novo;
        novo.capacidade = std::max(kBlocoLog, tamanho);
        novo.dados.reset(new char[novo.capacidade]);  // not zeroed: every byte is written first
        blocos_.push_back(std::move(novo));
    }
    TBloco& bloco = blocos_.back();
    char* p = bloco.dados.get() + bloco.usado;
    bloco.usado += tamanho;
    // The line's text ends before its CR LF.
    fins_.push_back({uint32_t(blocos_.size() - 1), uint32_t(bloco.usado - 2), carimbo});
    return p;
}

void TkwUpdLog::AdicioneComMarca(std::initializer_list<std::string_view> partes) {
    const std::string& carimbo = CarimboDeTempo();
    constexpr std::string_view kAposCarimbo = " : ";
    size_t tamanho = kAposCarimbo.size() + 2;
    for (std::string_view p : partes)
        tamanho += p.size();
    std::lock_guard lock(mutex_);
    if (carimbos_.empty() || carimbos_.back() != carimbo) carimbos_.push_back(carimbo);
    char* p = Reserve(tamanho, int32_t(carimbos_.size() - 1));
    p = std::copy(kAposCarimbo.begin(), kAposCarimbo.end(), p);
    for (std::string_view parte : partes)
        p = std::copy(parte.begin(), parte.end(), p);
    p[0] = '\r';
    p[1] = '\n';
}

void TkwUpdLog::Acrescente(std::string_view linha) {
    char* p = std::copy(linha.begin(), linha.end(), Reserve(linha.size() + 2, -1));
    p[0] = '\r';
    p[1] = '\n';
}

std::string TkwUpdLog::Junte() const {
    size_t tamanho = 0;
    for (const TBloco& b : blocos_)
        tamanho += b.usado;
    for (const TFimLinha& f : fins_)
        if (f.carimbo >= 0) tamanho += carimbos_[size_t(f.carimbo)].size();
    std::string r;
    r.reserve(tamanho);
    uint32_t bloco = 0;
    size_t inicio = 0;
    for (const TFimLinha& f : fins_) {
        if (f.bloco != bloco) {
            bloco = f.bloco;
            inicio = 0;
        }
        if (f.carimbo >= 0) r.append(carimbos_[size_t(f.carimbo)]);
        r.append(blocos_[bloco].Texto().substr(inicio, size_t(f.fim) + 2 - inicio));
        inicio = size_t(f.fim) + 2;
    }
    return r;
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
        Acrescente(l);
}

std::string TkwUpdLog::GetTexto() const {
    std::lock_guard lock(mutex_);
    return Junte();
}

std::vector<std::string> TkwUpdLog::Linhas() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> r;
    r.reserve(fins_.size());
    uint32_t bloco = 0;
    size_t inicio = 0;
    for (const TFimLinha& f : fins_) {
        if (f.bloco != bloco) {
            bloco = f.bloco;
            inicio = 0;
        }
        std::string& linha = r.emplace_back();
        if (f.carimbo >= 0) linha = carimbos_[size_t(f.carimbo)];
        linha.append(blocos_[bloco].Texto().substr(inicio, f.fim - inicio));
        inicio = size_t(f.fim) + 2;
    }
    return r;
}

void TkwUpdLog::SalveEmArquivo(const std::string& caminho, bool comSeparador) {
    const std::string arquivo = CaminhoLocal(caminho);
    // From the read of the old blocks to the rename of the new file, no other launcher (nor
    // the executor) may save into the same folder: two runs ending together would each put
    // their block in front of the same old text, and the later rename would drop the other's.
    const size_t barra = arquivo.rfind('/');
    const plat::FolderLock trava(barra == std::string::npos ? "."
                                 : barra == 0               ? "/"
                                                            : arquivo.substr(0, barra));
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
    std::string conteudo = Junte();
    if (existia) {
        if (comSeparador) conteudo.append("\r\n").append(54, '=').append("\r\n\r\n");
        for (const auto& l : anteriores)
            conteudo.append(l).append("\r\n");
    }
    rtl::WriteFileAtomically(arquivo, conteudo);
    blocos_.clear();
    fins_.clear();
    carimbos_.clear();
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

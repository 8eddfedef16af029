// common/ukwUpdLog.cpp: the launcher's log, its base object and its exceptions.
#include "common/ukwUpdLog.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "common/ukwFuncoesString.h"
#include "common/ukwUpdConstante.h"
#include "common/ukwUpdUtil.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "rtl/DateTime.h"
#include "rtl/Format.h"
#include "rtl/Stream.h"
#include "rtl/StringList.h"

namespace {

// What stands in front of a time-stamped line: the local time "DD/MM/YYYY HH:MM:SS" (the
// locale's separators) and " : ".
std::string TextoCarimbo(std::chrono::system_clock::time_point agora) {
    return rtl::FormatDateTime("dd/mm/yyyy hh:nn:ss", rtl::DateTimeFromTimePoint(agora)) + " : ";
}

// The room of the blocks of lines: the first one small enough that a short log (most runs) does
// not hold much more than it needs, the next ones of the size the system may give as one huge
// page (plat::LargeBlock), so that the megabytes of a long log cost few faults.
constexpr size_t kPrimeiroBloco = size_t(256) << 10;
constexpr size_t kBlocoLog = plat::LargeBlock::kPiece;

}  // namespace

TkwUpdLog::TFimLinha TkwUpdLog::TBloco::Fim(size_t i) const {
    TFimLinha f;
    std::memcpy(&f, dados.Data() + capacidade - (i + 1) * sizeof(TFimLinha), sizeof f);
    return f;
}

TkwUpdLog::TLinha TkwUpdLog::TBloco::Linha(size_t i) const {
    const TFimLinha f = Fim(i);
    const size_t inicio = i == 0 ? 0 : Fim(i - 1).fim;
    return {std::string_view(dados.Data() + inicio, f.fim - inicio), f.carimbo};
}

char* TkwUpdLog::Reserve(size_t tamanho, int32_t carimbo) {
    if (blocos_.empty() || blocos_.back().Livre() < tamanho + sizeof(TFimLinha)) {
        TBloco novo;
        // Room for the line and its record; every byte is written before it is read.
        novo.dados = plat::LargeBlock(
            std::max(blocos_.empty() ? kPrimeiroBloco : kBlocoLog, tamanho + sizeof(TFimLinha)));
        // A multiple of the record's size, so the records at the back stay aligned.
        novo.capacidade = novo.dados.Size() / sizeof(TFimLinha) * sizeof(TFimLinha);
        blocos_.push_back(std::move(novo));
    }
    TBloco& bloco = blocos_.back();
    char* p = bloco.dados.Data() + bloco.usado;
    bloco.usado += tamanho;
    ++bloco.linhas;
    const TFimLinha f{uint32_t(bloco.usado), carimbo};
    std::memcpy(bloco.dados.Data() + bloco.capacidade - bloco.linhas * sizeof(TFimLinha), &f, sizeof f);
    ++totalLinhas_;
    return p;
}

void TkwUpdLog::Desfaca(size_t tamanho) {
    TBloco& bloco = blocos_.back();
    bloco.usado -= tamanho;
    --bloco.linhas;
    --totalLinhas_;
}

int32_t TkwUpdLog::Carimbo(std::chrono::system_clock::time_point agora) {
    const char data = rtl::FormatSettings.DateSeparator;
    const char hora = rtl::FormatSettings.TimeSeparator;
    // Within the second of the last stamp it still fits: two comparisons, not a division.
    if (carimbos_.empty() || agora < inicioSegundo_ || agora >= inicioSegundo_ + std::chrono::seconds(1) ||
        data != separadorData_ || hora != separadorHora_) {
        carimbos_.push_back(TextoCarimbo(agora));
        inicioSegundo_ = std::chrono::floor<std::chrono::seconds>(agora);
        separadorData_ = data;
        separadorHora_ = hora;
    }
    return int32_t(carimbos_.size() - 1);
}

template <typename F>
void TkwUpdLog::ParaCadaLinha(F&& f) const {
    for (const TBloco& bloco : blocos_) {
        for (size_t i = 0; i < bloco.linhas; ++i) {
            const TLinha l = bloco.Linha(i);
            f(l.carimbo >= 0 ? std::string_view(carimbos_[size_t(l.carimbo)]) : std::string_view(), l.texto);
        }
    }
}

namespace {

// A line's text as the file holds it. A control character is shown as "\x" and two hexadecimal
// digits (a NUL read from the settings file cut the line for many readers of the log, an escape
// sequence drove the terminal that showed it); a line break inside the text, of any kind, is
// written as CR LF (a lone CR joined a message's lead sentence and its cause into one line for
// every reader of the file). The parts of a line are one text: a CR that ends one part and an
// LF that starts the next are one line break.
bool PrecisaDeTroca(char c) {
    return EhControleInvisivel(c) || c == '\r' || c == '\n';
}

// Eight bytes are looked at a time (a verification writes some 300,000 lines): a word holds a
// byte below 0x20 when (w - 0x20...) & ~w & 0x80... is not zero, and a byte 0x7F when
// w ^ 0x7F... holds a zero byte (the same test with 0x01...); both tests are exact for "any
// byte", whatever the borrows. The marks of a word that needs no change are all zero. The test
// is wider than PrecisaDeTroca (a tab passes it, unchanged, only on the longer road).
constexpr uint64_t kUm = 0x0101010101010101u, kAlto = 0x8080808080808080u;

uint64_t MarcasDeTroca(uint64_t w) {
    const uint64_t del = w ^ (kUm * 0x7F);
    return (((w - kUm * 0x20) & ~w) | ((del - kUm) & ~del)) & kAlto;
}

// The same test for one byte.
bool ControleOuDel(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

// Whether no character of the text needs a change.
bool SemTroca(std::string_view texto) {
    const char* p = texto.data();
    size_t n = texto.size();
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        if (MarcasDeTroca(w) != 0) return false;
    }
    for (; n > 0; ++p, --n)
        if (ControleOuDel(*p)) return false;
    return true;
}

// Copies the text to p as it is, p moving past it, and tells whether no character of it needed
// a change: most lines need none, and they are then looked at and copied in one pass.
bool CopieSemTroca(std::string_view texto, char*& p) {
    const char* s = texto.data();
    size_t n = texto.size();
    uint64_t marcas = 0;
    for (; n >= 8; s += 8, p += 8, n -= 8) {
        uint64_t w;
        std::memcpy(&w, s, 8);
        std::memcpy(p, &w, 8);
        marcas |= MarcasDeTroca(w);
    }
    bool troca = marcas != 0;
    for (; n > 0; ++s, ++p, --n) {
        *p = *s;
        troca = troca || ControleOuDel(*s);
    }
    return !troca;
}

// The bytes the parts take in the file.
size_t TamanhoNoArquivo(std::initializer_list<std::string_view> partes) {
    size_t tamanho = 0;
    bool cr = false;
    for (std::string_view parte : partes) {
        for (char c : parte) {
            if (!PrecisaDeTroca(c))
                tamanho += 1;
            else if (c == '\r')
                tamanho += 2;
            else if (c == '\n')
                tamanho += cr ? 0 : 2;  // after a CR it is that line break's own LF
            else
                tamanho += 4;
            cr = c == '\r';
        }
    }
    return tamanho;
}

char* CopieParaArquivo(std::initializer_list<std::string_view> partes, char* p) {
    static const char kHex[] = "0123456789ABCDEF";
    bool cr = false;
    for (std::string_view parte : partes) {
        const char* c = parte.data();
        const char* const fim = c + parte.size();
        while (c != fim) {
            // Most texts need no change: copy up to the next character that does.
            const char* q = c;
            while (q != fim && !PrecisaDeTroca(*q))
                ++q;
            if (q != c) {
                p = std::copy(c, q, p);
                cr = false;
                c = q;
                continue;
            }
            const char x = *c++;
            if (x == '\r' || (x == '\n' && !cr)) {
                *p++ = '\r';
                *p++ = '\n';
            } else if (x != '\n') {
                const auto u = static_cast<unsigned char>(x);
                *p++ = '\\';
                *p++ = 'x';
                *p++ = kHex[u >> 4];
                *p++ = kHex[u & 15];
            }
            cr = x == '\r';
        }
    }
    return p;
}

}  // namespace

void TkwUpdLog::AdicioneComMarca(std::initializer_list<std::string_view> partes) {
    AdicioneLinhas({partes});
}

void TkwUpdLog::AdicioneLinhas(std::initializer_list<std::initializer_list<std::string_view>> linhas) {
    // The time is read from the clock's cheap reading (CoarseNow, within a timer tick of the
    // exact time, as the original platform's local time was), once for the lines written
    // together: an exact reading per line cost more than building the line.
    const auto agora = plat::GetClock().CoarseNow();
    std::lock_guard lock(mutex_);
    const int32_t carimbo = Carimbo(agora);
    for (std::initializer_list<std::string_view> partes : linhas)
        EscrevaLinha(partes, carimbo);
}

void TkwUpdLog::EscrevaLinha(std::initializer_list<std::string_view> partes, int32_t carimbo) {
    size_t texto = 0;
    for (std::string_view parte : partes)
        texto += parte.size();
    // The parts are copied as they are; when one of them needed a change after all (a control
    // character, a line break), that copy is taken back and the line is written again, shown.
    char* p = Reserve(texto, carimbo);
    bool simples = true;
    for (std::string_view parte : partes)
        simples = CopieSemTroca(parte, p) && simples;
    if (simples) return;
    Desfaca(texto);
    CopieParaArquivo(partes, Reserve(TamanhoNoArquivo(partes), carimbo));
}

void TkwUpdLog::Acrescente(std::string_view linha) {
    if (SemTroca(linha))
        std::copy(linha.begin(), linha.end(), Reserve(linha.size(), -1));
    else
        CopieParaArquivo({linha}, Reserve(TamanhoNoArquivo({linha}), -1));
}

std::string TkwUpdLog::Junte() const {
    size_t tamanho = 2 * totalLinhas_;
    ParaCadaLinha(
        [&](std::string_view carimbo, std::string_view texto) { tamanho += carimbo.size() + texto.size(); });
    std::string r;
    r.reserve(tamanho);
    ParaCadaLinha([&](std::string_view carimbo, std::string_view texto) {
        r.append(carimbo).append(texto).append("\r\n");
    });
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
    r.reserve(totalLinhas_);
    ParaCadaLinha([&](std::string_view carimbo, std::string_view texto) {
        std::string& linha = r.emplace_back();
        linha.reserve(carimbo.size() + texto.size());
        linha.append(carimbo).append(texto);
    });
    return r;
}

namespace {

// The line between two runs' blocks, with the empty line on either side of it.
const std::string kLinhaSeparadora(54, '=');
const std::string kSeparadorBlocos = "\r\n" + kLinhaSeparadora + "\r\n\r\n";

// What is kept of an old log: the text of its newest whole blocks, as the file will hold them
// (every line ended by CR LF), and whether any older block was left out.
struct TBlocosMantidos {
    std::string texto;
    bool descartou = false;
};

// The newest whole blocks of the old log that fit in `espaco` bytes once written. `inicio` is
// the beginning of the file; `inteiro` tells whether it is the whole file (otherwise its last
// line may be cut and a block only counts when its separator line follows it). A block is
// never cut in half, and an older block is never kept without every newer one.
TBlocosMantidos MantenhaBlocos(std::string_view inicio, bool inteiro, size_t espaco) {
    struct TLinha {
        std::string_view texto;
        bool completa;
    };
    std::vector<TLinha> linhas;
    rtl::SplitLines(inicio, [&](std::string_view texto, std::string_view fim) {
        linhas.push_back({texto, !fim.empty()});
    });
    if (!inteiro && !linhas.empty()) linhas.pop_back();  // possibly cut short

    TBlocosMantidos r;
    size_t tamanho = 0;  // of the blocks kept, with the separators between them
    size_t bloco = 0;    // the first line of the block being measured
    auto mantenha = [&](size_t fim, size_t proximo) {
        // Lines [bloco, fim) are a whole block; the next one starts at `proximo`.
        size_t t = 0;
        for (size_t i = bloco; i < fim; ++i)
            t += linhas[i].texto.size() + 2;
        const size_t separador = bloco == 0 ? 0 : kSeparadorBlocos.size();
        if (r.descartou || tamanho + separador + t > espaco) {
            r.descartou = true;
            return;
        }
        if (bloco != 0) r.texto.append(kSeparadorBlocos);
        for (size_t i = bloco; i < fim; ++i)
            r.texto.append(linhas[i].texto).append("\r\n");
        tamanho += separador + t;
        bloco = proximo;
    };
    for (size_t i = 1; i < linhas.size() && !r.descartou; ++i) {
        if (linhas[i].texto != kLinhaSeparadora || !linhas[i - 1].texto.empty() || !linhas[i].completa)
            continue;
        const bool vazia = i + 1 < linhas.size() && linhas[i + 1].texto.empty();
        mantenha(i - 1, vazia ? i + 2 : i + 1);
    }
    if (r.descartou) return r;
    // The last block: whole only when the file ended in what was read.
    if (inteiro) {
        if (bloco < linhas.size()) mantenha(linhas.size(), linhas.size());
    } else {
        r.descartou = true;
    }
    return r;
}

// The first `quantos` bytes of a file (all of it when it is shorter); `inteiro` tells whether
// that is the whole file.
std::string LeiaInicio(const std::string& arquivo, size_t quantos, bool& inteiro) {
    rtl::FileStream f(arquivo, rtl::FileMode::OpenRead);
    const int64_t tamanho = f.Size();
    inteiro = tamanho >= 0 && uint64_t(tamanho) <= quantos;
    std::string r(inteiro ? size_t(tamanho) : quantos, '\0');
    size_t lidos = 0;
    while (lidos < r.size()) {
        const size_t n = f.Read(r.data() + lidos, r.size() - lidos);
        if (n == 0) break;
        lidos += n;
    }
    r.resize(lidos);
    return r;
}

// A size as the log shows it: "16 MB", "64 KB" or "100 bytes".
std::string TamanhoLegivel(size_t n) {
    if (n >= (1u << 20) && n % (1u << 20) == 0) return rtl::Format("%d MB", int64_t(n >> 20));
    if (n >= 1024 && n % 1024 == 0) return rtl::Format("%d KB", int64_t(n >> 10));
    return rtl::Format("%d bytes", int64_t(n));
}

}  // namespace

void TkwUpdLog::SalveEmArquivo(const std::string& caminho, bool comSeparador, size_t limite) {
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
    std::lock_guard lock(mutex_);
    std::string conteudo = Junte();
    const bool existia = plat::FileExists(arquivo);
    if (existia) {
        {
            // The file lock, as every routine that clears a read-only flag takes it; the
            // outcome is not looked at: a file still read-only fails the write below.
            std::lock_guard lockArquivos(SecaoCriticaArquivos);
            plat::TrySetReadOnly(arquivo, false);
        }
        // Only what can be kept is read: a log of many runs (tens of megabytes each with a
        // large requisites list) never comes into memory whole.
        const std::string separador = comSeparador ? kSeparadorBlocos : std::string();
        const size_t ocupado = conteudo.size() + separador.size();
        const size_t espaco = limite > ocupado ? limite - ocupado : 0;
        bool inteiro = true;
        const std::string inicio = LeiaInicio(arquivo, espaco, inteiro);
        TBlocosMantidos mantidos = MantenhaBlocos(inicio, inteiro, espaco);
        if (mantidos.descartou) {
            // The line that says so is this run's last, and the ceiling holds it too.
            const std::string aviso = TextoCarimbo(plat::GetClock().CoarseNow()) +
                                      "As execuções mais antigas do log foram removidas para manter o "
                                      "arquivo em até " +
                                      TamanhoLegivel(limite) + ".\r\n";
            mantidos = MantenhaBlocos(inicio, inteiro, espaco > aviso.size() ? espaco - aviso.size() : 0);
            mantidos.descartou = true;
            conteudo.append(aviso);
        }
        if (!mantidos.texto.empty() || !mantidos.descartou) conteudo.append(separador).append(mantidos.texto);
    }
    rtl::WriteFileAtomically(arquivo, conteudo);
    blocos_.clear();
    totalLinhas_ = 0;
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

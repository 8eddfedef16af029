// common/ukwUpdDBFlatFile.cpp: the line-file data set and its three layouts.
//
// The records are held as their text lines; a move splits the line under the cursor once and
// keeps the trimmed values, so reading a record field by field costs no further splitting.
// The files are written through rtl::WriteFileAtomically: the executor reads the change list
// and both programs write the history, so a half-written file would cost every later run.
#include "common/ukwUpdDBFlatFile.h"

#include <algorithm>
#include <cassert>

#include "common/ukwUpdLog.h"
#include "common/ukwUpdTranslator.h"
#include "common/ukwUpdVersao.h"
#include "platform/Files.h"
#include "rtl/Exception.h"
#include "rtl/Format.h"
#include "rtl/Stream.h"
#include "rtl/Text.h"

namespace {

// The change list and the requisites file hold the update sites' (scrambled) passwords.
constexpr int ModoSomenteDono = 0600;

std::string_view PrimeiraLinha(std::string_view texto) {
    const auto fim = texto.find_first_of("\r\n");
    return fim == std::string_view::npos ? texto : texto.substr(0, fim);
}

// Field names are ASCII: compared here without building upper-case copies, since the
// verification asks for a field by name many times per record.
bool MesmoNome(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'a' && x <= 'z') x = char(x - 32);
        if (y >= 'a' && y <= 'z') y = char(y - 32);
        if (x != y) return false;
    }
    return true;
}

bool Ascii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string_view Aparado(std::string_view s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

}  // namespace

// ---- TkwUpdDBFlatFile ---------------------------------------------------------------------

TkwUpdDBFlatFile::TkwUpdDBFlatFile() {
    TkwUpdDBFlatFile::Clear();
    camposPrimeiraLinha_ = 0;
}

TkwUpdDBFlatFile::~TkwUpdDBFlatFile() = default;

std::string TkwUpdDBFlatFile::CodifiqueValor(std::string_view valor) const {
    std::string semSeparador(valor);
    std::erase(semSeparador, separador_);
    return rtl::Trim(semSeparador);
}

void TkwUpdDBFlatFile::AcrescenteAoRegistro(std::string_view valor) {
    // The position in the record, not an empty buffer, tells the first field: a record whose
    // first values are empty still needs one separator before each later field.
    if (camposNoRegistro_ > 0) registro_ += separador_;
    registro_ += CodifiqueValor(valor);
    ++camposNoRegistro_;
}

std::string TkwUpdDBFlatFile::GetTexto() {
    std::string texto = linhas_.Text();
    if (!IsEmpty()) First();
    return texto;
}

void TkwUpdDBFlatFile::SetTexto(std::string_view texto) {
    DetecteLayout(texto);
    SubstituaLinhas(std::string(texto));
}

std::string TkwUpdDBFlatFile::NormalizeNomeCampo(std::string_view nome) const {
    return rtl::UpperCase(nome);
}

void TkwUpdDBFlatFile::VerifiqueCampos() const {
    if (valores_.size() < nomes_.size())
        throw rtl::Exception(Traduza(1, int(nomes_.size()), int(valores_.size())));
}

int TkwUpdDBFlatFile::IndiceCampo(std::string_view nome) const {
    if (Ascii(nome)) {
        for (size_t i = 0; i < nomes_.size(); ++i)
            if (MesmoNome(nomes_[i], nome)) return int(i);
    } else {
        const std::string chave = NormalizeNomeCampo(nome);
        for (size_t i = 0; i < nomes_.size(); ++i)
            if (nomes_[i] == chave) return int(i);
    }
    throw rtl::Exception("O campo \"" + std::string(nome) + "\" não existe.");
}

bool TkwUpdDBFlatFile::LoadFromFile(const std::string& caminho) {
    std::lock_guard<std::mutex> trava(trava_);
    arquivo_ = caminho;
    if (!plat::FileExists(caminho)) return false;
    std::string conteudo = rtl::ReadFileBytes(caminho);
    DetecteLayout(conteudo);
    SubstituaLinhas(std::move(conteudo));
    if (!IsEmpty()) First();
    return true;
}

void TkwUpdDBFlatFile::SaveToFile(const std::string& caminho) {
    std::lock_guard<std::mutex> trava(trava_);
    arquivo_ = caminho;
    // A read-only file is written all the same, as the launcher always did; what happens to
    // the flag is not looked at (the write reports its own failure).
    if (plat::FileExists(caminho)) plat::TrySetReadOnly(caminho, false);
    rtl::WriteFileAtomically(caminho, linhas_.Text(), modoArquivo_);
}

namespace {

// The fields of a line one after the other: the N-th field runs from the (N-1)-th separator to
// the next one or the end of the line, trimmed; past the last one there are none. The fields
// are short, so one pass over the characters beats a search call per field.
class TLeitorCampos {
public:
    TLeitorCampos(std::string_view linha, char separador)
        : p_(linha.data()), fim_(linha.data() + linha.size()), separador_(separador) {}
    // The next field into campo; false when the line has no more.
    bool Proximo(std::string_view& campo) {
        if (acabou_) return false;
        const char* q = p_;
        while (q != fim_ && *q != separador_)
            ++q;
        campo = Aparado(std::string_view(p_, size_t(q - p_)));
        if (q == fim_)
            acabou_ = true;
        else
            p_ = q + 1;
        return true;
    }

private:
    const char* p_;
    const char* fim_;
    char separador_;
    bool acabou_ = false;
};

}  // namespace

bool TkwUpdDBFlatFile::MoveTo(int n) {
    VerifiqueCampos();
    if (IsEmpty() || n < -1 || n > linhas_.Count()) return false;
    cursor_ = n;
    // Missing fields are empty, extra ones ignored; before the first record and after the last
    // every value is empty.
    const bool naLinha = n >= 0 && n < linhas_.Count();
    TLeitorCampos leitor(naLinha ? std::string_view(linhas_[n]) : std::string_view(), separador_);
    bool ha = naLinha;
    camposPresentes_ = 0;
    for (size_t i = 0; i < nomes_.size(); ++i) {
        std::string_view campo;
        ha = ha && leitor.Proximo(campo);
        if (ha) camposPresentes_ = int(i) + 1;
        valores_[i].assign(campo);
    }
    return true;
}

int TkwUpdDBFlatFile::SepareCampos(std::string_view linha, std::span<std::string_view> campos) const {
    assert(campos.size() >= nomes_.size());
    TLeitorCampos leitor(linha, separador_);
    int presentes = 0;
    bool ha = true;
    for (size_t i = 0; i < nomes_.size(); ++i) {
        campos[i] = std::string_view();
        ha = ha && leitor.Proximo(campos[i]);
        if (ha) presentes = int(i) + 1;
    }
    return presentes;
}

void TkwUpdDBFlatFile::Append() {
    linhas_.Add("");
    Modificou();
    Last();
}

void TkwUpdDBFlatFile::LimpeRegistro() {
    registro_.clear();
    camposNoRegistro_ = 0;
}

void TkwUpdDBFlatFile::Post() {
    VerifiqueCampos();
    struct Esvazie {
        TkwUpdDBFlatFile& ds;
        ~Esvazie() { ds.LimpeRegistro(); }
    } esvazie{*this};
    for (const std::string& valor : valores_)
        AcrescenteAoRegistro(valor);
    linhas_.Set(cursor_, registro_);  // rtl::EListError outside the lines
    camposPresentes_ = int(nomes_.size());
    Modificou();
}

void TkwUpdDBFlatFile::Delete() {
    linhas_.Delete(cursor_);  // rtl::EListError outside the lines
    Modificou();
    Prior();
}

void TkwUpdDBFlatFile::Clear() {
    linhas_.Clear();
    cursor_ = -1;
    camposPresentes_ = 0;
    LimpeRegistro();
    Modificou();
}

void TkwUpdDBFlatFile::AdicioneCampo(std::string_view nome) {
    std::string normal = NormalizeNomeCampo(nome);
    if (std::find(nomes_.begin(), nomes_.end(), normal) != nomes_.end())
        throw rtl::Exception("O campo \"" + std::string(nome) + "\" já existe.");
    nomes_.push_back(std::move(normal));
    valores_.emplace_back();
}

std::string TkwUpdDBFlatFile::CampoPorNome(std::string_view nome) const {
    // A stored value is already coded (AtribuaCampo codes it; a move splits at the separator
    // and trims), so coding it again would change nothing.
    return valores_[size_t(IndiceCampo(nome))];
}

void TkwUpdDBFlatFile::AtribuaCampo(std::string_view nome, std::string_view valor) {
    const int i = IndiceCampo(nome);
    valores_[size_t(i)] = CodifiqueValor(valor);
}

bool TkwUpdDBFlatFile::CampoNulo(std::string_view nome) const {
    return CampoPorNome(nome).empty();
}

bool TkwUpdDBFlatFile::PossuiCampo(std::string_view nome) const {
    return std::any_of(nomes_.begin(), nomes_.end(),
                       [&](const std::string& n) { return rtl::SameText(n, nome); });
}

std::string TkwUpdDBFlatFile::ValorCampo(int indice) const {
    if (Bof() || Eof() || indice < 0) return std::string();
    const std::vector<std::string> campos = rtl::SplitFields(linhas_[cursor_], separador_);
    return size_t(indice) < campos.size() ? rtl::Trim(campos[size_t(indice)]) : std::string();
}

void TkwUpdDBFlatFile::Next() {
    if (!Eof()) MoveTo(cursor_ + 1);
}

void TkwUpdDBFlatFile::Prior() {
    if (!Bof()) MoveTo(cursor_ - 1);
}

void TkwUpdDBFlatFile::DetecteLayout(std::string_view texto) {
    camposPrimeiraLinha_ = ConteCamposPrimeiraLinha(texto);
    if (OnLayout) {
        nomes_.clear();
        valores_.clear();
        OnLayout(*this);
    }
}

int TkwUpdDBFlatFile::ConteCamposPrimeiraLinha(std::string_view texto) {
    if (texto.empty()) return 0;
    const std::string_view linha = PrimeiraLinha(texto);
    return 1 + int(std::count(linha.begin(), linha.end(), ';'));
}

void TkwUpdDBFlatFile::DefinaCampos(std::initializer_list<std::string_view> nomes) {
    nomes_.clear();
    valores_.clear();
    for (std::string_view n : nomes)
        AdicioneCampo(n);
}

void TkwUpdDBFlatFile::SubstituaLinhas(std::string texto) {
    linhas_.SetText(std::move(texto));
    Modificou();
}

// ---- TkwUpdDBFlatFile::TLinhas --------------------------------------------------------------

void TkwUpdDBFlatFile::TLinhas::Verifique(int i) const {
    if (i < 0 || i >= Count()) throw rtl::EListError(rtl::Format("List index out of bounds (%d)", i));
}

std::string_view TkwUpdDBFlatFile::TLinhas::operator[](int i) const {
    Verifique(i);
    return linhas_[size_t(i)].texto;
}

void TkwUpdDBFlatFile::TLinhas::SetText(std::string texto) {
    linhas_.clear();
    texto_ = std::move(texto);
    rtl::SplitLines(texto_, [this](std::string_view linha, std::string_view) {
        linhas_.push_back({linha, nullptr});
    });
}

void TkwUpdDBFlatFile::TLinhas::Add(std::string_view linha) {
    auto propria = std::make_unique<std::string>(linha);
    const std::string_view texto = *propria;
    linhas_.push_back({texto, std::move(propria)});
}

void TkwUpdDBFlatFile::TLinhas::Set(int i, std::string_view linha) {
    Verifique(i);
    TLinha& l = linhas_[size_t(i)];
    if (l.propria)
        l.propria->assign(linha);
    else
        l.propria = std::make_unique<std::string>(linha);
    l.texto = *l.propria;
}

void TkwUpdDBFlatFile::TLinhas::Delete(int i) {
    Verifique(i);
    linhas_.erase(linhas_.begin() + i);
}

void TkwUpdDBFlatFile::TLinhas::Clear() {
    linhas_.clear();
    texto_.clear();
}

std::string TkwUpdDBFlatFile::TLinhas::Text() const {
    size_t total = 0;
    for (const TLinha& l : linhas_)
        total += l.texto.size() + 2;
    std::string r;
    r.reserve(total);
    for (const TLinha& l : linhas_)
        r.append(l.texto).append("\r\n");
    return r;
}

// ---- Layouts ----------------------------------------------------------------------------------

TkwUpdDadosRequisitos::TkwUpdDadosRequisitos() {
    SetModoArquivo(ModoSomenteDono);
    const int32_t versao = ObtenhaNumeroVersao();
    DefinaLayout(versao >= 4030 ? 16 : versao >= 3300 ? 14 : 11);
    // A text of any layout reads correctly whatever the launcher's version: its first line
    // tells which one it is.
    OnLayout = [this](TkwUpdDBFlatFile&) {
        const int n = CamposPrimeiraLinha();
        DefinaLayout(n <= 13 ? 11 : n == 14 ? 14 : 16);
    };
}

void TkwUpdDadosRequisitos::DefinaLayout(int campos) {
    switch (campos) {
        case 11:
            DefinaCampos({"cdSistema", "nuSeqObjeto", "nmObjeto", "nmLocalDestino", "nmLocalOrigem",
                          "nuControle", "cdTipoOperacao", "deLocalUpdate", "deUsuario", "deSenha", "nuCRC"});
            break;
        case 14:
            DefinaCampos({"cdSistema", "nuSeqObjeto", "nmObjeto", "nmLocalDestino", "nmLocalOrigem",
                          "nuControle", "cdTipoOperacao", "deLocalUpdate", "deUsuario", "deSenha", "nuCRC",
                          "deLocalUpdate2", "flDisponivel1", "flDisponivel2"});
            break;
        case 16:
            DefinaCampos({"cdSistema", "nuSeqObjeto", "nmObjeto", "nmLocalDestino", "nmLocalOrigem",
                          "nuControle", "cdTipoOperacao", "deLocalUpdate", "deUsuario", "deSenha", "nuCRC",
                          "deLocalUpdate2", "deLocalUpdate3", "flDisponivel1", "flDisponivel2",
                          "flDisponivel3"});
            break;
        default:
            throw rtl::Exception(rtl::IntToStr(campos) + " campos não é um layout de requisitos.");
    }
}

bool TkwUpdDadosRequisitos::TemCRC() const {
    return !CampoPorNome("nuCRC").empty();
}

TkwUpdDadosHistorico::TkwUpdDadosHistorico() {
    DefinaCampos({"cdSistema", "nmComputador", "nmObjeto", "nuControle", "cdTipoOperacao", "lcArquivo",
                  "tmArquivo", "dtHrArquivo"});
}

void TkwUpdDadosHistorico::RegistreHistorico(const std::string& cdSistema, const std::string& nmObjeto,
                                             const std::string& nuControle, int cdTipoOperacao,
                                             const std::string& caminho, TkwUpdLog* log) {
    if (!OnNomeComputador || !OnDadosArquivo)
        throw rtl::Exception("O histórico não sabe o nome do computador nem os dados dos arquivos.");
    const std::string computador = rtl::UpperCase(OnNomeComputador());
    const std::string objeto = rtl::UpperCase(nmObjeto);

    // One record per system, object and operation survives: the first one found is replaced,
    // whichever workstation wrote it. A record whose operation is not a number is nobody's.
    First();
    while (!Eof()) {
        int32_t operacao = 0;
        if (CampoPorNome("cdSistema") == cdSistema && rtl::SameText(CampoPorNome("nmObjeto"), nmObjeto) &&
            rtl::TryStrToInt(CampoPorNome("cdTipoOperacao"), operacao) && operacao == cdTipoOperacao) {
            Delete();
            break;
        }
        Next();
    }

    std::string tamanho;
    std::string dataHora;
    if (cdTipoOperacao == 1 || cdTipoOperacao == 5) OnDadosArquivo(caminho, tamanho, dataHora);
    if (log != nullptr)
        log->AdicioneDetalhe("Arquivo: " + caminho + " - Tamanho: " + tamanho +
                             " - Data e hora: " + dataHora);

    Append();
    AtribuaCampo("cdSistema", cdSistema);
    AtribuaCampo("nmComputador", computador);
    AtribuaCampo("nmObjeto", objeto);
    AtribuaCampo("nuControle", nuControle);
    AtribuaCampo("cdTipoOperacao", rtl::IntToStr(cdTipoOperacao));
    AtribuaCampo("lcArquivo", caminho);
    AtribuaCampo("tmArquivo", tamanho);
    AtribuaCampo("dtHrArquivo", dataHora);
    Post();
}

TkwUpdDadosAlteracoes::TkwUpdDadosAlteracoes() {
    SetModoArquivo(ModoSomenteDono);
    const int32_t versao = ObtenhaNumeroVersao();
    DefinaLayout(versao >= 4030 ? 14 : versao >= 3300 ? 12 : 9);
    OnLayout = [this](TkwUpdDBFlatFile&) {
        const int n = CamposPrimeiraLinha();
        DefinaLayout(n <= 11 ? 9 : n == 12 ? 12 : 14);
    };
}

void TkwUpdDadosAlteracoes::DefinaLayout(int campos) {
    switch (campos) {
        case 9:
            DefinaCampos({"cdSistema", "nuSeqObjeto", "nmObjeto", "nmLocalDestino", "nmLocalOrigem",
                          "nuControle", "cdTipoOperacao", "deUsuario", "deSenha"});
            break;
        case 12:
            DefinaCampos({"cdSistema", "nuSeqObjeto", "nmObjeto", "nmLocalDestino", "nmLocalOrigem",
                          "nmLocalOrigem2", "flDisponivel1", "flDisponivel2", "nuControle", "cdTipoOperacao",
                          "deUsuario", "deSenha"});
            break;
        case 14:
            DefinaCampos({"cdSistema", "nuSeqObjeto", "nmObjeto", "nmLocalDestino", "nmLocalOrigem",
                          "nmLocalOrigem2", "nmLocalOrigem3", "flDisponivel1", "flDisponivel2",
                          "flDisponivel3", "nuControle", "cdTipoOperacao", "deUsuario", "deSenha"});
            break;
        default:
            throw rtl::Exception(rtl::IntToStr(campos) + " campos não é um layout da lista de alterações.");
    }
}

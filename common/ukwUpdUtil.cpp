// common/ukwUpdUtil.cpp: the launcher's names and folders, path texts, and the shell
// start. (The JPEG pictures are in ukwUpdUtil_jpeg.cpp.)
#include "common/ukwUpdUtil.h"

#include <mutex>

#include "common/ukwFuncoesString.h"
#include "common/ukwUpdConstante.h"
#include "common/ukwUpdTranslator.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/WinError.h"
#include "platform/WinPath.h"
#include "rtl/Stream.h"
#include "rtl/Text.h"

namespace {

std::mutex gMutexExecutavel;
std::string gCaminhoSubstituto;

// The text after the last '/' or '\'.
std::string_view NomeSemPasta(std::string_view caminho) {
    const size_t p = caminho.find_last_of("/\\");
    return p == std::string_view::npos ? caminho : caminho.substr(p + 1);
}

bool ComecaCom(std::string_view texto, std::string_view prefixo) {
    return texto.substr(0, prefixo.size()) == prefixo;
}

}  // namespace

// ---- The launcher's own executable ------------------------------------------------------

void SetExecutablePathOverride(const std::string& path) {
    std::lock_guard lock(gMutexExecutavel);
    gCaminhoSubstituto = path;
}

std::string ObtenhaCaminhoExecutavel() {
    {
        std::lock_guard lock(gMutexExecutavel);
        if (!gCaminhoSubstituto.empty()) return gCaminhoSubstituto;
    }
    return plat::CurrentExecutablePath();
}

std::string ObtenhaNomeExecutavel() {
    return ConvertaParaMaiusculas(NomeSemPasta(ObtenhaCaminhoExecutavel()));
}

std::string ObtenhaNomeBaseExecutavel() {
    const std::string nome = ObtenhaNomeExecutavel();
    return nome.substr(0, nome.find('.'));
}

std::string ObtenhaDiretorioExecutavel() {
    const std::string caminho = ObtenhaCaminhoExecutavel();
    const size_t p = caminho.find_last_of('/');
    return p == std::string::npos ? std::string("./") : caminho.substr(0, p + 1);
}

std::string ObtenhaDiretorioWindows() {
    return plat::WindowsFolder(ObtenhaDiretorioExecutavel());
}

bool EhWindows9x() {
    return false;
}

// ---- Errors ---------------------------------------------------------------------------------

std::string DescrevaErroSistema(int codigo) {
    return plat::SystemErrorText(codigo) + " (" + rtl::IntToStr(codigo) + ")";
}

std::string MensagemErroGravacao(const std::string& arquivo, const std::exception& falha) {
    int codigo = 0;
    if (const rtl::FileFailure* f = rtl::FileFailureIn(falha)) codigo = f->Code();
    if (const auto* p = dynamic_cast<const plat::EFileError*>(&falha)) codigo = p->ErrorCode();
    const std::string causa = codigo != 0 ? DescrevaErroSistema(codigo) : std::string(falha.what());
    return "Erro ao gravar o arquivo \"" + arquivo + "\". Mensagem de erro: " + causa;
}

// ---- Texts and paths ------------------------------------------------------------------------

std::string NormalizeDiretorio(std::string_view texto) {
    const std::string t = rtl::Trim(texto);
    std::string r;
    r.reserve(t.size() + 1);
    // A network path's "\\" is its root, not a doubled separator: keep it.
    size_t i = 0;
    if (t.size() >= 2 && t[0] == '\\' && t[1] == '\\') {
        r = "\\\\";
        while (i < t.size() && t[i] == '\\')
            ++i;
    }
    for (; i < t.size(); ++i) {
        if (t[i] == '\\' && !r.empty() && r.back() == '\\') continue;
        // A path from the root drops its "\\" and is the launcher's.
        if (t[i] == '\\' && r.empty()) continue;
        r += t[i];
    }
    if (!r.empty() && r.back() != '\\') r += '\\';
    return r;
}

std::string JunteTextosEntreAspas(std::string_view primeiro, std::string_view segundo) {
    if (!primeiro.empty() && primeiro.back() == '"') primeiro.remove_suffix(1);
    if (!segundo.empty() && segundo.front() == '"') segundo.remove_prefix(1);
    std::string r;
    r.reserve(primeiro.size() + segundo.size() + 1);
    r.append(primeiro).append(segundo);
    if (!r.empty() && r.front() != '"' && r.find('"') != std::string::npos) r.insert(r.begin(), '"');
    return r;
}

std::string ExpandaCaminho(std::string_view destino) {
    const std::string n = NormalizeDiretorio(destino);
    if (ComecaCom(n, "$\\")) return ObtenhaDiretorioWindows() + n.substr(2);
    if (n.size() >= 3 && n[1] == ':' && n[2] == '\\') return n;
    // A network path stands for itself (NormalizeDiretorio keeps only its "\\\\").
    if (ComecaCom(n, "\\\\")) return n;
    if (ComecaCom(n, "$CMD")) return std::string(EhWindows9x() ? "command /c " : "cmd /c ") + n.substr(4);
    return ObtenhaDiretorioExecutavel() + n;
}

bool DestinoForaDaEstacao(std::string_view pasta, std::string_view objeto) {
    const std::string n = NormalizeDiretorio(pasta);
    std::string_view resto = n;
    if (ComecaCom(n, "$\\")) {
        resto.remove_prefix(2);
    } else if ((n.size() >= 3 && n[1] == ':' && n[2] == '\\') || ComecaCom(n, "\\\\") ||
               ComecaCom(n, "$CMD")) {
        return false;
    }
    // How deep below its base the path stands after each component; ".." above the base
    // escapes it.
    int profundidade = 0;
    bool fora = false;
    auto caminhe = [&](std::string_view texto) {
        size_t i = 0;
        while (i <= texto.size() && !fora) {
            size_t j = i;
            while (j < texto.size() && texto[j] != '\\' && texto[j] != '/')
                ++j;
            const std::string_view parte = texto.substr(i, j - i);
            if (parte == "..") {
                if (--profundidade < 0) fora = true;
            } else if (!parte.empty() && parte != ".") {
                ++profundidade;
            }
            i = j + 1;
        }
    };
    caminhe(resto);
    // The object's name joins the folder: a name with separators of its own walks on.
    if (objeto.find_first_of("\\/") != std::string_view::npos ||
        objeto.find("..") != std::string_view::npos) {
        std::string_view o = objeto;
        if (!o.empty() && o.front() == '"') o.remove_prefix(1);
        if (!o.empty() && o.back() == '"') o.remove_suffix(1);
        caminhe(o);
    }
    return fora;
}

std::string MonteLinhaComando(std::string_view programa, std::string_view parametros) {
    return JunteTextosEntreAspas(ExpandaCaminho(programa), parametros);
}

std::string MonteCaminhoOrigem(std::string_view endereco, std::string_view pasta, std::string_view arquivo) {
    std::string base(endereco);
    char de = 0, para = 0;
    const std::string inicio = ConvertaParaMaiusculas(endereco.substr(0, 4));
    if (inicio.compare(0, 3, "FTP") == 0) {
        if (base.empty() || base.back() != '\\') base += '\\';
        de = '/';
        para = '\\';
    } else if (inicio == "HTTP") {
        if (base.empty() || base.back() != '/') base += '/';
        de = '\\';
        para = '/';
    }
    std::string r = base;
    r.append(pasta).append(arquivo);
    if (de != 0)
        for (char& c : r)
            if (c == de) c = para;
    return r;
}

std::string CaminhoLocal(std::string_view caminho) {
    return plat::MapWindowsPath(caminho, ObtenhaDiretorioExecutavel());
}

// ---- Starting programs ---------------------------------------------------------------------

bool ExecuteComShell(const std::string& arquivo, const std::vector<std::string>& argumentos) {
    try {
        plat::ProcessOptions opcoes;
        opcoes.detached = true;  // the launcher never waits for what it starts
        plat::StartProcess(CaminhoLocal(arquivo), argumentos, opcoes);
        return true;
    } catch (const plat::EProcessError& e) {
        UltimoErro = Traduza(30, arquivo, DescrevaErroSistema(e.ErrorCode()));
    } catch (const plat::EPathMappingError& e) {
        UltimoErro = Traduza(30, arquivo, e.Message());
    }
    return false;
}

bool ExecuteComShell(const std::string& arquivo, const std::string& parametros) {
    return ExecuteComShell(arquivo, plat::SplitWindowsCommandLine(parametros));
}

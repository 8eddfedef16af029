// transfer/ukwUpdFileUtil.cpp: the copy from update sites and the file helpers.
//
// During one CopieArquivo the destination goes: present -> set aside under its backup name ->
// written by the transfer -> either the new file stays and the backup is deleted, or the
// backup is renamed back over whatever the transfer left. Every step reports through
// UltimoErro with a catalogue text; any exception inside the copy ends it as false with
// catalogue message 16.
#include "transfer/ukwUpdFileUtil.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>

#include "common/aCRC32.h"
#include "common/ukwFuncoesString.h"
#include "common/ukwUpdConstante.h"
#include "common/ukwUpdIni.h"
#include "common/ukwUpdLog.h"
#include "common/ukwUpdTranslator.h"
#include "common/ukwUpdUtil.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/WinPath.h"
#include "rtl/DateTime.h"
#include "rtl/Exception.h"
#include "rtl/Format.h"
#include "rtl/Stream.h"
#include "rtl/Text.h"
#include "transfer/ukwBinaryPatch.h"
#include "transfer/ukwUpdFileUtilDDS.h"
#include "transfer/ukwUpdFileUtilFTP.h"
#include "transfer/ukwUpdFileUtilHTTP.h"

int32_t TempoLimiteTransferencia = 60000;
bool UsaProxy = true;
bool PermiteSSL2 = true;

namespace {

using Trava = std::lock_guard<std::recursive_mutex>;

// The local file of a path text; false when the path names a drive or share without a local
// folder (such a file cannot exist here).
bool Local(const std::string& caminho, std::string& local) {
    try {
        local = CaminhoLocal(caminho);
        return true;
    } catch (const rtl::Exception&) {
        return false;
    }
}

std::string NomeDerivado(std::string_view arquivo, std::string_view prefixo) {
    const size_t barra = arquivo.find_last_of("\\/");
    if (barra == std::string_view::npos) return std::string(prefixo) + std::string(arquivo);
    return std::string(arquivo.substr(0, barra + 1)) + std::string(prefixo) +
           std::string(arquivo.substr(barra + 1));
}

// Clears an existing local file's read-only flag; false with the errno of the failure.
bool LimpeSomenteLeitura(const std::string& local, int& erro) {
    if (!plat::FileExists(local)) return true;
    try {
        if (!plat::IsReadOnly(local)) return true;
    } catch (const plat::EFileError& e) {
        erro = e.ErrorCode();
        return false;
    }
    return plat::TrySetReadOnly(local, false, &erro);
}

// Clears the flag (emptying UltimoErro, as clearing it always did) and deletes the file;
// false with the errno of the step that failed.
bool ApagueArquivo(const std::string& caminho, int& erro) {
    Trava trava(SecaoCriticaArquivos);
    const std::string local = CaminhoLocal(caminho);
    UltimoErro.clear();
    return LimpeSomenteLeitura(local, erro) && plat::TryDeleteFile(local, &erro);
}

bool ExisteArquivo(const std::string& caminho) {
    std::string local;
    return Local(caminho, local) && plat::FileExists(local);
}

// A file's time as the history keeps it: UTC, "DD/MM/YYYY HH:MM:SS" with the workstation's
// separators, the seconds cut. The same text as rtl::DateTimeToStr of the UTC date-time, written
// directly: the verification formats one per requisite. Years outside 1000..9999 go through
// the date-time routines (which refuse what lies beyond their range).
void FormateDataHoraUTC(std::chrono::system_clock::time_point quando, std::string& texto) {
    using namespace std::chrono;
    const sys_seconds segundos = floor<seconds>(quando);
    const sys_days dia = floor<days>(segundos);
    const year_month_day data(dia);
    const int ano = int(data.year());
    if (ano < 1000 || ano > 9999) {
        texto = rtl::DateTimeToStr(rtl::DateTimeFromTimePoint(quando, true));
        return;
    }
    const hh_mm_ss<seconds> hora(segundos - dia);
    const auto doisDigitos = [](char* p, unsigned v) {
        p[0] = char('0' + v / 10);
        p[1] = char('0' + v % 10);
    };
    char b[19];
    doisDigitos(b, unsigned(data.day()));
    b[2] = rtl::FormatSettings.DateSeparator;
    doisDigitos(b + 3, unsigned(data.month()));
    b[5] = rtl::FormatSettings.DateSeparator;
    doisDigitos(b + 6, unsigned(ano / 100));
    doisDigitos(b + 8, unsigned(ano % 100));
    b[10] = ' ';
    doisDigitos(b + 11, unsigned(hora.hours().count()));
    b[13] = rtl::FormatSettings.TimeSeparator;
    doisDigitos(b + 14, unsigned(hora.minutes().count()));
    b[16] = rtl::FormatSettings.TimeSeparator;
    doisDigitos(b + 17, unsigned(hora.seconds().count()));
    texto.assign(b, sizeof b);
}

}  // namespace

// ---- Addresses ------------------------------------------------------------------------------

bool EhEnderecoHTTP(std::string_view e) {
    return rtl::StartsText("HTTP:", e) || rtl::StartsText("HTTPS:", e);
}

bool EhEnderecoFTP(std::string_view e) {
    return rtl::StartsText("FTP:", e) || rtl::StartsText("FTPPASSIVO:", e);
}

bool EhEnderecoDDS(std::string_view e) {
    return rtl::StartsText("DDS:", e);
}

std::string ConvertaHTTPParaFTP(std::string_view endereco) {
    const size_t esquema = rtl::StartsText("HTTPS:", endereco) ? 8 : 7;
    std::string resto(endereco.substr(std::min(esquema, endereco.size())));
    for (char& c : resto)
        if (c == '/') c = '\\';
    return "ftp:" + resto;
}

std::string NomeArquivoBackup(std::string_view arquivo) {
    return NomeDerivado(arquivo, "_");
}

std::string NomeArquivoPatch(std::string_view arquivo) {
    return NomeDerivado(arquivo, "PATCH_");
}

// ---- File helpers ---------------------------------------------------------------------------

bool RemovaSomenteLeitura(const std::string& caminho) {
    Trava trava(SecaoCriticaArquivos);
    UltimoErro.clear();
    std::string local;
    try {
        local = CaminhoLocal(caminho);
    } catch (const rtl::Exception& e) {
        UltimoErro = e.Message();
        return false;
    }
    int erro = 0;
    if (LimpeSomenteLeitura(local, erro)) return true;
    UltimoErro = DescrevaErroSistema(erro);
    return false;
}

namespace {

// ExamineArquivo with the launcher's folder given, through `pastas` when there is one.
void ExamineEm(const std::string& caminho, const std::string& pastaLauncher, plat::FileInfoLookup* pastas,
               TDadosArquivo& d) {
    d.local = plat::MapWindowsPath(caminho, pastaLauncher, false);
    d.arquivo = false;
    d.pasta = false;
    d.tamanho.clear();
    d.dataHora.clear();
    plat::FolderEntry info;
    bool achou = pastas != nullptr ? pastas->TryFileInfo(d.local, info) : plat::TryFileInfo(d.local, info);
    if (!achou) {
        // Requisites name files in any case; the case is resolved only for a name not found.
        std::string resolvido = plat::ResolveCaseInsensitive(d.local);
        if (resolvido != d.local) {
            d.local = std::move(resolvido);
            achou = plat::TryFileInfo(d.local, info);
        }
    }
    if (!achou) return;
    d.pasta = info.isFolder;
    d.arquivo = !info.isFolder;
    // Folders and hidden files are not what a file search finds.
    if (d.arquivo && !info.hidden) {
        // The history has always kept the low 32 bits as a signed number.
        char numero[16];
        const auto fim =
            std::to_chars(numero, numero + sizeof numero, int32_t(uint32_t(uint64_t(info.size)))).ptr;
        d.tamanho.assign(numero, size_t(fim - numero));
        FormateDataHoraUTC(info.lastWrite, d.dataHora);
    }
}

}  // namespace

TDadosArquivo ExamineArquivo(const std::string& caminho) {
    TDadosArquivo d;
    ExamineEm(caminho, ObtenhaDiretorioExecutavel(), nullptr, d);
    return d;
}

TExaminadorArquivos::TExaminadorArquivos() : pastaLauncher_(ObtenhaDiretorioExecutavel()) {}

void TExaminadorArquivos::Examine(const std::string& caminho, TDadosArquivo& d) {
    ExamineEm(caminho, pastaLauncher_, &pastas_, d);
}

void PegueDadosArquivo(const std::string& caminho, std::string& tamanho, std::string& dataHora) {
    Trava trava(SecaoCriticaArquivos);
    tamanho.clear();
    dataHora.clear();
    if (rtl::Trim(caminho).empty()) return;
    TDadosArquivo d;
    try {
        d = ExamineArquivo(caminho);
    } catch (const rtl::Exception&) {
        return;  // a drive without a local folder holds no file
    }
    tamanho = std::move(d.tamanho);
    dataHora = std::move(d.dataHora);
}

uint32_t CalculeCRCArquivo(const std::string& caminho) {
    // The exact name first: with "/check" this runs for every file of the application, and
    // resolving the case costs a system call per file that is almost always wasted.
    const std::string exato = plat::MapWindowsPath(caminho, ObtenhaDiretorioExecutavel(), false);
    std::unique_ptr<rtl::FileStream> arquivo;
    try {
        arquivo = std::make_unique<rtl::FileStream>(exato, rtl::FileMode::OpenRead);
    } catch (const rtl::EFOpenError&) {
        const std::string resolvido = plat::ResolveCaseInsensitive(exato);
        if (resolvido == exato) throw;
        arquivo = std::make_unique<rtl::FileStream>(resolvido, rtl::FileMode::OpenRead);
    }
    // The checksum of the whole file, read from its start as ComputeStreamCRC32 reads it; the
    // stream is new and dropped at once, so there is no position to remember and restore, and
    // the read buffer is the thread's own, taken once.
    constexpr size_t kBloco = 65520;
    thread_local std::unique_ptr<uint8_t[]> bloco;
    if (!bloco) bloco = std::make_unique_for_overwrite<uint8_t[]>(kBloco);
    uint32_t crc = 0xFFFFFFFFu;
    for (;;) {
        const size_t lidos = arquivo->Read(bloco.get(), kBloco);
        if (lidos == 0) break;
        crc = UpdateCRC32(bloco.get(), lidos, crc);
    }
    return ~crc;
}

bool TemCRCInformado(std::string_view crc) {
    return !(crc.empty() || crc == "0");
}

bool NaoEhOProprioExecutavel(const std::string& caminho) {
    // Compared in upper case, so the case of the names on disk plays no part: the path is
    // mapped, never looked at.
    std::string local;
    try {
        local = plat::MapWindowsPath(caminho, ObtenhaDiretorioExecutavel(), false);
    } catch (const rtl::Exception&) {
        return true;  // a drive without a local folder holds no launcher
    }
    // Upper-casing keeps a text's length, so paths of different lengths differ at once.
    const std::string proprio = ObtenhaCaminhoExecutavel();
    if (local.size() != proprio.size()) return true;
    return ConvertaParaMaiusculas(local) != ConvertaParaMaiusculas(proprio);
}

// ---- Backup, restore, drop ------------------------------------------------------------------

bool FacaBackup(const std::string& arquivo) {
    if (EhEnderecoFTP(arquivo) || EhEnderecoHTTP(arquivo)) return true;
    UltimoErro.clear();
    const std::string backup = NomeArquivoBackup(arquivo);
    const std::string localArquivo = CaminhoLocal(arquivo);
    const std::string localBackup = CaminhoLocal(backup);
    int erro = 0;
    if (plat::FileExists(localBackup) && !ApagueArquivo(backup, erro)) {
        UltimoErro = Traduza(10, backup, DescrevaErroSistema(erro));
        return false;
    }
    {
        Trava trava(SecaoCriticaArquivos);
        const size_t barra = localArquivo.rfind('/');
        if (barra != std::string::npos && barra > 0) plat::TryCreateFolders(localArquivo.substr(0, barra));
    }
    if (plat::TryRenameFile(localArquivo, localBackup, true, &erro) || erro == ENOENT) return true;
    UltimoErro = Traduza(13, arquivo, backup, DescrevaErroSistema(erro));
    return false;
}

bool RestaureBackup(const std::string& arquivo) {
    if (EhEnderecoFTP(arquivo)) return true;
    const std::string backup = NomeArquivoBackup(arquivo);
    const std::string localArquivo = CaminhoLocal(arquivo);
    const std::string localBackup = CaminhoLocal(backup);
    const bool existeArquivo = plat::FileExists(localArquivo);
    const bool existeBackup = plat::FileExists(localBackup);
    if (existeArquivo && !existeBackup) return true;  // nothing was set aside: the new file stays
    bool resultado = true;
    int erro = 0;
    if (existeArquivo && !ApagueArquivo(arquivo, erro)) {
        resultado = false;
        UltimoErro = Traduza(10, arquivo, DescrevaErroSistema(erro));
    }
    if (existeBackup) resultado = plat::TryRenameFile(localBackup, localArquivo, true, &erro);
    if (!resultado) UltimoErro = Traduza(13, backup, arquivo, DescrevaErroSistema(erro));
    return resultado;
}

bool ApagueBackup(const std::string& arquivo) {
    if (EhEnderecoFTP(arquivo)) return true;
    UltimoErro.clear();
    const std::string backup = NomeArquivoBackup(arquivo);
    if (!plat::FileExists(CaminhoLocal(backup))) return true;
    int erro = 0;
    if (ApagueArquivo(backup, erro)) return true;
    UltimoErro = Traduza(10, backup, DescrevaErroSistema(erro));
    return false;
}

// ---- Folder sites ---------------------------------------------------------------------------

bool GarantaPastaDestino(const std::string& destino) {
    Trava trava(SecaoCriticaArquivos);
    const std::string local = CaminhoLocal(destino);
    const size_t barra = local.rfind('/');
    if (barra == std::string::npos || barra == 0) return true;
    const std::string pasta = local.substr(0, barra);
    int erro = 0;
    if (plat::FolderExists(pasta) || plat::TryCreateFolders(pasta, &erro)) return true;
    UltimoErro = Traduza(14, pasta, DescrevaErroSistema(erro));
    return false;
}

bool CopieArquivoLocal(const std::string& origem, const std::string& destino) {
    UltimoErro.clear();
    if (!GarantaPastaDestino(destino)) return false;
    // The source is the site's own file, maybe shared and maybe not ours to change: its
    // read-only flag is left alone (clearing it changed a shared file's mode, and failed for a
    // reader without write rights on the site). The copy simply does not take the flag over.
    plat::CopyOptions opcoes;
    opcoes.writable = true;
    int erro = 0;
    if (plat::TryCopyFile(CaminhoLocal(origem), CaminhoLocal(destino), opcoes, &erro)) return true;
    UltimoErro = Traduza(12, origem, destino, DescrevaErroSistema(erro));
    return false;
}

// ---- The attempt loop -----------------------------------------------------------------------

bool ExecuteTentativas(const std::string& protocolo, const std::string& origem, TkwUpdLog* log,
                       const std::function<bool()>& transfira) {
    const int32_t n = kwUpdIni().MaximoTentativasDownload();
    const int32_t w = kwUpdIni().TempoEsperaSegundosNovaTentativaDownload();
    // A negative wait from the settings waits nothing, instead of wrapping into weeks.
    const int64_t espera = std::min<int64_t>(std::max<int64_t>(w, 0) * 1000, INT32_MAX);
    int32_t i = 1;
    do {
        bool ok = false;
        try {
            ok = transfira();
        } catch (...) {
            if (i > n) throw;
        }
        if (ok) return true;
        if (log != nullptr)
            log->AdicioneDetalhe(" - Tentativa (" + rtl::IntToStr(i) + "/" + rtl::IntToStr(n) +
                                 ") de download por " + protocolo + " de " + origem + " falhou. Aguardando " +
                                 rtl::IntToStr(w) + " segundos antes de tentar novamente ");
        ++i;
        plat::GetClock().Sleep(uint32_t(espera));
    } while (i <= n);
    return false;
}

// ---- CopieArquivo ---------------------------------------------------------------------------

bool CopieArquivo(const std::string& Origem, const std::string& Destino, const std::string& Usuario,
                  const std::string& Senha, bool UsaBackup, TkwUpdLog* Log, bool& Disponivel2,
                  bool& Disponivel3, const std::string& Site2, const std::string& Site3, int32_t NuControle) {
    Trava trava(SecaoCriticaArquivos);
    bool resultado = false;
    UltimoErro.clear();
    bool servidorDownload = false;
    bool patchSolicitado = false;
    bool backupFeito = false;
    std::string destino = Destino;
    try {
        if (rtl::Trim(Origem).empty()) return false;
        if (UsaBackup && !FacaBackup(destino)) return false;
        backupFeito = UsaBackup;

        if (EhEnderecoHTTP(Origem)) {
            resultado = ExecuteTentativas("HTTP", Origem, Log,
                                          [&] { return BaixeArquivoHTTP(Origem, destino, Usuario, Senha); });
        } else {
            bool transferiu = false;
            if (EhEnderecoHTTP(destino)) {
                destino = ConvertaHTTPParaFTP(destino);  // an upload: by FTP to the same host
            } else if (EhEnderecoDDS(Origem)) {
                const bool temporarioExiste = ExisteArquivo(NomeArquivoBackup(destino));
                if (Log != nullptr)
                    Log->AdicioneDetalhe(temporarioExiste ? " - bArqTemporarioExiste: SIM"
                                                          : " - bArqTemporarioExiste: NÃO");
                resultado = BaixeArquivoDDS(Origem, Disponivel2 ? Site2 : std::string(),
                                            Disponivel3 ? Site3 : std::string(), destino, Usuario, Senha,
                                            NuControle, temporarioExiste, Log, patchSolicitado);
                servidorDownload = true;
                transferiu = true;
            }
            if (!transferiu) {
                if (EhEnderecoFTP(Origem) || EhEnderecoFTP(destino))
                    resultado = ExecuteTentativas("FTP", Origem, Log, [&] {
                        return TransfiraArquivoFTP(Origem, destino, Usuario, Senha);
                    });
                else if (!EhEnderecoDDS(Origem))
                    resultado = CopieArquivoLocal(Origem, destino);
            }
        }

        if (resultado) {
            if (EhEnderecoDDS(Origem) && patchSolicitado) {
                const std::string antigo = NomeArquivoBackup(destino);
                const std::string patch = NomeArquivoPatch(destino);
                if (Log != nullptr) {
                    Log->AdicioneDetalhe(" - Aplicando Patch");
                    Log->AdicioneDetalhe(" - sFilenameOriginal: " + antigo);
                    Log->AdicioneDetalhe(" - sFilenamePatch: " + patch);
                }
                struct ApagaPatch {
                    const std::string& patch;
                    TkwUpdLog* log;
                    ~ApagaPatch() {
                        if (!ExisteArquivo(patch)) return;
                        if (log != nullptr) log->AdicioneDetalhe(" - Apagando arquivo de Patch");
                        int erro = 0;
                        ApagueArquivo(patch, erro);
                    }
                } apaga{patch, Log};
                plat::TryRenameFile(CaminhoLocal(destino), CaminhoLocal(patch), true);
                AplicarPatch(antigo, destino, patch);
                if (Log != nullptr) Log->AdicioneDetalhe(" - Patch Aplicado com Sucesso");
            }
            if (UsaBackup && !ApagueBackup(destino)) resultado = false;
        }
        if (!resultado) {
            if (UsaBackup) RestaureBackup(destino);
            if (servidorDownload) Disponivel2 = false;
        }
    } catch (const std::exception& e) {
        resultado = false;
        // The old file goes back under its own name here too (an unreadable answer, a host
        // that is not registered or a failed patch tool must not leave it as the backup);
        // the unexpected-error text is what the caller reads.
        if (backupFeito) {
            try {
                RestaureBackup(destino);
            } catch (const std::exception&) {
            }
        }
        UltimoErro = Traduza(16, std::string(e.what()));
    }
    return resultado;
}

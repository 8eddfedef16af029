// common/ukwTransfereVersaoComum.cpp: the trace file with its size rule.
#include "common/ukwTransfereVersaoComum.h"

#include <mutex>

#include "common/ukwFuncoesFile.h"
#include "common/ukwUpdUtil.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "rtl/DateTime.h"
#include "rtl/Stream.h"
#include "rtl/StringList.h"

namespace {

std::mutex gMutex;
int gContador = 1;

constexpr int64_t kTamanhoMaximo = 102400;

}  // namespace

void GraveLogDepuracao(const std::string& nomeArquivo, const std::string& mensagem) {
    std::lock_guard lock(gMutex);
    const std::string arquivo = CaminhoLocal(ObtenhaDiretorioExecutavel() + nomeArquivo);
    const bool existe = plat::FileExists(arquivo);
    if (existe && gContador > 10 && ObtenhaTamanhoArquivo(arquivo) > kTamanhoMaximo) {
        rtl::StringList linhas;
        linhas.LoadFromFile(arquivo);
        const int remover = linhas.Count() / 2 + 1;
        for (int i = 0; i < remover && linhas.Count() > 0; ++i)
            linhas.Delete(0);
        // The shortened file replaces the old one whole, so a crash never leaves half of it.
        rtl::WriteFileAtomically(arquivo, linhas.Text());
    }
    const rtl::TDateTime agora = rtl::DateTimeFromTimePoint(plat::GetClock().Now());
    const std::string linha =
        rtl::FormatDateTime("dd/mm/yyyy hh:nn:ss.zzz", agora) + " - " + mensagem + "\r\n";
    {
        rtl::FileStream f(arquivo,
                          plat::FileExists(arquivo) ? rtl::FileMode::OpenReadWrite : rtl::FileMode::Create);
        f.Seek(0, rtl::SeekOrigin::End);
        f.WriteBuffer(linha);
    }
    gContador = gContador > 10 ? 1 : gContador + 1;
}

void ReinicieContadorLogDepuracao() {
    std::lock_guard lock(gMutex);
    gContador = 1;
}

// common/ukwFuncoesFile.cpp: a file's size and version text.
#include "common/ukwFuncoesFile.h"

#include "common/ukwUpdUtil.h"
#include "common/ukwUpdVersao.h"
#include "platform/Files.h"
#include "rtl/Text.h"

int64_t ObtenhaTamanhoArquivo(const std::string& nome) {
    try {
        int64_t tamanho = 0;
        if (plat::TryFileSize(CaminhoLocal(nome), tamanho)) return tamanho;
    } catch (const rtl::Exception&) {
        // A path that maps to no local folder names no file we can find.
    }
    return -1;
}

std::string ObtenhaVersaoArquivo(const std::string& caminho) {
    const auto v = LeiaVersaoArquivo(caminho);
    if (!v) return {};
    return rtl::IntToStr(v->Major) + "." + rtl::IntToStr(v->Minor) + "." + rtl::IntToStr(v->Release) + "." +
           rtl::IntToStr(v->Build);
}

// common/ukwFuncoesString.cpp: fields, character removal, upper case, visible controls.
#include "common/ukwFuncoesString.h"

#include "rtl/Text.h"

std::string RemovaCaractere(std::string_view texto, char caractere) {
    std::string r;
    r.reserve(texto.size());
    for (char c : texto)
        if (c != caractere) r += c;
    return r;
}

std::string ObtenhaCampo(std::string_view texto, std::string_view separador, int n) {
    if (n < 1 || separador.empty()) return {};
    size_t inicio = 0;
    for (int i = 1; i < n; ++i) {
        const size_t p = texto.find(separador, inicio);
        if (p == std::string_view::npos) return {};
        inicio = p + separador.size();
    }
    const size_t fim = texto.find(separador, inicio);
    return std::string(
        texto.substr(inicio, fim == std::string_view::npos ? std::string_view::npos : fim - inicio));
}

int ConteCampos(std::string_view texto, std::string_view separador) {
    if (separador.empty()) return 0;
    int n = 1;
    for (size_t p = texto.find(separador); p != std::string_view::npos;
         p = texto.find(separador, p + separador.size()))
        ++n;
    return n;
}

std::string ConvertaParaMaiusculas(std::string_view texto) {
    return rtl::UpperCase(texto);
}

void AcrescenteControleVisivel(char c, std::string& destino) {
    static const char kHex[] = "0123456789ABCDEF";
    const auto u = static_cast<unsigned char>(c);
    destino += "\\x";
    destino += kHex[u >> 4];
    destino += kHex[u & 15];
}

std::string TextoVisivel(std::string_view texto) {
    std::string r;
    r.reserve(texto.size());
    for (char c : texto) {
        if (EhControleInvisivel(c))
            AcrescenteControleVisivel(c, r);
        else
            r += c;
    }
    return r;
}

// launcher/base/ukwUpdCriptografia.cpp: password descrambling.
#include "launcher/base/ukwUpdCriptografia.h"

#include "rtl/Text.h"

namespace {

constexpr std::string_view kChave = "k3mq8zrwd0vhx5ntpa2c";
constexpr size_t kTamanho = 20;
static_assert(kChave.size() == kTamanho);

}  // namespace

std::string Descriptografe(std::string_view embaralhado) {
    // Take the key away from the positions the value has; the rest is padding.
    std::string intermediario(kTamanho, ' ');
    const size_t n = embaralhado.size() < kTamanho ? embaralhado.size() : kTamanho;
    for (size_t i = 0; i < n; ++i)
        intermediario[i] = char(uint8_t(uint8_t(embaralhado[i]) - uint8_t(kChave[i])));
    // Undo the reversal of each group of four.
    std::string claro;
    claro.reserve(kTamanho);
    for (size_t g = 0; g < kTamanho; g += 4)
        for (size_t k = 4; k > 0; --k)
            claro += intermediario[g + k - 1];
    return rtl::Trim(claro);
}

// transfer/ukwSCONNECTBlock.cpp: the data block's buffer and its checks.
#include "transfer/ukwSCONNECTBlock.h"

#include <algorithm>
#include <cstring>

#include "rtl/Bytes.h"
#include "rtl/Exception.h"

void ErroBlocoInvalido() {
    throw rtl::Exception("Base de dados inválida");
}

void CheckDataBlockSignature(int32_t assinatura) {
    const int32_t tipo = assinatura & 0xFF00;
    if (tipo != kAssinaturaChamada && tipo != kAssinaturaResposta) ErroBlocoInvalido();
}

TDataBlock::TDataBlock() : buffer_(kBytesReservados, 0) {}

int32_t TDataBlock::Signature() const {
    return int32_t(rtl::load_le32(buffer_.data()));
}

void TDataBlock::SetSignature(int32_t assinatura) {
    rtl::store_le32(buffer_.data(), uint32_t(assinatura));
}

void TDataBlock::SetSize(int32_t tamanho) {
    if (tamanho < 0 || tamanho > kTamanhoMaximoCarga) ErroBlocoInvalido();
    buffer_.resize(size_t(tamanho) + kBytesReservados, 0);
    if (readPos_ > buffer_.size()) readPos_ = buffer_.size();
    if (writePos_ > buffer_.size()) writePos_ = buffer_.size();
}

std::span<const uint8_t> TDataBlock::Memory() {
    rtl::store_le32(buffer_.data() + 4, uint32_t(Size()));
    return buffer_;
}

void TDataBlock::Clear() {
    buffer_.resize(kBytesReservados);
    readPos_ = writePos_ = kBytesReservados;
}

void TDataBlock::Write(const void* dados, size_t quantidade) {
    if (quantidade > size_t(kTamanhoMaximoCarga) + kBytesReservados - writePos_) ErroBlocoInvalido();
    if (writePos_ + quantidade > buffer_.size()) buffer_.resize(writePos_ + quantidade);
    if (quantidade != 0) std::memcpy(buffer_.data() + writePos_, dados, quantidade);
    writePos_ += quantidade;
}

size_t TDataBlock::Read(void* dados, size_t quantidade) {
    const size_t n = std::min(quantidade, Remaining());
    if (n != 0) std::memcpy(dados, buffer_.data() + readPos_, n);
    readPos_ += n;
    return n;
}

void TDataBlock::ReadExact(void* dados, size_t quantidade) {
    if (quantidade > Remaining()) ErroBlocoInvalido();
    Read(dados, quantidade);
}

int32_t TDataBlock::TomarBytes(std::span<const uint8_t> bytes, bool verificarTamanho) {
    if (bytes.size() < size_t(kBytesReservados)) ErroBlocoInvalido();
    const auto assinatura = int32_t(rtl::load_le32(bytes.data()));
    CheckDataBlockSignature(assinatura);
    const auto declarado = int32_t(rtl::load_le32(bytes.data() + 4));
    const size_t carga = bytes.size() - kBytesReservados;
    if (verificarTamanho && (declarado < 0 || size_t(declarado) != carga)) ErroBlocoInvalido();
    if (carga > size_t(kTamanhoMaximoCarga)) ErroBlocoInvalido();
    Clear();
    SetSignature(assinatura);
    Write(bytes.data() + kBytesReservados, carga);
    return declarado;
}

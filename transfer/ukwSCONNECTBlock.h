// transfer/ukwSCONNECTBlock.h: the data block, the unit in which everything the launcher says
// to the application server or a load balancer travels.
//
// A block is an 8-byte header and a payload of encoded values (ukwSCONNECTInterpreter.h);
// every integer is little-endian:
//
//   bytes 0-3  signature  bits 8-15: 0xDA a call, 0xDB a reply; bits 0-7: the action
//   bytes 4-7  size       the payload's length in bytes (the block's length less 8)
//   bytes 8..  payload
//
// What must stay true: the buffer always holds the header and exactly Size() payload bytes;
// the read and write positions stay within it (both start at 8, after the header); a payload
// never exceeds kTamanhoMaximoCarga, so a declared size from the wire is refused before
// anything is allocated. Reading past the payload's end yields fewer bytes (Read) or refuses
// the block (ReadExact): a value cut short never reads what is not there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Signature bits 8-15.
inline constexpr int32_t kAssinaturaChamada = 0xDA00;
inline constexpr int32_t kAssinaturaResposta = 0xDB00;
// Actions (signature bits 0-7).
inline constexpr int32_t kAcaoErro = 0x01;
inline constexpr int32_t kAcaoInvocar = 0x02;
inline constexpr int32_t kAcaoIdentificador = 0x03;
inline constexpr int32_t kAcaoCriarObjeto = 0x04;
inline constexpr int32_t kAcaoLiberarObjeto = 0x05;
inline constexpr int32_t kAcaoListaServidores = 0x10;
inline constexpr int32_t kAcaoListaServidoresAplicacao = 0x12;

// The largest payload accepted from the wire or built here: the launcher's largest exchange
// (a requisites text of some tens of thousands of lines, as UTF-16) is a few megabytes; a
// declared size beyond this is a broken or hostile peer, refused before any allocation.
inline constexpr int32_t kTamanhoMaximoCarga = 64 * 1024 * 1024;

// Raises the plain exception "Base de dados inválida": a block whose header, length or
// values do not hold together.
[[noreturn]] void ErroBlocoInvalido();

// Refuses a signature whose bits 8-15 are neither 0xDA nor 0xDB ("Base de dados inválida").
void CheckDataBlockSignature(int32_t assinatura);

inline int32_t AcaoDoBloco(int32_t assinatura) {
    return assinatura & 0xFF;
}

class TDataBlock {
public:
    static constexpr int32_t kBytesReservados = 8;

    TDataBlock();

    int32_t Signature() const;
    void SetSignature(int32_t assinatura);
    // The payload's length.
    int32_t Size() const { return int32_t(buffer_.size()) - kBytesReservados; }
    // Resizes the payload (new bytes are 0); positions past the new end move back to it.
    // A size below 0 or above kTamanhoMaximoCarga refuses the block.
    void SetSize(int32_t tamanho);
    // The whole block, header and payload, with the payload's length written into bytes 4-7.
    std::span<const uint8_t> Memory();
    // The payload, for the cipher that transforms it in place.
    std::span<uint8_t> Payload() { return {buffer_.data() + kBytesReservados, buffer_.size() - kBytesReservados}; }

    // Payload length 0; read and write positions back to 8.
    void Clear();
    // Appends at the write position (growing the payload as needed) and advances it.
    void Write(const void* dados, size_t quantidade);
    // Copies up to quantidade bytes from the read position and advances; answers how many.
    size_t Read(void* dados, size_t quantidade);
    // Exactly quantidade bytes, or the block is refused.
    void ReadExact(void* dados, size_t quantidade);
    // Payload bytes not read yet.
    size_t Remaining() const { return buffer_.size() - readPos_; }

    // Takes a block from received bytes: at least 8; the signature is checked and stored; with
    // the length check the bytes must be exactly the declared size plus 8, else the payload is
    // whatever follows the header. Answers the declared size. Any mismatch refuses the block.
    int32_t TomarBytes(std::span<const uint8_t> bytes, bool verificarTamanho);

private:
    std::vector<uint8_t> buffer_;
    size_t readPos_ = kBytesReservados;
    size_t writePos_ = kBytesReservados;
};

// bench/crypto_facade.cpp: AES-128-CBC through the symmetric facade (TElSymmetricCrypto on the
// default provider) against OpenSSL's EVP in the same run, one line per case through
// bench/BenchLine.h ("case ours peer MB/s speed").
//
// Records: EncryptUpdate and DecryptUpdate of 16 KiB records on one initialised object,
// padding off (the way TLS protects records). One-shot: Encrypt and Decrypt of 1 MiB with
// padding, each a whole message (context, key schedule and all), against EVP's init, update
// and final over the same bytes.
#include <openssl/evp.h>

#include <functional>
#include <random>
#include <vector>

#include "bench/BenchLine.h"
#include "bench/BenchSupport.h"
#include "crypto/base/SBConstants.h"
#include "crypto/facade/SBSymmetricCrypto.h"

namespace {

constexpr size_t kMessage = 1024 * 1024;

// Whole messages of kMessage bytes: ours and the peer alternate, the best round of each.
void ReportMessage(const char* name, const std::function<void()>& ours, const std::function<void()>& peer) {
    const bench::CallRates rates = bench::BestCallRates(ours, peer);
    bench::PrintRates(name, rates.ours * kMessage / 1e6, rates.peer * kMessage / 1e6, "MB/s");
}

// One EVP message: init, update, final, with padding.
void EvpMessage(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* cipher, const std::vector<uint8_t>& key,
                const std::vector<uint8_t>& iv, const uint8_t* in, size_t n, uint8_t* out, bool encrypt) {
    int written = 0, tail = 0;
    EVP_CipherInit_ex2(ctx, cipher, key.data(), iv.data(), encrypt ? 1 : 0, nullptr);
    EVP_CipherUpdate(ctx, out, &written, in, int(n));
    EVP_CipherFinal_ex(ctx, out + written, &tail);
}

}  // namespace

int main() {
    std::mt19937 rng(7);
    std::vector<uint8_t> key(16), iv(16), data(kMessage), out(kMessage + 16), back(kMessage + 16);
    for (auto* v : {&key, &iv, &data})
        for (auto& b : *v)
            b = uint8_t(rng());

    TElSymmetricKeyMaterial material;
    material.SetKey(key);
    material.SetIV(iv);

    // Records on one initialised object.
    auto enc = TElSymmetricCrypto::CreateByAlgorithm(SB_ALG_AES128, SYMMETRIC_MODE_CBC);
    enc->SetKeyMaterial(&material);
    enc->SetPadding(SB_SYMENC_PADDING_NONE);
    enc->InitializeEncryption();
    bench::EvpCipher evpEnc("AES-128-CBC", key, iv.data(), true);
    bench::Report(
        "aes-128-cbc-facade-encrypt-records",
        [&] {
            size_t size = bench::kBuffer;
            enc->EncryptUpdate(data.data(), bench::kBuffer, out.data(), size);
        },
        [&] { evpEnc.Run(data.data(), out.data()); });
    auto dec = TElSymmetricCrypto::CreateByAlgorithm(SB_ALG_AES128, SYMMETRIC_MODE_CBC);
    dec->SetKeyMaterial(&material);
    dec->SetPadding(SB_SYMENC_PADDING_NONE);
    dec->InitializeDecryption();
    bench::EvpCipher evpDec("AES-128-CBC", key, iv.data(), false);
    bench::Report(
        "aes-128-cbc-facade-decrypt-records",
        [&] {
            size_t size = bench::kBuffer;
            dec->DecryptUpdate(data.data(), bench::kBuffer, back.data(), size);
        },
        [&] { evpDec.Run(data.data(), back.data()); });

    // Whole messages.
    auto oneShot = TElSymmetricCrypto::CreateByAlgorithm(SB_ALG_AES128, SYMMETRIC_MODE_CBC);
    oneShot->SetKeyMaterial(&material);
    std::unique_ptr<EVP_CIPHER, decltype(&EVP_CIPHER_free)> cipher(EVP_CIPHER_fetch(nullptr, "AES-128-CBC", nullptr),
                                                                   &EVP_CIPHER_free);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!cipher || !ctx) return 1;
    size_t cipherSize = out.size();
    oneShot->Encrypt(data.data(), kMessage, out.data(), cipherSize);
    ReportMessage(
        "aes-128-cbc-facade-encrypt-1mib",
        [&] {
            size_t size = out.size();
            oneShot->Encrypt(data.data(), kMessage, out.data(), size);
        },
        [&] { EvpMessage(ctx.get(), cipher.get(), key, iv, data.data(), kMessage, back.data(), true); });
    ReportMessage(
        "aes-128-cbc-facade-decrypt-1mib",
        [&] {
            size_t size = back.size();
            oneShot->Decrypt(out.data(), cipherSize, back.data(), size);
        },
        [&] { EvpMessage(ctx.get(), cipher.get(), key, iv, out.data(), cipherSize, back.data(), false); });
    return 0;
}

// tests/crypto/GcryptPeer.h: libgcrypt as the independent peer of the Twofish and Serpent
// tests (OpenSSL has neither cipher): one call runs a cipher in ECB mode over whole blocks,
// another any libgcrypt cipher in ECB, CBC, CFB or CTR (the modes OpenSSL lacks for the older
// ciphers) without padding.
//
// libgcrypt is found at configure time (KW_HAVE_GCRYPT); GcryptAvailable() is false without
// it, and the tests that need it skip through KW_REQUIRE_PEER.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#if defined(KW_HAVE_GCRYPT)
#include <gcrypt.h>
#endif

namespace kwtest {

enum class GcryptCipher { Twofish, Serpent };

inline bool GcryptAvailable() {
#if defined(KW_HAVE_GCRYPT)
    static const bool ready = [] {
        if (!gcry_check_version(nullptr)) return false;
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    return ready;
#else
    return false;
#endif
}

inline std::vector<uint8_t> GcryptEcb(GcryptCipher which, const std::vector<uint8_t>& key,
                                      const std::vector<uint8_t>& data, bool encrypt) {
#if defined(KW_HAVE_GCRYPT)
    if (!GcryptAvailable()) throw std::runtime_error("libgcrypt not initialised");
    int algo = 0;
    if (which == GcryptCipher::Twofish)
        algo = key.size() == 16 ? GCRY_CIPHER_TWOFISH128 : GCRY_CIPHER_TWOFISH;
    else
        algo = key.size() <= 16   ? GCRY_CIPHER_SERPENT128
               : key.size() <= 24 ? GCRY_CIPHER_SERPENT192
                                  : GCRY_CIPHER_SERPENT256;
    gcry_cipher_hd_t h = nullptr;
    if (gcry_cipher_open(&h, algo, GCRY_CIPHER_MODE_ECB, 0) != 0)
        throw std::runtime_error("gcry_cipher_open failed");
    std::vector<uint8_t> out(data.size());
    gcry_error_t e = gcry_cipher_setkey(h, key.data(), key.size());
    if (e == 0)
        e = encrypt ? gcry_cipher_encrypt(h, out.data(), out.size(), data.data(), data.size())
                    : gcry_cipher_decrypt(h, out.data(), out.size(), data.data(), data.size());
    gcry_cipher_close(h);
    if (e != 0) throw std::runtime_error(std::string("libgcrypt: ") + gcry_strerror(e));
    return out;
#else
    (void)which;
    (void)key;
    (void)data;
    (void)encrypt;
    throw std::runtime_error("built without libgcrypt");
#endif
}

// mode: GCRY_CIPHER_MODE_ECB, _CBC, _CFB (whole-block segments) or _CTR; the IV (the counter
// in CTR) as given. data: whole blocks for ECB and CBC.
inline std::vector<uint8_t> GcryptCrypt(int algo, int mode, const std::vector<uint8_t>& key,
                                        const std::vector<uint8_t>& iv, const std::vector<uint8_t>& data,
                                        bool encrypt) {
#if defined(KW_HAVE_GCRYPT)
    if (!GcryptAvailable()) throw std::runtime_error("libgcrypt not initialised");
    gcry_cipher_hd_t h = nullptr;
    if (gcry_cipher_open(&h, algo, mode, 0) != 0) throw std::runtime_error("gcry_cipher_open failed");
    std::vector<uint8_t> out(data.size());
    gcry_error_t e = gcry_cipher_setkey(h, key.data(), key.size());
    if (e == 0 && !iv.empty())
        e = mode == GCRY_CIPHER_MODE_CTR ? gcry_cipher_setctr(h, iv.data(), iv.size())
                                         : gcry_cipher_setiv(h, iv.data(), iv.size());
    if (e == 0 && !data.empty())
        e = encrypt ? gcry_cipher_encrypt(h, out.data(), out.size(), data.data(), data.size())
                    : gcry_cipher_decrypt(h, out.data(), out.size(), data.data(), data.size());
    gcry_cipher_close(h);
    if (e != 0) throw std::runtime_error(std::string("libgcrypt: ") + gcry_strerror(e));
    return out;
#else
    (void)algo;
    (void)mode;
    (void)key;
    (void)iv;
    (void)data;
    (void)encrypt;
    throw std::runtime_error("built without libgcrypt");
#endif
}

}  // namespace kwtest

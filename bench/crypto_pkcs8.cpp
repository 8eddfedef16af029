// bench/crypto_pkcs8.cpp: loading a PBES2 / triple-DES PKCS#8 RSA key of 100,000 iterations
// (HMAC-SHA1) through TElPKCS8PrivateKey, against libcrypto's d2i_X509_SIG and PKCS8_decrypt on
// the same bytes in the same run; one line through bench/BenchLine.h ("case ours peer ms
// speed"). Nearly all of either side's time is the PBKDF2 loop: two blocks of 100,000 HMACs.
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "bench/BenchLine.h"
#include "bench/BenchSupport.h"
#include "crypto/keys/SBPKCS8.h"

namespace {

constexpr int kIterations = 100000;
constexpr int kRuns = 5;
const char* const kPassword = "bench passphrase";

// The best of kRuns runs, in milliseconds.
double BestMs(const std::function<void()>& fn) {
    using Clock = std::chrono::steady_clock;
    double best = 1e300;
    for (int r = 0; r < kRuns; ++r) {
        const auto start = Clock::now();
        fn();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return best;
}

std::string MakeKey() {
    EVP_PKEY* pkey = EVP_RSA_gen(2048);
    PKCS8_PRIV_KEY_INFO* p8 = EVP_PKEY2PKCS8(pkey);
    unsigned char salt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    X509_ALGOR* algor =
        PKCS5_pbe2_set_iv(EVP_des_ede3_cbc(), kIterations, salt, sizeof(salt), nullptr, NID_hmacWithSHA1);
    X509_SIG* sig = PKCS8_set0_pbe(kPassword, int(std::char_traits<char>::length(kPassword)), p8, algor);
    unsigned char* der = nullptr;
    const int len = i2d_X509_SIG(sig, &der);
    std::string out(reinterpret_cast<char*>(der), size_t(len));
    OPENSSL_free(der);
    X509_SIG_free(sig);
    PKCS8_PRIV_KEY_INFO_free(p8);
    EVP_PKEY_free(pkey);
    return out;
}

}  // namespace

int main() {
    if (!bench::LoadOpenSSLProviders()) return 1;
    const std::string der = MakeKey();
    const double ours = BestMs([&] {
        TElPKCS8PrivateKey key;
        if (key.LoadFromBuffer(der.data(), der.size(), kPassword) != 0) std::abort();
    });
    const double peer = BestMs([&] {
        const auto* p = reinterpret_cast<const unsigned char*>(der.data());
        X509_SIG* sig = d2i_X509_SIG(nullptr, &p, long(der.size()));
        PKCS8_PRIV_KEY_INFO* p8 =
            PKCS8_decrypt(sig, kPassword, int(std::char_traits<char>::length(kPassword)));
        if (p8 == nullptr) std::abort();
        PKCS8_PRIV_KEY_INFO_free(p8);
        X509_SIG_free(sig);
    });
    bench::PrintTimes("pkcs8-pbes2-3des-100000-load", ours, peer);
    return 0;
}

// bench/crypto_pki.cpp: parsing and validating a three-certificate RSA-2048 / SHA-256 chain
// (root stored, intermediate and end certificate parsed from DER each time) against libcrypto's
// d2i_X509 and X509_verify_cert in the same run, one line through bench/BenchLine.h
// ("case ours peer ops/s speed").
//
// The chain is made by the openssl tool in a temporary folder when the program starts.
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "bench/BenchLine.h"
#include "bench/BenchSupport.h"
#include "pki/SBCustomCertStorage.h"
#include "rtl/Stream.h"

namespace {

namespace fs = std::filesystem;

bool Run(const fs::path& dir, const std::string& args) {
    const std::string cmd = "cd '" + dir.string() + "' && openssl " + args + " > /dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

X509* ParseDER(const std::string& der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    return d2i_X509(nullptr, &p, long(der.size()));
}

}  // namespace

int main() {
    char pattern[] = "/tmp/kw-bench-pki-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) return 1;
    const fs::path dir = made;
    const char* ext = "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n";
    std::ofstream(dir / "ca.ext") << ext;
    const bool ok =
        Run(dir, "req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.der -outform DER -days 30 -subj /CN=Root "
                 "-sha256") &&
        Run(dir, "req -new -newkey rsa:2048 -nodes -keyout int.key -out int.csr -subj /CN=Intermediate") &&
        Run(dir, "x509 -req -in int.csr -CA root.der -CAform DER -CAkey root.key -set_serial 2 -days 30 -sha256 "
                 "-extfile ca.ext -outform DER -out int.der") &&
        Run(dir, "req -new -newkey rsa:2048 -nodes -keyout ee.key -out ee.csr -subj /CN=End") &&
        Run(dir, "x509 -req -in ee.csr -CA int.der -CAform DER -CAkey int.key -set_serial 3 -days 30 -sha256 "
                 "-outform DER -out ee.der");
    if (!ok) {
        std::fprintf(stderr, "crypto_pki: the openssl tool could not make the chain\n");
        fs::remove_all(dir);
        return 1;
    }
    const std::string root = rtl::ReadFileBytes(dir / "root.der"),
                      inter = rtl::ReadFileBytes(dir / "int.der"), ee = rtl::ReadFileBytes(dir / "ee.der");
    fs::remove_all(dir);

    TElX509Certificate rootCert;
    rootCert.LoadFromBuffer(root.data(), root.size());
    TElMemoryCertStorage storage;
    storage.Add(&rootCert);
    X509* rootX = ParseDER(root);
    X509_STORE* store = X509_STORE_new();
    X509_STORE_add_cert(store, rootX);
    bool ourResult = false, peerResult = false;
    const auto ours = [&] {
        TElX509CertificateChain chain;
        TElX509Certificate e, i;
        e.LoadFromBuffer(ee.data(), ee.size());
        i.LoadFromBuffer(inter.data(), inter.size());
        chain.AddCopy(&e);
        chain.AddCopy(&i);
        TSBCertificateValidityReason reason = 0;
        ourResult = storage.Validate(chain.GetCertificate(0), reason, 0) == cvOk;
    };
    const auto peer = [&] {
        X509* e = ParseDER(ee);
        X509* i = ParseDER(inter);
        STACK_OF(X509)* untrusted = sk_X509_new_null();
        sk_X509_push(untrusted, i);
        X509_STORE_CTX* ctx = X509_STORE_CTX_new();
        X509_STORE_CTX_init(ctx, store, e, untrusted);
        peerResult = X509_verify_cert(ctx) == 1;
        X509_STORE_CTX_free(ctx);
        sk_X509_pop_free(untrusted, X509_free);
        X509_free(e);
    };
    const bench::CallRates rates = bench::BestCallRates(ours, peer);
    X509_STORE_free(store);
    X509_free(rootX);
    if (!ourResult || !peerResult) {
        std::fprintf(stderr, "crypto_pki: the chain did not validate (ours %d, libcrypto %d)\n", ourResult, peerResult);
        return 1;
    }
    bench::PrintRates("pki-parse-validate-rsa2048-chain3", rates.ours, rates.peer, "ops/s");
    return 0;
}

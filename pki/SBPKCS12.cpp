// pki/SBPKCS12.cpp: PKCS#12 key derivation.
#include "pki/SBPKCS12.h"

#include <algorithm>

#include "crypto/SBConstants.h"
#include "crypto/SBHashFunction.h"

namespace {

// Output size u and block size v of the digests RFC 7292 B.2 is used with here.
bool DigestSizes(int32_t digest, size_t& u, size_t& v) {
    switch (digest) {
        case SB_ALG_SHA1:
            u = 20, v = 64;
            return true;
        case SB_ALG_MD5:
            u = 16, v = 64;
            return true;
        case SB_ALG_SHA256:
            u = 32, v = 64;
            return true;
        case SB_ALG_SHA384:
            u = 48, v = 128;
            return true;
        case SB_ALG_SHA512:
            u = 64, v = 128;
            return true;
        default:
            return false;
    }
}

// The input repeated and cut to v * ceil(length / v) bytes (B.2 steps 2 and 3).
void AppendStretched(rtl::SecureBytes& out, std::string_view in, size_t v) {
    if (in.empty()) return;
    const size_t total = v * ((in.size() + v - 1) / v);
    for (size_t i = 0; i < total; ++i)
        out.push_back(uint8_t(in[i % in.size()]));
}

}  // namespace

rtl::SecureBytes PKCS12PasswordToBMP(std::string_view password) {
    rtl::SecureBytes bmp;
    if (password.empty()) return bmp;
    ByteString le;
    StringToWideBytes(password, le);
    bmp.reserve(le.size() + 2);
    for (size_t i = 0; i + 1 < le.size(); i += 2) {
        bmp.push_back(uint8_t(le[i + 1]));
        bmp.push_back(uint8_t(le[i]));
    }
    ClearString(le);
    bmp.push_back(0);
    bmp.push_back(0);
    return bmp;
}

rtl::SecureBytes DerivePKCS12Key(std::string_view password, std::string_view salt, int32_t id, int32_t n,
                                 int32_t iterations, int32_t digest) {
    const rtl::SecureBytes bmp = PKCS12PasswordToBMP(password);
    return DerivePKCS12KeyFromBMP(std::string_view(reinterpret_cast<const char*>(bmp.data()), bmp.size()),
                                  salt, id, n, iterations, digest);
}

rtl::SecureBytes DerivePKCS12KeyFromBMP(std::string_view bmpPassword, std::string_view salt, int32_t id,
                                        int32_t n, int32_t iterations, int32_t digest) {
    size_t u = 0, v = 0;
    rtl::SecureBytes out;
    if (!DigestSizes(digest, u, v) || n <= 0) return out;
    const rtl::SecureBytes d(v, uint8_t(id));
    rtl::SecureBytes i;
    AppendStretched(i, salt, v);
    AppendStretched(i, bmpPassword, v);
    rtl::SecureBytes b(v);
    TElHashFunction h(digest);
    out.reserve(size_t(n) + u);
    while (out.size() < size_t(n)) {
        // A_i = H^r(D || I)
        h.Reset();
        h.Update(d.data(), d.size());
        h.Update(i.data(), i.size());
        ByteString a = h.Finish();
        for (int32_t r = 1; r < iterations; ++r) {
            h.Reset();
            h.Update(a.data(), a.size());
            ByteString next = h.Finish();
            ClearString(a);
            a.swap(next);
        }
        out.insert(out.end(), a.begin(), a.end());
        if (out.size() >= size_t(n)) {
            ClearString(a);
            break;
        }
        // I_j := (I_j + B + 1) mod 2^(8v) for every v-byte block of I, B being A repeated.
        for (size_t k = 0; k < v; ++k)
            b[k] = uint8_t(a[k % a.size()]);
        ClearString(a);
        for (size_t j = 0; j < i.size(); j += v) {
            unsigned carry = 1;
            for (size_t k = v; k-- > 0;) {
                const unsigned sum = unsigned(i[j + k]) + b[k] + carry;
                i[j + k] = uint8_t(sum);
                carry = sum >> 8;
            }
        }
    }
    out.resize(size_t(n));
    return out;
}

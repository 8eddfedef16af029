// crypto/sym/SBBlowfish.cpp: Blowfish key setup and the sixteen-round Feistel network.
//
// Key setup XORs the cycled key into the initial P-array (digits of pi) and then replaces
// P and the S-boxes, two words at a time, by successive encryptions of a running block that
// starts at zero: 521 encryptions per key. The rounds are unrolled two at a time so that L
// and R never swap registers. CBC encryption runs its blocks through the same rounds inline,
// so the chaining value stays in registers from one block to the next.
#include "crypto/sym/SBBlowfish.h"

#include <cstddef>
#include <cstring>

#include "rtl/Bytes.h"
#include "rtl/Format.h"

namespace {

#include "crypto/sym/tables/SBBlowfishTables.inc"

inline uint32_t F(const BlowfishState& s, uint32_t x) {
    return ((s.S[0][x >> 24] + s.S[1][(x >> 16) & 0xff]) ^ s.S[2][(x >> 8) & 0xff]) + s.S[3][x & 0xff];
}

// Sixteen rounds forward, inline so that a run of CBC blocks keeps L and R in registers.
inline void Encrypt(const BlowfishState& state, uint32_t& L, uint32_t& R) {
    const uint32_t* P = state.P;
    uint32_t l = L;
    uint32_t r = R;
#pragma GCC unroll 8
    for (int i = 0; i < 16; i += 2) {
        l ^= P[i];
        r ^= F(state, l);
        r ^= P[i + 1];
        l ^= F(state, r);
    }
    // After an even number of rounds the halves are back in place: the undone last swap
    // leaves the final XORs on the opposite words.
    L = r ^ P[17];
    R = l ^ P[16];
}

}  // namespace

BlowfishState::~BlowfishState() {
    rtl::secure_wipe(this, sizeof(*this));
}

void BlowfishKeySchedule(BlowfishState& state, std::span<const uint8_t> key) {
    if (key.empty()) throw EEncryptionError(rtl::Format("Invalid key size [%d bits]", 0));
    std::memcpy(state.P, kBlowfishInitP, sizeof(state.P));
    std::memcpy(state.S, kBlowfishInitS, sizeof(state.S));

    // The key position runs on across words and wraps to byte 0 at the end of the key.
    size_t k = 0;
    for (uint32_t& p : state.P) {
        uint32_t word = 0;
        for (int b = 0; b < 4; ++b) {
            word = (word << 8) | key[k];
            if (++k == key.size()) k = 0;
        }
        p ^= word;
    }

    uint32_t L = 0;
    uint32_t R = 0;
    for (int i = 0; i < 18; i += 2) {
        BlowfishEncryptWords(state, L, R);
        state.P[i] = L;
        state.P[i + 1] = R;
    }
    for (auto& box : state.S) {
        for (int i = 0; i < 256; i += 2) {
            BlowfishEncryptWords(state, L, R);
            box[i] = L;
            box[i + 1] = R;
        }
    }
    // The last running block is the P/S content itself; nothing else to clear.
}

void BlowfishEncryptWords(const BlowfishState& state, uint32_t& L, uint32_t& R) {
    Encrypt(state, L, R);
}

void BlowfishEncryptBlocksCBC(const uint8_t* input, const BlowfishState& state, uint8_t* chain,
                              uint8_t* output, size_t count) {
    uint32_t l = rtl::load_be32(chain);
    uint32_t r = rtl::load_be32(chain + 4);
    for (size_t i = 0; i < count; ++i) {
        l ^= rtl::load_be32(input + 8 * i);
        r ^= rtl::load_be32(input + 8 * i + 4);
        Encrypt(state, l, r);
        rtl::store_be32(output + 8 * i, l);
        rtl::store_be32(output + 8 * i + 4, r);
    }
    rtl::store_be32(chain, l);
    rtl::store_be32(chain + 4, r);
}

void BlowfishDecryptWords(const BlowfishState& state, uint32_t& L, uint32_t& R) {
    const uint32_t* P = state.P;
    uint32_t l = L;
    uint32_t r = R;
#pragma GCC unroll 8
    for (int i = 17; i > 1; i -= 2) {
        l ^= P[i];
        r ^= F(state, l);
        r ^= P[i - 1];
        l ^= F(state, r);
    }
    L = r ^ P[0];
    R = l ^ P[1];
}

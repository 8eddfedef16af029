// crypto/hash/HashBuffer.h: the block buffering the Merkle-Damgard hashes (MD2, MD5, SHA-1, SHA-2,
// RIPEMD-160) share: count the bytes, complete a buffered partial block, hash every further
// whole block straight from the caller's memory, and keep the tail (under one block) in the
// context; and the final padding of MD5, SHA-1, SHA-2 and RIPEMD-160.
//
// Internal to the hash units; the context type needs ByteCount, Buffer and BufferedCount.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "rtl/Bytes.h"

namespace hash_buffer {

// An empty context: nothing counted, nothing buffered.
template <class Context>
inline void Reset(Context& ctx) {
    ctx.ByteCount = 0;
    ctx.BufferedCount = 0;
    std::memset(ctx.Buffer, 0, sizeof(ctx.Buffer));
}

// blocksFn(context, pointer, whole blocks) runs the block transform.
template <size_t Block, class Context, class BlocksFn>
inline void Update(Context& ctx, const void* data, size_t length, BlocksFn blocksFn) {
    if (length == 0) return;
    const auto* p = static_cast<const uint8_t*>(data);
    ctx.ByteCount += length;
    const size_t have = size_t(ctx.BufferedCount);
    if (have > 0) {
        const size_t take = Block - have;
        if (length < take) {
            std::memcpy(ctx.Buffer + have, p, length);
            ctx.BufferedCount = int32_t(have + length);
            return;
        }
        std::memcpy(ctx.Buffer + have, p, take);
        blocksFn(ctx, ctx.Buffer, 1);
        p += take;
        length -= take;
    }
    const size_t blocks = length / Block;
    if (blocks > 0) blocksFn(ctx, p, blocks);
    p += blocks * Block;
    length -= blocks * Block;
    if (length > 0) std::memcpy(ctx.Buffer, p, length);
    ctx.BufferedCount = int32_t(length);
}

// The final padding: the tail (have < Block bytes), 0x80, zeros, and the message's bit count
// in the last LengthBytes bytes (8, or 16 for the 128-byte blocks), big- or little-endian,
// ending the first block when the tail leaves room for it, else a second one. It is built in
// a zeroed local, wiped after use; blocksFn(pointer, whole blocks) runs the block transform.
template <size_t Block, size_t LengthBytes, bool BigEndian, class BlocksFn>
inline void PadAndHash(const uint8_t* tail, size_t have, uint64_t byteCount, BlocksFn blocksFn) {
    static_assert(LengthBytes == 8 || (LengthBytes == 16 && BigEndian));
    uint8_t pad[2 * Block] = {};
    if (have > 0) std::memcpy(pad, tail, have);
    pad[have] = 0x80;
    const size_t total = have < Block - LengthBytes ? Block : 2 * Block;
    if constexpr (!BigEndian) {
        rtl::store_le64(pad + total - 8, byteCount * 8);
    } else {
        // A 128-bit count: the byte count times eight, its top bits carried into the upper half.
        if constexpr (LengthBytes == 16) rtl::store_be64(pad + total - 16, byteCount >> 61);
        rtl::store_be64(pad + total - 8, byteCount * 8);
    }
    blocksFn(static_cast<const uint8_t*>(pad), total / Block);
    rtl::secure_wipe(pad, sizeof(pad));
}

}  // namespace hash_buffer

// crypto/HashBuffer.h: the block buffering the Merkle-Damgard hashes (MD5, SHA-1, SHA-2)
// share: count the bytes, complete a buffered partial block, hash every further whole block
// straight from the caller's memory, and keep the tail (under one block) in the context.
//
// Internal to the hash units; the context type needs ByteCount, Buffer and BufferedCount.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace hash_buffer {

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

}  // namespace hash_buffer

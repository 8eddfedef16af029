// Large blocks: their sizes, the alignment of the mapped ones, every byte usable, and moves that
// hand the memory over without freeing it twice.
#include "platform/Memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>

namespace {

TEST(LargeBlock, SizesAlignmentAndEveryByteUsable) {
    constexpr size_t kPiece = plat::LargeBlock::kPiece;
    struct Case {
        size_t asked;
        size_t tamanho;
        bool alinhado;  // to a whole piece
    };
    const Case cases[] = {
        {1, 1, false},          {256 << 10, 256 << 10, false},  {kPiece - 1, kPiece - 1, false},
        {kPiece, kPiece, true}, {kPiece + 1, 2 * kPiece, true}, {5 * kPiece - 3, 5 * kPiece, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked);
        plat::LargeBlock b(c.asked);
        ASSERT_NE(b.Data(), nullptr);
        EXPECT_EQ(b.Size(), c.tamanho);
        if (c.alinhado) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(b.Data()) % kPiece, 0u);
        }
        std::memset(b.Data(), 0x5A, b.Size());
        EXPECT_EQ(b.Data()[0], 0x5A);
        EXPECT_EQ(b.Data()[b.Size() - 1], 0x5A);
    }
}

TEST(LargeBlock, MovesHandTheMemoryOver) {
    for (const size_t tamanho : {size_t(100), plat::LargeBlock::kPiece}) {
        SCOPED_TRACE(tamanho);
        plat::LargeBlock a(tamanho);
        std::memcpy(a.Data(), "abc", 3);
        char* const dados = a.Data();
        plat::LargeBlock b(std::move(a));
        EXPECT_EQ(a.Data(), nullptr);
        EXPECT_EQ(a.Size(), 0u);
        EXPECT_EQ(b.Data(), dados);
        EXPECT_EQ(b.Size(), tamanho);
        plat::LargeBlock c(1);
        c = std::move(b);  // c's own block goes, b's comes
        EXPECT_EQ(c.Data(), dados);
        EXPECT_EQ(std::memcmp(c.Data(), "abc", 3), 0);
        EXPECT_EQ(b.Data(), nullptr);
        c = plat::LargeBlock();
        EXPECT_EQ(c.Data(), nullptr);
        EXPECT_EQ(c.Size(), 0u);
    }
}

TEST(LargeBlock, OnlyABlockFromTheSystemIsKnownToReadAsZeros) {
    struct Case {
        size_t asked;
        bool zeroed;
    };
    const Case cases[] = {{64 << 10, false},
                          {plat::LargeBlock::kPiece - 8, false},
                          {plat::LargeBlock::kPiece, true},
                          {3 * plat::LargeBlock::kPiece + 5, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked);
        plat::LargeBlock b(c.asked);
        EXPECT_EQ(b.Zeroed(), c.zeroed);
        if (c.zeroed) {
            // Every piece, not only the first: a caller skips clearing all of it.
            for (size_t at = 0; at < b.Size(); at += 4096)
                ASSERT_EQ(b.Data()[at] | b.Data()[at + 4095], 0) << at;
        }
    }
    EXPECT_FALSE(plat::LargeBlock().Zeroed());
    plat::LargeBlock mapped(plat::LargeBlock::kPiece);
    plat::LargeBlock moved(std::move(mapped));
    EXPECT_TRUE(moved.Zeroed());
    EXPECT_FALSE(mapped.Zeroed());
}

}  // namespace

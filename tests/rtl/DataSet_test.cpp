// The record buffers of the data-set base: pooled slots, their reuse and their lifetime.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "rtl/Assert.h"
#include "rtl/DataSet.h"

namespace {

bool AllZero(const rtl::RecordBuffer& b) {
    for (size_t i = 0; i < b.Size(); ++i)
        if (b.Data()[i] != 0) return false;
    return true;
}

}  // namespace

TEST(RecordPool, SlotsComeZeroFilledAndAreReused) {
    auto pool = std::make_shared<rtl::RecordPool>(13);
    EXPECT_EQ(pool->BlockSize(), 16u);  // rounded up to 8
    std::vector<std::unique_ptr<rtl::RecordBuffer>> rows;
    // More rows than one slab holds.
    const size_t count = (size_t(1) << 18) / (rtl::RecordPool::kObjectRoom + 16) + 5;
    for (size_t i = 0; i < count; ++i) {
        rows.push_back(rtl::RecordBuffer::FromPool(pool, 2));
        ASSERT_EQ(rows.back()->Size(), 16u);
        ASSERT_TRUE(AllZero(*rows.back()));
        std::memset(rows.back()->Data(), 0xAB, rows.back()->Size());
    }
    // Every record block is a block of its own.
    for (size_t i = 1; i < rows.size(); ++i)
        ASSERT_NE(rows[i]->Data(), rows[i - 1]->Data());
    rows[3]->SetBlob(1, std::make_shared<const rtl::ByteArray>(rtl::ByteArray{1, 2}));
    const uint8_t* given = rows[3]->Data();
    rows[3].reset();
    // The slot given back is handed out again, cleared, without its old blob references.
    auto again = rtl::RecordBuffer::FromPool(pool, 2);
    EXPECT_EQ(again->Data(), given);
    EXPECT_TRUE(AllZero(*again));
    EXPECT_EQ(again->Blob(1), nullptr);
    EXPECT_THROW(again->Blob(2), rtl::EAssertionFailed);
}

TEST(RecordPool, BuffersKeepTheirPoolAliveAfterItsOwnerLetsGo) {
    auto pool = std::make_shared<rtl::RecordPool>(40);
    auto a = rtl::RecordBuffer::FromPool(pool, 0);
    auto b = rtl::RecordBuffer::FromPool(pool, 1);
    std::weak_ptr<rtl::RecordPool> watch = pool;
    pool->Retire();
    pool.reset();
    ASSERT_FALSE(watch.expired());
    std::memset(a->Data(), 1, a->Size());
    a.reset();
    b->SetBlob(0, std::make_shared<const rtl::ByteArray>(rtl::ByteArray{9}));
    EXPECT_FALSE(watch.expired());
    b.reset();  // the last buffer takes the pool with it
    EXPECT_TRUE(watch.expired());
}

TEST(RecordPool, ABufferOfItsOwnNeedsNoPool) {
    std::unique_ptr<rtl::RecordBuffer> own = std::make_unique<rtl::RecordBuffer>(10, 1);
    EXPECT_EQ(own->Size(), 10u);
    EXPECT_TRUE(AllZero(*own));
    own->SetBlob(0, std::make_shared<const rtl::ByteArray>());  // empty: kept as none
    EXPECT_EQ(own->Blob(0), nullptr);
    own.reset();
}

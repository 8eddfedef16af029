// The record buffers of the data-set base: pooled slots, their reuse and their lifetime; and a
// data set of another kind than the SQL engine's, whose values the fields must keep asking for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "rtl/Assert.h"
#include "rtl/DataSet.h"

namespace {

// A data set over a list of integers it may change under its records: a record holds only its
// row's index, and GetFieldData answers the list's value at the time of the read.
class ListDataSet : public rtl::TDataSet {
public:
    std::vector<int32_t> values;
    int reads = 0;

    bool GetFieldData(const rtl::TField& field, void* dest) override {
        (void)field;
        ++reads;
        if (State() != rtl::dsBrowse || !HasActiveRecord()) return false;
        const int32_t v = values.at(size_t(IndexOf(*ActiveBuffer())));
        if (dest != nullptr) std::memcpy(dest, &v, sizeof v);
        return true;
    }
    void SetFieldData(rtl::TField&, const void*) override { Error("read only"); }

protected:
    std::unique_ptr<rtl::RecordBuffer> AllocRecordBuffer() override {
        return std::make_unique<rtl::RecordBuffer>(8, 0);
    }
    rtl::TGetResult GetRecord(rtl::RecordBuffer& buffer, rtl::TGetMode mode, bool) override {
        const int count = int(values.size());
        if (mode == rtl::gmNext) {
            if (cursor_ + 1 >= count) {
                cursor_ = count;
                return rtl::grEOF;
            }
            ++cursor_;
        } else if (mode == rtl::gmPrior) {
            if (cursor_ <= 0) {
                cursor_ = -1;
                return rtl::grBOF;
            }
            --cursor_;
        } else if (cursor_ < 0 || cursor_ >= count) {
            return rtl::grError;
        }
        std::memcpy(buffer.Data(), &cursor_, 4);
        buffer.Data()[4] = rtl::bfCurrent;
        return rtl::grOK;
    }
    void InternalOpen() override {
        if (FieldDefs().Count() == 0) InternalInitFieldDefs();
        if (DefaultFields()) CreateFields();
        BindFields(true);
        open_ = true;
        cursor_ = -1;
    }
    void InternalClose() override {
        BindFields(false);
        if (DefaultFields()) DestroyFields();
        open_ = false;
    }
    void InternalInitFieldDefs() override {
        FieldDefs().Clear();
        FieldDefs().Add("V", rtl::ftInteger);
    }
    bool IsCursorOpen() const override { return open_; }
    void InternalFirst() override { cursor_ = -1; }
    void InternalLast() override { cursor_ = int(values.size()); }
    void InternalSetToRecord(rtl::RecordBuffer& buffer) override { cursor_ = IndexOf(buffer); }
    void InternalGotoBookmark(const rtl::TBookmark& bookmark) override { std::memcpy(&cursor_, bookmark.data(), 4); }
    void InternalInitRecord(rtl::RecordBuffer& buffer) override { std::memset(buffer.Data(), 0, buffer.Size()); }
    void GetBookmarkData(const rtl::RecordBuffer& buffer, rtl::TBookmark& bookmark) override {
        bookmark.assign(buffer.Data(), buffer.Data() + 4);
    }
    void SetBookmarkData(rtl::RecordBuffer& buffer, const rtl::TBookmark& bookmark) override {
        std::memcpy(buffer.Data(), bookmark.data(), 4);
    }
    rtl::TBookmarkFlag GetBookmarkFlag(const rtl::RecordBuffer& buffer) override {
        return rtl::TBookmarkFlag(buffer.Data()[4]);
    }
    void SetBookmarkFlag(rtl::RecordBuffer& buffer, rtl::TBookmarkFlag flag) override { buffer.Data()[4] = flag; }

private:
    static int IndexOf(const rtl::RecordBuffer& buffer) {
        int i;
        std::memcpy(&i, buffer.Data(), 4);
        return i;
    }

    bool open_ = false;
    int cursor_ = -1;
};

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

namespace {

// Slabs of one size filled with a mark, said to be zeroed or not as asked; it can be told to
// fail. What the pool writes into a record shows against the mark.
class MarkedSlabs final : public rtl::RecordPool::SlabSource {
public:
    MarkedSlabs(size_t slabSize, bool sayZeroed) : slabSize_(slabSize), sayZeroed_(sayZeroed) {}
    uint8_t* NewSlab(size_t minimum, size_t& size, bool& zeroed) override {
        if (fail) throw std::bad_alloc();
        size = std::max(slabSize_, minimum);
        slabs_.push_back(std::vector<uint8_t>(size, kMark));
        zeroed = sayZeroed_;
        return slabs_.back().data();
    }
    static constexpr uint8_t kMark = 0xEE;
    bool fail = false;

private:
    size_t slabSize_;
    bool sayZeroed_;
    std::vector<std::vector<uint8_t>> slabs_;
};

bool All(const rtl::RecordBuffer& b, uint8_t value) {
    for (size_t i = 0; i < b.Size(); ++i)
        if (b.Data()[i] != value) return false;
    return true;
}

}  // namespace

TEST(RecordPool, ClearsOnlyWhatMayHoldSomething) {
    struct Case {
        const char* name;
        bool sourceSaysZeroed;
        uint8_t freshReads;  // what a slot carved from a new slab reads
    };
    const Case cases[] = {
        {"a slab of unknown bytes is cleared slot by slot", false, 0},
        // Memory fresh from the system is zero: the pool writes nothing before the row does, so
        // here, where the source lies, the mark shows through.
        {"a zeroed slab is not written", true, MarkedSlabs::kMark},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto pool =
            std::make_shared<rtl::RecordPool>(20, std::make_unique<MarkedSlabs>(4096, c.sourceSaysZeroed));
        auto a = rtl::RecordBuffer::FromPool(pool, 0);
        auto b = rtl::RecordBuffer::FromPool(pool, 0);
        EXPECT_EQ(a->Size(), 24u);
        EXPECT_TRUE(All(*a, c.freshReads));
        EXPECT_TRUE(All(*b, c.freshReads));
        // A slot given back held a row: it is cleared whatever its slab was.
        std::memset(a->Data(), 0x11, a->Size());
        const uint8_t* given = a->Data();
        a.reset();
        auto again = rtl::RecordBuffer::FromPool(pool, 0);
        EXPECT_EQ(again->Data(), given);
        EXPECT_TRUE(All(*again, 0));
    }
}

TEST(RecordPool, SlotsFillEachSlabAndLeaveTheShortTailUnused) {
    // 4096-byte slabs and 72-byte slots (32 for the object, 40 for the record): 56 slots a slab,
    // 64 bytes of each slab unused.
    auto pool = std::make_shared<rtl::RecordPool>(37, std::make_unique<MarkedSlabs>(4096, false));
    ASSERT_EQ(pool->SlotSize(), 72u);
    std::vector<std::unique_ptr<rtl::RecordBuffer>> rows;
    for (int i = 0; i < 3 * 56; ++i)
        rows.push_back(rtl::RecordBuffer::FromPool(pool, 0));
    for (size_t i = 1; i < rows.size(); ++i) {
        const ptrdiff_t step = rows[i]->Data() - rows[i - 1]->Data();
        if (i % 56 != 0) {
            ASSERT_EQ(step, 72) << i;
        } else {
            ASSERT_NE(step, 72) << i;  // the next slab
        }
    }
    EXPECT_EQ(pool->InUse(), rows.size());
    rows.clear();
    EXPECT_EQ(pool->InUse(), 0u);
}

TEST(RecordPool, KeepsItselfWhileASlotIsOutEvenUnretired) {
    auto pool = std::make_shared<rtl::RecordPool>(16);
    std::weak_ptr<rtl::RecordPool> watch = pool;
    auto a = rtl::RecordBuffer::FromPool(pool, 1);
    pool.reset();  // the owner goes without retiring it
    ASSERT_FALSE(watch.expired());
    std::memset(a->Data(), 7, a->Size());
    a->SetBlob(0, std::make_shared<const rtl::ByteArray>(rtl::ByteArray{1}));
    a.reset();
    EXPECT_TRUE(watch.expired());
    // With no slot out a pool holds nothing of itself: its owner's reference is the last.
    auto idle = std::make_shared<rtl::RecordPool>(16);
    rtl::RecordBuffer::FromPool(idle, 0).reset();
    EXPECT_EQ(idle.use_count(), 1);
}

TEST(RecordPool, FailuresToTakeASlotChangeNothing) {
    auto owned = std::make_unique<MarkedSlabs>(64, false);
    MarkedSlabs& source = *owned;
    auto pool = std::make_shared<rtl::RecordPool>(8, std::move(owned));
    source.fail = true;
    EXPECT_THROW(rtl::RecordBuffer::FromPool(pool, 0), std::bad_alloc);
    EXPECT_EQ(pool->InUse(), 0u);
    EXPECT_EQ(pool.use_count(), 1);  // it does not keep itself for a slot it never gave
    source.fail = false;
    auto row = rtl::RecordBuffer::FromPool(pool, 0);
    EXPECT_EQ(pool->InUse(), 1u);
    row.reset();
    // A pool that is not shared cannot keep itself for its slots, so it hands none out.
    rtl::RecordPool alone(8);
    EXPECT_THROW(alone.Take(), std::bad_weak_ptr);
    EXPECT_EQ(alone.InUse(), 0u);
}

TEST(DataSetFields, ADataSetThatGivesNoSlotsIsAskedForEveryValue) {
    ListDataSet ds;
    ds.values = {5, 6};
    ds.Open();
    rtl::TField& v = ds.FieldByName("V");
    EXPECT_EQ(v.AsInteger(), 5);
    // The value changes under the record: every typed read and the variant see the change.
    ds.values[0] = 50;
    const int before = ds.reads;
    EXPECT_EQ(v.AsInteger(), 50);
    EXPECT_EQ(v.AsLargeInt(), 50);
    EXPECT_EQ(v.AsString(), "50");
    EXPECT_EQ(v.Value().AsInteger(), 50);
    EXPECT_FALSE(v.IsNull());
    EXPECT_EQ(ds.reads, before + 5);
    ds.Next();
    EXPECT_EQ(v.AsInteger(), 6);
    ds.Close();
    ds.Open();
    EXPECT_EQ(ds.FieldByName("V").AsInteger(), 50);
}

// The record store of a data set: records carved out of large blocks that grow from the heap to
// mapped pieces, never across two blocks, whatever the record size; records given back are
// reused, cleared, before any new block; and a data set whose cached rows span several blocks
// reads every row back right through edits, deletes and a refresh that reuses their records.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FakeDataSetFixture.h"
#include "database/engine/SDEngineRecordStore.h"

using fakeds::Fixture;

namespace {

constexpr size_t kPiece = plat::LargeBlock::kPiece;

const TSDRecordBlocks& Blocks(const rtl::RecordPool& store) {
    return dynamic_cast<const TSDRecordBlocks&>(store.Source());
}

// The block that holds the whole slot, or -1 when none does (a slot outside every block, or
// one that runs past the end of the block it starts in).
int BlockOf(const rtl::RecordPool& store, const rtl::RecordBuffer& record) {
    const auto* slot = reinterpret_cast<const char*>(record.Data()) - rtl::RecordPool::kObjectRoom;
    const TSDRecordBlocks& blocks = Blocks(store);
    for (size_t b = 0; b < blocks.BlockCount(); ++b) {
        const plat::LargeBlock& block = blocks.Block(b);
        if (slot >= block.Data() && slot < block.Data() + block.Size())
            return slot + store.SlotSize() <= block.Data() + block.Size() ? int(b) : -1;
    }
    return -1;
}

bool AllZero(const rtl::RecordBuffer& record) {
    for (size_t i = 0; i < record.Size(); ++i)
        if (record.Data()[i] != 0) return false;
    return true;
}

// A pattern of its own for each record, over every byte, so that records that overlap or a
// write past a record's end show.
void Stamp(rtl::RecordBuffer& record, uint32_t n) {
    for (size_t i = 0; i < record.Size(); ++i)
        record.Data()[i] = uint8_t(n * 31 + i * 7 + 1);
}
bool HasStamp(const rtl::RecordBuffer& record, uint32_t n) {
    for (size_t i = 0; i < record.Size(); ++i)
        if (record.Data()[i] != uint8_t(n * 31 + i * 7 + 1)) return false;
    return true;
}

using Records = std::vector<std::unique_ptr<rtl::RecordBuffer>>;

}  // namespace

TEST(SDRecordStore, BlocksGrowFromTheHeapToMappedPiecesUpToTheLargest) {
    auto store = NewSDRecordStore(440);
    Records rows;
    while (Blocks(*store).BlockCount() < 10)
        rows.push_back(rtl::RecordBuffer::FromPool(store, 0));
    const struct {
        size_t size;
        bool mapped;
    } expected[] = {
        {64 << 10, false}, {128 << 10, false}, {256 << 10, false}, {512 << 10, false}, {1 << 20, false},
        {kPiece, true},    {2 * kPiece, true}, {4 * kPiece, true}, {4 * kPiece, true}, {4 * kPiece, true},
    };
    for (size_t b = 0; b < std::size(expected); ++b) {
        SCOPED_TRACE(b);
        const plat::LargeBlock& block = Blocks(*store).Block(b);
        EXPECT_EQ(block.Size(), expected[b].size);
        EXPECT_EQ(block.Zeroed(), expected[b].mapped);
        if (expected[b].mapped) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(block.Data()) % kPiece, 0u);
        }
    }
    EXPECT_EQ(TSDRecordBlocks::kLargestBlock, 4 * kPiece);
}

TEST(SDRecordStore, RecordsNeverSpanTwoBlocksWhateverTheirSize) {
    struct Case {
        size_t recordSize;
        size_t blocks;  // taken until there are this many
    };
    const Case cases[] = {
        {1, 4},                      // the smallest: 40-byte slots
        {13, 4},                     // rounded up to 16
        {440, 7},                    // about a row of the fetch benchmark, into the mapped blocks
        {4096 - 32, 5},              // slots of exactly 4 KB: they divide every block
        {70000, 4},                  // larger than the first block: that block is made to fit one
        {3 * (size_t(1) << 20), 3},  // larger than a piece: a block of its own, each
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.recordSize);
        auto store = NewSDRecordStore(c.recordSize);
        const TSDRecordBlocks& blocks = Blocks(*store);
        Records rows;
        std::vector<size_t> perBlock;
        while (blocks.BlockCount() < c.blocks || rows.empty()) {
            rows.push_back(rtl::RecordBuffer::FromPool(store, 0));
            rtl::RecordBuffer& row = *rows.back();
            ASSERT_TRUE(AllZero(row)) << rows.size();
            const int b = BlockOf(*store, row);
            ASSERT_GE(b, 0) << rows.size();
            perBlock.resize(blocks.BlockCount());
            ++perBlock[size_t(b)];
            Stamp(row, uint32_t(rows.size()));
        }
        // Every block but the newest holds as many whole slots as fit it, the tail unused.
        for (size_t b = 0; b + 1 < blocks.BlockCount(); ++b)
            EXPECT_EQ(perBlock[b], blocks.Block(b).Size() / store->SlotSize()) << "block " << b;
        for (size_t i = 0; i < rows.size(); ++i)
            ASSERT_TRUE(HasStamp(*rows[i], uint32_t(i + 1))) << i;
    }
}

TEST(SDRecordStore, RecordsGivenBackAreReusedClearedBeforeAnyNewBlock) {
    auto store = NewSDRecordStore(440);
    const TSDRecordBlocks& blocks = Blocks(*store);
    Records rows;
    while (blocks.BlockCount() < 7)  // into the mapped blocks
        rows.push_back(rtl::RecordBuffer::FromPool(store, 2));
    for (auto& row : rows) {
        std::memset(row->Data(), 0xAB, row->Size());
        row->SetBlob(1, std::make_shared<const rtl::ByteArray>(rtl::ByteArray{1, 2, 3}));
    }
    const size_t taken = rows.size();
    // Every third record goes (from every block), then as many come back.
    std::set<const uint8_t*> given;
    for (size_t i = 0; i < rows.size(); i += 3) {
        given.insert(rows[i]->Data());
        rows[i].reset();
    }
    for (size_t i = 0; i < rows.size(); i += 3) {
        rows[i] = rtl::RecordBuffer::FromPool(store, 2);
        EXPECT_EQ(given.count(rows[i]->Data()), 1u) << i;
        ASSERT_TRUE(AllZero(*rows[i])) << i;
        EXPECT_EQ(rows[i]->Blob(1), nullptr);
    }
    EXPECT_EQ(blocks.BlockCount(), 7u);
    EXPECT_EQ(store->InUse(), taken);
    // A cache cleared and filled again, over and over, stays in the blocks it has.
    for (int round = 0; round < 4; ++round) {
        rows.clear();
        EXPECT_EQ(store->InUse(), 0u);
        for (size_t i = 0; i < taken; ++i) {
            rows.push_back(rtl::RecordBuffer::FromPool(store, 2));
            ASSERT_TRUE(AllZero(*rows.back())) << round << " " << i;
            Stamp(*rows.back(), uint32_t(i));
        }
        ASSERT_EQ(blocks.BlockCount(), 7u) << round;
    }
}

TEST(SDRecordStore, BlocksStayWhileAnyRecordDoes) {
    auto store = NewSDRecordStore(1000);
    Records rows;
    while (Blocks(*store).BlockCount() < 7)
        rows.push_back(rtl::RecordBuffer::FromPool(store, 0));
    for (size_t i = 0; i < rows.size(); ++i)
        Stamp(*rows[i], uint32_t(i));
    std::weak_ptr<rtl::RecordPool> watch = store;
    // What a data set does when it closes with records still held elsewhere.
    store->Retire();
    store.reset();
    const size_t kept = rows.size() - 1;  // a record of the last, mapped block
    rows.resize(kept + 1);
    for (size_t i = 0; i < kept; ++i)
        rows[i].reset();
    ASSERT_FALSE(watch.expired());
    EXPECT_TRUE(HasStamp(*rows[kept], uint32_t(kept)));
    rows.clear();
    EXPECT_TRUE(watch.expired());
}

// ---------------------------------------------------------------------------------------------
// A data set over the store

namespace {

class DataSetRecordStore : public Fixture {
protected:
    static constexpr int kRows = 12000;
    static constexpr int kNameSize = 1000;

    // A name of its own for each row and generation: lengths from 1 to kNameSize, so a longer
    // name read before in the same record would show past a shorter one's end (the fake driver
    // copies the characters only, without a terminating zero).
    static std::string Name(int id, int generation) {
        const std::string head = std::to_string(id) + "/" + std::to_string(generation) + ":";
        const size_t length = size_t((id * 379 + generation * 613) % kNameSize) + 1;
        std::string name = head + std::string(length, char('a' + (id + generation) % 26));
        name.resize(std::min(name.size(), size_t(kNameSize)));
        return name;
    }

    void Rows(int generation) {
        server.columns = {{"ID", ftInteger, 4}, {"NAME", ftString, kNameSize + 1}};
        server.rows.clear();
        for (int id = 1; id <= kRows; ++id)
            server.rows.push_back({fake::IntCell(id), fake::TextCell(Name(id, generation))});
    }

    static size_t BlockCount(const TSDQuery& q) { return Blocks(*q.RecordStore()).BlockCount(); }
};

}  // namespace

TEST_F(DataSetRecordStore, ManyRowsReadBackRightThroughEditsDeletesAndARefresh) {
    Rows(0);
    TSDQuery& q = Query();
    // Changes are applied by the handler and stay in the cache.
    q.OnUpdateRecord = [](rtl::TDataSet&, rtl::TUpdateKind, rtl::TUpdateAction& a) { a = rtl::uaApplied; };
    q.Open();
    q.FetchAll();
    ASSERT_NE(q.RecordStore(), nullptr);
    const size_t blocks = BlockCount(q);
    EXPECT_GE(blocks, 8u);  // about 12 MB of records: the heap blocks and several mapped ones
    rtl::TField& id = q.FieldByName("ID");
    rtl::TField& name = q.FieldByName("NAME");
    int n = 0;
    for (q.First(); !q.Eof(); q.Next()) {
        ++n;
        ASSERT_EQ(id.AsInteger(), n);
        ASSERT_EQ(name.AsString(), Name(n, 0)) << n;
    }
    EXPECT_EQ(n, kRows);

    // Edits keep the originals (records of their own) and deletes hide rows, all over the cache.
    auto edited = [](int i) { return i % 997 == 0; };
    auto deleted = [](int i) { return i % 1009 == 0; };
    q.First();
    while (!q.Eof()) {
        const int i = id.AsInteger();
        if (deleted(i)) {
            q.Delete();  // the next row becomes the active one
            continue;
        }
        if (edited(i)) {
            q.Edit();
            name.SetAsString("edited " + std::to_string(i));
            q.Post();
        }
        q.Next();
    }
    int shown = 0;
    for (q.First(); !q.Eof(); q.Next()) {
        const int i = id.AsInteger();
        ++shown;
        ASSERT_FALSE(deleted(i)) << i;
        if (edited(i)) {
            ASSERT_EQ(name.AsString(), "edited " + std::to_string(i));
            ASSERT_EQ(name.OldValue().AsString(), Name(i, 0));
        } else {
            ASSERT_EQ(name.AsString(), Name(i, 0)) << i;
        }
    }
    EXPECT_EQ(shown, kRows - kRows / 1009);
    EXPECT_EQ(q.RecordCount(), shown);
    EXPECT_EQ(BlockCount(q), blocks);  // a dozen originals fit what the blocks had left

    // A refresh reads the rows again into the records the old rows gave back: other names, none
    // of whose bytes may come from the names that were there before.
    Rows(1);
    ASSERT_FALSE(commands.empty());
    commands.back()->rows = server.rows;
    q.First();
    q.Refresh();
    q.FetchAll();
    n = 0;
    for (q.First(); !q.Eof(); q.Next()) {
        ++n;
        ASSERT_EQ(id.AsInteger(), n);
        ASSERT_EQ(name.AsString(), Name(n, 1)) << n;
        ASSERT_EQ(q.UpdateStatus(), rtl::usUnmodified);
    }
    EXPECT_EQ(n, kRows);
    EXPECT_EQ(BlockCount(q), blocks);
}

TEST_F(DataSetRecordStore, AUnidirectionalReadKeepsToAFewRecordsOfTheFirstBlock) {
    Rows(0);
    TSDQuery& q = Query();
    q.SetUniDirectional(true);
    q.Open();
    int n = 0;
    for (; !q.Eof(); q.Next()) {
        ++n;
        ASSERT_EQ(q.FieldByName("ID").AsInteger(), n);
        ASSERT_EQ(q.FieldByName("NAME").AsString(), Name(n, 0)) << n;
    }
    EXPECT_EQ(n, kRows);
    EXPECT_EQ(BlockCount(q), 1u);
    EXPECT_LE(q.RecordStore()->InUse(), 8u);
}

// database/engine/SDEngineBlobStream.cpp: reading and writing blob values of a TSDDataSet record.
#include "database/engine/SDEngineBlobStream.h"

#include <algorithm>
#include <cstring>

#include "database/engine/SDEngineDataSet.h"
#include "rtl/Format.h"

namespace {

TSDDataSet& DataSetOf(rtl::TField& field) {
    auto* ds = dynamic_cast<TSDDataSet*>(&field.DataSet());
    if (ds == nullptr)
        throw rtl::EDatabaseError(
            rtl::Format("O campo '%s' não pertence a um TSDDataSet", field.DisplayName()));
    return *ds;
}

bool Editing(rtl::TDataSetState s) {
    return s == rtl::dsEdit || s == rtl::dsInsert;
}

}  // namespace

TSDBlobStream::TSDBlobStream(rtl::TField& field, rtl::TBlobStreamMode mode)
    : field_(field), dataSet_(DataSetOf(field)), mode_(mode) {
    cacheBlobs_ = dataSet_.CacheBlobs;
    blobIndex_ = dataSet_.BlobIndexOf(field);
    if (dataSet_.State() == rtl::dsFilter)
        throw rtl::EDatabaseError(rtl::Format("Cannot access field '%s' in a filter", field.DisplayName()));
    record_ = dataSet_.GetActiveRecBuf();
    if (record_ == nullptr || blobIndex_ < 0) return;  // no record: the stream stays closed
    if (mode == rtl::bmWrite && !field.Modified) {
        if (field.ReadOnly)
            throw rtl::EDatabaseError(rtl::Format("Campo '%s' não pode ser modificado", field.DisplayName()));
        if (!Editing(dataSet_.State()))
            throw rtl::EDatabaseError("Arquivo não está em modo de edição ou inserção");
    }
    opened_ = true;
    if (mode == rtl::bmWrite) {
        position_ = 0;
        modified_ = true;
        own_ = std::make_shared<rtl::ByteArray>();
        Stored();
    }
}

TSDBlobStream::~TSDBlobStream() {
    if (opened_ && modified_) field_.Modified = true;
    if (!modified_) return;
    try {
        dataSet_.DataEvent(rtl::deFieldChange, reinterpret_cast<intptr_t>(&field_));
    } catch (const std::exception& e) {
        rtl::HandleApplicationException(e);
    }
}

void TSDBlobStream::CheckWritable() {
    if (!opened_ || !Editing(dataSet_.State()))
        throw rtl::EDatabaseError("Arquivo não está em modo de edição ou inserção");
}

rtl::ByteArray& TSDBlobStream::Writable() {
    const rtl::BlobRef& current = record_->Blob(size_t(blobIndex_));
    // Only the record and this stream refer to the stream's own array: it may change in place.
    // An empty array is kept as no array, so the record then refers to none.
    const bool mine =
        own_ && (current.get() == own_.get() ? own_.use_count() == 2
                                             : !current && own_->empty() && own_.use_count() == 1);
    if (!mine) own_ = std::make_shared<rtl::ByteArray>(current ? *current : rtl::ByteArray());
    return *own_;
}

void TSDBlobStream::Stored() {
    const bool present = !own_->empty();
    record_->SetBlob(size_t(blobIndex_), present ? rtl::BlobRef(own_) : nullptr);
    record_->Data()[dataSet_.FieldSlot(field_)] = present ? 1 : 0;
    if (dataSet_.StatusOf(*record_) == rtl::usUnmodified) dataSet_.SetStatusOf(*record_, rtl::usModified);
}

int64_t TSDBlobStream::Size() {
    if (!opened_) return 0;
    const rtl::BlobRef& blob = record_->Blob(size_t(blobIndex_));
    return blob ? int64_t(blob->size()) : 0;
}

size_t TSDBlobStream::Read(void* buffer, size_t count) {
    if (!opened_) return 0;
    const rtl::BlobRef& blob = record_->Blob(size_t(blobIndex_));
    const int64_t size = blob ? int64_t(blob->size()) : 0;
    if (position_ >= size) return 0;
    const size_t n = std::min<size_t>(count, size_t(size - position_));
    std::memcpy(buffer, blob->data() + position_, n);
    position_ += int64_t(n);
    return n;
}

size_t TSDBlobStream::Write(const void* buffer, size_t count) {
    if (mode_ == rtl::bmRead) throw rtl::EWriteError("Stream write error");
    CheckWritable();
    size_t result = count;
    if (mode_ == rtl::bmWrite && !cacheBlobs_)
        result = size_t(std::max(
            dataSet_.ISqlWriteBlob(field_.FieldNo(), static_cast<const uint8_t*>(buffer), int32_t(count)),
            0));
    rtl::ByteArray& bytes = Writable();
    if (bytes.size() < size_t(position_) + count) bytes.resize(size_t(position_) + count);
    if (count > 0) std::memcpy(bytes.data() + position_, buffer, count);
    Stored();
    position_ += int64_t(count);
    modified_ = true;
    return result;
}

void TSDBlobStream::SetSize(int64_t newSize) {
    if (mode_ == rtl::bmRead) throw rtl::EWriteError("Stream write error");
    CheckWritable();
    if (newSize < 0) newSize = 0;
    Writable().resize(size_t(newSize));
    Stored();
    modified_ = true;
}

int64_t TSDBlobStream::Seek(int64_t offset, rtl::SeekOrigin origin) {
    int64_t base = 0;
    if (origin == rtl::SeekOrigin::Current) base = position_;
    if (origin == rtl::SeekOrigin::End) base = Size();
    const int64_t target = base + offset;
    if (target < 0) throw rtl::EReadError("Stream read error");
    position_ = target;
    return position_;
}

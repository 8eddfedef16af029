// database/engine/SDEngineBlobStream.h: the stream through which a blob field of a TSDDataSet is read
// and written (part of unit SDEngine).
//
// A TSDBlobStream lives for one read or one write of one field value in the record of the data
// set's current state. The value is the byte array the record refers to; a write never changes
// an array that anything else may share: the stream's first write stores a copy (copy on write),
// so the row's original, which may share the old array, keeps what was fetched. Later writes
// change that copy in place while only the record and the stream refer to it, so a value written
// in many pieces is copied once, not once per piece. Written values reach the row cache when the
// record is posted. With CacheBlobs off, a write also goes to the server at once (the driver's
// WriteBlob).
#pragma once

#include <cstdint>
#include <memory>

#include "rtl/DataSet.h"
#include "rtl/Stream.h"

class TSDDataSet;

class TSDBlobStream : public rtl::Stream {
public:
    // Fails with "Cannot access field '%s' in a filter" in the filter state; a write on a
    // read-only field with "Campo '%s' não pode ser modificado", outside the edit and insert
    // states with "Arquivo não está em modo de edição ou inserção". Write mode starts empty.
    TSDBlobStream(rtl::TField& field, rtl::TBlobStreamMode mode);
    ~TSDBlobStream() override;

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, rtl::SeekOrigin origin) override;
    int64_t Size() override;
    void SetSize(int64_t newSize) override;

private:
    // The record's array, made the stream's own first when anything else may share it.
    rtl::ByteArray& Writable();
    // The record refers to the stream's array again (none when it is empty), with its
    // value-present byte set from it; an unmodified record becomes modified.
    void Stored();
    void CheckWritable();

    rtl::TField& field_;
    TSDDataSet& dataSet_;
    rtl::RecordBuffer* record_ = nullptr;
    rtl::TBlobStreamMode mode_;
    int blobIndex_ = -1;
    bool opened_ = false;
    bool modified_ = false;
    int64_t position_ = 0;
    bool cacheBlobs_ = true;
    std::shared_ptr<rtl::ByteArray> own_;  // the array this stream wrote, shared with the record
};

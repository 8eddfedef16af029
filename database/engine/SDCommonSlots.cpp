// database/engine/SDCommonSlots.cpp: the engine's date-time record as a slot layout.
#include "database/engine/SDCommonSlots.h"

#include "rtl/Assert.h"

TSDDateTimeRec TimeStampToRec(TFieldType fieldType, const rtl::TTimeStamp& stamp) {
    switch (fieldType) {
        case ftDate:
            return TSDDateTimeRec::FromDate(stamp.Date);
        case ftTime:
            return TSDDateTimeRec::FromTime(stamp.Time);
        default:
            return TSDDateTimeRec::FromDateTime(rtl::TimeStampToMSecs(stamp));
    }
}

TSDDateTimeRec DateTimeToRec(TFieldType fieldType, rtl::TDateTime value) {
    return TimeStampToRec(fieldType, rtl::DateTimeToTimeStamp(value));
}

void StoreDateTimeRec(TFieldType fieldType, const TSDDateTimeRec& rec, void* dest, int32_t destSize) {
    const int32_t needed = fieldType == ftDate || fieldType == ftTime ? 4 : 8;
    rtl::Assert(destSize >= needed, "StoreDateTimeRec: the value needs %d bytes, got %d", needed, destSize);
    // Copies of a known size are plain moves, not a library call per value.
    if (needed == 4)
        std::memcpy(dest, rec.Bytes, 4);
    else
        std::memcpy(dest, rec.Bytes, 8);
}

int32_t PackEngineDateTime(TFieldType fieldType, rtl::TDateTime value, uint8_t* slot, int32_t size) {
    const TSDDateTimeRec rec = DateTimeToRec(fieldType, value);
    rtl::Assert(size >= int32_t(sizeof rec.Bytes), "PackEngineDateTime: the record needs 8 bytes, got %d",
                size);
    std::memcpy(slot, rec.Bytes, sizeof rec.Bytes);
    return int32_t(sizeof rec.Bytes);
}

TSDDateTimeRec UnpackEngineDateTime(TFieldType, const uint8_t* slot, int32_t) {
    return GetBufferDateTimeRec(slot, 0);
}

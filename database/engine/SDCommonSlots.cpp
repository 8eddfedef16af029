// database/engine/SDCommonSlots.cpp: the engine's date-time record as a slot layout, and the
// engine's own values as parameter values.
#include "database/engine/SDCommonSlots.h"

#include <string>

#include "rtl/Assert.h"
#include "rtl/DatabaseError.h"

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

void SetParamData(rtl::Param& param, const uint8_t* buffer, int32_t size) {
    // The engine's own shapes; long values and wide texts arrive whole, as their bytes or
    // characters.
    static constexpr TSDSlotMap kSlots = kEngineSlots.With(ftMemo, TSDSlotKind::Text)
                                             .With(ftWideString, TSDSlotKind::Text)
                                             .With(ftBlob, TSDSlotKind::Bytes)
                                             .With(ftOraBlob, TSDSlotKind::Bytes)
                                             .With(ftOraClob, TSDSlotKind::Bytes);
    const TSDSlotKind kind = kSlots[param.DataType()];
    // A GUID is its 38-character text here; a date-time the engine's 8-byte record.
    const int32_t width = kind == TSDSlotKind::Guid       ? 38
                          : kind == TSDSlotKind::DateTime ? int32_t(sizeof(TSDDateTimeRec))
                                                          : SlotWidth(kind);
    if (width > 0 && size < width)
        rtl::DatabaseErrorFmt("Parameter '%s': value of %d bytes in a buffer of %d", param.Name(), width,
                              size);
    if (kind == TSDSlotKind::Guid) {
        param.SetValue(rtl::Variant(std::string(reinterpret_cast<const char*>(buffer), 38)));
        return;
    }
    if (!SetParamFromSlot(param, kind, buffer, size, UnpackEngineDateTime))
        rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", param.Name());
}

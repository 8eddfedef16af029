// database/odbc/SDOdbcCells.h: small helpers of the ODBC command's two files (unit SDOdbc):
// cell offsets, native-order reads and writes of the client library's structures, and return
// codes. Internal to SDOdbcCommand.cpp and SDOdbcFetch.cpp.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "database/odbc/SDOdbcApi.h"
#include "rtl/DatabaseError.h"
#include "rtl/FieldType.h"

namespace odbccells {

using namespace odbcapi;

// Cells start on 8-byte boundaries; sizes past what a 32-bit size holds are refused.
inline int32_t Align8(int64_t n) {
    const int64_t aligned = (n + 7) & ~int64_t(7);
    if (aligned > std::numeric_limits<int32_t>::max()) rtl::DatabaseError("Row buffer too large");
    return int32_t(aligned);
}

inline SQLCHAR* Text(const std::string& s) {
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
}

inline SQLLEN* IndicatorOf(uint8_t* cell) {
    return reinterpret_cast<SQLLEN*>(cell);
}

inline bool Succeeded(SQLRETURN rc) {
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

inline bool IsIntervalType(int32_t nativeType) {
    return nativeType >= SQL_INTERVAL_YEAR && nativeType <= SQL_INTERVAL_MINUTE_TO_SECOND;
}

inline bool IsCharCType(rtl::TFieldType t) {
    return t == rtl::ftString || t == rtl::ftFixedChar;
}

inline uint16_t Read16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

inline uint32_t Read32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline void Write16(uint8_t* p, uint16_t v) {
    std::memcpy(p, &v, 2);
}

inline void Write32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}

inline bool IsOutputParam(rtl::TParamType type) {
    return type == rtl::ptOutput || type == rtl::ptInputOutput || type == rtl::ptResult;
}

}  // namespace odbccells

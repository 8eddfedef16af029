// rtl/ByteReader.h: the bounds-checked reader for all outside input.
//
// Data blocks, DER, TLS records, JSON, HTTP lines and flat-file fields are read through a
// ByteReader: every read checks the remaining length first and raises rtl::EReadError when
// the input is too short, so a parser never reads past its buffer whatever the input claims.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "rtl/Exception.h"

namespace rtl {

class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> data) : data_(data) {}
    ByteReader(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data), size) {}
    explicit ByteReader(std::string_view text)
        : data_(reinterpret_cast<const uint8_t*>(text.data()), text.size()) {}

    size_t position() const { return pos_; }
    size_t size() const { return data_.size(); }
    size_t remaining() const { return data_.size() - pos_; }
    bool eof() const { return pos_ == data_.size(); }

    uint8_t u8();
    uint8_t peek() const;
    uint16_t u16le();
    uint16_t u16be();
    uint32_t u32le();
    uint32_t u32be();
    uint64_t u64le();
    uint64_t u64be();
    int32_t i32le() { return int32_t(u32le()); }
    int32_t i32be() { return int32_t(u32be()); }
    int64_t i64le() { return int64_t(u64le()); }
    double f64le();

    // The next n bytes, as a view into the input.
    std::span<const uint8_t> bytes(size_t n);
    // The next n bytes, copied into a string.
    std::string str(size_t n);
    // The next n UTF-16LE code units, converted to UTF-8.
    std::string utf16(size_t nunits);
    void skip(size_t n);
    // Moves to an absolute position within the input.
    void seek(size_t pos);
    // What is left, without consuming it.
    std::span<const uint8_t> rest() const { return data_.subspan(pos_); }

private:
    void need(size_t n) const;
    // One integer of the given width, read with the given byte order.
    template <typename T, T (*Load)(const uint8_t*)>
    T Fixed();

    std::span<const uint8_t> data_;
    size_t pos_ = 0;
};

}  // namespace rtl

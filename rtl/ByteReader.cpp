// rtl/ByteReader.cpp: bounds-checked reads over a byte buffer.
#include "rtl/ByteReader.h"

#include <cstring>

#include "rtl/Bytes.h"
#include "rtl/Unicode.h"

namespace rtl {

void ByteReader::need(size_t n) const {
    if (n > remaining())
        throw EReadError("unexpected end of data: " + std::to_string(n) + " bytes needed at offset " +
                         std::to_string(pos_) + ", " + std::to_string(remaining()) + " left");
}

uint8_t ByteReader::u8() {
    need(1);
    return data_[pos_++];
}

uint8_t ByteReader::peek() const {
    need(1);
    return data_[pos_];
}

template <typename T, T (*Load)(const uint8_t*)>
T ByteReader::Fixed() {
    need(sizeof(T));
    const T v = Load(data_.data() + pos_);
    pos_ += sizeof(T);
    return v;
}

uint16_t ByteReader::u16le() {
    return Fixed<uint16_t, load_le16>();
}
uint16_t ByteReader::u16be() {
    return Fixed<uint16_t, load_be16>();
}
uint32_t ByteReader::u32le() {
    return Fixed<uint32_t, load_le32>();
}
uint32_t ByteReader::u32be() {
    return Fixed<uint32_t, load_be32>();
}
uint64_t ByteReader::u64le() {
    return Fixed<uint64_t, load_le64>();
}
uint64_t ByteReader::u64be() {
    return Fixed<uint64_t, load_be64>();
}

double ByteReader::f64le() {
    uint64_t bits = u64le();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

std::span<const uint8_t> ByteReader::bytes(size_t n) {
    need(n);
    auto s = data_.subspan(pos_, n);
    pos_ += n;
    return s;
}

std::string ByteReader::str(size_t n) {
    auto s = bytes(n);
    return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

std::string ByteReader::utf16(size_t nunits) {
    if (nunits > remaining() / 2) need(remaining() + 1);  // raises with the usual text
    std::u16string w(nunits, u'\0');
    for (size_t i = 0; i < nunits; ++i)
        w[i] = char16_t(u16le());
    return Utf16ToUtf8(w);
}

void ByteReader::skip(size_t n) {
    need(n);
    pos_ += n;
}

void ByteReader::seek(size_t pos) {
    if (pos > data_.size()) throw EReadError("seek past the end of data: offset " + std::to_string(pos));
    pos_ = pos;
}

}  // namespace rtl

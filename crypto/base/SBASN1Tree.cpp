// crypto/base/SBASN1Tree.cpp: loading the tag tree from the parser's events, and writing it back.
//
// A load runs one parser over the node's input. Each element it reports becomes a child of the
// innermost open indefinite-length element, or of the loading node. A constructed child of
// definite length loads its own content (recursively, with its own parser), after which the
// outer parser skips that content without reporting it again.
#include "crypto/base/SBASN1Tree.h"

#include <algorithm>
#include <cstring>

#include "rtl/ByteReader.h"
#include "rtl/Bytes.h"

namespace {

constexpr int64_t kStreamChunk = 32768;

ByteString LengthOctets(int64_t size) {
    return EncodeDERLength(uint64_t(size));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TElASN1DataSource

void TElASN1DataSource::AssignString(std::string_view value) {
    value_ = ByteString(value);
    stream_ = nullptr;
    offset_ = size_ = 0;
    kind_ = 0;
}

void TElASN1DataSource::AssignBuffer(const void* buffer, size_t length) {
    AssignString(length ? std::string_view(static_cast<const char*>(buffer), length) : std::string_view());
}

void TElASN1DataSource::AssignStream(rtl::Stream* stream, int64_t offset, int64_t size) {
    value_.clear();
    stream_ = stream;
    offset_ = offset;
    size_ = size != 0 ? size : std::max<int64_t>(0, stream->Size() - offset);
    kind_ = 1;
}

int64_t TElASN1DataSource::GetSize() const {
    return kind_ == 1 ? size_ : int64_t(value_.size());
}

int64_t TElASN1DataSource::Read(void* buffer, int64_t count, int64_t offset) const {
    const int64_t size = GetSize();
    if (offset < 0 || offset >= size || count <= 0) return 0;
    const int64_t n = std::min(count, size - offset);
    if (kind_ == 0) {
        std::memcpy(buffer, value_.data() + offset, size_t(n));
        return n;
    }
    stream_->Seek(offset_ + offset, rtl::SeekOrigin::Begin);
    return int64_t(stream_->Read(buffer, size_t(n)));
}

ByteString TElASN1DataSource::ReadString() const {
    if (kind_ == 0) return value_;
    ByteString r(size_t(size_), '\0');
    const int64_t got = Read(r.data(), size_, 0);
    r.resize(size_t(got));
    return r;
}

void TElASN1DataSource::Wipe() {
    rtl::secure_wipe(value_.data(), value_.size());
    value_.clear();
    stream_ = nullptr;
    offset_ = size_ = 0;
    kind_ = 0;
}

void TElASN1DataSource::CopyTo(TElASN1DataSource& other) const {
    other.stream_ = stream_;
    other.offset_ = offset_;
    other.size_ = size_;
    other.value_ = value_;
    other.kind_ = kind_;
}

// ---------------------------------------------------------------------------------------------
// TElASN1CustomTag

bool TElASN1CustomTag::LoadFromBuffer(const void*, size_t) {
    return false;
}
bool TElASN1CustomTag::LoadFromStream(rtl::Stream&, int64_t) {
    return false;
}

bool TElASN1CustomTag::SaveToBuffer(void* buffer, size_t& size) const {
    const auto needed = size_t(GetEncodedSize());
    if (buffer == nullptr || size < needed) {
        size = needed;
        return false;
    }
    ByteString out;
    out.reserve(needed);
    Emit(out);
    std::memcpy(buffer, out.data(), out.size());
    size = out.size();
    return true;
}

void TElASN1CustomTag::SaveToStream(rtl::Stream& stream) const {
    EmitToStream(stream);
}

uint64_t TElASN1CustomTag::GetTagNumber() const {
    return (TagByte & 0x1F) == 0x1F ? HighTagNumber : uint64_t(TagByte & 0x1F);
}

bool TElASN1CustomTag::CheckType(uint8_t tagByte, bool constructed) const {
    return TagByte == tagByte && IsConstrained() == constructed;
}

ByteString TElASN1CustomTag::Identifier() const {
    ByteString id(1, char(TagByte));
    if ((TagByte & 0x1F) == 0x1F) {
        // Base-128, most significant group first, bit 0x80 on every octet but the last.
        ByteString groups;
        uint64_t v = HighTagNumber;
        do {
            groups.insert(groups.begin(), char((v & 0x7F) | (groups.empty() ? 0 : 0x80)));
            v >>= 7;
        } while (v != 0);
        id += groups;
    }
    return id;
}

int64_t TElASN1CustomTag::HeaderBytes(int64_t contentSize) const {
    if (!EmitHeader) return 0;
    const int64_t id = int64_t(Identifier().size());
    if (IndefiniteLength) return id + 1 + 2;  // 80 and the closing 00 00
    return id + int64_t(LengthOctets(contentSize).size());
}

void TElASN1CustomTag::EncodeHeader(ByteArray& header, int64_t contentSize) const {
    const ByteString h = Identifier() + LengthOctets(contentSize);
    header.assign(h.begin(), h.end());
}

// ---------------------------------------------------------------------------------------------
// TElASN1SimpleTag

void TElASN1SimpleTag::SetContent(std::string_view content) {
    data_.AssignString(content);
}

ByteString TElASN1SimpleTag::GetContent() const {
    return data_.ReadString();
}

int64_t TElASN1SimpleTag::GetEncodedSize() const {
    return ContentSize() + HeaderBytes(ContentSize());
}

void TElASN1SimpleTag::Emit(ByteString& out) const {
    const ByteString content = GetContent();
    if (EmitHeader) {
        out += Identifier();
        out += IndefiniteLength ? ByteString(1, '\x80') : LengthOctets(int64_t(content.size()));
    }
    out += content;
    if (EmitHeader && IndefiniteLength) out.append(2, '\0');
}

void TElASN1SimpleTag::EmitToStream(rtl::Stream& stream) const {
    const int64_t size = data_.GetSize();
    if (EmitHeader) {
        const ByteString h = Identifier() + (IndefiniteLength ? ByteString(1, '\x80') : LengthOctets(size));
        stream.WriteBuffer(h.data(), h.size());
    }
    ByteString chunk(size_t(std::min(size, kStreamChunk)), '\0');
    for (int64_t at = 0; at < size;) {
        const int64_t got = data_.Read(chunk.data(), std::min(kStreamChunk, size - at), at);
        if (got <= 0) throw rtl::EReadError("Stream read error");
        stream.WriteBuffer(chunk.data(), size_t(got));
        at += got;
    }
    if (EmitHeader && IndefiniteLength) stream.WriteBuffer("\0\0", 2);
}

// ---------------------------------------------------------------------------------------------
// TElASN1ConstrainedTag: children

TElASN1ConstrainedTag::~TElASN1ConstrainedTag() = default;

int TElASN1ConstrainedTag::AddChild(bool constructed) {
    if (constructed)
        children_.push_back(std::make_unique<TElASN1ConstrainedTag>());
    else
        children_.push_back(std::make_unique<TElASN1SimpleTag>());
    return GetCount() - 1;
}

TElASN1CustomTag* TElASN1ConstrainedTag::GetChild(int index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return children_[size_t(index)].get();
}

bool TElASN1ConstrainedTag::RemoveChild(int index) {
    if (index < 0 || index >= GetCount()) return false;
    children_.erase(children_.begin() + index);
    return true;
}

void TElASN1ConstrainedTag::Clear() {
    FreeChildren();
    OpenTagStack.clear();
}

void TElASN1ConstrainedTag::FreeChildren() {
    children_.clear();
}

bool TElASN1ConstrainedTag::GetJoinedContent(void* buffer, size_t& size) const {
    size_t needed = 0;
    for (const auto& c : children_) {
        if (c->IsConstrained()) return false;
        needed += size_t(static_cast<const TElASN1SimpleTag&>(*c).DataSource().GetSize());
    }
    if (buffer == nullptr || size < needed) {
        size = needed;
        return false;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    size_t at = 0;
    for (const auto& c : children_) {
        const auto& src = static_cast<const TElASN1SimpleTag&>(*c).DataSource();
        at += size_t(src.Read(out + at, src.GetSize(), 0));
    }
    size = at;
    return true;
}

// ---------------------------------------------------------------------------------------------
// TElASN1ConstrainedTag: writing

int64_t TElASN1ConstrainedTag::ContentSize() const {
    int64_t sum = 0;
    for (const auto& c : children_)
        sum += c->GetEncodedSize();
    return sum;
}

int64_t TElASN1ConstrainedTag::GetEncodedSize() const {
    const int64_t content = ContentSize();
    return content + HeaderBytes(content);
}

void TElASN1ConstrainedTag::Emit(ByteString& out) const {
    if (EmitHeader) {
        out += Identifier();
        out += IndefiniteLength ? ByteString(1, '\x80') : LengthOctets(ContentSize());
    }
    for (const auto& c : children_)
        c->Emit(out);
    if (EmitHeader && IndefiniteLength) out.append(2, '\0');
}

void TElASN1ConstrainedTag::EmitToStream(rtl::Stream& stream) const {
    if (EmitHeader) {
        const ByteString h =
            Identifier() + (IndefiniteLength ? ByteString(1, '\x80') : LengthOctets(ContentSize()));
        stream.WriteBuffer(h.data(), h.size());
    }
    for (const auto& c : children_)
        c->EmitToStream(stream);
    if (EmitHeader && IndefiniteLength) stream.WriteBuffer("\0\0", 2);
}

// ---------------------------------------------------------------------------------------------
// TElASN1ConstrainedTag: loading

struct TElASN1ConstrainedTag::LoadState {
    // Source: a buffer (read through a bounds-checked reader) or a stream window.
    const uint8_t* data = nullptr;
    size_t size = 0;
    rtl::Stream* stream = nullptr;
    int64_t end = 0;  // stream loads: position where the input ends
    int64_t pos = 0;  // buffer: offset in data; stream: stream position

    // Offset of data[0] within the outermost buffer (buffer loads only).
    int64_t base = 0;
    int depth = 0;

    bool singleElement = false;
    bool firstComplete = false;
    int64_t allowance = 0;

    // From the last HeaderEvent.
    uint8_t identifier = 0;
    bool indefinite = false;
    int headerSize = 0;

    int64_t Available() const {
        const int64_t left = stream ? end - pos : int64_t(size) - pos;
        return singleElement && firstComplete ? std::min(left, allowance) : left;
    }
    void Complete(int64_t allow) {
        if (singleElement && !firstComplete) {
            firstComplete = true;
            allowance = allow;
        }
    }
};

void TElASN1ConstrainedTag::RunParser(LoadState& st) {
    TElASN1Parser parser;
    parser.ReportEndOfContents = true;
    parser.MaxInMemorySize = st.stream ? MaxInMemorySize : 0;

    parser.ReadEvent = [&st](TElASN1Parser*, void* buffer, uint32_t& size) {
        const int64_t n = std::min<int64_t>(size, std::max<int64_t>(0, st.Available()));
        if (st.stream) {
            st.stream->Seek(st.pos, rtl::SeekOrigin::Begin);
            size = uint32_t(n > 0 ? st.stream->Read(buffer, size_t(n)) : 0);
        } else {
            rtl::ByteReader reader(st.data, st.size);
            reader.seek(size_t(st.pos));
            const auto bytes = reader.bytes(size_t(n));
            if (n > 0) std::memcpy(buffer, bytes.data(), bytes.size());
            size = uint32_t(n);
        }
        st.pos += size;
        if (st.singleElement && st.firstComplete) st.allowance -= size;
    };

    parser.SkipEvent = [&st](TElASN1Parser*, int64_t& count) {
        count = std::min(count, std::max<int64_t>(0, st.Available()));
        st.pos += count;
        if (st.singleElement && st.firstComplete) st.allowance -= count;
    };

    parser.HeaderEvent = [&st](TElASN1Parser*, uint8_t identifier, bool indefinite, int headerSize,
                               int64_t contentSize) {
        st.identifier = identifier;
        st.indefinite = indefinite;
        st.headerSize = headerSize;
        // A length beyond what the input still holds is refused before anything is read.
        if (contentSize > st.Available()) throw EASN1Error("Unexpected stream end");
    };

    parser.ElementEvent = [this, &st](TElASN1Parser*, uint8_t tagClass, bool constructed, bool& report,
                                      uint8_t unusedBits, const void* content, int64_t contentSize,
                                      int tagNumberLength, const uint8_t* tagNumber) {
        if (tagClass == 4) {
            // End-of-contents closes the innermost open element; one with nothing open is
            // stray data.
            if (OpenTagStack.empty()) throw EASN1Error("Invalid ASN1 Sequence");
            TElASN1ConstrainedTag* closed = OpenTagStack.back();
            OpenTagStack.pop_back();
            closed->ElementSize = st.base + st.pos - closed->ElementOffset;
            if (OpenTagStack.empty()) st.Complete(0);
            return;
        }
        if (tagNumberLength == 0) return;  // end signal of a constructed element

        TElASN1ConstrainedTag* parent = OpenTagStack.empty() ? this : OpenTagStack.back();
        const int depth = (parent == this ? st.depth : parent->depth_) + 1;
        if (depth > TElASN1Parser::MaxDepth) throw EASN1Error("ASN1 nesting too deep");

        uint64_t number = 0;
        for (int i = tagNumberLength; i-- > 0;)
            number = (number << 8) | tagNumber[i];

        parent->children_.push_back(
            constructed ? std::unique_ptr<TElASN1CustomTag>(std::make_unique<TElASN1ConstrainedTag>())
                        : std::make_unique<TElASN1SimpleTag>());
        TElASN1CustomTag& child = *parent->children_.back();
        child.TagByte = st.identifier;
        if ((st.identifier & 0x1F) == 0x1F) child.HighTagNumber = number;
        child.HeaderSize = st.headerSize;
        child.ElementSize = contentSize + st.headerSize;

        if (constructed) {
            auto& node = static_cast<TElASN1ConstrainedTag&>(child);
            node.depth_ = depth;
            node.MaxInMemorySize = MaxInMemorySize;
            node.ElementOffset = st.base + st.pos - st.headerSize;
            if (st.indefinite) {
                node.IndefiniteLength = true;
                OpenTagStack.push_back(&node);
            } else {
                if (contentSize > 0) {
                    if (st.stream) {
                        st.stream->Seek(st.pos, rtl::SeekOrigin::Begin);
                        node.LoadStreamAt(*st.stream, contentSize, depth);
                    } else {
                        node.LoadBufferAt(st.data + st.pos, size_t(contentSize), depth, false, nullptr);
                    }
                }
                if (OpenTagStack.empty()) st.Complete(contentSize);
            }
            // The child has what it needs; the parser only has to get past the content.
            report = false;
            return;
        }

        auto& leaf = static_cast<TElASN1SimpleTag&>(child);
        const bool bitString = tagClass == 0 && number == 3;
        leaf.ElementOffset = st.base + st.pos - st.headerSize - contentSize;
        if (bitString) {
            // The unused-bits octet was read before the content.
            leaf.ElementOffset -= 1;
            leaf.ElementSize += 1;
        }
        if (content != nullptr || contentSize == 0) {
            ByteString bytes(static_cast<const char*>(content), size_t(contentSize));
            if (tagClass == 0 && number == 2) {
                std::reverse(bytes.begin(), bytes.end());  // the parser hands INTEGERs over reversed
                if (bytes.empty()) bytes.assign(1, '\0');
            }
            if (bitString) bytes.insert(bytes.begin(), char(unusedBits));
            leaf.SetContent(bytes);
        } else {
            leaf.DataSource().AssignStream(st.stream, leaf.ElementOffset + leaf.HeaderSize,
                                           leaf.ElementSize - leaf.HeaderSize);
        }
        if (OpenTagStack.empty()) st.Complete(0);
    };

    parser.Parse();
    if (!OpenTagStack.empty()) {
        OpenTagStack.clear();
        throw EASN1Error("Unexpected stream end");
    }
}

void TElASN1ConstrainedTag::LoadBufferAt(const uint8_t* data, size_t size, int depth, bool singleElement,
                                         int64_t* consumed) {
    LoadState st;
    st.data = data;
    st.size = size;
    st.base = ElementOffset + HeaderSize;
    st.depth = depth;
    st.singleElement = singleElement;
    OpenTagStack.clear();
    RunParser(st);
    // In single-element mode an input without a whole first element loaded nothing.
    if (singleElement && !st.firstComplete) throw EASN1Error("Unexpected stream end");
    if (consumed) *consumed = st.pos;
}

void TElASN1ConstrainedTag::LoadStreamAt(rtl::Stream& stream, int64_t count, int depth) {
    LoadState st;
    st.stream = &stream;
    st.pos = stream.Position();
    st.end = count != 0 ? st.pos + count : stream.Size();
    st.depth = depth;
    OpenTagStack.clear();
    RunParser(st);
}

bool TElASN1ConstrainedTag::LoadFromBuffer(const void* buffer, size_t size) {
    try {
        LoadBufferAt(static_cast<const uint8_t*>(buffer), buffer ? size : 0, depth_, false, nullptr);
        return true;
    } catch (const std::exception&) {
        OpenTagStack.clear();
        return false;
    }
}

int64_t TElASN1ConstrainedTag::LoadOneFromBuffer(const void* buffer, size_t size) {
    try {
        int64_t consumed = 0;
        LoadBufferAt(static_cast<const uint8_t*>(buffer), buffer ? size : 0, depth_, true, &consumed);
        return consumed;
    } catch (const std::exception&) {
        OpenTagStack.clear();
        return -1;
    }
}

bool TElASN1ConstrainedTag::LoadFromStream(rtl::Stream& stream, int64_t count) {
    try {
        LoadStreamAt(stream, count, depth_);
        return true;
    } catch (const std::exception&) {
        OpenTagStack.clear();
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// INTEGER routines

void WriteTagInteger(TElASN1SimpleTag& tag, uint32_t value) {
    uint8_t be[4];
    rtl::store_be32(be, value);
    WriteTagIntegerBytes(tag, be, sizeof(be));
}

void WriteTagIntegerBytes(TElASN1SimpleTag& tag, const void* bytes, size_t count) {
    tag.TagByte = 0x02;
    tag.SetContent(DERIntegerContent(std::string_view(static_cast<const char*>(bytes), count)));
}

void WipeTagTree(TElASN1CustomTag& tag) {
    if (!tag.IsConstrained()) {
        static_cast<TElASN1SimpleTag&>(tag).DataSource().Wipe();
        return;
    }
    auto& c = static_cast<TElASN1ConstrainedTag&>(tag);
    for (int i = 0; i < c.GetCount(); ++i)
        WipeTagTree(*c.GetChild(i));
}

TElASN1SimpleTag& AddSimpleChild(TElASN1ConstrainedTag& parent, uint8_t tagByte, std::string_view content) {
    auto& t = static_cast<TElASN1SimpleTag&>(*parent.GetChild(parent.AddChild(false)));
    t.TagByte = tagByte;
    if (!content.empty()) t.SetContent(content);
    return t;
}

TElASN1ConstrainedTag& AddConstrainedChild(TElASN1ConstrainedTag& parent, uint8_t tagByte) {
    auto& t = static_cast<TElASN1ConstrainedTag&>(*parent.GetChild(parent.AddChild(true)));
    t.TagByte = tagByte;
    return t;
}

bool ReadTagIntegerBounded(const TElASN1SimpleTag& tag, uint32_t max, uint32_t& value) {
    const ByteString c = tag.GetContent();
    if (c.empty() || (uint8_t(c[0]) & 0x80) != 0) return false;
    uint64_t v = 0;
    for (const char b : c) {
        v = (v << 8) | uint8_t(b);
        // Checked at every byte, so a long run of digits never overflows the accumulator.
        if (v > max) return false;
    }
    value = uint32_t(v);
    return true;
}

uint32_t ReadTagInteger(const TElASN1SimpleTag& tag) {
    const ByteString c = tag.GetContent();
    uint32_t v = 0;
    for (size_t i = c.size() > 4 ? c.size() - 4 : 0; i < c.size(); ++i)
        v = (v << 8) | uint8_t(c[i]);
    return v;
}

// ---------------------------------------------------------------------------------------------
// Whole-node helpers

ByteString SaveTagToString(const TElASN1CustomTag& tag) {
    size_t size = 0;
    tag.SaveToBuffer(nullptr, size);
    ByteString out(size, '\0');
    if (size != 0) tag.SaveToBuffer(out.data(), size);
    out.resize(size);
    return out;
}

ByteString TagContentToString(const TElASN1CustomTag& tag) {
    if (!tag.IsConstrained()) return static_cast<const TElASN1SimpleTag&>(tag).GetContent();
    const auto& node = static_cast<const TElASN1ConstrainedTag&>(tag);
    ByteString out;
    for (int i = 0; i < node.GetCount(); ++i)
        out += SaveTagToString(*node.GetChild(i));
    return out;
}

bool LoadTagTree(TElASN1ConstrainedTag& root, std::string_view der) {
    root.Clear();
    return root.LoadFromBuffer(der.data(), der.size());
}

const TElASN1ConstrainedTag* ConstructedChild(const TElASN1ConstrainedTag& parent, int index, uint8_t tagByte,
                                              bool anyTag) {
    const TElASN1CustomTag* c = parent.GetChild(index);
    if (c == nullptr || !c->IsConstrained() || (!anyTag && c->TagByte != tagByte)) return nullptr;
    return static_cast<const TElASN1ConstrainedTag*>(c);
}

const TElASN1SimpleTag* PrimitiveChild(const TElASN1ConstrainedTag& parent, int index, uint8_t tagByte,
                                       bool anyTag) {
    const TElASN1CustomTag* c = parent.GetChild(index);
    if (c == nullptr || c->IsConstrained() || (!anyTag && c->TagByte != tagByte)) return nullptr;
    return static_cast<const TElASN1SimpleTag*>(c);
}

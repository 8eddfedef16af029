// crypto/base/SBASN1Tree.h: the ASN.1 tag tree: BER/DER data as a tree of nodes, written back as
// DER (or indefinite-length BER where a node was read that way).
//
// Keys, cipher parameters, certificates, CRLs, PKCS messages and TLS certificate messages are
// all read and written through it. A TElASN1ConstrainedTag is a constructed node with owned
// children, a TElASN1SimpleTag a primitive node whose content lives in a TElASN1DataSource (in
// memory, or a window of a stream for large contents of stream loads).
//
// Loading never raises: it answers false (or -1) and leaves the children built before the
// failure in the tree (callers Clear it). What must stay true: a load never reads or allocates
// past its input whatever the lengths claim; nesting deeper than TElASN1Parser::MaxDepth fails;
// an indefinite-length element must be closed by its end-of-contents marker; and a loaded tree
// saves back to the bytes it was loaded from when they were DER: tag numbers of 31 and above are
// kept whole (HighTagNumber) and a BIT STRING's content keeps its unused-bits octet as its first
// byte.
//
// Offsets: ElementOffset is where the element's first identifier octet was found; for buffer
// loads it counts from the start of the outermost buffer, for stream loads it is the stream
// position. HeaderSize counts all identifier and length octets. For a primitive BIT STRING the
// element starts at its identifier as usual, and ElementSize includes the unused-bits octet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "crypto/base/SBASN1.h"
#include "crypto/base/SBUtils.h"
#include "rtl/Stream.h"

// The content of a primitive node: an in-memory byte string or a window of a stream (the
// stream is not owned and must outlive the source).
class TElASN1DataSource {
public:
    void AssignString(std::string_view value);
    void AssignBuffer(const void* buffer, size_t length);
    // size 0 means from offset to the end of the stream.
    void AssignStream(rtl::Stream* stream, int64_t offset, int64_t size);
    ByteString ReadString() const;
    // Copies at most what lies between offset and the end of the content; answers the count.
    int64_t Read(void* buffer, int64_t count, int64_t offset) const;
    int64_t GetSize() const;
    // The other source gets the same kind and content (the same string or the same window).
    void CopyTo(TElASN1DataSource& other) const;
    bool IsStreamWindow() const { return kind_ == 1; }
    // Overwrites an in-memory content in place, then empties the source.
    void Wipe();

private:
    rtl::Stream* stream_ = nullptr;
    int64_t offset_ = 0;
    int64_t size_ = 0;
    ByteString value_;
    uint8_t kind_ = 0;  // 0 in memory, 1 a window of a stream
};

class TElASN1CustomTag {
public:
    virtual ~TElASN1CustomTag() = default;
    TElASN1CustomTag() = default;
    TElASN1CustomTag(const TElASN1CustomTag&) = delete;
    TElASN1CustomTag& operator=(const TElASN1CustomTag&) = delete;

    // The identifier octet: class in the top two bits, constructed bit 0x20, tag number in the
    // low five bits (all ones when the number is 31 or more: it is then in HighTagNumber).
    uint8_t TagByte = 0;
    uint64_t HighTagNumber = 0;
    // When false the node is written as its content only.
    bool EmitHeader = true;
    // Written as identifier, 80, contents, 00 00.
    bool IndefiniteLength = false;
    int64_t ElementOffset = 0;
    int64_t ElementSize = 0;
    int32_t HeaderSize = 0;

    virtual bool IsConstrained() const { return false; }
    // The size the node has when written.
    virtual int64_t GetEncodedSize() const { return 0; }
    virtual bool LoadFromBuffer(const void* buffer, size_t size);
    // A size below the one needed (or a null buffer) answers false with the size needed.
    virtual bool SaveToBuffer(void* buffer, size_t& size) const;
    // count 0: to the end of the stream.
    virtual bool LoadFromStream(rtl::Stream& stream, int64_t count = 0);
    virtual void SaveToStream(rtl::Stream& stream) const;

    // The low five bits of TagByte, or HighTagNumber when those are all ones.
    uint64_t GetTagNumber() const;
    bool CheckType(uint8_t tagByte, bool constructed) const;
    // Identifier and definite length octets for a content of contentSize bytes.
    void EncodeHeader(ByteArray& header, int64_t contentSize) const;

protected:
    friend class TElASN1ConstrainedTag;
    // Appends the node's encoding.
    virtual void Emit(ByteString& out) const = 0;
    virtual void EmitToStream(rtl::Stream& stream) const = 0;
    virtual int64_t ContentSize() const = 0;
    ByteString Identifier() const;
    int64_t HeaderBytes(int64_t contentSize) const;
};

class TElASN1SimpleTag final : public TElASN1CustomTag {
public:
    int64_t GetEncodedSize() const override;
    bool LoadFromBuffer(const void*, size_t) override { return false; }
    bool LoadFromStream(rtl::Stream&, int64_t = 0) override { return false; }

    // An in-memory copy.
    void SetContent(std::string_view content);
    // The whole content (read from the stream for a stream window).
    ByteString GetContent() const;
    TElASN1DataSource& DataSource() { return data_; }
    const TElASN1DataSource& DataSource() const { return data_; }

protected:
    void Emit(ByteString& out) const override;
    void EmitToStream(rtl::Stream& stream) const override;
    int64_t ContentSize() const override { return data_.GetSize(); }

private:
    TElASN1DataSource data_;
};

class TElASN1ConstrainedTag final : public TElASN1CustomTag {
public:
    TElASN1ConstrainedTag() = default;
    ~TElASN1ConstrainedTag() override;

    bool IsConstrained() const override { return true; }
    int64_t GetEncodedSize() const override;
    // Appends every top-level element of the buffer as children.
    bool LoadFromBuffer(const void* buffer, size_t size) override;
    bool LoadFromStream(rtl::Stream& stream, int64_t count = 0) override;

    // Appends a new child (constructed or primitive); answers its index.
    int AddChild(bool constructed);
    // Null when the index is out of range.
    TElASN1CustomTag* GetChild(int index) const;
    int GetCount() const { return int(children_.size()); }
    bool RemoveChild(int index);
    // Frees all children and forgets the open indefinite-length elements.
    void Clear();
    void FreeChildren();
    // Loads exactly one top-level element; answers the bytes it occupied, -1 on failure. Bytes
    // after it are not looked at.
    int64_t LoadOneFromBuffer(const void* buffer, size_t size);
    // The contents of all (primitive) children joined: false as soon as a child is
    // constructed, or with the size needed when the buffer is too small.
    bool GetJoinedContent(void* buffer, size_t& size) const;

    // 0 = no limit. Stream loads leave larger primitive contents in the stream.
    int32_t MaxInMemorySize = 0;

protected:
    void Emit(ByteString& out) const override;
    void EmitToStream(rtl::Stream& stream) const override;
    int64_t ContentSize() const override;

private:
    struct LoadState;
    // The loading routines raise on failure; the public ones catch.
    void LoadBufferAt(const uint8_t* data, size_t size, int depth, bool singleElement, int64_t* consumed);
    void LoadStreamAt(rtl::Stream& stream, int64_t count, int depth);
    void RunParser(LoadState& st);

    std::vector<std::unique_ptr<TElASN1CustomTag>> children_;
    // Children of indefinite length still open during a load.
    std::vector<TElASN1ConstrainedTag*> OpenTagStack;
    // Nesting level of this node within the load that created it.
    int depth_ = 0;
};

// Wipes the content of every primitive node below (and at) tag: for trees that held private
// keys or decrypted data, before they are freed.
void WipeTagTree(TElASN1CustomTag& tag);

// Appends a primitive child with the tag byte and content; answers it.
TElASN1SimpleTag& AddSimpleChild(TElASN1ConstrainedTag& parent, uint8_t tagByte,
                                 std::string_view content = {});
// Appends a constructed child with the tag byte; answers it.
TElASN1ConstrainedTag& AddConstrainedChild(TElASN1ConstrainedTag& parent, uint8_t tagByte);

// INTEGER routines on a primitive node.
// A count read from a file (iterations, lengths): a non-negative INTEGER no larger than max.
// Leading zero bytes are allowed; a negative value, an empty content or anything above max
// (however long) answers false with value untouched.
bool ReadTagIntegerBounded(const TElASN1SimpleTag& tag, uint32_t max, uint32_t& value);
// TagByte := 02; the value as unsigned big-endian bytes, minimal, 00 in front of a top bit.
void WriteTagInteger(TElASN1SimpleTag& tag, uint32_t value);
// TagByte := 02; the given unsigned big-endian bytes as a DER INTEGER: leading zero bytes
// dropped, 00 in front of a top bit, and a single 00 for no bytes or only zeros. DER allows one
// encoding per value and other verifiers refuse padded ones (a DSA signature whose r begins
// with 00 would be refused one time in 128).
void WriteTagIntegerBytes(TElASN1SimpleTag& tag, const void* bytes, size_t count);
// The last four content bytes as a big-endian number.
uint32_t ReadTagInteger(const TElASN1SimpleTag& tag);

// The node written as DER (what SaveToBuffer writes), as a byte string.
ByteString SaveTagToString(const TElASN1CustomTag& tag);
// The node's content octets: a primitive node's content, a constructed node's children written
// one after another (its encoding without identifier and length).
ByteString TagContentToString(const TElASN1CustomTag& tag);
// Loads one buffer as a tree whose children are the buffer's top-level elements; false when
// it does not parse. The root is cleared first.
bool LoadTagTree(TElASN1ConstrainedTag& root, std::string_view der);
// The child at index when it is constructed (ConstructedChild) or primitive (PrimitiveChild)
// and, unless anyTag, has exactly that tag byte; null otherwise (also outside the children).
const TElASN1ConstrainedTag* ConstructedChild(const TElASN1ConstrainedTag& parent, int index, uint8_t tagByte,
                                              bool anyTag = false);
const TElASN1SimpleTag* PrimitiveChild(const TElASN1ConstrainedTag& parent, int index, uint8_t tagByte,
                                       bool anyTag = false);

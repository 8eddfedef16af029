// net/IdCoder.h: the abstract encoder and decoder components.
//
// An encoder turns a stream's bytes into text; a decoder turns text back into bytes and writes
// them to the output stream set by DecodeBegin (not owned). The concrete engine is the
// three-to-four coder (IdCoder3to4.h); Base64 is its MIME alphabet (IdCoderMIME.h).
#pragma once

#include <cstdint>
#include <string>

#include "net/IdBaseComponent.h"
#include "net/IdStream.h"

class TIdEncoder : public TIdBaseComponent {
public:
    using TIdBaseComponent::TIdBaseComponent;

    // Encodes up to count bytes of the stream from its position.
    virtual std::string EncodeStream(TIdStreamRandomAccess& stream, int64_t count) = 0;
    // The text's bytes, all of them, encoded.
    std::string EncodeText(const std::string& text);
};

class TIdDecoder : public TIdBaseComponent {
public:
    using TIdBaseComponent::TIdBaseComponent;

    // Decodes length characters of text from the 1-based start (-1: to the end) into the
    // output stream.
    virtual void Decode(const std::string& text, int32_t start = 1, int32_t length = -1) = 0;
    virtual void DecodeBegin(TIdStream* stream) { stream_ = stream; }
    virtual void DecodeEnd() {}

protected:
    TIdStream* OutputStream() const { return stream_; }

private:
    TIdStream* stream_ = nullptr;
};

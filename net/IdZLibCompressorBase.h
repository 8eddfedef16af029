// net/IdZLibCompressorBase.h: the hook through which the HTTP client inflates compressed
// bodies.
//
// The library has no concrete compressor: an application supplies a subclass that implements
// DecompressStream (inflate a zlib stream from the stream's current position). The base turns
// the two HTTP content codings into that: "deflate" is a zlib stream already (RFC 9110
// section 8.4.1.2) and is inflated from its start; a "gzip" member (RFC 1952) becomes one: its
// header is read past, its raw deflate data moves behind a zlib header to where the member
// began, and its 8-byte trailer is cut, so the inflater is handed, at the stream's position, a
// zlib stream that ends where its Adler-32 checksum would start. Either way the inflated body
// replaces the compressed one from the position the call began at. A header that runs past the
// stream's end raises EIdException.
#pragma once

#include "net/IdBaseComponent.h"
#include "net/IdException.h"
#include "rtl/Stream.h"

class TIdZLibCompressorBase : public TIdBaseComponent {
public:
    using TIdBaseComponent::TIdBaseComponent;

    // Inflates the zlib stream from the stream's position; outStream nullptr: the inflated
    // bytes replace the compressed ones from that position on.
    virtual void DecompressStream(rtl::Stream& stream, rtl::Stream* outStream) = 0;
    virtual void DecompressDeflateStream(rtl::Stream& stream, rtl::Stream* outStream = nullptr);
    virtual void DecompressGZipStream(rtl::Stream& stream, rtl::Stream* outStream = nullptr);

protected:
    // Reads past a gzip member header (RFC 1952 section 2.3) from the stream's position.
    static void SkipGZipHeader(rtl::Stream& stream);
};

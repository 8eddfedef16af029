// tls/SBZlib.h: the cryptographic library's thin layer over zlib, for the FTP client's
// "MODE Z" transfers and the TLS engine's record compression.
//
// The stream record is zlib's own z_stream; the caller owns it and the facade keeps no state
// of its own. Initialise a record with InitCompression or InitDecompression, move whole
// buffers through it with CompressData, DecompressData or DecompressWithCallback, and end it
// with FinishCompression (deflate) or EndDecompression (inflate). Every operation consumes its
// whole input and produces everything zlib has ready for it: output that zlib holds back
// because a step buffer filled up is drained before the call returns, so nothing is left in
// the record between calls except what the compressed format itself still needs.
//
// Failures raise rtl::Exception with "Compression failed, deflate returned [%d]" or
// "Decompression failed, inflate returned [%d]" (zlib's result code); the inflater's buffer
// error, which means the compressed data cannot progress at all, raises rtl::EAbort, the class
// library's silent exception. Output that must fit a caller's buffer raises "Output buffer too
// small"; the growing forms have no such limit beyond what the input can inflate to.
//
// What passes through a stream may be secret (a TLS session's records, credentials among them),
// and zlib keeps its history window and tables on the heap: the initialisers give a record that
// has no allocator of its own one that wipes each block before it goes back, and each operation
// wipes the part of its step buffer it used before it returns.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "rtl/DataSet.h"
#include "rtl/SecureBytes.h"

using TZStreamRec = z_stream;

inline constexpr const char* SCompressionFailed = "Compression failed, deflate returned [%d]";
inline constexpr const char* SDecompressionFailed = "Decompression failed, inflate returned [%d]";
inline constexpr const char* SZlibOutputBufferTooSmall = "Output buffer too small";

// deflateInit with the level; a level outside 1 to 9 compresses at 6. Answers zlib's result.
int InitCompression(TZStreamRec& strm, int level);
// inflateInit (zlib-wrapped data). Answers zlib's result.
int InitDecompression(TZStreamRec& strm);

// Compresses the whole input with partial flushes, so everything given so far can be inflated
// by the peer at once. output is replaced by the compressed bytes; it grows to whatever size
// the data needs (a compressed block can be larger than its input).
// An empty input after a flush gives an empty output.
void CompressData(TZStreamRec& strm, const void* input, size_t inputSize, std::vector<uint8_t>& output);
void CompressData(TZStreamRec& strm, const void* input, size_t inputSize, rtl::SecureBytes& output);

// Inflates the input into the caller's buffer: outputSize holds the room on entry and the
// bytes produced on return. Raises "Output buffer too small" when the data inflates to more.
// Input after the end of the compressed stream is not processed.
void DecompressData(TZStreamRec& strm, const void* input, size_t inputSize, void* output, size_t& outputSize);
// The same, appending everything produced to output.
void DecompressData(TZStreamRec& strm, const void* input, size_t inputSize, std::vector<uint8_t>& output);

// Inflates the input with full flushes and hands each produced piece to the callback.
using TSBZlibCallback = std::function<void(const uint8_t* data, size_t size)>;
void DecompressWithCallback(TZStreamRec& strm, const void* input, size_t inputSize, const TSBZlibCallback& callback);

// Finishes the deflate stream (the end of the compressed format) and ends the record; output
// is replaced by the final bytes, however many there are.
void FinishCompression(TZStreamRec& strm, std::vector<uint8_t>& output);
// Ends a deflate record without finishing its stream (a session that simply stops). A record
// never initialised, or ended already, is left alone.
void EndCompression(TZStreamRec& strm);
// Ends an inflate record (its memory goes back to zlib). A record never initialised, or ended
// already, is left alone.
void EndDecompression(TZStreamRec& strm);

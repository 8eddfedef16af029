// tls/SBHTTPSClient_response.cpp: the HTTP client's response reader and HTTP dates.
//
// The reader is a state machine over the bytes as they arrive (see HTTPResponseReader in the
// header). Line states (status line, header lines, chunk sizes, the line end after chunk
// data, trailers) collect one line at a time under a ceiling; body states pass the bytes on
// without copying them. The body's framing follows RFC 9112 section 6.3; its content coding
// (gzip, RFC 1952; deflate, RFC 9110 section 8.4.1.2, zlib-wrapped or raw) is undone as it
// arrives and its end is checked: a gzip member ends with its CRC-32 and length.
#include <cstring>

#include "rtl/Format.h"
#include "rtl/Text.h"
#include "tls/SBHTTPSClient.h"

namespace {

constexpr size_t kInflateStep = 65536;
// A gzip member header with its optional name, comment and extra field.
constexpr size_t kGzipHeaderLimit = 65536;

std::string Trimmed(std::string_view s) {
    return rtl::Trim(s);
}

// Digits only, no sign, within int64_t.
bool ParseDecimal(std::string_view text, int64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// RFC 9112 section 7.1: chunk-size [ BWS ";" extensions ]. Answers false for anything else.
bool ParseChunkSize(const std::string& line, uint64_t& size) {
    size_t i = 0;
    size = 0;
    while (i < line.size() && std::isxdigit(static_cast<unsigned char>(line[i]))) {
        if (i >= 16) return false;  // more than 64 bits of size
        const char c = line[i];
        size = size * 16 + uint64_t(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        ++i;
    }
    if (i == 0) return false;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    return i == line.size() || line[i] == ';';
}

// The length of a complete gzip member header at the start of bytes, 0 while more bytes
// are needed; -1 when it is not one (RFC 1952 section 2.3.1).
int64_t GzipHeaderLength(const std::string& bytes) {
    const auto at = [&](size_t i) { return uint8_t(bytes[i]); };
    if (bytes.size() >= 1 && at(0) != 0x1F) return -1;
    if (bytes.size() >= 2 && at(1) != 0x8B) return -1;
    if (bytes.size() >= 3 && at(2) != 8) return -1;
    if (bytes.size() >= 4 && (at(3) & 0xE0) != 0) return -1;
    if (bytes.size() < 10) return 0;
    const uint8_t flags = at(3);
    size_t pos = 10;
    if (flags & 0x04) {  // FEXTRA: two-byte little-endian length and that many bytes
        if (bytes.size() < pos + 2) return 0;
        pos += 2 + (size_t(at(pos)) | size_t(at(pos + 1)) << 8);
        if (bytes.size() < pos) return 0;
    }
    for (uint8_t zeroTerminated : {uint8_t(0x08), uint8_t(0x10)}) {  // FNAME, FCOMMENT
        if (!(flags & zeroTerminated)) continue;
        const size_t end = bytes.find('\0', pos);
        if (end == std::string::npos) return 0;
        pos = end + 1;
    }
    if (flags & 0x02) pos += 2;  // FHCRC
    return bytes.size() < pos ? 0 : int64_t(pos);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// HTTP dates

namespace {

constexpr const char* kShortDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kLongDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

[[noreturn]] void InvalidDate() {
    throw EElHTTPSClientError(SInvalidDateTime);
}

int IndexIn(const char* const* names, int count, std::string_view name) {
    for (int i = 0; i < count; ++i)
        if (name == names[i]) return i;
    InvalidDate();
}

int Number(std::string_view text) {
    int64_t v = 0;
    if (!ParseDecimal(text, v) || v > 9999) InvalidDate();
    return int(v);
}

// "HH:MM:SS"
rtl::TDateTime TimeOf(std::string_view text) {
    const std::string t = Trimmed(text);
    if (t.size() != 8 || t[2] != ':' || t[5] != ':') InvalidDate();
    rtl::TDateTime value = 0;
    if (!rtl::TryEncodeTime(Number(t.substr(0, 2)), Number(t.substr(3, 2)), Number(t.substr(6, 2)), 0, value))
        InvalidDate();
    return value;
}

rtl::TDateTime DateOf(int year, int month, int day, int weekday) {
    rtl::TDateTime value = 0;
    if (!rtl::TryEncodeDate(year, month + 1, day, value)) InvalidDate();
    if (rtl::DayOfWeek(value) != weekday + 1) InvalidDate();
    return value;
}

std::vector<std::string_view> Tokens(std::string_view text) {
    std::vector<std::string_view> out;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find(' ', at);
        if (end == std::string_view::npos) end = text.size();
        out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

}  // namespace

rtl::TDateTime HTTPDateToDateTime(std::string_view input) {
    const std::string text = Trimmed(input);
    const std::vector<std::string_view> t = Tokens(text);
    if (t.empty()) InvalidDate();
    const std::string_view first = t[0];
    if (first.size() == 3) {
        // asctime: "Sun Nov  6 08:49:37 1994"; the day may be padded with a space.
        if (t.size() < 3) InvalidDate();
        const int weekday = IndexIn(kShortDays, 7, first);
        const int month = IndexIn(kMonths, 12, t[1]);
        const size_t afterMonth = size_t(t[1].data() + t[1].size() - text.data());
        const std::string restText = Trimmed(std::string_view(text).substr(afterMonth));
        const std::vector<std::string_view> r = Tokens(restText);
        if (r.size() != 3) InvalidDate();
        return DateOf(Number(r[2]), month, Number(r[0]), weekday) + TimeOf(r[1]);
    }
    if (first.size() == 4 && first.back() == ',') {
        // RFC 1123: "Sun, 06 Nov 1994 08:49:37 GMT"
        if (t.size() != 6 || t[5] != "GMT") InvalidDate();
        const int weekday = IndexIn(kShortDays, 7, first.substr(0, 3));
        return DateOf(Number(t[3]), IndexIn(kMonths, 12, t[2]), Number(t[1]), weekday) + TimeOf(t[4]);
    }
    if (first.size() > 1 && first.back() == ',') {
        // RFC 850: "Sunday, 06-Nov-94 08:49:37 GMT"; a two-digit year is 2000 + year up to 50.
        if (t.size() != 4 || t[3] != "GMT") InvalidDate();
        const int weekday = IndexIn(kLongDays, 7, first.substr(0, first.size() - 1));
        const std::vector<std::string> dmy = rtl::SplitFields(t[1], '-');
        if (dmy.size() != 3) InvalidDate();
        int year = Number(dmy[2]);
        if (dmy[2].size() <= 2) year += year <= 50 ? 2000 : 1900;
        return DateOf(year, IndexIn(kMonths, 12, dmy[1]), Number(dmy[0]), weekday) + TimeOf(t[2]);
    }
    InvalidDate();
}

std::string DateTimeToHTTPDate(rtl::TDateTime value) {
    int year, month, day, hour, minute, second, msec;
    rtl::DecodeDate(value, year, month, day);
    rtl::DecodeTime(value, hour, minute, second, msec);
    return rtl::Format("%s, %.2d %s %.4d %.2d:%.2d:%.2d GMT", kShortDays[rtl::DayOfWeek(value) - 1], day,
                       kMonths[month - 1], year, hour, minute, second);
}

// ---------------------------------------------------------------------------------------------
// The reader

HTTPResponseReader::HTTPResponseReader() = default;

HTTPResponseReader::~HTTPResponseReader() {
    if (zsReady_) inflateEnd(&zs_);
}

void HTTPResponseReader::Reset(bool headRequest, bool viaProxy) {
    if (zsReady_) inflateEnd(&zs_);
    zsReady_ = false;
    zs_ = z_stream{};
    state_ = State::StatusLine;
    head_ = headRequest;
    viaProxy_ = viaProxy;
    pending_.clear();
    trailerBytes_ = 0;
    chunkLeft_ = 0;
    coding_ = Coding::None;
    codingPending_.clear();
    crc_ = crc32(0, nullptr, 0);
    inflatedSize_ = 0;
    StatusCode = 0;
    ReasonPhrase.clear();
    ServerVersion = 0;
    ClearHeaderFields();
    RawBodyBytes = Delivered = 0;
}

void HTTPResponseReader::ClearHeaderFields() {
    HeaderLines.clear();
    ContentLength = -1;
    Chunked = Gzip = Deflate = false;
    ConnectionField = -1;
    ProxyKeepAliveRefused = toClose_ = false;
    Cookies.clear();
    WWWAuthenticate.clear();
    ProxyAuthenticate.clear();
    DateField.clear();
    Location.clear();
    headerBytes_ = 0;
}

void HTTPResponseReader::Fail(const std::string& message) {
    state_ = State::Failed;
    throw EElHTTPSClientError(message);
}

bool HTTPResponseReader::TakeLine(std::string& line, size_t room, size_t limit, const char* what) {
    const size_t lf = pending_.find('\n');
    if (lf == std::string::npos) {
        if (pending_.size() > room) Fail(rtl::Format(what, int(limit)));
        return false;
    }
    if (lf > room) Fail(rtl::Format(what, int(limit)));
    line.assign(pending_, 0, lf);
    pending_.erase(0, lf + 1);
    // RFC 9112 section 2.2: a bare LF ends a line as well as CR LF does.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

void HTTPResponseReader::ParseStatusLine(const std::string& line) {
    const size_t sp = line.find(' ');
    const std::string version = line.substr(0, sp);
    if (version == "HTTP/1.0")
        ServerVersion = 10;
    else if (version == "HTTP/1.1")
        ServerVersion = 11;
    else
        Fail(SInvalidServerResponse);
    const size_t codeStart = sp + 1;
    size_t codeEnd = line.find(' ', codeStart);
    if (codeEnd == std::string::npos) codeEnd = line.size();
    int64_t code = 0;
    // RFC 9112 section 4: the status code is three digits.
    if (codeEnd - codeStart != 3 || !ParseDecimal(std::string_view(line).substr(codeStart, 3), code) || code < 100)
        Fail(SInvalidServerResponse);
    StatusCode = int(code);
    ReasonPhrase = codeEnd < line.size() ? line.substr(codeEnd + 1) : std::string();
}

void HTTPResponseReader::ParseField(const std::string& line) {
    HeaderLines.push_back(line);
    const size_t colon = line.find(':');
    const std::string name = rtl::UpperCase(Trimmed(std::string_view(line).substr(0, colon)));
    if (colon == std::string::npos) return;
    const std::string value = Trimmed(std::string_view(line).substr(colon + 1));
    const std::string upper = rtl::UpperCase(value);
    if (name == "DATE") {
        DateField = value;
    } else if (name == "SET-COOKIE") {
        Cookies.push_back(value);
    } else if (name == "TRANSFER-ENCODING") {
        if (upper.find("CHUNKED") != std::string::npos) Chunked = true;
        if (upper.find("GZIP") != std::string::npos) Gzip = true;
        if (upper.find("DEFLATE") != std::string::npos) Deflate = true;
        // RFC 9112 section 6.3: a transfer coding other than chunked runs to the close.
        if (upper.find("CHUNKED") == std::string::npos) toClose_ = true;
    } else if (name == "CONTENT-ENCODING") {
        if (upper.find("GZIP") != std::string::npos) Gzip = true;
        if (upper.find("DEFLATE") != std::string::npos) Deflate = true;
    } else if (name == "CONNECTION") {
        if (upper.find("CLOSE") != std::string::npos)
            ConnectionField = 0;
        else if (upper.find("KEEP-ALIVE") != std::string::npos)
            ConnectionField = 1;
    } else if (name == "PROXY-CONNECTION") {
        if (viaProxy_ && upper != "KEEP-ALIVE") ProxyKeepAliveRefused = true;
    } else if (name == "WWW-AUTHENTICATE") {
        WWWAuthenticate.push_back(value);
    } else if (name == "PROXY-AUTHENTICATE") {
        ProxyAuthenticate.push_back(value);
    } else if (name == "CONTENT-LENGTH") {
        int64_t length = 0;
        if (!ParseDecimal(value, length)) Fail(rtl::Format(SInvalidContentLength, value));
        // RFC 9112 section 6.3, item 5: differing lengths leave the framing unknown.
        if (ContentLength >= 0 && ContentLength != length) Fail(rtl::Format(SInvalidContentLength, value));
        ContentLength = length;
    } else if (name == "LOCATION" && Location.empty()) {
        // The first Location field whose name is exactly "Location" (any case), its value
        // trimmed.
        if (rtl::SameText(std::string_view(line).substr(0, colon), "Location")) Location = value;
    }
}

void HTTPResponseReader::HeaderDone() {
    if (StatusCode < 200) {
        // An interim response (RFC 9110 section 15.2): the final one follows.
        ClearHeaderFields();
        state_ = State::StatusLine;
        return;
    }
    // RFC 9112 section 6.3: no body after HEAD, 204 and 304; chunked wins over a length; a
    // length frames the body; otherwise the body runs to the close.
    const bool noBody = head_ || StatusCode == 204 || StatusCode == 304;
    if (noBody) {
        toClose_ = false;
    } else if (Chunked) {
        toClose_ = false;
        ContentLength = -1;
    } else if (toClose_) {
        ContentLength = -1;
    } else if (ContentLength < 0) {
        toClose_ = true;
    }
    state_ = noBody ? State::Done : Chunked ? State::ChunkSize : ContentLength == 0 ? State::Done : State::Body;
    if (!noBody) coding_ = Gzip ? Coding::GzipHeader : Deflate ? Coding::DeflateStart : Coding::None;
    if (OnHeader) OnHeader();
}

void HTTPResponseReader::Feed(const uint8_t* data, size_t size) {
    if (state_ == State::Failed) throw EElHTTPSClientError(SInvalidServerResponse);
    std::string line;
    for (;;) {
        switch (state_) {
            case State::Done:
            case State::Failed:
                return;
            case State::Body:
            case State::ChunkData: {
                // Line states never hold bytes past a line end, so body bytes come only
                // from the new data.
                if (size == 0) return;
                size_t take = size;
                if (state_ == State::ChunkData) take = size_t(std::min<uint64_t>(take, chunkLeft_));
                if (state_ == State::Body && ContentLength >= 0)
                    take = size_t(std::min<int64_t>(int64_t(take), ContentLength - RawBodyBytes));
                BodyBytes(data, take);
                data += take;
                size -= take;
                continue;
            }
            default:
                break;
        }
        // A line state: collect bytes up to the next line end.
        if (size > 0) {
            const void* lf = std::memchr(data, '\n', size);
            const size_t take = lf ? size_t(static_cast<const uint8_t*>(lf) - data) + 1 : size;
            pending_.append(reinterpret_cast<const char*>(data), take);
            data += take;
            size -= take;
        }
        switch (state_) {
            case State::StatusLine:
            case State::HeaderLines: {
                if (!TakeLine(line, kHeaderLimit - headerBytes_, kHeaderLimit, SHeaderTooLong)) {
                    if (size == 0) return;
                    continue;
                }
                headerBytes_ += line.size() + 2;
                if (headerBytes_ > kHeaderLimit) Fail(rtl::Format(SHeaderTooLong, int(kHeaderLimit)));
                if (state_ == State::StatusLine) {
                    if (line.empty()) continue;  // blank lines before the status line are passed over
                    ParseStatusLine(line);
                    state_ = State::HeaderLines;
                } else if (line.empty()) {
                    HeaderDone();
                } else {
                    ParseField(line);
                }
                break;
            }
            case State::ChunkSize: {
                if (!TakeLine(line, kChunkLineLimit, kChunkLineLimit, "Chunk size line longer than %d bytes")) {
                    if (size == 0) return;
                    continue;
                }
                if (!ParseChunkSize(line, chunkLeft_))
                    Fail(rtl::Format(SInvalidChunk, "bad chunk size \"" + line.substr(0, 40) + "\""));
                state_ = chunkLeft_ == 0 ? State::Trailer : State::ChunkData;
                break;
            }
            case State::ChunkEnd: {
                if (!TakeLine(line, 2, 2, "Chunk data not followed by a line end within %d bytes")) {
                    if (size == 0) return;
                    continue;
                }
                if (!line.empty()) Fail(rtl::Format(SInvalidChunk, "chunk data not followed by CR LF"));
                state_ = State::ChunkSize;
                break;
            }
            case State::Trailer: {
                if (!TakeLine(line, kTrailerLimit - trailerBytes_, kTrailerLimit, "Trailer section longer than %d bytes")) {
                    if (size == 0) return;
                    continue;
                }
                trailerBytes_ += line.size() + 2;
                if (line.empty()) EndOfBody();
                break;
            }
            default:
                break;
        }
    }
}

void HTTPResponseReader::BodyBytes(const uint8_t* data, size_t size) {
    // size is within what the framing still allows.
    RawBodyBytes += int64_t(size);
    Decode(data, size);
    if (state_ == State::ChunkData) {
        chunkLeft_ -= size;
        if (chunkLeft_ == 0) state_ = State::ChunkEnd;
    } else if (ContentLength >= 0 && RawBodyBytes == ContentLength) {
        EndOfBody();
    }
}

void HTTPResponseReader::Emit(const uint8_t* data, size_t size) {
    if (size == 0) return;
    Delivered += int64_t(size);
    if (OnBody) OnBody(data, size);
}

void HTTPResponseReader::Decode(const uint8_t* data, size_t size) {
    if (size == 0) return;
    switch (coding_) {
        case Coding::None:
            Emit(data, size);
            return;
        case Coding::End:
            return;  // bytes after the end of the compressed data
        case Coding::GzipHeader: {
            codingPending_.append(reinterpret_cast<const char*>(data), size);
            const int64_t length = GzipHeaderLength(codingPending_);
            if (length < 0 || (length == 0 && codingPending_.size() > kGzipHeaderLimit)) Fail(SInvalidGZIPHeader);
            if (length == 0) return;
            if (inflateInit2(&zs_, -MAX_WBITS) != Z_OK) Fail(SCannotInflate);
            zsReady_ = true;
            coding_ = Coding::Inflate;
            const std::string rest = codingPending_.substr(size_t(length));
            codingPending_.clear();
            Inflate(reinterpret_cast<const uint8_t*>(rest.data()), rest.size());
            return;
        }
        case Coding::DeflateStart: {
            codingPending_.append(reinterpret_cast<const char*>(data), size);
            if (codingPending_.size() < 2) return;
            // RFC 9110 section 8.4.1.2 names the zlib format; some servers send raw deflate
            // data instead. A zlib header is method 8 with a check over its two bytes.
            const uint8_t cmf = uint8_t(codingPending_[0]), flg = uint8_t(codingPending_[1]);
            const bool zlibWrapped = (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && ((cmf << 8) | flg) % 31 == 0;
            if (inflateInit2(&zs_, zlibWrapped ? MAX_WBITS : -MAX_WBITS) != Z_OK) Fail(SCannotInflate);
            zsReady_ = true;
            coding_ = Coding::Inflate;
            const std::string rest = std::move(codingPending_);
            codingPending_.clear();
            Inflate(reinterpret_cast<const uint8_t*>(rest.data()), rest.size());
            return;
        }
        case Coding::Inflate:
            Inflate(data, size);
            return;
        case Coding::GzipTrailer:
            GzipTrailer(data, size);
            return;
    }
}

void HTTPResponseReader::Inflate(const uint8_t* data, size_t size) {
    uint8_t step[kInflateStep];
    zs_.next_in = const_cast<Bytef*>(data);
    zs_.avail_in = uInt(size);
    for (;;) {
        zs_.next_out = step;
        zs_.avail_out = uInt(sizeof step);
        const int rc = inflate(&zs_, Z_SYNC_FLUSH);
        // The buffer error only says that nothing could move: all input is used.
        if (rc == Z_BUF_ERROR) return;
        if (rc != Z_OK && rc != Z_STREAM_END) Fail(SCannotInflate);
        const size_t produced = sizeof step - zs_.avail_out;
        if (produced > 0) {
            crc_ = crc32(crc_, step, uInt(produced));
            inflatedSize_ += produced;
            Emit(step, produced);
        }
        if (rc == Z_STREAM_END) {
            const uInt left = zs_.avail_in;
            const uint8_t* rest = zs_.next_in;
            inflateEnd(&zs_);
            zsReady_ = false;
            if (Gzip) {
                coding_ = Coding::GzipTrailer;
                GzipTrailer(rest, left);
            } else {
                coding_ = Coding::End;
            }
            return;
        }
        // inflate stops short of its input only when the step filled up: then it holds more
        // output, which the next step takes.
        if (zs_.avail_out != 0) return;
    }
}

void HTTPResponseReader::GzipTrailer(const uint8_t* data, size_t size) {
    const size_t need = 8 - codingPending_.size();
    codingPending_.append(reinterpret_cast<const char*>(data), std::min(size, need));
    if (codingPending_.size() < 8) return;
    const auto le32 = [&](size_t at) {
        return uint32_t(uint8_t(codingPending_[at])) | uint32_t(uint8_t(codingPending_[at + 1])) << 8 |
               uint32_t(uint8_t(codingPending_[at + 2])) << 16 | uint32_t(uint8_t(codingPending_[at + 3])) << 24;
    };
    // RFC 1952 section 2.3.1: CRC-32 of the data, then its length modulo 2^32.
    if (le32(0) != uint32_t(crc_) || le32(4) != uint32_t(inflatedSize_)) Fail(SInvalidGZIPTrailer);
    codingPending_.clear();
    coding_ = Coding::End;
}

void HTTPResponseReader::EndOfBody() {
    const bool unfinished = coding_ == Coding::GzipHeader || coding_ == Coding::DeflateStart ||
                            coding_ == Coding::Inflate || coding_ == Coding::GzipTrailer;
    if (unfinished && RawBodyBytes > 0) Fail(rtl::Format(SCompressedCutShort, RawBodyBytes));
    if (zsReady_) inflateEnd(&zs_);
    zsReady_ = false;
    state_ = State::Done;
}

void HTTPResponseReader::FinishAtClose() {
    switch (state_) {
        case State::StatusLine:
            // Nothing, or part of a status line: no response arrived.
            return;
        case State::HeaderLines:
            Fail(SInvalidServerResponse);
        case State::Body:
            if (ContentLength >= 0) Fail(rtl::Format(SBodyCutShort, ContentLength, RawBodyBytes));
            EndOfBody();
            return;
        case State::ChunkSize:
        case State::ChunkData:
        case State::ChunkEnd:
            Fail(rtl::Format(SChunkedCutShort, RawBodyBytes));
        case State::Trailer:
            // The last chunk arrived; only the end of the trailer section is missing.
            EndOfBody();
            return;
        case State::Done:
        case State::Failed:
            return;
    }
}

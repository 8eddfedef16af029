// net/IdIOHandler.cpp: line, block and stream reads over the input buffer, and writes.
#include "net/IdIOHandler.h"

#include <filesystem>
#include <limits>
#include <mutex>

#include "rtl/Bytes.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

constexpr int32_t kNoLimit = std::numeric_limits<int32_t>::max();
// Steps in which WaitForText waits for more input.
constexpr int32_t kWaitStep = 250;

struct Registry {
    std::mutex lock;
    TIdIOHandlerClass defaultClass = nullptr;
    std::vector<TIdIOHandlerClass> classes;
};
Registry& TheRegistry() {
    static Registry r;
    return r;
}

}  // namespace

TIdIOHandler::TIdIOHandler(rtl::Component* owner) : TIdComponent(owner) {}

TIdIOHandler::~TIdIOHandler() { TIdIOHandler::Close(); }

void TIdIOHandler::SetIntercept(TIdConnectionIntercept* value) { SetLinked(intercept_, value); }

bool TIdIOHandler::HoldsLinkTo(const rtl::Component* other) const {
    return (other != nullptr && other == intercept_) || TIdComponent::HoldsLinkTo(other);
}

void TIdIOHandler::Notification(rtl::Component* component, TOperation operation) {
    if (operation == opRemove && component == intercept_) intercept_ = nullptr;
    TIdComponent::Notification(component, operation);
}

void TIdIOHandler::Open() {
    IsOpen = true;
    PeerClosed = false;
    ReceiveScratch = std::make_unique<TIdBuffer>();
    InputQueue = std::make_unique<TIdBuffer>([this](TIdBuffer*, int32_t count) { ReportInputConsumed(count); });
}

void TIdIOHandler::Close() {
    if (intercept_ != nullptr) intercept_->InterceptDisconnect();
    IsOpen = false;
}

bool TIdIOHandler::IsConnected() {
    CheckForDisconnect(false, false);
    return IsOpen && !((PeerClosed || !InputQueue) && InputBufferIsEmpty());
}

void TIdIOHandler::RaiseConnClosedGracefully() {
    EIdException::RaiseIdException<EIdConnClosedGracefully>(RSId::ConnectionClosedGracefully);
}

std::string TIdIOHandler::MaxLineReached(int32_t maximum) {
    if (MaxLineAction == maException)
        EIdException::RaiseIdException<EIdReadLnMaxLineLengthExceeded>(RSId::ReadLnMaxLineLengthExceeded);
    LineWasSplit = true;
    return InputQueue->ExtractText(maximum);
}

std::string TIdIOHandler::ReadLn(std::string_view terminator, int32_t timeout, int32_t maxLength) {
    if (maxLength < 0) maxLength = MaxLineLength;
    if (terminator.empty()) terminator = "\n";
    LineWasSplit = false;
    LineTimedOut = false;
    const uint32_t start = GetTickCountHighRes();
    int32_t position = -1;
    int32_t searched = 0;
    const int32_t overlap = int32_t(terminator.size()) - 1;
    do {
        if (!InputBufferIsEmpty()) {
            if (searched < InputQueue->Size()) position = InputQueue->FindText(terminator, searched);
            // The next search starts where a terminator cut by the end of this input may begin.
            searched = std::max(0, InputQueue->Size() - overlap);
        }
        if (maxLength != 0 && position > maxLength) return MaxLineReached(maxLength);
        if (position == -1) {
            if (maxLength != 0 && searched > maxLength) return MaxLineReached(maxLength);
            CheckForDisconnect(true, true);
            if (!InputQueue) EIdException::RaiseIdException<EIdNotConnected>(RSId::NotConnectedHandler);
            LineTimedOut = ReadFromSource(true, timeout, timeout == -1) == -1;
            if (!LineTimedOut && timeout >= 0)
                LineTimedOut = TickDiff(start, GetTickCountHighRes()) >= uint32_t(timeout);
            if (LineTimedOut) return {};
        }
    } while (position < 0);
    std::string line = InputQueue->ExtractText(position + int32_t(terminator.size()));
    size_t length = size_t(position);
    if (terminator == "\n" && length > 0 && line[length - 1] == '\r') --length;
    line.resize(length);
    return line;
}

std::string TIdIOHandler::ReadLineNonEmpty(int32_t attempts) {
    for (int32_t i = 0; i < attempts; ++i) {
        std::string line = rtl::Trim(ReadLine());
        if (!line.empty()) return line;
    }
    return {};
}

void TIdIOHandler::ReadIntoBytes(TBytes& bytes, int32_t count, bool append) {
    if (count > 0) {
        while (InputBufferIsEmpty() || InputQueue->Size() < count) {
            if (!InputQueue) EIdException::RaiseIdException<EIdNotConnected>(RSId::NotConnectedHandler);
            const int32_t got = ReadFromSource(false, -1, true);
            CheckForDisconnect(true, true);
            // Nothing more can come: never wait for it.
            if (got == 0) RaiseConnClosedGracefully();
        }
        InputQueue->ExtractBytes(bytes, count, append);
    } else if (count == -1) {
        ReadFromSource(false, ReadTimeout, false);
        CheckForDisconnect(true, true);
        if (InputQueue) InputQueue->ExtractBytes(bytes, -1, append);
    }
}

char TIdIOHandler::ReadChar() {
    TBytes b;
    ReadIntoBytes(b, 1, false);
    return char(b[0]);
}

int32_t TIdIOHandler::ReadInt32(bool convert) {
    TBytes b;
    ReadIntoBytes(b, 4, false);
    return convert ? int32_t(rtl::load_be32(b.data())) : FirstInteger(b);
}

void TIdIOHandler::ReadToStream(TIdStream& stream, int32_t count, bool untilClosed) {
    if (count == -1 && !untilClosed) count = ReadInt32(true);
    // The count may come from the peer: nothing is sized by it; the stream grows as the bytes
    // arrive, and a peer that closes early ends the read with an error, not a truncated stream.
    int64_t remaining = untilClosed ? kNoLimit : std::max(count, 0);
    WorkBegin(wmRead, untilClosed ? 0 : remaining);
    TIdFinally end{[this] { WorkEnd(wmRead); }};

    if (!InputBufferIsEmpty()) {
        const int32_t n = int32_t(std::min<int64_t>(InputQueue->Size(), remaining));
        InputQueue->WriteToStream(stream, n);
        remaining -= n;
    }
    const int32_t chunk = int32_t(std::min<int64_t>(remaining, std::max(RecvBufferSize, 1)));
    TBytes bytes;
    while (remaining > 0 && IsConnected()) {
        int32_t n = int32_t(std::min<int64_t>(remaining, chunk));
        bytes.clear();
        try {
            ReadIntoBytes(bytes, n, false);
        } catch (const EIdConnClosedGracefully&) {
            n = std::min(n, InputBufferIsEmpty() ? 0 : InputQueue->Size());
            if (n > 0) InputQueue->ExtractBytes(bytes, n, false);
            stream.StreamWriteBytes(bytes, n);
            remaining -= n;
            if (untilClosed) return;
            throw;
        } catch (const EIdException&) {
            n = std::min(n, InputBufferIsEmpty() ? 0 : InputQueue->Size());
            if (n > 0) InputQueue->ExtractBytes(bytes, n, false);
            stream.StreamWriteBytes(bytes, n);
            throw;
        }
        stream.StreamWriteBytes(bytes, n);
        remaining -= n;
    }
    if (!untilClosed && remaining > 0) RaiseConnClosedGracefully();
}

int32_t TIdIOHandler::ReadSomeTo(rtl::Stream& stream, int32_t limit) {
    if (limit <= 0) return 0;
    if (InputBufferIsEmpty()) return InputQueue ? ReceiveSomeTo(stream, limit) : 0;
    const int32_t n = std::min(InputQueue->Size(), limit);
    stream.WriteBuffer(InputQueue->Data().data(), size_t(n));
    InputQueue->Consume(n);
    return n;
}

int32_t TIdIOHandler::ReceiveSomeTo(rtl::Stream& stream, int32_t limit) {
    // A read that brings bytes leaves them in the input buffer (an intercept that keeps none
    // makes the read a close).
    if (ReadFromSource(true, -1, true) <= 0 || InputBufferIsEmpty()) return 0;
    return ReadSomeTo(stream, limit);
}

std::string TIdIOHandler::ReadAllUntilClosed() {
    WorkBegin(wmRead, 0);
    TIdFinally end{[this] { WorkEnd(wmRead); }};
    std::string result;
    while (IsConnected()) {
        CheckForDataOnSource(kWaitStep);
        result += ExtractAllInput();
    }
    return result;
}

std::string TIdIOHandler::WaitForText(std::string_view text) {
    std::string collected;
    while (collected.find(text) == std::string::npos) {
        // Waits for input (in steps) rather than polling without pause.
        CheckForDataOnSource(kWaitStep);
        collected += ExtractAllInput();
        CheckForDisconnect(true, false);
    }
    return collected;
}

void TIdIOHandler::CaptureLinesTo(const std::function<void(const std::string&)>& store, int32_t& count,
                                  std::string_view endLine, bool dotTransparency) {
    count = 0;
    WorkBegin(wmRead, 0);
    TIdFinally end{[this] { WorkEnd(wmRead); }};
    for (;;) {
        std::string line = ReadLine();
        if (line == endLine) return;
        // At most CaptureLineLimit lines are accepted.
        if (CaptureLineLimit > 0 && count >= CaptureLineLimit)
            EIdException::RaiseIdException<EIdMaxCaptureLineExceeded>(RSId::MaxCaptureLineExceeded);
        if (dotTransparency && line.size() >= 2 && line[0] == '.' && line[1] == '.') line.erase(0, 1);
        ++count;
        store(line);
    }
}

void TIdIOHandler::CaptureLines(rtl::StringList& destination, int32_t& count, std::string_view endLine,
                                bool dotTransparency) {
    CaptureLinesTo([&](const std::string& line) { destination.Add(line); }, count, endLine, dotTransparency);
}

void TIdIOHandler::CaptureLines(rtl::Stream& destination, int32_t& count, std::string_view endLine,
                                bool dotTransparency) {
    TIdStreamVCL stream(destination);
    CaptureLinesTo([&](const std::string& line) { stream.StreamWriteLine(line); }, count, endLine,
                   dotTransparency);
}

std::string TIdIOHandler::ReadLineTyped(std::string_view mask, bool echo, int32_t maxLength, int32_t tabWidth) {
    if (maxLength == -1) maxLength = MaxLineLength;
    std::string text;
    for (;;) {
        const char c = ReadChar();
        if (c == '\n') break;
        if (int64_t(text.size()) > maxLength) continue;
        switch (c) {
            case 8:
                if (!text.empty()) {
                    text.pop_back();
                    if (echo) WriteText("\b \b");
                }
                break;
            case 9: {
                std::string tab = "\t";
                if (tabWidth >= 1) tab.assign(size_t(tabWidth - int32_t(text.size() % size_t(tabWidth))), ' ');
                text += tab;
                if (echo) WriteText(tab);
                break;
            }
            case '\r':
            case 27:
                break;
            default:
                text += c;
                if (echo) WriteText(mask.empty() ? std::string_view(&c, 1) : mask);
        }
    }
    if (echo) WriteText("\r\n");
    return text;
}

void TIdIOHandler::WriteBytes(TBytes bytes) {
    if (bytes.empty()) return;
    if (WriteQueue) {
        WriteQueue->AppendBytes(std::move(bytes));
        if (WriteFlushThreshold > 0 && WriteQueue->Size() >= WriteFlushThreshold) FlushWriteQueue(WriteFlushThreshold);
        return;
    }
    PassToIntercept(bytes);
}

void TIdIOHandler::PassToIntercept(TBytes& bytes) {
    CheckForDisconnect(true, true);
    if (intercept_ != nullptr) intercept_->InterceptSend(bytes);
}

void TIdIOHandler::WriteText(std::string_view text) {
    if (!text.empty()) WriteBytes(TextToBytes(text));
}

void TIdIOHandler::WriteLine(std::string_view text) { WriteText(std::string(text) + "\r\n"); }

void TIdIOHandler::WriteChar(char c) { WriteBytes(CharToBytes(c)); }

void TIdIOHandler::WriteInt32(int32_t value, bool convert) {
    TBytes b(4);
    if (convert)
        rtl::store_be32(b.data(), uint32_t(value));
    else
        WriteInt32ToBytes(b, value);
    WriteBytes(std::move(b));
}

void TIdIOHandler::WriteLines(const rtl::StringList& lines, bool writeCount) {
    // Within a queue the caller opened already, the lines join it; otherwise they get one of
    // their own, so all leave in one send.
    const bool ownQueue = !WriteQueue;
    if (ownQueue) OpenWriteQueue(-1);
    TIdFinally close{[&] {
        if (ownQueue) CloseWriteQueue();
    }};
    if (writeCount) WriteInt32(lines.Count(), true);
    for (const std::string& line : lines.Lines()) WriteLine(line);
}

void TIdIOHandler::WriteStream(TIdStream& stream, int64_t size, bool writeSize) {
    auto* random = dynamic_cast<TIdStreamRandomAccess*>(&stream);
    if (random == nullptr) EIdException::RaiseIdException<EIdObjectTypeNotSupported>(RSId::ObjectTypeNotSupported);
    if (size < 0) {
        size = random->StreamSize() - random->StreamPosition();
    } else if (size == 0) {
        random->SetStreamPosition(0);
        size = random->StreamSize();
    }
    if (writeSize) {
        if (size > kNoLimit) EIdException::RaiseIdException("WriteStream: the stream is too large for its size prefix.");
        WriteInt32(int32_t(size), true);
    }
    WorkBegin(wmWrite, size);
    TIdFinally end{[this] { WorkEnd(wmWrite); }};
    TBytes bytes;
    while (size > 0) {
        const int32_t want = int32_t(std::min<int64_t>(size, std::max(SendBufferSize, 1)));
        bytes.clear();
        const int32_t got = stream.StreamReadBytes(bytes, want, false, 0);
        if (got <= 0) EIdException::RaiseIdException<EIdNoDataToRead>(RSId::NoDataToRead);
        bytes.resize(size_t(got));
        WriteBytes(std::move(bytes));
        bytes = TBytes();
        size -= got;
    }
}

int64_t TIdIOHandler::WriteFile(const std::string& fileName) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(fileName, ec))
        EIdException::RaiseIdException<EIdFileNotFound>(rtl::Format(RSId::FileNotFound, fileName));
    rtl::FileStream file(fileName, rtl::FileMode::OpenRead);
    TIdStreamVCL stream(file);
    const int64_t size = file.Size();
    WriteStream(stream, 0, false);
    return size;
}

void TIdIOHandler::OpenWriteQueue(int32_t threshold) {
    WriteQueue = std::make_unique<TIdBuffer>();
    WriteFlushThreshold = threshold;
}

void TIdIOHandler::FlushWriteQueue(int32_t count) {
    if (!WriteQueue || WriteQueue->Size() == 0) return;
    TBytes bytes;
    WriteQueue->ExtractBytes(bytes, count, false);
    PassToIntercept(bytes);
}

void TIdIOHandler::CloseWriteQueue() {
    TIdFinally drop{[this] { WriteQueue.reset(); }};
    FlushWriteQueue(-1);
}

void TIdIOHandler::ClearWriteQueue() {
    if (WriteQueue) WriteQueue->EmptyBuffer();
}

void TIdIOHandler::CancelWriteQueue() {
    ClearWriteQueue();
    CloseWriteQueue();
}

void TIdIOHandler::RegisterDefaultIOHandlerClass(TIdIOHandlerClass handlerClass) {
    RegisterIOHandlerClass(handlerClass);
    std::lock_guard guard(TheRegistry().lock);
    TheRegistry().defaultClass = handlerClass;
}

void TIdIOHandler::RegisterIOHandlerClass(TIdIOHandlerClass handlerClass) {
    Registry& r = TheRegistry();
    std::lock_guard guard(r.lock);
    if (std::find(r.classes.begin(), r.classes.end(), handlerClass) == r.classes.end())
        r.classes.push_back(handlerClass);
}

TIdIOHandlerClass TIdIOHandler::DefaultIOHandlerClass() {
    std::lock_guard guard(TheRegistry().lock);
    return TheRegistry().defaultClass;
}

std::vector<TIdIOHandlerClass> TIdIOHandler::RegisteredIOHandlerClasses() {
    std::lock_guard guard(TheRegistry().lock);
    return TheRegistry().classes;
}

std::unique_ptr<TIdIOHandler> TIdIOHandler::MakeDefaultIOHandlerInstance(rtl::Component* owner) {
    const TIdIOHandlerClass c = DefaultIOHandlerClass();
    if (c == nullptr) EIdException::RaiseIdException("No default IOHandler class is registered.");
    return c->Make(owner);
}

// net/IdIOHandler.h: the transport-independent half of every connection.
//
// The handler owns the input buffer into which a transport appends what it receives, and on
// top of it gives protocol code its reading vocabulary (a line up to a terminator with a
// maximum length and a time-out, a fixed number of bytes, a network-order integer, a counted
// or open-ended stream, everything until the peer closes) and its writing vocabulary (text,
// lines, integers, byte arrays, streams, files) with optional write buffering. A transport
// (TIdIOHandlerStack, the TLS transport) supplies ReadFromSource, CheckForDisconnect,
// CheckForDataOnSource and the raw send (PassToIntercept, which it overrides and calls
// first). Every byte taken out of the input buffer is reported as read work; a connection
// that is the handler's work relay sees it.
//
// States: closed (no buffers, or the last connection's input still readable) -> Open (fresh
// buffers; unread input of an earlier connection is dropped) -> Close (IsOpen false, input
// kept). Write buffering is on between OpenWriteQueue and CloseWriteQueue/CancelWriteQueue.
// Lengths that come from the peer (a length prefix) are never allocated up front: a stream
// grows as the bytes arrive. A derived transport closes itself in its own destructor.
// A handler is used by one thread at a time (the Telnet read thread reads while the owner
// only writes through the raw send).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/IdBuffer.h"
#include "net/IdComponent.h"
#include "net/IdExceptionCore.h"
#include "net/IdIntercept.h"
#include "net/IdStream.h"
#include "rtl/StringList.h"

class TIdIOHandler;

// A class of IO handler: its name and how to make one on an owner.
struct TIdIOHandlerClassInfo {
    const char* Name;
    std::unique_ptr<TIdIOHandler> (*Make)(rtl::Component* owner);
};
using TIdIOHandlerClass = const TIdIOHandlerClassInfo*;

class TIdIOHandler : public TIdComponent {
public:
    explicit TIdIOHandler(rtl::Component* owner = nullptr);
    ~TIdIOHandler() override;

    // Settings.
    int32_t ConnectTimeout = 0;    // ms, used by the socket transport
    int32_t CaptureLineLimit = -1;  // most lines CaptureLines accepts (0 or less: no limit)
    TIdMaxLineAction MaxLineAction = maException;
    int32_t MaxLineLength = 16384;  // default maximum of ReadLn (0: no limit)
    int32_t ReadTimeout = 0;        // ms (0: wait without limit)
    int32_t RecvBufferSize = 32768;
    int32_t SendBufferSize = 32768;

    // State.
    // Written by the reading thread, read by a writing one (the Telnet client).
    std::atomic<bool> PeerClosed{false};
    bool IsOpen = false;
    bool LineWasSplit = false;
    bool LineTimedOut = false;
    int32_t WriteFlushThreshold = 0;
    std::unique_ptr<TIdBuffer> InputQueue;
    std::unique_ptr<TIdBuffer> ReceiveScratch;
    std::unique_ptr<TIdBuffer> WriteQueue;

    virtual std::string GetDestination() const { return destination_; }
    virtual void SetDestination(const std::string& value) { destination_ = value; }
    const std::string& Host() const { return host_; }
    virtual void SetHost(const std::string& value) { host_ = value; }
    int32_t Port() const { return port_; }
    virtual void SetPort(int32_t value) { port_ = value; }
    TIdConnectionIntercept* Intercept() const { return intercept_; }
    virtual void SetIntercept(TIdConnectionIntercept* value);

    // Life.
    virtual void Open();
    virtual void Close();
    virtual bool IsConnected();
    void MarkPeerClosed() { PeerClosed = true; }
    virtual bool Readable(int32_t /*milliseconds*/) { return false; }
    bool InputBufferIsEmpty() const { return !InputQueue || InputQueue->Size() == 0; }
    std::string ExtractAllInput() { return InputQueue ? InputQueue->ExtractText() : std::string(); }

    // The transport's part.
    // Waits up to timeout (-1: ReadTimeout) for data and appends it to InputQueue; the count
    // appended, 0 when nothing can be read any more, -1 on time-out (or EIdReadTimeout when
    // raiseOnTimeout).
    virtual int32_t ReadFromSource(bool raiseIfDisconnected, int32_t timeout, bool raiseOnTimeout) = 0;
    // When the peer has closed, closes; raises EIdConnClosedGracefully when asked to and the
    // input buffer is empty (or ignoreBuffer).
    virtual void CheckForDisconnect(bool raise, bool ignoreBuffer) = 0;
    // When connected, reads what arrives within the time-out, without raising.
    virtual void CheckForDataOnSource(int32_t timeout) = 0;

    // Reading.
    // The text before the terminator (LF when empty; a CR before a LF terminator is dropped).
    // timeout -1: ReadTimeout, raising EIdReadTimeout; an explicit time-out returns empty text
    // with LineTimedOut set. maxLength -1: MaxLineLength; 0: no limit.
    virtual std::string ReadLn(std::string_view terminator = "\n", int32_t timeout = -1, int32_t maxLength = -1);
    std::string ReadLine() { return ReadLn("\n", -1, -1); }
    virtual std::string ReadLineNonEmpty(int32_t attempts);
    // count > 0: exactly count bytes; -1: what one read brings (with what is buffered).
    virtual void ReadIntoBytes(TBytes& bytes, int32_t count, bool append);
    char ReadChar();
    int32_t ReadInt32(bool convert = true);
    // count -1 and not untilClosed: a 32-bit big-endian length first.
    virtual void ReadToStream(TIdStream& stream, int32_t count = -1, bool untilClosed = false);
    // Moves at most limit (> 0) bytes of input into the stream: what the input buffer holds,
    // else what one ReadFromSource(true, -1, true) brings, with its failures (the peer's close
    // is EIdConnClosedGracefully). The count moved, each byte reported as read work; 0 when the
    // handler has no input buffer.
    int32_t ReadSomeTo(rtl::Stream& stream, int32_t limit);
    virtual std::string ReadAllUntilClosed();
    // Collects input until it contains text; everything collected.
    virtual std::string WaitForText(std::string_view text);
    // Lines until endLine (not stored); with dotTransparency ".." at a line's start loses a dot.
    virtual void CaptureLines(rtl::StringList& destination, int32_t& count, std::string_view endLine = ".",
                              bool dotTransparency = true);
    virtual void CaptureLines(rtl::Stream& destination, int32_t& count, std::string_view endLine = ".",
                              bool dotTransparency = true);
    // A line typed at a terminal, read one character at a time until LF.
    virtual std::string ReadLineTyped(std::string_view mask, bool echo, int32_t maxLength = -1,
                                      int32_t tabWidth = 8);

    // Writing.
    virtual void WriteBytes(TBytes bytes);
    // The raw send: checks the connection and lets the intercept rewrite the bytes; the
    // transport then sends them.
    virtual void PassToIntercept(TBytes& bytes);
    virtual void WriteText(std::string_view text);
    virtual void WriteLine(std::string_view text);
    void WriteChar(char c);
    void WriteInt32(int32_t value, bool convert = true);
    virtual void WriteLines(const rtl::StringList& lines, bool writeCount = false);
    // size < 0: from the position to the end; 0: the whole stream; > 0: that many bytes.
    virtual void WriteStream(TIdStream& stream, int64_t size = 0, bool writeSize = false);
    virtual int64_t WriteFile(const std::string& fileName);

    // Write queue.
    virtual void OpenWriteQueue(int32_t threshold = -1);
    virtual void FlushWriteQueue(int32_t count = -1);
    virtual void CloseWriteQueue();
    virtual void ClearWriteQueue();
    virtual void CancelWriteQueue();

    // Registry of handler classes; the socket transport registers itself as the default.
    static void RegisterDefaultIOHandlerClass(TIdIOHandlerClass handlerClass);
    static void RegisterIOHandlerClass(TIdIOHandlerClass handlerClass);
    static TIdIOHandlerClass DefaultIOHandlerClass();
    static std::vector<TIdIOHandlerClass> RegisteredIOHandlerClasses();
    static std::unique_ptr<TIdIOHandler> MakeDefaultIOHandlerInstance(rtl::Component* owner = nullptr);

protected:
    void Notification(rtl::Component* component, TOperation operation) override;
    bool HoldsLinkTo(const rtl::Component* other) const override;
    // Raises the peer's orderly close.
    [[noreturn]] void RaiseConnClosedGracefully();
    // ReadSomeTo with an empty input buffer: here through the input buffer; a transport may
    // hand what it receives to the stream without queueing it, with the bytes past the limit
    // left in the input buffer.
    virtual int32_t ReceiveSomeTo(rtl::Stream& stream, int32_t limit);
    void ReportInputConsumed(int32_t count) { WorkProgress(wmRead, count); }

private:
    std::string MaxLineReached(int32_t maximum);
    void CaptureLinesTo(const std::function<void(const std::string&)>& store, int32_t& count,
                        std::string_view endLine, bool dotTransparency);

    std::string destination_;
    std::string host_;
    int32_t port_ = 0;
    TIdConnectionIntercept* intercept_ = nullptr;
};

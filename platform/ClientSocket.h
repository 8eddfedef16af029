// platform/ClientSocket.h: a small blocking TCP client socket (IPv4), the platform's client
// socket on which the application server's socket transport builds.
//
// Calls block as a blocking socket's do: connecting waits until the server accepts, refuses or
// the system's connect time-out passes; sending waits until every byte is handed to the
// system; receiving waits for the first bytes. Any of these waits can be ended from another
// thread: Cancel makes every blocked call and every later one fail at once (code 10004, an
// interrupted call), so a caller that gave up on a silent server is not kept waiting for the
// system's time-outs; Wake only ends a WaitReadable of the owner, for a thread that must also
// look at its own queue.
//
// Failures raise ESocketError with the Windows Sockets code (10061 refused, 10060 timed out,
// 11001 host not found, ...; platform/WinError.h) and the text "Windows socket error: <the
// system's text> (<code>), on API '<call>'". The owner thread makes every call but Cancel and
// Wake, which any thread may make while the object exists.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "rtl/Exception.h"

namespace plat {

class ESocketError : public rtl::Exception {
public:
    ESocketError(std::string message, int errorCode) : rtl::Exception(std::move(message)), errorCode_(errorCode) {}
    int ErrorCode() const { return errorCode_; }
    const char* ClassName() const noexcept override { return "ESocketError"; }

private:
    int errorCode_;
};

// The code of a cancelled call (an interrupted call, as Windows Sockets numbers it).
inline constexpr int kSocketCancelled = 10004;

class ClientSocket {
public:
    ClientSocket();
    ~ClientSocket();
    ClientSocket(const ClientSocket&) = delete;
    ClientSocket& operator=(const ClientSocket&) = delete;

    // Connects to host:port. hostIsAddress: the host is a dotted IPv4 address, used without a
    // name lookup; otherwise it is resolved to its first IPv4 address. Closes a previous
    // connection first.
    void Connect(const std::string& host, uint16_t port, bool hostIsAddress);
    bool Connected() const { return fd_ >= 0; }
    // Sends every byte.
    void SendAll(const void* data, size_t size);
    // Up to size bytes, at least one; 0 when the server closed the connection.
    size_t Receive(void* data, size_t size);

    enum class WaitResult { Readable, TimedOut, Woken };
    // Waits until bytes (or the server's close) can be read, timeoutMs passes (-1: forever,
    // 0: only looks) or Wake is called.
    WaitResult WaitReadable(int timeoutMs);

    // From any thread: ends a WaitReadable of the owner, once.
    void Wake();
    // From any thread: every blocked and every later call fails with kSocketCancelled.
    void Cancel();
    bool Cancelled() const { return cancelled_.load(); }

    void Close();

private:
    // Waits for the socket's events (Readable stands for any of them), the time-out or, for the
    // owner's WaitReadable, a wake; raises when cancelled.
    WaitResult WaitFor(short events, int timeoutMs, const char* api, bool ownerWait);
    void DrainWake();
    [[noreturn]] void Fail(int err, const char* api) const;
    void CheckCancelled(const char* api) const;

    int fd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> cancelled_{false};
    bool wakePending_ = false;  // the owner's only
};

}  // namespace plat

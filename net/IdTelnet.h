// net/IdTelnet.h: the Telnet client (RFC 854 commands, option negotiation, RFC 1091 terminal
// type).
//
// Connect makes the TCP connection, fires OnConnect and starts a read thread that pulls the
// incoming bytes, runs them through the command state machine (Negotiate), answers option
// requests and hands the remaining data to OnDataAvailable: in the thread that made the client
// through a synchronised call (ThreadedEvent false, the default), or in the read thread. The
// read thread waits for data or for the stop request, never polls without pause; Disconnect
// asks it to stop, wakes its wait, waits for it (serving its synchronised calls, so it returns
// from any thread), closes the connection and fires OnDisconnect. The launcher's reachability
// probe only connects and disconnects: Connect returns exactly when a TCP connection was made,
// and data a server sends to a client without OnDataAvailable ends the read thread quietly.
//
// Negotiation states (persisting between reads, like the sub-negotiation collected so far):
// 0 data, 1 after IAC, 2 after SB, 3 WILL, 4 DO, 5 WONT, 6 DONT, 7 IAC right after SB,
// 8 sub-negotiation data, 9 IAC inside a sub-negotiation.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "net/IdTCPClient.h"
#include "net/IdThread.h"

class TIdTelnet;

enum TIdTelnetCommand { tncNoLocalEcho, tncLocalEcho, tncEcho };

using TIdTelnetDataAvailEvent = std::function<void(TIdTelnet* Sender, const std::string& Buffer)>;
using TIdTelnetCommandEvent = std::function<void(TIdTelnet* Sender, TIdTelnetCommand Status)>;

RTL_EXCEPTION(EIdTelnetError, EIdException);
RTL_EXCEPTION(EIdTelnetClientConnectError, EIdTelnetError);
RTL_EXCEPTION(EIdTelnetServerOnDataAvailableIsNil, EIdTelnetError);

// Telnet bytes (RFC 854) and options.
namespace TNC {
inline constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240, EOR = 239;
inline constexpr uint8_t OptEcho = 1, OptTerminalType = 24, OptEndOfRecord = 25, OptWindowSize = 31,
                         OptAuthentication = 37;
inline constexpr uint8_t TTIs = 0, TTSend = 1;  // RFC 1091
}  // namespace TNC

class TIdTelnetReadThread : public TIdThread {
public:
    // Created running, looping, without a name.
    explicit TIdTelnetReadThread(TIdTelnet* client);
    ~TIdTelnetReadThread() override;

    // Read steps taken so far (each waits for data or the stop request).
    int32_t Steps() const { return steps_.load(); }

protected:
    void Run() override;

private:
    void DeliverInput();

    TIdTelnet* client_;
    std::atomic<int32_t> steps_{0};
};

class TIdTelnet : public TIdTCPClientCustom {
public:
    explicit TIdTelnet(rtl::Component* owner = nullptr);
    ~TIdTelnet() override;

    std::string Terminal = "dumb";
    bool ThreadedEvent = false;
    TIdTelnetDataAvailEvent OnDataAvailable;
    TIdNotifyEvent OnDisconnect;
    TIdNotifyEvent OnConnect;
    TIdTelnetCommandEvent OnTelnetCommand;

    void Connect() override;
    void DisconnectNotify(bool notifyPeer) override;
    // Writes text when connected.
    void SendText(std::string_view text);
    // The command state machine over one received text; the data it leaves goes to
    // DoOnDataAvailable.
    void Negotiate(std::string_view text);
    void DoOnDataAvailable(const std::string& buffer);
    void DoOnTelnetCommand(TIdTelnetCommand status);

    uint8_t State() const { return state_; }
    TIdTelnetReadThread* ReadThread() const { return thread_.get(); }

private:
    void Answer(uint8_t reply, uint8_t option);
    void ProcessSubnegotiation();

    uint8_t state_ = 0;
    uint8_t reply_ = 0;
    uint8_t sbOption_ = 1;
    std::string sbData_;
    std::unique_ptr<TIdTelnetReadThread> thread_;
};

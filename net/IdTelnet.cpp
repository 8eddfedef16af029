// net/IdTelnet.cpp: the read thread, the negotiation state machine and its answers.
#include "net/IdTelnet.h"

#include "net/IdStack.h"

namespace {
// Longest wait of one read step; the stop request ends it at once.
constexpr int32_t kReadStep = 250;
// Longest sub-negotiation kept (a terminal-type request is one byte).
constexpr size_t kMaxSubnegotiation = 1024;
}  // namespace

TIdTelnetReadThread::TIdTelnetReadThread(TIdTelnet* client) : TIdThread(false, true, ""), client_(client) {
    Start();
}

TIdTelnetReadThread::~TIdTelnetReadThread() { TerminateAndWaitFor(); }

void TIdTelnetReadThread::Run() {
    ++steps_;
    TIdIOHandler* io = client_->IOHandler();
    if (io == nullptr) {
        Terminate();
        return;
    }
    // Waits for data, the peer's close or the stop request (Disconnect wakes it).
    io->CheckForDataOnSource(kReadStep);
    if (!io->InputBufferIsEmpty() && !Terminated()) {
        if (client_->ThreadedEvent)
            DeliverInput();
        else
            SynchronizeMethod([this] { DeliverInput(); });
    }
    io->CheckForDisconnect(true, false);
}

void TIdTelnetReadThread::DeliverInput() {
    TIdIOHandler* io = client_->IOHandler();
    if (io != nullptr) client_->Negotiate(io->ExtractAllInput());
}

TIdTelnet::TIdTelnet(rtl::Component* owner) : TIdTCPClientCustom(owner) { SetPort(23); }

TIdTelnet::~TIdTelnet() { DisconnectNotify(true); }

void TIdTelnet::Connect() {
    TIdTCPClientCustom::Connect();
    try {
        if (OnConnect) OnConnect(this);
        thread_ = std::make_unique<TIdTelnetReadThread>(this);
    } catch (const std::exception&) {
        DisconnectNotify(true);
        EIdException::RaiseIdException<EIdTelnetClientConnectError>("server not responding");
    }
}

void TIdTelnet::DisconnectNotify(bool notifyPeer) {
    if (thread_) {
        thread_->Terminate();
        // Wake the read step's wait: shutting the socket down ends it at once, while the
        // descriptor stays ours until the thread has gone and the handler closes it.
        if (Socket() != nullptr && Socket()->Binding && Socket()->Binding->HandleAllocated())
            GBSDStack()->ShutdownSocket(Socket()->Binding->Handle(), 2);
        thread_->WaitFor();
    }
    TIdTCPClientCustom::DisconnectNotify(notifyPeer);
    if (OnDisconnect) OnDisconnect(this);
    thread_.reset();
}

void TIdTelnet::SendText(std::string_view text) {
    // Not IsConnected: that reads the socket, which belongs to the read thread.
    TIdIOHandler* io = IOHandler();
    if (io == nullptr || !io->IsOpen || Socket() == nullptr || !Socket()->Binding ||
        !Socket()->Binding->HandleAllocated())
        return;
    io->WriteText(text);
}

void TIdTelnet::DoOnDataAvailable(const std::string& buffer) {
    if (!OnDataAvailable)
        EIdException::RaiseIdException<EIdTelnetServerOnDataAvailableIsNil>("OnDataAvailable event is nil.");
    OnDataAvailable(this, buffer);
}

void TIdTelnet::DoOnTelnetCommand(TIdTelnetCommand status) {
    if (OnTelnetCommand) OnTelnetCommand(this, status);
}

void TIdTelnet::Answer(uint8_t reply, uint8_t option) {
    reply_ = reply;
    const char bytes[3] = {char(TNC::IAC), char(reply), char(option)};
    SendText(std::string_view(bytes, 3));
}

void TIdTelnet::ProcessSubnegotiation() {
    // RFC 1091: SEND asks for the terminal type; any sub-negotiation that is exactly SEND gets
    // the answer IS and the type.
    if (sbData_.size() != 1 || uint8_t(sbData_[0]) != TNC::TTSend) return;
    if (Terminal.empty()) Terminal = "dumb";
    std::string answer{char(TNC::IAC), char(TNC::SB), char(TNC::OptTerminalType), char(TNC::TTIs)};
    answer += Terminal;
    answer += char(TNC::IAC);
    answer += char(TNC::SE);
    SendText(answer);
}

void TIdTelnet::Negotiate(std::string_view text) {
    using namespace TNC;
    std::string data;
    for (const char ch : text) {
        const uint8_t b = uint8_t(ch);
        switch (state_) {
            case 0:  // data
                if (b == IAC)
                    state_ = 1;
                else
                    data += ch;
                break;
            case 1:  // after IAC
                if (b == IAC) {
                    data += ch;
                    state_ = 0;
                } else if (b == WILL) {
                    state_ = 3;
                } else if (b == WONT) {
                    state_ = 5;
                } else if (b == DO) {
                    state_ = 4;
                } else if (b == DONT) {
                    state_ = 6;
                } else if (b == SB) {
                    sbData_.clear();
                    state_ = 2;
                } else {
                    state_ = 0;  // EOR, SE..GA and others are ignored
                }
                break;
            case 2:  // after SB: the option
                if (b == IAC) {
                    state_ = 7;
                } else {
                    sbOption_ = b;
                    sbData_.clear();
                    state_ = 8;
                }
                break;
            case 7:  // IAC right after SB: the sub-negotiation is dropped
                state_ = 0;
                break;
            case 8:  // sub-negotiation data
                if (b == IAC)
                    state_ = 9;
                else if (sbData_.size() < kMaxSubnegotiation)
                    sbData_ += ch;
                break;
            case 9:  // IAC inside a sub-negotiation
                if (b == SE) {
                    ProcessSubnegotiation();
                    sbOption_ = 0;
                    sbData_.clear();
                    state_ = 0;
                } else if (b == SB) {
                    ProcessSubnegotiation();
                    sbOption_ = 0;
                    sbData_.clear();
                    state_ = 2;
                } else if (b == IAC) {
                    if (sbData_.size() < kMaxSubnegotiation) sbData_ += ch;
                    state_ = 8;
                } else {
                    sbData_.clear();
                    state_ = 0;
                }
                break;
            case 3:  // WILL option
                if (b == OptEcho) {
                    DoOnTelnetCommand(tncNoLocalEcho);
                    Answer(DO, b);
                } else if (b == OptEndOfRecord) {
                    Answer(DO, b);
                } else {
                    Answer(DONT, b);
                }
                state_ = 0;
                break;
            case 4:  // DO option
                if (b == OptEcho) {
                    DoOnTelnetCommand(tncLocalEcho);
                    Answer(WILL, b);
                } else if (b == OptTerminalType) {
                    Answer(WILL, b);
                } else {
                    Answer(WONT, b);
                }
                state_ = 0;
                break;
            case 5:  // WONT option
                if (b == OptEcho) DoOnTelnetCommand(tncLocalEcho);
                Answer(DONT, b);
                state_ = 0;
                break;
            case 6:  // DONT option
                if (b == OptEcho) DoOnTelnetCommand(tncEcho);
                Answer(WONT, b);
                state_ = 0;
                break;
            default:
                state_ = 0;
        }
    }
    if (!data.empty()) DoOnDataAvailable(data);
}

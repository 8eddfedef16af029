// tls/SBSimpleFTPS_data.cpp: the FTP client's data side: preparing a data connection (TYPE,
// then PASV or PORT), connecting or accepting it, TLS on it (resuming the control
// connection's session), listings line by line, downloads and uploads in blocks with progress
// and cancel, MODE Z compression, the PASV address and the Unix listing-line parser.
#include <algorithm>
#include <exception>

#include "platform/Clock.h"
#include "rtl/Format.h"
#include "tls/SBSimpleFTPS.h"
#include "tls/SBZlib.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A size as FTP servers write it (a SIZE reply, a listing's size field): 1 to 18 digits, so
// that it fits 64 bits; false for anything else.
bool ParseSize(std::string_view text, int64_t& value) {
    if (text.empty() || text.size() > 18 || !std::all_of(text.begin(), text.end(), IsDigit)) return false;
    value = 0;
    for (char c : text)
        value = value * 10 + (c - '0');
    return true;
}

// Control replies that end the wait for an active-mode data connection.
constexpr int kAbortCodes[] = {425, 426, 451, 450, 500, 501, 502, 421, 530};

}  // namespace

void ParsePasvReply(std::string_view reply, std::string& host, int32_t& port) {
    // "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)" (RFC 959 section 4.1.2); servers vary
    // the words, so the numbers are found from the first comma.
    size_t at = reply.find(',');
    if (at == std::string_view::npos) throw EFTPSError(SFTPSInvalidReply);
    while (at > 0 && IsDigit(reply[at - 1]))
        --at;
    int numbers[6];
    for (int i = 0; i < 6; ++i) {
        if (i > 0) {
            if (at >= reply.size() || IsDigit(reply[at])) throw EFTPSError(SFTPSInvalidReply);
            ++at;  // one separator
        }
        if (at >= reply.size() || !IsDigit(reply[at])) throw EFTPSError(SFTPSInvalidReply);
        int value = 0;
        while (at < reply.size() && IsDigit(reply[at])) {
            value = value * 10 + (reply[at++] - '0');
            if (value > 255) throw EFTPSError(SFTPSInvalidReply);
        }
        numbers[i] = value;
    }
    host = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." + std::to_string(numbers[2]) +
           "." + std::to_string(numbers[3]);
    port = numbers[4] * 256 + numbers[5];
}

bool TElSimpleFTPSClient::ParseListLine(const std::string& line, TSBFTPFileInfo& info) {
    info = TSBFTPFileInfo();
    if (line.empty() || line.find(' ') == std::string::npos) return false;
    switch (line[0]) {
        case 'd':
            info.Kind = TSBFTPFileInfo::fkDirectory;
            break;
        case '-':
            info.Kind = TSBFTPFileInfo::fkFile;
            break;
        case 'l':
            info.Kind = TSBFTPFileInfo::fkLink;
            break;
        case 'b':
        case 'c':
        case 'p':
        case 's':
            info.Kind = TSBFTPFileInfo::fkSpecial;
            break;
        default:
            info.Kind = TSBFTPFileInfo::fkOther;
            break;
    }
    // Permissions, links, owner, group, size, month, day, time or year; then the name, which
    // keeps its inner spaces (and a link's arrow and target).
    size_t pos = 0;
    std::string_view fields[8];
    for (std::string_view& field : fields) {
        while (pos < line.size() && line[pos] == ' ')
            ++pos;
        if (pos >= line.size()) return false;
        const size_t end = std::min(line.find(' ', pos), line.size());
        field = std::string_view(line).substr(pos, end - pos);
        pos = end;
    }
    if (pos >= line.size()) return false;
    while (pos < line.size() && line[pos] == ' ')
        ++pos;
    if (pos >= line.size()) return false;
    // Sizes are 64-bit: files past 2 GiB are common.
    if (!ParseSize(fields[4], info.Size)) return false;
    info.Name = line.substr(pos);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Data connections

void TElSimpleFTPSClient::PrepareData(bool binary) {
    // A data connection never outlives its operation; one left by a failure goes first.
    CloseDataConnection();
    EndModeZ();
    SendCommand(binary ? "TYPE I" : "TYPE A", {200});
    if (PassiveMode) {
        SendCommand("PASV", {227});
        ParsePasvReply(lastReply_, pasvHost_, pasvPort_);
        if (AdjustPasvAddress) {
            const std::string peer = control_->GetRemoteAddress();
            if (peer != pasvHost_) pasvHost_ = peer;
        }
    } else {
        data_ = std::make_unique<TElSocket>();
        data_->ListenAddress = control_->BoundAddress();
        data_->ListenPort = 0;
        if (data_->Bind() != 0) {
            CloseDataConnection();
            throw EFTPSError(SFTPSCannotEstablishData);
        }
        data_->Listen();
        std::string address = data_->BoundAddress();
        std::replace(address.begin(), address.end(), '.', ',');
        const int32_t p = data_->BoundPort();
        SendCommand("PORT " + address + "," + std::to_string(p / 256) + "," + std::to_string(p % 256), {200});
    }
    pendingText_.clear();
    if (modeZActive_) {
        deflate_ = TZStreamRec{};
        inflate_ = TZStreamRec{};
        deflateReady_ = InitCompression(deflate_, ModeZLevel) == Z_OK;
        inflateReady_ = InitDecompression(inflate_) == Z_OK;
    }
}

bool TElSimpleFTPSClient::TakeEarlyReply() {
    if (!TakeReply()) {
        PumpControl(true);
        if (!TakeReply()) return false;
    }
    early_ = FTPReplyCode(lastReply_);
    return true;
}

void TElSimpleFTPSClient::PassiveConnect(std::initializer_list<int> accepted) {
    const auto isAccepted = [&](int code) {
        return std::find(accepted.begin(), accepted.end(), code) != accepted.end();
    };
    data_ = std::make_unique<TElSocket>();
    data_->SetAddress(pasvHost_);
    data_->SetPort(pasvPort_);
    // A reply that comes while we connect (a refusal, or the server's go-ahead) is read at once.
    const int rc = data_->AsyncConnect(
        SocketTimeout, control_.get(),
        [&](TElSocket&, TElSocket&, int, bool& cancel) {
            if (early_ == 0 && TakeEarlyReply() && !isAccepted(early_)) cancel = true;
        },
        true, false);
    if (rc > 0) {
        // A server that refuses the command (550 for a missing file) may close its passive
        // listener before our connect arrives: the command's reply, not the refused connect,
        // says what went wrong. The server owes that reply in any case.
        if (early_ == 0) early_ = ReadReply(true);
        if (!isAccepted(early_)) Unaccepted(early_);
        throw EFTPSError(SFTPSConnectionFailed, rc);
    }
    bool replyTaken = false;
    if (early_ != 0) {
        if (data_->State() != TElSocket::stConnected || !isAccepted(early_)) data_->Close(true);
        if (!isAccepted(early_)) Unaccepted(early_);
        replyTaken = true;
    }
    if (data_->State() != TElSocket::stConnected) throw EFTPSError(SFTPSConnectionFailed, rc < 0 ? 0 : rc);
    if (EncryptDataChannel) {
        try {
            StartDataTLS();
        } catch (const EFTPSError&) {
            // A server that refuses the command closes the data connection it had accepted
            // instead of speaking TLS on it: its reply, not the failed handshake, says what went
            // wrong, and it is read here so that the next command meets its own reply.
            if (!replyTaken) {
                const std::exception_ptr failure = std::current_exception();
                int code = early_;
                try {
                    if (code == 0) code = ReadReply(true);
                } catch (...) {
                    std::rethrow_exception(failure);
                }
                early_ = code;
                if (!isAccepted(code)) Unaccepted(code);
            }
            throw;
        }
    }
    if (!replyTaken) {
        const int code = early_ != 0 ? early_ : ReadReply(true);
        if (!isAccepted(code)) Unaccepted(code);
        early_ = code;
    }
}

void TElSimpleFTPSClient::AcceptData() {
    const uint32_t start = plat::GetClock().TickCount();
    int result = 0;
    bool aborted = false;
    for (;;) {
        if (data_->CanAccept(500)) {
            result = data_->Accept(0);
            break;
        }
        if (FTPReplyLength(controlIn_) > 0 || control_->CanReceive(0)) {
            early_ = 0;
            early_ = ReadReply(true);
            if (std::find(std::begin(kAbortCodes), std::end(kAbortCodes), early_) != std::end(kAbortCodes)) {
                data_->Close(true);
                aborted = true;
                break;
            }
        }
        if (ListenTimeout != -1 && GetElapsedTicks(start) > uint32_t(ListenTimeout)) {
            result = SB_WSAETIMEDOUT;
            break;
        }
    }
    if (aborted) throw EFTPSError(SFTPSCannotEstablishData);
    if (result != 0) throw EFTPSError(rtl::Format(SFTPSSocketError, result));
    StartDataTLS();
}

void TElSimpleFTPSClient::StartDataTLS() {
    dataEngine_ = MakeEngine(*data_, false);
    dataEngine_->CopySettingsFrom(*controlEngine_);
    dataEngine_->PeerHost = address_;
    dataEngine_->SetEnabled(UseSSL && EncryptDataChannel);
    dataPlain_.clear();
    dataClosed_ = dataError_ = false;
    if (UseSSLSessionResumption && dataEngine_->Enabled() && controlTLS_ && controlEngine_->Active())
        dataEngine_->OpenResumingSession(*controlEngine_);
    else
        dataEngine_->OpenSession();
    const auto isAccepted = [&](int code) {
        return std::find(accepted_.begin(), accepted_.end(), code) != accepted_.end();
    };
    // TransferTimeout 0 means no limit here as in every other wait on the data connection.
    const uint32_t start = plat::GetClock().TickCount();
    while (!dataEngine_->Active() && !dataError_ && !dataClosed_ &&
           (TransferTimeout == 0 || GetElapsedTicks(start) <= uint32_t(TransferTimeout))) {
        if (FTPReplyLength(controlIn_) > 0 || control_->CanReceive(0)) {
            if (TakeEarlyReply() && !isAccepted(early_)) return;  // the caller sees it as the early reply
        } else if (data_->CanReceive(500)) {
            dataEngine_->ProcessIncomingData();
        }
    }
    if (!dataEngine_->Active()) {
        data_->Close(true);
        throw EFTPSError(SFTPSDataSSLError);
    }
}

void TElSimpleFTPSClient::StartDataCommand(const std::string& command, std::initializer_list<int> accepted) {
    accepted_.assign(accepted.begin(), accepted.end());
    SendCommand(command, accepted, true);
}

int64_t TElSimpleFTPSClient::DataRead(uint8_t* buffer, size_t size, bool wait) {
    if (!data_ || data_->State() != TElSocket::stConnected) {
        dataClosed_ = true;
        return 0;
    }
    if (!EncryptDataChannel) {
        if (!data_->CanReceive(wait ? Timeout(TransferTimeout) : 0)) {
            if (wait) dataClosed_ = true;
            return 0;
        }
        int got = 0;
        const int rc = data_->Receive(buffer, int(std::min<size_t>(size, INT32_MAX)), got);
        if (rc != 0) {
            dataError_ = true;
            dataErrorCode_ = rc;
            return -1;
        }
        if (got == 0) dataClosed_ = true;
        return got;
    }
    const uint32_t start = plat::GetClock().TickCount();
    while (dataPlain_.empty() && !dataClosed_ && !dataError_ &&
           (TransferTimeout == 0 || GetElapsedTicks(start) < uint32_t(TransferTimeout))) {
        if (data_->State() != TElSocket::stConnected) break;
        if (data_->CanReceive(wait ? (TransferTimeout != 0 ? 200 : -1) : 0))
            dataEngine_->ProcessIncomingData();
        if (!wait) break;
    }
    if (dataError_) return -1;
    const size_t take = std::min(size, dataPlain_.size());
    std::copy_n(dataPlain_.data(), take, buffer);
    dataPlain_.erase(0, take);
    return int64_t(take);
}

void TElSimpleFTPSClient::DataWrite(const uint8_t* data, size_t size) {
    if (size == 0) return;
    if (!data_) throw EFTPSError(SFTPSDataTransferError);
    if (controlTLS_ && EncryptDataChannel && dataEngine_)
        dataEngine_->SendApplicationData(data, size);
    else
        RawSend(*data_, data, size, SFTPSDataTransferError);
}

bool TElSimpleFTPSClient::ReadBlock(size_t size, std::vector<uint8_t>& block) {
    block.resize(size);
    const int64_t n = DataRead(block.data(), size, true);
    if (n < 0) throw EFTPSError(SFTPSDataTransferError, dataErrorCode_);
    if (n == 0) return false;
    block.resize(size_t(n));
    if (modeZActive_) {
        if (!inflateReady_) throw EFTPSError(SFTPSUninitializedZLib);
        std::vector<uint8_t> out;
        DecompressData(inflate_, block.data(), block.size(), out);
        block.swap(out);
    }
    return true;
}

bool TElSimpleFTPSClient::ReadLine(std::string& line) {
    std::vector<uint8_t> block;
    for (;;) {
        const size_t lf = pendingText_.find('\n');
        if (lf != std::string::npos) {
            line = pendingText_.substr(0, lf);
            pendingText_.erase(0, lf + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
        if (pendingText_.size() > kMaxTextLine) throw EFTPSError(SFTPSDataTransferError);
        if (!ReadBlock(size_t(bufferSize_), block)) {
            // The last line may come without its line end; it is a line all the same.
            if (pendingText_.empty()) return false;
            line.swap(pendingText_);
            pendingText_.clear();
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
        pendingText_.append(block.begin(), block.end());
    }
}

void TElSimpleFTPSClient::WriteBlock(const uint8_t* data, size_t size) {
    if (modeZActive_) {
        if (!deflateReady_) throw EFTPSError(SFTPSUninitializedZLib);
        std::vector<uint8_t> packed;
        CompressData(deflate_, data, size, packed);
        DataWrite(packed.data(), packed.size());
    } else {
        DataWrite(data, size);
    }
}

void TElSimpleFTPSClient::PollFinalReply() {
    if (early_ != 0) return;
    const int code = ReadReply(false);
    if (code == 0) return;
    early_ = code;
    if (code != 226 && code != 250) Unaccepted(code);
}

void TElSimpleFTPSClient::CloseDataConnection() {
    if (!data_) return;
    try {
        if (dataEngine_ && dataEngine_->Active()) dataEngine_->CloseSession(!dataEngine_->Enabled());
    } catch (...) {
        // The connection goes anyway.
    }
    dataEngine_.reset();
    data_->Close(false);
    data_.reset();
}

bool TElSimpleFTPSClient::FinalReplyOwed(bool started) const {
    // Once the data command was answered, early_ holds a final reply when one was read; while
    // the command is being made, a preliminary reply there means the server went ahead.
    return started ? early_ == 0 : early_ == 125 || early_ == 150;
}

void TElSimpleFTPSClient::AbandonTransfer(bool replyOwed) {
    CloseDataConnection();
    EndModeZ();
    // A server that had begun the transfer answers its end (426, or 226 when all was sent)
    // once the data connection is gone: that reply is read here, so that the next command
    // meets its own reply and not this one.
    if (!replyOwed || !connected_ || controlClosed_) return;
    try {
        ReadReply(true);
    } catch (...) {
        // The failure that ended the transfer is the one reported.
    }
}

void TElSimpleFTPSClient::EndModeZ() {
    if (deflateReady_) deflateEnd(&deflate_);
    if (inflateReady_) EndDecompression(inflate_);
    deflateReady_ = inflateReady_ = false;
    pendingText_.clear();
}

void TElSimpleFTPSClient::Progress(int64_t total, int64_t current, bool checkCancel) {
    if (!OnProgress) return;
    bool cancel = false;
    OnProgress(this, total, current, cancel);
    if (checkCancel && cancel) throw EOperationCancelledError(SOperationCancelled);
}

void TElSimpleFTPSClient::FinishTransfer(int64_t total, bool upload, bool endedByUs) {
    Progress(total, total, false);
    if (upload && modeZActive_ && deflateReady_) {
        // The end of the compressed stream belongs to the data.
        std::vector<uint8_t> tail;
        deflateReady_ = false;
        FinishCompression(deflate_, tail);
        DataWrite(tail.data(), tail.size());
    }
    CloseDataConnection();
    if (early_ == 0) early_ = ReadReply(true);
    EndModeZ();
    // A range ends when its last byte came: the server, still sending the rest of the file,
    // answers our close of the data connection with 426 (RFC 959 section 4.2: "Connection
    // closed; transfer aborted"), which is how every range download ends.
    if (endedByUs && early_ == 426) return;
    if (early_ != 226 && early_ != 250) Unaccepted(early_);
}

// ---------------------------------------------------------------------------------------------
// Listings and transfers

void TElSimpleFTPSClient::ListNames(const std::string& argument) {
    ListTo(argument.empty() ? std::string("NLST") : "NLST " + argument);
}

void TElSimpleFTPSClient::ListDirectory() {
    ListTo("LIST");
}

void TElSimpleFTPSClient::ListTo(const std::string& command) {
    PrepareData(false);
    early_ = 0;
    try {
        StartDataCommand(command, {125, 150});
    } catch (...) {
        AbandonTransfer(FinalReplyOwed(false));
        throw;
    }
    early_ = 0;
    // A refusal the server sends while the listing is read (425 while we wait in active mode)
    // says more than the local failure it caused, so the final reply is read first; a listing
    // the server calls complete still fails when its lines did not all arrive or a line's
    // handler failed.
    std::exception_ptr failure;
    try {
        if (!PassiveMode) AcceptData();
        std::string line;
        while (ReadLine(line))
            if (OnTextDataLine) OnTextDataLine(this, line);
    } catch (...) {
        failure = std::current_exception();
    }
    CloseDataConnection();
    EndModeZ();
    int code = early_;
    try {
        if (code == 0) code = ReadReply(true);
    } catch (...) {
        if (failure) std::rethrow_exception(failure);
        throw;
    }
    if (code != 226 && code != 250) Unaccepted(code);
    if (failure) std::rethrow_exception(failure);
}

void TElSimpleFTPSClient::ReceiveFile(const std::string& remoteName, rtl::Stream* target, int64_t startPos,
                                      int64_t endPos) {
    const bool binary = TransferType == ttBinary;
    PrepareData(binary);
    bool started = false;
    try {
        const int64_t start = startPos > 0 ? startPos : 0;
        int64_t count = -1;
        int64_t sizeValue = 0;
        const bool range = endPos >= 1 && endPos >= start;
        if (range) {
            count = endPos - start;
        } else if (featSize_ && UseSIZECmd) {
            if (SendCommand("SIZE " + remoteName, {213, 500, 501, 550}) == 213) {
                // "213 <size>" (RFC 3659 section 4); a size that does not read stays unknown (0).
                const size_t lineEnd = lastReply_.find_first_of("\r\n");
                ParseSize(std::string_view(lastReply_)
                              .substr(4, lineEnd == std::string::npos ? lineEnd : lineEnd - 4),
                          sizeValue);
            }
            count = sizeValue != 0 ? sizeValue - start : -1;
        }
        if (startPos > 0) SendCommand("REST " + std::to_string(startPos), {350});
        const int64_t total = count;
        bool endedByUs = false;
        early_ = 0;
        StartDataCommand("RETR " + remoteName, {125, 150});
        early_ = 0;
        started = true;
        if (!PassiveMode) AcceptData();

        if (binary) {
            int64_t remaining = count;
            int64_t received = 0;
            std::vector<uint8_t> block;
            for (;;) {
                // Compressed data is read in whole buffers: its length says nothing of the file's.
                const size_t want = (remaining < 0 || remaining > bufferSize_ || modeZActive_)
                                        ? size_t(bufferSize_)
                                        : size_t(remaining);
                if (remaining == 0 || !ReadBlock(want, block)) break;
                if (remaining >= 0 && int64_t(block.size()) > remaining) block.resize(size_t(remaining));
                if (target && !block.empty()) target->WriteBuffer(block.data(), block.size());
                if (OnBinaryData) OnBinaryData(this, block);
                if (count < 0) {
                    received += int64_t(block.size());
                    Progress(sizeValue, received, true);
                } else {
                    Progress(total, total - remaining, true);
                    remaining -= int64_t(block.size());
                }
                PollFinalReply();
            }
            // A download that knew its size and ended short of it is not the file.
            if (remaining > 0) throw EFTPSError(SFTPSDataTransferError);
            endedByUs = range && remaining == 0;
        } else {
            std::string line;
            while (ReadLine(line)) {
                if (OnTextDataLine) OnTextDataLine(this, line);
                if (target) {
                    line += "\r\n";
                    target->WriteBuffer(line.data(), line.size());
                }
                PollFinalReply();
            }
        }
        FinishTransfer(total, false, endedByUs);
    } catch (...) {
        AbandonTransfer(FinalReplyOwed(started));
        throw;
    }
}

void TElSimpleFTPSClient::UploadStream(rtl::Stream& source, const std::string& remoteName, int64_t startPos,
                                       int64_t endPos, bool append, int32_t restartAt) {
    const std::string command =
        remoteName.empty() ? std::string("STOU") : (append ? "APPE " : "STOR ") + remoteName;
    const int64_t start = startPos > 0 ? startPos : 0;
    const int64_t size = source.Size();
    const int64_t end = (endPos < start || endPos == 0 || endPos >= size) ? size - 1 : endPos;
    PrepareData(TransferType == ttBinary);
    bool started = false;
    try {
        // RFC 959 section 4.1.3: REST goes right before the command it restarts.
        if (restartAt > 0) SendCommand("REST " + std::to_string(restartAt), {350});
        source.SetPosition(start);
        int64_t count = end - start + 1;
        const int64_t total = count;
        early_ = 0;
        StartDataCommand(command, {125, 150});
        early_ = 0;
        started = true;
        if (!PassiveMode) AcceptData();
        std::vector<uint8_t> block;
        while (count > 0) {
            const size_t n = size_t(std::min<int64_t>(bufferSize_, count));
            block.resize(n);
            source.ReadBuffer(block.data(), n);
            WriteBlock(block.data(), n);
            PollFinalReply();
            Progress(total, total - count, true);
            count -= int64_t(n);
        }
        FinishTransfer(total, true);
    } catch (...) {
        AbandonTransfer(FinalReplyOwed(started));
        throw;
    }
}

void TElSimpleFTPSClient::SendFile(rtl::Stream& source, const std::string& remoteName) {
    UploadStream(source, remoteName, 0, source.Size() - 1, false, 0);
}

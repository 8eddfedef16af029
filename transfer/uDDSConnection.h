// transfer/uDDSConnection.h: the client of the download-distribution server.
//
// The server hands out update files by name over HTTP (or HTTPS), whole or as a patch
// against the version the workstation has, after an OAuth password grant; it may need time to
// prepare a file, and may point to another server of the same distribution that holds it:
//
//   POST BaseURL/oauth/token                       client_id, username, password, grant_type
//        -> {"access_token": ...}
//   GET  BaseURL/file/downloadFile?fileName=NAME   "Authorization: Bearer <token>"
//        -> {"fileLocation": {"isFile", "url", "status"}, "patchResponse": {"status"}}
//   GET  BaseURL/misc/params                       -> {"timeout", "pollingTime"} (seconds)
//   GET  url                                       the file's bytes
//
// TDDSConnection keeps the hosts (their credentials and settings) in registration order and
// the current one (HostIndex), authenticates host by host, asks where a file is, waits and
// asks again while it is being prepared (the waits run on plat::Clock and process the
// program's window messages), follows an answer to another registered host, and downloads the
// file. It reports through its own log and events, never by exceptions for network failures;
// answers it cannot read raise the JSON reader's exceptions.
//
// What must stay true:
//   - a host's token goes only to that host's own origin: the token request carries no
//     Authorization line; a question carries the current host's token; the file request
//     carries it only when the file's URL is on the current host (a redirect elsewhere drops
//     it in the HTTP client);
//   - the password goes only to the host's own token address: a redirect of the token
//     request is a failure, never followed;
//   - no password, token or Authorization line reaches the log (the token is masked);
//   - a downloaded file appears under its name only when the whole body arrived: it is
//     written under a temporary name beside it and renamed into place at the end;
//   - every request runs with TempoLimiteTransferencia as its connect and read time-out, and
//     every answer read into memory is bounded (kMaxRespostaDDS);
//   - RequestFile moves between hosts at most as many times as there are hosts.
// The connection is used through IDDSConnection with shared ownership, on one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rtl/Exception.h"
#include "rtl/StringList.h"

class IDDSConnection;

// The largest answer of the token, file-location and settings requests held in memory: the
// server's answers are small JSON objects.
inline constexpr int64_t kMaxRespostaDDS = 64 * 1024;

// One host: its form lines (name=value) and base address, and the settings it gives.
class TDDSConnectionParams {
public:
    TDDSConnectionParams() = default;
    ~TDDSConnectionParams();
    TDDSConnectionParams(const TDDSConnectionParams&) = delete;
    TDDSConnectionParams& operator=(const TDDSConnectionParams&) = delete;

    std::string ClientIdLine;   // "client_id=" + client id
    std::string UserNameLine;   // "username=" + user name
    std::string PasswordLine;   // "password=" + password (wiped with the object)
    std::string GrantTypeLine;  // "grant_type=" + grant type
    std::string BaseURL;        // scheme, host and port, without a trailing "/"
    uint16_t Timeout = 0;       // seconds to keep asking for a file here; from /misc/params
    uint16_t PollingTime = 0;   // seconds between two questions; from /misc/params

    // Empties the list and adds the four form lines in field order.
    void ToStrings(rtl::StringList& list) const;
};

// An answer named a host that was never registered: "Host não registrado: " + the host.
class EDDSUnregisteredHost : public rtl::Exception {
public:
    explicit EDDSUnregisteredHost(const std::string& host) : rtl::Exception("Host não registrado: " + host) {}
    const char* ClassName() const noexcept override { return "EDDSUnregisteredHost"; }
};

using TDDSDownloadBeginEvent = std::function<void(IDDSConnection* Sender, int64_t Size)>;
using TDDSDownloadProgressEvent = std::function<void(IDDSConnection* Sender, int64_t Position)>;
using TDDSNotifyEvent = std::function<void(IDDSConnection* Sender)>;
using TDDSPollingEvent = std::function<void(IDDSConnection* Sender, int32_t Remaining)>;
using TDDSTextEvent = std::function<void(IDDSConnection* Sender, const std::string& Text)>;

class IDDSConnection {
public:
    virtual ~IDDSConnection() = default;

    // Appends a host.
    virtual void AddHost(std::unique_ptr<TDDSConnectionParams> params) = 0;
    // Makes a host from these values and appends it.
    virtual void AddServer(const std::string& clientId, const std::string& userName,
                           const std::string& password, const std::string& grantType,
                           const std::string& baseURL) = 0;
    // Forgets the token and moves to the next host; true while there is one.
    virtual bool NextHost() = 0;
    // Asks the current host for a token (failures become log lines; the token stays empty).
    virtual void Authenticate() = 0;
    // Finds where the file is: the URL to download (empty when none) and the last status;
    // askPatch becomes false when a patch request was turned into a whole-file request.
    virtual void RequestFile(const std::string& fileName, std::string& url, std::string& status,
                             bool& askPatch) = 0;
    // GETs the URL into the file; true when the whole body arrived and the file is in place
    // (an earlier file of that name is replaced only then). Failures become log lines.
    virtual bool DownloadFile(const std::string& url, const std::string& fileName) = 0;
    // Empty, or "PATCH_SOURCE_DOES_NOT_EXISTS".
    virtual bool IsStatusAcceptable(const std::string& status) = 0;
    // The host at that index (rtl::EListError outside the list).
    virtual TDDSConnectionParams& GetHost(uint8_t index) = 0;
    virtual TDDSConnectionParams& GetCurrentHost() = 0;

    virtual TDDSDownloadBeginEvent GetOnDownloadBegin() = 0;
    virtual void SetOnDownloadBegin(TDDSDownloadBeginEvent value) = 0;
    virtual TDDSDownloadProgressEvent GetOnDownloadProgress() = 0;
    virtual void SetOnDownloadProgress(TDDSDownloadProgressEvent value) = 0;
    virtual TDDSNotifyEvent GetOnDownloadEnd() = 0;
    virtual void SetOnDownloadEnd(TDDSNotifyEvent value) = 0;
    virtual TDDSPollingEvent GetOnPolling() = 0;
    virtual void SetOnPolling(TDDSPollingEvent value) = 0;
    virtual TDDSTextEvent GetOnLog() = 0;
    virtual void SetOnLog(TDDSTextEvent value) = 0;
    virtual TDDSTextEvent GetOnError() = 0;
    virtual void SetOnError(TDDSTextEvent value) = 0;

    // The current host gave a token.
    virtual bool IsAuthenticated() = 0;
};

class TIdHTTP;
class TIdSSLIOHandlerSocketOpenSSL;

class TDDSConnection final : public IDDSConnection {
public:
    // A connection without hosts, its HTTP client timed by TempoLimiteTransferencia.
    static std::shared_ptr<IDDSConnection> Create();

    TDDSConnection();
    ~TDDSConnection() override;
    TDDSConnection(const TDDSConnection&) = delete;
    TDDSConnection& operator=(const TDDSConnection&) = delete;

    void AddHost(std::unique_ptr<TDDSConnectionParams> params) override;
    void AddServer(const std::string& clientId, const std::string& userName, const std::string& password,
                   const std::string& grantType, const std::string& baseURL) override;
    bool NextHost() override;
    void Authenticate() override;
    void RequestFile(const std::string& fileName, std::string& url, std::string& status,
                     bool& askPatch) override;
    bool DownloadFile(const std::string& url, const std::string& fileName) override;
    bool IsStatusAcceptable(const std::string& status) override;
    TDDSConnectionParams& GetHost(uint8_t index) override;
    TDDSConnectionParams& GetCurrentHost() override;

    TDDSDownloadBeginEvent GetOnDownloadBegin() override { return OnDownloadBegin; }
    void SetOnDownloadBegin(TDDSDownloadBeginEvent value) override { OnDownloadBegin = std::move(value); }
    TDDSDownloadProgressEvent GetOnDownloadProgress() override { return OnDownloadProgress; }
    void SetOnDownloadProgress(TDDSDownloadProgressEvent value) override {
        OnDownloadProgress = std::move(value);
    }
    TDDSNotifyEvent GetOnDownloadEnd() override { return OnDownloadEnd; }
    void SetOnDownloadEnd(TDDSNotifyEvent value) override { OnDownloadEnd = std::move(value); }
    TDDSPollingEvent GetOnPolling() override { return OnPolling; }
    void SetOnPolling(TDDSPollingEvent value) override { OnPolling = std::move(value); }
    TDDSTextEvent GetOnLog() override { return OnLog; }
    void SetOnLog(TDDSTextEvent value) override { OnLog = std::move(value); }
    TDDSTextEvent GetOnError() override { return OnError; }
    void SetOnError(TDDSTextEvent value) override { OnError = std::move(value); }

    bool IsAuthenticated() override { return !AccessToken.empty(); }

    // Where the file is: URL, whether the server says it is a file, and its status.
    void QueryFileLocation(const std::string& fileName, std::string& url, bool& isFile, std::string& status);
    // Reads "/misc/params" of every host from the current one on.
    void LoadHostSettings();
    // Fires OnPolling with the countdown, then counts it down.
    void PollingTick();

    const std::vector<std::string>& LogLines() const { return logLines_; }
    int32_t HostIndex() const { return hostIndex_; }
    int32_t HostCount() const { return int32_t(hosts_.size()); }
    int32_t PollingCountdown() const { return pollingCountdown_; }

    TDDSDownloadBeginEvent OnDownloadBegin;
    TDDSNotifyEvent OnDownloadEnd;
    TDDSDownloadProgressEvent OnDownloadProgress;  // stored; never fired
    TDDSPollingEvent OnPolling;
    TDDSTextEvent OnLog;
    TDDSTextEvent OnError;

private:
    void AddLog(const std::string& text);
    void ReportError(const std::string& text);
    // Runs one request of the HTTP client; when it fails, the connection it leaves goes too.
    void Requisicao(const std::function<void()>& pedido);
    // A GET of an answer (bounded by kMaxRespostaDDS); false after a reported failure.
    bool GetAnswer(const std::string& url, std::string& answer);
    // Waits a polling interval in steps of one second, processing the window's messages.
    void Wait(uint16_t seconds);
    // Index of the host whose base address is host; -1 when none.
    int32_t FindHost(const std::string& host) const;

    std::vector<std::unique_ptr<TDDSConnectionParams>> hosts_;
    int32_t hostIndex_ = 0;
    // The TLS handler is declared before the client, which holds it: the client goes first.
    std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL> tls_;
    std::unique_ptr<TIdHTTP> http_;
    std::vector<std::string> logLines_;
    std::string AccessToken;
    int32_t pollingCountdown_ = 0;
};

// The text up to and including the address's first "://" is its scheme part; the host is
// what follows, up to the next "/". The result is scheme (when given) or the address's own
// scheme part, followed by the host; empty for an empty address.
std::string HostPart(const std::string& address, const std::string& scheme = "");

// The whole file's name for a patch's name: "PATCH_" dropped and the control number between
// the last two "_" removed ("PATCH_KWEXEC.EXE_4087_4.0.8.7" -> "KWEXEC.EXE_4.0.8.7"); a name
// without "PATCH_" unchanged.
std::string WholeFileName(const std::string& name);

// net/IdHTTPHeaderInfo.h: typed views of HTTP header blocks.
//
// Each object keeps its lines in RawHeaders and moves values between those lines and typed
// fields both ways: BuildHeaders writes the fields into RawHeaders (entity lines, then the
// custom lines, then the request's own lines), ParseHeaders reads RawHeaders into the fields.
// Dates are local date-times (0 = not set) and go on the wire as internet dates in GMT.
// TIdProxyConnectionInfo holds the proxy server and its credentials. Credentials live in
// authentication objects (IdAuthentication.h) made when first needed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/IdAuthentication.h"
#include "net/IdHeaderList.h"
#include "rtl/DateTime.h"

class TIdEntityHeaderInfo {
public:
    TIdEntityHeaderInfo();
    virtual ~TIdEntityHeaderInfo() = default;
    TIdEntityHeaderInfo(const TIdEntityHeaderInfo&) = delete;
    TIdEntityHeaderInfo& operator=(const TIdEntityHeaderInfo&) = delete;

    std::string CacheControl;
    TIdHeaderList RawHeaders;
    std::string Connection;
    std::string ContentEncoding;
    std::string ContentLanguage;
    // -1: absent. 64-bit, so a body of any size is described.
    int64_t ContentLength = -1;
    int64_t ContentRangeEnd = 0;
    int64_t ContentRangeStart = 0;
    int64_t ContentRangeInstanceLength = 0;
    std::string ContentType;
    std::string ContentVersion;
    TIdHeaderList CustomHeaders;
    rtl::TDateTime Date = 0;
    rtl::TDateTime Expires = 0;
    rtl::TDateTime LastModified = 0;
    std::string Pragma;
    bool HasContentLength = false;

    void SetContentLength(int64_t value) {
        ContentLength = value;
        HasContentLength = value >= 0;
    }
    void SetCustomHeaders(const rtl::StringList& lines) {
        CustomHeaders.Clear();
        CustomHeaders.AddStrings(lines);
    }

    virtual void ParseHeaders();
    virtual void BuildHeaders();
    virtual void Clear();
    // Raw headers, content fields, the range and the dates.
    virtual void Assign(const TIdEntityHeaderInfo& source);
};

class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
public:
    TIdRequestHeaderInfo();
    ~TIdRequestHeaderInfo() override;

    std::string Accept;
    std::string AcceptCharSet;
    std::string AcceptEncoding;
    std::string AcceptLanguage;
    std::string From;
    std::string Password;
    std::string Referer;
    std::string UserAgent;
    std::string Username;
    std::string Host;
    bool BasicAuthentication = false;
    std::string ProxyConnection;

    TIdAuthentication* Authentication() const { return authentication_.get(); }
    void SetAuthentication(std::unique_ptr<TIdAuthentication> value) { authentication_ = std::move(value); }

    void ParseHeaders() override;
    void BuildHeaders() override;
    void Clear() override;
    // To another request: the request's own settings only (no raw headers); the entity copy
    // otherwise.
    void Assign(const TIdEntityHeaderInfo& source) override;

private:
    std::unique_ptr<TIdAuthentication> authentication_;
};

class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
public:
    TIdResponseHeaderInfo();

    std::string Location;
    std::string Server;
    std::string ProxyConnection;
    TIdHeaderList ProxyAuthenticate;
    TIdHeaderList WWWAuthenticate;

    void ParseHeaders() override;
    void Clear() override;
};

class TIdProxyConnectionInfo {
public:
    TIdProxyConnectionInfo() { Clear(); }
    ~TIdProxyConnectionInfo();
    TIdProxyConnectionInfo(const TIdProxyConnectionInfo&) = delete;
    TIdProxyConnectionInfo& operator=(const TIdProxyConnectionInfo&) = delete;

    std::string ProxyPassword;
    std::string ProxyUsername;
    bool BasicAuthentication = false;

    const std::string& ProxyServer() const { return proxyServer_; }
    int32_t ProxyPort() const { return proxyPort_; }
    // A different server (any case) or port frees the authentication object first.
    void SetProxyServer(const std::string& value);
    void SetProxyPort(int32_t value);
    TIdAuthentication* Authentication() const { return authentication_.get(); }
    void SetAuthentication(std::unique_ptr<TIdAuthentication> value) { authentication_ = std::move(value); }

    void Clear();
    void Assign(const TIdProxyConnectionInfo& source);
    // Sets "Proxy-Authorization" from the authentication object, or from a Basic object made
    // from the proxy credentials when BasicAuthentication is on; nothing otherwise.
    void AddAuthorizationHeader(TIdHeaderList& headers);

private:
    std::unique_ptr<TIdAuthentication> authentication_;
    std::string proxyServer_;
    int32_t proxyPort_ = 0;
};

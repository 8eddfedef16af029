// net/IdSSL.h: the bases of the TLS transports, and their registry.
//
// TIdSSLIOHandlerSocketBase is a stack IO handler that runs either in pass-through mode
// (plain bytes: an "http" URL, or a proxy tunnel before it is up) or encrypted. The HTTP
// client recognises a TLS-capable handler only by this class: it switches pass-through and
// sets the URI to check (the request's URL without user info and bookmark) before each
// request. TIdServerIOHandlerSSLBase is the server counterpart, whose MakeClientHandler gives
// its first handler factory. RegisterSSLTransport adds a transport to the process-wide
// registry (SSLRegistry); the OpenSSL transport registers itself.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/IdIOHandlerStack.h"
#include "net/IdServerIOHandler.h"

class TIdSSLIOHandlerSocketBase : public TIdIOHandlerStack {
public:
    using TIdIOHandlerStack::TIdIOHandlerStack;

    bool PassThrough() const { return passThrough_; }
    // The base stores the flag; a transport starts or stops TLS.
    virtual void SetPassThrough(bool value) { passThrough_ = value; }
    const std::string& URIToCheck() const { return uriToCheck_; }
    virtual void SetURIToCheck(const std::string& value) { uriToCheck_ = value; }
    // A new handler with this one's settings and events.
    virtual std::unique_ptr<TIdSSLIOHandlerSocketBase> Clone() const = 0;
    virtual void StartSSL() = 0;

protected:
    void StorePassThrough(bool value) { passThrough_ = value; }

private:
    bool passThrough_ = false;
    std::string uriToCheck_;
};

class TIdServerIOHandlerSSLBase : public TIdServerIOHandler {
public:
    using TIdServerIOHandler::TIdServerIOHandler;

    std::unique_ptr<TIdIOHandler> MakeClientHandler() override { return MakeClientIOHandler(); }
    // A handler for a client connection (pass-through on).
    virtual std::unique_ptr<TIdSSLIOHandlerSocketBase> MakeClientIOHandler() = 0;
    // Handlers for a server's data connections, with the server's own context (active) or a
    // context of their own (passive).
    virtual std::unique_ptr<TIdSSLIOHandlerSocketBase> MakeActiveDataIOHandler() = 0;
    virtual std::unique_ptr<TIdSSLIOHandlerSocketBase> MakePassiveDataIOHandler() = 0;
};

// The class of a server IO handler: its name and how to make one.
struct TIdServerIOHandlerClassInfo {
    const char* Name;
    std::unique_ptr<TIdServerIOHandler> (*Make)(rtl::Component* owner);
};
using TIdServerIOHandlerClass = const TIdServerIOHandlerClassInfo*;

struct TIdSSLRegEntry {
    std::string ProductName;
    std::string Vendor;
    std::string Copyright;
    std::string Description;
    std::string URL;
    TIdServerIOHandlerClass ServerHandler = nullptr;
    TIdIOHandlerClass ClientHandler = nullptr;
};

class TIdSSLRegistry {
public:
    TIdSSLRegEntry& Add(TIdSSLRegEntry entry);
    std::vector<TIdSSLRegEntry> Entries() const;
    int Count() const;

private:
    mutable std::mutex lock_;
    std::vector<std::unique_ptr<TIdSSLRegEntry>> entries_;
};

TIdSSLRegistry& SSLRegistry();

void RegisterSSLTransport(const std::string& productName, const std::string& vendor, const std::string& copyright,
                          TIdServerIOHandlerClass serverClass, TIdIOHandlerClass clientClass, const std::string& url,
                          const std::string& description);

// net/IdSSL.cpp: the registry of TLS transports.
#include "net/IdSSL.h"

TIdSSLRegistry& SSLRegistry() {
    static TIdSSLRegistry registry;
    return registry;
}

TIdSSLRegEntry& TIdSSLRegistry::Add(TIdSSLRegEntry entry) {
    std::lock_guard guard(lock_);
    entries_.push_back(std::make_unique<TIdSSLRegEntry>(std::move(entry)));
    return *entries_.back();
}

std::vector<TIdSSLRegEntry> TIdSSLRegistry::Entries() const {
    std::lock_guard guard(lock_);
    std::vector<TIdSSLRegEntry> out;
    for (const auto& e : entries_) out.push_back(*e);
    return out;
}

int TIdSSLRegistry::Count() const {
    std::lock_guard guard(lock_);
    return int(entries_.size());
}

void RegisterSSLTransport(const std::string& productName, const std::string& vendor, const std::string& copyright,
                          TIdServerIOHandlerClass serverClass, TIdIOHandlerClass clientClass, const std::string& url,
                          const std::string& description) {
    SSLRegistry().Add(TIdSSLRegEntry{productName, vendor, copyright, description, url, serverClass, clientClass});
}

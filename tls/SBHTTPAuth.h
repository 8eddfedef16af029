// tls/SBHTTPAuth.h: challenge-response HTTP authentication for TElHTTPSClient: the binding to
// the operating system's security support interface and the token steps made through it.
//
// The security interface (NTLM in practice) is a Windows service; this system has no such
// interface, so the binding is never made, SecurityInterfaceAvailable answers false and no
// token is ever made. The client's authentication pass then does nothing and only the
// preemptive Basic lines it prepares itself are sent (the retry decision on 401/407 stays the
// client's). What remains is the state record the client keeps and resets per direction, the
// scheme filter, and SplitDomainUser, which splits a "domain\user" name and otherwise takes
// this computer's name as the domain.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/StringList.h"

// One direction's exchange (server or proxy): whether the next token starts a new context,
// whether credentials and a context were made, and the identity they were made for.
struct TSBAuthState {
    bool FirstStep = true;
    bool CredentialsAcquired = false;
    bool ContextMade = false;
    bool Base64 = true;
    std::string User;
    std::string Domain;
    std::string Password;
    uint32_t MaxTokenSize = 0;
};

// The value of a preemptive Basic line (Authorization, Proxy-Authorization, or a tunnel's
// CONNECT): "Basic " and the Base64 of user, ":" and password.
std::string BasicCredentials(const std::string& user, const std::string& password);

// Whether the security support interface was bound at start-up (never on this platform).
bool SecurityInterfaceAvailable();
// Keeps "basic" (any case) and the schemes an installed security package names; without the
// interface the packages cannot be listed and the list stays as it is.
void FilterAuthSchemes(rtl::StringList& schemes);
// Forgets the identity; the next token starts a new context.
void InitAuthState(TSBAuthState& state);
// Gives back the credentials and the context, when they were made.
void FreeAuthState(TSBAuthState& state);
// A name holding "/" (else "\") splits at the first one into domain and user; otherwise the
// user is the whole name and the domain is this computer's name (at most 16 characters, read
// once).
void SplitDomainUser(const std::string& name, std::string& user, std::string& domain);

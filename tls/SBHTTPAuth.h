// tls/SBHTTPAuth.h: challenge-response HTTP authentication for TElHTTPSClient: the binding to
// the operating system's security interface, the token steps made through it, and the reader
// that takes a server's or proxy's challenge out of its header values.
//
// The security interface is GSSAPI with the NTLMSSP mechanism: libgssapi_krb5.so.2, loaded at
// run time, with the gss-ntlmssp plugin registered in its mechanism configuration
// (/etc/gss/mech.d/). The binding counts as available only when the library loads, every entry
// point it needs is there and the mechanism is registered; otherwise no token is ever made and
// the client's authentication pass does nothing (only the preemptive Basic lines it prepares
// itself are sent). The binding is the TLS library's one unit that loads that library.
//
// One exchange per direction (server or proxy) lives in a TSBAuthState:
//   fresh      FirstStep; no credentials, no context (InitAuthState)
//   started    not FirstStep; credentials and a context made by the first MakeAuthToken, which
//              gave the negotiate message
//   continued  the same context fed the peer's challenge by a later MakeAuthToken, which gave
//              the authenticate message
// A later step without a context (the last step failed and the interface dropped it) makes
// nothing. FreeAuthState gives the credentials and the context back; InitAuthState does so too
// before it forgets the identity, so a new exchange never leaks the last one's handles.
//
// The password goes straight from the caller's string into the credentials; no copy of it is
// kept, and the Basic texts made from it are wiped. It never reaches a message or a log.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/StringList.h"

class TSBSecurityInterface;

// One direction's exchange (server or proxy): whether the next token starts a new context,
// the credentials and the context made for it (opaque handles of the security interface, owned
// here), and the identity they were made for.
struct TSBAuthState {
    TSBAuthState() = default;
    ~TSBAuthState();
    TSBAuthState(const TSBAuthState&) = delete;
    TSBAuthState& operator=(const TSBAuthState&) = delete;

    bool FirstStep = true;
    bool CredentialsAcquired = false;
    bool ContextMade = false;
    bool Base64 = true;
    // The identity the credentials were made for. The password is never kept: the credentials
    // are made straight from the caller's.
    std::string User;
    std::string Domain;

    // The binding that made the handles below (they go back through it).
    const TSBSecurityInterface* Binding = nullptr;
    void* Credentials = nullptr;
    void* Context = nullptr;
    void* Target = nullptr;
};

// The binding to GSSAPI. Made once per process (SecurityInterface()) and only read afterwards;
// a test may make its own from other library names.
class TSBSecurityInterface {
public:
    // The library the process binds.
    static constexpr const char* kLibrary = "libgssapi_krb5.so.2";

    explicit TSBSecurityInterface(const std::vector<std::string>& libraries);
    ~TSBSecurityInterface();
    TSBSecurityInterface(const TSBSecurityInterface&) = delete;
    TSBSecurityInterface& operator=(const TSBSecurityInterface&) = delete;

    bool Available() const { return available_; }
    // Why the binding is not available ("" when it is): the library, the entry point or the
    // mechanism that is missing.
    const std::string& Reason() const { return reason_; }
    // The names of the installed packages (schemes) this binding can make tokens for: "NTLM"
    // when available, none otherwise.
    std::vector<std::string> Packages() const;

    struct Entries;

private:
    friend bool MakeAuthToken(TSBAuthState&, std::string_view, const std::string&, const std::string&,
                              const std::string&, bool&, std::string&);
    friend void FreeAuthState(TSBAuthState&);

    std::unique_ptr<Entries> gss_;
    bool available_ = false;
    std::string reason_;
};

// The binding the HTTP clients use: the process's own (bound at first use from
// TSBSecurityInterface::kLibrary), or the one a TSBSecurityInterfaceOverride put in its place.
const TSBSecurityInterface& SecurityInterface();

// Puts another binding in the process's place while the object lives (tests: a library that is
// not there). Not for use while another thread makes tokens.
class TSBSecurityInterfaceOverride {
public:
    explicit TSBSecurityInterfaceOverride(const TSBSecurityInterface& binding);
    ~TSBSecurityInterfaceOverride();
    TSBSecurityInterfaceOverride(const TSBSecurityInterfaceOverride&) = delete;
    TSBSecurityInterfaceOverride& operator=(const TSBSecurityInterfaceOverride&) = delete;

private:
    const TSBSecurityInterface* previous_;
};

// The value of a preemptive Basic line (Authorization, Proxy-Authorization, or a tunnel's
// CONNECT): "Basic " and the Base64 of user, ":" and password.
std::string BasicCredentials(const std::string& user, const std::string& password);

// Whether the process's security interface is available.
bool SecurityInterfaceAvailable();
// Keeps "basic" (any case) and the schemes equal (with case) to an installed package's name;
// deletes the others. Without the interface the packages cannot be listed and the list stays.
void FilterAuthSchemes(rtl::StringList& schemes);
// The same against a given list of package names.
void FilterAuthSchemes(rtl::StringList& schemes, const std::vector<std::string>& packages);
// Gives back what the last exchange made, forgets the identity; the next token starts a new
// context.
void InitAuthState(TSBAuthState& state);
// Gives back the credentials and the context, when they were made.
void FreeAuthState(TSBAuthState& state);
// A name holding "/" (else "\") splits at the first one into domain and user; otherwise the
// user is the whole name and the domain is this computer's name (at most 16 characters, read
// once).
void SplitDomainUser(const std::string& name, std::string& user, std::string& domain);

// The challenge reader. A challenge's token, once decoded, is at most this long: an NTLM
// challenge message is a few hundred bytes (its target information holds a handful of names).
inline constexpr size_t kAuthTokenLimit = 16384;
// Chooses, from a 401's WWW-Authenticate or a 407's Proxy-Authenticate values, the challenge
// to answer: the first allowed scheme, in list order, that some trimmed value starts with as a
// whole token (any case: "NTLM" or "NTLM <data>", not "NTLMX"). scheme := the allowed list's
// spelling; data := the value's text after its first space, trimmed ("" without one). False
// when no value offers an allowed scheme.
bool ChooseAuthChallenge(const rtl::StringList& allowed, const std::vector<std::string>& challenges,
                         std::string& scheme, std::string& data);
// A challenge's data, Base64-decoded (standard alphabet; decoding stops at the first character
// outside it, as the interface's tokens never hold one). False when it would be longer than
// kAuthTokenLimit.
bool DecodeAuthChallenge(std::string_view data, std::vector<uint8_t>& token);

// One token step of package (the scheme's name, "NTLM") for state: the first step makes the
// credentials (user split into domain and user by SplitDomainUser; with neither user nor
// password the mechanism's default credentials) and a context and gives the negotiate token;
// a later one feeds the Base64 challenge to the context. token := the produced bytes in
// Base64; more := the context wants another round. False when no token could be made.
bool MakeAuthToken(TSBAuthState& state, std::string_view challenge, const std::string& user,
                   const std::string& password, const std::string& package, bool& more, std::string& token);
// The line answering scheme's challenge: a state whose exchange has not started
// (contextStarted false) is reset first; then a token step; "Authorization: " (or
// "Proxy-Authorization: ") + scheme + " " + token. False, and no line, when no token was made.
bool BuildAuthHeader(const std::string& scheme, std::string_view challenge, TSBAuthState& state,
                     bool forProxy, bool contextStarted, const std::string& password, const std::string& user,
                     bool& more, std::string& line);

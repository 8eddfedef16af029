// tls/SBHTTPAuth.cpp: HTTP authentication through GSSAPI's NTLMSSP mechanism (see the header).
//
// Only the few GSSAPI types and calls the token steps use are declared here, from the C
// bindings of RFC 2744: every handle is an opaque pointer, a buffer is a length and a pointer,
// an OID is a length and the bytes of its DER content. Major status codes keep their calling
// and routine errors in the high 16 bits (RFC 2744 section 3.9.1); a step whose major status
// has any of them set failed.
#include "tls/SBHTTPAuth.h"

#include <atomic>
#include <cstring>

#include "crypto/base/SBUtils.h"
#include "platform/DynamicLibrary.h"
#include "platform/Workstation.h"
#include "rtl/Bytes.h"
#include "rtl/Text.h"

namespace {

using OM_uint32 = uint32_t;

struct GssOID {
    OM_uint32 length;
    void* elements;
};
struct GssOIDSet {
    size_t count;
    GssOID* elements;
};
struct GssBuffer {
    size_t length;
    void* value;
};

constexpr OM_uint32 kGssErrorMask = 0xFFFF0000u;  // calling (bits 24-31) and routine (16-23) errors
constexpr OM_uint32 kGssContinueNeeded = 1;       // supplementary bit 0
constexpr OM_uint32 kGssIndefinite = 0xFFFFFFFFu;
constexpr int kGssInitiate = 1;

// DER contents of the OIDs the steps name (checked against their dotted forms by the tests):
// NTLMSSP 1.3.6.1.4.1.311.2.2.10, GSS_C_NT_USER_NAME 1.2.840.113554.1.2.1.1 and
// GSS_C_NT_HOSTBASED_SERVICE 1.2.840.113554.1.2.1.4 (RFC 2744 section 4).
constexpr uint8_t kNtlmSspOID[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x02, 0x0A};
constexpr uint8_t kUserNameOID[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x12, 0x01, 0x02, 0x01, 0x01};
constexpr uint8_t kHostBasedServiceOID[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x12, 0x01, 0x02, 0x01, 0x04};

// The package the NTLMSSP mechanism stands for, and the service the token is for.
constexpr const char* kNtlmPackage = "NTLM";
constexpr const char* kTargetService = "InetSvcs";

GssOID MakeOID(const uint8_t* bytes, size_t size) {
    return GssOID{OM_uint32(size), const_cast<uint8_t*>(bytes)};
}

bool SameOID(const GssOID& oid, const uint8_t* bytes, size_t size) {
    return oid.length == size && oid.elements != nullptr && std::memcmp(oid.elements, bytes, size) == 0;
}

// The computer name as the security interface would use it for a domain: the host's first
// label, upper case, at most 16 characters.
const std::string& ComputerName() {
    static const std::string name = [] {
        std::string host = plat::HostName();
        const size_t dot = host.find('.');
        if (dot != std::string::npos) host.resize(dot);
        if (host.size() > 16) host.resize(16);
        return rtl::UpperCase(host);
    }();
    return name;
}

void Wipe(std::string& secret) {
    rtl::secure_wipe(secret.data(), secret.size());
    secret.clear();
}

std::atomic<const TSBSecurityInterface*> overrideBinding{nullptr};

}  // namespace

// The entry points, bound by name.
struct TSBSecurityInterface::Entries {
    plat::DynamicLibrary library;
    OM_uint32 (*import_name)(OM_uint32*, GssBuffer*, GssOID*, void**) = nullptr;
    OM_uint32 (*release_name)(OM_uint32*, void**) = nullptr;
    OM_uint32 (*acquire_cred)(OM_uint32*, void*, OM_uint32, GssOIDSet*, int, void**, GssOIDSet**,
                              OM_uint32*) = nullptr;
    OM_uint32 (*acquire_cred_with_password)(OM_uint32*, void*, GssBuffer*, OM_uint32, GssOIDSet*, int, void**,
                                            GssOIDSet**, OM_uint32*) = nullptr;
    OM_uint32 (*release_cred)(OM_uint32*, void**) = nullptr;
    OM_uint32 (*init_sec_context)(OM_uint32*, void*, void**, void*, GssOID*, OM_uint32, OM_uint32, void*,
                                  GssBuffer*, GssOID**, GssBuffer*, OM_uint32*, OM_uint32*) = nullptr;
    OM_uint32 (*delete_sec_context)(OM_uint32*, void**, GssBuffer*) = nullptr;
    OM_uint32 (*release_buffer)(OM_uint32*, GssBuffer*) = nullptr;
    OM_uint32 (*indicate_mechs)(OM_uint32*, GssOIDSet**) = nullptr;
    OM_uint32 (*release_oid_set)(OM_uint32*, GssOIDSet**) = nullptr;
};

TSBSecurityInterface::TSBSecurityInterface(const std::vector<std::string>& libraries)
    : gss_(std::make_unique<Entries>()) {
    Entries& g = *gss_;
    if (!g.library.Load(libraries)) {
        reason_ = "the GSSAPI library cannot be loaded: " + g.library.LastError();
        return;
    }
    // The mechanism's plugin keeps state the library's own exit handlers reach: the library
    // stays loaded for the life of the process.
    g.library.KeepLoaded();
    const std::string missing = g.library.FirstMissing(
        {"gss_import_name", "gss_release_name", "gss_acquire_cred", "gss_acquire_cred_with_password",
         "gss_release_cred", "gss_init_sec_context", "gss_delete_sec_context", "gss_release_buffer",
         "gss_indicate_mechs", "gss_release_oid_set"});
    if (!missing.empty()) {
        reason_ = "the GSSAPI library " + g.library.LoadedName() + " has no " + missing;
        return;
    }
    g.import_name = g.library.Bind<decltype(g.import_name)>("gss_import_name");
    g.release_name = g.library.Bind<decltype(g.release_name)>("gss_release_name");
    g.acquire_cred = g.library.Bind<decltype(g.acquire_cred)>("gss_acquire_cred");
    g.acquire_cred_with_password =
        g.library.Bind<decltype(g.acquire_cred_with_password)>("gss_acquire_cred_with_password");
    g.release_cred = g.library.Bind<decltype(g.release_cred)>("gss_release_cred");
    g.init_sec_context = g.library.Bind<decltype(g.init_sec_context)>("gss_init_sec_context");
    g.delete_sec_context = g.library.Bind<decltype(g.delete_sec_context)>("gss_delete_sec_context");
    g.release_buffer = g.library.Bind<decltype(g.release_buffer)>("gss_release_buffer");
    g.indicate_mechs = g.library.Bind<decltype(g.indicate_mechs)>("gss_indicate_mechs");
    g.release_oid_set = g.library.Bind<decltype(g.release_oid_set)>("gss_release_oid_set");

    // The mechanism is there when its plugin is registered (gss-ntlmssp's mech.d file).
    OM_uint32 minor = 0;
    GssOIDSet* mechs = nullptr;
    bool ntlm = false;
    if ((g.indicate_mechs(&minor, &mechs) & kGssErrorMask) == 0 && mechs != nullptr) {
        for (size_t i = 0; i < mechs->count; ++i)
            ntlm = ntlm || SameOID(mechs->elements[i], kNtlmSspOID, sizeof kNtlmSspOID);
    }
    if (mechs != nullptr) g.release_oid_set(&minor, &mechs);
    if (!ntlm) {
        reason_ = "the NTLMSSP mechanism (gss-ntlmssp) is not registered with " + g.library.LoadedName();
        return;
    }
    available_ = true;
}

TSBSecurityInterface::~TSBSecurityInterface() = default;

std::vector<std::string> TSBSecurityInterface::Packages() const {
    if (!available_) return {};
    return {kNtlmPackage};
}

const TSBSecurityInterface& SecurityInterface() {
    if (const TSBSecurityInterface* other = overrideBinding.load()) return *other;
    static const TSBSecurityInterface process({TSBSecurityInterface::kLibrary});
    return process;
}

TSBSecurityInterfaceOverride::TSBSecurityInterfaceOverride(const TSBSecurityInterface& binding)
    : previous_(overrideBinding.exchange(&binding)) {}

TSBSecurityInterfaceOverride::~TSBSecurityInterfaceOverride() {
    overrideBinding.store(previous_);
}

TSBAuthState::~TSBAuthState() {
    FreeAuthState(*this);
}

std::string BasicCredentials(const std::string& user, const std::string& password) {
    std::string credentials = user + ":" + password;
    std::string encoded(credentials.size() * 4 / 3 + 4, '\0');
    size_t size = encoded.size();
    EncodeBase64(credentials.data(), credentials.size(), encoded.data(), false, size);
    Wipe(credentials);
    encoded.resize(size);
    return "Basic " + encoded;
}

bool SecurityInterfaceAvailable() {
    return SecurityInterface().Available();
}

void FilterAuthSchemes(rtl::StringList& schemes) {
    // Without the interface the installed packages cannot be listed: the list stays.
    if (!SecurityInterfaceAvailable()) return;
    FilterAuthSchemes(schemes, SecurityInterface().Packages());
}

void FilterAuthSchemes(rtl::StringList& schemes, const std::vector<std::string>& packages) {
    for (int i = schemes.Count() - 1; i >= 0; --i) {
        bool keep = rtl::SameText(schemes[i], "basic");
        for (const std::string& p : packages)
            keep = keep || schemes[i] == p;
        if (!keep) schemes.Delete(i);
    }
}

void InitAuthState(TSBAuthState& state) {
    FreeAuthState(state);
    Wipe(state.User);
    Wipe(state.Domain);
    state.FirstStep = true;
    state.Base64 = true;
}

void FreeAuthState(TSBAuthState& state) {
    if (state.Binding != nullptr) {
        const TSBSecurityInterface::Entries& g = *state.Binding->gss_;
        OM_uint32 minor = 0;
        if (state.Context != nullptr) g.delete_sec_context(&minor, &state.Context, nullptr);
        if (state.Credentials != nullptr) g.release_cred(&minor, &state.Credentials);
        if (state.Target != nullptr) g.release_name(&minor, &state.Target);
    }
    state.Context = state.Credentials = state.Target = nullptr;
    state.Binding = nullptr;
    state.CredentialsAcquired = false;
    state.ContextMade = false;
}

void SplitDomainUser(const std::string& name, std::string& user, std::string& domain) {
    size_t at = name.find('/');
    if (at == std::string::npos) at = name.find('\\');
    if (at != std::string::npos) {
        domain = name.substr(0, at);
        user = name.substr(at + 1);
    } else {
        user = name;
        domain = ComputerName();
    }
}

// ---------------------------------------------------------------------------------------------
// The challenge reader

bool ChooseAuthChallenge(const rtl::StringList& allowed, const std::vector<std::string>& challenges,
                         std::string& scheme, std::string& data) {
    for (int i = 0; i < allowed.Count(); ++i) {
        const std::string& name = allowed[i];
        if (name.empty()) continue;
        for (const std::string& value : challenges) {
            const std::string challenge = rtl::Trim(value);
            // RFC 9110 section 11.3: the scheme is a token, followed by a space and its data.
            if (challenge.size() < name.size() || !rtl::StartsText(name, challenge)) continue;
            if (challenge.size() > name.size() && challenge[name.size()] != ' ') continue;
            const size_t space = challenge.find(' ');
            scheme = name;
            data = space == std::string::npos ? std::string()
                                              : rtl::Trim(std::string_view(challenge).substr(space + 1));
            return true;
        }
    }
    return false;
}

bool DecodeAuthChallenge(std::string_view data, std::vector<uint8_t>& token) {
    token.clear();
    // Stop at the first character outside the alphabet: what precedes it is the token.
    size_t end = 0;
    while (end < data.size()) {
        const char c = data[end];
        const bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                              c == '+' || c == '/' || c == '=';
        if (!alphabet) break;
        ++end;
    }
    if (end / 4 * 3 > kAuthTokenLimit + 2) return false;
    token.resize(end * 3 / 4 + 1);
    size_t size = token.size();
    if (DecodeBase64(data.data(), end, token.data(), size) != BASE64_DECODE_OK) return false;
    token.resize(size);
    return size <= kAuthTokenLimit;
}

// ---------------------------------------------------------------------------------------------
// Token steps

bool MakeAuthToken(TSBAuthState& state, std::string_view challenge, const std::string& user,
                   const std::string& password, const std::string& package, bool& more, std::string& token) {
    more = false;
    token.clear();
    const TSBSecurityInterface& binding = SecurityInterface();
    if (!binding.Available() || package != kNtlmPackage) return false;
    // A context goes on through the binding that started it, and only while it is there.
    if (!state.FirstStep && (state.Binding != &binding || state.Context == nullptr)) return false;
    const TSBSecurityInterface::Entries& g = *binding.gss_;
    std::vector<uint8_t> input;
    if (!challenge.empty() && !DecodeAuthChallenge(challenge, input)) return false;

    GssOID mech = MakeOID(kNtlmSspOID, sizeof kNtlmSspOID);
    OM_uint32 minor = 0;
    if (state.FirstStep) {
        FreeAuthState(state);
        state.Binding = &binding;
        GssOIDSet mechs{1, &mech};
        OM_uint32 major;
        if (!user.empty() || !password.empty()) {
            SplitDomainUser(user, state.User, state.Domain);
            // gss-ntlmssp reads a user name of the form "DOMAIN\user".
            std::string principal = state.Domain + "\\" + state.User;
            GssBuffer nameText{principal.size(), principal.data()};
            GssOID nameType = MakeOID(kUserNameOID, sizeof kUserNameOID);
            void* name = nullptr;
            if ((g.import_name(&minor, &nameText, &nameType, &name) & kGssErrorMask) != 0) return false;
            // The call only reads the buffer.
            GssBuffer secret{password.size(), const_cast<char*>(password.data())};
            major = g.acquire_cred_with_password(&minor, name, &secret, kGssIndefinite, &mechs, kGssInitiate,
                                                 &state.Credentials, nullptr, nullptr);
            g.release_name(&minor, &name);
        } else {
            // Neither user nor password: the credentials the mechanism has for this user.
            major = g.acquire_cred(&minor, nullptr, kGssIndefinite, &mechs, kGssInitiate, &state.Credentials,
                                   nullptr, nullptr);
        }
        if ((major & kGssErrorMask) != 0) {
            state.Credentials = nullptr;
            return false;
        }
        state.CredentialsAcquired = true;
        std::string service = kTargetService;
        GssBuffer serviceText{service.size(), service.data()};
        GssOID serviceType = MakeOID(kHostBasedServiceOID, sizeof kHostBasedServiceOID);
        if ((g.import_name(&minor, &serviceText, &serviceType, &state.Target) & kGssErrorMask) != 0) {
            state.Target = nullptr;
            return false;
        }
    }

    // The first step starts the context without input; the later ones answer the challenge.
    GssBuffer in{input.size(), input.data()};
    GssBuffer out{0, nullptr};
    const OM_uint32 major =
        g.init_sec_context(&minor, state.Credentials, &state.Context, state.Target, &mech, 0, 0, nullptr,
                           state.FirstStep ? nullptr : &in, nullptr, &out, nullptr, nullptr);
    if ((major & kGssErrorMask) != 0) {
        if (out.value != nullptr) g.release_buffer(&minor, &out);
        return false;
    }
    state.ContextMade = true;
    if (out.length > 0) {
        token.resize(out.length * 4 / 3 + 4);
        size_t size = token.size();
        EncodeBase64(out.value, out.length, token.data(), false, size);
        token.resize(size);
    }
    if (out.value != nullptr) g.release_buffer(&minor, &out);
    state.FirstStep = false;
    more = (major & kGssContinueNeeded) != 0;
    return true;
}

bool BuildAuthHeader(const std::string& scheme, std::string_view challenge, TSBAuthState& state,
                     bool forProxy, bool contextStarted, const std::string& password, const std::string& user,
                     bool& more, std::string& line) {
    line.clear();
    if (!contextStarted) InitAuthState(state);
    std::string token;
    if (!MakeAuthToken(state, challenge, user, password, scheme, more, token) || token.empty()) return false;
    line = std::string(forProxy ? "Proxy-Authorization: " : "Authorization: ") + scheme + " " + token;
    return true;
}

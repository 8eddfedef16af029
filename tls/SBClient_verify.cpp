// tls/SBClient_verify.cpp: the check of the server's certificate: its chain validated up to a
// trusted certificate, its names matched against the host the owner connects to, and the
// owner's OnCertificateValidate heard last.
//
// What must stay true:
// - unless VerifyPeerDisabled is set, a server is accepted only when the received
//   certificates make a valid path to a certificate of the system bundle (SSL_CERT_FILE, else
//   /etc/ssl/certs/ca-certificates.crt) or of CertStorage, and, when PeerHostName is set, the
//   end-entity certificate names that host (RFC 6125 6.4);
// - OnCertificateValidate may refuse a certificate the check accepted; it overturns a refusal
//   only while VerifyPeerDisabled is set (then every certificate starts accepted);
// - a refusal names its cause in the alert: unknown_ca for a path to no trusted certificate,
//   certificate_expired for a certificate outside its validity, bad_certificate otherwise.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "crypto/keys/SBPEM.h"
#include "pki/SBCustomCertStorage.h"
#include "pki/SBX509.h"
#include "pki/SBX509Ext.h"
#include "platform/Workstation.h"
#include "tls/SBClient.h"
#include "tls/SBClientInternal.h"

using namespace sbtls;

namespace {

// A bundle larger than this is not read: the system's holds a few hundred kilobytes.
constexpr std::streamsize MaxBundleSize = 16 * 1024 * 1024;

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

// A DNS name compared without its one trailing dot and regardless of letter case.
std::string Canonical(std::string_view name) {
    if (!name.empty() && name.back() == '.') name.remove_suffix(1);
    return Lower(name);
}

// RFC 6125 6.4.3: "*" as the whole left-most label stands for exactly one label; it is not
// taken in front of fewer than two labels (no "*.com"), nor for an internationalised label.
bool DNSNameMatches(std::string_view pattern, const std::string& host) {
    const std::string p = Canonical(pattern);
    if (p.empty() || host.empty()) return false;
    if (p.rfind("*.", 0) != 0) return p.find('*') == std::string::npos && p == host;
    const std::string rest = p.substr(1);  // ".example.com"
    if (rest.find('*') != std::string::npos || std::count(rest.begin(), rest.end(), '.') < 2) return false;
    const size_t dot = host.find('.');
    if (dot == std::string::npos || dot == 0) return false;
    if (host.rfind("xn--", 0) == 0) return false;
    return host.substr(dot) == rest;
}

// The certificate's form of the address a host is written as, in any spelling the resolver
// takes ("127.1" connects to 127.0.0.1 and is that address, not a DNS name): dotted decimal,
// one number per byte; "" for a name.
std::string AddressText(const std::string& host) {
    std::string out;
    for (const uint8_t b : plat::AddressLiteralBytes(host))
        out += (out.empty() ? "" : ".") + std::to_string(b);
    return out;
}

// The certificates of a PEM bundle; unreadable blocks are skipped.
void LoadBundle(const std::string& path, TElMemoryCertStorage& storage) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return;
    std::string text;
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        if (std::streamsize(text.size()) + in.gcount() > MaxBundleSize) return;
        text.append(chunk, size_t(in.gcount()));
    }
    static constexpr std::string_view Begin = "-----BEGIN CERTIFICATE-----";
    static constexpr std::string_view End = "-----END CERTIFICATE-----";
    for (size_t at = text.find(Begin); at != std::string::npos; at = text.find(Begin, at + 1)) {
        const size_t end = text.find(End, at);
        if (end == std::string::npos) break;
        const std::string_view block(text.data() + at, end + End.size() - at);
        int32_t size = int32_t(block.size());
        ByteArray der(size_t(size) + 1);
        std::string header;
        if (PEMDecode(block.data(), int32_t(block.size()), der.data(), ByteString(), size, header) !=
            PEM_DECODE_RESULT_OK)
            continue;
        try {
            TElX509Certificate certificate;
            certificate.LoadFromBuffer(der.data(), size_t(size));
            storage.Add(&certificate, false);
        } catch (const rtl::Exception&) {
        }
    }
}

}  // namespace

namespace sbtls {

std::string SystemBundlePath() {
    const char* file = std::getenv("SSL_CERT_FILE");
    return file != nullptr && *file != '\0' ? std::string(file) : std::string("/etc/ssl/certs/ca-certificates.crt");
}

// One storage per bundle file for the whole program: read on first use, then only read from
// (a storage's readers take its shared lock), so engines on several threads share it.
TElCustomCertStorage& SystemTrust() {
    static std::mutex lock;
    static std::map<std::string, std::unique_ptr<TElMemoryCertStorage>> bundles;
    const std::string path = SystemBundlePath();
    std::lock_guard<std::mutex> guard(lock);
    auto& storage = bundles[path];
    if (!storage) {
        storage = std::make_unique<TElMemoryCertStorage>();
        LoadBundle(path, *storage);
    }
    return *storage;
}

bool CertificateNamesHost(const TElX509Certificate& certificate, const std::string& hostName) {
    const TElCertificateExtensions& x = certificate.GetExtensions();
    const bool hasSAN = (x.Included & ceSubjectAlternativeName) != 0;
    const std::string address = AddressText(hostName);
    bool dnsNames = false;
    if (hasSAN) {
        const TElGeneralNames& names = x.SubjectAlternativeName.Content;
        for (int32_t i = 0; i < names.GetCount(); ++i) {
            const TElGeneralName& n = *names.GetNames(i);
            if (!address.empty()) {
                if (n.NameType == gnIPAddress && n.IpAddress == address) return true;
            } else if (n.NameType == gnDNSName) {
                dnsNames = true;
                if (DNSNameMatches(n.DNSName, Canonical(hostName))) return true;
            }
        }
    }
    // RFC 6125 6.4.4: the common name only when no DNS name is listed, and never for an address.
    if (!address.empty() || dnsNames) return false;
    const std::string& cn = certificate.GetSubjectName().CommonName;
    return !cn.empty() && DNSNameMatches(cn, Canonical(hostName));
}

}  // namespace sbtls

void TElSecureClient::CheckServerChain() {
    TElX509Certificate* leaf = serverChain_->GetCertificate(0);
    uint8_t alert = SSLAlertNone;
    if (!VerifyPeerDisabled) {
        // The received certificates are the path's untrusted part (each copy's chain is the
        // server chain); the owner's storage holds extra trusted certificates.
        TSBCertificateValidityReason reason = 0;
        TSBCertificateValidity validity = cvInvalid;
        if (certStorage_ != nullptr && certStorage_->GetCount() > 0)
            validity = certStorage_->Validate(leaf, reason, 0);
        if (validity == cvInvalid) {
            TSBCertificateValidityReason systemReason = 0;
            validity = SystemTrust().Validate(leaf, systemReason, 0);
            // The owner's verdict stands when the system knows no issuer at all.
            if (validity != cvInvalid || (systemReason & vrUnknownCA) == 0 || reason == 0) reason = systemReason;
        }
        if (validity == cvInvalid) {
            if (reason & (vrExpired | vrNotYetValid))
                alert = SSLAlertCertificateExpired;
            else if (reason & vrRevoked)
                alert = SSLAlertCertificateRevoked;
            else if (reason & vrUnknownCA)
                alert = SSLAlertUnknownCA;
            else
                alert = SSLAlertBadCertificate;
        } else if (!PeerHostName.empty() && !CertificateNamesHost(*leaf, PeerHostName)) {
            alert = SSLAlertBadCertificate;
        }
    }
    // The owner hears of every certificate, its issuers first.
    for (int32_t i = serverChain_->GetCount() - 1; i >= 0; --i) {
        bool validate = alert == SSLAlertNone;
        if (OnCertificateValidate) OnCertificateValidate(this, serverChain_->GetCertificate(i), validate);
        if (!validate && alert == SSLAlertNone) alert = SSLAlertBadCertificate;
    }
    if (alert != SSLAlertNone) Refuse(alert, "Server certificate refused");
}

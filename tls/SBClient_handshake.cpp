// tls/SBClient_handshake.cpp: the SSL 3.0 and TLS 1.0-1.2 handshake of TElSecureClient: the
// offered suites and the ClientHello with its extensions, the handshake input collector and the
// set of messages each state expects, the ServerHello and its extensions, CertificateRequest,
// the client's flight after ServerHelloDone, ChangeCipherSpec and Finished, session tickets
// (RFC 5077), renegotiation (RFC 5746), resumption with its extended-master-secret state
// (RFC 7627 5.3), and the alerts of both directions. The key exchanges and the server's
// certificate are in SBClient_kex.cpp.
#include <algorithm>
#include <cstring>

#include "crypto/base/SBASN1Tree.h"
#include "crypto/keys/SBPublicKeyCrypto.h"
#include "crypto/math/SBRandom.h"
#include "pki/SBCustomCertStorage.h"
#include "platform/Clock.h"
#include "platform/Workstation.h"
#include "rtl/Bytes.h"
#include "tls/SBClient.h"
#include "tls/SBClientInternal.h"

using namespace sbtls;

namespace {

// Ties in priority: DHE before RSA before fixed DH; AES before Camellia before SEED before 3DES.
int KeyExchangeRank(SSLKeyExchange k) {
    switch (k) {
        case SSLKeyExchange::DHE: return 0;
        case SSLKeyExchange::RSA: return 1;
        case SSLKeyExchange::DH: return 2;
        case SSLKeyExchange::DHEPSK: return 3;
        case SSLKeyExchange::RSAPSK: return 4;
        case SSLKeyExchange::PSK: return 5;
        case SSLKeyExchange::SRP: return 6;
        case SSLKeyExchange::DHAnon: return 7;
        case SSLKeyExchange::None: break;
    }
    return 8;
}

int CipherRank(SSLCipher c) {
    switch (c) {
        case SSLCipher::AES128:
        case SSLCipher::AES256: return 0;
        case SSLCipher::Camellia128:
        case SSLCipher::Camellia256: return 1;
        case SSLCipher::SEED: return 2;
        case SSLCipher::TripleDES: return 3;
        default: return 4;
    }
}

// An address literal is never sent as a server name (RFC 6066 3): neither one the resolver
// reads as an address in any of its spellings ("0x7f.0.0.1") nor a text of digits and dots.
bool IsAddressLiteral(const std::string& host) {
    if (host.find(':') != std::string::npos) return true;
    if (host.empty()) return false;
    return std::all_of(host.begin(), host.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; }) ||
           !plat::AddressLiteralBytes(host).empty();
}

uint16_t VersionWire(uint8_t protocolIndex) { return uint16_t(0x0300 | (protocolIndex - 1)); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Starting a handshake

void TElSecureClient::ResetHandshakeState() {
    helloVersion_ = Versions.Contains(sbTLS12)  ? uint8_t(sbTLS12)
                    : Versions.Contains(sbTLS11) ? uint8_t(sbTLS11)
                    : Versions.Contains(sbTLS1)  ? uint8_t(sbTLS1)
                                                 : uint8_t(sbSSL3);
    currentVersion_ = helloVersion_;
    // The hello's record carries the lowest version we accept below TLS 1.1 (RFC 5246 E.1).
    recordMajor_ = 3;
    recordMinor_ = Versions.Contains(sbSSL3) ? 0 : 1;
    BuildCipherSuiteList();
    state_ = HS::Reset;
    expected_ = 0;
    expectCCS_ = false;
    collector_.clear();
    inputMode_ = Input::Stream;
    part_ = RecordPart::Header;
    have_ = 0;
    need_ = 5;
    ResetFlightState();
    offeredExtensions_.clear();
}

void TElSecureClient::ResetFlightState() {
    transcript_.clear();
    serverKeyExchangeSeen_ = false;
    certificateSeen_ = false;
    statusAllowed_ = false;
    certificateRequested_ = false;
    sendCertificateURL_ = false;
    extendedMasterSecret_ = false;
    ticketExpected_ = false;
}

void TElSecureClient::StartHandshake() {
    ResetHandshakeState();
    SendClientHello(false);
}

void TElSecureClient::BuildCipherSuiteList() {
    const auto rows = helloVersion_ == sbSSL3 ? SSL3CipherRows : TLSCipherRows;
    struct Candidate {
        uint8_t index;
        size_t row;
    };
    std::vector<Candidate> candidates;
    for (size_t row = 0; row < rows.size(); ++row)
        if (GetSuiteEnabled(rows[row]) && SuiteUsable(rows[row])) candidates.push_back({rows[row], row});
    std::stable_sort(candidates.begin(), candidates.end(), [this](const Candidate& a, const Candidate& b) {
        const TSSLCipherSuiteInfo &x = SSLCipherSuites[a.index], &y = SSLCipherSuites[b.index];
        if (GetSuiteValue(a.index) != GetSuiteValue(b.index)) return GetSuiteValue(a.index) > GetSuiteValue(b.index);
        if (KeyExchangeRank(x.KeyExchange) != KeyExchangeRank(y.KeyExchange))
            return KeyExchangeRank(x.KeyExchange) < KeyExchangeRank(y.KeyExchange);
        return CipherRank(x.Cipher) < CipherRank(y.Cipher);
    });
    offeredSuites_.clear();
    for (const Candidate& c : candidates) offeredSuites_.push_back(SSLCipherSuites[c.index].Code);
}

bool TElSecureClient::SuiteUsable(uint8_t index) const {
    const TSSLCipherSuiteInfo& info = SSLCipherSuites[index];
    // RFC 4346 A.5: export suites are not negotiated from TLS 1.1 on; one that only a newer
    // hello can carry would be refused in the answer anyway.
    return !(info.Export && info.Cipher != SSLCipher::None && helloVersion_ >= sbTLS11 && !Versions.Contains(sbTLS1) &&
             !Versions.Contains(sbSSL3));
}

void TElSecureClient::SendClientHello(bool keepRandom) {
    const bool withExtensions = !Versions.Contains(sbSSL2) && !Versions.Contains(sbSSL3);
    if (!keepRandom) {
        GenerateRandomBytes(clientRandom_.data(), 32);
        if (withExtensions) {
            // RFC 5246 7.4.1.2: gmt_unix_time, then 28 random bytes.
            const auto now = plat::GetClock().Now();
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
            rtl::store_be32(clientRandom_.data(), uint32_t(seconds));
        }
    }
    ByteArray body;
    PutU16(body, VersionWire(helloVersion_));
    PutBytes(body, clientRandom_);
    ByteArray sessionId;
    if (resumeRequested_ && session_.Valid) {
        sessionId = session_.Id;
        if (sessionId.empty() && extensions_->SessionTicket && !session_.Ticket.empty()) {
            // RFC 5077 3.4: a session id of our own, which the server echoes when it takes the
            // ticket.
            sessionId.resize(32);
            GenerateRandomBytes(sessionId.data(), sessionId.size());
            session_.Id = sessionId;
        }
    }
    body.push_back(uint8_t(sessionId.size()));
    PutBytes(body, sessionId);
    std::vector<uint16_t> suites = offeredSuites_;
    // RFC 5746 3.3: a hello without extensions signals secure renegotiation by the SCSV.
    if (!withExtensions && !renegotiating_) suites.push_back(SCSVRenegotiation);
    PutU16(body, suites.size() * 2);
    for (uint16_t code : suites) PutU16(body, code);
    if (compressionOff_) {
        body.insert(body.end(), {1, 0});
    } else {
        body.insert(body.end(), {2, 1, 0});
    }
    offeredExtensions_.clear();
    ByteArray extensions;
    if (withExtensions) {
        extensions = BuildHelloExtensions();
    } else if (renegotiating_) {
        // RFC 5746 3.5: a renegotiating hello carries renegotiation_info with our last verify
        // data, even where the first hello had no extensions and signalled by the SCSV; the
        // server refuses the renegotiation without it.
        ByteArray ri{uint8_t(clientVerifyData_.size())};
        PutBytes(ri, clientVerifyData_);
        PutU16(extensions, ExtRenegotiationInfo);
        PutVector16(extensions, ri);
        offeredExtensions_.push_back(ExtRenegotiationInfo);
    }
    if (!extensions.empty()) {
        PutU16(body, extensions.size());
        PutBytes(body, extensions);
    }
    state_ = HS::ClientHello;
    expected_ = Bit(sbtls::ServerHello);
    expectCCS_ = false;
    SendHandshakeMessage(sbtls::ClientHello, body);
}

ByteArray TElSecureClient::BuildHelloExtensions() {
    ByteArray out;
    auto write = [&](uint16_t type, const ByteArray& data) {
        if (std::find(offeredExtensions_.begin(), offeredExtensions_.end(), type) != offeredExtensions_.end())
            return;  // RFC 5246 7.4.1.4: one extension of each type
        offeredExtensions_.push_back(type);
        PutU16(out, type);
        PutU16(out, data.size());
        PutBytes(out, data);
    };
    TElClientSSLExtensions& x = *extensions_;
    auto named = [&](TElCustomSSLExtension& e) {
        if (!e.Enabled) return;
        e.ServerSide = false;
        write(uint16_t(e.GetExtensionType()), e.GetExtensionData());
    };
    if (x.ServerName.Enabled) {
        named(x.ServerName);
    } else if (!PeerHostName.empty() && !IsAddressLiteral(PeerHostName)) {
        TElServerNameSSLExtension sni;
        sni.GetName(sni.AddName()).Name = PeerHostName;
        write(0, sni.GetExtensionData());
    }
    named(x.MaxFragmentLength);
    named(x.TrustedCAs);
    named(x.TruncatedHMAC);
    named(x.ClientCertURLs);
    named(x.CertificateStatus);
    named(x.UserName);
    named(x.CertHashTypes);
    if (x.ClientCertificateType.Enabled) {
        if (x.ClientCertificateType.GetCount() == 0 ||
            (x.ClientCertificateType.GetCount() == 1 && x.ClientCertificateType.GetType(0) == 0)) {
            x.ClientCertificateType.Enabled = false;
            x.ClientCertificateType.Clear();
        } else {
            named(x.ClientCertificateType);
        }
    }
    if (x.SessionTicket) write(ExtSessionTicket, resumeRequested_ ? session_.Ticket : ByteArray());
    for (int32_t i = 0; i < x.GetOtherCount(); ++i) {
        TElCustomSSLExtension& e = x.GetOtherExtension(i);
        if (!e.Enabled) continue;
        e.ServerSide = false;
        const int32_t type = e.GetExtensionType();
        // Types the engine writes itself are not taken from the list.
        if (type < 0 || type > 0xFFFF || type == ExtSignatureAlgorithms || type == ExtExtendedMasterSecret ||
            type == ExtRenegotiationInfo)
            continue;
        write(uint16_t(type), e.GetExtensionData());
    }
    if (helloVersion_ >= sbTLS12) {
        // RFC 5246 7.4.1.4.1: SHA-256 to SHA-512, then SHA-224 and SHA-1, each with RSA and DSA.
        ByteArray list;
        for (uint8_t hash : {4, 5, 6, 3, 2})
            for (uint8_t signature : {1, 2}) list.insert(list.end(), {hash, signature});
        ByteArray data;
        PutU16(data, list.size());
        PutBytes(data, list);
        write(ExtSignatureAlgorithms, data);
    }
    write(ExtExtendedMasterSecret, {});
    ByteArray ri{uint8_t(renegotiating_ ? clientVerifyData_.size() : 0)};
    if (renegotiating_) PutBytes(ri, clientVerifyData_);
    write(ExtRenegotiationInfo, ri);
    if (out.size() > 63488) throw EElSecureClientError("Hello extensions too long");
    return out;
}

// ---------------------------------------------------------------------------------------------
// Messages out

void TElSecureClient::AppendTranscript(const uint8_t* data, size_t length) {
    if (transcript_.size() + length > MaxTranscript) Refuse(SSLAlertInternalError, "Handshake transcript too long");
    transcript_.insert(transcript_.end(), data, data + length);
}

void TElSecureClient::SendHandshakeMessage(uint8_t type, const ByteArray& body) {
    ByteArray message{type};
    PutU24(message, body.size());
    PutBytes(message, body);
    AppendTranscript(message.data(), message.size());
    SendRecordData(ContentHandshake, message.data(), message.size());
}

void TElSecureClient::SendChangeCipherSpec() {
    static const uint8_t one = 1;
    SendRecordData(ContentChangeCipherSpec, &one, 1);
    ChangeWriteKeys();
    state_ = HS::ClientCCS;
}

void TElSecureClient::SendFinished() {
    const ByteArray verify = ComputeFinished(true);
    clientVerifyData_ = verify;
    SendHandshakeMessage(sbtls::Finished, verify);
    state_ = resuming_ ? HS::Established : HS::ClientFinished;
}

void TElSecureClient::SendAlert(bool fatal, uint8_t alertIndex) {
    int32_t description = SSLAlertIndexToDescription(alertIndex);
    if (description < 0) return;
    if (currentVersion_ == sbSSL3) {
        // RFC 6101 5.4.2 knows fewer descriptions; the others go out as handshake_failure.
        static constexpr uint8_t known[] = {0, 10, 20, 30, 40, 41, 42, 43, 44, 45, 46, 47, 71};
        if (std::find(std::begin(known), std::end(known), uint8_t(description)) == std::end(known)) description = 40;
    }
    const uint8_t body[2] = {uint8_t(fatal ? 2 : 1), uint8_t(description)};
    SendRecordData(ContentAlert, body, 2);
    if (alertIndex == SSLAlertCloseNotify && !fatal &&
        (currentVersion_ == sbSSL3 || !Options.Contains(ssloExpectShutdownMessage)))
        DoCloseConnection(crClose);
}

void TElSecureClient::SendCloseNotify() {
    resumable_ = true;
    SendAlert(false, SSLAlertCloseNotify);
}

// ---------------------------------------------------------------------------------------------
// Messages in

void TElSecureClient::ProcessHandshakeData(const uint8_t* data, size_t length) {
    collector_.insert(collector_.end(), data, data + length);
    while (collector_.size() >= 4 && !fatal_ && !closed_) {
        const uint8_t type = collector_[0];
        const size_t bodyLength = (size_t(collector_[1]) << 16) | (size_t(collector_[2]) << 8) | collector_[3];
        // Checked before the body is waited for: a message out of turn, or longer than any
        // the engine takes, is refused at its header.
        if (type != sbtls::HelloRequest && (expected_ & Bit(type)) == 0)
            Refuse(SSLAlertUnexpectedMessage, "Handshake message out of turn");
        if (bodyLength > MaxHandshakeMessage) Refuse(SSLAlertDecodeError, "Handshake message too long");
        if (collector_.size() < 4 + bodyLength) break;
        const ByteArray message(collector_.begin(), collector_.begin() + ptrdiff_t(4 + bodyLength));
        collector_.erase(collector_.begin(), collector_.begin() + ptrdiff_t(4 + bodyLength));
        // RFC 5246 7.4.1.1: HelloRequest stays out of the transcript; the server's Finished
        // goes in once it has been checked.
        if (type != sbtls::HelloRequest && type != sbtls::Finished) AppendTranscript(message.data(), message.size());
        ProcessHandshakeMessage(type, message.data() + 4, bodyLength);
    }
}

void TElSecureClient::ProcessHandshakeMessage(uint8_t type, const uint8_t* body, size_t length) {
    switch (type) {
        case sbtls::HelloRequest:
            if (length != 0) Refuse(SSLAlertDecodeError, "HelloRequest with a body");
            ProcessHelloRequest();
            return;
        case sbtls::ServerHello: ProcessServerHello(body, length); return;
        case sbtls::Certificate: ProcessServerCertificate(body, length); return;
        case sbtls::ServerKeyExchange: ProcessServerKeyExchange(body, length); return;
        case sbtls::CertificateRequest: ProcessCertificateRequest(body, length); return;
        case sbtls::ServerHelloDone:
            if (length != 0) Refuse(SSLAlertDecodeError, "ServerHelloDone with a body");
            ProcessServerHelloDone();
            return;
        case sbtls::NewSessionTicket: ProcessNewSessionTicket(body, length); return;
        case sbtls::CertificateStatus: ProcessCertificateStatus(body, length); return;
        case sbtls::Finished: ProcessServerFinished(body, length); return;
        default: Refuse(SSLAlertUnexpectedMessage, "Unknown handshake message");
    }
}

void TElSecureClient::ProcessHelloRequest() {
    // RFC 5246 7.4.1.1: ignored while a handshake runs.
    if (state_ != HS::Established || !active_) return;
    if (!secureRenegotiation_) {
        // RFC 5746 4.2: without the server's renegotiation_info there is no safe way to
        // renegotiate; the session goes on. SSL 3.0 has no no_renegotiation alert (RFC 6101
        // 5.4.2), and any other would end the session: the request is left unanswered.
        if (currentVersion_ != sbSSL3) SendAlert(false, SSLAlertNoRenegotiation);
        return;
    }
    renegotiating_ = true;
    resumeRequested_ = false;
    ResetFlightState();
    clientChain_->Clear();
    SendClientHello(false);
}

void TElSecureClient::ProcessServerHello(const uint8_t* body, size_t length) {
    MessageReader r(body, length);
    const uint8_t major = r.u8(), minor = r.u8();
    if (major != 3 || minor > 3) Refuse(SSLAlertIllegalParameter, "Unknown protocol version");
    const uint8_t version = uint8_t(minor + 1);
    if (!Versions.Contains(TSBVersion(version)) || version > helloVersion_ ||
        (renegotiating_ && version != currentVersion_)) {
        if (version == sbSSL3) Refuse(SSLAlertInsufficientSecurity, "SSL 3.0 was not offered");
        Refuse(SSLAlertProtocolVersion, "Protocol version not offered");
    }
    currentVersion_ = version;
    recordMajor_ = 3;
    recordMinor_ = minor;
    std::memcpy(serverRandom_.data(), r.bytes(32).data(), 32);
    const auto id = r.vector8();
    // RFC 5246 7.4.1.3: at most 32 bytes; a longer one ends the handshake.
    if (id.size() > 32) Refuse(SSLAlertIllegalParameter, "Session id too long");
    const uint16_t code = r.u16();
    const uint8_t compression = r.u8();
    std::span<const uint8_t> extensions;
    bool hasExtensions = false;
    if (!r.eof()) {
        extensions = r.vector16();
        hasExtensions = true;
    }
    r.end();

    // The suite, and the compression, must be among those offered (RFC 5246 7.4.1.3).
    const int32_t index = FindSuiteByCode(version == sbSSL3 ? SSL3CipherRows : TLSCipherRows, code);
    if (index < 0 || std::find(offeredSuites_.begin(), offeredSuites_.end(), code) == offeredSuites_.end())
        Refuse(SSLAlertIllegalParameter, "Cipher suite not offered");
    if (compression != 0 && (compression != 1 || compressionOff_))
        Refuse(SSLAlertIllegalParameter, "Compression method not offered");
    const TSSLCipherSuiteInfo& info = SSLCipherSuites[index];
    if (info.Export && info.Cipher != SSLCipher::None && version >= sbTLS11)
        Refuse(SSLAlertIllegalParameter, "Export suite in TLS 1.1 or later");

    serverSessionId_.assign(id.begin(), id.end());
    resuming_ = resumeRequested_ && session_.Valid && !id.empty() && serverSessionId_ == session_.Id;
    // RFC 5246 7.4.1.3: a resumed session keeps its suite, version and compression method.
    if (resuming_ && (code != session_.Cipher.Code || version != session_.Version ||
                      (compression == 1) != session_.Compressed))
        Refuse(SSLAlertIllegalParameter, "Resumed session with another suite, version or compression");

    suite_ = Suite();
    suite_.Index = index;
    suite_.Code = code;
    suite_.Export = info.Export;
    suite_.Cipher = info.Cipher;
    suite_.Mac = info.Mac;
    suite_.KeyExchange = info.KeyExchange;
    suite_.Signature = info.Signature;
    suite_.MacSize = SSLMacSize(info.Mac);
    suite_.MacOutputSize = suite_.MacSize;
    suite_.KeySize = SSLCipherKeySize(info.Cipher, info.Export);
    suite_.IVSize = SSLCipherIVSize(info.Cipher);
    compressionActive_ = compression == 1;

    // Nothing of an earlier handshake's peer stays: its extensions and keys.
    peerExtensions_->Clear();
    serverRSAKey_.reset();
    serverDSAKey_.reset();
    serverDHKey_.reset();
    srpKey_.reset();
    const bool renegotiationInfo = hasExtensions && ProcessServerHelloExtensions(extensions.data(), extensions.size());
    if (!renegotiating_)
        secureRenegotiation_ = renegotiationInfo;
    else if (!renegotiationInfo)
        Refuse(SSLAlertHandshakeFailure, "Renegotiation without renegotiation_info");  // RFC 5746 3.5
    // RFC 7627 5.3: a resumed session keeps the master-secret kind it was made with.
    if (resuming_ && session_.ExtendedMasterSecret != extendedMasterSecret_)
        Refuse(SSLAlertHandshakeFailure, "Resumption changes the extended master secret");

    state_ = HS::ServerHello;
    if (resuming_) {
        masterSecret_ = session_.MasterSecret;
        DeriveKeys();
        expected_ = ticketExpected_ ? Bit(sbtls::NewSessionTicket) : 0;
        expectCCS_ = !ticketExpected_;
    } else {
        ExpectServerFlight();
    }
}

bool TElSecureClient::ProcessServerHelloExtensions(const uint8_t* data, size_t length) {
    MessageReader r(data, length);
    std::vector<uint16_t> seen;
    const bool sentSCSV = offeredExtensions_.empty() && !renegotiating_;
    bool secure = false;
    while (!r.eof()) {
        const uint16_t type = r.u16();
        const auto ext = r.vector16();
        if (std::find(seen.begin(), seen.end(), type) != seen.end())
            Refuse(SSLAlertIllegalParameter, "Extension repeated in ServerHello");
        seen.push_back(type);
        const bool offered = std::find(offeredExtensions_.begin(), offeredExtensions_.end(), type) !=
                             offeredExtensions_.end();
        // RFC 5246 7.4.1.4: only what the client offered; signature_algorithms never.
        if (type == ExtSignatureAlgorithms || (!offered && !(type == ExtRenegotiationInfo && sentSCSV)))
            Refuse(SSLAlertUnsupportedExtension, "Extension not offered");
        const ByteArray bytes(ext.begin(), ext.end());
        TElCustomSSLExtensions& peer = *peerExtensions_;
        auto load = [&](TElCustomSSLExtension& e) {
            e.ServerSide = true;
            e.Enabled = true;
            e.SetExtensionData(bytes);
        };
        switch (type) {
            case 0: load(peer.ServerName); break;
            case 1:
                load(peer.MaxFragmentLength);
                // RFC 6066 4: the server echoes the length asked for.
                if (peer.MaxFragmentLength.MaxLength != extensions_->MaxFragmentLength.MaxLength)
                    Refuse(SSLAlertIllegalParameter, "Maximum fragment length not the one asked for");
                break;
            case 2:
                // RFC 6066 5: the server's extension is empty.
                if (!bytes.empty()) Refuse(SSLAlertDecodeError, "client_certificate_url with data");
                load(peer.ClientCertURLs);
                break;
            case 3: load(peer.TrustedCAs); break;
            case 4: load(peer.TruncatedHMAC); break;
            case 5: load(peer.CertificateStatus); break;
            case 6: load(peer.UserName); break;
            case 9: load(peer.ServerCertificateType); break;
            case ExtSessionTicket:
                peer.SessionTicket = true;
                ticketExpected_ = true;
                break;
            case ExtExtendedMasterSecret:
                if (!bytes.empty()) Refuse(SSLAlertDecodeError, "extended_master_secret with data");
                extendedMasterSecret_ = true;
                break;
            case ExtRenegotiationInfo: {
                // RFC 5746 3.4 and 3.5: empty in an initial handshake, both verify data in a
                // renegotiation.
                MessageReader ri(ext);
                const auto renegotiated = ri.vector8();
                ri.end();
                ByteArray expectedData;
                if (renegotiating_) {
                    expectedData = clientVerifyData_;
                    expectedData.insert(expectedData.end(), serverVerifyData_.begin(), serverVerifyData_.end());
                }
                if (renegotiated.size() != expectedData.size() ||
                    !rtl::ct_equal(renegotiated.data(), expectedData.data(), expectedData.size()))
                    Refuse(SSLAlertHandshakeFailure, "renegotiation_info does not match");
                secure = true;
                break;
            }
            default: {
                const int32_t n = peer.GetOtherCount();
                peer.SetOtherCount(n + 1);
                TElCustomSSLExtension& e = peer.GetOtherExtension(n);
                e.SetExtensionType(type);
                e.SetExtensionData(bytes);
                e.ServerSide = true;
                break;
            }
        }
    }
    if (extensions_->TruncatedHMAC.Enabled && peerExtensions_->TruncatedHMAC.Enabled && suite_.MacSize > 0)
        suite_.MacOutputSize = 10;  // RFC 6066 7
    if (extensions_->MaxFragmentLength.Enabled && peerExtensions_->MaxFragmentLength.Enabled &&
        extensions_->MaxFragmentLength.MaxLength <= 3) {
        maxSendFragment_ = 512 << extensions_->MaxFragmentLength.MaxLength;
        maxReceiveFragment_ = maxSendFragment_;
    }
    if (OnExtensionsReceived) OnExtensionsReceived(this);
    return secure;
}

bool TElSecureClient::SuiteNeedsServerCertificate() const {
    switch (suite_.KeyExchange) {
        case SSLKeyExchange::RSA:
        case SSLKeyExchange::DH:
        case SSLKeyExchange::DHE:
        case SSLKeyExchange::RSAPSK: return true;
        case SSLKeyExchange::SRP: return suite_.Signature != SSLSignature::None;
        default: return false;
    }
}

void TElSecureClient::ExpectServerFlight() {
    expectCCS_ = false;
    if (SuiteNeedsServerCertificate() && !certificateSeen_) {
        expected_ = Bit(sbtls::Certificate);
        return;
    }
    // After the server's certificate (or the hello of a suite without one): the key
    // exchange message where the suite needs or allows one (RFC 5246 7.4.3, RFC 4279 2,
    // RFC 5054 2.5), a CertificateRequest where the server authenticated itself (RFC 5246
    // 7.4.4), then ServerHelloDone; CertificateStatus right after the certificate when the
    // server agreed to send one (RFC 6066 8).
    const SSLKeyExchange k = suite_.KeyExchange;
    const bool skeRequired = k == SSLKeyExchange::DHE || k == SSLKeyExchange::DHAnon || k == SSLKeyExchange::DHEPSK ||
                             k == SSLKeyExchange::SRP;
    const bool skeAllowed = skeRequired || (k == SSLKeyExchange::RSA && suite_.Export) || k == SSLKeyExchange::PSK ||
                            k == SSLKeyExchange::RSAPSK;
    expected_ = statusAllowed_ ? Bit(sbtls::CertificateStatus) : 0;
    if (skeRequired && !serverKeyExchangeSeen_) {
        expected_ |= Bit(sbtls::ServerKeyExchange);
        return;
    }
    expected_ |= Bit(sbtls::ServerHelloDone);
    if (skeAllowed && !serverKeyExchangeSeen_) expected_ |= Bit(sbtls::ServerKeyExchange);
    if (SuiteNeedsServerCertificate()) expected_ |= Bit(sbtls::CertificateRequest);
}

void TElSecureClient::ProcessCertificateRequest(const uint8_t* body, size_t length) {
    MessageReader r(body, length);
    const auto types = r.vector8();
    if (types.empty()) Refuse(SSLAlertDecodeError, "CertificateRequest without certificate types");
    requestedTypes_.assign(types.begin(), types.end());
    requestedSignatures_.clear();
    if (currentVersion_ >= sbTLS12) {
        // RFC 5246 7.4.4: the signature and hash pairs the server takes.
        const auto pairs = r.vector16();
        if (pairs.size() % 2 != 0) Refuse(SSLAlertDecodeError, "Odd signature algorithm list");
        requestedSignatures_.assign(pairs.begin(), pairs.end());
    }
    const auto authorities = r.vector16();
    r.end();
    extensions_->ClearCertificateAuthorities();
    MessageReader names(authorities);
    while (!names.eof()) {
        const auto der = names.vector16();
        TElASN1ConstrainedTag tree;
        auto name = std::make_unique<TElRelativeDistinguishedName>();
        if (!tree.LoadFromBuffer(der.data(), der.size()) || tree.GetCount() != 1 || !tree.GetChild(0)->IsConstrained() ||
            !name->LoadFromTag(static_cast<const TElASN1ConstrainedTag&>(*tree.GetChild(0))))
            Refuse(SSLAlertHandshakeFailure, "Malformed certificate authority name");
        extensions_->AddCertificateAuthority(std::move(name));
    }
    certificateRequested_ = true;
    statusAllowed_ = false;
    ChooseCertificateURL();
    expected_ = Bit(sbtls::ServerHelloDone);
}

void TElSecureClient::ProcessServerHelloDone() {
    state_ = HS::ServerHelloDone;
    const bool authenticates = suite_.KeyExchange != SSLKeyExchange::None && suite_.KeyExchange != SSLKeyExchange::DHAnon;
    if (certificateRequested_ && authenticates) {
        if (sendCertificateURL_)
            SendClientCertificateURL();
        else
            SendClientCertificate();
    }
    if (suite_.KeyExchange != SSLKeyExchange::None) SendClientKeyExchange();
    ComputeMasterSecret();
    if (certificateRequested_ && authenticates && (sendCertificateURL_ || clientChain_->GetCount() > 0))
        SendCertificateVerify();
    DeriveKeys();
    SendChangeCipherSpec();
    SendFinished();
    expected_ = ticketExpected_ ? Bit(sbtls::NewSessionTicket) : 0;
    expectCCS_ = !ticketExpected_;
}

void TElSecureClient::ProcessNewSessionTicket(const uint8_t* body, size_t length) {
    // RFC 5077 3.3.
    MessageReader r(body, length);
    r.u32();  // lifetime hint
    const auto ticket = r.vector16();
    r.end();
    ticket_.assign(ticket.begin(), ticket.end());
    expected_ = 0;
    expectCCS_ = true;
}

void TElSecureClient::ProcessCertificateStatus(const uint8_t* body, size_t length) {
    // RFC 6066 8.
    MessageReader r(body, length);
    const uint8_t statusType = r.u8();
    if (statusType == 1) {
        const auto response = r.vector24();
        r.end();
        if (OnCertificateStatus) OnCertificateStatus(this, cstOCSP, ByteArray(response.begin(), response.end()));
    }
    expected_ &= ~Bit(sbtls::CertificateStatus);
}

void TElSecureClient::ProcessChangeCipherSpec(const uint8_t* data, size_t length) {
    // RFC 5246 7.1: one byte 1, in turn, between whole handshake messages.
    if (!expectCCS_ || !collector_.empty() || !pendingRead_.Active)
        Refuse(SSLAlertUnexpectedMessage, "ChangeCipherSpec out of turn");
    if (length != 1 || data[0] != 1) Refuse(SSLAlertUnexpectedMessage, "Malformed ChangeCipherSpec");
    ChangeReadKeys();
    expectCCS_ = false;
    expected_ = Bit(sbtls::Finished);
    state_ = HS::ServerCCS;
}

void TElSecureClient::ProcessServerFinished(const uint8_t* body, size_t length) {
    const ByteArray expected = ComputeFinished(false);
    if (length != expected.size() || !rtl::ct_equal(body, expected.data(), expected.size()))
        Refuse(currentVersion_ == sbSSL3 ? SSLAlertHandshakeFailure : SSLAlertDecryptError, "Finished does not match");
    serverVerifyData_ = expected;
    ByteArray message{sbtls::Finished};
    PutU24(message, length);
    message.insert(message.end(), body, body + length);
    AppendTranscript(message.data(), message.size());
    if (resuming_) {
        SendChangeCipherSpec();
        SendFinished();
    }
    EndHandshake();
}

void TElSecureClient::EndHandshake() {
    state_ = HS::Established;
    expected_ = 0;
    expectCCS_ = false;
    active_ = true;
    if (!resuming_) {
        session_.Id = serverSessionId_;
        session_.MasterSecret = masterSecret_;
        session_.Cipher = suite_;
        session_.Version = currentVersion_;
        session_.ExtendedMasterSecret = extendedMasterSecret_;
        session_.Compressed = compressionActive_;
        session_.Ticket.clear();
    }
    if (!ticket_.empty()) session_.Ticket = ticket_;
    session_.Valid = !session_.Id.empty() || !session_.Ticket.empty();
    ticket_.clear();
    postProcessing_ = true;
}

void TElSecureClient::ProcessAlert(const uint8_t* data, size_t length) {
    if (length % 2 != 0) Refuse(SSLAlertDecodeError, "Malformed alert");
    for (size_t i = 0; i < length && !closed_; i += 2) {
        const uint8_t level = data[i], description = data[i + 1];
        const int32_t code = SSLAlertIndexToErrorCode(SSLAlertToIndex(description));
        if (currentVersion_ == sbSSL3) {
            DoError(code, level == 2, true);
            DoCloseConnection(crError);
            return;
        }
        if (level == 1 && description == 0) {
            DoCloseConnection(crClose);
            return;
        }
        if (level == 1) {
            DoError(code, false, true);
            continue;
        }
        fatal_ = true;
        need_ = 0;
        DoError(code, true, true);
        DoCloseConnection(crError);
        return;
    }
}

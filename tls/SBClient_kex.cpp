// tls/SBClient_kex.cpp: the key exchanges of TElSecureClient: the server's Certificate and
// the check of its chain, the ServerKeyExchange of each key-exchange kind, the
// ClientKeyExchange and the premaster secret, and the client's certificate.
#include <algorithm>
#include <cstring>

#include "pki/SBCustomCertStorage.h"
#include "pki/SBX509.h"
#include "rtl/Bytes.h"
#include "tls/SBClient.h"
#include "tls/SBClientInternal.h"

using namespace sbtls;

namespace {

void PutU16(ByteArray& out, size_t v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

void PutU24(ByteArray& out, size_t v) {
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

}  // namespace

bool TElSecureClient::KeyExchangeSupported(SSLKeyExchange kex) const {
    return kex == SSLKeyExchange::None || kex == SSLKeyExchange::PSK;
}

// ---------------------------------------------------------------------------------------------
// The server's certificate

void TElSecureClient::ProcessServerCertificate(const uint8_t* body, size_t length) {
    MessageReader r(body, length);
    MessageReader list(r.vector24());
    r.end();
    auto chain = std::make_unique<TElX509CertificateChain>();
    while (!list.eof()) {
        const auto der = list.vector24();
        TElX509Certificate certificate;
        certificate.CryptoProvider = PublicKeyProvider();
        try {
            certificate.LoadFromBuffer(der.data(), der.size());
        } catch (const rtl::Exception&) {
            Refuse(SSLAlertBadCertificate, "Server certificate cannot be read");
        }
        chain->AddCopy(&certificate);
    }
    // RFC 5246 7.4.2: the server's own certificate comes first; an empty list is no
    // certificate at all.
    if (chain->GetCount() == 0) Refuse(SSLAlertBadCertificate, "Server sent no certificate");
    if (peerExtensions_->ServerCertificateType.Enabled &&
        peerExtensions_->ServerCertificateType.GetCertificateType() != 0 &&
        FindByKind(peerExtensions_->ServerCertificateType.GetCertificateType()) == nullptr)
        Refuse(SSLAlertBadCertificate, "Certificate type without a handler");
    serverChain_ = std::move(chain);
    for (int32_t i = serverChain_->GetCount() - 1; i >= 0; --i)
        if (!DoCertificateValidate(serverChain_->GetCertificate(i)))
            Refuse(SSLAlertBadCertificate, "Server certificate refused");
    state_ = HS::Certificate;
    certificateSeen_ = true;
    statusAllowed_ = extensions_->CertificateStatus.Enabled && peerExtensions_->CertificateStatus.Enabled;
    ExpectServerFlight();
}

// ---------------------------------------------------------------------------------------------
// ServerKeyExchange

void TElSecureClient::ProcessServerKeyExchange(const uint8_t* body, size_t length) {
    serverKeyExchangeSeen_ = true;
    switch (suite_.KeyExchange) {
        case SSLKeyExchange::PSK:
        case SSLKeyExchange::RSAPSK: ProcessPSKServerKeyExchange(body, length); break;
        default: Refuse(SSLAlertUnexpectedMessage, "ServerKeyExchange for this key exchange");
    }
    statusAllowed_ = false;
    ExpectServerFlight();
}

void TElSecureClient::ProcessPSKServerKeyExchange(const uint8_t* body, size_t length) {
    // RFC 4279 2: the identity hint.
    MessageReader r(body, length);
    const auto hint = r.vector16();
    r.end();
    pskIdentityHint_.assign(hint.begin(), hint.end());
}

// ---------------------------------------------------------------------------------------------
// ClientKeyExchange

void TElSecureClient::DoKeyNeeded(const std::string& hint, std::string& identity, ByteArray& key) {
    identity.clear();
    key.clear();
    if (OnKeyNeeded) OnKeyNeeded(this, hint, identity, key);
}

void TElSecureClient::SendClientKeyExchange() {
    ByteArray body;
    switch (suite_.KeyExchange) {
        case SSLKeyExchange::PSK: {
            // RFC 4279 2: premaster = N zero bytes and the N key bytes, each with its length.
            std::string identity;
            ByteArray key;
            DoKeyNeeded(pskIdentityHint_, identity, key);
            if (key.empty()) Refuse(SSLAlertHandshakeFailure, "No pre-shared key");
            if (identity.size() > 0xFFFF || key.size() > 0xFFFF) Refuse(SSLAlertInternalError, "PSK too long");
            premaster_.clear();
            premaster_.push_back(uint8_t(key.size() >> 8));
            premaster_.push_back(uint8_t(key.size()));
            premaster_.insert(premaster_.end(), key.size(), 0);
            premaster_.push_back(uint8_t(key.size() >> 8));
            premaster_.push_back(uint8_t(key.size()));
            premaster_.insert(premaster_.end(), key.begin(), key.end());
            rtl::secure_wipe(key.data(), key.size());
            PutU16(body, identity.size());
            body.insert(body.end(), identity.begin(), identity.end());
            break;
        }
        default: Refuse(SSLAlertHandshakeFailure, "Key exchange not available");
    }
    SendHandshakeMessage(sbtls::ClientKeyExchange, body);
}

// ---------------------------------------------------------------------------------------------
// The client's certificate

void TElSecureClient::ChooseClientCertificate() {
    clientChain_->Clear();
}

void TElSecureClient::SendClientCertificate() {
    // RFC 5246 7.4.6: the chain, or an empty list when there is none.
    ByteArray list;
    for (int32_t i = 0; i < clientChain_->GetCount(); ++i) {
        const TElX509Certificate* c = clientChain_->GetCertificate(i);
        PutU24(list, c->GetCertificateSize());
        list.insert(list.end(), c->GetCertificateBinary(), c->GetCertificateBinary() + c->GetCertificateSize());
    }
    ByteArray body;
    PutU24(body, list.size());
    body.insert(body.end(), list.begin(), list.end());
    SendHandshakeMessage(sbtls::Certificate, body);
}

void TElSecureClient::SendCertificateVerify() {
    Refuse(SSLAlertInternalError, "Client certificate key cannot sign");
}

void TElSecureClient::ProcessSSL2ServerCertificate(std::span<const uint8_t> der) {
    TElX509Certificate certificate;
    certificate.CryptoProvider = PublicKeyProvider();
    try {
        certificate.LoadFromBuffer(der.data(), der.size());
    } catch (const rtl::Exception&) {
        Refuse(SSLAlertBadCertificate, "Server certificate cannot be read");
    }
    serverChain_ = std::make_unique<TElX509CertificateChain>();
    serverChain_->AddCopy(&certificate);
    if (!DoCertificateValidate(serverChain_->GetCertificate(0))) Refuse(SSLAlertBadCertificate, "Server certificate refused");
}

ByteArray TElSecureClient::EncryptWithServerKey(std::span<const uint8_t>) {
    Refuse(SSLAlertHandshakeFailure, "RSA key exchange not available");
}

ByteArray TElSecureClient::SignWithClientKey(int32_t, std::span<const uint8_t>) { return {}; }

// tls/SBClient_ssl2.cpp: SSL 2.0 in TElSecureClient: the version-compatible hello (RFC 5246
// E.2) that lets an SSL 2.0, SSL 3.0 or TLS server answer, and the SSL 2.0 handshake and records
// for a server that answers in SSL 2.0.
//
// SSL 2.0 handshake states:
//   0 reset, 1 CLIENT-HELLO sent (records in clear), 2 SERVER-HELLO read, 3 CLIENT-MASTER-KEY
//   sent (records protected from here on), 5 CLIENT-FINISHED sent, 7 established.
// Each message type is taken only in its states (ERROR before 7, SERVER-HELLO in 1,
// SERVER-VERIFY in 3 and 5, SERVER-FINISHED after SERVER-VERIFY and REQUEST-CERTIFICATE in 5);
// anything else, a received ERROR, a SERVER-VERIFY that does not return our challenge and a
// cipher spec we did not offer end the session with crError. Record numbers count every record
// of each direction from 0 (the CLIENT-HELLO is record 0) and enter every MAC.
#include <algorithm>
#include <cstring>

#include "crypto/base/SBConstants.h"
#include "crypto/facade/SBHashFunction.h"
#include "crypto/facade/SBSymmetricCrypto.h"
#include "crypto/keys/SBPublicKeyCrypto.h"
#include "crypto/math/SBRandom.h"
#include "pki/SBCustomCertStorage.h"
#include "rtl/Bytes.h"
#include "tls/SBClient.h"
#include "tls/SBClientInternal.h"
#include "tls/SBClientSSL2.h"

using namespace sbtls;

namespace {

constexpr uint8_t MsgError = 0, MsgClientHello = 1, MsgClientMasterKey = 2, MsgClientFinished = 3, MsgServerHello = 4,
                  MsgServerVerify = 5, MsgServerFinished = 6, MsgRequestCertificate = 7, MsgClientCertificate = 8;

int32_t SSL2MasterKeyLength(SSLCipher cipher) {
    switch (cipher) {
        case SSLCipher::DES: return 8;
        case SSLCipher::TripleDES: return 24;
        default: return 16;
    }
}

}  // namespace

TElSecureClient::SSL2State::SSL2State() = default;
TElSecureClient::SSL2State::~SSL2State() = default;

// ---------------------------------------------------------------------------------------------
// Hellos

std::vector<std::array<uint8_t, 3>> TElSecureClient::BuildSSL2SpecList() const {
    struct Candidate {
        uint8_t index;
        size_t row;
    };
    std::vector<Candidate> candidates;
    for (size_t row = 0; row < SSL2CipherRows.size(); ++row)
        if (GetSuiteEnabled(SSL2CipherRows[row])) candidates.push_back({SSL2CipherRows[row], row});
    std::stable_sort(candidates.begin(), candidates.end(), [this](const Candidate& a, const Candidate& b) {
        return GetSuiteValue(a.index) > GetSuiteValue(b.index);
    });
    std::vector<std::array<uint8_t, 3>> specs;
    for (const Candidate& c : candidates) {
        const uint8_t* s = SSLCipherSuites[c.index].SSL2Code;
        specs.push_back({s[0], s[1], s[2]});
    }
    return specs;
}

void TElSecureClient::StartSSL2Handshake() {
    ssl2_ = std::make_unique<SSL2State>();
    ssl2_->Specs = BuildSSL2SpecList();
    if (Versions.Contains(sbSSL3) || Versions.Contains(sbTLS1) || Versions.Contains(sbTLS11) ||
        Versions.Contains(sbTLS12))
        SendCompatibleHello();
    else
        SendSSL2ClientHello();
}

void TElSecureClient::SendCompatibleHello() {
    ResetHandshakeState();
    SSL2State& s = *ssl2_;
    GenerateRandomBytes(s.Challenge.data(), s.Challenge.size());
    // RFC 5246 E.2: the challenge, right-aligned and zero-padded, is the client random.
    clientRandom_.fill(0);
    std::memcpy(clientRandom_.data() + 16, s.Challenge.data(), 16);
    ByteArray specs;
    for (const auto& spec : s.Specs) specs.insert(specs.end(), spec.begin(), spec.end());
    for (uint16_t code : offeredSuites_) specs.insert(specs.end(), {0, uint8_t(code >> 8), uint8_t(code)});
    specs.insert(specs.end(), {0, 0, uint8_t(SCSVRenegotiation)});  // RFC 5746 3.3
    ByteArray body{MsgClientHello, 3, uint8_t(helloVersion_ - 1)};
    PutU16(body, specs.size());
    PutU16(body, 0);
    PutU16(body, s.Challenge.size());
    body.insert(body.end(), specs.begin(), specs.end());
    body.insert(body.end(), s.Challenge.begin(), s.Challenge.end());
    s.State = 1;
    // The hello, without its record header, starts the SSL 3.0 / TLS transcript.
    AppendTranscript(body.data(), body.size());
    state_ = HS::ClientHello;
    expected_ = Bit(sbtls::ServerHello);
    offeredExtensions_.clear();
    WriteSSL2Record(body.data(), body.size());
    inputMode_ = Input::CompatAnswer;
    part_ = RecordPart::Header;
    have_ = 0;
    need_ = 1;
}

void TElSecureClient::SendSSL2ClientHello() {
    SSL2State& s = *ssl2_;
    currentVersion_ = sbSSL2;
    GenerateRandomBytes(s.Challenge.data(), s.Challenge.size());
    const ByteArray& sessionId = resumeRequested_ ? s.SessionId : ByteArray();
    ByteArray body{MsgClientHello, 0, 2};
    PutU16(body, s.Specs.size() * 3);
    PutU16(body, sessionId.size());
    PutU16(body, s.Challenge.size());
    for (const auto& spec : s.Specs) body.insert(body.end(), spec.begin(), spec.end());
    body.insert(body.end(), sessionId.begin(), sessionId.end());
    body.insert(body.end(), s.Challenge.begin(), s.Challenge.end());
    s.State = 1;
    WriteSSL2Record(body.data(), body.size());
    inputMode_ = Input::SSL2;
    part_ = RecordPart::Header;
    have_ = 0;
    need_ = 2;
}

void TElSecureClient::CopySSL2Session(const TElSecureClient& other) {
    ssl2_ = std::make_unique<SSL2State>();
    ssl2_->SessionId = other.ssl2_->SessionId;
    ssl2_->MasterKey = other.ssl2_->MasterKey;
    ssl2_->Suite = other.ssl2_->Suite;
    ssl2_->ServerCertificate = other.ssl2_->ServerCertificate;
    currentVersion_ = sbSSL2;
}

void TElSecureClient::RestartSSL2WithSession() {
    auto previous = std::move(ssl2_);
    ssl2_ = std::make_unique<SSL2State>();
    if (previous) {
        ssl2_->SessionId = previous->SessionId;
        ssl2_->MasterKey = previous->MasterKey;
        ssl2_->Suite = previous->Suite;
        ssl2_->ServerCertificate = previous->ServerCertificate;
    }
    ssl2_->Specs = BuildSSL2SpecList();
    SendSSL2ClientHello();
}

// ---------------------------------------------------------------------------------------------
// Records

void TElSecureClient::WriteSSL2Record(const uint8_t* data, size_t length) {
    // A two-byte header: the top bit set and a 15-bit length.
    output_.resize(2 + length);
    output_[0] = uint8_t(0x80 | (length >> 8));
    output_[1] = uint8_t(length);
    if (length > 0) std::memcpy(&output_[2], data, length);
    ssl2_->SendSequence++;
    DoSend(output_.data(), output_.size());
}

void TElSecureClient::SendSSL2Protected(const uint8_t* data, size_t length) {
    SSL2State& s = *ssl2_;
    const size_t bs = size_t(s.BlockSize);
    const size_t padding = bs > 0 ? (bs - length % bs) % bs : 0;
    // MAC = MD5(write key + data + padding + record number).
    ByteArray record(16 + length + padding);
    if (length > 0) std::memcpy(&record[16], data, length);
    if (padding > 0) GenerateRandomBytes(&record[16 + length], padding);
    uint8_t sequence[4];
    rtl::store_be32(sequence, s.SendSequence);
    TElHashFunction md5(SB_ALG_MD5);
    md5.Update(s.ClientWriteKey.data(), s.ClientWriteKey.size());
    md5.Update(&record[16], length + padding);
    md5.Update(sequence, 4);
    const ByteString mac = md5.Finish();
    std::memcpy(record.data(), mac.data(), 16);
    size_t outSize = record.size();
    s.Write->EncryptUpdate(record.data(), record.size(), record.data(), outSize);
    if (padding > 0) {
        output_.assign({uint8_t((record.size() >> 8) & 0x3F), uint8_t(record.size()), uint8_t(padding)});
    } else {
        output_.assign({uint8_t(0x80 | (record.size() >> 8)), uint8_t(record.size())});
    }
    output_.insert(output_.end(), record.begin(), record.end());
    s.SendSequence++;
    DoSend(output_.data(), output_.size());
}

void TElSecureClient::SendSSL2Data(const uint8_t* data, size_t length) { SendSSL2Protected(data, length); }

void TElSecureClient::SendSSL2Message(const ByteArray& message) {
    if (ssl2_->Write)
        SendSSL2Protected(message.data(), message.size());
    else
        WriteSSL2Record(message.data(), message.size());
}

void TElSecureClient::SendSSL2Error(uint8_t alertIndex) {
    if (!ssl2_) return;
    uint16_t code = 0;
    switch (alertIndex) {
        case 1:
        case 2:
        case 3:
        case 6: code = 1; break;  // NO-CIPHER-ERROR
        case 7: code = 2; break;  // NO-CERTIFICATE-ERROR
        case 8:
        case 11:
        case 12: code = 4; break;  // BAD-CERTIFICATE-ERROR
        case 9: code = 6; break;   // UNSUPPORTED-CERTIFICATE-TYPE-ERROR
        case 20: code = 71; break;
        default: code = 0; break;
    }
    SendSSL2Message(ByteArray{MsgError, uint8_t(code >> 8), uint8_t(code)});
}

void TElSecureClient::RunSSL2InputMachine() {
    SSL2State& s = *ssl2_;
    if (part_ == RecordPart::Header) {
        const uint8_t b0 = input_[0], b1 = input_[1];
        if ((b0 & 0x80) == 0) {
            // A three-byte header: the third byte is the padding length.
            part_ = RecordPart::Header3;
            need_ = 1;
            return;
        }
        s.RecordLength = (size_t(b0 & 0x7F) << 8) | b1;
        s.RecordPadding = 0;
    } else if (part_ == RecordPart::Header3) {
        s.RecordLength = (size_t(input_[0] & 0x3F) << 8) | input_[1];
        s.RecordPadding = input_[2];
    } else {
        part_ = RecordPart::Header;
        have_ = 0;
        need_ = 2;
        try {
            ProcessSSL2Record(input_.data(), s.RecordLength, s.RecordPadding);
        } catch (const EElSSLError& refusal) {
            if (refusal.ErrorCode() == 0) throw;
            Fail(refusal);
        }
        return;
    }
    have_ = 0;
    if (s.RecordLength == 0) {
        Fail(SSLAlertDecodeError, SSLAlertIndexToErrorCode(SSLAlertDecodeError));
        return;
    }
    part_ = RecordPart::Body;
    need_ = int32_t(s.RecordLength);
}

void TElSecureClient::ProcessSSL2Record(uint8_t* data, size_t length, size_t padding) {
    SSL2State& s = *ssl2_;
    if (fatal_ || closed_) Refuse(SSLAlertUnexpectedMessage, "Record after the session failed");
    const uint32_t number = s.ReceiveSequence++;
    const uint8_t* message = data;
    size_t messageLength = length;
    if (s.Read) {
        const size_t bs = size_t(s.BlockSize);
        if (length < 16 + padding || (bs > 0 && length % bs != 0) || (bs == 0 && padding != 0) || (bs > 0 && padding >= bs))
            Refuse(SSLAlertBadRecordMac, "Malformed SSL 2.0 record");
        size_t outSize = length;
        s.Read->DecryptUpdate(data, length, data, outSize);
        // MAC = MD5(read key + data + padding + record number), compared in constant time.
        uint8_t sequence[4];
        rtl::store_be32(sequence, number);
        TElHashFunction md5(SB_ALG_MD5);
        md5.Update(s.ClientReadKey.data(), s.ClientReadKey.size());
        md5.Update(data + 16, length - 16);
        md5.Update(sequence, 4);
        const ByteString mac = md5.Finish();
        if (!rtl::ct_equal(mac.data(), data, 16)) Refuse(SSLAlertBadRecordMac, "Bad SSL 2.0 record MAC");
        message = data + 16;
        messageLength = length - 16 - padding;
        if (s.State == 7) {
            if (messageLength > 0) DoData(message, messageLength);
            return;
        }
    }
    if (messageLength == 0) Refuse(SSLAlertDecodeError, "Empty SSL 2.0 message");
    const uint8_t type = message[0];
    MessageReader r(message + 1, messageLength - 1);
    switch (type) {
        case MsgError: {
            if (s.State >= 7) Refuse(SSLAlertUnexpectedMessage, "SSL 2.0 ERROR after the handshake");
            const uint16_t code = r.u16();
            uint8_t index = SSLAlertUnexpectedMessage;
            switch (code) {
                case 0: index = SSLAlertIllegalParameter; break;
                case 1: index = SSLAlertHandshakeFailure; break;
                case 2: index = SSLAlertNoCertificate; break;
                case 4: index = SSLAlertBadCertificate; break;
                case 6: index = SSLAlertUnsupportedCertificate; break;
                default: break;
            }
            // The server gave up: reported as its failure, and the session ends.
            fatal_ = true;
            need_ = 0;
            DoError(SSLAlertIndexToErrorCode(index), true, true);
            DoCloseConnection(crError);
            return;
        }
        case MsgServerHello:
            if (s.State != 1) break;
            ProcessSSL2ServerHello(r);
            return;
        case MsgServerVerify: {
            if (s.State != 3 && s.State != 5) break;
            const auto challenge = r.bytes(r.remaining());
            if (challenge.size() != s.Challenge.size() ||
                !rtl::ct_equal(challenge.data(), s.Challenge.data(), s.Challenge.size()))
                Refuse(SSLAlertHandshakeFailure, "SERVER-VERIFY does not return the challenge");
            s.Verified = true;
            if (s.State == 3) SendSSL2ClientFinished();
            return;
        }
        case MsgServerFinished: {
            if (s.State != 5 || !s.Verified) break;
            const auto id = r.bytes(r.remaining());
            s.SessionId.assign(id.begin(), id.end());
            s.State = 7;
            active_ = true;
            postProcessing_ = true;
            return;
        }
        case MsgRequestCertificate: {
            if (s.State != 5) break;
            const uint8_t authentication = r.u8();
            const auto challenge = r.bytes(r.remaining());
            if (authentication != 1) Refuse(SSLAlertUnsupportedCertificate, "Unknown SSL 2.0 authentication type");
            if (challenge.size() < 16 || challenge.size() > 32) Refuse(SSLAlertDecodeError, "Bad certificate challenge");
            s.RequestChallenge.assign(challenge.begin(), challenge.end());
            certificateRequested_ = true;
            SendSSL2ClientCertificate();
            return;
        }
        default: break;
    }
    Refuse(SSLAlertUnexpectedMessage, "SSL 2.0 message out of turn");
}

// ---------------------------------------------------------------------------------------------
// Handshake

void TElSecureClient::ProcessSSL2ServerHello(MessageReader& r) {
    SSL2State& s = *ssl2_;
    const uint8_t hit = r.u8();
    const uint8_t certificateType = r.u8();
    const uint16_t version = r.u16();
    const uint16_t certificateLength = r.u16(), specsLength = r.u16(), idLength = r.u16();
    const auto certificate = r.bytes(certificateLength);
    const auto specs = r.bytes(specsLength);
    const auto connectionId = r.bytes(idLength);
    r.end();
    if (version != 0x0002) Refuse(SSLAlertInsufficientSecurity, "Not an SSL 2.0 server");
    if (connectionId.size() < 16 || connectionId.size() > 32 || specs.size() % 3 != 0)
        Refuse(SSLAlertDecodeError, "Malformed SERVER-HELLO");
    s.Resuming = resumeRequested_ && hit != 0 && !s.SessionId.empty() && s.Suite >= 0;
    if (s.Resuming) {
        if (!certificate.empty() || !specs.empty()) Refuse(SSLAlertHandshakeFailure, "Resumed SERVER-HELLO with keys");
    } else {
        if (certificateType != 1) Refuse(SSLAlertUnsupportedCertificate, "Not an X.509 certificate");
        // The first of the server's specs that we offered.
        s.Suite = -1;
        for (size_t i = 0; i < specs.size() && s.Suite < 0; i += 3) {
            const std::array<uint8_t, 3> spec{specs[i], specs[i + 1], specs[i + 2]};
            if (std::find(s.Specs.begin(), s.Specs.end(), spec) != s.Specs.end())
                s.Suite = FindSSL2SuiteBySpec(spec.data());
        }
        if (s.Suite < 0) Refuse(SSLAlertHandshakeFailure, "No cipher spec in common");
        s.ServerCertificate.assign(certificate.begin(), certificate.end());
        ProcessSSL2ServerCertificate(certificate);
    }
    s.ConnectionId.assign(connectionId.begin(), connectionId.end());
    s.State = 2;
    if (s.Resuming) {
        DeriveSSL2Keys();
        SendSSL2ClientFinished();
    } else {
        SendSSL2ClientMasterKey();
    }
}

void TElSecureClient::SendSSL2ClientMasterKey() {
    SSL2State& s = *ssl2_;
    const TSSLCipherSuiteInfo& info = SSLCipherSuites[s.Suite];
    const size_t keyLength = size_t(SSL2MasterKeyLength(info.Cipher));
    s.MasterKey.resize(keyLength);
    for (auto& b : s.MasterKey) b = uint8_t(1 + GenerateRandomInteger(254));
    const size_t bs = SSLCipherIsStream(info.Cipher) ? 0 : 8;
    s.KeyArgument.resize(bs);
    if (bs > 0) GenerateRandomBytes(s.KeyArgument.data(), bs);
    // Export specs send all but 5 bytes of the master key in clear.
    const size_t clear = info.Export ? keyLength - 5 : 0;
    const ByteArray encrypted =
        EncryptWithServerKey(std::span<const uint8_t>(s.MasterKey).subspan(clear));
    DeriveSSL2Keys();
    const uint8_t* spec = info.SSL2Code;
    ByteArray body{MsgClientMasterKey, spec[0], spec[1], spec[2]};
    PutU16(body, clear);
    PutU16(body, encrypted.size());
    PutU16(body, s.KeyArgument.size());
    body.insert(body.end(), s.MasterKey.begin(), s.MasterKey.begin() + ptrdiff_t(clear));
    body.insert(body.end(), encrypted.begin(), encrypted.end());
    body.insert(body.end(), s.KeyArgument.begin(), s.KeyArgument.end());
    WriteSSL2Record(body.data(), body.size());
    s.State = 3;
    MakeSSL2Ciphers();
}

void TElSecureClient::DeriveSSL2Keys() {
    // KEY-MATERIAL-n = MD5(master key + "n" + challenge + connection id).
    SSL2State& s = *ssl2_;
    auto material = [&](char n) {
        TElHashFunction md5(SB_ALG_MD5);
        md5.Update(s.MasterKey.data(), s.MasterKey.size());
        md5.Update(&n, 1);
        md5.Update(s.Challenge.data(), s.Challenge.size());
        md5.Update(s.ConnectionId.data(), s.ConnectionId.size());
        ByteString d = md5.Finish();
        rtl::SecureBytes out(d.begin(), d.end());
        rtl::secure_wipe(d.data(), d.size());
        return out;
    };
    const SSLCipher cipher = SSLCipherSuites[s.Suite].Cipher;
    const rtl::SecureBytes k0 = material('0');
    if (cipher == SSLCipher::DES) {
        s.ClientReadKey.assign(k0.begin(), k0.begin() + 8);
        s.ClientWriteKey.assign(k0.begin() + 8, k0.end());
    } else if (cipher == SSLCipher::TripleDES) {
        const rtl::SecureBytes k1 = material('1'), k2 = material('2');
        s.ClientReadKey = k0;
        s.ClientReadKey.insert(s.ClientReadKey.end(), k1.begin(), k1.begin() + 8);
        s.ClientWriteKey.assign(k1.begin() + 8, k1.end());
        s.ClientWriteKey.insert(s.ClientWriteKey.end(), k2.begin(), k2.end());
    } else {
        s.ClientReadKey = k0;
        s.ClientWriteKey = material('1');
    }
    if (s.Resuming) MakeSSL2Ciphers();
}

void TElSecureClient::MakeSSL2Ciphers() {
    SSL2State& s = *ssl2_;
    const SSLCipher cipher = SSLCipherSuites[s.Suite].Cipher;
    TElCustomCryptoProvider* provider = SymmetricProvider();
    auto make = [&](const rtl::SecureBytes& key, std::unique_ptr<TElSymmetricKeyMaterial>& material,
                    bool encrypt) -> std::unique_ptr<TElSymmetricCrypto> {
        std::unique_ptr<TElSymmetricCrypto> crypto;
        switch (cipher) {
            case SSLCipher::RC4: crypto = TElRC4SymmetricCrypto::Create(0, provider); break;
            case SSLCipher::RC2: crypto = TElRC2SymmetricCrypto::Create(0, provider); break;
            case SSLCipher::IDEA: crypto = TElIDEASymmetricCrypto::Create(0, provider); break;
            case SSLCipher::DES: crypto = TElDESSymmetricCrypto::Create(0, provider); break;
            default: crypto = TEl3DESSymmetricCrypto::Create(0, provider); break;
        }
        material = std::make_unique<TElSymmetricKeyMaterial>(provider);
        material->SetKey(key);
        if (cipher != SSLCipher::RC4) {
            // The key argument is the CBC IV of both directions.
            const ByteArray iv = s.KeyArgument.empty() ? ByteArray(8, 0) : s.KeyArgument;
            material->SetIV(iv);
        }
        crypto->SetKeyMaterial(material.get());
        crypto->SetPadding(0);
        if (encrypt)
            crypto->InitializeEncryption();
        else
            crypto->InitializeDecryption();
        return crypto;
    };
    try {
        s.Write = make(s.ClientWriteKey, s.WriteKey, true);
        s.Read = make(s.ClientReadKey, s.ReadKey, false);
    } catch (const ECryptoLibraryError&) {
        Refuse(SSLAlertHandshakeFailure, "SSL 2.0 cipher not available");
    }
    s.BlockSize = cipher == SSLCipher::RC4 ? 0 : 8;
}

void TElSecureClient::SendSSL2ClientFinished() {
    SSL2State& s = *ssl2_;
    ByteArray body{MsgClientFinished};
    body.insert(body.end(), s.ConnectionId.begin(), s.ConnectionId.end());
    SendSSL2Protected(body.data(), body.size());
    s.State = 5;
}

void TElSecureClient::SendSSL2ClientCertificate() {
    SSL2State& s = *ssl2_;
    ChooseClientCertificate();
    if (clientChain_->GetCount() == 0) Refuse(SSLAlertNoCertificate, "No client certificate");
    const TElX509Certificate* certificate = clientChain_->GetCertificate(0);
    // The response signs MD5(client read key + client write key + challenge + server
    // certificate) with the certificate's key (PKCS#1 with the MD5 DigestInfo).
    TElHashFunction md5(SB_ALG_MD5);
    md5.Update(s.ClientReadKey.data(), s.ClientReadKey.size());
    md5.Update(s.ClientWriteKey.data(), s.ClientWriteKey.size());
    md5.Update(s.RequestChallenge.data(), s.RequestChallenge.size());
    md5.Update(s.ServerCertificate.data(), s.ServerCertificate.size());
    const ByteString digest = md5.Finish();
    const ByteArray response = SignWithClientKey(SB_ALG_MD5, std::span<const uint8_t>(
                                                                  reinterpret_cast<const uint8_t*>(digest.data()),
                                                                  digest.size()));
    ByteArray body{MsgClientCertificate, 1};
    PutU16(body, certificate->GetCertificateSize());
    PutU16(body, response.size());
    body.insert(body.end(), certificate->GetCertificateBinary(),
                certificate->GetCertificateBinary() + certificate->GetCertificateSize());
    body.insert(body.end(), response.begin(), response.end());
    SendSSL2Protected(body.data(), body.size());
}

// tls/SBClientSSL2.h: the SSL 2.0 state of TElSecureClient, shared by the engine's sources
// only.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "crypto/facade/SBSymmetricCrypto.h"
#include "rtl/SecureBytes.h"
#include "tls/SBClient.h"

struct TElSecureClient::SSL2State {
    SSL2State();
    ~SSL2State();

    std::vector<std::array<uint8_t, 3>> Specs;  // offered, in order
    int32_t Suite = -1;                         // chosen suite index
    std::array<uint8_t, 16> Challenge{};
    ByteArray ConnectionId;
    ByteArray SessionId;
    rtl::SecureBytes MasterKey;
    rtl::SecureBytes ClientReadKey, ClientWriteKey;
    ByteArray KeyArgument;
    ByteArray ServerCertificate;
    ByteArray RequestChallenge;
    uint32_t SendSequence = 0, ReceiveSequence = 0;
    size_t RecordLength = 0, RecordPadding = 0;
    uint8_t State = 0;
    bool Resuming = false;
    bool Verified = false;  // SERVER-VERIFY returned our challenge
    std::unique_ptr<TElSymmetricKeyMaterial> ReadKey, WriteKey;
    std::unique_ptr<TElSymmetricCrypto> Read, Write;
    int32_t BlockSize = 0;
};

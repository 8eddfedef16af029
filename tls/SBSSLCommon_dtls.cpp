// tls/SBSSLCommon_dtls.cpp: the datagram support of TElSSLClass: the queue of the last flight
// for retransmission, the received handshake fragments and their assembly (RFC 6347 4.2.3),
// and the replay windows (RFC 6347 4.1.2.6).
#include <algorithm>
#include <cstring>

#include "rtl/Bytes.h"
#include "tls/SBSSLCommon.h"
#include "tls/SBTimer.h"

// ---------------------------------------------------------------------------------------------
// Flight items

TElDTLSFlightItem::TElDTLSFlightItem(uint8_t contentKind, int32_t epoch, std::span<const uint8_t> body,
                                     std::span<const uint8_t> header)
    : ContentKind(contentKind), Epoch(epoch) {
    Data.reserve(header.size() + body.size());
    Data.insert(Data.end(), header.begin(), header.end());
    Data.insert(Data.end(), body.begin(), body.end());
}

std::unique_ptr<TElDTLSFlightItem> TElDTLSFlightItem::CreateFragment(uint8_t handshakeType,
                                                                     std::span<const uint8_t> data,
                                                                     uint32_t fragmentOffset, uint32_t messageSeq,
                                                                     uint32_t messageLength) {
    if (messageLength > MaxMessageLength)
        throw EElSSLError("DTLS handshake message too long", SSLAlertIllegalParameter,
                          SSLAlertIndexToErrorCode(SSLAlertIllegalParameter));
    if (fragmentOffset > messageLength || data.size() > messageLength - fragmentOffset)
        throw EElSSLError("DTLS fragment outside its message", SSLAlertDecodeError,
                          SSLAlertIndexToErrorCode(SSLAlertDecodeError));
    std::unique_ptr<TElDTLSFlightItem> item(new TElDTLSFlightItem());
    item->Data.assign(data.begin(), data.end());
    item->ContentKind = 2;
    item->MessageLength = messageLength;
    item->MessageSeq = messageSeq;
    item->FragmentOffset = fragmentOffset;
    item->FragmentLength = uint32_t(data.size());
    item->HandshakeType = handshakeType;
    return item;
}

std::unique_ptr<TElDTLSFlightItem> TElDTLSFlightItem::CreateEmpty() {
    return std::unique_ptr<TElDTLSFlightItem>(new TElDTLSFlightItem());
}

// ---------------------------------------------------------------------------------------------
// Received fragments

std::vector<const TElDTLSFlightItem*> TElSSLClass::FragmentsOf(int32_t type, bool handshakeOnly) const {
    std::vector<const TElDTLSFlightItem*> items;
    for (const auto& item : received_)
        if (item->HandshakeType == type && (!handshakeOnly || item->ContentKind == 2)) items.push_back(item.get());
    std::stable_sort(items.begin(), items.end(), [](const TElDTLSFlightItem* a, const TElDTLSFlightItem* b) {
        return a->FragmentOffset < b->FragmentOffset;
    });
    return items;
}

bool TElSSLClass::HasHandshakeMessage(int32_t type) const {
    for (const auto& item : received_)
        if (item->ContentKind == 2 && item->HandshakeType == type) return true;
    return false;
}

int32_t TElSSLClass::GetMessageSeqByType(int32_t type) const {
    for (const auto& item : received_)
        if (item->ContentKind == 2 && item->HandshakeType == type) return int32_t(item->MessageSeq);
    return -1;
}

int32_t TElSSLClass::GetTypeByMessageSeq(int32_t seq) const {
    for (const auto& item : received_)
        if (item->ContentKind == 2 && int64_t(item->MessageSeq) == seq) return item->HandshakeType;
    return -1;
}

bool TElSSLClass::IsMessageComplete(int32_t type) const {
    const auto items = FragmentsOf(type, true);
    if (items.empty()) return false;
    uint64_t covered = 0;
    for (const TElDTLSFlightItem* item : items) {
        if (item->FragmentOffset > covered) return false;  // a gap
        covered = std::max<uint64_t>(covered, uint64_t(item->FragmentOffset) + item->FragmentLength);
    }
    return covered == items.front()->MessageLength;
}

bool TElSSLClass::AreMessagesComplete(int32_t firstSeq, int32_t lastSeq, bool needChangeCipherSpec) const {
    bool complete = true;
    if (!Options.Contains(ssloOpenSSLDTLSWorkaround)) {
        for (int64_t seq = firstSeq; seq <= lastSeq && complete; ++seq) {
            const int32_t type = GetTypeByMessageSeq(int32_t(seq));
            complete = type >= 0 && IsMessageComplete(type);
        }
    } else {
        std::vector<bool> seen(size_t(std::max<int64_t>(0, int64_t(lastSeq) - firstSeq + 1)), false);
        bool markerHeld = false;
        for (const auto& item : received_) {
            if (item->ContentKind == 2 && int64_t(item->MessageSeq) >= firstSeq &&
                int64_t(item->MessageSeq) <= lastSeq) {
                seen[size_t(int64_t(item->MessageSeq) - firstSeq)] = true;
                if (!IsMessageComplete(item->HandshakeType)) complete = false;
            } else if (item->ContentKind == 0) {
                markerHeld = true;
            }
        }
        const auto missing = std::count(seen.begin(), seen.end(), false);
        complete = complete && (missing == 0 || (missing == 1 && markerHeld));
    }
    if (needChangeCipherSpec && complete)
        complete = std::any_of(received_.begin(), received_.end(),
                               [](const auto& item) { return item->ContentKind == 0; });
    return complete;
}

void TElSSLClass::AssembleHandshakeMessage(int32_t type, ByteArray& bytes) const {
    bytes.clear();
    const auto items = FragmentsOf(type, false);
    if (items.empty()) return;
    const TElDTLSFlightItem& first = *items.front();
    bytes.assign(size_t(first.MessageLength) + 12, 0);
    bytes[0] = uint8_t(first.HandshakeType);
    bytes[1] = uint8_t(first.MessageLength >> 16);
    bytes[2] = uint8_t(first.MessageLength >> 8);
    bytes[3] = uint8_t(first.MessageLength);
    rtl::store_be16(&bytes[4], uint16_t(first.MessageSeq));
    bytes[9] = bytes[1];
    bytes[10] = bytes[2];
    bytes[11] = bytes[3];
    for (const TElDTLSFlightItem* item : items) {
        // Only fragments of the first one's message; each lies inside it (CreateFragment).
        if (item->MessageLength != first.MessageLength || item->Data.size() != item->FragmentLength ||
            uint64_t(item->FragmentOffset) + item->FragmentLength > first.MessageLength)
            continue;
        if (!item->Data.empty()) std::memcpy(&bytes[12 + item->FragmentOffset], item->Data.data(), item->Data.size());
    }
}

void TElSSLClass::DiscardReceivedFlight() {
    for (const auto& item : received_) lastProcessedSeq_ = std::max<int32_t>(lastProcessedSeq_, int32_t(item->MessageSeq));
    received_.clear();
}

void TElSSLClass::ClearReceivedFragments() { received_.clear(); }

bool TElSSLClass::AddReceivedFragment(std::unique_ptr<TElDTLSFlightItem> item) {
    if (!item) return false;
    if (item->ContentKind == 2) {
        if (int64_t(item->MessageSeq) <= lastProcessedSeq_) return false;
        for (const auto& held : received_)
            if (held->ContentKind == 2 && held->MessageSeq == item->MessageSeq &&
                (held->MessageLength != item->MessageLength || held->HandshakeType != item->HandshakeType))
                return false;
    }
    received_.push_back(std::move(item));
    return true;
}

// ---------------------------------------------------------------------------------------------
// Retransmission

void TElSSLClass::AddToRetransmitQueue(std::unique_ptr<TElDTLSFlightItem> item) {
    if (item) queue_.push_back(std::move(item));
}

void TElSSLClass::RetransmitFlight() {
    for (const auto& item : queue_)
        SendRecord(item->ContentKind, item->Data.data(), int32_t(item->Data.size()), item->Epoch, item->Epoch != 0);
    RestartRetransmissionTimer();
}

void TElSSLClass::ClearRetransmitQueue() { queue_.clear(); }

void TElSSLClass::RestartRetransmissionTimer() {
    if (!RetransmissionActive || !timer_) return;
    if (timer_->IsRunning()) timer_->Stop();
    timer_->Start();
}

void TElSSLClass::StopRetransmission() {
    if (RetransmissionActive && timer_ && timer_->IsRunning()) timer_->Stop();
}

void TElSSLClass::HandleRetransmissionTimeout() {
    const ScopedLock lock(*this);
    if (IsDestroying()) return;
    if (timer_ && timer_->IsRunning() && !queue_.empty()) {
        StopRetransmission();
        RetransmitFlight();
    }
}

TElSSLRetransmissionTimer::TElSSLRetransmissionTimer() : timer_(std::make_unique<TElTimer>()) {
    timer_->OnTimer = [this](rtl::Component*) {
        if (OnTimeout) OnTimeout(this);
    };
}

TElSSLRetransmissionTimer::~TElSSLRetransmissionTimer() = default;

bool TElSSLRetransmissionTimer::IsRunning() const { return timer_->GetEnabled(); }

void TElSSLRetransmissionTimer::Start() {
    timer_->SetInterval(Interval);
    timer_->SetEnabled(true);
}

void TElSSLRetransmissionTimer::Stop() { timer_->SetEnabled(false); }

// ---------------------------------------------------------------------------------------------
// Replay windows

bool TElSSLClass::CheckReplayWindow(bool saved, int64_t seq) const {
    const TElDTLSReplayWindow& w = saved ? savedWindow_ : window_;
    if (seq < w.Base) return true;
    if (uint64_t(seq) - uint64_t(w.Base) >= 64) return false;
    return w.Seen[seq - w.Base] != 0;
}

void TElSSLClass::MarkReplayWindow(bool saved, int64_t seq) {
    TElDTLSReplayWindow& w = Window(saved);
    if (seq < w.Base) return;
    const uint64_t offset = uint64_t(seq) - uint64_t(w.Base);
    if (offset < 64) {
        w.Seen[offset] = 1;
        return;
    }
    const uint64_t shift = offset - 63;  // new base = seq - 63
    if (shift < 64) {
        std::memmove(w.Seen, w.Seen + shift, size_t(64 - shift));
        std::memset(w.Seen + (64 - shift), 0, size_t(shift));
    } else {
        std::memset(w.Seen, 0, sizeof w.Seen);
    }
    w.Base = seq - 63;
    w.Seen[63] = 1;
}

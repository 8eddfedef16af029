// net/IdComponent.cpp: the stack's lifetime under the component lock, status and work.
#include "net/IdComponent.h"

#include <mutex>

#include "net/IdStack.h"

namespace {

// The component lock and count: the one place that creates and frees the global stack.
std::mutex& ComponentLock() {
    static std::mutex lock;
    return lock;
}
int gComponentCount = 0;

}  // namespace

const char* IdStatusText(TIdStatus status) {
    switch (status) {
        case hsResolving:
            return "Resolving hostname %s.";
        case hsConnecting:
            return "Connecting to %s.";
        case hsConnected:
            return "Connected.";
        case hsDisconnecting:
            return "Disconnecting.";
        case hsDisconnected:
            return "Disconnected.";
        case hsStatusText:
        case ftpTransfer:
        case ftpReady:
        case ftpAborted:
            return "%s";
    }
    return "%s";
}

TIdComponent::TIdComponent(rtl::Component* owner) : TIdBaseComponent(owner) { Prepare(); }

void TIdComponent::Prepare() {
    std::lock_guard guard(ComponentLock());
    // A failure to make the stack leaves the count as it was, so the next component tries
    // afresh.
    if (gComponentCount == 0) TIdStack::CreateStackInstance();
    ++gComponentCount;
}

TIdComponent::~TIdComponent() {
    std::lock_guard guard(ComponentLock());
    if (--gComponentCount == 0) TIdStack::FreeStackInstance();
}

int TIdComponent::ComponentCount() {
    std::lock_guard guard(ComponentLock());
    return gComponentCount;
}

void TIdComponent::SetWorkRelay(TIdComponent* target) {
    if (target == workRelay_) return;
    TIdComponent* old = workRelay_;
    workRelay_ = target == this ? nullptr : target;
    ReleaseLink(old);
    if (workRelay_ != nullptr) FreeNotification(workRelay_);
}

bool TIdComponent::HoldsLinkTo(const rtl::Component* other) const {
    return (other != nullptr && other == workRelay_) || TIdBaseComponent::HoldsLinkTo(other);
}

void TIdComponent::Notification(rtl::Component* component, TOperation operation) {
    if (operation == opRemove && component == workRelay_) workRelay_ = nullptr;
    TIdBaseComponent::Notification(component, operation);
}

void TIdComponent::WorkBegin(TWorkMode mode, int64_t countMax) {
    if (workRelay_ != nullptr) return workRelay_->WorkBegin(mode, countMax);
    WorkInfo& w = workInfos_[mode];
    if (++w.Depth == 1) {
        w.Expected = countMax;
        w.Done = 0;
        if (OnWorkBegin) OnWorkBegin(this, mode, countMax);
    }
}

void TIdComponent::WorkProgress(TWorkMode mode, int64_t count) {
    if (workRelay_ != nullptr) return workRelay_->WorkProgress(mode, count);
    WorkInfo& w = workInfos_[mode];
    if (w.Depth > 0) {
        w.Done += count;
        if (OnWork) OnWork(this, mode, w.Done);
    }
}

void TIdComponent::WorkEnd(TWorkMode mode) {
    if (workRelay_ != nullptr) return workRelay_->WorkEnd(mode);
    WorkInfo& w = workInfos_[mode];
    if (w.Depth == 1 && OnWorkEnd) OnWorkEnd(this, mode);
    // An end without a begin must not leave a negative depth that would silence the next
    // begin's events.
    if (w.Depth > 0) --w.Depth;
}

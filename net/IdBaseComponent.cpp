// net/IdBaseComponent.cpp: free notices kept on both sides.
#include "net/IdBaseComponent.h"

#include <algorithm>

namespace {
void Erase(std::vector<TIdInitializerComponent*>& v, TIdInitializerComponent* c) {
    v.erase(std::remove(v.begin(), v.end(), c), v.end());
}
}  // namespace

TIdInitializerComponent::~TIdInitializerComponent() {
    MarkDestroying();
    for (TIdInitializerComponent* w : watched_) Erase(w->toNotify_, this);
    watched_.clear();
    // Each notice may make its receiver drop other links of ours, so take them one by one.
    while (!toNotify_.empty()) {
        TIdInitializerComponent* other = toNotify_.back();
        toNotify_.pop_back();
        Erase(other->watched_, this);
        other->Notification(this, opRemove);
    }
}

void TIdInitializerComponent::FreeNotification(TIdInitializerComponent* other) {
    if (other == nullptr || other == this) return;
    if (std::find(other->toNotify_.begin(), other->toNotify_.end(), this) != other->toNotify_.end()) return;
    other->toNotify_.push_back(this);
    watched_.push_back(other);
}

void TIdInitializerComponent::RemoveFreeNotification(TIdInitializerComponent* other) {
    if (other == nullptr) return;
    Erase(other->toNotify_, this);
    Erase(watched_, other);
}

void TIdInitializerComponent::Notification(TIdInitializerComponent*, TOperation) {}

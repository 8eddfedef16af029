// net/IdBaseComponent.cpp: releasing a free-notification link that may serve both sides.
#include "net/IdBaseComponent.h"

bool TIdBaseComponent::HoldsLinkTo(const rtl::Component*) const { return false; }

void TIdBaseComponent::ReleaseLink(TIdBaseComponent* other) {
    if (other == nullptr || HoldsLinkTo(other) || other->HoldsLinkTo(this)) return;
    RemoveFreeNotification(other);
}

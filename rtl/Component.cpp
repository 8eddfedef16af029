// rtl/Component.cpp: the owner's list of components and the free-notification links.
#include "rtl/Component.h"

#include <algorithm>

#include "rtl/ClassRegistry.h"

namespace rtl {

Component::Component(Component* owner) : owner_(owner) {
    if (owner_ != nullptr) owner_->components_.push_back(this);
}

Component::~Component() {
    destroying_ = true;
    // Each linked component forgets this one before it is told, so whatever its Notification
    // does, it never reaches back into a component that is going.
    const std::vector<Component*> linked = std::move(freeNotifies_);
    freeNotifies_.clear();
    for (Component* c : linked) {
        auto& list = c->freeNotifies_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    for (Component* c : linked)
        c->Notification(this, Operation::Remove);
    for (Component* c : components_)
        c->owner_ = nullptr;
    if (owner_ != nullptr) {
        auto& list = owner_->components_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
}

const ComponentClass& Component::ClassType() const {
    return ComponentClassInfo();
}

void Component::FreeNotification(Component* other) {
    if (other == nullptr || other == this) return;
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) != freeNotifies_.end()) return;
    freeNotifies_.push_back(other);
    other->freeNotifies_.push_back(this);
}

void Component::RemoveFreeNotification(Component* other) {
    if (other == nullptr) return;
    freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), other), freeNotifies_.end());
    auto& list = other->freeNotifies_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void Component::Notification(Component*, Operation) {}

}  // namespace rtl

// rtl/Component.cpp: the owner's list of components.
#include "rtl/Component.h"

#include <algorithm>

#include "rtl/ClassRegistry.h"

namespace rtl {

Component::Component(Component* owner) : owner_(owner) {
    if (owner_ != nullptr) owner_->components_.push_back(this);
}

Component::~Component() {
    destroying_ = true;
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

}  // namespace rtl

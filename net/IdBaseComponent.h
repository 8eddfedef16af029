// net/IdBaseComponent.h: the root of the library's components.
//
// A component's defaults are set by its constructor, parent's first, so a derived class
// sets its own in one place (the constructor chain is the set-up step). A component may sit
// on an owner (rtl::Component's owner list); memory is not owned through that link: whoever
// creates a component holds it, usually in a std::unique_ptr (TIdBaseComponent::Create).
//
// Free notices are rtl::Component's: a component that keeps a pointer to another (an IO
// handler's intercept, a connection's IO handler, a chained proxy) links itself to that one
// with FreeNotification; its Notification (component, opRemove) then forgets the pointer.
// The link tells both sides and is undone by whichever goes first, so no notice ever reaches
// a freed object; an override compares the address it is given with the pointers it keeps
// and passes the notice on to its parent. Two components have at most one link, which may
// serve pointers on both sides (a connection's IO handler, the handler's work relay back to
// the connection): a component letting go of a pointer calls ReleaseLink, which keeps the
// link while either side still holds a pointer through it (HoldsLinkTo). A component and its
// notices are used by one thread at a time.
#pragma once

#include <memory>

#include "rtl/Component.h"

// The library's names for the notice's operations.
using TOperation = rtl::Component::Operation;
inline constexpr TOperation opInsert = TOperation::Insert;
inline constexpr TOperation opRemove = TOperation::Remove;

class TIdInitializerComponent : public rtl::Component {
public:
    explicit TIdInitializerComponent(rtl::Component* owner = nullptr) : rtl::Component(owner) {}
};

class TIdBaseComponent : public TIdInitializerComponent {
public:
    explicit TIdBaseComponent(rtl::Component* owner = nullptr) : TIdInitializerComponent(owner) {}

    // Makes a component of class T on an owner (or none).
    template <class T, class... Args>
    static std::unique_ptr<T> Create(rtl::Component* owner = nullptr, Args&&... args) {
        return std::make_unique<T>(owner, std::forward<Args>(args)...);
    }

protected:
    // True while this component keeps a pointer to other that a free notice must clear; an
    // override answers for its own pointers, then asks its parent.
    virtual bool HoldsLinkTo(const rtl::Component* other) const;
    // Drops the free-notification link to other (a pointer this component no longer keeps)
    // unless either side still holds a pointer through it.
    void ReleaseLink(TIdBaseComponent* other);
    // Points field at value, watched by a free notice; the link to the old one is released.
    template <class T>
    void SetLinked(T*& field, T* value) {
        if (value == field) return;
        T* old = field;
        field = value;
        ReleaseLink(old);
        if (value != nullptr) FreeNotification(value);
    }
};

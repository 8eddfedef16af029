// net/IdBaseComponent.h: the root of the library's components, and free notices.
//
// A component's defaults are set by its constructor, parent's first, so a derived class
// sets its own in one place (the constructor chain is the set-up step). A component may sit
// on an owner (rtl::Component's owner list); memory is not owned through that link: whoever
// creates a component holds it, usually in a std::unique_ptr (TIdBaseComponent::Create).
//
// Free notices: a component that keeps a pointer to another (an IO handler's intercept, a
// connection's IO handler, a chained proxy) asks that one with FreeNotification to be told
// when it goes; its Notification (component, opRemove) then forgets the pointer. The links
// are kept on both sides and undone by whichever object goes first, so no notice ever
// reaches a freed object. A component and its notices are used by one thread at a time.
#pragma once

#include <memory>
#include <vector>

#include "rtl/Component.h"

enum TOperation { opInsert, opRemove };

class TIdInitializerComponent : public rtl::Component {
public:
    explicit TIdInitializerComponent(rtl::Component* owner = nullptr) : rtl::Component(owner) {}
    ~TIdInitializerComponent() override;

    // Asks that this component be told (Notification) when other is freed.
    void FreeNotification(TIdInitializerComponent* other);
    void RemoveFreeNotification(TIdInitializerComponent* other);

protected:
    // rtl::Component's own notice stays visible beside this one (clang's -Woverloaded-virtual).
    using rtl::Component::Notification;
    virtual void Notification(TIdInitializerComponent* component, TOperation operation);

private:
    // Components to tell when this one goes, and those whose lists hold this one.
    std::vector<TIdInitializerComponent*> toNotify_;
    std::vector<TIdInitializerComponent*> watched_;
};

class TIdBaseComponent : public TIdInitializerComponent {
public:
    explicit TIdBaseComponent(rtl::Component* owner = nullptr) : TIdInitializerComponent(owner) {}

    // Makes a component of class T on an owner (or none).
    template <class T, class... Args>
    static std::unique_ptr<T> Create(rtl::Component* owner = nullptr, Args&&... args) {
        return std::make_unique<T>(owner, std::forward<Args>(args)...);
    }
};

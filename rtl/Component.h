// rtl/Component.h: named components grouped under an owner, the class base of the SQL
// library's sessions, databases and datasets.
//
// A component has a name and may sit on an owner (the form or data module of the original):
// the owner keeps the list of its components so that a component can find its siblings
// (a session names the databases and datasets of its owner). Memory is not owned through
// this link: whoever creates a component holds it (a std::unique_ptr); a component leaves
// its owner's list when it is destroyed, and an owner that goes first detaches its
// components (their Owner() becomes nullptr).
//
// Every component also has a Tag (a number for the application's own use) and a class
// (ClassType, rtl/ClassRegistry.h) that names it and lists the properties the text form of a
// component (rtl/FormText.h) writes and reads; a subclass that is streamed overrides it.
//
// The state flags stand for the original's component states: Loading while a component's
// properties are being read (Loaded() ends it), Designing in a designer (never set by the
// system itself), Destroying while its destructor runs.
//
// Free notification links two components that hold references to each other without owning
// them (a provider manager and the providers it is given): after a.FreeNotification(&b) each
// of the two is told, through Notification with Operation::Remove, when the other is
// destroyed, and the link goes with it. The component told is alive; the one going is in its
// destructor, so Notification may compare its address and must not call it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rtl {

class ComponentClass;

class Component {
public:
    explicit Component(Component* owner = nullptr);
    virtual ~Component();
    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;

    const std::string& Name() const { return name_; }
    virtual void SetName(const std::string& name) { name_ = name; }
    int32_t Tag() const { return tag_; }
    void SetTag(int32_t tag) { tag_ = tag; }
    // The component's class; the base answers the plain component class ("TComponent").
    virtual const ComponentClass& ClassType() const;
    Component* Owner() const { return owner_; }
    // The owner's components, in creation order.
    const std::vector<Component*>& Components() const { return components_; }

    enum class Operation { Insert, Remove };
    // Links this component and other for free notification; linking twice links once. A null
    // other or the component itself is ignored.
    void FreeNotification(Component* other);
    // Undoes the link (both directions); no link, nothing happens.
    void RemoveFreeNotification(Component* other);

    bool IsLoading() const { return loading_; }
    bool IsDesigning() const { return designing_; }
    bool IsDestroying() const { return destroying_; }
    void SetDesigning(bool on) { designing_ = on; }
    // Loading starts with BeginLoading and ends with Loaded, which subclasses extend.
    void BeginLoading() { loading_ = true; }
    virtual void Loaded() { loading_ = false; }

protected:
    // Subclasses mark their destruction at the start of their destructors, so that code
    // they call on the way knows the object is going.
    void MarkDestroying() { destroying_ = true; }
    // Told when a component linked by FreeNotification is destroyed (Operation::Remove). The
    // base does nothing.
    virtual void Notification(Component* component, Operation operation);

private:
    std::string name_;
    int32_t tag_ = 0;
    Component* owner_ = nullptr;
    std::vector<Component*> components_;
    std::vector<Component*> freeNotifies_;
    bool loading_ = false;
    bool designing_ = false;
    bool destroying_ = false;
};

}  // namespace rtl

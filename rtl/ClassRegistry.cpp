// rtl/ClassRegistry.cpp: component classes and the process-wide registry of class names.
#include "rtl/ClassRegistry.h"

#include <algorithm>
#include <mutex>

#include "rtl/Format.h"
#include "rtl/Text.h"

namespace rtl {

bool PropertyInfo::IsStored(const Component& c) const {
    if (!stored) return false;
    switch (kind) {
        case PropertyKind::Integer:
        case PropertyKind::Enumeration:
        case PropertyKind::Set:
            return !defaultValue || getInteger(c) != *defaultValue;
        case PropertyKind::Float:
            // A NaN is never equal: it is stored, and the writer refuses it.
            return getFloat(c) != floatDefault;
        case PropertyKind::String:
            return !getString(c).empty();
        case PropertyKind::Component:
            return getComponent(c) != nullptr;
    }
    return false;
}

ComponentClass::ComponentClass(std::string name, const ComponentClass* parent, Factory factory,
                               std::vector<PropertyInfo> properties, std::vector<BinaryPropertyInfo> binaryProperties)
    : name_(std::move(name)),
      parent_(parent),
      factory_(std::move(factory)),
      properties_(std::move(properties)),
      binaryProperties_(std::move(binaryProperties)) {}

bool ComponentClass::InheritsFrom(const ComponentClass& other) const {
    for (const ComponentClass* c = this; c != nullptr; c = c->parent_)
        if (c == &other) return true;
    return false;
}

std::unique_ptr<Component> ComponentClass::Create() const {
    if (!factory_) throw EFilerError(Format("Class %s cannot be created", name_));
    return factory_();
}

std::vector<const PropertyInfo*> ComponentClass::Properties() const {
    std::vector<const PropertyInfo*> out = parent_ ? parent_->Properties() : std::vector<const PropertyInfo*>{};
    for (const PropertyInfo& p : properties_) {
        auto same = std::find_if(out.begin(), out.end(),
                                 [&](const PropertyInfo* q) { return SameText(q->name, p.name); });
        if (same != out.end())
            *same = &p;  // declared again: the ancestor's place, the new default
        else
            out.push_back(&p);
    }
    return out;
}

std::vector<const BinaryPropertyInfo*> ComponentClass::BinaryProperties() const {
    std::vector<const BinaryPropertyInfo*> out =
        parent_ ? parent_->BinaryProperties() : std::vector<const BinaryPropertyInfo*>{};
    for (const BinaryPropertyInfo& p : binaryProperties_)
        out.push_back(&p);
    return out;
}

const PropertyInfo* ComponentClass::FindProperty(std::string_view name) const {
    for (const ComponentClass* c = this; c != nullptr; c = c->parent_)
        for (const PropertyInfo& p : c->properties_)
            if (SameText(p.name, name)) return &p;
    return nullptr;
}

const BinaryPropertyInfo* ComponentClass::FindBinaryProperty(std::string_view name) const {
    for (const ComponentClass* c = this; c != nullptr; c = c->parent_)
        for (const BinaryPropertyInfo& p : c->binaryProperties_)
            if (SameText(p.name, name)) return &p;
    return nullptr;
}

const ComponentClass& ComponentClassInfo() {
    static const ComponentClass info(
        "TComponent", nullptr, [] { return std::make_unique<Component>(); },
        [] {
            PropertyInfo name;
            name.name = "Name";
            name.kind = PropertyKind::String;
            name.stored = false;
            name.getString = [](const Component& c) { return c.Name(); };
            name.setString = [](Component& c, const std::string& v) { c.SetName(v); };
            return std::vector<PropertyInfo>{name, IntegerProperty<Component>("Tag", &Component::Tag,
                                                                               &Component::SetTag, 0)};
        }());
    return info;
}

namespace {

struct Registry {
    std::mutex mutex;
    std::vector<const ComponentClass*> classes;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

const ComponentClass* FindLocked(Registry& r, std::string_view name) {
    for (const ComponentClass* c : r.classes)
        if (SameText(c->Name(), name)) return c;
    return nullptr;
}

}  // namespace

void RegisterClass(const ComponentClass& cls) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    if (const ComponentClass* found = FindLocked(r, cls.Name())) {
        if (found == &cls) return;
        throw EFilerError(Format("A class named %s already exists", cls.Name()));
    }
    r.classes.push_back(&cls);
}

void UnRegisterClass(const ComponentClass& cls) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    std::erase(r.classes, &cls);
}

const ComponentClass* FindClass(std::string_view name) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    return FindLocked(r, name);
}

const ComponentClass& GetClass(std::string_view name) {
    const ComponentClass* c = FindClass(name);
    if (c == nullptr) throw EClassNotFound(Format("Class %s not found", name));
    return *c;
}

}  // namespace rtl

// rtl/ClassRegistry.h: component classes, their property tables, and the registry that finds
// a class by name.
//
// The text form of a component (rtl/FormText.h) names the component's class and lists its
// stored properties. To write it, a component's class (Component::ClassType) tells which
// properties it publishes, in declaration order, with their accessors and the rule that
// decides whether a value is stored; to read it back, the class named in the text is looked
// up in the registry, which creates a new, ownerless component of that class. A class lists
// only its own properties and names its parent class; the properties of a class are its
// ancestors' first, then its own, as the class library publishes them.
//
// Property kinds: 32-bit integers (stored unless equal to the declared default; an integer
// without a default is always stored), enumerations and Booleans (a value named by an
// identifier, "False" and "True" for a Boolean; stored by the integers' rule on the ordinal),
// sets of an enumeration's values (EnumSet, at most 32 identifiers; stored unless equal to
// the declared default, so a set without a default is always stored), floats (doubles,
// stored unless equal to their default, 0 when none is given), texts (stored when not
// empty), component references (stored when set, written as the referenced component's
// name). Besides the published ones a class may define binary properties of its own (a block
// of bytes, written in hexadecimal), each with its own "stored" test. A class may declare
// again a property an ancestor publishes, to give it another default; the new declaration
// takes the ancestor's place in the list.
//
// Registration is process-wide and thread-safe; a class must outlive the registry's use of it
// (classes are static objects of the unit that defines them). Names compare without regard
// to case.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Component.h"
#include "rtl/EnumSet.h"
#include "rtl/Exception.h"

namespace rtl {

// The filing system's failures: a class that is not registered, a text that does not fit
// the class it names (EReadError, rtl/Exception.h), a wrong class asked for.
RTL_EXCEPTION(EFilerError, Exception);
RTL_EXCEPTION(EClassNotFound, EFilerError);
RTL_EXCEPTION(EInvalidCast, Exception);

enum class PropertyKind { Integer, String, Component, Enumeration, Set, Float };

struct PropertyInfo {
    std::string name;
    PropertyKind kind = PropertyKind::Integer;
    // Integers, enumerations and sets: the declared default (a value equal to it is not
    // stored).
    std::optional<int32_t> defaultValue;
    // Floats: the default (a value equal to it is not stored).
    double floatDefault = 0;
    // Enumerations and sets: the identifier of each value, by ordinal. An enumeration's value
    // goes through getInteger and setInteger as its ordinal, a set's as its mask (EnumSet).
    std::vector<std::string> identifiers;
    // False for a property that the text never carries as a property line (Name: the header
    // line carries it).
    bool stored = true;
    std::function<int32_t(const Component&)> getInteger;
    std::function<void(Component&, int32_t)> setInteger;
    std::function<double(const Component&)> getFloat;
    std::function<void(Component&, double)> setFloat;
    std::function<std::string(const Component&)> getString;
    std::function<void(Component&, const std::string&)> setString;
    std::function<Component*(const Component&)> getComponent;
    std::function<void(Component&, Component*)> setComponent;

    // Whether the value of this property on c goes into the text.
    bool IsStored(const Component& c) const;
};

struct BinaryPropertyInfo {
    std::string name;
    std::function<bool(const Component&)> hasData;
    std::function<std::string(const Component&)> write;
    std::function<void(Component&, std::string_view)> read;
};

class ComponentClass {
public:
    using Factory = std::function<std::unique_ptr<Component>()>;

    // parent is nullptr only for the plain component class. A class without factory cannot be
    // created from text.
    ComponentClass(std::string name, const ComponentClass* parent, Factory factory,
                   std::vector<PropertyInfo> properties, std::vector<BinaryPropertyInfo> binaryProperties = {});
    ComponentClass(const ComponentClass&) = delete;
    ComponentClass& operator=(const ComponentClass&) = delete;

    const std::string& Name() const { return name_; }
    const ComponentClass* Parent() const { return parent_; }
    bool InheritsFrom(const ComponentClass& other) const;
    // A new ownerless component of this class; EFilerError when the class has no factory.
    std::unique_ptr<Component> Create() const;

    // The published properties, the ancestors' first, each class's in declaration order.
    std::vector<const PropertyInfo*> Properties() const;
    std::vector<const BinaryPropertyInfo*> BinaryProperties() const;
    const PropertyInfo* FindProperty(std::string_view name) const;
    const BinaryPropertyInfo* FindBinaryProperty(std::string_view name) const;

private:
    std::string name_;
    const ComponentClass* parent_;
    Factory factory_;
    std::vector<PropertyInfo> properties_;
    std::vector<BinaryPropertyInfo> binaryProperties_;
};

// The plain component class "TComponent": Name (carried by the header, not stored) and Tag
// (default 0).
const ComponentClass& ComponentClassInfo();

// Registers a class under its name; registering the same class again changes nothing, another
// class of a name already taken raises EFilerError "A class named %s already exists".
void RegisterClass(const ComponentClass& cls);
void UnRegisterClass(const ComponentClass& cls);
// nullptr when no class of that name is registered.
const ComponentClass* FindClass(std::string_view name);
// EClassNotFound "Class %s not found" when none is registered.
const ComponentClass& GetClass(std::string_view name);

// Property descriptors over a class's accessors. The accessors are called on components of
// class C only (the reader and writer look properties up in the component's own class).
template <class C>
PropertyInfo IntegerProperty(std::string name, int32_t (C::*get)() const, void (C::*set)(int32_t),
                             std::optional<int32_t> defaultValue = std::nullopt) {
    PropertyInfo p;
    p.name = std::move(name);
    p.kind = PropertyKind::Integer;
    p.defaultValue = defaultValue;
    p.getInteger = [get](const Component& c) { return (dynamic_cast<const C&>(c).*get)(); };
    p.setInteger = [set](Component& c, int32_t v) { (dynamic_cast<C&>(c).*set)(v); };
    return p;
}

// An enumeration whose values are named, in ordinal order, by the identifiers.
template <class C, class E>
PropertyInfo EnumerationProperty(std::string name, std::vector<std::string> identifiers, E (C::*get)() const,
                                 void (C::*set)(E), std::optional<E> defaultValue = std::nullopt) {
    PropertyInfo p;
    p.name = std::move(name);
    p.kind = PropertyKind::Enumeration;
    p.identifiers = std::move(identifiers);
    if (defaultValue) p.defaultValue = int32_t(*defaultValue);
    p.getInteger = [get](const Component& c) { return int32_t((dynamic_cast<const C&>(c).*get)()); };
    p.setInteger = [set](Component& c, int32_t v) { (dynamic_cast<C&>(c).*set)(E(v)); };
    return p;
}

template <class C>
PropertyInfo BooleanProperty(std::string name, bool (C::*get)() const, void (C::*set)(bool),
                             bool defaultValue) {
    return EnumerationProperty<C, bool>(std::move(name), {"False", "True"}, get, set, defaultValue);
}

// A set of the enumeration E, whose values are named, in ordinal order, by the identifiers.
template <class C, class E>
PropertyInfo SetProperty(std::string name, std::vector<std::string> identifiers, EnumSet<E> (C::*get)() const,
                         void (C::*set)(EnumSet<E>), std::optional<EnumSet<E>> defaultValue = std::nullopt) {
    if (identifiers.size() > 32) throw EFilerError("A set property has at most 32 values");
    PropertyInfo p;
    p.name = std::move(name);
    p.kind = PropertyKind::Set;
    p.identifiers = std::move(identifiers);
    if (defaultValue) p.defaultValue = int32_t(defaultValue->Mask());
    p.getInteger = [get](const Component& c) { return int32_t((dynamic_cast<const C&>(c).*get)().Mask()); };
    p.setInteger = [set](Component& c, int32_t v) {
        (dynamic_cast<C&>(c).*set)(EnumSet<E>::FromMask(uint32_t(v)));
    };
    return p;
}

template <class C>
PropertyInfo FloatProperty(std::string name, double (C::*get)() const, void (C::*set)(double),
                           double defaultValue = 0) {
    PropertyInfo p;
    p.name = std::move(name);
    p.kind = PropertyKind::Float;
    p.floatDefault = defaultValue;
    p.getFloat = [get](const Component& c) { return (dynamic_cast<const C&>(c).*get)(); };
    p.setFloat = [set](Component& c, double v) { (dynamic_cast<C&>(c).*set)(v); };
    return p;
}

template <class C>
PropertyInfo StringProperty(std::string name, const std::string& (C::*get)() const,
                            void (C::*set)(const std::string&)) {
    PropertyInfo p;
    p.name = std::move(name);
    p.kind = PropertyKind::String;
    p.getString = [get](const Component& c) { return (dynamic_cast<const C&>(c).*get)(); };
    p.setString = [set](Component& c, const std::string& v) { (dynamic_cast<C&>(c).*set)(v); };
    return p;
}

template <class C, class R>
PropertyInfo ComponentProperty(std::string name, R* (C::*get)() const, void (C::*set)(R*)) {
    PropertyInfo p;
    p.name = std::move(name);
    p.kind = PropertyKind::Component;
    p.getComponent = [get](const Component& c) -> Component* { return (dynamic_cast<const C&>(c).*get)(); };
    p.setComponent = [set](Component& c, Component* v) {
        R* typed = v == nullptr ? nullptr : dynamic_cast<R*>(v);
        if (v != nullptr && typed == nullptr) throw EInvalidCast("Invalid class typecast");
        (dynamic_cast<C&>(c).*set)(typed);
    };
    return p;
}

}  // namespace rtl

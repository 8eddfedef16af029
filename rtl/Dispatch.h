// rtl/Dispatch.h: objects reached by late-bound calls, and the call by name.
//
// The launcher calls the application server's methods by name: it asks the object for the
// identifier of a name, then invokes that identifier with arguments and perhaps a result.
// DispatchObject is that contract (the one the platform's automation objects keep): a proxy
// for a remote object implements it over the data-block wire, a local object that the
// server may call back implements it directly. A Variant of type Dispatch holds one.
//
// Arguments travel in the dispatch order, last argument first. An argument is a value, or a
// reference to the caller's variable, of two kinds: a typed reference (the callee sees a
// reference to a value of the variable's type and may hand back a new value of that type) or
// a variant reference (the callee may hand back a value of any type). DispatchInvoke, the
// call by name, takes the arguments in call order and writes the values handed back into the
// caller's variables.
//
// Statuses are the platform's 32-bit result codes: 0 is success, 0x80020009 an exception in
// the callee, whose code and description come in an ExcepInfo.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Exception.h"
#include "rtl/Variant.h"

namespace rtl {

using HResult = int32_t;

inline constexpr HResult S_OK = 0;
inline constexpr HResult E_NOTIMPL = int32_t(0x80004001u);
inline constexpr HResult E_FAIL = int32_t(0x80004005u);
inline constexpr HResult DISP_E_MEMBERNOTFOUND = int32_t(0x80020003u);
inline constexpr HResult DISP_E_TYPEMISMATCH = int32_t(0x80020005u);
inline constexpr HResult DISP_E_UNKNOWNNAME = int32_t(0x80020006u);
inline constexpr HResult DISP_E_NONAMEDARGS = int32_t(0x80020007u);
inline constexpr HResult DISP_E_EXCEPTION = int32_t(0x80020009u);
inline constexpr HResult DISP_E_BADPARAMCOUNT = int32_t(0x8002000Eu);

// Invoke flags.
inline constexpr uint16_t DISPATCH_METHOD = 1;
inline constexpr uint16_t DISPATCH_PROPERTYGET = 2;
inline constexpr uint16_t DISPATCH_PROPERTYPUT = 4;

// How an argument is passed.
enum class DispArgKind : uint8_t {
    Value,       // a value; nothing comes back
    Ref,         // a reference typed as the variable's value; a new value is converted to it
    VariantRef,  // a reference to a variant; a new value of any type replaces it
};

class DispArg {
public:
    static DispArg ByValue(Variant v) { return DispArg(DispArgKind::Value, std::move(v), nullptr); }
    static DispArg ByRef(Variant& var) { return DispArg(DispArgKind::Ref, Variant(), &var); }
    static DispArg ByRefVariant(Variant& var) { return DispArg(DispArgKind::VariantRef, Variant(), &var); }

    DispArgKind Kind() const { return kind_; }
    bool IsByRef() const { return kind_ != DispArgKind::Value; }
    // The argument's current value (the referenced variable's content for a reference).
    const Variant& Value() const { return ref_ ? *ref_ : value_; }
    // Hands a new value back: a typed reference converts it to its variable's type (a text
    // variable gets the text, a number the number, Empty accepts anything), a variant
    // reference takes it as it is. A value argument ignores it.
    void SetByRefValue(const Variant& v);

private:
    DispArg(DispArgKind kind, Variant value, Variant* ref) : kind_(kind), value_(std::move(value)), ref_(ref) {}

    DispArgKind kind_;
    Variant value_;
    Variant* ref_;
};

// The description of an exception raised by the callee (status 0x80020009).
struct ExcepInfo {
    int32_t code = 0;
    std::string source;
    std::string description;
};

class DispatchObject {
public:
    virtual ~DispatchObject() = default;
    // One identifier per name; a status other than S_OK when a name is unknown.
    virtual HResult GetIDsOfNames(const std::vector<std::string>& names, std::vector<int32_t>& ids) = 0;
    // args in dispatch order (last argument first); result is nullptr when none is wanted.
    virtual HResult Invoke(int32_t dispId, uint16_t flags, std::vector<DispArg>& args, Variant* result,
                           ExcepInfo& excepInfo) = 0;
};

// The failures of late-bound calls.
RTL_EXCEPTION(EOleError, Exception);

class EOleSysError : public EOleError {
public:
    // An empty message becomes "OLE error %.8X" with the code.
    EOleSysError(std::string message, HResult errorCode);
    HResult ErrorCode() const { return errorCode_; }
    const char* ClassName() const noexcept override { return "EOleSysError"; }

private:
    HResult errorCode_;
};

class EOleException : public EOleSysError {
public:
    EOleException(std::string message, HResult errorCode, std::string source)
        : EOleSysError(std::move(message), errorCode), source_(std::move(source)) {}
    const std::string& Source() const { return source_; }
    const char* ClassName() const noexcept override { return "EOleException"; }

private:
    std::string source_;
};

// Calls the method or property `name` of the object in `object` (a Dispatch variant) with
// args in call order; answers the result (Empty when none is wanted). The flags are
// DISPATCH_METHOD, or DISPATCH_METHOD | DISPATCH_PROPERTYGET for a call without arguments
// that wants a result. A name the object does not know raises EOleError "Method '%s' not
// supported by automation object"; status 0x80020009 raises EOleException with the callee's
// description; any other failing status raises EOleSysError "OLE error %.8X". A value that is
// no object, or an unassigned one, raises EVariantTypeCastError / EOleError.
Variant DispatchInvoke(const Variant& object, std::string_view name, std::vector<DispArg> args, bool wantResult);

// Raises the failure a call's status and exception description stand for (nothing for S_OK).
void DispatchCheck(HResult status, const ExcepInfo& excepInfo);

}  // namespace rtl

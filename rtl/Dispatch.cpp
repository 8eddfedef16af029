// rtl/Dispatch.cpp: the call by name and the values handed back through references.
#include "rtl/Dispatch.h"

#include <algorithm>

#include "rtl/Format.h"

namespace rtl {

namespace {

// A new value converted to the type of the variable it goes into, as a typed reference
// argument receives it.
Variant ConvertedTo(VarType type, const Variant& v) {
    switch (type) {
        case VarType::Empty:
        case VarType::Null:
        case VarType::Variant:
            return v;
        case VarType::Smallint:
            return Variant(int16_t(v.AsInteger()));
        case VarType::Integer:
            return Variant(v.AsInteger());
        case VarType::Int64:
            return Variant(v.AsInt64());
        case VarType::Word:
            return Variant::FromWord(uint16_t(v.AsInt64()));
        case VarType::Byte:
            return Variant::FromByte(uint8_t(v.AsInt64()));
        case VarType::ShortInt:
            return Variant::FromShortInt(int8_t(v.AsInt64()));
        case VarType::LongWord:
            return Variant::FromLongWord(uint32_t(v.AsInt64()));
        case VarType::Double:
            return Variant(v.AsDouble());
        case VarType::Single:
            return Variant::FromSingle(float(v.AsDouble()));
        case VarType::Currency:
            return Variant::FromCurrency(v.AsCurrency());
        case VarType::Date:
            return Variant::FromDateTime(v.AsDateTime());
        case VarType::Boolean:
            return Variant(v.AsBoolean());
        case VarType::String:
            return Variant(v.AsString());
        case VarType::Error:
            return Variant::FromError(v.AsInteger());
        case VarType::Dispatch:
            return Variant::FromDispatch(v.IsEmptyOrNull() ? nullptr : v.AsDispatch());
        case VarType::ByteArray:
        case VarType::Array:
            if (!v.IsArray()) throw EVariantTypeCastError("Could not convert variant into an array");
            return v;
    }
    return v;
}

}  // namespace

void DispArg::SetByRefValue(const Variant& v) {
    if (!ref_) return;
    *ref_ = kind_ == DispArgKind::Ref ? ConvertedTo(ref_->Type(), v) : v;
}

EOleSysError::EOleSysError(std::string message, HResult errorCode)
    : EOleError(message.empty() ? Format("OLE error %.8x", uint32_t(errorCode)) : std::move(message)),
      errorCode_(errorCode) {}

void DispatchCheck(HResult status, const ExcepInfo& excepInfo) {
    if (status == S_OK) return;
    if (status == DISP_E_EXCEPTION) throw EOleException(excepInfo.description, excepInfo.code, excepInfo.source);
    throw EOleSysError("", status);
}

Variant DispatchInvoke(const Variant& object, std::string_view name, std::vector<DispArg> args, bool wantResult) {
    const std::shared_ptr<DispatchObject> target = object.AsDispatch();
    if (!target) throw EOleError("Variant does not reference an automation object");
    std::vector<int32_t> ids;
    if (target->GetIDsOfNames({std::string(name)}, ids) != S_OK || ids.empty())
        throw EOleError(Format("Method '%s' not supported by automation object", name));
    // Dispatch order: the last argument first.
    std::reverse(args.begin(), args.end());
    const uint16_t flags =
        args.empty() && wantResult ? uint16_t(DISPATCH_METHOD | DISPATCH_PROPERTYGET) : DISPATCH_METHOD;
    Variant result;
    ExcepInfo excepInfo;
    DispatchCheck(target->Invoke(ids.front(), flags, args, wantResult ? &result : nullptr, excepInfo), excepInfo);
    return result;
}

}  // namespace rtl

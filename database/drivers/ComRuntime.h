// database/drivers/ComRuntime.h: a small COM-style runtime, the platform service the OLE DB
// driver is written against (namespace com).
//
// OLE DB providers are component objects: the driver reaches them only through interfaces
// (abstract classes whose first three operations are QueryInterface, AddRef and Release),
// asks for each interface by its published identifier, exchanges texts as BSTRs and values as
// VARIANTs, frees what a provider hands out with the task allocator, and reads a failure's
// description from the calling thread's error object. Linux has none of this; this runtime
// gives the driver exactly that much:
//   - GUIDs, result codes and IUnknown; ComPtr, the counted reference every holder keeps;
//   - BSTRs (a 32-bit byte length before the UTF-16 characters and a terminating zero), the
//     VARIANT record and its clearing, the task allocator (the C library's heap);
//   - CoInitialize / CoUninitialize, counted for the process (there are no apartments here);
//   - the per-thread error object (SetErrorInfo / GetErrorInfo, which takes it away);
//   - system texts for the results the driver meets (FormatResultMessage);
//   - CoCreateInstance for the one class the driver creates: the data-link object
//     (OleDbDataLink.h), which loads providers.
// A provider is a shared library. In place of the registry's class entry, the environment
// variable KW_OLEDB_PROVIDER_<NAME> names its file (NAME: the provider's name upper-cased, every
// character other than a letter or digit as "_"; "SQLOLEDB" gives KW_OLEDB_PROVIDER_SQLOLEDB).
// The library exports DllGetClassObject (the class factory of its data source) and
// ComAttachServices, through which the data-link object hands it this runtime's services
// (TComServices) before anything else, so that the provider's error objects, BSTRs and task
// memory are the ones the driver reads and frees. No exception crosses an interface: every
// operation answers a result code.
//
// Why here and not in platform/: the runtime exists for the OLE DB driver alone, and its data-
// link object speaks OLE DB (initialisation properties); the platform layer knows no database.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace com {

using HRESULT = int32_t;
using ULONG = uint32_t;
using LONG = int32_t;
using DWORD = uint32_t;
using LCID = uint32_t;
using OLECHAR = char16_t;
using BSTR = OLECHAR*;
using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case.
std::string GuidToString(const GUID& guid);
// The 16 bytes of a GUID in its binary layout (the first three fields little-endian).
void GuidToBytes(const GUID& guid, uint8_t out[16]);
GUID GuidFromBytes(const uint8_t in[16]);
// A braced (or bare) GUID text; false when the text is none.
bool GuidFromString(std::string_view text, GUID& guid);

// Result codes.
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = int32_t(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = int32_t(0x80004002u);
inline constexpr HRESULT E_POINTER = int32_t(0x80004003u);
inline constexpr HRESULT E_FAIL = int32_t(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = int32_t(0x8000FFFFu);
inline constexpr HRESULT E_OUTOFMEMORY = int32_t(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = int32_t(0x80070057u);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = int32_t(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = int32_t(0x80040111u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = int32_t(0x80040154u);
inline constexpr HRESULT CO_E_NOTINITIALIZED = int32_t(0x800401F0u);
inline constexpr HRESULT CO_E_DLLNOTFOUND = int32_t(0x800401F8u);
inline constexpr HRESULT CO_E_ERRORINDLL = int32_t(0x800401F9u);
constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

// Class contexts.
inline constexpr DWORD CLSCTX_INPROC_SERVER = 1;

// The root of every interface. Objects are destroyed by their last Release, never through an
// interface pointer.
class IUnknown {
public:
    static constexpr IID kIID{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

class IClassFactory : public IUnknown {
public:
    static constexpr IID kIID{0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) = 0;
    virtual HRESULT LockServer(int32_t lock) = 0;

protected:
    ~IClassFactory() = default;
};

// A counted reference: holding one keeps the object alive, and the reference is given back
// exactly once.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference to the object.
    explicit ComPtr(T* p) : p_(p) {
        if (p_ != nullptr) p_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ComPtr& operator=(const ComPtr& other) {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }
    ~ComPtr() { Reset(); }

    // Takes over a reference the caller owns (an out parameter's).
    static ComPtr Attach(T* p) {
        ComPtr r;
        r.p_ = p;
        return r;
    }
    // Gives the reference up to the caller.
    T* Detach() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    void Reset() {
        if (p_ != nullptr) {
            T* p = p_;
            p_ = nullptr;
            p->Release();
        }
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For an out parameter: the reference held so far is given back first.
    T** Receive() {
        Reset();
        return &p_;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
    // Asks the object for another interface; an empty pointer (and the result) when it has
    // none.
    template <typename U>
    HRESULT As(ComPtr<U>& out) const {
        out.Reset();
        if (p_ == nullptr) return E_POINTER;
        return p_->QueryInterface(U::kIID, out.ReceiveVoid());
    }
    template <typename U>
    ComPtr<U> As() const {
        ComPtr<U> out;
        As(out);
        return out;
    }

private:
    void Swap(ComPtr& other) noexcept {
        T* p = p_;
        p_ = other.p_;
        other.p_ = p;
    }
    T* p_ = nullptr;
};

// Task memory: what a provider hands out and the consumer frees, and the reverse.
void* CoTaskMemAlloc(size_t size);
void CoTaskMemFree(void* block);

// BSTRs. SysAllocStringLen copies count characters (none when text is nullptr: zeroed) and
// terminates them; nullptr when out of memory. A null BSTR is the empty text.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, uint32_t count);
void SysFreeString(BSTR text);
uint32_t SysStringLen(const OLECHAR* text);
// UTF-8 text to a new BSTR (the caller frees it) and back.
BSTR TextToBstr(std::string_view text);
std::string BstrToText(const OLECHAR* text);
// A BSTR owned for a scope.
class TBstr {
public:
    TBstr() = default;
    explicit TBstr(std::string_view text) : p_(TextToBstr(text)) {}
    ~TBstr() { SysFreeString(p_); }
    TBstr(const TBstr&) = delete;
    TBstr& operator=(const TBstr&) = delete;
    BSTR Get() const { return p_; }
    BSTR* Receive() {
        SysFreeString(p_);
        p_ = nullptr;
        return &p_;
    }
    std::string Text() const { return BstrToText(p_); }

private:
    BSTR p_ = nullptr;
};

// Variant types used by the driver and its providers.
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_R8 = 5;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_UNKNOWN = 13;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_I8 = 20;

struct VARIANT {
    VARTYPE vt;
    uint16_t wReserved1;
    uint16_t wReserved2;
    uint16_t wReserved3;
    union {
        int64_t llVal;
        int32_t lVal;
        uint32_t ulVal;
        int16_t iVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        BSTR bstrVal;
        IUnknown* punkVal;
    };
};
void VariantInit(VARIANT* v);
// Frees what the variant owns (a BSTR, an interface reference) and empties it.
HRESULT VariantClear(VARIANT* v);
// A variant's value as text ("" for empty and null; integers in decimal; booleans -1 or 0).
std::string VariantToText(const VARIANT& v);
// Filled variants.
VARIANT MakeVariantI4(int32_t value);
VARIANT MakeVariantBool(bool value);
VARIANT MakeVariantText(std::string_view text);  // a new BSTR the variant owns

// The description of a failure, kept per thread.
class IErrorInfo : public IUnknown {
public:
    static constexpr IID kIID{0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
    virtual HRESULT GetGUID(GUID* guid) = 0;
    virtual HRESULT GetSource(BSTR* source) = 0;
    virtual HRESULT GetDescription(BSTR* description) = 0;
    virtual HRESULT GetHelpFile(BSTR* helpFile) = 0;
    virtual HRESULT GetHelpContext(DWORD* helpContext) = 0;

protected:
    ~IErrorInfo() = default;
};

// Replaces the calling thread's error object (nullptr clears it); the slot takes a reference.
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
// Sets the calling thread's error object to a description made by the runtime (its source and
// text) and answers hr, for the runtime's own failures.
HRESULT ReportError(HRESULT hr, const std::string& source, const std::string& description);
// Hands the calling thread's error object to the caller (who releases it) and clears the slot;
// S_FALSE and nullptr when there is none.
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info);

// Counted initialisation of the runtime: S_OK for the first, S_FALSE for every further one;
// each success is undone by one CoUninitialize.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();
int CoInitializeCount();

// The data-link object's class; any other class is not registered here.
inline constexpr CLSID CLSID_MSDAINITIALIZE{
    0x2206CDB2, 0x19C1, 0x11D1, {0x89, 0xE0, 0x00, 0xC0, 0x4F, 0xD7, 0xA8, 0x29}};
// CO_E_NOTINITIALIZED before CoInitialize; CLASS_E_NOAGGREGATION with an outer object;
// REGDB_E_CLASSNOTREG for another class.
HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, DWORD context, const IID& iid, void** object);

// Locales: the user's and the system's (from the process's locale settings).
inline constexpr LCID kLocaleEnglishUS = 0x0409;
LCID GetUserDefaultLCID();
LCID GetSystemDefaultLCID();

// The system's text for a result code: 0 and the text, or 317 (no message for that number)
// and no text.
inline constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
DWORD FormatResultMessage(HRESULT hr, std::string& text);

// What a provider imports from the runtime; handed over once through the library's
// ComAttachServices export when the data-link object loads it.
struct TComServices {
    uint32_t Size;  // sizeof(TComServices)
    void* (*TaskMemAlloc)(size_t size);
    void (*TaskMemFree)(void* block);
    BSTR (*AllocStringLen)(const OLECHAR* text, uint32_t count);
    void (*FreeString)(BSTR text);
    HRESULT (*ClearVariant)(VARIANT* v);
    HRESULT (*SetErrorInfo)(ULONG reserved, IErrorInfo* info);
    HRESULT (*GetErrorInfo)(ULONG reserved, IErrorInfo** info);
};
const TComServices& ComServices();

// A provider library's exports.
using TDllGetClassObject = HRESULT (*)(const CLSID& clsid, const IID& iid, void** object);
using TComAttachServices = void (*)(const TComServices* services);
inline constexpr const char* kDllGetClassObjectName = "DllGetClassObject";
inline constexpr const char* kComAttachServicesName = "ComAttachServices";
// The environment variable that names a provider's library file ("" for an empty name).
std::string ProviderVariableName(std::string_view provider);
// The provider's data source object, asked for as iid: its library is loaded once and kept
// for the process. REGDB_E_CLASSNOTREG when the variable is not set, CO_E_DLLNOTFOUND when the
// file does not load, CO_E_ERRORINDLL when it lacks the two exports; each with the thread's
// error object describing it.
HRESULT CreateProviderDataSource(std::string_view provider, const IID& iid, void** object);

}  // namespace com

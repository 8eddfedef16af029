// database/drivers/ComRuntime.cpp: the COM-style runtime (see ComRuntime.h).
//
// Process-wide state, each under its own lock: the initialisation count, and the provider
// libraries loaded so far (kept for the process: objects they made may outlive any count).
// The error object is per thread and needs no lock.
#include "database/drivers/ComRuntime.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "database/drivers/OleDbDataLink.h"
#include "platform/DynamicLibrary.h"
#include "rtl/Bytes.h"
#include "rtl/Unicode.h"

namespace com {

namespace {

// BSTRs longer than this are refused (their length prefix is 32 bits of bytes).
constexpr uint32_t kMaxBstrChars = 0x3FFFFFF0u;

thread_local IErrorInfo* tErrorInfo = nullptr;

// The runtime's own description of a failure it reports.
class TErrorInfo final : public IErrorInfo {
public:
    TErrorInfo(std::string source, std::string description)
        : source_(std::move(source)), description_(std::move(description)) {}
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IUnknown::kIID || iid == IErrorInfo::kIID) {
            *object = static_cast<IErrorInfo*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    HRESULT GetGUID(GUID* guid) override {
        if (guid == nullptr) return E_POINTER;
        *guid = GUID_NULL;
        return S_OK;
    }
    HRESULT GetSource(BSTR* source) override { return Give(source_, source); }
    HRESULT GetDescription(BSTR* description) override { return Give(description_, description); }
    HRESULT GetHelpFile(BSTR* helpFile) override { return Give("", helpFile); }
    HRESULT GetHelpContext(DWORD* helpContext) override {
        if (helpContext == nullptr) return E_POINTER;
        *helpContext = 0;
        return S_OK;
    }

private:
    ~TErrorInfo() = default;
    static HRESULT Give(const std::string& text, BSTR* out) {
        if (out == nullptr) return E_POINTER;
        *out = TextToBstr(text);
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    std::atomic<ULONG> refs_{1};
    std::string source_;
    std::string description_;
};

struct InitState {
    std::mutex lock;
    int count = 0;
};

InitState& Init() {
    static InitState state;
    return state;
}

struct ProviderLibrary {
    plat::DynamicLibrary library;
    TDllGetClassObject getClassObject = nullptr;
};

struct Providers {
    std::mutex lock;
    std::map<std::string, std::unique_ptr<ProviderLibrary>> byFile;
};

Providers& LoadedProviders() {
    static Providers providers;
    return providers;
}

LCID LocaleFromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == 0) continue;
        const std::string v = value;
        if (v.rfind("pt_BR", 0) == 0) return 0x0416;
        if (v.rfind("pt", 0) == 0) return 0x0816;
        if (v.rfind("es", 0) == 0) return 0x0C0A;
        if (v.rfind("en_GB", 0) == 0) return 0x0809;
        return kLocaleEnglishUS;
    }
    return kLocaleEnglishUS;
}

}  // namespace

HRESULT ReportError(HRESULT hr, const std::string& source, const std::string& description) {
    IErrorInfo* info = new TErrorInfo(source, description);
    SetErrorInfo(0, info);
    info->Release();
    return hr;
}

std::string GuidToString(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                  g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
    return text;
}

void GuidToBytes(const GUID& g, uint8_t out[16]) {
    rtl::store_le32(out, g.Data1);
    rtl::store_le16(out + 4, g.Data2);
    rtl::store_le16(out + 6, g.Data3);
    std::memcpy(out + 8, g.Data4, 8);
}

GUID GuidFromBytes(const uint8_t in[16]) {
    GUID g{};
    g.Data1 = rtl::load_le32(in);
    g.Data2 = rtl::load_le16(in + 4);
    g.Data3 = rtl::load_le16(in + 6);
    std::memcpy(g.Data4, in + 8, 8);
    return g;
}

bool GuidFromString(std::string_view text, GUID& guid) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36) return false;
    uint8_t digits[16];
    int n = 0;
    for (size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return false;
            ++i;
            continue;
        }
        int value = 0;
        for (int k = 0; k < 2; ++k, ++i) {
            const char c = char(std::toupper(static_cast<unsigned char>(text[i])));
            if (c >= '0' && c <= '9')
                value = value * 16 + (c - '0');
            else if (c >= 'A' && c <= 'F')
                value = value * 16 + (c - 'A' + 10);
            else
                return false;
        }
        digits[n++] = uint8_t(value);
    }
    // The text reads the first three fields as numbers, the rest byte by byte.
    guid.Data1 =
        (uint32_t(digits[0]) << 24) | (uint32_t(digits[1]) << 16) | (uint32_t(digits[2]) << 8) | digits[3];
    guid.Data2 = uint16_t((digits[4] << 8) | digits[5]);
    guid.Data3 = uint16_t((digits[6] << 8) | digits[7]);
    std::memcpy(guid.Data4, digits + 8, 8);
    return true;
}

void* CoTaskMemAlloc(size_t size) {
    return std::malloc(size == 0 ? 1 : size);
}

void CoTaskMemFree(void* block) {
    std::free(block);
}

BSTR SysAllocStringLen(const OLECHAR* text, uint32_t count) {
    if (count > kMaxBstrChars) return nullptr;
    auto* block = static_cast<uint8_t*>(std::malloc(4 + size_t(count) * 2 + 2));
    if (block == nullptr) return nullptr;
    const uint32_t bytes = count * 2;
    std::memcpy(block, &bytes, 4);
    auto* chars = reinterpret_cast<OLECHAR*>(block + 4);
    if (text != nullptr)
        std::memcpy(chars, text, size_t(count) * 2);
    else
        std::memset(chars, 0, size_t(count) * 2);
    chars[count] = 0;
    return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr) return nullptr;
    uint32_t n = 0;
    while (text[n] != 0)
        ++n;
    return SysAllocStringLen(text, n);
}

void SysFreeString(BSTR text) {
    if (text != nullptr) std::free(reinterpret_cast<uint8_t*>(text) - 4);
}

uint32_t SysStringLen(const OLECHAR* text) {
    if (text == nullptr) return 0;
    uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<const uint8_t*>(text) - 4, 4);
    return bytes / 2;
}

BSTR TextToBstr(std::string_view text) {
    const std::u16string wide = rtl::Utf8ToUtf16(text);
    return SysAllocStringLen(wide.data(), uint32_t(wide.size()));
}

std::string BstrToText(const OLECHAR* text) {
    if (text == nullptr) return "";
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return rtl::Utf16ToUtf8(std::u16string_view(text, n));
}

void VariantInit(VARIANT* v) {
    std::memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
    if (v == nullptr) return E_POINTER;
    if (v->vt == VT_BSTR)
        SysFreeString(v->bstrVal);
    else if (v->vt == VT_UNKNOWN && v->punkVal != nullptr)
        v->punkVal->Release();
    VariantInit(v);
    return S_OK;
}

std::string VariantToText(const VARIANT& v) {
    switch (v.vt) {
        case VT_I2:
            return std::to_string(v.iVal);
        case VT_I4:
            return std::to_string(v.lVal);
        case VT_UI4:
            return std::to_string(v.ulVal);
        case VT_I8:
            return std::to_string(v.llVal);
        case VT_BOOL:
            return v.boolVal != 0 ? "-1" : "0";
        case VT_R8: {
            char text[40];
            std::snprintf(text, sizeof text, "%.15g", v.dblVal);
            return text;
        }
        case VT_BSTR:
            return BstrToText(v.bstrVal);
        default:
            return "";
    }
}

VARIANT MakeVariantI4(int32_t value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

VARIANT MakeVariantBool(bool value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

VARIANT MakeVariantText(std::string_view text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = TextToBstr(text);
    return v;
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* info) {
    if (info != nullptr) info->AddRef();
    IErrorInfo* old = tErrorInfo;
    tErrorInfo = info;
    if (old != nullptr) old->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** info) {
    if (info == nullptr) return E_POINTER;
    *info = tErrorInfo;
    tErrorInfo = nullptr;
    return *info != nullptr ? S_OK : S_FALSE;
}

HRESULT CoInitialize(void*) {
    InitState& s = Init();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.count++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    InitState& s = Init();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.count > 0) --s.count;
}

int CoInitializeCount() {
    InitState& s = Init();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.count;
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, DWORD, const IID& iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (CoInitializeCount() == 0) return CO_E_NOTINITIALIZED;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (!(clsid == CLSID_MSDAINITIALIZE)) return REGDB_E_CLASSNOTREG;
    return oledb::CreateDataLink(iid, object);
}

LCID GetUserDefaultLCID() {
    return LocaleFromEnvironment();
}

LCID GetSystemDefaultLCID() {
    return LocaleFromEnvironment();
}

DWORD FormatResultMessage(HRESULT hr, std::string& text) {
    static const std::map<uint32_t, const char*> messages = {
        {0x80004001u, "Not implemented"},
        {0x80004002u, "No such interface supported"},
        {0x80004003u, "Invalid pointer"},
        {0x80004005u, "Unspecified error"},
        {0x8000FFFFu, "Catastrophic failure"},
        {0x8007000Eu, "Not enough memory is available to complete this operation"},
        {0x80070057u, "The parameter is incorrect"},
        {0x80040110u, "Class does not support aggregation"},
        {0x80040111u, "The class factory cannot supply the requested class"},
        {0x80040154u, "Class not registered"},
        {0x800401F0u, "CoInitialize has not been called"},
        {0x800401F8u, "The library for the class was not found"},
        {0x800401F9u, "Error in the library for the class"},
        {0x80040E00u, "Invalid accessor"},
        {0x80040E04u, "Invalid row handle"},
        {0x80040E07u, "A value could not be converted to the requested type"},
        {0x80040E0Cu, "No command text was set for the command object"},
        {0x80040E14u, "The command contained one or more errors"},
        {0x80040E21u, "Errors occurred in a multiple-step operation; no work was done"},
        {0x80040E37u, "The table does not exist"},
        {0x80040E53u, "The requested operation is not supported"},
        {0x8004D00Eu, "No transaction is active"},
    };
    text.clear();
    const auto it = messages.find(uint32_t(hr));
    if (it == messages.end()) return ERROR_MR_MID_NOT_FOUND;
    text = it->second;
    return 0;
}

const TComServices& ComServices() {
    static const TComServices services = {sizeof(TComServices), CoTaskMemAlloc, CoTaskMemFree,
                                          SysAllocStringLen,    SysFreeString,  VariantClear,
                                          SetErrorInfo,         GetErrorInfo};
    return services;
}

std::string ProviderVariableName(std::string_view provider) {
    std::string name;
    for (char c : provider) {
        const auto u = static_cast<unsigned char>(c);
        name += std::isalnum(u) && u < 0x80 ? char(std::toupper(u)) : '_';
    }
    return name.empty() ? "" : "KW_OLEDB_PROVIDER_" + name;
}

HRESULT CreateProviderDataSource(std::string_view provider, const IID& iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    const std::string variable = ProviderVariableName(provider);
    const char* file = variable.empty() ? nullptr : std::getenv(variable.c_str());
    if (file == nullptr || *file == 0)
        return ReportError(REGDB_E_CLASSNOTREG, "Data link",
                           "Provider '" + std::string(provider) + "' is not registered (" +
                               (variable.empty() ? std::string("no name") : variable + " is not set") + ")");
    Providers& p = LoadedProviders();
    TDllGetClassObject getClassObject = nullptr;
    {
        std::lock_guard<std::mutex> guard(p.lock);
        auto it = p.byFile.find(file);
        if (it == p.byFile.end()) {
            auto lib = std::make_unique<ProviderLibrary>();
            if (!lib->library.Load(std::string(file)))
                return ReportError(CO_E_DLLNOTFOUND, "Data link",
                                   "Provider library '" + std::string(file) +
                                       "' cannot be loaded: " + lib->library.LastError());
            lib->library.KeepLoaded();
            auto attach = reinterpret_cast<TComAttachServices>(lib->library.Symbol(kComAttachServicesName));
            lib->getClassObject =
                reinterpret_cast<TDllGetClassObject>(lib->library.Symbol(kDllGetClassObjectName));
            if (attach == nullptr || lib->getClassObject == nullptr)
                return ReportError(CO_E_ERRORINDLL, "Data link",
                                   "Provider library '" + std::string(file) + "' is not an OLE DB provider");
            attach(&ComServices());
            it = p.byFile.emplace(file, std::move(lib)).first;
        }
        getClassObject = it->second->getClassObject;
    }
    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject(GUID_NULL, IClassFactory::kIID, factory.ReceiveVoid());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(nullptr, iid, object);
}

}  // namespace com

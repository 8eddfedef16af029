// The COM-style runtime: GUIDs, BSTRs, variants, the per-thread error object, counted
// initialisation, result texts, and the data-link object's provider loading and refusals.
#include <gtest/gtest.h>

#include <thread>

#include "database/drivers/OleDbDataLink.h"
#include "database/drivers/OleDbTestSupport.h"
#include "database/engine/SDCommonValues.h"

using namespace com;

namespace {

// The runtime initialised for a scope.
struct Initialised {
    Initialised() { EXPECT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    ~Initialised() { CoUninitialize(); }
};

// What the thread's error object says (and takes it away).
std::string ErrorText() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Receive()) != S_OK || !info) return "<none>";
    TBstr text;
    info->GetDescription(text.Receive());
    return text.Text();
}

TEST(ComRuntime, GuidsTheirTextAndTheirBytes) {
    const GUID g = oledb::IDBInitialize::kIID;
    EXPECT_EQ(GuidToString(g), "{0C733A8B-2A1C-11CE-ADE5-00AA0044773D}");
    GUID back{};
    ASSERT_TRUE(GuidFromString("{0c733a8b-2a1c-11ce-ade5-00aa0044773d}", back));
    EXPECT_TRUE(back == g);
    ASSERT_TRUE(GuidFromString("0C733A8B-2A1C-11CE-ADE5-00AA0044773D", back));
    EXPECT_FALSE(GuidFromString("{0C733A8B-2A1C-11CE-ADE5-00AA0044773}", back));
    EXPECT_FALSE(GuidFromString("{0C733A8B+2A1C-11CE-ADE5-00AA0044773D}", back));
    EXPECT_FALSE(GuidFromString("{0C733A8B-2A1C-11CE-ADE5-00AA0044773G}", back));
    // The binary layout is the one the library's GUID text reads.
    uint8_t bytes[16];
    GuidToBytes(g, bytes);
    char text[38];
    GuidToChars(bytes, 16, text, 38);
    EXPECT_EQ(std::string(text, 38), GuidToString(g));
    EXPECT_TRUE(GuidFromBytes(bytes) == g);
}

TEST(ComRuntime, BstrsAndVariants) {
    BSTR b = TextToBstr("ação");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 4u);
    EXPECT_EQ(BstrToText(b), "ação");
    SysFreeString(b);
    EXPECT_EQ(BstrToText(nullptr), "");
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    BSTR zeros = SysAllocStringLen(nullptr, 3);
    EXPECT_EQ(SysStringLen(zeros), 3u);
    EXPECT_EQ(zeros[0], 0);
    SysFreeString(zeros);
    SysFreeString(nullptr);

    VARIANT v = MakeVariantText("texto");
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(VariantToText(v), "texto");
    VariantClear(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(VariantToText(MakeVariantI4(-7)), "-7");
    EXPECT_EQ(VariantToText(MakeVariantBool(true)), "-1");
    EXPECT_EQ(VariantToText(v), "");
    void* block = CoTaskMemAlloc(0);
    EXPECT_NE(block, nullptr);
    CoTaskMemFree(block);
}

TEST(ComRuntime, TheErrorObjectIsPerThreadAndTakenOnce) {
    ReportError(E_FAIL, "test", "first");
    std::string other;
    std::thread([&] { other = ErrorText(); }).join();
    EXPECT_EQ(other, "<none>") << "another thread has its own";
    EXPECT_EQ(ErrorText(), "first");
    EXPECT_EQ(ErrorText(), "<none>") << "taken away by the first reader";
    IErrorInfo* none = reinterpret_cast<IErrorInfo*>(1);
    EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
    EXPECT_EQ(none, nullptr);
}

TEST(ComRuntime, CountedInitialisationAndTheClassesItCreates) {
    ASSERT_EQ(CoInitializeCount(), 0);
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IUnknown::kIID, &object),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(CoInitializeCount(), 2);
    EXPECT_EQ(CoCreateInstance(IUnknown::kIID, nullptr, CLSCTX_INPROC_SERVER, IUnknown::kIID, &object),
              REGDB_E_CLASSNOTREG);
    ComPtr<oledb::IDataInitialize> link;
    ASSERT_EQ(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER,
                               oledb::IDataInitialize::kIID, link.ReceiveVoid()),
              S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_MSDAINITIALIZE, reinterpret_cast<IUnknown*>(link.Get()),
                               CLSCTX_INPROC_SERVER, IUnknown::kIID, &object),
              CLASS_E_NOAGGREGATION);
    link.Reset();
    CoUninitialize();
    CoUninitialize();
    CoUninitialize();  // one too many changes nothing
    EXPECT_EQ(CoInitializeCount(), 0);
}

TEST(ComRuntime, ResultTextsAndProviderVariables) {
    std::string text;
    EXPECT_EQ(FormatResultMessage(E_FAIL, text), 0u);
    EXPECT_EQ(text, "Unspecified error");
    EXPECT_EQ(FormatResultMessage(oledb::DB_E_ERRORSOCCURRED, text), 0u);
    EXPECT_EQ(FormatResultMessage(int32_t(0x80041234u), text), ERROR_MR_MID_NOT_FOUND);
    EXPECT_EQ(text, "");
    EXPECT_EQ(ProviderVariableName("SQLOLEDB"), "KW_OLEDB_PROVIDER_SQLOLEDB");
    EXPECT_EQ(ProviderVariableName("Microsoft.Jet.OLEDB.4.0"), "KW_OLEDB_PROVIDER_MICROSOFT_JET_OLEDB_4_0");
    EXPECT_EQ(ProviderVariableName("ação"), "KW_OLEDB_PROVIDER_A____O");
    EXPECT_EQ(ProviderVariableName(""), "");
}

TEST(ComRuntime, TheDataLinkRefusesWhatItCannotLoad) {
    const Initialised init;
    ComPtr<oledb::IDataInitialize> link;
    ASSERT_EQ(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER,
                               oledb::IDataInitialize::kIID, link.ReceiveVoid()),
              S_OK);
    const kwtest::ScopedEnv missing("KW_OLEDB_PROVIDER_KWMISSINGFILE", "/nonexistent/provider.so");
    const kwtest::ScopedEnv notProvider("KW_OLEDB_PROVIDER_KWNOTAPROVIDER", "libz.so.1");
    const kwtest::ScopedEnv unset("KW_OLEDB_PROVIDER_KWUNSET", std::nullopt);
    struct Case {
        const char* text;
        HRESULT hr;
        const char* error;  // the start of the error object's text
    };
    const Case cases[] = {
        {"PROVIDER=KWUNSET;DATA SOURCE=x", REGDB_E_CLASSNOTREG,
         "Provider 'KWUNSET' is not registered (KW_OLEDB_PROVIDER_KWUNSET is not set)"},
        {"PROVIDER=KWMISSINGFILE", CO_E_DLLNOTFOUND,
         "Provider library '/nonexistent/provider.so' cannot be loaded"},
        {"PROVIDER=KWNOTAPROVIDER", CO_E_ERRORINDLL,
         "Provider library 'libz.so.1' is not an OLE DB provider"},
        {"DATA SOURCE=x", E_INVALIDARG, "The initialization string names no provider"},
        {"PROVIDER=\"KWSQLITE", E_INVALIDARG,
         "Invalid initialization string: the value of 'PROVIDER' has no closing quote"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const TBstr text(c.text);
        IUnknown* source = nullptr;
        EXPECT_EQ(link->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, text.Get(), IUnknown::kIID, &source),
                  c.hr);
        EXPECT_EQ(source, nullptr);
        EXPECT_EQ(ErrorText().rfind(c.error, 0), 0u);
    }
}

TEST(ComRuntime, TheDriverReportsTheDataLinksRefusal) {
    const kwtest::ScopedEnv unset("KW_OLEDB_PROVIDER_KWUNSET", std::nullopt);
    std::unique_ptr<TISqlDatabase> db = CreateOLEDBDatabase(nullptr, oledbtest::Params());
    try {
        db->Connect("PROVIDER=KWUNSET;DATA SOURCE=x", "", "");
        FAIL() << "connected to a provider that is not there";
    } catch (const ESDOleDbError& e) {
        EXPECT_EQ(e.Message(), "Provider 'KWUNSET' is not registered (KW_OLEDB_PROVIDER_KWUNSET is not set)");
        EXPECT_EQ(e.ErrorCode, REGDB_E_CLASSNOTREG);
        EXPECT_FALSE(e.ConnectionLost);
    }
    EXPECT_EQ(db->GetHandle(), nullptr);
    EXPECT_EQ(CoInitializeCount(), 0) << "the failed connect gave its initialisation back";
}

}  // namespace

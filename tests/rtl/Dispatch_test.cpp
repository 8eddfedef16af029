// The call by name over objects reached by late-bound calls: the flags, the order of the
// arguments, the values handed back through references, and the errors.
#include <gtest/gtest.h>

#include "rtl/Dispatch.h"

namespace {

using rtl::DispArg;
using rtl::Variant;

// An object that knows one method, records how it was called and answers as told.
class Fake : public rtl::DispatchObject {
public:
    rtl::HResult GetIDsOfNames(const std::vector<std::string>& names, std::vector<int32_t>& ids) override {
        if (names.size() != 1 || names[0] != "Soma") return rtl::DISP_E_UNKNOWNNAME;
        ids = {7};
        return rtl::S_OK;
    }
    rtl::HResult Invoke(int32_t id, uint16_t f, std::vector<DispArg>& args, Variant* result,
                        rtl::ExcepInfo& excep) override {
        dispId = id;
        flags = f;
        seen.clear();
        for (DispArg& a : args) {
            seen.push_back(a.Value());
            if (a.IsByRef()) a.SetByRefValue(handBack);
        }
        if (result) *result = Variant(int32_t(42));
        excep.code = 9;
        excep.description = "falhou no servidor";
        return status;
    }

    int32_t dispId = 0;
    uint16_t flags = 0;
    std::vector<Variant> seen;
    Variant handBack;
    rtl::HResult status = rtl::S_OK;
};

TEST(DispatchInvoke, FlagsOrderAndReferences) {
    auto fake = std::make_shared<Fake>();
    const Variant obj = Variant::FromDispatch(fake);

    EXPECT_EQ(rtl::DispatchInvoke(obj, "Soma", {}, true).AsInteger(), 42);
    EXPECT_EQ(fake->flags, 3);  // method or property read
    EXPECT_EQ(fake->dispId, 7);
    rtl::DispatchInvoke(obj, "Soma", {}, false);
    EXPECT_EQ(fake->flags, 1);

    Variant numero(int32_t(1));
    Variant texto("antes");
    Variant qualquer("x");
    fake->handBack = Variant("17");
    EXPECT_TRUE(rtl::DispatchInvoke(obj, "Soma",
                                    {DispArg::ByValue(Variant("a")), DispArg::ByRef(numero), DispArg::ByRef(texto),
                                     DispArg::ByRefVariant(qualquer)},
                                    false)
                    .IsEmpty());
    EXPECT_EQ(fake->flags, 1);
    // Dispatch order: last argument first.
    ASSERT_EQ(fake->seen.size(), 4u);
    EXPECT_EQ(fake->seen[0].AsString(), "x");
    EXPECT_EQ(fake->seen[3].AsString(), "a");
    // A typed reference keeps its variable's type; a variant reference takes the value.
    EXPECT_EQ(numero.Type(), rtl::VarType::Integer);
    EXPECT_EQ(numero.AsInteger(), 17);
    EXPECT_EQ(texto.AsString(), "17");
    EXPECT_EQ(qualquer.Type(), rtl::VarType::String);
}

TEST(DispatchInvoke, Errors) {
    auto fake = std::make_shared<Fake>();
    const Variant obj = Variant::FromDispatch(fake);
    try {
        rtl::DispatchInvoke(obj, "Subtrai", {}, true);
        ADD_FAILURE();
    } catch (const rtl::EOleError& e) {
        EXPECT_EQ(e.Message(), "Method 'Subtrai' not supported by automation object");
    }
    fake->status = rtl::DISP_E_EXCEPTION;
    try {
        rtl::DispatchInvoke(obj, "Soma", {}, true);
        ADD_FAILURE();
    } catch (const rtl::EOleException& e) {
        EXPECT_EQ(e.Message(), "falhou no servidor");
        EXPECT_EQ(e.ErrorCode(), 9);
    }
    fake->status = rtl::DISP_E_BADPARAMCOUNT;
    try {
        rtl::DispatchInvoke(obj, "Soma", {}, true);
        ADD_FAILURE();
    } catch (const rtl::EOleSysError& e) {
        EXPECT_EQ(e.Message(), "OLE error 8002000E");
        EXPECT_EQ(e.ErrorCode(), rtl::DISP_E_BADPARAMCOUNT);
    }
    EXPECT_THROW(rtl::DispatchInvoke(Variant(1), "Soma", {}, true), rtl::EVariantTypeCastError);
    EXPECT_THROW(rtl::DispatchInvoke(Variant::FromDispatch(nullptr), "Soma", {}, true), rtl::EOleError);
}

}  // namespace

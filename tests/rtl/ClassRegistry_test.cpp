// Component classes, their property tables and the registry of class names.
#include <gtest/gtest.h>

#include "rtl/ClassRegistry.h"
#include "rtl/FormText.h"

namespace {

class TTeste : public rtl::Component {
public:
    static const rtl::ComponentClass& ClassInfo() {
        static const rtl::ComponentClass info("TTeste", &rtl::ComponentClassInfo(), [] { return std::make_unique<TTeste>(); },
                                              {rtl::IntegerProperty<TTeste>("Largura", &TTeste::Largura,
                                                                            &TTeste::SetLargura, 10)});
        return info;
    }
    const rtl::ComponentClass& ClassType() const override { return ClassInfo(); }
    int32_t Largura() const { return largura_; }
    void SetLargura(int32_t v) { largura_ = v; }

private:
    int32_t largura_ = 10;
};

TEST(ClassRegistry, FindsClassesByNameInAnyCase) {
    rtl::RegisterClass(TTeste::ClassInfo());
    rtl::RegisterClass(TTeste::ClassInfo());  // again: nothing changes
    EXPECT_EQ(rtl::FindClass("tteste"), &TTeste::ClassInfo());
    EXPECT_EQ(rtl::FindClass("TNada"), nullptr);
    EXPECT_THROW(rtl::GetClass("TNada"), rtl::EClassNotFound);
    const rtl::ComponentClass outra("TTESTE", &rtl::ComponentClassInfo(), nullptr, {});
    EXPECT_THROW(rtl::RegisterClass(outra), rtl::EFilerError);
    EXPECT_TRUE(TTeste::ClassInfo().InheritsFrom(rtl::ComponentClassInfo()));
    EXPECT_FALSE(rtl::ComponentClassInfo().InheritsFrom(TTeste::ClassInfo()));
    ASSERT_EQ(TTeste::ClassInfo().Properties().size(), 3u);  // Name, Tag, then its own
    EXPECT_EQ(TTeste::ClassInfo().Properties()[2]->name, "Largura");
    EXPECT_THROW(outra.Create(), rtl::EFilerError);
}

TEST(ClassRegistry, AnIntegerEqualToItsDefaultIsNotStored) {
    rtl::RegisterClass(TTeste::ClassInfo());
    TTeste t;
    EXPECT_EQ(rtl::ComponentToText(t), "object TTeste\r\nend\r\n");
    t.SetLargura(0);
    t.SetTag(-1);
    EXPECT_EQ(rtl::ComponentToText(t), "object TTeste\r\n  Tag = -1\r\n  Largura = 0\r\nend\r\n");
    const auto lido = rtl::TextToComponent(rtl::ComponentToText(t));
    EXPECT_EQ(dynamic_cast<TTeste&>(*lido).Largura(), 0);
    EXPECT_EQ(lido->Tag(), -1);
    EXPECT_FALSE(lido->IsLoading());
    rtl::UnRegisterClass(TTeste::ClassInfo());
    EXPECT_THROW(rtl::TextToComponent("object TTeste\r\nend\r\n"), rtl::EClassNotFound);
}

}  // namespace

// Component classes, their property tables and the registry of class names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtl/ClassRegistry.h"
#include "rtl/FormText.h"
#include "support/TestSupport.h"

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

namespace {

enum class TCor : int32_t { Azul, Verde, Vermelho };

// TTeste with a Boolean and an enumeration; TTesteVerde declares the colour again with another
// default.
class TTesteCor : public TTeste {
public:
    static const rtl::ComponentClass& ClassInfo() {
        static const rtl::ComponentClass info(
            "TTesteCor", &TTeste::ClassInfo(), [] { return std::make_unique<TTesteCor>(); },
            {rtl::EnumerationProperty<TTesteCor, TCor>("Cor", {"Azul", "Verde", "Vermelho"}, &TTesteCor::Cor,
                                                       &TTesteCor::SetCor, TCor::Azul),
             rtl::BooleanProperty<TTesteCor>("Ativo", &TTesteCor::Ativo, &TTesteCor::SetAtivo, false)});
        return info;
    }
    const rtl::ComponentClass& ClassType() const override { return ClassInfo(); }
    TCor Cor() const { return cor_; }
    void SetCor(TCor v) { cor_ = v; }
    bool Ativo() const { return ativo_; }
    void SetAtivo(bool v) { ativo_ = v; }

protected:
    TCor cor_ = TCor::Azul;

private:
    bool ativo_ = false;
};

class TTesteVerde : public TTesteCor {
public:
    TTesteVerde() { cor_ = TCor::Verde; }
    static const rtl::ComponentClass& ClassInfo() {
        static const rtl::ComponentClass info(
            "TTesteVerde", &TTesteCor::ClassInfo(), [] { return std::make_unique<TTesteVerde>(); },
            {rtl::EnumerationProperty<TTesteCor, TCor>("cor", {"Azul", "Verde", "Vermelho"}, &TTesteCor::Cor,
                                                       &TTesteCor::SetCor, TCor::Verde)});
        return info;
    }
    const rtl::ComponentClass& ClassType() const override { return ClassInfo(); }
};

}  // namespace

TEST(ClassRegistry, EnumerationsAndBooleansAreIdentifiersStoredWhenNotTheirDefault) {
    TTesteCor t;
    EXPECT_EQ(rtl::ComponentToText(t), "object TTesteCor\r\nend\r\n");
    t.SetCor(TCor::Vermelho);
    t.SetAtivo(true);
    EXPECT_EQ(rtl::ComponentToText(t), "object TTesteCor\r\n  Cor = Vermelho\r\n  Ativo = True\r\nend\r\n");
    // A value outside the identifiers cannot be written.
    t.SetCor(TCor(7));
    EXPECT_EQ(kwtest::ThrownMessage([&] { rtl::ComponentToText(t); }), "Invalid value 7 of property Cor");
}

TEST(ClassRegistry, ADeclarationAgainTakesTheAncestorsPlace) {
    rtl::RegisterClass(TTesteVerde::ClassInfo());
    std::vector<std::string> names;
    for (const rtl::PropertyInfo* p : TTesteVerde::ClassInfo().Properties())
        names.push_back(p->name);
    EXPECT_EQ(names, (std::vector<std::string>{"Name", "Tag", "Largura", "cor", "Ativo"}));
    TTesteVerde v;
    EXPECT_EQ(rtl::ComponentToText(v), "object TTesteVerde\r\nend\r\n");
    v.SetCor(TCor::Azul);
    const std::string text = rtl::ComponentToText(v);
    EXPECT_EQ(text, "object TTesteVerde\r\n  cor = Azul\r\nend\r\n");
    EXPECT_EQ(dynamic_cast<TTesteVerde&>(*rtl::TextToComponent(text)).Cor(), TCor::Azul);
    EXPECT_EQ(dynamic_cast<TTesteVerde&>(*rtl::TextToComponent("object TTesteVerde\r\nend\r\n")).Cor(),
              TCor::Verde);
    rtl::UnRegisterClass(TTesteVerde::ClassInfo());
}

// Tests of the JSON reader: the lenient grammar as one table of texts and what they read as,
// the numbers (hex, octal, decimal, float, words), the escapes and UTF-8, the exact texts of
// the syntax errors, the nesting ceiling, lookups, clone/equals, Quote and the float text.
#include "transfer/uJSON.h"

#include <gtest/gtest.h>

#include <string>

#include "rtl/Format.h"
#include "support/TestSupport.h"

namespace {

using kwtest::ThrownMessage;

// What a text reads as, written back.
std::string Lido(const std::string& texto) {
    return TJSONObject::CreateFromText(texto)->toString();
}

// The reason of a syntax error: its text up to the tokener's " at character ".
std::string Motivo(const std::string& texto) {
    const std::string m = ThrownMessage([&] { TJSONObject::CreateFromText(texto); });
    return m.substr(0, m.find(" at character "));
}

TEST(uJSON, LenientFormsReadAsTheirStandardText) {
    struct Caso {
        const char* texto;
        const char* lido;
    };
    const Caso casos[] = {
        {R"({"a":1})", R"({"a":1})"},
        {"{a:1; b=>2, c=3,}", R"({"a":1,"b":2,"c":3})"},
        {"{'a':'x\"y'}", R"({"a":"x\"y"})"},
        {"{a b : c d }", R"({"a\u0020b":"c\u0020d"})"},
        {"{# comment\n\"a\" : 1 // another\n, /* block */ 'b': [1, 2,] }", R"({"a":1,"b":[1,2]})"},
        {"{\"a\":[1,,2]}", R"({"a":[1,null,2]})"},
        {"{\"a\":[,]}", R"({"a":[null]})"},
        {"{\"a\":[]; \"b\":{};}", R"({"a":[],"b":{}})"},
        {"{\"a\":[1;2]}", R"({"a":[1,2]})"},
        // An unquoted run takes its inner blanks: one element.
        {"{\"a\":[1 2]}", R"({"a":["1\u00202"]})"},
        {"{\"t\": TRUE, \"f\": False, \"n\": NULL}", R"({"t":true,"f":false,"n":null})"},
        {"{\"n\":0x1F,\"m\":010,\"o\":-5,\"p\":1e3}", R"({"n":31,"m":8,"o":-5,"p":"1000.00"})"},
        {"{\"v\": 0, \"w\": 08, \"x\": 00, \"y\": -0}", R"({"v":0,"w":8,"x":0,"y":0})"},
        {"{\"h\": 0XfF, \"w\": 0xFFFFFFFF, \"g\": 0x1FFFFFFFF}", R"({"h":255,"w":-1,"g":-1})"},
        {"{\"i\": +7, \"big\": 2147483648, \"neg\": -2147483648}",
         R"({"i":7,"big":"2147483648.00","neg":-2147483648})"},
        {"{\"f\": .5, \"g\": -.25, \"h\": 5., \"k\": 1.5E+2, \"z\": 1e-400}",
         R"({"f":"0.50","g":"-0.25","h":"5.00","k":"150.00","z":"0.00"})"},
        // Texts that look like numbers but are none stay words.
        {"{\"a\": 1e, \"b\": 0x, \"c\": 0xZ1, \"d\": 12abc, \"e\": 1e400, \"f\": -, \"g\": 1.2.3}",
         R"({"a":"1e","b":"0x","c":"0xZ1","d":"12abc","e":"1e400","f":"-","g":"1.2.3"})"},
        // A key is the text of whatever value stands there.
        {"{true: 1, 12: 2, {\"x\":1}: 3, [1,2]: 4}",
         R"({"true":1,"12":2,"\u007B\"x\"\u003A1\u007D":3,"\u005B1\u002C2\u005D":4})"},
        {"{\"a\": 1} what follows is ignored", R"({"a":1})"},
        {"{\"a\" = 1, \"b\" =2}", R"({"a":1,"b":2})"},
        {"{\"u\": \"\\u00e9\\u20AC\\ud83d\\ude00\"}", R"({"u":"\u00E9\u20AC\uD83D\uDE00"})"},
        {"{\"s\": \"\\b\\f\\n\\r\\t\\/\\\\\\q\\'\"}", R"({"s":"\b\f\n\r\t\u002F\\q'"})"},
        // A lone surrogate is "?", whichever half it is.
        {"{\"s\": \"\\ud800x\\udc00\\ud800\\u0041\"}", R"({"s":"\u003Fx\u003F\u003FA"})"},
        // Raw UTF-8 stays as it is and writes as its characters.
        {"{\"s\": \"ação €\"}", R"({"s":"a\u00E7\u00E3o\u0020\u20AC"})"},
    };
    for (const Caso& c : casos)
        EXPECT_EQ(Lido(c.texto), c.lido) << c.texto;
}

TEST(uJSON, SyntaxErrorsTable) {
    struct Caso {
        std::string texto;
        const char* motivo;
    };
    const Caso casos[] = {
        {"   ", "A TJSONObject must begin with \"{\""},
        {"[1]", "A TJSONObject must begin with \"{\""},
        {"{", "A TJSONObject must end with \"}\""},
        {"{\"a\":1,", "A TJSONObject must end with \"}\""},
        {"{\"a\" 1}", "Expected a \":\" after a key"},
        {"{\"a\"", "Expected a \":\" after a key"},
        {"{\"a\":1 \"b\":2}", "Expected a \",\" or \"}\""},
        {"{\"a\":[1 \"2\"]}", "Expected a \",\" or \"]\""},
        {"{\"a\":}", "Missing value."},
        {"{\"a\":1,;}", "Missing value."},
        {"{\"a\":/}", "Missing value."},
        {"{\"a\":\"x\ny\"}", "Unterminated string"},
        {"{\"a\":\"xy", "Unterminated string"},
        {"{\"a\":'x\ry'}", "Unterminated string"},
        {"{/* never closed", "Unclosed comment."},
        {"{\"a\":\"\\u12", "Substring bounds error"},
    };
    for (const Caso& c : casos)
        EXPECT_EQ(Motivo(c.texto), c.motivo) << c.texto;
    // A "\u" without four hexadecimal digits is the platform's conversion error.
    EXPECT_THROW(TJSONObject::CreateFromText("{\"a\":\"\\u12G4\"}"), rtl::EConvertError);
    EXPECT_EQ(ThrownMessage([] { TJSONObject::CreateFromText("{\"a\":\"\\u12G4\"}"); }),
              "'$12G4' is not a valid integer value");
    // The array's own check, for a tokener that is not at "[".
    JSONTokener t("{1}");
    EXPECT_EQ(ThrownMessage([&] { TJSONArray::Parse(t); }).substr(0, 34),
              "A TJSONArray must start with \"[\" a");
}

TEST(uJSON, TheComposedTextOfASyntaxError) {
    // Reason, the tokener's text, ten characters from the position (fewer at the end), then
    // LF CR and the position.
    const std::string texto = "{\"a\":1 \"b\":2}";
    try {
        TJSONObject::CreateFromText(texto);
        FAIL() << "no exception";
    } catch (const ParseException& e) {
        EXPECT_EQ(e.Message(),
                  "Expected a \",\" or \"}\" at character 9 of {\"a\":1 \"b\":2} próximo a : b\":2}\n\r"
                  " erro no caracter : 9");
        EXPECT_EQ(e.Position(), 9);
    }
    const std::string longo = "{\"a\":1 \"bcdefghijklmnop\":2}";
    EXPECT_EQ(ThrownMessage([&] { TJSONObject::CreateFromText(longo); }),
              "Expected a \",\" or \"}\" at character 9 of " + longo +
                  " próximo a : bcdefghijk\n\r erro no caracter : 9");
    // A text of blanks: the end is past the text, nothing follows it.
    EXPECT_EQ(
        ThrownMessage([] { TJSONObject::CreateFromText("   "); }),
        "A TJSONObject must begin with \"{\" at character 5 of     próximo a : \n\r erro no caracter : 5");
    // A directive-looking text is used literally.
    EXPECT_EQ(Motivo("{%s%d"), "Expected a \":\" after a key");
}

TEST(uJSON, NestingIsBoundedAt512) {
    const auto aninhado = [](int arrays) {
        return "{\"a\":" + std::string(size_t(arrays), '[') + std::string(size_t(arrays), ']') + "}";
    };
    // The object and 511 arrays: 512 open at once.
    const auto ok = TJSONObject::CreateFromText(aninhado(511));
    EXPECT_EQ(ok->toString(), aninhado(511));
    EXPECT_EQ(Motivo(aninhado(512)), "Nesting deeper than 512 levels.");
    // Far deeper texts fail the same way, without exhausting anything.
    EXPECT_EQ(Motivo("{\"a\":" + std::string(1'000'000, '[')), "Nesting deeper than 512 levels.");
    EXPECT_EQ(Motivo("{\"a\":" + std::string(100'000, '{')), "Nesting deeper than 512 levels.");
}

TEST(uJSON, ValuesAndTheirClasses) {
    const auto o = TJSONObject::CreateFromText(
        "{\"i\":-5, \"d\":2.75, \"t\":TRUE, \"f\":false, \"n\":null, \"s\":'x', \"o\":{\"k\":1}, "
        "\"a\":[1,,'z']}");
    const auto& i = dynamic_cast<const _Integer&>(o->GetValue("i"));
    EXPECT_EQ(i.intValue(), -5);
    EXPECT_EQ(i.doubleValue(), -5.0);
    const auto& d = dynamic_cast<const _Double&>(o->GetValue("d"));
    EXPECT_EQ(d.doubleValue(), 2.75);
    EXPECT_EQ(d.intValue(), 2);
    EXPECT_EQ(_Double(-2.7).intValue(), -2);
    EXPECT_EQ(_Double(1e12).intValue(), 2147483647);
    // The words give the shared constants; containers never free them.
    EXPECT_EQ(&o->GetValue("t"), &JSONTrue());
    EXPECT_EQ(&o->GetValue("f"), &JSONFalse());
    EXPECT_EQ(&o->GetValue("n"), &JSONNull());
    EXPECT_EQ(o->GetText("t"), "true");
    EXPECT_EQ(o->GetText("n"), "null");
    EXPECT_EQ(o->GetText("s"), "x");
    EXPECT_EQ(o->GetText("d"), "\"2.75\"");
    EXPECT_EQ(o->GetObjectValue("o").GetText("k"), "1");
    const auto& a = dynamic_cast<const TJSONArray&>(o->GetValue("a"));
    EXPECT_EQ(a.Length(), 3);
    EXPECT_EQ(a.Get(1), nullptr);
    EXPECT_EQ(a.Join(" | "), "1 | null | \"z\"");
    EXPECT_THROW(a.Get(3), rtl::EListError);
    EXPECT_EQ(o->Keys(), (std::vector<std::string>{"i", "d", "t", "f", "n", "s", "o", "a"}));
}

TEST(uJSON, LookupsIgnoreCaseAndFailWithTheirTexts) {
    const auto o =
        TJSONObject::CreateFromText("{\"status\":\"OK\", \"Status\":\"second\", \"n\":1, \"AÇÃO\":2}");
    EXPECT_EQ(o->GetText("Status"), "OK");  // the first member whose key matches
    EXPECT_EQ(o->GetText("STATUS"), "OK");
    EXPECT_EQ(o->GetText("ação"), "2");
    EXPECT_EQ(o->Length(), 4);
    EXPECT_EQ(o->Opt("missing"), nullptr);
    EXPECT_THROW(o->Opt(""), NullPointerException);
    EXPECT_EQ(ThrownMessage([&] { o->Opt(""); }), "Null key");
    EXPECT_THROW(o->GetValue("fileLocation"), NoSuchElementException);
    EXPECT_EQ(ThrownMessage([&] { o->GetText("fileLocation"); }), "TJSONObject[\"fileLocation\"] not found.");
    EXPECT_EQ(ThrownMessage([&] { o->GetText("a b"); }), "TJSONObject[\"a\\u0020b\"] not found.");
    EXPECT_EQ(ThrownMessage([&] { o->GetObjectValue("n"); }), "TJSONObject[\"n\"] is not a TJSONObject.");
}

TEST(uJSON, CloneAndEquals) {
    const auto o = TJSONObject::CreateFromText("{\"a\":[1,'x'],\"b\":{\"c\":true},\"d\":1.5}");
    const TJSONValue copia = o->clone();
    EXPECT_NE(copia.get(), o.get());
    // A clone is the object read back from its text: the float became its text.
    EXPECT_EQ(copia->toString(), "{\"a\":[1,\"x\"],\"b\":{\"c\":true},\"d\":\"1.50\"}");
    EXPECT_EQ(ThrownMessage([&] { o->GetValue("a").clone(); }), "Rotina Não Implementada");
    EXPECT_THROW(JSONNull().clone(), NotImplmentedFeature);
    EXPECT_THROW(JSONTokener("x").clone(), NotImplmentedFeature);
    // A clone of a shared constant is an object of its own.
    const TJSONValue t = JSONTrue().clone();
    EXPECT_NE(t.get(), &JSONTrue());
    EXPECT_EQ(t->toString(), "true");
    EXPECT_EQ(_Integer(4).clone()->toString(), "4");
    EXPECT_EQ(_String("s").clone()->toString(), "s");
    EXPECT_EQ(_Double(0.5).clone()->toString(), "\"0.50\"");

    const _String s1("Ab");
    const _String s2("Ab");
    const _String s3("ab");
    EXPECT_TRUE(s1.equals(&s2));
    EXPECT_FALSE(s1.equals(&s3));
    EXPECT_FALSE(s1.equals(nullptr));
    EXPECT_TRUE(JSONNull().equals(nullptr));
    NULL_JSON outro;
    EXPECT_TRUE(JSONNull().equals(&outro));
    EXPECT_FALSE(JSONNull().equals(&s1));
    const _Integer i1(1);
    const _Integer i2(1);
    EXPECT_TRUE(i1.equals(&i1));
    EXPECT_FALSE(i1.equals(&i2));  // identity, as every class without its own test
    const TZAbstractObject base;
    EXPECT_EQ(base.toString().rfind("TZAbstractObject <", 0), 0u) << base.toString();
}

TEST(uJSON, QuoteEscapesByCharacter) {
    struct Caso {
        std::string texto;
        const char* quoted;
    };
    const Caso casos[] = {
        {"", "\"\""},
        {"a b", "\"a\\u0020b\""},
        {"Az09!$'()*-.@_", "\"Az09!$'()*-.@_\""},
        {"\b\t\n\f\r", "\"\\b\\t\\n\\f\\r\""},
        {"\"\\", "\"\\\"\\\\\""},
        {"</a/b", "\"\\u003C\\/a\\u002Fb\""},
        {std::string("\x01\x1F\x7F", 3), "\"\\u0001\\u001F\\u007F\""},
        {"é€😀", "\"\\u00E9\\u20AC\\uD83D\\uDE00\""},
        // A byte that is not UTF-8 is its Latin-1 character.
        {"\xE9", "\"\\u00E9\""},
        {std::string("a\0b", 3), "\"a\\u0000b\""},
        {"#%&+,/:;=?[]{}",
         "\"\\u0023\\u0025\\u0026\\u002B\\u002C\\u002F\\u003A\\u003B\\u003D\\u003F\\u005B\\u005D\\u007B\\u007"
         "D\""},
    };
    for (const Caso& c : casos)
        EXPECT_EQ(Quote(c.texto), c.quoted) << c.texto;
    _String s("a/b");
    EXPECT_EQ(ValueToText(&s), "\"a\\u002Fb\"");
    EXPECT_EQ(ValueToText(nullptr), "null");
    EXPECT_EQ(ValueToText(&JSONNull()), "null");
    _Integer i(3);
    EXPECT_EQ(ValueToText(&i), "3");
}

TEST(uJSON, FloatTextHasTwoDecimalsRoundedHalfAwayFromZero) {
    struct Caso {
        double v;
        const char* texto;
    };
    const Caso casos[] = {
        {3.5, "\"3.50\""},
        {0.125, "\"0.13\""},  // exactly half: away from zero
        {-0.125, "\"-0.13\""},
        {2.675, "\"2.67\""},  // 2.67499999... as a double
        {0.995, "\"0.99\""},
        {99.999, "\"100.00\""},
        {-0.001, "\"0.00\""},
        {0.0, "\"0.00\""},
        {1e20, "\"100000000000000000000.00\""},
        {-1234567.891, "\"-1234567.89\""},
    };
    for (const Caso& c : casos)
        EXPECT_EQ(_Double(c.v).toString(), c.texto) << c.v;
}

TEST(uJSON, NumbersIgnoreTheWorkstationsDecimalSeparator) {
    const char antes = rtl::FormatSettings.DecimalSeparator;
    rtl::FormatSettings.DecimalSeparator = ',';
    const auto o = TJSONObject::CreateFromText("{\"a\": 1.5, \"b\": -2.25e1}");
    rtl::FormatSettings.DecimalSeparator = antes;
    EXPECT_EQ(dynamic_cast<const _Double&>(o->GetValue("a")).doubleValue(), 1.5);
    EXPECT_EQ(dynamic_cast<const _Double&>(o->GetValue("b")).doubleValue(), -22.5);
    EXPECT_EQ(o->toString(), "{\"a\":\"1.50\",\"b\":\"-22.50\"}");
}

TEST(uJSON, TokenerSteps) {
    JSONTokener t("ab");
    EXPECT_EQ(t.Next(), 'a');
    EXPECT_EQ(t.Next(), 'b');
    EXPECT_EQ(t.Next(), '\0');  // just past the end
    EXPECT_EQ(t.Position(), 4);
    EXPECT_EQ(t.Next(), '\0');  // beyond: the position stays
    EXPECT_EQ(t.Position(), 4);
    t.Back();
    t.Back();
    t.Back();
    t.Back();
    EXPECT_EQ(t.Position(), 1);  // never before the first character
    EXPECT_EQ(t.NextChars(1), "a");
    EXPECT_EQ(ThrownMessage([&] { t.NextChars(2); }).substr(0, 22), "Substring bounds error");
    EXPECT_EQ(t.toString(), " at character 2 of ab");
    JSONTokener vazio("");
    EXPECT_EQ(vazio.Next(), '\0');
    EXPECT_EQ(vazio.Position(), 2);
    JSONTokener barra("/x");
    EXPECT_EQ(barra.NextClean(), '/');
    EXPECT_EQ(barra.Position(), 2);
    JSONTokener valor("  'x' , 7");
    EXPECT_EQ(valor.NextValue()->toString(), "x");
    EXPECT_EQ(valor.NextClean(), ',');
    EXPECT_EQ(valor.NextValue()->toString(), "7");
}

}  // namespace

// The form text's floats and sets: the exact text written, the way back to the same value,
// the reader's refusals, and texts that do not change with the process's locale.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <spawn.h>
#include <sys/wait.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <locale>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "rtl/ClassRegistry.h"
#include "rtl/FormText.h"
#include "support/TestSupport.h"

extern char** environ;

namespace {

enum TOpcao : int32_t { opA, opB, opC, opD, opE };
using TOpcoes = rtl::EnumSet<TOpcao>;

const std::vector<std::string> kOpcoes = {"opA", "opB", "opC", "opD", "opE"};

// Two floats (Escala without a default, so 0; Fator with 1) and a set (Opcoes, with the
// default [opA, opB]).
class TMedida : public rtl::Component {
public:
    static const rtl::ComponentClass& ClassInfo() {
        using M = TMedida;
        static const rtl::ComponentClass info(
            "TMedida", &rtl::ComponentClassInfo(), [] { return std::make_unique<TMedida>(); },
            {rtl::FloatProperty<M>("Escala", &M::Escala, &M::SetEscala),
             rtl::FloatProperty<M>("Fator", &M::Fator, &M::SetFator, 1.0),
             rtl::SetProperty<M, TOpcao>("Opcoes", kOpcoes, &M::Opcoes, &M::SetOpcoes, TOpcoes{opA, opB})});
        return info;
    }
    const rtl::ComponentClass& ClassType() const override { return ClassInfo(); }

    double Escala() const { return escala_; }
    void SetEscala(double v) { escala_ = v; }
    double Fator() const { return fator_; }
    void SetFator(double v) { fator_ = v; }
    TOpcoes Opcoes() const { return opcoes_; }
    void SetOpcoes(TOpcoes v) { opcoes_ = v; }

private:
    double escala_ = 0;
    double fator_ = 1;
    TOpcoes opcoes_{opA, opB};
};

// With a second set, Marcas, that has no default: always written.
class TMarcado : public TMedida {
public:
    static const rtl::ComponentClass& ClassInfo() {
        using M = TMarcado;
        static const rtl::ComponentClass info(
            "TMarcado", &TMedida::ClassInfo(), [] { return std::make_unique<TMarcado>(); },
            {rtl::SetProperty<M, TOpcao>("Marcas", kOpcoes, &M::Marcas, &M::SetMarcas)});
        return info;
    }
    const rtl::ComponentClass& ClassType() const override { return ClassInfo(); }

    TOpcoes Marcas() const { return marcas_; }
    void SetMarcas(TOpcoes v) { marcas_ = v; }

private:
    TOpcoes marcas_;
};

// A set of 32 values, the most a set property holds: the last one is the sign bit of the
// 32-bit value the registry passes on.
enum TBit : int32_t {};
class TLargo : public rtl::Component {
public:
    static std::vector<std::string> Ids() {
        std::vector<std::string> ids;
        for (int i = 0; i < 32; ++i)
            ids.push_back("b" + std::to_string(i));
        return ids;
    }
    static const rtl::ComponentClass& ClassInfo() {
        static const rtl::ComponentClass info(
            "TLargo", &rtl::ComponentClassInfo(), [] { return std::make_unique<TLargo>(); },
            {rtl::SetProperty<TLargo, TBit>("Bits", Ids(), &TLargo::Bits, &TLargo::SetBits,
                                            rtl::EnumSet<TBit>{})});
        return info;
    }
    const rtl::ComponentClass& ClassType() const override { return ClassInfo(); }
    rtl::EnumSet<TBit> Bits() const { return bits_; }
    void SetBits(rtl::EnumSet<TBit> v) { bits_ = v; }

private:
    rtl::EnumSet<TBit> bits_;
};

class FormText : public ::testing::Test {
protected:
    void SetUp() override {
        for (const rtl::ComponentClass* c :
             {&TMedida::ClassInfo(), &TMarcado::ClassInfo(), &TLargo::ClassInfo()})
            rtl::RegisterClass(*c);
    }
    void TearDown() override {
        for (const rtl::ComponentClass* c :
             {&TMedida::ClassInfo(), &TMarcado::ClassInfo(), &TLargo::ClassInfo()})
            rtl::UnRegisterClass(*c);
    }

    static std::string Texto(const std::string& linhas) { return "object TMedida\r\n" + linhas + "end\r\n"; }
    static std::unique_ptr<TMedida> Ler(const std::string& texto) {
        std::unique_ptr<rtl::Component> c = rtl::TextToComponent(texto);
        auto* m = dynamic_cast<TMedida*>(c.get());
        if (m == nullptr) throw std::runtime_error("not a TMedida");
        c.release();
        return std::unique_ptr<TMedida>(m);
    }
};

// Bit for bit: -0.0 and 0.0 differ, and a NaN would not equal itself.
bool SameDouble(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(FormText, FloatsAreWrittenInTheFewestDigitsThatReadBack) {
    struct Case {
        const char* name;
        double value;
        const char* text;
    };
    const Case cases[] = {
        {"a fraction", 1.5, "1.5"},
        {"money", 9999.99, "9999.99"},
        {"integral: no separator", 100, "100"},
        {"negative", -0.001, "-0.001"},
        {"not exact in binary", 0.1 + 0.2, "0.30000000000000004"},
        {"smallest plain", 1e-5, "0.00001"},
        {"one past: exponent", 1.5e-6, "1.5E-6"},
        {"largest plain", 999999999999999.0, "999999999999999"},
        {"one past: exponent", 1e15, "1E15"},
        {"large with digits", -1.2345e20, "-1.2345E20"},
        {"largest double", DBL_MAX, "1.7976931348623157E308"},
        {"smallest normal", DBL_MIN, "2.2250738585072014E-308"},
        {"smallest subnormal", std::numeric_limits<double>::denorm_min(), "5E-324"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMedida m;
        m.SetEscala(c.value);
        const std::string texto = rtl::ComponentToText(m);
        EXPECT_EQ(texto, Texto(std::string("  Escala = ") + c.text + "\r\n"));
        const auto lido = Ler(texto);
        EXPECT_TRUE(SameDouble(lido->Escala(), c.value)) << lido->Escala();
        EXPECT_EQ(rtl::ComponentToText(*lido), texto);
    }
}

TEST_F(FormText, AFloatEqualToItsDefaultIsNotWritten) {
    TMedida m;
    EXPECT_EQ(rtl::ComponentToText(m), Texto(""));
    m.SetEscala(-0.0);  // equal to 0
    EXPECT_EQ(rtl::ComponentToText(m), Texto(""));
    m.SetFator(0);  // not Fator's default: written, also as 0
    m.SetEscala(2);
    EXPECT_EQ(rtl::ComponentToText(m), Texto("  Escala = 2\r\n  Fator = 0\r\n"));
    const auto lido = Ler(rtl::ComponentToText(m));
    EXPECT_EQ(lido->Fator(), 0.0);
    EXPECT_EQ(lido->Escala(), 2.0);
    // Absent from the text, a float keeps its default.
    EXPECT_EQ(Ler(Texto(""))->Fator(), 1.0);
}

TEST_F(FormText, NoNumberAndInfiniteFloatsAreNotWritten) {
    struct Case {
        double value;
        const char* message;
    };
    const Case cases[] = {
        {std::numeric_limits<double>::quiet_NaN(), "Invalid value NAN of property Escala"},
        {std::numeric_limits<double>::infinity(), "Invalid value INF of property Escala"},
        {-std::numeric_limits<double>::infinity(), "Invalid value -INF of property Escala"},
    };
    for (const Case& c : cases) {
        TMedida m;
        m.SetEscala(c.value);
        EXPECT_THROW(rtl::ComponentToText(m), rtl::EWriteError);
        EXPECT_EQ(kwtest::ThrownMessage([&] { rtl::ComponentToText(m); }), c.message);
    }
}

TEST_F(FormText, TheReaderTakesTheFloatsAnotherWriterMayUse) {
    struct Case {
        std::string text;
        double value;
    };
    const Case cases[] = {
        {"+1.50e+003", 1500},
        {"1E3", 1000},
        {"2.5e-3", 0.0025},
        {"-0.5", -0.5},
        {"00012.5000", 12.5},
        {"100.000000000000000000", 100},  // trailing zeros of a fixed-point writer
        {"7", 7},                         // an integer where a float is expected
        {"-2147483649", -2147483649.0},   // past 32 bits: still a float
        {"123456789012345678901234567890", 123456789012345678901234567890.0},
        {"$10", 16},
        {"1.7976931348623157e308", DBL_MAX},
        {"4.9406564584124654e-324", std::numeric_limits<double>::denorm_min()},
        {"0." + std::string(400, '0') + "1e401", 1},  // many digits, exponent brings it back
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto lido = Ler(Texto("  Escala = " + c.text + "\r\n"));
        EXPECT_TRUE(SameDouble(lido->Escala(), c.value)) << lido->Escala();
    }
    // A negative zero reads as such and, equal to the default, is not written.
    const auto zero = Ler(Texto("  Escala = -0\r\n"));
    EXPECT_TRUE(std::signbit(zero->Escala()));
    EXPECT_EQ(rtl::ComponentToText(*zero), Texto(""));
}

TEST_F(FormText, TheReaderRefusesBrokenAndUnrepresentableFloats) {
    struct Case {
        const char* name;
        std::string value;
        const char* message;
    };
    const char* invalid = "Error reading Escala: Invalid property value";
    const Case cases[] = {
        {"exponent without digits", "1e", "Invalid floating-point number on line 2"},
        {"exponent sign without digits", "1e+", "Invalid floating-point number on line 2"},
        {"separator without digits", "1.", "Invalid floating-point number on line 2"},
        {"separator, then exponent", "1.e5", "Invalid floating-point number on line 2"},
        {"two separators", "1.5.2", "Identifier expected on line 2"},
        {"comma as separator", "1,5", "Identifier expected on line 2"},
        {"past the largest double", "1.8e308", invalid},
        {"past it, negative", "-1e400", invalid},
        {"too small for anything but zero", "1e-400", invalid},
        {"huge exponent", "1e99999999999999999999999999", invalid},
        {"huge negative exponent", "1e-99999999999999999999999999", invalid},
        {"an integer past the range", "1" + std::string(400, '0'), invalid},
        {"a hexadecimal integer past the range", "$FFFFFFFFFFFFFFFFFFFF", invalid},
        {"no number", "NAN", invalid},
        {"infinite", "INF", invalid},
        {"a text", "'1.5'", invalid},
        {"a set", "[opA]", invalid},
        {"nothing", "", "Error reading Escala: Invalid property value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string texto = Texto("  Escala = " + c.value + "\r\n");
        EXPECT_EQ(kwtest::ThrownMessage([&] { rtl::TextToComponent(texto); }), c.message);
    }
}

TEST_F(FormText, SetsAreIdentifiersInOrdinalOrder) {
    struct Case {
        const char* name;
        TOpcoes opcoes;
        TOpcoes marcas;
        const char* linhas;
    };
    const Case cases[] = {
        {"defaults: only the set without one", {opA, opB}, {}, "  Marcas = []\r\n"},
        {"empty", {}, {opE}, "  Opcoes = []\r\n  Marcas = [opE]\r\n"},
        {"one", {opC}, {opA}, "  Opcoes = [opC]\r\n  Marcas = [opA]\r\n"},
        {"all, in ordinal order",
         {opE, opA, opD, opB, opC},
         {opB, opA},
         "  Opcoes = [opA, opB, opC, opD, opE]\r\n  Marcas = [opA, opB]\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMarcado m;
        m.SetOpcoes(c.opcoes);
        m.SetMarcas(c.marcas);
        const std::string texto = rtl::ComponentToText(m);
        EXPECT_EQ(texto, std::string("object TMarcado\r\n") + c.linhas + "end\r\n");
        const auto lido = rtl::TextToComponent(texto);
        const auto& l = dynamic_cast<const TMarcado&>(*lido);
        EXPECT_EQ(l.Opcoes(), c.opcoes);
        EXPECT_EQ(l.Marcas(), c.marcas);
        EXPECT_EQ(rtl::ComponentToText(l), texto);
    }

    // Any order, any case, repeated, blanks and line breaks between the pieces.
    const auto lido = Ler(Texto("  Opcoes = [ OPC,opa , opC,\r\n    opA ]\r\n"));
    EXPECT_EQ(lido->Opcoes(), (TOpcoes{opA, opC}));
    EXPECT_EQ(rtl::ComponentToText(*lido), Texto("  Opcoes = [opA, opC]\r\n"));
    // Absent from the text, a set keeps its default.
    EXPECT_EQ(Ler(Texto(""))->Opcoes(), (TOpcoes{opA, opB}));

    // A value past the identifiers cannot be written.
    TMedida m;
    m.SetOpcoes(TOpcoes::FromMask(0x21));
    EXPECT_EQ(kwtest::ThrownMessage([&] { rtl::ComponentToText(m); }), "Invalid value 32 of property Opcoes");
}

TEST_F(FormText, TheReaderRefusesBrokenSets) {
    struct Case {
        const char* name;
        const char* texto;
        const char* message;
    };
    const char* invalid = "Error reading Opcoes: Invalid property value";
    const Case cases[] = {
        {"unknown identifier", "  Opcoes = [opNope]\r\n", invalid},
        {"unknown after known ones", "  Opcoes = [opA, opB, opZ]\r\n", invalid},
        {"a quoted identifier", "  Opcoes = ['opA']\r\n", "Identifier expected on line 2"},
        {"nested", "  Opcoes = [[opA]]\r\n", "Identifier expected on line 2"},
        {"nested, empty", "  Opcoes = [[\r\n", "Identifier expected on line 2"},
        {"unclosed", "  Opcoes = [opC\r\nend\r\n", "',' expected on line 3"},
        {"unclosed at the end of the text", "  Opcoes = [opC", "',' expected on line 2"},
        {"open at the end of the text", "  Opcoes = [", "Identifier expected on line 2"},
        {"trailing comma", "  Opcoes = [opA,]\r\n", "Identifier expected on line 2"},
        {"leading comma", "  Opcoes = [,opA]\r\n", "Identifier expected on line 2"},
        {"no comma", "  Opcoes = [opA opB]\r\n", "',' expected on line 2"},
        {"no brackets", "  Opcoes = opA\r\n", invalid},
        {"a number", "  Opcoes = 3\r\n", invalid},
        {"an enumeration's value where a set is expected", "  Opcoes = (opA)\r\n", invalid},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The texts that end early carry no "end".
        std::string texto = std::string("object TMedida\r\n") + c.texto;
        if (texto.ends_with("\r\n") && std::string(c.texto).find("end") == std::string::npos)
            texto += "end\r\n";
        EXPECT_EQ(kwtest::ThrownMessage([&] { rtl::TextToComponent(texto); }), c.message);
    }
}

TEST_F(FormText, ASetHoldsUpToThirtyTwoValues) {
    TLargo l;
    l.SetBits(rtl::EnumSet<TBit>{TBit(0), TBit(31)});
    const std::string texto = rtl::ComponentToText(l);
    EXPECT_EQ(texto, "object TLargo\r\n  Bits = [b0, b31]\r\nend\r\n");
    const auto lido = rtl::TextToComponent(texto);
    EXPECT_EQ(dynamic_cast<TLargo&>(*lido).Bits().Mask(), 0x80000001u);
    EXPECT_EQ(rtl::ComponentToText(*lido), texto);

    // One more identifier cannot be declared.
    std::vector<std::string> ids = TLargo::Ids();
    ids.push_back("b32");
    EXPECT_EQ(kwtest::ThrownMessage(
                  [&] { rtl::SetProperty<TLargo, TBit>("Bits", ids, &TLargo::Bits, &TLargo::SetBits); }),
              "A set property has at most 32 values");
}

// A C library locale whose decimal separator is a comma: an installed one when there is one,
// else one built for the test from a definition of its numbers alone by localedef, which
// comes with the C library itself. Empty when neither works.
class CommaLocale {
public:
    CommaLocale() {
        for (const char* name : {"pt_BR.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8", "es_ES.UTF-8", "it_IT.UTF-8"}) {
            if (Take(newlocale(LC_NUMERIC_MASK, name, locale_t(nullptr)))) {
                description_ = name;
                return;
            }
        }
        kwtest::WriteFile(dir_ / "virgula.def",
                          "LC_NUMERIC\n"
                          "decimal_point \"<U002C>\"\n"
                          "thousands_sep \"<U002E>\"\n"
                          "grouping 3;3\n"
                          "END LC_NUMERIC\n");
        const std::string def = (dir_ / "virgula.def").string();
        const std::string out = (dir_ / "virgula").string();
        // -c: the other categories are missing on purpose; localedef warns and writes anyway.
        const char* argv[] = {"localedef", "-c", "-i", def.c_str(), out.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int spawned =
            posix_spawnp(&pid, "localedef", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) return;
        int status = 0;
        waitpid(pid, &status, 0);
        const kwtest::ScopedEnv locpath("LOCPATH", dir_.path().string());
#if defined(__SANITIZE_ADDRESS__)
        // The C library splits LOCPATH into a list it never frees: not a leak of ours.
        __lsan_disable();
#endif
        const locale_t built = newlocale(LC_NUMERIC_MASK, "virgula", locale_t(nullptr));
#if defined(__SANITIZE_ADDRESS__)
        __lsan_enable();
#endif
        if (Take(built)) description_ = "built by localedef";
    }
    ~CommaLocale() {
        if (locale_ != locale_t(nullptr)) freelocale(locale_);
    }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    locale_t get() const { return locale_; }
    const std::string& description() const { return description_; }

private:
    bool Take(locale_t l) {
        if (l == locale_t(nullptr)) return false;
        if (std::string(nl_langinfo_l(RADIXCHAR, l)) != ",") {
            freelocale(l);
            return false;
        }
        locale_ = l;
        return true;
    }

    kwtest::TempDir dir_;
    locale_t locale_ = locale_t(nullptr);
    std::string description_;
};

// The C++ side's comma: what a stream would write.
struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST_F(FormText, TheLocaleDoesNotChangeTheText) {
    const CommaLocale comma;
    const locale_t before = uselocale(comma.get() != locale_t(nullptr) ? comma.get() : LC_GLOBAL_LOCALE);
    const std::locale cppBefore = std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
    struct Restore {
        locale_t c;
        std::locale cpp;
        ~Restore() {
            uselocale(c);
            std::locale::global(cpp);
        }
    } restore{before, cppBefore};

    if (comma.get() != locale_t(nullptr)) {
        // The comma is in force: a formatter that followed the locale would be caught.
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.2f", 1234.5);
        EXPECT_STREQ(buf, "1234,50");
        RecordProperty("c_locale", comma.description());
    } else {
        RecordProperty("c_locale", "C (no comma-decimal locale available)");
        std::printf("note: no comma-decimal C locale available; the C library's side runs in the C locale\n");
    }
    std::ostringstream stream;
    stream << 1234.5;
    EXPECT_EQ(stream.str(), "1.234,5");

    TMedida m;
    m.SetEscala(1234.5);
    m.SetFator(-1.5e-7);
    const std::string texto = rtl::ComponentToText(m);
    EXPECT_EQ(texto, Texto("  Escala = 1234.5\r\n  Fator = -1.5E-7\r\n"));
    const auto lido = Ler(Texto("  Escala = 2.25\r\n  Fator = 1.5e3\r\n"));
    EXPECT_EQ(lido->Escala(), 2.25);
    EXPECT_EQ(lido->Fator(), 1500.0);
    // The locale's own form is not a float of the text.
    EXPECT_EQ(kwtest::ThrownMessage([&] { rtl::TextToComponent(Texto("  Escala = 2,25\r\n")); }),
              "Identifier expected on line 2");
}

}  // namespace

// The JSON reader against Python's json module: standard documents (written by hand, as the
// download server answers, and made at random from fixed seeds: escapes, surrogate pairs, raw
// UTF-8, integers past 32 bits, floats with exponents, nesting, every kind of blank) are read
// by both, and each tree is written in one canonical form (numbers as %.17g of their double,
// texts as the hex of their UTF-8 bytes, keys in order) and compared line by line.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "rtl/Unicode.h"
#include "support/TestSupport.h"
#include "transfer/uJSON.h"

namespace {

namespace fs = std::filesystem;

const char* const kCanonicoPython = R"(
import json, sys
def c(v):
    if v is None: return "z"
    if v is True: return "t"
    if v is False: return "f"
    if isinstance(v, (int, float)): return "n:%.17g" % float(v)
    if isinstance(v, str): return "s:" + v.encode("utf-8").hex()
    if isinstance(v, list): return "[" + ",".join(c(x) for x in v) + "]"
    return "{" + ",".join("s:" + k.encode("utf-8").hex() + "=" + c(x) for k, x in v.items()) + "}"
docs = open(sys.argv[1], "rb").read().split(b"\0")
with open(sys.argv[2], "w") as out:
    for d in docs:
        out.write(c(json.loads(d.decode("utf-8"))) + "\n")
)";

std::string Hexa(const std::string& s) {
    static constexpr char k[] = "0123456789abcdef";
    std::string r;
    for (unsigned char b : s) {
        r += k[b >> 4];
        r += k[b & 15];
    }
    return r;
}

std::string Numero(double v) {
    char b[40];
    std::snprintf(b, sizeof b, "%.17g", v);
    return std::string("n:") + b;
}

std::string Canonico(const TZAbstractObject* v) {
    if (v == nullptr || v == &JSONNull()) return "z";
    if (v == &JSONTrue()) return "t";
    if (v == &JSONFalse()) return "f";
    if (const auto* n = dynamic_cast<const _Number*>(v)) return Numero(n->doubleValue());
    if (const auto* a = dynamic_cast<const TJSONArray*>(v)) {
        std::string r = "[";
        for (int32_t i = 0; i < a->Length(); ++i)
            r += (i ? "," : "") + Canonico(a->Get(i));
        return r + "]";
    }
    if (const auto* o = dynamic_cast<const TJSONObject*>(v)) {
        std::string r = "{";
        bool primeiro = true;
        for (const auto& [chave, valor] : o->Members()) {
            r += (primeiro ? "s:" : ",s:") + Hexa(chave) + "=" + Canonico(valor.get());
            primeiro = false;
        }
        return r + "}";
    }
    return "s:" + Hexa(v->toString());
}

// Standard JSON made at random from a seed.
class Gerador {
public:
    explicit Gerador(uint32_t semente) : rng_(semente) {}

    std::string Documento() { return Objeto(0); }

private:
    int Ate(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    std::string Branco() {
        static const char* const kBrancos[] = {"", "", " ", "\t", "\n", "\r\n", "  \n\t "};
        return kBrancos[Ate(7)];
    }

    std::string Texto() {
        std::string r = "\"";
        const int n = Ate(12);
        for (int i = 0; i < n; ++i) {
            switch (Ate(9)) {
                case 0:
                    r += "\\\"";
                    break;
                case 1:
                    r += "\\\\";
                    break;
                case 2: {
                    static const char* const kEscapes[] = {"\\n", "\\t", "\\r", "\\b", "\\f", "\\/"};
                    r += kEscapes[Ate(6)];
                    break;
                }
                case 3: {  // \uXXXX of a character of the BMP that is no surrogate
                    uint32_t u = uint32_t(Ate(0xFFFF) + 1);
                    if (u >= 0xD800 && u <= 0xDFFF) u -= 0x1000;
                    char b[8];
                    std::snprintf(b, sizeof b, Ate(2) ? "\\u%04x" : "\\u%04X", u);
                    r += b;
                    break;
                }
                case 4: {  // a surrogate pair
                    const uint32_t cp = 0x10000 + uint32_t(Ate(0xFFFFF));
                    char b[16];
                    std::snprintf(b, sizeof b, "\\u%04X\\u%04x", 0xD800 + ((cp - 0x10000) >> 10),
                                  0xDC00 + ((cp - 0x10000) & 0x3FF));
                    r += b;
                    break;
                }
                case 5: {  // a raw character outside ASCII
                    static const char32_t kBrutos[] = {U'é', U'ç', U'€', U'日', U'😀', U'\u00A0', U'\u2028'};
                    rtl::AppendUtf8(r, kBrutos[Ate(7)]);
                    break;
                }
                default:
                    r += char(' ' + 1 + Ate(94));
                    if (r.back() == '"' || r.back() == '\\') r.back() = 'x';
            }
        }
        return r + "\"";
    }

    std::string Numeral() {
        char b[64];
        switch (Ate(6)) {
            case 0:
                std::snprintf(b, sizeof b, "%d", Ate(2000) - 1000);
                break;
            case 1:
                std::snprintf(b, sizeof b, "%" PRId64, int64_t(rng_()) * (Ate(2) ? 1 : -1));
                break;
            case 2:
                std::snprintf(b, sizeof b, "%" PRId64, (int64_t(rng_()) << 21) * (Ate(2) ? 1 : -1));
                break;
            case 3:
                std::snprintf(b, sizeof b, "%s%d.%d", Ate(2) ? "-" : "", Ate(1000), Ate(100000));
                break;
            case 4:
                std::snprintf(b, sizeof b, "%d.%de%s%d", Ate(10), Ate(1000),
                              Ate(2) ? "-" : (Ate(2) ? "+" : ""), Ate(300));
                break;
            default: {
                static const char* const kFixos[] = {"0",          "-0",         "0.5",        "-0.0",
                                                     "0e5",        "1E2",        "2147483647", "-2147483648",
                                                     "2147483648", "4294967295", "1e-320"};
                return kFixos[Ate(11)];
            }
        }
        return b;
    }

    std::string Valor(int nivel) {
        const int escolha = nivel < 6 ? Ate(9) : Ate(6);
        switch (escolha) {
            case 0:
            case 1:
                return Texto();
            case 2:
            case 3:
                return Numeral();
            case 4:
                return Ate(2) ? "true" : "false";
            case 5:
                return "null";
            case 6:
            case 7:
                return Lista(nivel + 1);
            default:
                return Objeto(nivel + 1);
        }
    }

    std::string Lista(int nivel) {
        std::string r = "[" + Branco();
        const int n = Ate(5);
        for (int i = 0; i < n; ++i)
            r += (i ? "," + Branco() : "") + Valor(nivel) + Branco();
        return r + "]";
    }

    std::string Objeto(int nivel) {
        std::string r = Branco() + "{" + Branco();
        const int n = Ate(6);
        for (int i = 0; i < n; ++i) {
            // Keys differ (Python keeps only the last of equal keys).
            std::string chave = Texto();
            chave.insert(1, "k" + std::to_string(i) + "_");
            r += (i ? "," + Branco() : "") + chave + Branco() + ":" + Branco() + Valor(nivel) + Branco();
        }
        return r + "}" + Branco();
    }

    std::mt19937 rng_;
};

TEST(uJSONPeer, StandardDocumentsReadAsPythonReadsThem) {
    KW_REQUIRE_PEER(fs::exists("/usr/bin/python3"), "python3");
    std::vector<std::string> docs = {
        R"({"access_token":"eyJhbGciOi.x-y_z","token_type":"bearer","expires_in":43199,"scope":"read write"})",
        R"({"fileLocation":{"isFile":true,"url":"http://127.0.0.1:8080/files/KWEXEC.EXE_4.0.8.7","status":null},
            "patchResponse":{"status":"PATCH_SOURCE_DOES_NOT_EXISTS"}})",
        R"({"timeout": 60, "pollingTime": 5, "extra": [1.5, -2e-3, 1E+2, {"deep": [[[]], {}]}]})",
        R"({"s": "\u00e9\u00E7 \ud83d\ude00 \u2028 \/ \"q\" \\ \b\f\n\r\t", "e": "", "u": "日本語"})",
        R"({"big": 9007199254740993, "neg": -9007199254740992, "f": 0.1, "g": 1.7976931348623157e308})",
        "{\"deep\":" + std::string(200, '[') + std::string(200, ']') + "}",
    };
    for (uint32_t semente = 1; semente <= 300; ++semente)
        docs.push_back(Gerador(semente).Documento());

    kwtest::TempDir dir;
    std::string tudo;
    for (size_t i = 0; i < docs.size(); ++i)
        tudo += (i ? std::string(1, '\0') : std::string()) + docs[i];
    kwtest::WriteFile(dir / "docs", tudo);
    kwtest::WriteFile(dir / "canon.py", kCanonicoPython);
    plat::ProcessOptions o;
    o.wait = true;
    o.output = plat::ProcessOutput::Capture;
    const plat::ProcessResult r = plat::StartProcess(
        "/usr/bin/python3",
        {(dir / "canon.py").string(), (dir / "docs").string(), (dir / "python.txt").string()}, o);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string python = kwtest::ReadFile(dir / "python.txt");

    size_t inicio = 0;
    for (size_t i = 0; i < docs.size(); ++i) {
        const size_t fim = python.find('\n', inicio);
        ASSERT_NE(fim, std::string::npos) << "Python wrote fewer lines than documents";
        const std::string esperado = python.substr(inicio, fim - inicio);
        inicio = fim + 1;
        std::string nosso;
        try {
            const auto o = TJSONObject::CreateFromText(docs[i]);
            nosso = Canonico(o.get());
        } catch (const std::exception& e) {
            nosso = std::string("exception: ") + e.what();
        }
        EXPECT_EQ(nosso, esperado) << "document " << i << ": " << docs[i];
    }
    EXPECT_EQ(inicio, python.size()) << "Python wrote more lines than documents";
}

}  // namespace

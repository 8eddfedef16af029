// transfer/uJSON.cpp: the tokener, the container parser (a state machine over a stack of open
// containers), the value classes and the writers.
#include "transfer/uJSON.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "rtl/Text.h"
#include "rtl/Unicode.h"

namespace {

bool EhDigito(char c) {
    return c >= '0' && c <= '9';
}

int ValorHexa(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Hexadecimal digits (any case) into 32 bits, wrapping; false for an empty text or any
// other character.
bool LeiaHexa(std::string_view s, uint32_t& valor) {
    if (s.empty()) return false;
    valor = 0;
    for (char c : s) {
        const int d = ValorHexa(c);
        if (d < 0) return false;
        valor = valor * 16 + uint32_t(d);
    }
    return true;
}

// Octal digits into 32 bits, wrapping as the hexadecimal reading does.
bool LeiaOctal(std::string_view s, uint32_t& valor) {
    if (s.empty()) return false;
    valor = 0;
    for (char c : s) {
        if (c < '0' || c > '7') return false;
        valor = valor * 8 + uint32_t(c - '0');
    }
    return true;
}

// A decimal float: [+-] (digits [. [digits]] | . digits) [(e|E) [+-] digits], "." whatever the
// workstation's separator. A value too large for a double is no float (the word stays a
// string); one too small is zero.
bool LeiaReal(std::string_view s, double& valor) {
    size_t i = 0;
    bool negativo = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negativo = s[i++] == '-';
    const size_t inicio = i;
    size_t digitos = 0;
    while (i < s.size() && EhDigito(s[i]))
        ++i, ++digitos;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && EhDigito(s[i]))
            ++i, ++digitos;
    }
    if (digitos == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        size_t expoente = 0;
        while (i < s.size() && EhDigito(s[i]))
            ++i, ++expoente;
        if (expoente == 0) return false;
    }
    if (i != s.size()) return false;
    // from_chars reads neither a "+" nor a lone "." before digits in every form; the text is
    // already known to be well formed, so hand it the unsigned part.
    std::string corpo(s.substr(inicio));
    if (corpo[0] == '.') corpo.insert(corpo.begin(), '0');
    double v = 0;
    const auto r = std::from_chars(corpo.data(), corpo.data() + corpo.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
        // Out of range: too large (no float) or too small (zero), told by the exponent's sign.
        const size_t e = corpo.find_first_of("eE");
        if (e == std::string::npos || corpo[e + 1] != '-') return false;
        v = 0;
    } else if (r.ec != std::errc() || r.ptr != corpo.data() + corpo.size()) {
        return false;
    }
    valor = negativo ? -v : v;
    return true;
}

// The escape text of one character for Quote.
void EscapeCaractere(std::string& out, char32_t cp, char32_t anterior) {
    switch (cp) {
        case 8:
            out += "\\b";
            return;
        case 9:
            out += "\\t";
            return;
        case 10:
            out += "\\n";
            return;
        case 12:
            out += "\\f";
            return;
        case 13:
            out += "\\r";
            return;
        case '"':
            out += "\\\"";
            return;
        case '\\':
            out += "\\\\";
            return;
        default:
            break;
    }
    if (cp == '/' && anterior == '<') {
        out += "\\/";
        return;
    }
    const bool simples = (cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z') || (cp >= '0' && cp <= '9') ||
                         cp == '!' || cp == '$' || cp == '\'' || cp == '(' || cp == ')' || cp == '*' ||
                         cp == '-' || cp == '.' || cp == '@' || cp == '_';
    if (simples) {
        out += char(cp);
        return;
    }
    static constexpr char kHexa[] = "0123456789ABCDEF";
    const auto unidade = [&](uint32_t u) {
        out += "\\u";
        for (int s = 12; s >= 0; s -= 4)
            out += kHexa[(u >> s) & 0xF];
    };
    if (cp > 0xFFFF) {
        const uint32_t v = uint32_t(cp) - 0x10000;
        unidade(0xD800 + (v >> 10));
        unidade(0xDC00 + (v & 0x3FF));
    } else {
        unidade(uint32_t(cp));
    }
}

// ---- The container parser ------------------------------------------------------------------
//
// Each open container is a frame in one of these states; the machine looks at the frame on
// top, reads what that state expects and moves it on. A value that opens a container pushes a
// frame; a frame that closes is delivered to the frame below in the state that asked for it
// (a key, a member's value or an element).
enum class State {
    ObjectStart,   // expects "{"
    ObjectKey,     // expects a key or "}"
    ObjectColon,   // expects ":", "=" or "=>"
    ObjectValue,   // expects the member's value
    ObjectNext,    // expects "," / ";" (then a key or "}") or "}"
    ArrayStart,    // expects "[" (then "]" or an element)
    ArrayElement,  // expects an element or "," (an empty slot)
    ArrayNext,     // expects "," / ";" (then an element or "]") or "]"
};

struct Frame {
    State state;
    std::unique_ptr<TJSONObject> object;
    std::unique_ptr<TJSONArray> array;
    std::string key;
};

}  // namespace

// ---- Shared constants ----------------------------------------------------------------------

_Boolean& JSONTrue() {
    static _Boolean* const constante = new _Boolean(true);  // lives for the whole run
    return *constante;
}

_Boolean& JSONFalse() {
    static _Boolean* const constante = new _Boolean(false);
    return *constante;
}

NULL_JSON& JSONNull() {
    static NULL_JSON* const constante = new NULL_JSON();
    return *constante;
}

void TJSONValueDeleter::operator()(TZAbstractObject* value) const {
    if (value == &JSONTrue() || value == &JSONFalse() || value == &JSONNull()) return;
    delete value;
}

TJSONValue SharedJSONValue(TZAbstractObject& constant) {
    return TJSONValue(&constant);
}

// ---- TZAbstractObject ----------------------------------------------------------------------

bool TZAbstractObject::equals(const TZAbstractObject* other) const {
    return other == this;
}

TJSONValue TZAbstractObject::clone() const {
    throw NotImplmentedFeature("Rotina Não Implementada");
}

std::string TZAbstractObject::toString() const {
    return std::string(ClassName()) + " <" + rtl::IntToHex(uint64_t(uintptr_t(this)), 2 * sizeof(void*)) +
           ">";
}

// ---- JSONTokener ---------------------------------------------------------------------------

JSONTokener::JSONTokener(std::string text) : text_(std::move(text)) {}

char JSONTokener::Next() {
    const int64_t tamanho = int64_t(text_.size());
    if (position_ > tamanho + 1) return 0;
    const char c = position_ <= tamanho ? text_[size_t(position_ - 1)] : '\0';
    ++position_;
    return c;
}

void JSONTokener::Back() {
    if (position_ > 1) --position_;
}

std::string JSONTokener::NextChars(int32_t n) {
    if (int64_t(position_) + n > int64_t(text_.size())) throw SyntaxError("Substring bounds error");
    std::string r = text_.substr(size_t(position_ - 1), size_t(n));
    position_ += n;
    return r;
}

char JSONTokener::NextClean() {
    for (;;) {
        char c = Next();
        if (c == '/') {
            const char d = Next();
            if (d == '/') {
                do
                    c = Next();
                while (c != 0 && c != '\n' && c != '\r');
            } else if (d == '*') {
                for (;;) {
                    c = Next();
                    if (c == 0) throw SyntaxError("Unclosed comment.");
                    if (c == '*') {
                        if (Next() == '/') break;
                        Back();
                    }
                }
            } else {
                Back();
                return '/';
            }
        } else if (c == '#') {
            do
                c = Next();
            while (c != 0 && c != '\n' && c != '\r');
        } else if (c == 0 || uint8_t(c) > ' ') {
            return c;
        }
    }
}

void JSONTokener::AppendUnicodeEscape(std::string& out) {
    const auto unidade = [this]() {
        const std::string digitos = NextChars(4);
        uint32_t u = 0;
        if (!LeiaHexa(digitos, u))
            throw rtl::EConvertError("'$" + digitos + "' is not a valid integer value");
        return u;
    };
    const uint32_t u = unidade();
    if (u >= 0xD800 && u <= 0xDBFF) {
        // A high surrogate joins the low one escaped right after it into one character.
        const int32_t volta = position_;
        if (Next() == '\\' && Next() == 'u') {
            const std::string_view resto = std::string_view(text_).substr(size_t(position_ - 1));
            uint32_t baixa = 0;
            if (resto.size() >= 4 && LeiaHexa(resto.substr(0, 4), baixa) && baixa >= 0xDC00 &&
                baixa <= 0xDFFF) {
                position_ += 4;
                rtl::AppendUtf8(out, char32_t(0x10000 + ((u - 0xD800) << 10) + (baixa - 0xDC00)));
                return;
            }
        }
        position_ = volta;
        out += '?';
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
        out += '?';
    } else {
        rtl::AppendUtf8(out, char32_t(u));
    }
}

std::string JSONTokener::NextString(char quote) {
    std::string r;
    for (;;) {
        char c = Next();
        switch (c) {
            case 0:
            case '\n':
            case '\r':
                throw SyntaxError("Unterminated string");
            case '\\':
                c = Next();
                switch (c) {
                    case 'b':
                        r += '\b';
                        break;
                    case 'f':
                        r += '\f';
                        break;
                    case 'n':
                        r += '\n';
                        break;
                    case 'r':
                        r += '\r';
                        break;
                    case 't':
                        r += '\t';
                        break;
                    case 'u':
                        AppendUnicodeEscape(r);
                        break;
                    default:
                        r += c;
                        break;
                }
                break;
            default:
                if (c == quote) return r;
                r += c;
        }
    }
}

TJSONValue JSONTokener::ReadScalar(char c) {
    // The run: from c, every character from the blank up that is not a delimiter.
    static constexpr std::string_view kDelimitadores = ",:]}/\\\"[{;=#";
    const int32_t inicio = position_ - 1;
    while (uint8_t(c) >= ' ' && kDelimitadores.find(c) == std::string_view::npos)
        c = Next();
    Back();
    const int32_t fim = position_;  // the character that ended the run
    std::string s = rtl::Trim(std::string_view(text_).substr(size_t(inicio - 1), size_t(fim - inicio)));
    if (s.empty()) throw SyntaxError("Missing value.");

    const std::string minusculas = rtl::LowerCase(s);
    if (minusculas == "true") return SharedJSONValue(JSONTrue());
    if (minusculas == "false") return SharedJSONValue(JSONFalse());
    if (minusculas == "null") return SharedJSONValue(JSONNull());

    const char p = s[0];
    if (EhDigito(p) || p == '.' || p == '-' || p == '+') {
        uint32_t u = 0;
        if (p == '0' && s.size() > 2 && (s[1] == 'x' || s[1] == 'X')) {
            if (LeiaHexa(std::string_view(s).substr(2), u)) return TJSONValue(new _Integer(int32_t(u)));
        } else if (p == '0') {
            if (LeiaOctal(s, u)) return TJSONValue(new _Integer(int32_t(u)));
        }
        int32_t i = 0;
        if (rtl::TryStrToInt(s, i)) return TJSONValue(new _Integer(i));
        double d = 0;
        if (LeiaReal(s, d)) return TJSONValue(new _Double(d));
    }
    return TJSONValue(new _String(std::move(s)));
}

TJSONValue JSONTokener::NextValue() {
    // A value that is not a container is read here; a container goes to the machine below,
    // which reads its own values through ReadScalar and never calls back here.
    const char c = NextClean();
    if (c == '"' || c == '\'') return TJSONValue(new _String(NextString(c)));
    if (c == '{') {
        Back();
        return TJSONValue(TJSONObject::Parse(*this).release());
    }
    if (c == '[') {
        Back();
        return TJSONValue(TJSONArray::Parse(*this).release());
    }
    return ReadScalar(c);
}

ParseException JSONTokener::SyntaxError(std::string_view message) const {
    std::string texto(message);
    texto += toString();
    texto += " próximo a : ";
    if (position_ >= 1 && size_t(position_ - 1) < text_.size())
        texto += text_.substr(size_t(position_ - 1), 10);
    texto += "\n\r erro no caracter : ";
    texto += rtl::IntToStr(position_);
    return ParseException(std::move(texto), position_);
}

std::string JSONTokener::toString() const {
    return " at character " + rtl::IntToStr(position_) + " of " + text_;
}

// ---- The container machine -----------------------------------------------------------------

namespace {

// Parses one container starting in the given state (ObjectStart or ArrayStart) and returns it.
TJSONValue ParseContainer(JSONTokener& t, State inicial) {
    std::vector<Frame> pilha;
    const auto abra = [&](State s) {
        if (int32_t(pilha.size()) >= kMaxAninhamentoJSON)
            throw t.SyntaxError("Nesting deeper than " + rtl::IntToStr(kMaxAninhamentoJSON) + " levels.");
        Frame f{s, nullptr, nullptr, {}};
        if (s == State::ObjectStart)
            f.object = std::make_unique<TJSONObject>();
        else
            f.array = std::make_unique<TJSONArray>();
        pilha.push_back(std::move(f));
    };
    // Reads a value for the frame on top: a scalar is returned; a container pushes its frame
    // and returns none (it is delivered when it closes).
    const auto leia = [&](TJSONValue& valor) {
        const char c = t.NextClean();
        if (c == '"' || c == '\'') {
            valor = TJSONValue(new _String(t.NextString(c)));
            return true;
        }
        if (c == '{' || c == '[') {
            t.Back();
            abra(c == '{' ? State::ObjectStart : State::ArrayStart);
            return false;
        }
        valor = t.ReadScalar(c);
        return true;
    };
    // Hands a value to the frame on top, in the state that asked for it.
    const auto entregue = [&](TJSONValue valor) {
        Frame& f = pilha.back();
        switch (f.state) {
            case State::ObjectKey:
                f.key = valor->toString();  // the key's value object itself is dropped
                f.state = State::ObjectColon;
                break;
            case State::ObjectValue:
                f.object->Put(std::move(f.key), std::move(valor));
                f.key.clear();
                f.state = State::ObjectNext;
                break;
            case State::ArrayElement:
                f.array->Put(std::move(valor));
                f.state = State::ArrayNext;
                break;
            default:
                break;  // no other state reads a value
        }
    };

    abra(inicial);
    TJSONValue resultado;
    for (;;) {
        // A closed container leaves the stack and goes to the frame below, or is the result.
        const auto feche = [&]() {
            Frame f = std::move(pilha.back());
            pilha.pop_back();
            TJSONValue valor(f.object ? static_cast<TZAbstractObject*>(f.object.release())
                                      : static_cast<TZAbstractObject*>(f.array.release()));
            if (pilha.empty())
                resultado = std::move(valor);
            else
                entregue(std::move(valor));
        };
        Frame& f = pilha.back();
        switch (f.state) {
            case State::ObjectStart:
                if (t.NextClean() != '{') throw t.SyntaxError("A TJSONObject must begin with \"{\"");
                f.state = State::ObjectKey;
                break;
            case State::ObjectKey: {
                const char c = t.NextClean();
                if (c == 0) throw t.SyntaxError("A TJSONObject must end with \"}\"");
                if (c == '}') {
                    feche();
                    break;
                }
                t.Back();
                TJSONValue chave;
                if (leia(chave)) entregue(std::move(chave));
                break;
            }
            case State::ObjectColon: {
                const char c = t.NextClean();
                if (c == '=') {
                    if (t.Next() != '>') t.Back();
                } else if (c != ':') {
                    throw t.SyntaxError("Expected a \":\" after a key");
                }
                f.state = State::ObjectValue;
                break;
            }
            case State::ObjectValue: {
                TJSONValue valor;
                if (leia(valor)) entregue(std::move(valor));
                break;
            }
            case State::ObjectNext: {
                const char c = t.NextClean();
                if (c == ',' || c == ';') {
                    if (t.NextClean() == '}') {
                        feche();
                    } else {
                        t.Back();
                        f.state = State::ObjectKey;
                    }
                } else if (c == '}') {
                    feche();
                } else {
                    throw t.SyntaxError("Expected a \",\" or \"}\"");
                }
                break;
            }
            case State::ArrayStart:
                if (t.NextClean() != '[') throw t.SyntaxError("A TJSONArray must start with \"[\"");
                if (t.NextClean() == ']') {
                    feche();
                } else {
                    t.Back();
                    f.state = State::ArrayElement;
                }
                break;
            case State::ArrayElement: {
                if (t.NextClean() == ',') {
                    t.Back();
                    entregue(TJSONValue());  // an empty slot
                    break;
                }
                t.Back();
                TJSONValue valor;
                if (leia(valor)) entregue(std::move(valor));
                break;
            }
            case State::ArrayNext: {
                const char c = t.NextClean();
                if (c == ',' || c == ';') {
                    if (t.NextClean() == ']') {
                        feche();
                    } else {
                        t.Back();
                        f.state = State::ArrayElement;
                    }
                } else if (c == ']') {
                    feche();
                } else {
                    throw t.SyntaxError("Expected a \",\" or \"]\"");
                }
                break;
            }
        }
        if (pilha.empty()) return resultado;
    }
}

}  // namespace

// ---- TJSONObject ---------------------------------------------------------------------------

std::unique_ptr<TJSONObject> TJSONObject::CreateFromText(std::string text) {
    JSONTokener t(std::move(text));
    return Parse(t);
}

std::unique_ptr<TJSONObject> TJSONObject::Parse(JSONTokener& tokener) {
    TJSONValue v = ParseContainer(tokener, State::ObjectStart);
    return std::unique_ptr<TJSONObject>(static_cast<TJSONObject*>(v.release()));
}

const TZAbstractObject* TJSONObject::Opt(std::string_view key) const {
    if (key.empty()) throw NullPointerException("Null key");
    for (const TMembro& m : members_)
        if (rtl::SameText(m.first, key)) return m.second.get();
    return nullptr;
}

const TZAbstractObject& TJSONObject::GetValue(std::string_view key) const {
    const TZAbstractObject* v = Opt(key);
    // A member whose value is an empty slot cannot occur: only arrays hold those.
    if (v == nullptr) throw NoSuchElementException("TJSONObject[" + Quote(key) + "] not found.");
    return *v;
}

const TJSONObject& TJSONObject::GetObjectValue(std::string_view key) const {
    const TZAbstractObject& v = GetValue(key);
    const auto* o = dynamic_cast<const TJSONObject*>(&v);
    if (o == nullptr) throw NoSuchElementException("TJSONObject[" + Quote(key) + "] is not a TJSONObject.");
    return *o;
}

std::string TJSONObject::GetText(std::string_view key) const {
    return GetValue(key).toString();
}

std::vector<std::string> TJSONObject::Keys() const {
    std::vector<std::string> r;
    r.reserve(members_.size());
    for (const TMembro& m : members_)
        r.push_back(m.first);
    return r;
}

void TJSONObject::Put(std::string key, TJSONValue value) {
    members_.emplace_back(std::move(key), std::move(value));
}

TJSONValue TJSONObject::clone() const {
    return TJSONValue(CreateFromText(toString()).release());
}

std::string TJSONObject::toString() const {
    std::string r = "{";
    for (size_t i = 0; i < members_.size(); ++i) {
        if (i > 0) r += ',';
        r += Quote(members_[i].first);
        r += ':';
        r += ValueToText(members_[i].second.get());
    }
    r += '}';
    return r;
}

// ---- TJSONArray ----------------------------------------------------------------------------

std::unique_ptr<TJSONArray> TJSONArray::Parse(JSONTokener& tokener) {
    TJSONValue v = ParseContainer(tokener, State::ArrayStart);
    return std::unique_ptr<TJSONArray>(static_cast<TJSONArray*>(v.release()));
}

std::string TJSONArray::Join(std::string_view separator) const {
    std::string r;
    for (size_t i = 0; i < elements_.size(); ++i) {
        if (i > 0) r += separator;
        r += ValueToText(elements_[i].get());
    }
    return r;
}

const TZAbstractObject* TJSONArray::Get(int32_t index) const {
    if (index < 0 || size_t(index) >= elements_.size())
        throw rtl::EListError("List index out of bounds (" + rtl::IntToStr(index) + ")");
    return elements_[size_t(index)].get();
}

void TJSONArray::Put(TJSONValue value) {
    elements_.push_back(std::move(value));
}

std::string TJSONArray::toString() const {
    return "[" + Join(",") + "]";
}

// ---- Scalars -------------------------------------------------------------------------------

TJSONValue _Integer::clone() const {
    return TJSONValue(new _Integer(value_));
}

std::string _Integer::toString() const {
    return rtl::IntToStr(value_);
}

int32_t _Double::intValue() const {
    if (std::isnan(value_)) return 0;
    const double t = std::trunc(value_);
    if (t <= double(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    if (t >= double(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    return int32_t(t);
}

TJSONValue _Double::clone() const {
    return TJSONValue(new _Double(value_));
}

std::string _Double::toString() const {
    if (!std::isfinite(value_)) return std::isnan(value_) ? "\"NAN\"" : value_ > 0 ? "\"INF\"" : "\"-INF\"";
    // The exact decimal expansion (a double has at most 1074 fractional digits), then rounded
    // to two places half away from zero: with every digit known, that is "round up when the
    // third decimal is 5 or more".
    char exato[1500];
    const auto r =
        std::to_chars(exato, exato + sizeof exato, std::fabs(value_), std::chars_format::fixed, 1074);
    std::string digitos(exato, r.ptr);
    const size_t ponto = digitos.find('.');
    std::string inteiro = digitos.substr(0, ponto);
    std::string fracao = digitos.substr(ponto + 1, 2);
    if (digitos[ponto + 3] >= '5') {
        std::string tudo = inteiro + fracao;
        int i = int(tudo.size()) - 1;
        while (i >= 0 && tudo[size_t(i)] == '9')
            tudo[size_t(i--)] = '0';
        if (i >= 0)
            ++tudo[size_t(i)];
        else
            tudo.insert(tudo.begin(), '1');
        inteiro = tudo.substr(0, tudo.size() - 2);
        fracao = tudo.substr(tudo.size() - 2);
    }
    const bool zero = inteiro.find_first_not_of('0') == std::string::npos && fracao == "00";
    return "\"" + std::string(value_ < 0 && !zero ? "-" : "") + inteiro + "." + fracao + "\"";
}

TJSONValue _Boolean::clone() const {
    return TJSONValue(new _Boolean(value_));
}

bool _String::equals(const TZAbstractObject* other) const {
    const auto* s = dynamic_cast<const _String*>(other);
    return s != nullptr && s->value_ == value_;
}

TJSONValue _String::clone() const {
    return TJSONValue(new _String(value_));
}

bool NULL_JSON::equals(const TZAbstractObject* other) const {
    return other == nullptr || dynamic_cast<const NULL_JSON*>(other) != nullptr;
}

// ---- Writers -------------------------------------------------------------------------------

std::string Quote(std::string_view text) {
    std::string r = "\"";
    r.reserve(text.size() + 2);
    size_t pos = 0;
    char32_t anterior = 0;
    while (pos < text.size()) {
        const char32_t cp = rtl::DecodeUtf8(text, pos);
        EscapeCaractere(r, cp, anterior);
        anterior = cp;
    }
    r += '"';
    return r;
}

std::string ValueToText(const TZAbstractObject* value) {
    if (value == nullptr || value->equals(&JSONNull())) return "null";
    if (dynamic_cast<const _Number*>(value) != nullptr || dynamic_cast<const _Boolean*>(value) != nullptr ||
        dynamic_cast<const TJSONObject*>(value) != nullptr ||
        dynamic_cast<const TJSONArray*>(value) != nullptr)
        return value->toString();
    return Quote(value->toString());
}

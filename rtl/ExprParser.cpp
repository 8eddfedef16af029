// rtl/ExprParser.cpp: the filter-expression compiler: a tokenizer (an explicit state machine), a
// recursive-descent parser that builds a small syntax tree, and the writer of the binary tree.
#include "rtl/ExprParser.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "rtl/Bytes.h"
#include "rtl/DateTime.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace rtl {

namespace {

[[noreturn]] void ParseError(const std::string& message) {
    throw EDatabaseError(message);
}

// ---------------------------------------------------------------------------------------------
// Tokenizer

enum class TokenKind { End, Name, QuotedName, Text, Number, Symbol, LParen, RParen, Comma };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;
};

bool IsNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}

bool IsNameChar(unsigned char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '$';
}

bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

class Lexer {
public:
    explicit Lexer(std::string_view text) : s_(text) {}

    Token Next() {
        enum class State { Start, Name, Bracket, DoubleQuote, Text, TextQuote, Number, Less, Greater };
        State state = State::Start;
        Token tok;
        for (;;) {
            const bool atEnd = pos_ >= s_.size();
            const unsigned char c = atEnd ? 0 : static_cast<unsigned char>(s_[pos_]);
            switch (state) {
                case State::Start:
                    if (atEnd) return tok;  // End
                    if (c <= ' ') {
                        ++pos_;
                    } else if (IsNameStart(c)) {
                        state = State::Name;
                        tok.kind = TokenKind::Name;
                    } else if (IsDigit(c) || (c == '.' && pos_ + 1 < s_.size() && IsDigit(s_[pos_ + 1]))) {
                        state = State::Number;
                        tok.kind = TokenKind::Number;
                    } else if (c == '[') {
                        ++pos_;
                        state = State::Bracket;
                        tok.kind = TokenKind::QuotedName;
                    } else if (c == '"') {
                        ++pos_;
                        state = State::DoubleQuote;
                        tok.kind = TokenKind::QuotedName;
                    } else if (c == '\'') {
                        ++pos_;
                        state = State::Text;
                        tok.kind = TokenKind::Text;
                    } else if (c == '<') {
                        ++pos_;
                        state = State::Less;
                        tok.kind = TokenKind::Symbol;
                        tok.text = "<";
                    } else if (c == '>') {
                        ++pos_;
                        state = State::Greater;
                        tok.kind = TokenKind::Symbol;
                        tok.text = ">";
                    } else if (c == '(' || c == ')' || c == ',') {
                        ++pos_;
                        tok.kind = c == '('   ? TokenKind::LParen
                                   : c == ')' ? TokenKind::RParen
                                              : TokenKind::Comma;
                        tok.text = std::string(1, char(c));
                        return tok;
                    } else if (c == '=' || c == '+' || c == '-' || c == '*' || c == '/') {
                        ++pos_;
                        tok.kind = TokenKind::Symbol;
                        tok.text = std::string(1, char(c));
                        return tok;
                    } else {
                        ParseError(
                            Format("Invalid filter expression character: '%s'", std::string(1, char(c))));
                    }
                    break;
                case State::Name:
                    if (!atEnd && IsNameChar(c)) {
                        tok.text += char(c);
                        ++pos_;
                    } else {
                        return tok;
                    }
                    break;
                case State::Bracket:
                    if (atEnd) ParseError("Unterminated field name");
                    ++pos_;
                    if (c == ']') return tok;
                    tok.text += char(c);
                    break;
                case State::DoubleQuote:
                    if (atEnd) ParseError("Unterminated field name");
                    ++pos_;
                    if (c == '"') return tok;
                    tok.text += char(c);
                    break;
                case State::Text:
                    if (atEnd) ParseError("Unterminated string constant");
                    ++pos_;
                    if (c == '\'')
                        state = State::TextQuote;
                    else
                        tok.text += char(c);
                    break;
                case State::TextQuote:
                    // A doubled quote is a quote inside the text; anything else ends it.
                    if (!atEnd && c == '\'') {
                        tok.text += '\'';
                        ++pos_;
                        state = State::Text;
                    } else {
                        return tok;
                    }
                    break;
                case State::Number:
                    if (!atEnd && (IsDigit(c) || c == '.')) {
                        tok.text += char(c);
                        ++pos_;
                    } else {
                        return tok;
                    }
                    break;
                case State::Less:
                    if (!atEnd && (c == '>' || c == '=')) {
                        tok.text += char(c);
                        ++pos_;
                    }
                    return tok;
                case State::Greater:
                    if (!atEnd && c == '=') {
                        tok.text += char(c);
                        ++pos_;
                    }
                    return tok;
            }
        }
    }

private:
    std::string_view s_;
    size_t pos_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Syntax tree

// The deepest expression the parser accepts: deeper ones (long chains of AND or OR, nested
// parentheses) would take the stack of the walks that follow.
constexpr int kMaxExprDepth = 512;

struct Ast {
    enum class Kind { Field, Text, Number, Null, Unary, Binary, Func, List };
    Kind kind;
    uint32_t op = 0;
    int depth = 1;
    std::string text;  // field name, text constant, number text, function name
    std::vector<std::unique_ptr<Ast>> kids;
};

using AstPtr = std::unique_ptr<Ast>;

void AddKid(Ast& parent, std::unique_ptr<Ast> kid) {
    parent.depth = std::max(parent.depth, kid->depth + 1);
    if (parent.depth > kMaxExprDepth) ParseError("Filter expression is too complex");
    parent.kids.push_back(std::move(kid));
}

AstPtr MakeAst(Ast::Kind kind, uint32_t op = 0, std::string text = {}) {
    auto a = std::make_unique<Ast>();
    a->kind = kind;
    a->op = op;
    a->text = std::move(text);
    return a;
}

std::string Describe(const Token& t) {
    switch (t.kind) {
        case TokenKind::End:
            return "nothing";
        case TokenKind::Text:
            return "'" + t.text + "'";
        default:
            return t.text;
    }
}

class Parser {
public:
    explicit Parser(std::string_view text) : lexer_(text) { Advance(); }

    AstPtr ParseAll() {
        if (tok_.kind == TokenKind::End) ParseError("Expression expected but nothing found");
        AstPtr root = ParseOr();
        if (tok_.kind != TokenKind::End) ParseError("Filter expression incorrectly terminated");
        return root;
    }

private:
    void Advance() { tok_ = lexer_.Next(); }
    bool IsWord(const char* word) const { return tok_.kind == TokenKind::Name && SameText(tok_.text, word); }
    bool IsSymbol(const char* s) const { return tok_.kind == TokenKind::Symbol && tok_.text == s; }

    // Counts the parser's own nesting (parentheses, NOT, unary minus, call arguments), so that
    // a text of a million "NOT"s fails instead of exhausting the stack.
    struct Nest {
        explicit Nest(int& level) : level_(level) {
            if (++level_ > kMaxExprDepth) ParseError("Filter expression is too complex");
        }
        ~Nest() { --level_; }
        int& level_;
    };

    // An operator as the text spells it: a reserved word or a symbol.
    struct Spelling {
        const char* text;
        bool word;
        uint32_t op;
    };

    // The operator of the first spelling the current token is, or 0.
    uint32_t MatchOperator(std::initializer_list<Spelling> spellings) const {
        for (const Spelling& s : spellings)
            if (s.word ? IsWord(s.text) : IsSymbol(s.text)) return s.op;
        return 0;
    }

    // One level of left-associative binary operators: operand (operator operand)...
    AstPtr ParseLeftAssociative(std::initializer_list<Spelling> spellings, AstPtr (Parser::*operand)()) {
        AstPtr left = (this->*operand)();
        while (const uint32_t op = MatchOperator(spellings)) {
            Advance();
            left = Binary(op, std::move(left), (this->*operand)());
        }
        return left;
    }

    // Items separated by commas up to the closing parenthesis, which is consumed.
    void ParseListItems(Ast& into, AstPtr (Parser::*item)()) {
        for (;;) {
            AddKid(into, (this->*item)());
            if (tok_.kind == TokenKind::Comma) {
                Advance();
                continue;
            }
            if (tok_.kind != TokenKind::RParen)
                ParseError(Format("')' expected but %s found", Describe(tok_)));
            Advance();
            return;
        }
    }

    // A constant or a quoted field name: the current token as it stands.
    AstPtr ParseLeaf(Ast::Kind kind) {
        AstPtr a = MakeAst(kind, 0, tok_.text);
        Advance();
        return a;
    }

    AstPtr ParseOr() {
        const Nest nest(nesting_);
        return ParseLeftAssociative({{"OR", true, coOR}}, &Parser::ParseAnd);
    }

    AstPtr ParseAnd() { return ParseLeftAssociative({{"AND", true, coAND}}, &Parser::ParseNot); }

    AstPtr ParseNot() {
        if (IsWord("NOT")) {
            const Nest nest(nesting_);
            Advance();
            AstPtr a = MakeAst(Ast::Kind::Unary, coNOT);
            AddKid(*a, ParseNot());
            return a;
        }
        return ParseComparison();
    }

    AstPtr ParseComparison() {
        AstPtr left = ParseAdditive();
        const uint32_t op = MatchOperator({{"=", false, coEQ},
                                           {"<>", false, coNE},
                                           {"<", false, coLT},
                                           {">", false, coGT},
                                           {"<=", false, coLE},
                                           {">=", false, coGE},
                                           {"LIKE", true, coLIKE},
                                           {"IN", true, coIN}});
        if (op == 0 && IsWord("IS")) {
            Advance();
            bool negate = false;
            if (IsWord("NOT")) {
                negate = true;
                Advance();
            }
            if (!IsWord("NULL")) ParseError(Format("Expression expected but %s found", Describe(tok_)));
            Advance();
            AstPtr a = MakeAst(Ast::Kind::Unary, negate ? coNOTBLANK : coISBLANK);
            AddKid(*a, std::move(left));
            return a;
        }
        if (op == 0) {
            if (left->kind == Ast::Kind::Null) ParseError("NULL only allowed with '=' and '<>'");
            return left;
        }
        Advance();
        if (op == coIN) return Binary(coIN, std::move(left), ParseInList());
        AstPtr right = ParseAdditive();
        const bool leftNull = left->kind == Ast::Kind::Null;
        const bool rightNull = right->kind == Ast::Kind::Null;
        if (leftNull || rightNull) {
            if ((op != coEQ && op != coNE) || (leftNull && rightNull))
                ParseError("NULL only allowed with '=' and '<>'");
            AstPtr a = MakeAst(Ast::Kind::Unary, op == coEQ ? coISBLANK : coNOTBLANK);
            AddKid(*a, leftNull ? std::move(right) : std::move(left));
            return a;
        }
        return Binary(op, std::move(left), std::move(right));
    }

    AstPtr ParseInList() {
        if (tok_.kind != TokenKind::LParen) ParseError(Format("'(' expected but %s found", Describe(tok_)));
        Advance();
        AstPtr list = MakeAst(Ast::Kind::List);
        if (tok_.kind == TokenKind::RParen) ParseError("IN predicate list may not be empty");
        ParseListItems(*list, &Parser::ParseAdditive);
        return list;
    }

    AstPtr ParseAdditive() {
        return ParseLeftAssociative({{"+", false, coADD}, {"-", false, coSUB}}, &Parser::ParseMultiplicative);
    }

    AstPtr ParseMultiplicative() {
        return ParseLeftAssociative({{"*", false, coMUL}, {"/", false, coDIV}}, &Parser::ParseUnary);
    }

    AstPtr ParseUnary() {
        if (IsSymbol("-")) {
            const Nest nest(nesting_);
            Advance();
            AstPtr operand = ParseUnary();
            if (operand->kind == Ast::Kind::Number && operand->text[0] != '-') {
                operand->text = "-" + operand->text;
                return operand;
            }
            AstPtr a = MakeAst(Ast::Kind::Unary, coMINUS);
            AddKid(*a, std::move(operand));
            return a;
        }
        return ParsePrimary();
    }

    AstPtr ParsePrimary() {
        switch (tok_.kind) {
            case TokenKind::LParen: {
                Advance();
                AstPtr inner = ParseOr();
                if (tok_.kind != TokenKind::RParen)
                    ParseError(Format("')' expected but %s found", Describe(tok_)));
                Advance();
                return inner;
            }
            case TokenKind::Text:
                return ParseLeaf(Ast::Kind::Text);
            case TokenKind::Number:
                return ParseLeaf(Ast::Kind::Number);
            case TokenKind::QuotedName:
                return ParseLeaf(Ast::Kind::Field);
            case TokenKind::Name: {
                std::string name = tok_.text;
                if (SameText(name, "NULL")) {
                    Advance();
                    return MakeAst(Ast::Kind::Null);
                }
                if (SameText(name, "AND") || SameText(name, "OR") || SameText(name, "NOT") ||
                    SameText(name, "LIKE") || SameText(name, "IN") || SameText(name, "IS"))
                    ParseError(Format("Expression expected but %s found", name));
                Advance();
                if (tok_.kind == TokenKind::LParen) return ParseCall(std::move(name));
                return MakeAst(Ast::Kind::Field, 0, std::move(name));
            }
            default:
                ParseError(Format("Expression expected but %s found", Describe(tok_)));
        }
    }

    AstPtr ParseCall(std::string name) {
        Advance();  // (
        AstPtr call = MakeAst(Ast::Kind::Func, 0, std::move(name));
        if (tok_.kind == TokenKind::RParen)
            Advance();
        else
            ParseListItems(*call, &Parser::ParseOr);
        return call;
    }

    static AstPtr Binary(uint32_t op, AstPtr left, AstPtr right) {
        AstPtr a = MakeAst(Ast::Kind::Binary, op);
        AddKid(*a, std::move(left));
        AddKid(*a, std::move(right));
        return a;
    }

    Lexer lexer_;
    Token tok_;
    int nesting_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Writer

// A text read as a date and time: the workstation's format, else yyyy-mm-dd[ hh:nn[:ss]].
bool TextToDateTime(const std::string& text, TDateTime& out) {
    if (TryStrToDateTime(text, out)) return true;
    int parts[6] = {0, 0, 0, 0, 0, 0};
    int count = 0;
    int value = -1;
    for (char c : text + " ") {
        if (c >= '0' && c <= '9') {
            value = (value < 0 ? 0 : value) * 10 + (c - '0');
            if (value > 99999) return false;
        } else if (value >= 0) {
            if (count == 6) return false;
            parts[count++] = value;
            value = -1;
        }
    }
    if (count < 3) return false;
    TDateTime date = 0;
    TDateTime time = 0;
    if (!TryEncodeDate(parts[0], parts[1], parts[2], date)) return false;
    if (count > 3 && !TryEncodeTime(parts[3], parts[4], parts[5], 0, time)) return false;
    out = CombineDateTime(date, time);
    return true;
}

bool TextToNumber(const std::string& text, double& out) {
    const std::string t = Trim(text);
    if (t.empty()) return false;
    const char* b = t.data();
    const char* e = t.data() + t.size();
    auto [p, ec] = std::from_chars(b, e, out, std::chars_format::fixed);
    return ec == std::errc() && p == e;
}

class Writer {
public:
    Writer(TFilterOptions options, const TFieldMap& map, const TFieldTypeResolver& resolver)
        : options_(options), map_(map), resolver_(resolver) {}

    std::vector<uint8_t> Write(const Ast& root) {
        const uint16_t r = Emit(root);
        return b_.Finish(r);
    }

private:
    // The expression type of a field named in the text (ftUnknown when unknown), or of the
    // date functions' results.
    TFieldType FieldExprType(const Ast& a) const {
        if (a.kind == Ast::Kind::Func) {
            const std::string name = UpperCase(a.text);
            if (name == "DATE" || name == "GETDATE") return ftDateTime;
            if (name == "TIME") return ftTime;
            return ftUnknown;
        }
        if (a.kind != Ast::Kind::Field || !resolver_) return ftUnknown;
        const TFieldType t = resolver_(a.text);
        if (t < 0 || t >= kFieldTypeCount) return ftUnknown;
        return TFieldType(map_[size_t(t)]);
    }

    uint16_t EmitNumber(const std::string& text) {
        int32_t i = 0;
        auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), i);
        if (ec == std::errc() && p == text.data() + text.size()) return b_.ConstInteger(i);
        double d = 0;
        if (!TextToNumber(text, d)) ParseError(Format("Expression expected but %s found", text));
        return b_.ConstFloat(d);
    }

    // A text constant, typed after the field it is compared with when that field is a date,
    // time, boolean or number and the text reads as such a value.
    uint16_t EmitText(const std::string& text, TFieldType as) {
        TDateTime dt = 0;
        switch (as) {
            case ftDate:
                if (TextToDateTime(text, dt)) return b_.ConstDate(DateTimeToTimeStamp(dt).Date);
                break;
            case ftTime:
                if (TextToDateTime(text, dt)) return b_.ConstTime(DateTimeToTimeStamp(dt).Time);
                break;
            case ftDateTime:
                if (TextToDateTime(text, dt))
                    return b_.ConstDateTime(TimeStampToMSecs(DateTimeToTimeStamp(dt)));
                break;
            case ftBoolean:
                if (SameText(Trim(text), "TRUE")) return b_.ConstBoolean(true);
                if (SameText(Trim(text), "FALSE")) return b_.ConstBoolean(false);
                break;
            case ftSmallint:
            case ftInteger:
            case ftWord:
            case ftFloat:
            case ftBCD: {
                double d = 0;
                if (TextToNumber(text, d)) return EmitNumber(Trim(text));
                break;
            }
            default:
                break;
        }
        return b_.ConstString(text);
    }

    uint16_t EmitOperand(const Ast& a, TFieldType siblingType) {
        if (a.kind == Ast::Kind::Text) return EmitText(a.text, siblingType);
        return Emit(a);
    }

    uint16_t Emit(const Ast& a) {
        switch (a.kind) {
            case Ast::Kind::Field:
                // Every field the text names is resolved once here, so that a resolver that
                // refuses unknown names does so when the text is compiled.
                if (resolver_) resolver_(a.text);
                return b_.Field(a.text);
            case Ast::Kind::Text:
                return b_.ConstString(a.text);
            case Ast::Kind::Number:
                return EmitNumber(a.text);
            case Ast::Kind::Null:
                ParseError("NULL only allowed with '=' and '<>'");
            case Ast::Kind::Unary:
                return b_.Unary(a.op, Emit(*a.kids[0]));
            case Ast::Kind::Binary:
                return EmitBinary(a);
            case Ast::Kind::Func:
                return EmitCall(a);
            case Ast::Kind::List:
                return EmitList(a.kids, ftUnknown);
        }
        ParseError("Incorrectly formed filter expression");
    }

    uint16_t EmitBinary(const Ast& a) {
        const Ast& l = *a.kids[0];
        const Ast& r = *a.kids[1];
        const bool comparison = a.op >= coEQ && a.op <= coLE;
        if (a.op == coIN) {
            const uint16_t left = Emit(l);
            return b_.Binary(coIN, left, EmitList(r.kids, FieldExprType(l)));
        }
        if (!comparison && a.op != coLIKE) {
            const uint16_t left = Emit(l);
            return b_.Binary(a.op, left, Emit(r));
        }
        // A field against a text: a compare node when case or a trailing "*" matters.
        const Ast* text = l.kind == Ast::Kind::Text ? &l : r.kind == Ast::Kind::Text ? &r : nullptr;
        const Ast* field = l.kind == Ast::Kind::Field ? &l : r.kind == Ast::Kind::Field ? &r : nullptr;
        if ((a.op == coEQ || a.op == coNE || a.op == coLIKE) && text != nullptr && field != nullptr &&
            field != text) {
            const TFieldType ft = FieldExprType(*field);
            if (ft == ftUnknown || ft == ftString) {
                const bool caseInsensitive = (options_ & foCaseInsensitive) != 0;
                uint16_t partial = 0;
                if (a.op != coLIKE && !(options_ & foNoPartialCompare) && !text->text.empty() &&
                    text->text.back() == '*')
                    partial = uint16_t(std::min<size_t>(text->text.size() - 1, 0xFFFF));
                if (caseInsensitive || partial > 0) {
                    const uint16_t left = Emit(l);
                    const uint16_t right = Emit(r);
                    return b_.Compare(a.op, caseInsensitive, partial, left, right);
                }
            }
        }
        const uint16_t left = EmitOperand(l, FieldExprType(r));
        const uint16_t right = EmitOperand(r, FieldExprType(l));
        return b_.Binary(a.op, left, right);
    }

    uint16_t EmitList(const std::vector<AstPtr>& items, TFieldType as) {
        std::vector<uint16_t> values;
        for (const AstPtr& item : items)
            values.push_back(EmitOperand(*item, as));
        uint16_t next = 0;
        for (size_t i = values.size(); i > 0; --i)
            next = b_.ListElem(values[i - 1], next);
        return next;
    }

    uint16_t EmitCall(const Ast& a) {
        const std::string name = UpperCase(a.text);
        if ((name == "UPPER" || name == "LOWER") && a.kids.size() == 1)
            return b_.Unary(name == "UPPER" ? coUPPER : coLOWER, Emit(*a.kids[0]));
        const uint16_t args = a.kids.empty() ? 0 : EmitList(a.kids, ftUnknown);
        return b_.Function(a.text, args);
    }

    TExprTreeBuilder b_;
    TFilterOptions options_;
    const TFieldMap& map_;
    const TFieldTypeResolver& resolver_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Tree builder

uint16_t TExprTreeBuilder::Node(uint32_t nodeClass, uint32_t op, std::initializer_list<uint16_t> operands) {
    const size_t offset = nodes_.size();
    if (offset > 0xFFFF) ParseError("Filter expression is too long");
    uint8_t word[4];
    store_le32(word, nodeClass);
    nodes_.insert(nodes_.end(), word, word + 4);
    store_le32(word, op);
    nodes_.insert(nodes_.end(), word, word + 4);
    for (uint16_t operand : operands) {
        store_le16(word, operand);
        nodes_.insert(nodes_.end(), word, word + 2);
    }
    ++nodeCount_;
    return uint16_t(offset);
}

uint16_t TExprTreeBuilder::Literal(const std::vector<uint8_t>& bytes) {
    const size_t offset = literals_.size();
    if (offset > 0xFFFF) ParseError("Filter expression is too long");
    literals_.insert(literals_.end(), bytes.begin(), bytes.end());
    return uint16_t(offset);
}

uint16_t TExprTreeBuilder::TextLiteral(std::string_view text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return Literal(bytes);
}

uint16_t TExprTreeBuilder::Compare(uint32_t op, bool caseInsensitive, uint16_t partialLength, uint16_t left,
                                   uint16_t right) {
    return Node(nodeCOMPARE, op, {uint16_t(caseInsensitive ? 1 : 0), partialLength, left, right});
}

uint16_t TExprTreeBuilder::Field(std::string_view name) {
    return Node(nodeFIELD, coFIELD2, {0, TextLiteral(name)});
}

uint16_t TExprTreeBuilder::Const(TFieldType type, const std::vector<uint8_t>& value) {
    if (value.size() > 0xFFFF) ParseError("Filter expression is too long");
    const uint16_t literal = Literal(value);
    return Node(nodeCONST, coCONST2, {uint16_t(type), uint16_t(value.size()), literal});
}

uint16_t TExprTreeBuilder::ConstString(std::string_view text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return Const(ftString, bytes);
}

uint16_t TExprTreeBuilder::ConstInteger(int32_t value) {
    std::vector<uint8_t> bytes(4);
    store_le32(bytes.data(), uint32_t(value));
    return Const(ftInteger, bytes);
}

uint16_t TExprTreeBuilder::ConstFloat(double value) {
    std::vector<uint8_t> bytes(8);
    uint64_t bits = 0;
    std::memcpy(&bits, &value, 8);
    store_le64(bytes.data(), bits);
    return Const(ftFloat, bytes);
}

uint16_t TExprTreeBuilder::ConstBoolean(bool value) {
    std::vector<uint8_t> bytes(2);
    store_le16(bytes.data(), value ? 1 : 0);
    return Const(ftBoolean, bytes);
}

uint16_t TExprTreeBuilder::ConstDate(int32_t dayNumber) {
    std::vector<uint8_t> bytes(4);
    store_le32(bytes.data(), uint32_t(dayNumber));
    return Const(ftDate, bytes);
}

uint16_t TExprTreeBuilder::ConstTime(int32_t milliseconds) {
    std::vector<uint8_t> bytes(4);
    store_le32(bytes.data(), uint32_t(milliseconds));
    return Const(ftTime, bytes);
}

uint16_t TExprTreeBuilder::ConstDateTime(double milliseconds) {
    std::vector<uint8_t> bytes(8);
    uint64_t bits = 0;
    std::memcpy(&bits, &milliseconds, 8);
    store_le64(bytes.data(), bits);
    return Const(ftDateTime, bytes);
}

uint16_t TExprTreeBuilder::Function(std::string_view name, uint16_t argumentList) {
    return Node(nodeFUNC, coFUNC2, {TextLiteral(name), argumentList});
}

uint16_t TExprTreeBuilder::ListElem(uint16_t element, uint16_t next) {
    return Node(nodeLISTELEM, coLISTELEM2, {element, next});
}

std::vector<uint8_t> TExprTreeBuilder::Finish(uint16_t root, uint16_t version) const {
    const size_t total = kExprHeaderSize + nodes_.size() + literals_.size();
    if (total > 0xFFFF || nodeCount_ > 0xFFFF) ParseError("Filter expression is too long");
    std::vector<uint8_t> out(kExprHeaderSize);
    store_le16(out.data(), version);
    store_le16(out.data() + 2, uint16_t(total));
    store_le16(out.data() + 4, uint16_t(nodeCount_));
    store_le16(out.data() + 6, uint16_t(kExprHeaderSize + root));
    store_le16(out.data() + 8, uint16_t(kExprHeaderSize + nodes_.size()));
    out.insert(out.end(), nodes_.begin(), nodes_.end());
    out.insert(out.end(), literals_.begin(), literals_.end());
    return out;
}

// ---------------------------------------------------------------------------------------------
// Parser

TExprParser::TExprParser(const std::string& text, TFilterOptions filterOptions, TParserOptions,
                         const TFieldMap& fieldMap, TFieldTypeResolver resolver)
    : filterOptions_(filterOptions), fieldMap_(fieldMap) {
    Parser parser(text);
    const AstPtr root = parser.ParseAll();
    Writer writer(filterOptions, fieldMap_, resolver);
    data_ = writer.Write(*root);
}

}  // namespace rtl

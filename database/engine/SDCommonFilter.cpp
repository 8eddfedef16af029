// database/engine/SDCommonFilter.cpp: the evaluator of compiled filter trees.
#include "database/engine/SDCommonFilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "database/engine/SDCommonValues.h"
#include "platform/Clock.h"
#include "rtl/Bcd.h"
#include "rtl/ByteReader.h"
#include "rtl/DateTime.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using rtl::Variant;
using rtl::VarType;

namespace {

// A start or length of SUBSTRING: the double truncated toward zero and clamped to what an
// int64_t holds (a start of 1e65 is past any text; converting it unclamped is undefined), NaN
// counting as 0.
int64_t WholeCount(double d) {
    if (std::isnan(d)) return 0;
    d = std::trunc(d);
    if (d >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();  // 2^63
    if (d < -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return int64_t(d);
}

constexpr const char* SExprIncorrect = "Incorrectly formed filter expression";
constexpr size_t kMaxListValues = 51;  // places of the gathered argument array
// The deepest tree walked; the parser never writes one deeper (see rtl/ExprParser.h), and a
// tree read from elsewhere cannot take the walk's stack with it.
constexpr int kMaxDepth = 1024;

[[noreturn]] void Incorrect() {
    throw rtl::EDatabaseError(SExprIncorrect);
}

rtl::TFieldMap MakeFieldMap() {
    rtl::TFieldMap map{};
    const std::pair<TFieldType, uint8_t> entries[] = {
        {ftString, 1},     {ftSmallint, 2},  {ftInteger, 3},   {ftWord, 4},    {ftBoolean, 5},
        {ftFloat, 6},      {ftCurrency, 6},  {ftBCD, 8},       {ftDate, 9},    {ftTime, 10},
        {ftDateTime, 11},  {ftBytes, 12},    {ftVarBytes, 13}, {ftAutoInc, 3}, {ftFixedChar, 1},
        {ftWideString, 1}, {ftLargeint, 25}, {ftADT, 26},      {ftArray, 27},
    };
    for (const auto& [type, expr] : entries)
        map[size_t(type)] = expr;
    for (int t = ftBlob; t <= ftTypedBinary; ++t)
        map[size_t(t)] = ftBlob;
    return map;
}

std::string AsciiCase(const std::string& s, bool upper) {
    std::string out = s;
    for (char& c : out) {
        if (upper && c >= 'a' && c <= 'z') c = char(c - 32);
        if (!upper && c >= 'A' && c <= 'Z') c = char(c + 32);
    }
    return out;
}

Variant IntegerResult(int64_t v) {
    if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max())
        return Variant(int32_t(v));
    return Variant(v);
}

// The class library's variant arithmetic for the operators of the filter.
Variant Arithmetic(uint32_t op, const Variant& a, const Variant& b) {
    if (a.IsNull() || b.IsNull()) return Variant::Null();
    if (op == rtl::coADD && a.IsText() && b.IsText()) return Variant(a.AsString() + b.AsString());
    if (op == rtl::coDIV) {
        const double divisor = b.AsDouble();
        if (divisor == 0) throw rtl::EVariantError("Division by zero");
        return Variant(a.AsDouble() / divisor);
    }
    if (op == rtl::coMOD || op == rtl::coREM) {
        const int64_t divisor = b.AsInt64();
        if (divisor == 0) throw rtl::EVariantError("Division by zero");
        return IntegerResult(a.AsInt64() % divisor);
    }
    const bool dateA = a.Type() == VarType::Date;
    const bool dateB = b.Type() == VarType::Date;
    if (a.IsIntegral() && b.IsIntegral()) {
        const int64_t x = a.AsInt64();
        const int64_t y = b.AsInt64();
        int64_t r = 0;
        bool overflow = false;
        if (op == rtl::coADD)
            overflow = __builtin_add_overflow(x, y, &r);
        else if (op == rtl::coSUB)
            overflow = __builtin_sub_overflow(x, y, &r);
        else
            overflow = __builtin_mul_overflow(x, y, &r);
        if (!overflow) return IntegerResult(r);
    }
    const double x = a.AsDouble();
    const double y = b.AsDouble();
    double r = 0;
    if (op == rtl::coADD)
        r = x + y;
    else if (op == rtl::coSUB)
        r = x - y;
    else
        r = x * y;
    // A date moved by a number of days stays a date; the distance of two dates is a number.
    if ((op == rtl::coADD && (dateA != dateB)) || (op == rtl::coSUB && dateA && !dateB))
        return Variant::FromDateTime(r);
    return Variant(r);
}

Variant Negate(const Variant& v) {
    if (v.IsNull()) return v;
    if (v.Type() == VarType::Date) return Variant::FromDateTime(-v.AsDateTime());
    if (v.IsIntegral()) return IntegerResult(-v.AsInt64());
    return Variant(-v.AsDouble());
}

bool CompareRelation(uint32_t op, const Variant& a, const Variant& b) {
    const rtl::VarRelation r = rtl::VarCompareValue(a, b);
    switch (op) {
        case rtl::coEQ:
            return r == rtl::VarRelation::Equal;
        case rtl::coNE:
            return r != rtl::VarRelation::Equal;
        case rtl::coGT:
            return r == rtl::VarRelation::Greater;
        case rtl::coLT:
            return r == rtl::VarRelation::Less;
        case rtl::coGE:
            return r == rtl::VarRelation::Greater || r == rtl::VarRelation::Equal;
        case rtl::coLE:
            return r == rtl::VarRelation::Less || r == rtl::VarRelation::Equal;
        default:
            Incorrect();
    }
}

// One walk over a tree. Every read goes through the bounds-checked reader; the depth is limited
// by the node count, so a tree whose nodes point back at themselves ends in an error.
class Evaluator {
public:
    Evaluator(TSDExprParser& parser) : parser_(parser), data_(parser.FilterData()) {}

    Variant Run() {
        try {
            rtl::ByteReader r(data_.data(), data_.size());
            if (data_.size() < size_t(rtl::kExprHeaderSize)) Incorrect();
            const uint16_t version = r.u16le();
            if (version != rtl::kExprVersion)
                throw rtl::EDatabaseError(
                    rtl::Format("Version %s of expression is not supported", rtl::IntToStr(version)));
            const uint16_t total = r.u16le();
            nodeCount_ = r.u16le();
            const uint16_t root = r.u16le();
            literalArea_ = r.u16le();
            if (total > data_.size() || literalArea_ > total || root < rtl::kExprHeaderSize) Incorrect();
            size_ = total;
            // No walk can be deeper than the nodes that fit between the header and the literals
            // (the smallest node takes 10 bytes), whatever the header's count says.
            const int fitting = (literalArea_ - rtl::kExprHeaderSize) / 10 + 1;
            maxDepth_ = std::min({int(nodeCount_), fitting, kMaxDepth});
            return Eval(root, 0);
        } catch (const rtl::EReadError&) {
            Incorrect();
        }
    }

private:
    struct NodeHead {
        uint32_t cls;
        uint32_t op;
        size_t operands;  // position of the first operand
    };

    NodeHead Head(size_t pos) const {
        if (pos + 8 > literalArea_) Incorrect();
        rtl::ByteReader r(data_.data(), size_);
        r.seek(pos);
        NodeHead h;
        h.cls = r.u32le() & 0x7F;
        h.op = r.u32le() & 0x7F;
        h.operands = pos + 8;
        return h;
    }

    uint16_t Operand(const NodeHead& h, int index) const {
        const size_t pos = h.operands + size_t(index) * 2;
        if (pos + 2 > literalArea_) Incorrect();
        rtl::ByteReader r(data_.data(), size_);
        r.seek(pos);
        return r.u16le();
    }

    // A node operand's absolute position.
    static size_t NodePos(uint16_t operand) { return size_t(operand) + rtl::kExprHeaderSize; }

    std::string LiteralText(uint16_t offset) const {
        const size_t start = size_t(literalArea_) + offset;
        if (start >= size_) Incorrect();
        const void* zero = std::memchr(data_.data() + start, 0, size_ - start);
        if (zero == nullptr) Incorrect();
        return std::string(reinterpret_cast<const char*>(data_.data() + start),
                           static_cast<const uint8_t*>(zero) - (data_.data() + start));
    }

    rtl::ByteReader LiteralReader(uint16_t offset, uint16_t size) const {
        const size_t start = size_t(literalArea_) + offset;
        if (start + size > size_) Incorrect();
        return rtl::ByteReader(data_.data() + start, size);
    }

    Variant Eval(size_t pos, int depth) {
        if (depth > maxDepth_) Incorrect();
        const NodeHead h = Head(pos);
        switch (h.cls) {
            case rtl::nodeUNARY:
                return EvalUnary(h, depth);
            case rtl::nodeBINARY:
                return EvalBinary(h, depth);
            case rtl::nodeCOMPARE:
                return EvalCompare(h, depth);
            case rtl::nodeFIELD: {
                if (h.op != rtl::coFIELD2) Incorrect();
                const rtl::TField& f = parser_.CachedField(LiteralText(Operand(h, 1)));
                return f.Value();
            }
            case rtl::nodeCONST:
                if (h.op != rtl::coCONST2) Incorrect();
                return Constant(Operand(h, 0), Operand(h, 1), Operand(h, 2));
            case rtl::nodeFUNC:
                return EvalFunction(h, depth);
            case rtl::nodeLISTELEM:
                return EvalList(pos, depth);
            default:
                Incorrect();
        }
    }

    Variant Constant(uint16_t type, uint16_t size, uint16_t offset) const {
        rtl::ByteReader r = LiteralReader(offset, size);
        switch (type) {
            case ftString:
            case ftFixedChar:
            case ftWideString:
            case ftGuid:
                return Variant(LiteralText(offset));
            case ftSmallint:
            case ftWord:
                return Variant::FromWord(r.u16le());
            case ftInteger:
            case ftAutoInc:
                return Variant(r.i32le());
            case ftBoolean:
                return Variant(r.u16le() != 0);
            case ftFloat:
            case ftCurrency:
                return Variant(r.f64le());
            case ftBCD: {
                rtl::TBcd bcd;
                const std::span<const uint8_t> bytes = r.bytes(sizeof bcd);
                std::memcpy(&bcd, bytes.data(), sizeof bcd);
                int64_t scaled = 0;
                if (!rtl::BcdToCurrency(bcd, scaled)) Incorrect();
                return Variant::FromCurrency(scaled);
            }
            case ftDate: {
                rtl::TTimeStamp ts;
                ts.Date = r.i32le();
                return Variant::FromDateTime(rtl::TimeStampToDateTime(ts));
            }
            case ftTime:
                return Variant::FromDateTime(double(r.i32le()) / rtl::MSecsPerDay);
            case ftDateTime:
                return Variant::FromDateTime(rtl::TimeStampToDateTime(rtl::MSecsToTimeStamp(r.f64le())));
            default:
                Incorrect();
        }
    }

    Variant EvalUnary(const NodeHead& h, int depth) {
        const Variant v = Eval(NodePos(Operand(h, 0)), depth + 1);
        switch (h.op) {
            case rtl::coISBLANK:
                return Variant(v.IsEmptyOrNull());
            case rtl::coNOTBLANK:
                return Variant(!v.IsEmptyOrNull());
            case rtl::coNOT:
                return Variant(!v.AsBoolean());
            case rtl::coMINUS:
                return Negate(v);
            case rtl::coUPPER:
                return Variant(AsciiCase(v.AsString(), true));
            case rtl::coLOWER:
                return Variant(AsciiCase(v.AsString(), false));
            default:
                Incorrect();
        }
    }

    Variant EvalBinary(const NodeHead& h, int depth) {
        const size_t left = NodePos(Operand(h, 0));
        const size_t right = NodePos(Operand(h, 1));
        switch (h.op) {
            case rtl::coEQ:
            case rtl::coNE:
            case rtl::coGT:
            case rtl::coLT:
            case rtl::coGE:
            case rtl::coLE: {
                const Variant a = Eval(left, depth + 1);
                const Variant b = Eval(right, depth + 1);
                return Variant(CompareRelation(h.op, a, b));
            }
            case rtl::coAND:
                if (!Eval(left, depth + 1).AsBoolean()) return Variant(false);
                return Variant(Eval(right, depth + 1).AsBoolean());
            case rtl::coOR:
                if (Eval(left, depth + 1).AsBoolean()) return Variant(true);
                return Variant(Eval(right, depth + 1).AsBoolean());
            case rtl::coADD:
            case rtl::coSUB:
            case rtl::coMUL:
            case rtl::coDIV:
            case rtl::coMOD:
            case rtl::coREM: {
                const Variant a = Eval(left, depth + 1);
                const Variant b = Eval(right, depth + 1);
                return Arithmetic(h.op, a, b);
            }
            case rtl::coLIKE: {
                const Variant a = Eval(left, depth + 1);
                return Variant(Like(a, Eval(right, depth + 1)));
            }
            case rtl::coIN: {
                const Variant a = Eval(left, depth + 1);
                return Variant(In(a, Eval(right, depth + 1)));
            }
            case rtl::coASSIGN:
                return Eval(left, depth + 1);
            default:
                Incorrect();
        }
    }

    Variant EvalCompare(const NodeHead& h, int depth) {
        const bool caseInsensitive = Operand(h, 0) != 0;
        const uint16_t partial = Operand(h, 1);
        Variant a = Eval(NodePos(Operand(h, 2)), depth + 1);
        Variant b = Eval(NodePos(Operand(h, 3)), depth + 1);
        if (a.IsNull() != b.IsNull()) return Variant(h.op == rtl::coNE);
        if (a.IsNull())
            return Variant(h.op == rtl::coEQ || h.op == rtl::coGE || h.op == rtl::coLE ||
                           h.op == rtl::coLIKE);
        if (caseInsensitive) {
            a = Variant(rtl::UpperCase(a.AsString()));
            b = Variant(rtl::UpperCase(b.AsString()));
        }
        if (partial > 0) {
            a = Variant(a.AsString().substr(0, partial));
            b = Variant(b.AsString().substr(0, partial));
        }
        switch (h.op) {
            case rtl::coEQ:
                return Variant(rtl::VarCompareValue(a, b) == rtl::VarRelation::Equal);
            case rtl::coNE:
                return Variant(rtl::VarCompareValue(a, b) != rtl::VarRelation::Equal);
            case rtl::coLIKE:
                return Variant(Like(a, b));
            default:
                Incorrect();
        }
    }

    bool Like(const Variant& value, const Variant& pattern) const {
        const rtl::TFilterOptions options = parser_.DataSet().FilterOptions();
        std::string text = pattern.AsString();
        const bool partialKey = !(options & rtl::foNoPartialCompare);
        if (partialKey) {
            const size_t star = text.find('*');
            if (star != std::string::npos) text.resize(star);
        }
        return SameVariantValues(value, Variant(text), (options & rtl::foCaseInsensitive) != 0, partialKey,
                                 true);
    }

    static bool In(const Variant& value, const Variant& list) {
        if (list.Type() == VarType::Array) {
            for (int i = 0; i <= list.ArrayHighBound(); ++i) {
                const Variant e = list.Element(i);
                if (e.IsEmpty()) break;
                if (rtl::VarCompareValue(value, e) == rtl::VarRelation::Equal) return true;
            }
            return false;
        }
        return rtl::VarCompareValue(value, list) == rtl::VarRelation::Equal;
    }

    // The values of a chain of list elements, one place each (an array value contributes its
    // elements up to its first empty one).
    Variant EvalList(size_t pos, int depth) {
        std::vector<Variant> values;
        size_t current = pos;
        for (int steps = 0;; ++steps) {
            if (steps > maxDepth_) Incorrect();
            const NodeHead h = Head(current);
            if (h.cls != rtl::nodeLISTELEM) Incorrect();
            if (h.op != rtl::coLISTELEM2) Incorrect();
            const Variant v = Eval(NodePos(Operand(h, 0)), depth + 1);
            if (v.Type() == VarType::Array) {
                for (int i = 0; i <= v.ArrayHighBound(); ++i) {
                    const Variant e = v.Element(i);
                    if (e.IsEmpty()) break;
                    Append(values, e);
                }
            } else {
                Append(values, v);
            }
            const uint16_t next = Operand(h, 1);
            if (next == 0) break;
            current = NodePos(next);
        }
        if (values.size() == 1) return values[0];
        values.resize(kMaxListValues);  // the unused places stay empty
        return Variant::FromArray(std::move(values));
    }

    static void Append(std::vector<Variant>& values, const Variant& v) {
        if (values.size() == kMaxListValues)
            throw rtl::EVariantError("Variant or safe array index out of bounds");
        values.push_back(v);
    }

    Variant EvalFunction(const NodeHead& h, int depth) {
        if (h.op != rtl::coFUNC2) Incorrect();
        const std::string name = rtl::UpperCase(LiteralText(Operand(h, 0)));
        if (rtl::Trim(name).empty())
            throw rtl::EDatabaseError(rtl::Format("Expression expected but %s found", name));
        if (name == "GETDATE")
            return Variant::FromDateTime(rtl::DateTimeFromTimePoint(plat::GetClock().Now()));
        static const char* const known[] = {"DATE",      "TIME",  "SUBSTRING", "TRIM",  "TRIMLEFT",
                                            "TRIMRIGHT", "LOWER", "UPPER",     "DAY",   "MONTH",
                                            "YEAR",      "HOUR",  "MINUTE",    "SECOND"};
        bool isKnown = false;
        for (const char* k : known)
            if (name == k) isKnown = true;
        if (!isKnown) throw rtl::EDatabaseError(rtl::Format("Expression expected but %s found", name));
        // A call without arguments reads nothing in place of its list: the argument is null.
        const uint16_t args = Operand(h, 1);
        const Variant arg = args == 0 ? Variant::Null() : Eval(NodePos(args), depth + 1);

        if (name == "DATE" || name == "TIME") {
            if (arg.IsEmptyOrNull()) return Variant::FromDateTime(0);
            const double dt = arg.AsDateTime();
            const double days = std::trunc(dt);
            return Variant::FromDateTime(name == "DATE" ? days : dt - days);
        }
        if (name == "SUBSTRING") {
            if (arg.Type() != VarType::Array) Incorrect();
            const std::string text = arg.Element(0).AsString();
            int64_t start = 1;
            int64_t length = 0;
            const auto counts = [&](int i, int64_t& out) {
                if (i > arg.ArrayHighBound()) return;
                const Variant e = arg.Element(i);
                if (e.Type() == VarType::Smallint || e.Type() == VarType::Integer ||
                    e.Type() == VarType::Double)
                    out = WholeCount(e.AsDouble());
            };
            counts(1, start);
            counts(2, length);
            if (start < 1) start = 1;
            if (length <= 0 || start > int64_t(text.size())) return Variant(std::string());
            return Variant(text.substr(size_t(start - 1), size_t(length)));
        }
        if (name == "TRIM") return Variant(rtl::Trim(arg.AsString()));
        if (name == "TRIMLEFT") return Variant(rtl::TrimLeft(arg.AsString()));
        if (name == "TRIMRIGHT") return Variant(rtl::TrimRight(arg.AsString()));
        if (name == "LOWER") return Variant(AsciiCase(arg.AsString(), false));
        if (name == "UPPER") return Variant(AsciiCase(arg.AsString(), true));
        // DAY .. SECOND: a part of the date or time, 0 for nothing.
        if (arg.IsEmptyOrNull()) return Variant::FromWord(0);
        const double dt = arg.AsDateTime();
        int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
        if (name == "DAY" || name == "MONTH" || name == "YEAR")
            rtl::DecodeDate(dt, year, month, day);
        else
            rtl::DecodeTime(dt, hour, minute, second, ms);
        if (name == "DAY") return Variant::FromWord(uint16_t(day));
        if (name == "MONTH") return Variant::FromWord(uint16_t(month));
        if (name == "YEAR") return Variant::FromWord(uint16_t(year));
        if (name == "HOUR") return Variant::FromWord(uint16_t(hour));
        if (name == "MINUTE") return Variant::FromWord(uint16_t(minute));
        return Variant::FromWord(uint16_t(second));
    }

    TSDExprParser& parser_;
    const std::vector<uint8_t>& data_;
    size_t size_ = 0;
    uint16_t nodeCount_ = 0;
    uint16_t literalArea_ = 0;
    int maxDepth_ = 0;
};

}  // namespace

const rtl::TFieldMap& SDFilterFieldMap() {
    static const rtl::TFieldMap map = MakeFieldMap();
    return map;
}

TSDExprParser::TSDExprParser(rtl::TDataSet& dataSet, const std::string& text,
                             rtl::TFilterOptions filterOptions, rtl::TParserOptions parserOptions,
                             const rtl::TFieldMap& fieldMap)
    : rtl::TExprParser(text, filterOptions, parserOptions, fieldMap,
                       // A name the data set does not have is refused when the text is
                       // compiled ("%s: Campo '%s' não encontrado"); evaluating it would
                       // reject every row without a word.
                       [&dataSet](std::string_view name) { return dataSet.FieldByName(name).DataType(); }),
      dataSet_(&dataSet) {}

TSDExprParser::~TSDExprParser() = default;

rtl::TField& TSDExprParser::CachedField(const std::string& name) {
    const std::string key = rtl::UpperCase(name);
    auto it = fieldCache_.find(key);
    if (it != fieldCache_.end()) return *it->second;
    ++lookups_;
    rtl::TField& f = dataSet_->FieldByName(name);
    fieldCache_.emplace(key, &f);
    return f;
}

rtl::Variant EvaluateFilterValue(TSDExprParser& parser) {
    return Evaluator(parser).Run();
}

bool EvaluateFilterExpression(TSDExprParser& parser) {
    return EvaluateFilterValue(parser).AsBoolean();
}

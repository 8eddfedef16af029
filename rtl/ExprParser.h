// rtl/ExprParser.h: the class library's filter-expression parser: filter text in, compiled
// expression tree out.
//
// A data set's Filter text ("Name = 'ab*' and Qty > 10", "Code in (1, 2, 3)",
// "upper(City) like 'SAO*'", "Born is null") compiles once into a flat binary tree that the
// SQL library's evaluator walks for every record. Layout (all numbers little-endian):
//   header   five 16-bit words: version (2), total size, node count, offset of the root node
//            and offset of the literal area, both from the start of the tree
//   nodes    32-bit node class, 32-bit operator, then 16-bit operands; an operand that names a
//            node holds its offset from the end of the header, one that names a literal its
//            offset from the start of the literal area
//   literals field names and constant values
// Operands by class: unary (operand); binary (left, right); compare (case-insensitive flag,
// partial length, left, right); field (unused, name literal); constant (type code, size,
// value literal); function (name literal, argument list or 0); list element (element, next
// list element or 0). Nodes are written children first, so no node that another node
// designates lies at offset 0, which operands use for "none".
//
// Grammar, loosest first: OR; AND; NOT; comparison (= <> < > <= >= LIKE IN, IS [NOT] NULL);
// + -; * /; unary minus; parentheses, field names (plain, [bracketed] or "quoted"), numbers,
// 'strings' ('' is a quote inside), and function calls name(arg, ...). UPPER and LOWER become
// unary nodes, every other call a function node. "x = NULL" and "x <> NULL" test for blank.
// A comparison of a field with a text constant becomes a compare node when the filter ignores
// case, or when partial compares are allowed and the text ends with "*" (then the partial
// length is the text before it); a text constant compared with a date, time or boolean field
// becomes a constant of that type.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/DataSet.h"
#include "rtl/FieldType.h"

namespace rtl {

enum TNodeClass : uint32_t {
    nodeNULL = 0,
    nodeUNARY = 1,
    nodeBINARY = 2,
    nodeCOMPARE = 3,
    nodeFIELD = 4,
    nodeCONST = 5,
    nodeFUNC = 10,
    nodeLISTELEM = 11,
};

enum TCANOperator : uint32_t {
    coISBLANK = 1,
    coNOTBLANK = 2,
    coEQ = 3,
    coNE = 4,
    coGT = 5,
    coLT = 6,
    coGE = 7,
    coLE = 8,
    coNOT = 9,
    coAND = 10,
    coOR = 11,
    coFIELD2 = 13,
    coCONST2 = 14,
    coMINUS = 15,
    coADD = 16,
    coSUB = 17,
    coMUL = 18,
    coDIV = 19,
    coMOD = 20,
    coREM = 21,
    coLIKE = 30,
    coIN = 31,
    coUPPER = 33,
    coLOWER = 34,
    coFUNC2 = 35,
    coLISTELEM2 = 36,
    coASSIGN = 37,
};

inline constexpr int kExprHeaderSize = 10;
inline constexpr uint16_t kExprVersion = 2;

// Parser options of the class library; the filter parser reads none of them.
using TParserOptions = unsigned;
inline constexpr TParserOptions poExtSyntax = 1;

// Expression type of each field type (indexed by the TFieldType ordinal).
using TFieldMap = std::array<uint8_t, kFieldTypeCount>;

// The type of a field named in the text (ftUnknown when there is none); it is asked for every
// field the text names, and may raise to refuse a name.
using TFieldTypeResolver = std::function<TFieldType(std::string_view name)>;

// Writes a tree node by node. Node functions answer the node's offset from the end of the
// header; literal functions the literal's offset in the literal area.
class TExprTreeBuilder {
public:
    uint16_t Node(uint32_t nodeClass, uint32_t op, std::initializer_list<uint16_t> operands);
    uint16_t Literal(const std::vector<uint8_t>& bytes);
    uint16_t TextLiteral(std::string_view text);

    uint16_t Unary(uint32_t op, uint16_t operand) { return Node(nodeUNARY, op, {operand}); }
    uint16_t Binary(uint32_t op, uint16_t left, uint16_t right) {
        return Node(nodeBINARY, op, {left, right});
    }
    uint16_t Compare(uint32_t op, bool caseInsensitive, uint16_t partialLength, uint16_t left,
                     uint16_t right);
    uint16_t Field(std::string_view name);
    uint16_t Const(TFieldType type, const std::vector<uint8_t>& value);
    uint16_t ConstString(std::string_view text);
    uint16_t ConstInteger(int32_t value);
    uint16_t ConstFloat(double value);
    uint16_t ConstBoolean(bool value);
    // Day number (day 1 = 0001-01-01), milliseconds of the day, milliseconds on the day scale.
    uint16_t ConstDate(int32_t dayNumber);
    uint16_t ConstTime(int32_t milliseconds);
    uint16_t ConstDateTime(double milliseconds);
    uint16_t Function(std::string_view name, uint16_t argumentList);
    uint16_t ListElem(uint16_t element, uint16_t next);

    int NodeCount() const { return nodeCount_; }
    // The whole tree with its header; EDatabaseError "Filter expression is too long" when it
    // does not fit the 16-bit offsets.
    std::vector<uint8_t> Finish(uint16_t root, uint16_t version = kExprVersion) const;

private:
    std::vector<uint8_t> nodes_;
    std::vector<uint8_t> literals_;
    int nodeCount_ = 0;
};

class TExprParser {
public:
    // Compiles the text; EDatabaseError with the class library's parser texts on a syntax error.
    TExprParser(const std::string& text, TFilterOptions filterOptions, TParserOptions parserOptions,
                const TFieldMap& fieldMap, TFieldTypeResolver resolver);
    // A tree compiled elsewhere (TExprTreeBuilder), taken as it is.
    TExprParser(std::vector<uint8_t> filterData, TFilterOptions filterOptions, const TFieldMap& fieldMap)
        : data_(std::move(filterData)), filterOptions_(filterOptions), fieldMap_(fieldMap) {}
    virtual ~TExprParser() = default;

    const std::vector<uint8_t>& FilterData() const { return data_; }
    TFilterOptions FilterOptions() const { return filterOptions_; }
    const TFieldMap& FieldMap() const { return fieldMap_; }

private:
    std::vector<uint8_t> data_;
    TFilterOptions filterOptions_;
    TFieldMap fieldMap_;
};

}  // namespace rtl

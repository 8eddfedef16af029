// database/engine/SDCommonFilter.h: client-side filter expressions (part of unit SDCommon).
//
// A data set's Filter text is compiled once by the class library's parser (rtl/ExprParser.h)
// into a binary tree; TSDExprParser keeps that tree with the data set it belongs to and
// evaluates it for the record of the data set's filter state. Field objects are found by name
// once and then taken from FieldCache until the data set closes (ClearCache).
//
// The tree is read through a bounds-checked reader: a tree that points outside itself, nests
// deeper than it has nodes, or holds an unknown class, operator, constant type or function
// fails with the class library's database error ("Incorrectly formed filter expression",
// "Expression expected but %s found") instead of being followed.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "rtl/DataSet.h"
#include "rtl/ExprParser.h"
#include "rtl/Variant.h"

class TSDExprParser : public rtl::TExprParser {
public:
    // The data set's fields give the types the parser needs to type text constants.
    TSDExprParser(rtl::TDataSet& dataSet, const std::string& text, rtl::TFilterOptions filterOptions,
                  rtl::TParserOptions parserOptions, const rtl::TFieldMap& fieldMap);
    // A tree compiled elsewhere, taken as it is (it is checked as it is evaluated).
    TSDExprParser(rtl::TDataSet& dataSet, std::vector<uint8_t> tree, rtl::TFilterOptions filterOptions,
                  const rtl::TFieldMap& fieldMap)
        : rtl::TExprParser(std::move(tree), filterOptions, fieldMap), dataSet_(&dataSet) {}
    ~TSDExprParser() override;

    rtl::TDataSet& DataSet() const { return *dataSet_; }
    // Forgets the field objects (the data set closed; its fields may be gone).
    void ClearCache() { fieldCache_.clear(); }
    int FieldCacheCount() const { return int(fieldCache_.size()); }
    // How many times a field had to be found through the data set.
    int FieldLookups() const { return lookups_; }

    // The field of that name, from the cache or through the data set's FieldByName.
    rtl::TField& CachedField(const std::string& name);

private:
    rtl::TDataSet* dataSet_;
    std::map<std::string, rtl::TField*> fieldCache_;  // keys upper-cased
    int lookups_ = 0;
};

// Evaluates the tree for the record of the data set's current (filter) state.
bool EvaluateFilterExpression(TSDExprParser& parser);
// The value of the whole tree, before its conversion to a Boolean.
rtl::Variant EvaluateFilterValue(TSDExprParser& parser);

// The map from field type to expression type that the engine hands to the parser.
const rtl::TFieldMap& SDFilterFieldMap();

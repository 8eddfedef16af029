// Fuzz target: filter expressions. The input up to its first zero byte is a filter text that the
// parser compiles and the evaluator runs over a record; the rest is taken as a ready-made tree
// and evaluated as it stands. Both may fail only with the library's own errors, never by reading
// outside the tree, recursing without end or crashing.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "database/engine/SDCommonFilter.h"
#include "database/engine/SDEngineQuery.h"
#include "rtl/Exception.h"

namespace {

// A data set of one local record with a text, a number and a date-time field.
TSDQuery& Record() {
    static std::unique_ptr<TSDQuery> query = [] {
        auto q = std::make_unique<TSDQuery>();
        q->AddField("NAME", ftString, 20);
        q->AddField("QTY", ftInteger);
        q->AddField("BORN", ftDateTime);
        q->LoadFromStrings(rtl::StringList{"Abc,42"});
        return q;
    }();
    return *query;
}

void Evaluate(TSDExprParser& parser) {
    try {
        EvaluateFilterExpression(parser);
    } catch (const rtl::Exception&) {
        // A tree or a value that does not evaluate is reported, as it must be.
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TSDQuery& q = Record();
    const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t textSize = zero != nullptr ? size_t(zero - data) : size;
    const std::string text(reinterpret_cast<const char*>(data), textSize);
    for (rtl::TFilterOptions options :
         {rtl::TFilterOptions(0), rtl::foCaseInsensitive | rtl::foNoPartialCompare}) {
        try {
            TSDExprParser parser(q, text, options, rtl::poExtSyntax, SDFilterFieldMap());
            Evaluate(parser);
        } catch (const rtl::Exception&) {
            // A text that does not compile is reported, as it must be.
        }
    }
    if (zero != nullptr) {
        std::vector<uint8_t> tree(zero + 1, data + size);
        TSDExprParser parser(q, std::move(tree), 0, SDFilterFieldMap());
        Evaluate(parser);
    }
    return 0;
}

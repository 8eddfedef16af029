// Fuzz target: the parameter markers of a statement's text (what the engine turns into
// parameters and the drivers into "?" markers or literals). Any input gives markers in text
// order that neither overlap nor leave the text, one parameter per marker that names one, and
// replacing every marker by its own text gives the statement back unchanged (round trip).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "database/engine/SDCommonSqlText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<TSDParamMarker> markers = FindParamMarkers(text);
    size_t end = 0;
    size_t named = 0;
    rtl::Params params;
    for (const TSDParamMarker& m : markers) {
        if (m.Start < end || m.Length < 1 || m.Start + m.Length > text.size() || text[m.Start] != ':')
            std::abort();
        end = m.Start + m.Length;
        if (m.Name.empty()) continue;
        ++named;
        params.CreateParam(rtl::ftInteger, m.Name, rtl::ptInput);
    }
    rtl::Params created;
    CreateParamsFromSql(&created, text);
    if (size_t(created.Count()) != named) std::abort();
    // Each parameter takes the first marker of its name still free, so every named marker
    // has an owner here: its own text brings the statement back.
    std::vector<std::string> own;
    for (const TSDParamMarker& m : markers)
        if (!m.Name.empty()) own.push_back(text.substr(m.Start, m.Length));
    const std::string back =
        ReplaceParamsWithTexts(text, params, [&own](int index) { return own[size_t(index)]; });
    if (back != text) std::abort();
    return 0;
}

// Fuzz target: the FTP client's Unix listing-line reader. A line read gives a size that is
// not negative, a known kind and a name that is a non-empty tail of the line not starting
// with a space; a line refused leaves the record empty.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tls/SBSimpleFTPS.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    TSBFTPFileInfo info;
    info.Name = "stale";
    if (!TElSimpleFTPSClient::ParseListLine(line, info)) return 0;
    if (info.Size < 0 || info.Kind > TSBFTPFileInfo::fkSpecial || info.Date != 0) std::abort();
    if (info.Name.empty() || info.Name[0] == ' ' || info.Name.size() > line.size()) std::abort();
    if (line.compare(line.size() - info.Name.size(), info.Name.size(), info.Name) != 0) std::abort();
    return 0;
}

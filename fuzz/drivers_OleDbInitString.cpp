// Fuzz target: OLE DB initialisation strings, which the data-link object reads from whatever a
// connection's remote database says. The reader may refuse a string (with a reason), never read
// past it or crash; the pairs it accepts, written out again, read back as the same pairs. The
// driver's own strings keep a user name and password as given, whatever they hold: the first
// byte splits the rest into the two.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "database/drivers/OleDbDataLink.h"
#include "database/drivers/SDOleDb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<oledb::TInitStringPair> pairs;
    std::string error;
    if (oledb::ParseInitString(text, pairs, error)) {
        std::vector<oledb::TInitStringPair> again;
        if (!oledb::ParseInitString(oledb::BuildInitString(pairs), again, error) ||
            again.size() != pairs.size())
            std::abort();
        for (size_t i = 0; i < pairs.size(); ++i)
            if (again[i].Key != pairs[i].Key || again[i].Value != pairs[i].Value) std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    if (size == 0) return 0;
    const size_t split = 1 + data[0] % size;
    const std::string user = text.substr(1, split - 1);
    const std::string password = text.substr(split);
    bool sqlServer = false;
    const std::string built = BuildOleDbInitString("PROVIDER=X", user, password, sqlServer);
    if (built.size() > oledb::kMaxInitStringLength) return 0;
    if (!oledb::ParseInitString(built, pairs, error)) std::abort();
    std::string value;
    if (!user.empty() && (!oledb::FindInitValue(pairs, "USER ID", value) || value != user)) std::abort();
    if (!password.empty() && (!oledb::FindInitValue(pairs, "PASSWORD", value) || value != password))
        std::abort();
    if (!oledb::FindInitValue(pairs, "PROVIDER", value) || value != "X") std::abort();
    return 0;
}

// Fuzz target: the info answers the InterBase/Firebird client fills (statement type, record
// counts, a BLOB's length), read item by item. The first byte is the item asked for, the
// rest the answer. The reader may find nothing, never read past the answer; an item it finds
// is one whose whole value lies inside the answer, and asking again gives the same value.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "database/drivers/SDInt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // A copy of exactly the answer's size, so that a read past it is caught.
    const std::vector<uint8_t> answer(data + 1, data + size);
    int64_t value = 0;
    if (!IntInfoItem(answer.data(), answer.size(), data[0], value)) return 0;
    int64_t again = 0;
    if (!IntInfoItem(answer.data(), answer.size(), data[0], again) || again != value) std::abort();
    return 0;
}

// database/facade/ukwSDQuery.h: the inner query of the launcher's query facade on the SQL access
// library's path (access type atSQLD): the library's query, created without blob caching
// (the facade switches it on when it applies its settings). Rows are fetched as the cursor
// moves, or all at once through FetchAll.
#pragma once

#include "database/engine/SDEngineQuery.h"

class TkwSDQuery : public TSDQuery {
public:
    explicit TkwSDQuery(rtl::Component* owner = nullptr) : TSDQuery(owner) { CacheBlobs = false; }
};

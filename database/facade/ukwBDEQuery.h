// database/facade/ukwBDEQuery.h: the inner query of the launcher's query facade on the alias path
// (access type atBDE), a query of the SQL access library over the alias's ODBC data source.
//
// It behaves as the alias engine's query did for the launcher: blobs are not cached unless
// asked for, and by the time Open returns (after the AfterOpen event) every row of the result
// has been fetched, while the current record stays the first one.
#pragma once

#include "database/engine/SDEngineQuery.h"

class TkwBDEQuery : public TSDQuery {
public:
    explicit TkwBDEQuery(rtl::Component* owner = nullptr);

protected:
    void DoAfterOpen() override;
};

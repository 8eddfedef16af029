// database/facade/ukwBDEQuery.cpp: the alias path's query fetches its whole result when it opens.
#include "database/facade/ukwBDEQuery.h"

TkwBDEQuery::TkwBDEQuery(rtl::Component* owner) : TSDQuery(owner) {
    CacheBlobs = false;
}

void TkwBDEQuery::DoAfterOpen() {
    TSDQuery::DoAfterOpen();
    if (!Eof()) {
        CheckBrowseMode();
        // Into the row cache; the cursor stays on the record it was on.
        FetchAll();
    }
}

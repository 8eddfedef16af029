// database/drivers/SDMssApi.h: FreeTDS's DB-Library as the SQL Server driver binds it.
//
// The driver's sources include this header rather than sybdb.h directly: it brings the
// library's types and constants (sybdb.h, syberror.h) and the table of entry points, bound by
// name at run time (SDMss.cpp). It is kept out of SDMss.h because sybdb.h defines macros with
// common names (SUCCEED, FAIL, TRUE) that other code, the test framework included, uses too.
#pragma once

#include <sybfront.h>
#include <sybdb.h>
#include <syberror.h>
// The header maps dbopen to tdsdbopen by a macro; both are bound by name here.
#undef dbopen

#include "database/drivers/SDMss.h"
#include "database/drivers/SDTdsEntryPoints.h"

// The bound library: one pointer per entry, nullptr while the library is not loaded (or, for
// an optional entry, when it lacks it).
struct TMssFunctions {
#define KW_MSS_TYPED_ENTRY(name, required) decltype(&::name) name = nullptr;
#define KW_MSS_ADDRESS_ENTRY(name, required) void* name = nullptr;
    KW_MSS_ENTRY_POINTS(KW_MSS_TYPED_ENTRY, KW_MSS_ADDRESS_ENTRY)
    KW_MSS_EXTRA_ENTRY_POINTS(KW_MSS_TYPED_ENTRY)
#undef KW_MSS_TYPED_ENTRY
#undef KW_MSS_ADDRESS_ENTRY
};

// The process's binding (valid while a connection holds a load count).
const TMssFunctions& MssFunctions();

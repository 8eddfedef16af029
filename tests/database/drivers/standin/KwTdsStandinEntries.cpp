// tests/database/drivers/standin/KwTdsStandinEntries.cpp: one do-nothing function per entry
// point the SQL Server and Sybase drivers require (SDTdsEntryPoints.h), so that the drivers
// can bind the stand-in library completely. Each answers 0; the entries whose answers a test
// steers are defined again, for real, in KwTdsStandin.cpp, and those definitions win over
// these weak ones. Optional entries are left out, as FreeTDS leaves them out.
#include "database/drivers/SDTdsEntryPoints.h"

#define KW_STANDIN_ENTRY_true(name) \
    extern "C" __attribute__((weak, visibility("default"))) long name() { return 0; }
#define KW_STANDIN_ENTRY_false(name)
#define KW_STANDIN_ENTRY(name, required) KW_STANDIN_ENTRY_##required(name)

KW_MSS_ENTRY_POINTS(KW_STANDIN_ENTRY, KW_STANDIN_ENTRY)
KW_MSS_EXTRA_ENTRY_POINTS(KW_STANDIN_ENTRY)
KW_SYB_ENTRY_POINTS(KW_STANDIN_ENTRY, KW_STANDIN_ENTRY)

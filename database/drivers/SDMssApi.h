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

// clang-format off
// The DB-Library entries in binding order. T: declared in FreeTDS's header, bound with its
// type; U: not declared there, bound as an address only (the driver never calls those). The
// second column marks the entries FreeTDS has; the others are optional.
#define KW_MSS_ENTRY_POINTS(T, U) \
    U(abort_xact, true) U(build_xact_string, true) U(close_commit, true) U(commit_xact, true) \
    U(open_commit, true) U(remove_xact, true) U(start_xact, true) U(stat_xact, true) T(bcp_batch, true) \
    T(bcp_bind, true) T(bcp_colfmt, true) T(bcp_collen, true) T(bcp_colptr, true) T(bcp_columns, true) \
    T(bcp_control, true) T(bcp_done, true) T(bcp_exec, true) T(bcp_init, true) U(bcp_moretext, true) \
    T(bcp_readfmt, true) T(bcp_sendrow, true) U(bcp_setl, false) U(bcp_writefmt, true) T(dbadata, true) \
    T(dbadlen, true) T(dbaltbind, true) T(dbaltcolid, true) T(dbaltlen, true) T(dbaltop, true) \
    T(dbalttype, true) T(dbaltutype, true) T(dbanullbind, true) T(dbbind, true) T(dbbylist, true) \
    T(dbcancel, true) T(dbcanquery, true) T(dbchange, true) T(dbclose, true) T(dbclrbuf, true) \
    T(dbclropt, true) T(dbcmd, true) T(dbcmdrow, true) U(dbcolbrowse, false) T(dbcolinfo, true) \
    T(dbcollen, true) T(dbcolname, true) T(dbcolsource, true) T(dbcoltype, true) T(dbcolutype, true) \
    T(dbconvert, true) T(dbcount, true) T(dbcurcmd, true) T(dbcurrow, true) U(dbcursor, false) \
    U(dbcursorbind, false) U(dbcursorclose, false) U(dbcursorcolinfo, false) U(dbcursorfetch, false) \
    U(dbcursorfetchex, false) U(dbcursorinfo, false) U(dbcursorinfoex, false) U(dbcursoropen, false) \
    T(dbdata, true) U(dbdataready, false) T(dbdatecrack, true) T(dbdatlen, true) T(dbdead, true) \
    T(dbexit, true) U(dbenlisttrans, false) U(dbenlistxatrans, false) T(dbfirstrow, true) \
    T(dbfreebuf, true) U(dbfreelogin, false) U(dbfreequal, false) T(dbgetchar, true) \
    T(dbgetmaxprocs, true) U(dbgetoff, false) T(dbgetpacket, true) T(dbgetrow, true) T(dbgettime, true) \
    T(dbgetuserdata, true) T(dbhasretstat, true) T(dbinit, true) T(dbisavail, true) T(dbiscount, true) \
    T(dbisopt, true) T(dblastrow, true) T(dblogin, true) T(dbmorecmds, true) T(dbmoretext, true) \
    T(dbname, true) T(dbnextrow, true) T(dbnullbind, true) T(dbnumalts, true) T(dbnumcols, true) \
    T(dbnumcompute, true) U(dbnumorders, false) T(dbnumrets, true) T(dbopen, true) U(dbordercol, false) \
    U(dbprocinfo, false) T(dbprhead, true) T(dbprrow, true) T(dbprtype, true) U(dbqual, false) \
    T(dbreadtext, true) T(dbresults, true) T(dbretdata, true) T(dbretlen, true) T(dbretname, true) \
    T(dbretstatus, true) T(dbrettype, true) T(dbrows, true) T(dbrowtype, true) T(dbrpcinit, true) \
    T(dbrpcparam, true) T(dbrpcsend, true) U(dbrpcexec, false) U(dbserverenum, false) \
    T(dbsetavail, true) T(dbsetmaxprocs, true) T(dbsetlname, true) T(dbsetlogintime, true) \
    U(dbsetlpacket, false) T(dbsetnull, true) T(dbsetopt, true) T(dbsettime, true) \
    T(dbsetuserdata, true) T(dbsqlexec, true) T(dbsqlok, true) T(dbsqlsend, true) T(dbstrcpy, true) \
    T(dbstrlen, true) U(dbtabbrowse, false) U(dbtabcount, false) U(dbtabname, false) \
    U(dbtabsource, false) U(dbtsnewlen, false) U(dbtsnewval, false) U(dbtsput, false) T(dbtxptr, true) \
    T(dbtxtimestamp, true) T(dbtxtsnewval, false) T(dbtxtsput, false) T(dbuse, true) T(dbvarylen, true) \
    T(dbwillconvert, true) T(dbwritetext, true) U(dbupdatetext, false) T(dberrhandle, true) \
    T(dbmsghandle, true) U(dbprocerrhandle, false) U(dbprocmsghandle, false)
// What FreeTDS needs beyond that list: the client's version text, the Microsoft-mode open,
// the login's protocol version and flags, and the release of a login record.
#define KW_MSS_EXTRA_ENTRY_POINTS(T) \
    T(dbversion, true) T(tdsdbopen, false) T(dbsetlversion, true) T(dbsetlbool, true) T(dbloginfree, false)
// clang-format on

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

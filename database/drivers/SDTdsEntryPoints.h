// database/drivers/SDTdsEntryPoints.h: the entry points the SQL Server and Sybase drivers
// bind by name, as lists for X-macros.
//
// The lists stand apart from the client libraries' headers so that code which must not see
// those headers can expand them too (the tests' stand-in library exports one function per
// required entry). Each list item names an entry and says whether a library without it is
// refused; the first macro argument marks the entries FreeTDS's header declares (T: bound
// with their declared type), the second the ones it does not (U: bound as an address only;
// the drivers never call those).
#pragma once

// clang-format off
// DB-Library (SDMss), in binding order. The second column marks the entries FreeTDS has; the
// others are optional.
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

// clang-format off
// Open Client (SDSyb), in binding order: cs_ from the CS-Library, ct_ from the
// Client-Library. The second column marks the required entries.
#define KW_SYB_ENTRY_POINTS(T, U) \
    T(cs_calc, true) T(cs_cmp, true) T(cs_convert, true) T(cs_will_convert, true) T(cs_set_convert, true) \
    T(cs_setnull, true) T(cs_config, true) T(cs_ctx_alloc, true) T(cs_ctx_drop, true) T(cs_ctx_global, true) \
    T(cs_objects, true) T(cs_diag, true) T(cs_dt_crack, true) T(cs_dt_info, true) T(cs_locale, true) \
    T(cs_loc_alloc, true) T(cs_loc_drop, true) T(cs_strcmp, true) T(cs_time, true) \
    T(cs_manage_convert, false) T(cs_conv_mult, false) U(ct_debug, false) T(ct_bind, true) \
    U(ct_br_column, false) U(ct_br_table, false) T(ct_callback, true) T(ct_cancel, true) \
    T(ct_capability, true) T(ct_compute_info, true) T(ct_close, true) T(ct_cmd_alloc, true) \
    T(ct_cmd_drop, true) T(ct_cmd_props, true) T(ct_command, true) T(ct_con_alloc, true) \
    T(ct_con_drop, true) T(ct_con_props, true) T(ct_connect, true) T(ct_config, true) T(ct_cursor, true) \
    U(ct_dyndesc, false) T(ct_describe, true) T(ct_diag, true) T(ct_dynamic, true) T(ct_exit, true) \
    T(ct_fetch, true) U(ct_getformat, false) U(ct_keydata, false) T(ct_init, true) T(ct_options, true) \
    T(ct_param, true) U(ct_getloginfo, false) U(ct_setloginfo, false) U(ct_recvpassthru, false) \
    U(ct_sendpassthru, false) T(ct_poll, true) U(ct_remote_pwd, false) T(ct_results, true) \
    T(ct_res_info, true) T(ct_send, true) T(ct_get_data, true) T(ct_send_data, true) T(ct_data_info, true) \
    U(ct_wakeup, false) U(ct_labels, false) U(ct_ds_lookup, false) U(ct_ds_dropobj, false) \
    U(ct_ds_objinfo, false) T(ct_setparam, false)
// clang-format on

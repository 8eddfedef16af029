// tests/database/standin/KwOci7Standin.cpp: the Oracle client stand-in's OCI 7 calls (tests
// only). See KwOciStandin.h.
//
// A logon or cursor data area is the caller's 64 bytes. The stand-in writes the fields the
// driver reads (function type at 2, rows processed at 4, parse offset at 8, the call's
// function code at 10, the return code at 12) and keeps its own object's number at offset 16
// with a mark at 20, so an area copied elsewhere still names the same cursor. Calls answer 0
// or the Oracle error number, which is also left in the area's return code.
#include <cstring>

#include "database/standin/KwOciStandin.h"

using namespace kwoci;
using kwstandin::Upper;

#define KW_DECLARE_OCI7(name, ret, params, piecewise) KW_EXPORT ret name params;
KW_OCI7_ENTRY_POINTS(KW_DECLARE_OCI7)
#undef KW_DECLARE_OCI7

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr int kIdOffset = 16;
constexpr int kMarkOffset = 20;
constexpr int kParseCall = 54;

template <typename T>
T Read(const uint8_t* area, int offset) {
    T value{};
    std::memcpy(&value, area + offset, sizeof value);
    return value;
}

template <typename T>
void Write(uint8_t* area, int offset, T value) {
    std::memcpy(area + offset, &value, sizeof value);
}

int AreaId(const uint8_t* area) {
    if (area == nullptr || Read<uint32_t>(area, kMarkOffset) != kMagic) return 0;
    return Read<int32_t>(area, kIdOffset);
}

void MarkArea(uint8_t* area, int id) {
    Write<int32_t>(area, kIdOffset, id);
    Write<uint32_t>(area, kMarkOffset, kMagic);
}

Connection* ConnOfLda(const uint8_t* lda) {
    auto it = G().Oci7Connections.find(AreaId(lda));
    if (it == G().Oci7Connections.end()) Throw(1012, "not logged on");
    return it->second.get();
}

Statement* CursorOf(const uint8_t* cda) {
    auto it = G().Oci7Cursors.find(AreaId(cda));
    if (it == G().Oci7Cursors.end()) Throw(1001, "invalid cursor");
    return it->second.get();
}

Connection* ConnOfArea(const uint8_t* area) {
    auto cursor = G().Oci7Cursors.find(AreaId(area));
    if (cursor != G().Oci7Cursors.end()) return cursor->second->Conn;
    auto conn = G().Oci7Connections.find(AreaId(area));
    return conn != G().Oci7Connections.end() ? conn->second.get() : nullptr;
}

// Runs a call on an area: clears its return code and sets its function code; an OraError
// leaves its number (and a parse offset) in the area and is the call's answer.
template <typename F>
sword Run(uint8_t* area, int function, F&& body) {
    Lock lock(G().Lock);
    if (area != nullptr) {
        Write<ub2>(area, kCdaReturnCode, 0);
        Write<ub1>(area, kCdaOciFunction, ub1(function));
    }
    try {
        return body();
    } catch (const OraError& e) {
        if (area != nullptr) {
            Write<ub2>(area, kCdaReturnCode, ub2(e.Code));
            if (e.ParseOffset >= 0) Write<ub2>(area, kCdaParseOffset, ub2(e.ParseOffset));
        }
        if (Connection* conn = area != nullptr ? ConnOfArea(area) : nullptr) {
            conn->LastCode = e.Code;
            conn->LastMessage = e.Message;
        }
        return e.Code;
    }
}

void Inject(const char* call, Connection* conn) {
    OraError e{0, ""};
    if (InjectedFailure(call, conn, e)) throw e;
}




BindSlot& Bind(Statement& s, const std::string& rawName) {
    std::string name = rawName;
    if (!name.empty() && name[0] == ':') name.erase(0, 1);
    name = Upper(name);
    if (!HasMarker(s.Text, name)) Throw(1036, "illegal variable name/number: " + name);
    BindSlot* b = s.FindBind(name);
    if (b == nullptr) {
        s.Binds.push_back(MakeOwned<BindSlot>(OCI_HTYPE_BIND));
        b = s.Binds.back().get();
        b->Name = name;
    }
    b->AtExecution = false;
    b->PieceGiven = false;
    b->Piece.clear();
    return *b;
}

void DescribeIfNeeded(Statement& s) {
    if (s.Columns.empty() && !s.Executed && s.Type == OCI_STMT_SELECT) ExecuteStatement(s, true, false);
}

ub2 FunctionType(const Statement& s) {
    if (s.Type == OCI_STMT_SELECT) return ub2(kCdaQueryFunction);
    if (s.Type == OCI_STMT_BEGIN || s.Type == OCI_STMT_DECLARE) return ub2(kCdaPlsqlFunction);
    return s.Type == 0 ? 0 : ub2(s.Type + 1);
}

}  // namespace

namespace kwoci {

void OpenCursorInArea(uint8_t* area, Connection* conn, const std::string& sql) {
    auto cursor = std::make_unique<Statement>();
    cursor->Kind = OCI_HTYPE_STMT;
    cursor->Conn = conn;
    const int id = G().NextOci7Id++;
    cursor->Oci7Id = id;
    PrepareStatement(*cursor, sql);
    ExecuteStatement(*cursor, false, false);
    std::memset(area, 0, size_t(kCdaSize));
    MarkArea(area, id);
    Write<ub2>(area, kCdaFunctionType, ub2(kCdaQueryFunction));
    G().Oci7Cursors[id] = std::move(cursor);
}

}  // namespace kwoci

// ---------------------------------------------------------------------------------------------
// Logon

KW_EXPORT sword olog(Lda_Def* lda, ub1*, OraText* uid, sword uidl, OraText*, sword, OraText*, sword, ub4 mode) {
    return Run(lda, 0, [&]() -> sword {
        const std::string text = TextOf(uid, uidl);
        Journal("olog " + text + " mode=" + Num(mode));
        Inject("olog", nullptr);
        const size_t at = text.rfind('@');
        const std::string database = at == std::string::npos ? "" : text.substr(at + 1);
        const std::string credentials = at == std::string::npos ? text : text.substr(0, at);
        const size_t slash = credentials.find('/');
        const std::string user = slash == std::string::npos ? credentials : credentials.substr(0, slash);
        const std::string password = slash == std::string::npos ? "" : credentials.substr(slash + 1);
        std::unique_ptr<Connection> conn = OpenConnection(database);
        if (!password.empty()) {
            auto it = G().Accounts.find(Upper(user));
            if (it != G().Accounts.end()) {
                if (it->second.Password != password) Throw(1017, "invalid username/password; logon denied");
                if (it->second.Expired) Throw(kOraPasswordExpired, "the password has expired");
            }
        }
        BeginSession(*conn, password.empty() ? "" : user);
        const int id = G().NextOci7Id++;
        MarkArea(lda, id);
        G().Oci7Connections[id] = std::move(conn);
        return 0;
    });
}

KW_EXPORT sword ologof(Lda_Def* lda) {
    return Run(lda, 0, [&]() -> sword {
        auto it = G().Oci7Connections.find(AreaId(lda));
        if (it == G().Oci7Connections.end()) Throw(1012, "not logged on");
        std::unique_ptr<Connection> conn = std::move(it->second);
        G().Oci7Connections.erase(it);
        Journal("ologof");
        Inject("ologof", conn.get());
        Commit(*conn);  // a normal log-off commits the work still open
        return 0;
    });
}

KW_EXPORT sword oopen(Cda_Def* cursor, Lda_Def* lda, OraText*, sword, sword, OraText*, sword) {
    return Run(lda, 0, [&]() -> sword {
        Connection* conn = ConnOfLda(lda);
        auto statement = std::make_unique<Statement>();
        statement->Kind = OCI_HTYPE_STMT;
        statement->Conn = conn;
        const int id = G().NextOci7Id++;
        statement->Oci7Id = id;
        std::memset(cursor, 0, size_t(kCdaSize));
        MarkArea(cursor, id);
        G().Oci7Cursors[id] = std::move(statement);
        return 0;
    });
}

KW_EXPORT sword oclose(Cda_Def* cursor) {
    return Run(cursor, 0, [&]() -> sword {
        auto it = G().Oci7Cursors.find(AreaId(cursor));
        if (it == G().Oci7Cursors.end()) Throw(1001, "invalid cursor");
        G().Oci7Cursors.erase(it);
        Write<uint32_t>(cursor, kMarkOffset, 0);
        return 0;
    });
}

KW_EXPORT sword ocom(Lda_Def* lda) {
    return Run(lda, 0, [&]() -> sword {
        Connection* conn = ConnOfLda(lda);
        Journal("ocom");
        Inject("ocom", conn);
        Commit(*conn);
        return 0;
    });
}

KW_EXPORT sword orol(Lda_Def* lda) {
    return Run(lda, 0, [&]() -> sword {
        Connection* conn = ConnOfLda(lda);
        Journal("orol");
        Inject("orol", conn);
        Rollback(*conn);
        return 0;
    });
}

KW_EXPORT sword ocon(Lda_Def* lda) {
    return Run(lda, 0, [&]() -> sword {
        ConnOfLda(lda)->AutoCommit = true;
        Journal("ocon");
        return 0;
    });
}

KW_EXPORT sword ocof(Lda_Def* lda) {
    return Run(lda, 0, [&]() -> sword {
        ConnOfLda(lda)->AutoCommit = false;
        Journal("ocof");
        return 0;
    });
}

KW_EXPORT sword obreak(Lda_Def* lda) {
    return Run(lda, 0, [&]() -> sword {
        ConnOfLda(lda);
        Journal("obreak");
        return 0;
    });
}

KW_EXPORT sword oerhms(Lda_Def* lda, sb2 rcode, OraText* buf, sword bufsiz) {
    Lock lock(G().Lock);
    std::string message;
    auto it = G().Oci7Connections.find(AreaId(lda));
    if (it != G().Oci7Connections.end() && it->second->LastCode == rcode) message = it->second->LastMessage;
    if (message.empty()) {
        char text[64];
        std::snprintf(text, sizeof text, "ORA-%05d: message not available", int(rcode));
        message = text;
    }
    if (buf != nullptr && bufsiz > 0) {
        const size_t n = std::min<size_t>(message.size(), size_t(bufsiz - 1));
        std::memcpy(buf, message.data(), n);
        buf[n] = 0;
    }
    return 0;
}

KW_EXPORT sword opinit(ub4 mode) {
    Lock lock(G().Lock);
    Journal("opinit mode=" + Num(mode));
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Statements

KW_EXPORT sword oparse(Cda_Def* cursor, OraText* sqlstm, sb4 sqllen, sword defflg, ub4 lngflg) {
    return Run(cursor, kParseCall, [&]() -> sword {
        Statement* s = CursorOf(cursor);
        const std::string text = TextOf(sqlstm, sqllen);
        Journal("oparse " + text + " deferred=" + Num(defflg) + " language=" + Num(lngflg));
        PrepareStatement(*s, text);
        Write<ub2>(cursor, kCdaFunctionType, FunctionType(*s));
        if (defflg == 0 && s->What == Action::Sql) {
            // A parse that is not deferred finds the statement's faults at once.
            sqlite3_stmt* st = nullptr;
            std::string sql = s->Sql;
            const int rc = sqlite3_prepare_v2(s->Conn->Db, sql.c_str(), -1, &st, nullptr);
            const int offset = sqlite3_error_offset(s->Conn->Db);
            const std::string message = sqlite3_errmsg(s->Conn->Db);
            sqlite3_finalize(st);
            if (rc != SQLITE_OK && message.find("no such table") == std::string::npos &&
                Upper(sql).find("ALL_") == std::string::npos)
                throw OraError{900, "ORA-00900: " + message, offset};
        }
        return 0;
    });
}

KW_EXPORT sword obndra(Cda_Def* cursor, OraText* sqlvar, sword sqlvl, ub1* progv, sword progvl, sword ftype, sword,
                       sb2* indp, ub2* alen, ub2*, ub4, ub4*, OraText*, sword, sword) {
    return Run(cursor, 0, [&]() -> sword {
        BindSlot& b = Bind(*CursorOf(cursor), TextOf(sqlvar, sqlvl));
        b.ValuePtr = progv;
        b.Size = progvl;
        b.Dty = ub2(ftype);
        b.Indicator = indp;
        b.Length = alen;
        Journal("obndra " + b.Name + " type=" + Num(ftype) + " size=" + Num(progvl));
        return 0;
    });
}

KW_EXPORT sword obindps(Cda_Def* cursor, ub1 opcode, OraText* sqlvar, sb4 sqlvl, ub1* pvctx, sb4 progvl, sword ftype,
                        sword, sb2* indp, ub2* alenp, ub2*, sb4, sb4, sb4, sb4, ub4, ub4*, OraText*, sb4, sword) {
    return Run(cursor, 0, [&]() -> sword {
        BindSlot& b = Bind(*CursorOf(cursor), TextOf(sqlvar, sqlvl));
        b.ValuePtr = pvctx;
        b.Size = progvl;
        b.Dty = ub2(ftype);
        b.Indicator = indp;
        b.Length = alenp;
        b.AtExecution = opcode == 0;
        Journal("obindps " + b.Name + " op=" + Num(opcode) + " type=" + Num(ftype) + " size=" + Num(progvl));
        return 0;
    });
}

KW_EXPORT sword odefin(Cda_Def* cursor, sword pos, ub1* buf, sword bufl, sword ftype, sword, sb2* indp, OraText*, sword,
                       sword, ub2* rlen, ub2*) {
    return Run(cursor, 0, [&]() -> sword {
        Statement* s = CursorOf(cursor);
        DescribeIfNeeded(*s);
        if (pos < 1 || size_t(pos) > s->Columns.size()) Throw(1007, "variable not in select list");
        auto d = MakeOwned<DefineSlot>(OCI_HTYPE_DEFINE);
        d->Position = ub4(pos);
        d->ValuePtr = buf;
        d->Size = bufl;
        d->Dty = ub2(ftype);
        d->Indicator = indp;
        d->Length = rlen;
        s->Defines[ub4(pos)] = std::move(d);
        Journal("odefin " + Num(pos) + " type=" + Num(ftype) + " size=" + Num(bufl));
        return 0;
    });
}

KW_EXPORT sword odefinps(Cda_Def* cursor, ub1 opcode, sword pos, ub1* bufctx, sb4 bufl, sword ftype, sword, sb2* indp,
                         OraText*, sb4, sword, ub2* rlenp, ub2*, sb4, sb4, sb4, sb4) {
    return Run(cursor, 0, [&]() -> sword {
        Statement* s = CursorOf(cursor);
        DescribeIfNeeded(*s);
        if (opcode != 1) Throw(3115, "piecewise defines are not offered here");
        if (pos < 1 || size_t(pos) > s->Columns.size()) Throw(1007, "variable not in select list");
        auto d = MakeOwned<DefineSlot>(OCI_HTYPE_DEFINE);
        d->Position = ub4(pos);
        d->ValuePtr = bufctx;
        d->Size = bufl;
        d->Dty = ub2(ftype);
        d->Indicator = indp;
        d->Length = rlenp;
        s->Defines[ub4(pos)] = std::move(d);
        Journal("odefinps " + Num(pos) + " type=" + Num(ftype) + " size=" + Num(bufl));
        return 0;
    });
}

KW_EXPORT sword oexec(Cda_Def* cursor) {
    return Run(cursor, 4, [&]() -> sword {
        Statement* s = CursorOf(cursor);
        Journal("oexec");
        Inject("oexec", s->Conn);
        const sword status = ExecuteStatement(*s, false, s->Conn->AutoCommit);
        if (status == OCI_NEED_DATA) {
            Write<ub2>(cursor, kCdaReturnCode, ub2(kOraNextPieceToInsert));
            return kOraNextPieceToInsert;
        }
        Write<ub2>(cursor, kCdaFunctionType, FunctionType(*s));
        Write<int32_t>(cursor, kCdaRowsProcessed, int32_t(s->RowCount));
        return 0;
    });
}

KW_EXPORT sword ogetpi(Cda_Def* cursor, ub1* piecep, void** ctxpp, ub4* iterp, ub4* indexp) {
    return Run(cursor, 0, [&]() -> sword {
        BindSlot* pending = PendingPiece(*CursorOf(cursor));
        if (pending == nullptr) Throw(3129, "no piece is asked for");
        *piecep = OCI_FIRST_PIECE;
        *ctxpp = pending->ValuePtr;
        *iterp = 0;
        *indexp = 0;
        Journal("ogetpi " + pending->Name);
        return 0;
    });
}

KW_EXPORT sword osetpi(Cda_Def* cursor, ub1 piece, void* bufp, ub4* lenp) {
    return Run(cursor, 0, [&]() -> sword {
        BindSlot* pending = PendingPiece(*CursorOf(cursor));
        if (pending == nullptr) Throw(3129, "no piece is asked for");
        const ub4 length = lenp != nullptr ? *lenp : 0;
        if (bufp != nullptr && length > 0) pending->Piece.append(static_cast<const char*>(bufp), length);
        if (piece == OCI_LAST_PIECE || piece == OCI_ONE_PIECE) {
            pending->PieceGiven = true;
            pending->PieceNull = pending->Piece.empty();
        }
        Journal("osetpi " + pending->Name + " " + Num(length) + " bytes piece=" + Num(piece));
        return 0;
    });
}

KW_EXPORT sword ofetch(Cda_Def* cursor) {
    return Run(cursor, 5, [&]() -> sword {
        Statement* s = CursorOf(cursor);
        Inject("ofetch", s->Conn);
        if (!s->Executed) Throw(1002, "fetch out of sequence");
        bool truncated = false;
        if (!FetchRow(*s, truncated)) Throw(kOraNoDataFound, "no data found");
        Write<int32_t>(cursor, kCdaRowsProcessed, int32_t(s->Next));
        if (truncated) Throw(1406, "fetched column value was truncated");
        return 0;
    });
}

KW_EXPORT sword oflng(Cda_Def* cursor, sword pos, ub1* buf, sb4 bufl, sword dtype, ub4* retl, sb4 offset) {
    return Run(cursor, 0, [&]() -> sword {
        Statement* s = CursorOf(cursor);
        const Value& v = CurrentValue(*s, ub4(pos));
        const std::string bytes = v.IsNull() ? std::string() : v.AsText();
        const size_t at = size_t(std::max(offset, 0));
        const size_t n = at >= bytes.size() ? 0 : std::min<size_t>(size_t(std::max(bufl, 0)), bytes.size() - at);
        if (n > 0) std::memcpy(buf, bytes.data() + at, n);
        *retl = ub4(n);
        Journal("oflng " + Num(pos) + " type=" + Num(dtype) + " offset=" + Num(offset) + " got=" + Num(long(n)));
        return 0;
    });
}

KW_EXPORT sword odescr(Cda_Def* cursor, sword pos, sb4* dbsize, sb2* dbtype, sb1* cbuf, sb4* cbufl, sb4* dsize,
                       sb2* prec, sb2* scale, sb2* nullok) {
    return Run(cursor, 0, [&]() -> sword {
        Statement* s = CursorOf(cursor);
        DescribeIfNeeded(*s);
        if (pos < 1 || size_t(pos) > s->Columns.size()) Throw(kOraEndOfDescribe, "variable not in select list");
        const Column& c = s->Columns[size_t(pos - 1)];
        *dbsize = c.Size;
        *dbtype = sb2(c.Type == SQLT_RDD ? SQLT_RID : c.Type);
        const size_t room = size_t(std::max<sb4>(*cbufl, 0));
        std::memcpy(cbuf, c.Name.data(), std::min(room, c.Name.size()));
        *cbufl = sb4(c.Name.size());
        *dsize = c.DisplaySize;
        *prec = c.Precision;
        *scale = c.Scale;
        *nullok = c.Nullable ? 1 : 0;
        return 0;
    });
}

KW_EXPORT sword odessp(Lda_Def* lda, OraText* objnam, size_t onlen, ub1*, size_t, ub1*, size_t, ub2* ovrld, ub2* pos,
                       ub2* level, OraText* argnm, ub2* arnlen, ub2* dtype, ub1* defsup, ub1* mode, ub4* dtsiz,
                       sb2* prec, sb2* scale, ub1* radix, ub4* spare, ub4* arrsiz) {
    return Run(lda, 0, [&]() -> sword {
        Connection* conn = ConnOfLda(lda);
        const std::string name = TextOf(objnam, long(onlen));
        Journal("odessp " + name);
        Inject("odessp", conn);
        const Routine* r = FindRoutine(name, conn->User);
        if (r == nullptr) Throw(4043, "object " + name + " does not exist");
        struct Entry {
            std::string Name;
            ub2 Position;
            ub2 Type;
            ub1 Mode;
        };
        std::vector<Entry> entries;
        if (r->Function) entries.push_back({"", 0, r->ReturnType, 1});
        for (size_t i = 0; i < r->Args.size(); ++i)
            entries.push_back({r->Args[i].Name, ub2(i + 1), r->Args[i].Type, ub1(r->Args[i].Mode)});
        if (entries.empty()) entries.push_back({"", 1, 0, 0});  // a routine without arguments
        const size_t capacity = *arrsiz;
        if (entries.size() > capacity) Throw(20000, "too many arguments for the description arrays");
        for (size_t i = 0; i < entries.size(); ++i) {
            const Entry& e = entries[i];
            ovrld[i] = 0;
            pos[i] = e.Position;
            level[i] = 0;
            std::memset(argnm + i * 30, 0, 30);
            std::memcpy(argnm + i * 30, e.Name.data(), std::min<size_t>(e.Name.size(), 30));
            arnlen[i] = ub2(std::min<size_t>(e.Name.size(), 30));
            dtype[i] = e.Type;
            defsup[i] = 0;
            mode[i] = e.Mode;
            dtsiz[i] = e.Type == SQLT_CHR ? 4000 : 22;
            prec[i] = 0;
            scale[i] = 0;
            radix[i] = 10;
            spare[i] = 0;
        }
        *arrsiz = ub4(entries.size());
        return 0;
    });
}

// ---------------------------------------------------------------------------------------------
// Entry points bound only to check that the library is complete

#define KW_NOT_IMPLEMENTED(name)                     \
    KW_EXPORT sword name(void) {                     \
        Lock lock(G().Lock);                         \
        Journal(#name " is not implemented here");   \
        return 3115;                                 \
    }
KW_NOT_IMPLEMENTED(ocan)
KW_NOT_IMPLEMENTED(oermsg)
KW_NOT_IMPLEMENTED(oexfet)
KW_NOT_IMPLEMENTED(oexn)
KW_NOT_IMPLEMENTED(ofen)
KW_NOT_IMPLEMENTED(oopt)
KW_NOT_IMPLEMENTED(onbset)
KW_NOT_IMPLEMENTED(onbtst)
KW_NOT_IMPLEMENTED(onbclr)
KW_NOT_IMPLEMENTED(obndrn)
KW_NOT_IMPLEMENTED(obndrv)

// tests/database/standin/KwOci8Standin.cpp: the Oracle client stand-in's OCI 8 calls and the
// tests' controls (tests only). See KwOciStandin.h.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "database/standin/KwOciStandin.h"

using namespace kwoci;
using kwstandin::Upper;

// Every entry point of the table, with the signature the driver binds.
#define KW_DECLARE_OCI8(name, ret, params, required) KW_EXPORT ret name params;
KW_OCI8_ENTRY_POINTS(KW_DECLARE_OCI8)
#undef KW_DECLARE_OCI8

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

void Record(OCIError* errhp, const OraError& e) {
    if (auto* err = As<ErrorHandle>(errhp, OCI_HTYPE_ERROR)) err->Record.Set(e);
}

// Runs a call under the library's lock; an OraError becomes OCI_ERROR with its record.
template <typename F>
sword Run(OCIError* errhp, F&& body) {
    Lock lock(G().Lock);
    try {
        return body();
    } catch (const OraError& e) {
        Record(errhp, e);
        return OCI_ERROR;
    }
}

template <typename T>
void Put(void* place, T value) {
    if (place != nullptr) std::memcpy(place, &value, sizeof value);
}




Param* NewParam(Describe& owner) {
    owner.Owned.push_back(MakeOwned<Param>(OCI_DTYPE_PARAM));
    return owner.Owned.back().get();
}

Param* RoutineParam(Describe& d, const Routine& r) {
    Param* p = NewParam(d);
    p->Name = r.Name;
    p->PType = r.Function ? OCI_PTYPE_FUNC : OCI_PTYPE_PROC;
    Param* list = NewParam(d);
    list->IsList = true;
    list->ListFromZero = r.Function;
    if (r.Function) {
        Param* result = NewParam(d);
        result->DataType = r.ReturnType;
        result->IoMode = 1;
        list->Items.push_back(result);
    }
    for (const RoutineArg& a : r.Args) {
        Param* arg = NewParam(d);
        arg->Name = a.Name;
        arg->DataType = a.Type;
        arg->IoMode = a.Mode;
        arg->Precision = a.Precision;
        arg->Scale = a.Scale;
        list->Items.push_back(arg);
    }
    p->Arguments = list;
    return p;
}

Connection* ConnOf(OCISvcCtx* svchp) {
    auto* svc = As<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
    if (svc == nullptr) Throw(24313, "the service context is not valid");
    Connection* conn = svc->Conn();
    if (conn == nullptr) Throw(24313, "user not yet connected");
    return conn;
}

void Inject(const char* call, Connection* conn) {
    OraError e{0, ""};
    if (InjectedFailure(call, conn, e)) throw e;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Environment and handles

KW_EXPORT sword OCIInitialize(ub4 mode, void*, void*, void*, void*) {
    Lock lock(G().Lock);
    Journal("OCIInitialize mode=" + Num(mode));
    return OCI_SUCCESS;
}

KW_EXPORT sword OCIEnvCreate(OCIEnv** envp, ub4 mode, void*, void*, void*, void*, size_t, void**) {
    Lock lock(G().Lock);
    *envp = Make<Env>(OCI_HTYPE_ENV, nullptr);
    Journal("OCIEnvCreate mode=" + Num(mode));
    return OCI_SUCCESS;
}

KW_EXPORT sword OCIEnvInit(OCIEnv** envp, ub4 mode, size_t, void**) {
    Lock lock(G().Lock);
    *envp = Make<Env>(OCI_HTYPE_ENV, nullptr);
    Journal("OCIEnvInit mode=" + Num(mode));
    return OCI_SUCCESS;
}

KW_EXPORT sword OCIHandleAlloc(const void* parenth, void** hndlpp, ub4 type, size_t, void**) {
    Lock lock(G().Lock);
    auto* env = As<Env>(parenth, OCI_HTYPE_ENV);
    if (env == nullptr || hndlpp == nullptr) return OCI_INVALID_HANDLE;
    switch (type) {
        case OCI_HTYPE_ERROR:
            *hndlpp = Make<ErrorHandle>(type, env);
            break;
        case OCI_HTYPE_SVCCTX:
            *hndlpp = Make<SvcCtx>(type, env);
            break;
        case OCI_HTYPE_STMT:
            *hndlpp = Make<Statement>(type, env);
            break;
        case OCI_HTYPE_DESCRIBE:
            *hndlpp = Make<Describe>(type, env);
            break;
        case OCI_HTYPE_SERVER:
            *hndlpp = Make<Server>(type, env);
            break;
        case OCI_HTYPE_SESSION:
            *hndlpp = Make<Session>(type, env);
            break;
        default:
            return OCI_INVALID_HANDLE;
    }
    return OCI_SUCCESS;
}

KW_EXPORT sword OCIHandleFree(void* hndlp, ub4 type) {
    Lock lock(G().Lock);
    auto* o = static_cast<Object*>(hndlp);
    if (!IsLive(hndlp) || o->Kind != type || G().Owned.count(o) != 0) return OCI_INVALID_HANDLE;
    if (type == OCI_HTYPE_ENV) {
        // What was made on the environment goes with it (the error handle above all).
        std::vector<Object*> children;
        for (Object* child : G().Live)
            if (child->Parent == o) children.push_back(child);
        for (Object* child : children)
            Destroy(child);
        Journal("OCIHandleFree environment");
    }
    Destroy(o);
    return OCI_SUCCESS;
}

KW_EXPORT sword OCIDescriptorAlloc(const void* parenth, void** descpp, ub4 type, size_t, void**) {
    Lock lock(G().Lock);
    auto* env = As<Env>(parenth, OCI_HTYPE_ENV);
    if (env == nullptr || descpp == nullptr) return OCI_INVALID_HANDLE;
    switch (type) {
        case OCI_DTYPE_LOB:
            *descpp = Make<Lob>(type, env);
            break;
        case OCI_DTYPE_FILE: {
            auto* lob = Make<Lob>(type, env);
            lob->File = true;
            *descpp = lob;
            break;
        }
        case OCI_DTYPE_INTERVAL_YM:
        case OCI_DTYPE_INTERVAL_DS:
            *descpp = Make<Interval>(type, env);
            break;
        case OCI_DTYPE_DATE:
        case OCI_DTYPE_TIME:
        case OCI_DTYPE_TIME_TZ:
        case OCI_DTYPE_TIMESTAMP:
        case OCI_DTYPE_TIMESTAMP_TZ:
        case OCI_DTYPE_TIMESTAMP_LTZ:
            *descpp = Make<DateTime>(type, env);
            break;
        default:
            return OCI_INVALID_HANDLE;
    }
    return OCI_SUCCESS;
}

KW_EXPORT sword OCIDescriptorFree(void* descp, ub4 type) {
    Lock lock(G().Lock);
    auto* o = static_cast<Object*>(descp);
    if (!IsLive(descp) || o->Kind != type || G().Owned.count(o) != 0) return OCI_INVALID_HANDLE;
    Destroy(o);
    return OCI_SUCCESS;
}

KW_EXPORT sword OCIErrorGet(void* hndlp, ub4 recordno, OraText*, sb4* errcodep, OraText* bufp, ub4 bufsiz, ub4 type) {
    Lock lock(G().Lock);
    if (!IsLive(hndlp)) return OCI_INVALID_HANDLE;
    auto* err = type == OCI_HTYPE_ERROR ? As<ErrorHandle>(hndlp, OCI_HTYPE_ERROR) : nullptr;
    if (err == nullptr || recordno != 1 || (err->Record.Code == 0 && err->Record.Message.empty())) return OCI_NO_DATA;
    if (errcodep != nullptr) *errcodep = err->Record.Code;
    if (bufp != nullptr && bufsiz > 0) {
        const size_t n = std::min<size_t>(err->Record.Message.size(), bufsiz - 1);
        std::memcpy(bufp, err->Record.Message.data(), n);
        bufp[n] = 0;
    }
    return OCI_SUCCESS;
}

// ---------------------------------------------------------------------------------------------
// Attributes

KW_EXPORT sword OCIAttrSet(void* trgthndlp, ub4 trghndltyp, void* attributep, ub4 size, ub4 attrtype, OCIError* errhp) {
    return Run(errhp, [&]() -> sword {
        if (!IsLive(trgthndlp)) return OCI_INVALID_HANDLE;
        if (trghndltyp == OCI_HTYPE_SVCCTX) {
            auto* svc = As<SvcCtx>(trgthndlp, trghndltyp);
            if (attrtype == OCI_ATTR_SERVER) {
                svc->Srv = As<Server>(attributep, OCI_HTYPE_SERVER);
                return OCI_SUCCESS;
            }
            if (attrtype == OCI_ATTR_SESSION) {
                svc->Sess = As<Session>(attributep, OCI_HTYPE_SESSION);
                return OCI_SUCCESS;
            }
        } else if (trghndltyp == OCI_HTYPE_SESSION) {
            auto* session = As<Session>(trgthndlp, trghndltyp);
            const std::string value(static_cast<const char*>(attributep), attributep != nullptr ? size : 0);
            if (attrtype == OCI_ATTR_USERNAME) {
                session->User = value;
                Journal("session user=" + value);
                return OCI_SUCCESS;
            }
            if (attrtype == OCI_ATTR_PASSWORD) {
                session->Password = value;
                return OCI_SUCCESS;
            }
        } else if (trghndltyp == OCI_HTYPE_STMT && attrtype == OCI_ATTR_PREFETCH_ROWS) {
            ub4 rows = 0;
            std::memcpy(&rows, attributep, sizeof rows);
            As<Statement>(trgthndlp, trghndltyp)->Prefetch = rows;
            Journal("prefetch " + Num(rows));
            return OCI_SUCCESS;
        } else if (trghndltyp == OCI_DTYPE_LOB && attrtype == OCI_ATTR_LOBEMPTY) {
            auto* lob = As<Lob>(trgthndlp, trghndltyp);
            lob->Empty = true;
            lob->Data.clear();
            Journal("LOB made empty");
            return OCI_SUCCESS;
        }
        Throw(24315, "illegal attribute type " + Num(attrtype) + " for handle type " + Num(trghndltyp));
    });
}

KW_EXPORT sword OCIAttrGet(const void* trgthndlp, ub4 trghndltyp, void* attributep, ub4* sizep, ub4 attrtype,
                           OCIError* errhp) {
    return Run(errhp, [&]() -> sword {
        if (!IsLive(trgthndlp)) return OCI_INVALID_HANDLE;
        if (trghndltyp == OCI_HTYPE_STMT) {
            auto* s = As<Statement>(trgthndlp, trghndltyp);
            if (s == nullptr) return OCI_INVALID_HANDLE;
            switch (attrtype) {
                case OCI_ATTR_STMT_TYPE:
                    Put(attributep, ub2(s->Type));
                    return OCI_SUCCESS;
                case OCI_ATTR_ROW_COUNT:
                    Put(attributep, ub4(s->Type == OCI_STMT_SELECT ? s->Next : s->RowCount));
                    return OCI_SUCCESS;
                case OCI_ATTR_PARAM_COUNT:
                    Put(attributep, ub4(s->Columns.size()));
                    return OCI_SUCCESS;
                case OCI_ATTR_PARSE_ERROR_OFFSET:
                    if (s->ParseOffset < 0) Throw(24315, "no parse error");
                    Put(attributep, ub2(s->ParseOffset));
                    return OCI_SUCCESS;
                default:
                    break;
            }
        } else if (trghndltyp == OCI_DTYPE_PARAM) {
            auto* p = As<Param>(trgthndlp, trghndltyp);
            if (p == nullptr) return OCI_INVALID_HANDLE;
            switch (attrtype) {
                case OCI_ATTR_NAME:
                    Put(attributep, reinterpret_cast<const OraText*>(p->Name.c_str()));
                    Put(sizep, ub4(p->Name.size()));
                    return OCI_SUCCESS;
                case OCI_ATTR_DATA_TYPE:
                    Put(attributep, p->DataType);
                    return OCI_SUCCESS;
                case OCI_ATTR_DATA_SIZE:
                    Put(attributep, p->DataSize);
                    return OCI_SUCCESS;
                case OCI_ATTR_DISP_SIZE:
                    Put(attributep, p->DisplaySize);
                    return OCI_SUCCESS;
                case OCI_ATTR_PRECISION:
                    Put(attributep, p->Precision);
                    return OCI_SUCCESS;
                case OCI_ATTR_SCALE:
                    Put(attributep, p->Scale);
                    return OCI_SUCCESS;
                case OCI_ATTR_IS_NULL:
                    Put(attributep, p->Nullable);
                    return OCI_SUCCESS;
                case OCI_ATTR_LIST_ARGUMENTS:
                    if (p->Arguments == nullptr) Throw(24328, "the parameter has no argument list");
                    Put(attributep, static_cast<void*>(p->Arguments));
                    return OCI_SUCCESS;
                case OCI_ATTR_LIST_SUBPROGRAMS:
                    if (p->Subprograms == nullptr) Throw(24328, "the parameter is not a package");
                    Put(attributep, static_cast<void*>(p->Subprograms));
                    return OCI_SUCCESS;
                case OCI_ATTR_NUM_PARAMS:
                    Put(attributep, ub2(p->Items.size()));
                    return OCI_SUCCESS;
                case OCI_ATTR_PTYPE:
                    Put(attributep, p->PType);
                    return OCI_SUCCESS;
                case OCI_ATTR_IOMODE:
                    Put(attributep, p->IoMode);
                    return OCI_SUCCESS;
                default:
                    break;
            }
        } else if (trghndltyp == OCI_HTYPE_DESCRIBE && attrtype == OCI_ATTR_PARAM) {
            auto* d = As<Describe>(trgthndlp, trghndltyp);
            if (d == nullptr || d->Top == nullptr) Throw(24328, "nothing was described");
            Put(attributep, static_cast<void*>(d->Top));
            return OCI_SUCCESS;
        } else if (trghndltyp == OCI_HTYPE_BIND && attrtype == OCI_ATTR_ROWS_RETURNED) {
            auto* b = As<BindSlot>(trgthndlp, trghndltyp);
            if (b == nullptr) return OCI_INVALID_HANDLE;
            Put(attributep, b->RowsReturned);
            return OCI_SUCCESS;
        }
        Throw(24315, "illegal attribute type " + Num(attrtype) + " for handle type " + Num(trghndltyp));
    });
}

KW_EXPORT sword OCIParamGet(const void* hndlp, ub4 htype, OCIError* errhp, void** parmdpp, ub4 pos) {
    return Run(errhp, [&]() -> sword {
        if (!IsLive(hndlp)) return OCI_INVALID_HANDLE;
        if (htype == OCI_HTYPE_STMT) {
            auto* s = As<Statement>(hndlp, htype);
            if (s == nullptr) return OCI_INVALID_HANDLE;
            if (pos < 1 || pos > s->Columns.size()) Throw(24334, "no column at position " + Num(pos));
            const Column& c = s->Columns[pos - 1];
            s->ColumnParams.push_back(MakeOwned<Param>(OCI_DTYPE_PARAM));
            Param* p = s->ColumnParams.back().get();
            p->Name = c.Name;
            p->DataType = c.Type;
            p->DataSize = c.Size;
            p->DisplaySize = c.DisplaySize;
            p->Precision = c.Precision;
            p->Scale = c.Scale;
            p->Nullable = c.Nullable ? 1 : 0;
            *parmdpp = p;
            return OCI_SUCCESS;
        }
        auto* list = As<Param>(hndlp, OCI_DTYPE_PARAM);
        if (list == nullptr || !list->IsList) return OCI_INVALID_HANDLE;
        const size_t index = list->ListFromZero ? pos : pos - 1;
        if ((!list->ListFromZero && pos == 0) || index >= list->Items.size())
            Throw(24334, "no element at position " + Num(pos));
        *parmdpp = list->Items[index];
        return OCI_SUCCESS;
    });
}

// ---------------------------------------------------------------------------------------------
// Connection

KW_EXPORT sword OCIServerAttach(OCIServer* srvhp, OCIError* errhp, const OraText* dblink, sb4 dblinkLen, ub4 mode) {
    return Run(errhp, [&]() -> sword {
        auto* srv = As<Server>(srvhp, OCI_HTYPE_SERVER);
        if (srv == nullptr) return OCI_INVALID_HANDLE;
        const std::string path = TextOf(dblink, dblinkLen);
        Journal("OCIServerAttach " + path + " mode=" + Num(mode));
        Inject("OCIServerAttach", nullptr);
        if (srv->Conn) Throw(24309, "already attached");
        srv->Conn = OpenConnection(path);
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCIServerDetach(OCIServer* srvhp, OCIError* errhp, ub4) {
    return Run(errhp, [&]() -> sword {
        auto* srv = As<Server>(srvhp, OCI_HTYPE_SERVER);
        if (srv == nullptr) return OCI_INVALID_HANDLE;
        Journal("OCIServerDetach");
        std::unique_ptr<Connection> conn = std::move(srv->Conn);
        if (!conn) Throw(24324, "not attached");
        Inject("OCIServerDetach", conn.get());
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCISessionBegin(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 credt, ub4 mode) {
    return Run(errhp, [&]() -> sword {
        auto* session = As<Session>(usrhp, OCI_HTYPE_SESSION);
        if (session == nullptr) return OCI_INVALID_HANDLE;
        Connection* conn = ConnOf(svchp);
        Journal("OCISessionBegin cred=" + Num(credt) + " mode=" + Num(mode) + " user=" + session->User);
        Inject("OCISessionBegin", conn);
        if (credt == OCI_CRED_RDBMS) {
            auto it = G().Accounts.find(Upper(session->User));
            if (it != G().Accounts.end()) {
                if (it->second.Password != session->Password) Throw(1017, "invalid username/password; logon denied");
                if (it->second.Expired) Throw(kOraPasswordExpired, "the password has expired");
            }
        }
        BeginSession(*conn, credt == OCI_CRED_EXT ? "" : session->User);
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCIPasswordChange(OCISvcCtx* svchp, OCIError* errhp, const OraText* userName, ub4 userLen,
                                  const OraText* oldPassword, ub4 oldLen, const OraText* newPassword, ub4 newLen,
                                  ub4 mode) {
    return Run(errhp, [&]() -> sword {
        Connection* conn = ConnOf(svchp);
        const std::string user = TextOf(userName, sb4(userLen));
        Journal("OCIPasswordChange user=" + user + " mode=" + Num(mode));
        Inject("OCIPasswordChange", conn);
        auto it = G().Accounts.find(Upper(user));
        if (it != G().Accounts.end()) {
            if (it->second.Password != TextOf(oldPassword, sb4(oldLen))) Throw(1017, "invalid username/password");
            it->second.Password = TextOf(newPassword, sb4(newLen));
            it->second.Expired = false;
        }
        if ((mode & OCI_AUTH) != 0) BeginSession(*conn, user);
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCISessionEnd(OCISvcCtx* svchp, OCIError* errhp, OCISession*, ub4) {
    return Run(errhp, [&]() -> sword {
        Connection* conn = ConnOf(svchp);
        Journal("OCISessionEnd");
        Inject("OCISessionEnd", conn);
        Commit(*conn);  // work still open is committed when a session ends normally
        conn->SessionBegun = false;
        return OCI_SUCCESS;
    });
}

KW_EXPORT OCIEnv* xaoEnv(OraText* dbname) {
    Lock lock(G().Lock);
    const std::string name = dbname != nullptr ? reinterpret_cast<const char*>(dbname) : "";
    Journal("xaoEnv " + name);
    if (name.empty()) return nullptr;
    return Make<Env>(OCI_HTYPE_ENV, nullptr);
}

KW_EXPORT OCISvcCtx* xaoSvcCtx(OraText* dbname) {
    Lock lock(G().Lock);
    const std::string name = dbname != nullptr ? reinterpret_cast<const char*>(dbname) : "";
    Journal("xaoSvcCtx " + name);
    if (name.empty()) return nullptr;
    try {
        auto* svc = Make<SvcCtx>(OCI_HTYPE_SVCCTX, nullptr);
        svc->Srv = Make<Server>(OCI_HTYPE_SERVER, nullptr);
        svc->Srv->Conn = OpenConnection(name);
        BeginSession(*svc->Srv->Conn, "XA");
        return svc;
    } catch (const OraError&) {
        return nullptr;
    }
}

KW_EXPORT sword OCITransCommit(OCISvcCtx* svchp, OCIError* errhp, ub4) {
    return Run(errhp, [&]() -> sword {
        Connection* conn = ConnOf(svchp);
        Journal("OCITransCommit");
        Inject("OCITransCommit", conn);
        Commit(*conn);
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCITransRollback(OCISvcCtx* svchp, OCIError* errhp, ub4) {
    return Run(errhp, [&]() -> sword {
        Connection* conn = ConnOf(svchp);
        Journal("OCITransRollback");
        Inject("OCITransRollback", conn);
        Rollback(*conn);
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCIBreak(void* hndlp, OCIError* errhp) {
    return Run(errhp, [&]() -> sword {
        if (!IsLive(hndlp)) return OCI_INVALID_HANDLE;
        Journal("OCIBreak");
        return OCI_SUCCESS;
    });
}

// ---------------------------------------------------------------------------------------------
// Statements

KW_EXPORT sword OCIStmtPrepare(OCIStmt* stmtp, OCIError* errhp, const OraText* stmt, ub4 stmtLen, ub4, ub4) {
    return Run(errhp, [&]() -> sword {
        auto* s = As<Statement>(stmtp, OCI_HTYPE_STMT);
        if (s == nullptr) return OCI_INVALID_HANDLE;
        const std::string text = TextOf(stmt, sb4(stmtLen));
        Journal("OCIStmtPrepare " + text);
        PrepareStatement(*s, text);
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCIBindByName(OCIStmt* stmtp, OCIBind** bindpp, OCIError* errhp, const OraText* placeholder,
                              sb4 placehLen, void* valuep, sb4 valueSz, ub2 dty, void* indp, ub2* alenp, ub2*, ub4,
                              ub4*, ub4 mode) {
    return Run(errhp, [&]() -> sword {
        auto* s = As<Statement>(stmtp, OCI_HTYPE_STMT);
        if (s == nullptr) return OCI_INVALID_HANDLE;
        std::string name = TextOf(placeholder, placehLen);
        if (!name.empty() && name[0] == ':') name.erase(0, 1);
        name = Upper(name);
        if (!HasMarker(s->Text, name)) Throw(1036, "illegal variable name/number: " + name);
        BindSlot* b = s->FindBind(name);
        if (b == nullptr) {
            s->Binds.push_back(MakeOwned<BindSlot>(OCI_HTYPE_BIND));
            b = s->Binds.back().get();
            b->Name = name;
        }
        b->ValuePtr = valuep;
        b->Size = valueSz;
        b->Dty = dty;
        b->Indicator = indp;
        b->Length = alenp;
        b->AtExecution = (mode & OCI_DATA_AT_EXEC) != 0;
        b->InCallback = nullptr;
        b->OutCallback = nullptr;
        b->PieceGiven = false;
        b->Piece.clear();
        *bindpp = b;
        Journal("OCIBindByName " + name + " dty=" + Num(dty) + " size=" + Num(valueSz) +
                (b->AtExecution ? " at execution" : ""));
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCIBindDynamic(OCIBind* bindp, OCIError* errhp, void* ictxp, OCICallbackInBind icbfp, void* octxp,
                               OCICallbackOutBind ocbfp) {
    return Run(errhp, [&]() -> sword {
        auto* b = As<BindSlot>(bindp, OCI_HTYPE_BIND);
        if (b == nullptr) return OCI_INVALID_HANDLE;
        b->InContext = ictxp;
        b->InCallback = icbfp;
        b->OutContext = octxp;
        b->OutCallback = ocbfp;
        Journal("OCIBindDynamic " + b->Name);
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCIStmtGetPieceInfo(OCIStmt* stmtp, OCIError* errhp, void** hndlpp, ub4* typep, ub1* inOutp,
                                    ub4* iterp, ub4* idxp, ub1* piecep) {
    return Run(errhp, [&]() -> sword {
        auto* s = As<Statement>(stmtp, OCI_HTYPE_STMT);
        if (s == nullptr) return OCI_INVALID_HANDLE;
        BindSlot* pending = PendingPiece(*s);
        if (pending == nullptr) Throw(24301, "no piece is asked for");
        *hndlpp = pending;
        *typep = OCI_HTYPE_BIND;
        *inOutp = 1;
        *iterp = 0;
        *idxp = 0;
        *piecep = OCI_FIRST_PIECE;
        Journal("piece asked for " + pending->Name);
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCIStmtSetPieceInfo(void* hndlp, ub4 type, OCIError* errhp, const void* bufp, ub4* alenp, ub1 piece,
                                    const void*, ub2*) {
    return Run(errhp, [&]() -> sword {
        auto* b = As<BindSlot>(hndlp, type);
        if (b == nullptr) return OCI_INVALID_HANDLE;
        const ub4 length = alenp != nullptr ? *alenp : 0;
        if (bufp != nullptr && length > 0) b->Piece.append(static_cast<const char*>(bufp), length);
        if (piece == OCI_LAST_PIECE || piece == OCI_ONE_PIECE) {
            b->PieceGiven = true;
            b->PieceNull = b->Piece.empty();
        }
        Journal("piece " + b->Name + " " + Num(length) + " bytes piece=" + Num(piece));
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCIStmtExecute(OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters, ub4, const void*, void*,
                               ub4 mode) {
    Statement* s = nullptr;
    const sword status = Run(errhp, [&]() -> sword {
        s = As<Statement>(stmtp, OCI_HTYPE_STMT);
        if (s == nullptr) return OCI_INVALID_HANDLE;
        Connection* conn = ConnOf(svchp);
        s->Conn = conn;
        Journal("OCIStmtExecute iters=" + Num(iters) + " mode=" + Num(mode));
        if (const int raw = StatusOverride("OCIStmtExecute")) {
            Record(errhp, OraError{0, "the client answered the unexpected status " + Num(raw)});
            return raw;
        }
        Inject("OCIStmtExecute", conn);
        return ExecuteStatement(*s, (mode & OCI_DESCRIBE_ONLY) != 0, (mode & OCI_COMMIT_ON_SUCCESS) != 0);
    });
    if (status == OCI_ERROR && s != nullptr) {
        Lock lock(G().Lock);
        if (auto* err = As<ErrorHandle>(errhp, OCI_HTYPE_ERROR)) s->ParseOffset = err->Record.ParseOffset;
    }
    return status;
}

KW_EXPORT sword OCIDefineByPos(OCIStmt* stmtp, OCIDefine** defnpp, OCIError* errhp, ub4 position, void* valuep,
                               sb4 valueSz, ub2 dty, void* indp, ub2* rlenp, ub2*, ub4 mode) {
    return Run(errhp, [&]() -> sword {
        auto* s = As<Statement>(stmtp, OCI_HTYPE_STMT);
        if (s == nullptr) return OCI_INVALID_HANDLE;
        if (position < 1 || position > s->Columns.size()) Throw(1007, "variable not in select list");
        auto d = MakeOwned<DefineSlot>(OCI_HTYPE_DEFINE);
        d->Position = position;
        d->ValuePtr = valuep;
        d->Size = valueSz;
        d->Dty = dty;
        d->Indicator = indp;
        d->Length = rlenp;
        d->Dynamic = (mode & OCI_DYNAMIC_FETCH) != 0;
        *defnpp = d.get();
        s->Defines[position] = std::move(d);
        Journal("OCIDefineByPos " + Num(position) + " dty=" + Num(dty) + " size=" + Num(valueSz) + " mode=" + Num(mode));
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCIDefineDynamic(OCIDefine* defnp, OCIError* errhp, void* octxp, OCICallbackDefine ocbfp) {
    return Run(errhp, [&]() -> sword {
        auto* d = As<DefineSlot>(defnp, OCI_HTYPE_DEFINE);
        if (d == nullptr) return OCI_INVALID_HANDLE;
        d->Context = octxp;
        d->Callback = ocbfp;
        d->Dynamic = true;
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCIStmtFetch(OCIStmt* stmtp, OCIError* errhp, ub4, ub2, ub4) {
    return Run(errhp, [&]() -> sword {
        auto* s = As<Statement>(stmtp, OCI_HTYPE_STMT);
        if (s == nullptr) return OCI_INVALID_HANDLE;
        if (const int raw = StatusOverride("OCIStmtFetch")) {
            Record(errhp, OraError{0, "the client answered the unexpected status " + Num(raw)});
            return raw;
        }
        Inject("OCIStmtFetch", s->Conn);
        if (!s->Executed) Throw(24338, "the statement is not executed");
        bool truncated = false;
        if (!FetchRow(*s, truncated)) return OCI_NO_DATA;
        return truncated ? OCI_SUCCESS_WITH_INFO : OCI_SUCCESS;
    });
}

KW_EXPORT sword OCIDescribeAny(OCISvcCtx* svchp, OCIError* errhp, void* objptr, ub4 objnmLen, ub1, ub1, ub1 objtyp,
                               OCIDescribe* dschp) {
    return Run(errhp, [&]() -> sword {
        auto* d = As<Describe>(dschp, OCI_HTYPE_DESCRIBE);
        if (d == nullptr) return OCI_INVALID_HANDLE;
        Connection* conn = ConnOf(svchp);
        const std::string name = TextOf(static_cast<const OraText*>(objptr), sb4(objnmLen));
        Journal("OCIDescribeAny " + name + " type=" + Num(objtyp));
        Inject("OCIDescribeAny", conn);
        d->Owned.clear();
        d->Top = nullptr;
        if (objtyp == OCI_PTYPE_PKG) {
            if (!IsPackageName(name, conn->User)) Throw(4043, "object " + name + " does not exist");
            Param* top = NewParam(*d);
            top->Name = "KW_PKG";
            top->PType = OCI_PTYPE_PKG;
            Param* list = NewParam(*d);
            list->IsList = true;
            for (const Routine& r : Routines())
                if (r.Package == "KW_PKG") list->Items.push_back(RoutineParam(*d, r));
            top->Subprograms = list;
            d->Top = top;
            return OCI_SUCCESS;
        }
        const Routine* r = FindRoutine(name, conn->User);
        if (r == nullptr || (objtyp == OCI_PTYPE_PROC && r->Function) || (objtyp == OCI_PTYPE_FUNC && !r->Function))
            Throw(4043, "object " + name + " does not exist");
        d->Top = RoutineParam(*d, *r);
        return OCI_SUCCESS;
    });
}

// ---------------------------------------------------------------------------------------------
// LOBs and files

KW_EXPORT sword OCILobCreateTemporary(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub2, ub1, ub1 lobtype,
                                      int, ub2 duration) {
    return Run(errhp, [&]() -> sword {
        auto* lob = As<Lob>(locp, OCI_DTYPE_LOB);
        if (lob == nullptr) return OCI_INVALID_HANDLE;
        lob->Conn = ConnOf(svchp);
        lob->Temporary = true;
        lob->Empty = false;
        lob->OfRow = false;
        lob->Data.clear();
        Journal("OCILobCreateTemporary type=" + Num(lobtype) + " duration=" + Num(duration));
        return OCI_SUCCESS;
    });
}

namespace {

Lob* AnyLob(OCILobLocator* locp) {
    if (auto* lob = As<Lob>(locp, OCI_DTYPE_LOB)) return lob;
    return As<Lob>(locp, OCI_DTYPE_FILE);
}

}  // namespace

KW_EXPORT sword OCILobGetLength(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4* lenp) {
    return Run(errhp, [&]() -> sword {
        Lob* lob = AnyLob(locp);
        if (lob == nullptr) return OCI_INVALID_HANDLE;
        Inject("OCILobGetLength", ConnOf(svchp));
        *lenp = ub4(LobBytes(*lob).size());
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCILobRead(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4* amtp, ub4 offset, void* bufp,
                           ub4 bufl, void*, void*, ub2, ub1) {
    return Run(errhp, [&]() -> sword {
        Lob* lob = AnyLob(locp);
        if (lob == nullptr) return OCI_INVALID_HANDLE;
        Inject("OCILobRead", ConnOf(svchp));
        const std::string data = LobBytes(*lob);
        const size_t at = offset > 0 ? offset - 1 : 0;
        const size_t n = at >= data.size() ? 0 : std::min<size_t>({*amtp, bufl, data.size() - at});
        if (n > 0) std::memcpy(bufp, data.data() + at, n);
        *amtp = ub4(n);
        Journal("OCILobRead " + Num(long(n)) + " bytes");
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCILobWrite(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4* amtp, ub4 offset, void* bufp,
                            ub4 buflen, ub1, void*, void*, ub2, ub1) {
    return Run(errhp, [&]() -> sword {
        Lob* lob = AnyLob(locp);
        if (lob == nullptr) return OCI_INVALID_HANDLE;
        Inject("OCILobWrite", ConnOf(svchp));
        const size_t n = std::min<size_t>(*amtp, buflen);
        LobWrite(*lob, offset, std::string(static_cast<const char*>(bufp), n));
        Journal("OCILobWrite " + Num(long(n)) + " bytes" + (lob->OfRow ? " into " + lob->Table + "." + lob->ColumnName : ""));
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCILobFileOpen(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* filep, ub1 mode) {
    return Run(errhp, [&]() -> sword {
        auto* lob = As<Lob>(filep, OCI_DTYPE_FILE);
        if (lob == nullptr) return OCI_INVALID_HANDLE;
        Inject("OCILobFileOpen", ConnOf(svchp));
        Journal("OCILobFileOpen " + lob->Path + " mode=" + Num(mode));
        if (mode != OCI_FILE_READONLY) Throw(22285, "files open read-only only");
        struct stat info;
        if (stat(lob->Path.c_str(), &info) != 0) Throw(22288, "cannot open the file " + lob->Path);
        lob->Open = true;
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCILobFileClose(OCISvcCtx*, OCIError* errhp, OCILobLocator* filep) {
    return Run(errhp, [&]() -> sword {
        auto* lob = As<Lob>(filep, OCI_DTYPE_FILE);
        if (lob == nullptr) return OCI_INVALID_HANDLE;
        Journal("OCILobFileClose " + lob->Path);
        lob->Open = false;
        return OCI_SUCCESS;
    });
}

// ---------------------------------------------------------------------------------------------
// Date-times and intervals

namespace {

DateTime* AnyDateTime(const void* p) {
    if (!IsLive(p)) return nullptr;
    auto* o = static_cast<Object*>(const_cast<void*>(p));
    return o->Kind >= OCI_DTYPE_DATE && o->Kind <= OCI_DTYPE_TIMESTAMP_LTZ ? static_cast<DateTime*>(o) : nullptr;
}

}  // namespace

KW_EXPORT sword OCIDateTimeConstruct(void*, OCIError* err, OCIDateTime* datetime, sb2 year, ub1 month, ub1 day,
                                     ub1 hour, ub1 min, ub1 sec, ub4 fsec, const OraText* timezone,
                                     size_t timezoneLength) {
    return Run(err, [&]() -> sword {
        DateTime* dt = AnyDateTime(datetime);
        if (dt == nullptr) return OCI_INVALID_HANDLE;
        kwstandin::DateTimeParts p;
        p.Year = year;
        p.Month = month;
        p.Day = day;
        p.Hour = hour;
        p.Minute = min;
        p.Second = sec;
        p.Nanosecond = fsec;
        const std::string zone = TextOf(timezone, sb4(timezoneLength));
        if (!zone.empty()) p.HasZone = kwstandin::ParseZone(zone, p.ZoneHours, p.ZoneMinutes);
        if (p.Month < 1 || p.Month > 12 || p.Day < 1 || p.Day > 31 || p.Hour > 23 || p.Minute > 59 || p.Second > 59)
            Throw(1858, "not a valid date-time");
        dt->Parts = p;
        Journal("OCIDateTimeConstruct " + kwstandin::FormatDateTime(p) + " zone=" + zone);
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCIDateTimeGetDate(void*, OCIError* err, const OCIDateTime* datetime, sb2* year, ub1* month, ub1* day) {
    return Run(err, [&]() -> sword {
        DateTime* dt = AnyDateTime(datetime);
        if (dt == nullptr) return OCI_INVALID_HANDLE;
        *year = sb2(dt->Parts.Year);
        *month = ub1(dt->Parts.Month);
        *day = ub1(dt->Parts.Day);
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCIDateTimeGetTime(void*, OCIError* err, OCIDateTime* datetime, ub1* hour, ub1* min, ub1* sec, ub4* fsec) {
    return Run(err, [&]() -> sword {
        DateTime* dt = AnyDateTime(datetime);
        if (dt == nullptr) return OCI_INVALID_HANDLE;
        *hour = ub1(dt->Parts.Hour);
        *min = ub1(dt->Parts.Minute);
        *sec = ub1(dt->Parts.Second);
        *fsec = dt->Parts.Nanosecond;
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCIDateTimeGetTimeZoneOffset(void*, OCIError* err, const OCIDateTime* datetime, sb1* hour, sb1* min) {
    return Run(err, [&]() -> sword {
        DateTime* dt = AnyDateTime(datetime);
        if (dt == nullptr) return OCI_INVALID_HANDLE;
        if (!dt->Parts.HasZone) Throw(1878, "the value has no time zone");
        *hour = sb1(dt->Parts.ZoneHours);
        *min = sb1(dt->Parts.ZoneMinutes);
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCIIntervalGetYearMonth(void*, OCIError* err, sb4* year, sb4* month, const OCIInterval* interval) {
    return Run(err, [&]() -> sword {
        auto* i = As<Interval>(interval, OCI_DTYPE_INTERVAL_YM);
        if (i == nullptr) return OCI_INVALID_HANDLE;
        *year = i->Years;
        *month = i->Months;
        return OCI_SUCCESS;
    });
}

KW_EXPORT sword OCIIntervalGetDaySecond(void*, OCIError* err, sb4* day, sb4* hour, sb4* min, sb4* sec, sb4* fsec,
                                        const OCIInterval* interval) {
    return Run(err, [&]() -> sword {
        auto* i = As<Interval>(interval, OCI_DTYPE_INTERVAL_DS);
        if (i == nullptr) return OCI_INVALID_HANDLE;
        *day = i->Days;
        *hour = i->Hours;
        *min = i->Minutes;
        *sec = i->Seconds;
        *fsec = i->Nanoseconds;
        return OCI_SUCCESS;
    });
}

// ---------------------------------------------------------------------------------------------
// Entry points bound only to check that the library is complete

#define KW_NOT_IMPLEMENTED(name)                     \
    KW_EXPORT sword name(void) {                     \
        Lock lock(G().Lock);                         \
        Journal(#name " is not implemented here");   \
        return OCI_ERROR;                            \
    }
KW_NOT_IMPLEMENTED(OCITerminate)
KW_NOT_IMPLEMENTED(OCILogon)
KW_NOT_IMPLEMENTED(OCILogoff)
KW_NOT_IMPLEMENTED(OCIBindByPos)
KW_NOT_IMPLEMENTED(OCIBindObject)
KW_NOT_IMPLEMENTED(OCIBindArrayOfStruct)
KW_NOT_IMPLEMENTED(OCIDefineObject)
KW_NOT_IMPLEMENTED(OCIDefineArrayOfStruct)
KW_NOT_IMPLEMENTED(OCIStmtGetBindInfo)
KW_NOT_IMPLEMENTED(OCIParamSet)
KW_NOT_IMPLEMENTED(OCITransStart)
KW_NOT_IMPLEMENTED(OCITransDetach)
KW_NOT_IMPLEMENTED(OCITransPrepare)
KW_NOT_IMPLEMENTED(OCITransForget)
KW_NOT_IMPLEMENTED(OCILobAppend)
KW_NOT_IMPLEMENTED(OCILobAssign)
KW_NOT_IMPLEMENTED(OCILobCharSetForm)
KW_NOT_IMPLEMENTED(OCILobCharSetId)
KW_NOT_IMPLEMENTED(OCILobCopy)
KW_NOT_IMPLEMENTED(OCILobDisableBuffering)
KW_NOT_IMPLEMENTED(OCILobEnableBuffering)
KW_NOT_IMPLEMENTED(OCILobErase)
KW_NOT_IMPLEMENTED(OCILobFileCloseAll)
KW_NOT_IMPLEMENTED(OCILobFileExists)
KW_NOT_IMPLEMENTED(OCILobFileGetName)
KW_NOT_IMPLEMENTED(OCILobFileIsOpen)
KW_NOT_IMPLEMENTED(OCILobFileSetName)
KW_NOT_IMPLEMENTED(OCILobFlushBuffer)
KW_NOT_IMPLEMENTED(OCILobIsEqual)
KW_NOT_IMPLEMENTED(OCILobLoadFromFile)
KW_NOT_IMPLEMENTED(OCILobLocatorIsInit)
KW_NOT_IMPLEMENTED(OCILobTrim)
KW_NOT_IMPLEMENTED(OCIServerVersion)
KW_NOT_IMPLEMENTED(OCISvcCtxToLda)
KW_NOT_IMPLEMENTED(OCILdaToSvcCtx)
KW_NOT_IMPLEMENTED(OCIResultSetToStmt)
KW_NOT_IMPLEMENTED(OCILobFreeTemporary)
KW_NOT_IMPLEMENTED(OCIDateTimeGetTimeZoneName)
KW_NOT_IMPLEMENTED(OCIIntervalSetYearMonth)
KW_NOT_IMPLEMENTED(OCIIntervalSetDaySecond)

// ---------------------------------------------------------------------------------------------
// The tests' controls

KW_EXPORT const char* KwStandinJournal() {
    return G().Journal.Text();
}

KW_EXPORT void KwStandinClearJournal() {
    G().Journal.Clear();
}

// The next `count` server calls named `call` ("*": any) fail with the Oracle error `code`;
// 3113 and 12571 also break the connection, whose every later call then fails alike.
KW_EXPORT void KwOciStandinFail(const char* call, int code, int count) {
    Lock lock(G().Lock);
    G().Failures.Arm(call, code, count);
}

// The next call named `call` answers the raw status (one the interface does not define).
KW_EXPORT void KwOciStandinAnswerStatus(const char* call, int status) {
    Lock lock(G().Lock);
    G().StatusOverrides[call] = status;
}

KW_EXPORT void KwOciStandinSetServerVersion(const char* version) {
    Lock lock(G().Lock);
    G().ServerVersion = version;
}

KW_EXPORT void KwOciStandinSetTimeZone(const char* zone) {
    Lock lock(G().Lock);
    G().TimeZone = zone;
}

// Sessions of the user with database credentials must give this password; an expired one
// is refused with 28001 until it is changed.
KW_EXPORT void KwOciStandinSetAccount(const char* user, const char* password, int expired) {
    Lock lock(G().Lock);
    G().Accounts[Upper(user)] = Account{password, expired != 0};
}

// The next LONG value is handed over starting with this piece number.
KW_EXPORT void KwOciStandinForceLongPiece(int piece) {
    Lock lock(G().Lock);
    G().ForcedLongPiece = piece;
}

// Handles and descriptors not freed yet.
KW_EXPORT int KwOciStandinOpenHandles() {
    Lock lock(G().Lock);
    return int(G().Live.size());
}

// Everything back to its first state (failures, accounts, version, zone, journal).
KW_EXPORT void KwOciStandinReset() {
    Lock lock(G().Lock);
    G().Failures.Clear();
    G().StatusOverrides.clear();
    G().Accounts.clear();
    G().ServerVersion = "10.2.0.1.0";
    G().TimeZone = "+00:00";
    G().ForcedLongPiece = -1;
    G().Journal.Clear();
}

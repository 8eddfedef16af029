// tests/database/standin/KwOleDbStandin.cpp: the OLE DB stand-in provider's objects (tests
// only). See KwOleDbStandin.h.
#include "database/standin/KwOleDbStandin.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

namespace kwoledb {

Global& G() {
    static Global global;
    return global;
}

void Log(const std::string& line) {
    G().Journal.Add(line);
}

void Throw(HRESULT hr, const std::string& description, const std::string& sqlState, int32_t native,
           uint16_t line) {
    Failure f;
    f.Result = hr;
    f.Records.push_back(ErrorRecord{hr, description, sqlState, native, line});
    throw f;
}

BSTR AllocText(const std::string& text) {
    const std::u16string wide(text.begin(), text.end());  // the stand-in's texts are ASCII
    return G().Services->AllocStringLen(wide.data(), uint32_t(wide.size()));
}

void* AllocMem(size_t size) {
    return G().Services->TaskMemAlloc(size);
}

void FreeMem(void* p) {
    G().Services->TaskMemFree(p);
}

std::string Text(const OLECHAR* text) {
    if (text == nullptr) return "";
    std::u16string wide;
    for (const OLECHAR* p = text; *p != 0; ++p)
        wide += *p;
    std::string out;
    for (char16_t c : wide) {
        // UTF-16 to UTF-8, enough for the texts the tests use.
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

namespace {

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", v);
    return text;
}

std::string PropSetName(const GUID& g) {
    if (g == DBPROPSET_DBINIT) return "DBINIT";
    if (g == DBPROPSET_DATASOURCE) return "DATASOURCE";
    if (g == DBPROPSET_DATASOURCEINFO) return "DATASOURCEINFO";
    if (g == DBPROPSET_ROWSET) return "ROWSET";
    if (g == DBPROPSET_SQLSERVERDBINIT) return "SQLSERVERDBINIT";
    if (g == DBPROPSET_SQLSERVERROWSET) return "SQLSERVERROWSET";
    return GuidText(g);
}

std::string VariantText(const VARIANT& v) {
    switch (v.vt) {
        case VT_EMPTY:
            return "<empty>";
        case VT_I4:
            return std::to_string(v.lVal);
        case VT_I2:
            return std::to_string(v.iVal);
        case VT_BOOL:
            return v.boolVal != 0 ? "true" : "false";
        case VT_BSTR:
            return "'" + Text(v.bstrVal) + "'";
        default:
            return "<vt " + std::to_string(v.vt) + ">";
    }
}

// ---------------------------------------------------------------------------------------------
// Error objects

class TRecordInfo final : public TObject, public IErrorInfo {
public:
    explicit TRecordInfo(std::string description) : description_(std::move(description)) {}
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (iid == IUnknown::kIID || iid == IErrorInfo::kIID) {
            *object = static_cast<IErrorInfo*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    KW_OLEDB_REFCOUNT
    HRESULT GetGUID(GUID* guid) override {
        *guid = GUID_NULL;
        return S_OK;
    }
    HRESULT GetSource(BSTR* source) override {
        *source = AllocText("KW Stand-in Provider");
        return S_OK;
    }
    HRESULT GetDescription(BSTR* description) override {
        *description = AllocText(description_);
        return S_OK;
    }
    HRESULT GetHelpFile(BSTR* file) override {
        *file = nullptr;
        return S_OK;
    }
    HRESULT GetHelpContext(DWORD* context) override {
        *context = 0;
        return S_OK;
    }

private:
    std::string description_;
};

class TSqlError final : public TObject, public ISQLErrorInfo, public ISQLServerErrorInfo {
public:
    TSqlError(ErrorRecord record, bool sqlServer) : record_(std::move(record)), sqlServer_(sqlServer) {}
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (iid == IUnknown::kIID || iid == ISQLErrorInfo::kIID) {
            *object = static_cast<ISQLErrorInfo*>(this);
        } else if (sqlServer_ && iid == ISQLServerErrorInfo::kIID) {
            *object = static_cast<ISQLServerErrorInfo*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    KW_OLEDB_REFCOUNT
    HRESULT GetSQLInfo(BSTR* state, LONG* native) override {
        *state = AllocText(record_.SqlState);
        *native = record_.Native;
        return S_OK;
    }
    HRESULT GetErrorInfo(SSERRORINFO** info, OLECHAR** strings) override {
        const std::u16string message(record_.Description.begin(), record_.Description.end());
        auto* buffer = static_cast<OLECHAR*>(AllocMem((message.size() + 1) * sizeof(OLECHAR)));
        std::memcpy(buffer, message.c_str(), (message.size() + 1) * sizeof(OLECHAR));
        auto* e = static_cast<SSERRORINFO*>(AllocMem(sizeof(SSERRORINFO)));
        std::memset(e, 0, sizeof *e);
        e->pwszMessage = buffer;
        e->lNative = record_.Native;
        e->bState = 1;
        e->bClass = 16;
        e->wLineNumber = record_.Line;
        *info = e;
        *strings = buffer;
        return S_OK;
    }

private:
    ErrorRecord record_;
    bool sqlServer_;
};

class TErrorObject final : public TObject, public IErrorInfo, public IErrorRecords {
public:
    TErrorObject(std::vector<ErrorRecord> records, bool sqlServer)
        : records_(std::move(records)), sqlServer_(sqlServer) {}
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (iid == IUnknown::kIID || iid == IErrorInfo::kIID) {
            *object = static_cast<IErrorInfo*>(this);
        } else if (iid == IErrorRecords::kIID) {
            *object = static_cast<IErrorRecords*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    KW_OLEDB_REFCOUNT
    HRESULT GetGUID(GUID* guid) override {
        *guid = GUID_NULL;
        return S_OK;
    }
    HRESULT GetSource(BSTR* source) override {
        *source = AllocText("KW Stand-in Provider");
        return S_OK;
    }
    HRESULT GetDescription(BSTR* description) override {
        *description = AllocText(records_.empty() ? "" : records_[0].Description);
        return S_OK;
    }
    HRESULT GetHelpFile(BSTR* file) override {
        *file = nullptr;
        return S_OK;
    }
    HRESULT GetHelpContext(DWORD* context) override {
        *context = 0;
        return S_OK;
    }
    HRESULT AddErrorRecord(ERRORINFO*, DWORD, void*, IUnknown*, DWORD) override { return E_NOTIMPL; }
    HRESULT GetBasicErrorInfo(ULONG record, ERRORINFO* info) override {
        if (record >= records_.size()) return E_INVALIDARG;
        std::memset(info, 0, sizeof *info);
        info->hrError = records_[record].Result;
        return S_OK;
    }
    HRESULT GetCustomErrorObject(ULONG record, const IID& riid, IUnknown** object) override {
        *object = nullptr;
        if (record >= records_.size()) return E_INVALIDARG;
        auto* e = new TSqlError(records_[record], sqlServer_);
        const HRESULT hr = e->QueryInterface(riid, reinterpret_cast<void**>(object));
        static_cast<ISQLErrorInfo*>(e)->Release();
        // No such custom object: a success without one, as providers answer.
        return hr == E_NOINTERFACE ? S_OK : hr;
    }
    HRESULT GetErrorInfo(ULONG record, LCID, IErrorInfo** info) override {
        *info = nullptr;
        if (record >= records_.size()) return E_INVALIDARG;
        *info = new TRecordInfo(records_[record].Description);
        return S_OK;
    }
    HRESULT GetErrorParameters(ULONG, void*) override { return E_NOTIMPL; }
    HRESULT GetRecordCount(ULONG* count) override {
        *count = ULONG(records_.size());
        return S_OK;
    }

private:
    std::vector<ErrorRecord> records_;
    bool sqlServer_;
};

// Runs an operation as the provider's methods do: the thread's error object cleared first,
// a failure (asked for by the test, or met) answered with its result and error object.
HRESULT Run(const char* call, Database* db, const std::function<HRESULT()>& body) {
    Global& g = G();
    std::lock_guard<std::recursive_mutex> guard(g.Lock);
    g.Services->SetErrorInfo(0, nullptr);
    const bool sqlServer =
        db != nullptr ? db->Who == Identity::SqlServer : g.DefaultIdentity == Identity::SqlServer;
    try {
        for (const std::string& key : {std::string(call), std::string("*")}) {
            auto it = g.Failures.find(key);
            if (it == g.Failures.end()) continue;
            const Global::FailRule rule = it->second;
            if (--it->second.Count <= 0) g.Failures.erase(it);
            if (db != nullptr && rule.Result == E_FAIL && rule.Native == 17) {
                db->Broken = true;
                db->BrokenNative = 17;
            }
            Throw(rule.Result, std::string("Failure asked for in ") + call, "08S01", rule.Native, 1);
        }
        if (db != nullptr && db->Broken)
            Throw(E_FAIL, "The connection is broken", "08S01", db->BrokenNative, 1);
        return body();
    } catch (const Failure& f) {
        Log(std::string("fail ") + call + " " + Hex(uint32_t(f.Result)));
        auto* e = new TErrorObject(f.Records, sqlServer);
        g.Services->SetErrorInfo(0, e);
        static_cast<IErrorInfo*>(e)->Release();
        return f.Result;
    } catch (const std::exception& e) {
        auto* o = new TErrorObject({ErrorRecord{E_FAIL, e.what(), "HY000", 0, 0}}, sqlServer);
        g.Services->SetErrorInfo(0, o);
        static_cast<IErrorInfo*>(o)->Release();
        return E_FAIL;
    }
}

// ---------------------------------------------------------------------------------------------
// Accessors, shared by commands and rowsets

struct Accessor {
    DBACCESSORFLAGS Flags = 0;
    std::vector<DBBINDING> Bindings;
    std::vector<DBOBJECT> Objects;  // copies of the bindings' object descriptions
};

class TAccessors {
public:
    HRESULT Create(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING* bindings, HACCESSOR* handle,
                   DBORDINAL columns) {
        if (handle == nullptr) return E_INVALIDARG;
        *handle = 0;
        Accessor a;
        a.Flags = flags;
        a.Objects.reserve(count);
        for (DBCOUNTITEM i = 0; i < count; ++i) {
            DBBINDING b = bindings[i];
            const DBTYPE base = DBTYPE(b.wType & ~DBTYPE_BYREF);
            static const DBTYPE taken[] = {DBTYPE_I2,     DBTYPE_I4,   DBTYPE_UI2,         DBTYPE_R8,
                                           DBTYPE_I8,     DBTYPE_STR,  DBTYPE_BYTES,       DBTYPE_DBDATE,
                                           DBTYPE_DBTIME, DBTYPE_GUID, DBTYPE_DBTIMESTAMP, DBTYPE_IUNKNOWN};
            if (std::find(std::begin(taken), std::end(taken), base) == std::end(taken))
                Throw(DB_E_BADBINDINFO, "Type " + std::to_string(b.wType) + " cannot be bound", "07006");
            if (columns != 0 && (b.iOrdinal == 0 || b.iOrdinal > columns))
                Throw(DB_E_BADBINDINFO, "No column " + std::to_string(b.iOrdinal), "07009");
            if (b.pObject != nullptr) {
                a.Objects.push_back(*b.pObject);
                b.pObject = &a.Objects.back();
            }
            a.Bindings.push_back(b);
        }
        *handle = ++next_;
        items_[*handle] = std::move(a);
        return S_OK;
    }
    HRESULT Release(HACCESSOR handle) {
        if (items_.erase(handle) == 0) Throw(DB_E_BADACCESSORHANDLE, "No such accessor", "HY000");
        return S_OK;
    }
    const Accessor& Find(HACCESSOR handle) const {
        auto it = items_.find(handle);
        if (it == items_.end()) Throw(DB_E_BADACCESSORHANDLE, "No such accessor", "HY000");
        return it->second;
    }
    size_t Count() const { return items_.size(); }

private:
    std::map<HACCESSOR, Accessor> items_;
    HACCESSOR next_ = 0;
};

// The column information block and its strings, in task memory.
HRESULT ColumnInfo(const std::vector<Column>& columns, DBORDINAL* count, DBCOLUMNINFO** info,
                   OLECHAR** strings) {
    *count = columns.size();
    size_t chars = 0;
    for (const Column& c : columns)
        chars += c.Name.size() + 1;
    auto* block =
        static_cast<DBCOLUMNINFO*>(AllocMem(std::max<size_t>(1, columns.size()) * sizeof(DBCOLUMNINFO)));
    auto* text = static_cast<OLECHAR*>(AllocMem(std::max<size_t>(1, chars) * sizeof(OLECHAR)));
    OLECHAR* at = text;
    for (size_t i = 0; i < columns.size(); ++i) {
        const Column& c = columns[i];
        DBCOLUMNINFO& d = block[i];
        std::memset(&d, 0, sizeof d);
        d.pwszName = at;
        for (char ch : c.Name)
            *at++ = OLECHAR(static_cast<unsigned char>(ch));
        *at++ = 0;
        d.iOrdinal = i + 1;
        d.dwFlags = c.Flags | (c.Fixed ? DBCOLUMNFLAGS_ISFIXEDLENGTH : 0);
        d.ulColumnSize = c.Size;
        d.wType = c.Type;
        d.bPrecision = c.Precision;
        d.bScale = c.Scale;
        d.columnid.eKind = DBKIND_NAME;
    }
    *info = block;
    *strings = text;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Streams and rowsets

class TStream final : public TObject, public ISequentialStream {
public:
    explicit TStream(std::string bytes) : bytes_(std::move(bytes)) {}
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (iid == IUnknown::kIID || iid == ISequentialStream::kIID) {
            *object = static_cast<ISequentialStream*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    KW_OLEDB_REFCOUNT
    HRESULT Read(void* pv, ULONG cb, ULONG* read) override {
        return Run("Read", nullptr, [&] {
            size_t n = std::min<size_t>(cb, bytes_.size() - at_);
            if (G().ShortReads > 0) n = std::min<size_t>(n, size_t(G().ShortReads));
            std::memcpy(pv, bytes_.data() + at_, n);
            at_ += n;
            if (read != nullptr) *read = ULONG(n);
            Log("Read " + std::to_string(cb) + " " + std::to_string(n));
            return n < cb ? S_FALSE : S_OK;
        });
    }
    HRESULT Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }

private:
    std::string bytes_;
    size_t at_ = 0;
};

class TRowset final : public TObject, public IRowset, public IAccessor, public IColumnsInfo {
public:
    TRowset(Result result, std::shared_ptr<Database> db, std::shared_ptr<PendingOutputs> outputs)
        : result_(std::move(result)), db_(std::move(db)), outputs_(std::move(outputs)) {}
    ~TRowset() override {
        // Outputs that come when the rows are released come now. Row handles still held stay
        // counted: the consumer forgot them.
        if (outputs_) outputs_->Deliver();
    }
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (iid == IUnknown::kIID || iid == IRowset::kIID) {
            *object = static_cast<IRowset*>(this);
        } else if (iid == IAccessor::kIID) {
            *object = static_cast<IAccessor*>(this);
        } else if (iid == IColumnsInfo::kIID) {
            *object = static_cast<IColumnsInfo*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    KW_OLEDB_REFCOUNT

    HRESULT AddRefRows(DBCOUNTITEM, const HROW[], DBREFCOUNT[], DBSTATUS[]) override { return E_NOTIMPL; }
    HRESULT GetNextRows(HCHAPTER, DBROWOFFSET offset, DBROWCOUNT count, DBCOUNTITEM* obtained,
                        HROW** rows) override {
        return Run("GetNextRows", db_.get(), [&] {
            if (count < 0 || offset != 0) Throw(DB_E_NOTSUPPORTED, "Only forward fetches", "HY000");
            const size_t n = std::min<size_t>(size_t(count), result_.Rows.size() - next_);
            *obtained = n;
            if (*rows == nullptr) *rows = static_cast<HROW*>(AllocMem(std::max<size_t>(n, 1) * sizeof(HROW)));
            for (size_t i = 0; i < n; ++i)
                (*rows)[i] = HROW(next_ + i + 1);
            next_ += n;
            held_ += n;
            G().OutstandingRows += int(n);
            Log("GetNextRows " + std::to_string(count) + " " + std::to_string(n));
            return n < size_t(count) ? DB_S_ENDOFROWSET : S_OK;
        });
    }
    HRESULT GetData(HROW row, HACCESSOR handle, void* data) override {
        return Run("GetData", db_.get(), [&] {
            if (row == 0 || row > result_.Rows.size()) Throw(DB_E_BADROWHANDLE, "No such row", "HY000");
            const Accessor& a = accessors_.Find(handle);
            bool failed = false;
            for (const DBBINDING& b : a.Bindings) {
                const Value& v = result_.Rows[row - 1][b.iOrdinal - 1];
                const Column& c = result_.Columns[b.iOrdinal - 1];
                auto* p = static_cast<uint8_t*>(data);
                if (b.wType == DBTYPE_IUNKNOWN) {
                    DBSTATUS status = v.IsNull() ? DBSTATUS_S_ISNULL : DBSTATUS_S_OK;
                    ISequentialStream* stream = nullptr;
                    DBLENGTH length = 0;
                    if (!v.IsNull()) {
                        const std::string bytes = v.AsText();
                        stream = new TStream(bytes);
                        length = G().UnknownLengths ? sizeof(IUnknown*) : bytes.size();
                    }
                    if (b.dwPart & DBPART_VALUE) std::memcpy(p + b.obValue, &stream, sizeof stream);
                    if (b.dwPart & DBPART_LENGTH) std::memcpy(p + b.obLength, &length, sizeof length);
                    if (b.dwPart & DBPART_STATUS) std::memcpy(p + b.obStatus, &status, sizeof status);
                    continue;
                }
                if (WriteBound(b, p, v, &c) == DBSTATUS_E_CANTCONVERTVALUE) failed = true;
            }
            return failed ? DB_S_ERRORSOCCURRED : S_OK;
        });
    }
    HRESULT ReleaseRows(DBCOUNTITEM count, const HROW[], void*, DBREFCOUNT[], DBSTATUS[]) override {
        return Run("ReleaseRows", nullptr, [&] {
            const size_t n = std::min<size_t>(count, held_);
            held_ -= n;
            G().OutstandingRows -= int(n);
            return S_OK;
        });
    }
    HRESULT RestartPosition(HCHAPTER) override {
        next_ = 0;
        return S_OK;
    }

    HRESULT AddRefAccessor(HACCESSOR, DBREFCOUNT*) override { return E_NOTIMPL; }
    HRESULT CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[], DBLENGTH,
                           HACCESSOR* handle, DBSTATUS[]) override {
        return Run("CreateAccessor", db_.get(), [&] {
            if (flags != DBACCESSOR_ROWDATA) Throw(DB_E_BADBINDINFO, "A rowset takes row accessors", "HY000");
            return accessors_.Create(flags, count, bindings, handle, result_.Columns.size());
        });
    }
    HRESULT GetBindings(HACCESSOR, DBACCESSORFLAGS*, DBCOUNTITEM*, DBBINDING**) override { return E_NOTIMPL; }
    HRESULT ReleaseAccessor(HACCESSOR handle, DBREFCOUNT*) override {
        return Run("ReleaseAccessor", nullptr, [&] { return accessors_.Release(handle); });
    }

    HRESULT GetColumnInfo(DBORDINAL* count, DBCOLUMNINFO** info, OLECHAR** strings) override {
        return Run("GetColumnInfo", db_.get(),
                   [&] { return ColumnInfo(result_.Columns, count, info, strings); });
    }
    HRESULT MapColumnIDs(DBORDINAL, const DBID[], DBORDINAL[]) override { return E_NOTIMPL; }

private:
    Result result_;
    std::shared_ptr<Database> db_;
    std::shared_ptr<PendingOutputs> outputs_;
    TAccessors accessors_;
    size_t next_ = 0;
    size_t held_ = 0;
};

class TMultipleResults final : public TObject, public IMultipleResults {
public:
    TMultipleResults(std::vector<Result> results, std::shared_ptr<Database> db,
                     std::shared_ptr<PendingOutputs> outputs)
        : results_(std::move(results)), db_(std::move(db)), outputs_(std::move(outputs)) {}
    ~TMultipleResults() override {
        if (outputs_) outputs_->Deliver();
    }
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (iid == IUnknown::kIID || iid == IMultipleResults::kIID) {
            *object = static_cast<IMultipleResults*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    KW_OLEDB_REFCOUNT
    HRESULT GetResult(IUnknown*, intptr_t, const IID& riid, DBROWCOUNT* affected,
                      IUnknown** rowset) override {
        return Run("GetResult", db_.get(), [&] {
            *rowset = nullptr;
            if (affected != nullptr) *affected = -1;
            if (next_ >= results_.size()) {
                if (outputs_) outputs_->Deliver();
                Log("GetResult none");
                return DB_S_NORESULT;
            }
            Log("GetResult " + std::to_string(next_ + 1));
            auto* r = new TRowset(results_[next_++], db_, nullptr);
            const HRESULT hr = r->QueryInterface(riid, reinterpret_cast<void**>(rowset));
            static_cast<IRowset*>(r)->Release();
            return hr;
        });
    }

private:
    std::vector<Result> results_;
    std::shared_ptr<Database> db_;
    std::shared_ptr<PendingOutputs> outputs_;
    size_t next_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Commands

class TSession;

class TCommand final : public TObject,
                       public ICommandText,
                       public ICommandPrepare,
                       public ICommandProperties,
                       public ICommandWithParameters,
                       public IAccessor,
                       public IColumnsInfo {
public:
    TCommand(IUnknown* session, std::shared_ptr<Database> db) : session_(session), db_(std::move(db)) {}
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (iid == IUnknown::kIID || iid == ICommand::kIID || iid == ICommandText::kIID) {
            *object = static_cast<ICommandText*>(this);
        } else if (iid == ICommandPrepare::kIID) {
            *object = static_cast<ICommandPrepare*>(this);
        } else if (iid == ICommandProperties::kIID) {
            *object = static_cast<ICommandProperties*>(this);
        } else if (iid == ICommandWithParameters::kIID) {
            *object = static_cast<ICommandWithParameters*>(this);
        } else if (iid == IAccessor::kIID) {
            *object = static_cast<IAccessor*>(this);
        } else if (iid == IColumnsInfo::kIID) {
            *object = static_cast<IColumnsInfo*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    KW_OLEDB_REFCOUNT

    HRESULT Cancel() override {
        Log("Cancel");
        return S_OK;
    }
    HRESULT Execute(IUnknown*, const IID& riid, DBPARAMS* params, DBROWCOUNT* affected,
                    IUnknown** result) override {
        return Run("Execute", db_.get(), [&] { return DoExecute(riid, params, affected, result); });
    }
    HRESULT GetDBSession(const IID& riid, IUnknown** session) override {
        return session_->QueryInterface(riid, reinterpret_cast<void**>(session));
    }
    HRESULT GetCommandText(GUID* dialect, OLECHAR** text) override {
        if (dialect != nullptr) *dialect = DBGUID_DBSQL;
        const std::u16string wide(text_.begin(), text_.end());
        *text = static_cast<OLECHAR*>(AllocMem((wide.size() + 1) * sizeof(OLECHAR)));
        std::memcpy(*text, wide.c_str(), (wide.size() + 1) * sizeof(OLECHAR));
        return S_OK;
    }
    HRESULT SetCommandText(const GUID& dialect, const OLECHAR* text) override {
        return Run("SetCommandText", db_.get(), [&] {
            if (!(dialect == DBGUID_DBSQL)) Throw(DB_E_NOTSUPPORTED, "Unknown dialect", "HY000");
            text_ = Text(text);
            Log("SetCommandText " + text_);
            return S_OK;
        });
    }
    HRESULT Prepare(ULONG) override {
        return Run("Prepare", db_.get(), [&] {
            Log("Prepare");
            if (text_.empty()) Throw(DB_E_NOCOMMAND, "No command text", "HY000");
            std::string name;
            int markers = 0;
            bool hasResult = false;
            if (!ParseCall(text_, name, markers, hasResult)) DescribeStatement(*db_, text_);
            return S_OK;
        });
    }
    HRESULT Unprepare() override { return S_OK; }
    HRESULT GetProperties(ULONG, const DBPROPIDSET*, ULONG*, DBPROPSET**) override { return E_NOTIMPL; }
    HRESULT SetProperties(ULONG count, DBPROPSET sets[]) override {
        return Run("SetCommandProperties", db_.get(), [&] {
            bool failed = false;
            for (ULONG s = 0; s < count; ++s) {
                std::string line = "SetCommandProperties " + PropSetName(sets[s].guidPropertySet);
                const bool known =
                    sets[s].guidPropertySet == DBPROPSET_ROWSET ||
                    (sets[s].guidPropertySet == DBPROPSET_SQLSERVERROWSET && db_->Who == Identity::SqlServer);
                for (ULONG i = 0; i < sets[s].cProperties; ++i) {
                    DBPROP& p = sets[s].rgProperties[i];
                    line += " " + Hex(p.dwPropertyID) + "=" + VariantText(p.vValue);
                    p.dwStatus = known ? DBPROPSTATUS_OK : DBPROPSTATUS_NOTSUPPORTED;
                    failed = failed || !known;
                }
                Log(line);
            }
            if (failed) Throw(DB_E_ERRORSOCCURRED, "A property is not supported", "HY000");
            return S_OK;
        });
    }
    HRESULT GetParameterInfo(DB_UPARAMS*, void**, OLECHAR**) override { return E_NOTIMPL; }
    HRESULT MapParameterNames(DB_UPARAMS, const OLECHAR*[], intptr_t[]) override { return E_NOTIMPL; }
    HRESULT SetParameterInfo(DB_UPARAMS count, const DB_UPARAMS ordinals[],
                             const DBPARAMBINDINFO infos[]) override {
        return Run("SetParameterInfo", db_.get(), [&] {
            std::string line = "SetParameterInfo";
            for (DB_UPARAMS i = 0; i < count; ++i)
                line += " " + std::to_string(ordinals[i]) + ":" + Text(infos[i].pwszDataSourceType) + ":" +
                        std::to_string(infos[i].ulParamSize) + ":" + Hex(infos[i].dwFlags);
            Log(line);
            return S_OK;
        });
    }
    HRESULT AddRefAccessor(HACCESSOR, DBREFCOUNT*) override { return E_NOTIMPL; }
    HRESULT CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[], DBLENGTH,
                           HACCESSOR* handle, DBSTATUS[]) override {
        return Run("CreateAccessor", db_.get(), [&] {
            if (flags != DBACCESSOR_PARAMETERDATA)
                Throw(DB_E_BADBINDINFO, "A command takes parameter accessors", "HY000");
            return accessors_.Create(flags, count, bindings, handle, 0);
        });
    }
    HRESULT GetBindings(HACCESSOR, DBACCESSORFLAGS*, DBCOUNTITEM*, DBBINDING**) override { return E_NOTIMPL; }
    HRESULT ReleaseAccessor(HACCESSOR handle, DBREFCOUNT*) override {
        return Run("ReleaseAccessor", nullptr, [&] { return accessors_.Release(handle); });
    }
    HRESULT GetColumnInfo(DBORDINAL* count, DBCOLUMNINFO** info, OLECHAR** strings) override {
        return Run("GetColumnInfo", db_.get(), [&] {
            std::string name;
            int markers = 0;
            bool hasResult = false;
            std::vector<Column> columns;
            if (ParseCall(text_, name, markers, hasResult)) {
                std::map<DBORDINAL, Value> outputs;
                const std::vector<Result> results = RunProcedure(name, {}, outputs);
                if (!results.empty()) columns = results[0].Columns;
            } else {
                columns = DescribeStatement(*db_, text_);
            }
            return ColumnInfo(columns, count, info, strings);
        });
    }
    HRESULT MapColumnIDs(DBORDINAL, const DBID[], DBORDINAL[]) override { return E_NOTIMPL; }

private:
    HRESULT DoExecute(const IID& riid, DBPARAMS* params, DBROWCOUNT* affected, IUnknown** result) {
        if (result != nullptr) *result = nullptr;
        if (text_.empty()) Throw(DB_E_NOCOMMAND, "No command text", "HY000");
        if (db_->Who == Identity::FoxPro && HasMarkers(text_))
            Throw(DB_E_ERRORSINCOMMAND, "This provider takes no parameter markers", "42000");
        std::map<DBORDINAL, Value> inputs;
        auto outputs = std::make_shared<PendingOutputs>();
        std::string line = "Execute " + text_;
        if (params != nullptr && params->cParamSets > 0 && params->pData != nullptr) {
            const Accessor& a = accessors_.Find(params->hAccessor);
            outputs->Data = params->pData;
            for (const DBBINDING& b : a.Bindings) {
                if (b.eParamIO & DBPARAMIO_OUTPUT) outputs->Bindings.push_back(b);
                if ((b.eParamIO & DBPARAMIO_INPUT) == 0) continue;
                inputs[b.iOrdinal] = ReadBound(b, static_cast<const uint8_t*>(params->pData));
                line += " [" + std::to_string(b.iOrdinal) + "=" +
                        (inputs[b.iOrdinal].IsNull() ? "NULL" : inputs[b.iOrdinal].AsText()) + "]";
            }
        }
        Log(line);
        std::vector<Result> results;
        DBROWCOUNT changed = -1;
        std::string name;
        int markers = 0;
        bool hasResult = false;
        if (ParseCall(text_, name, markers, hasResult)) {
            results = RunProcedure(name, inputs, outputs->Values);
        } else {
            std::vector<Value> positional;
            for (const auto& [ordinal, value] : inputs) {
                if (positional.size() < ordinal) positional.resize(ordinal);
                positional[ordinal - 1] = value;
            }
            Result r = RunStatement(*db_, text_, positional, changed);
            if (!r.Columns.empty()) results.push_back(std::move(r));
        }
        if (affected != nullptr) *affected = changed;
        // Outputs come at once from a provider that gives them at execution, or when nothing
        // is left to release.
        const bool atRelease = db_->Who == Identity::SqlServer && !results.empty();
        if (!atRelease) outputs->Deliver();
        if (result == nullptr) return S_OK;
        if (riid == IMultipleResults::kIID) {
            auto* m = new TMultipleResults(std::move(results), db_, atRelease ? outputs : nullptr);
            const HRESULT hr = m->QueryInterface(riid, reinterpret_cast<void**>(result));
            static_cast<IMultipleResults*>(m)->Release();
            return hr;
        }
        if (results.empty()) return S_OK;
        auto* r = new TRowset(std::move(results[0]), db_, atRelease ? outputs : nullptr);
        const HRESULT hr = r->QueryInterface(riid, reinterpret_cast<void**>(result));
        static_cast<IRowset*>(r)->Release();
        return hr;
    }

    ComPtr<IUnknown> session_;
    std::shared_ptr<Database> db_;
    std::string text_;
    TAccessors accessors_;
};

// ---------------------------------------------------------------------------------------------
// Sessions and data sources

class TDataSource;

class TSession final : public TObject,
                       public IDBCreateCommand,
                       public ITransactionLocal,
                       public IGetDataSource,
                       public IDBSchemaRowset {
public:
    TSession(IUnknown* dataSource, std::shared_ptr<Database> db)
        : dataSource_(dataSource), db_(std::move(db)) {}
    ~TSession() override {
        if (inTransaction_) sqlite3_exec(db_->Db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (iid == IUnknown::kIID || iid == IDBCreateCommand::kIID) {
            *object = static_cast<IDBCreateCommand*>(this);
        } else if (iid == ITransactionLocal::kIID || iid == ITransaction::kIID) {
            *object = static_cast<ITransactionLocal*>(this);
        } else if (iid == IGetDataSource::kIID) {
            *object = static_cast<IGetDataSource*>(this);
        } else if (iid == IDBSchemaRowset::kIID) {
            *object = static_cast<IDBSchemaRowset*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    KW_OLEDB_REFCOUNT

    HRESULT CreateCommand(IUnknown* outer, const IID& riid, IUnknown** command) override {
        return Run("CreateCommand", db_.get(), [&] {
            *command = nullptr;
            if (outer != nullptr) return CLASS_E_NOAGGREGATION;
            auto* c = new TCommand(static_cast<IDBCreateCommand*>(this), db_);
            const HRESULT hr = c->QueryInterface(riid, reinterpret_cast<void**>(command));
            static_cast<ICommandText*>(c)->Release();
            return hr;
        });
    }
    HRESULT Commit(int32_t, DWORD, DWORD) override {
        return Run("Commit", db_.get(), [&] {
            Log("Commit");
            if (!inTransaction_) Throw(XACT_E_NOTRANSACTION, "No transaction", "25000");
            inTransaction_ = false;
            char* message = nullptr;
            if (sqlite3_exec(db_->Db, "COMMIT", nullptr, nullptr, &message) != SQLITE_OK) {
                const std::string text = message != nullptr ? message : "commit failed";
                sqlite3_free(message);
                Throw(E_FAIL, text, "40000");
            }
            return S_OK;
        });
    }
    HRESULT Abort(void*, int32_t, int32_t) override {
        return Run("Abort", db_.get(), [&] {
            Log("Abort");
            if (!inTransaction_) Throw(XACT_E_NOTRANSACTION, "No transaction", "25000");
            inTransaction_ = false;
            sqlite3_exec(db_->Db, "ROLLBACK", nullptr, nullptr, nullptr);
            return S_OK;
        });
    }
    HRESULT GetTransactionInfo(void*) override { return E_NOTIMPL; }
    HRESULT GetOptionsObject(IUnknown**) override { return E_NOTIMPL; }
    HRESULT StartTransaction(ISOLEVEL level, ULONG, IUnknown*, ULONG*) override {
        return Run("StartTransaction", db_.get(), [&] {
            Log("StartTransaction " + Hex(uint32_t(level)));
            if (inTransaction_) Throw(E_FAIL, "A transaction is open", "25000");
            sqlite3_exec(db_->Db, "BEGIN", nullptr, nullptr, nullptr);
            inTransaction_ = true;
            return S_OK;
        });
    }
    HRESULT GetDataSource(const IID& riid, IUnknown** source) override {
        return dataSource_->QueryInterface(riid, reinterpret_cast<void**>(source));
    }
    HRESULT GetRowset(IUnknown*, const GUID& schema, ULONG count, const VARIANT restrictions[],
                      const IID& riid, ULONG, DBPROPSET[], IUnknown** rowset) override {
        return Run("GetRowset", db_.get(), [&] {
            *rowset = nullptr;
            std::vector<std::string> texts;
            std::string line = "GetRowset " + GuidText(schema);
            for (ULONG i = 0; i < count; ++i) {
                texts.push_back(restrictions[i].vt == VT_BSTR ? Text(restrictions[i].bstrVal) : "");
                line += " [" + (restrictions[i].vt == VT_BSTR ? texts.back() : std::string("-")) + "]";
            }
            Log(line);
            auto* r = new TRowset(SchemaRows(*db_, schema, texts), db_, nullptr);
            const HRESULT hr = r->QueryInterface(riid, reinterpret_cast<void**>(rowset));
            static_cast<IRowset*>(r)->Release();
            return hr;
        });
    }
    HRESULT GetSchemas(ULONG*, GUID**, ULONG**) override { return E_NOTIMPL; }

private:
    ComPtr<IUnknown> dataSource_;
    std::shared_ptr<Database> db_;
    bool inTransaction_ = false;
};

class TDataSource final : public TObject,
                          public IDBInitialize,
                          public IDBProperties,
                          public IDBCreateSession {
public:
    ~TDataSource() override {
        for (auto& [key, value] : properties_)
            G().Services->ClearVariant(&value);
    }
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (iid == IUnknown::kIID || iid == IDBInitialize::kIID) {
            *object = static_cast<IDBInitialize*>(this);
        } else if (iid == IDBProperties::kIID) {
            *object = static_cast<IDBProperties*>(this);
        } else if (iid == IDBCreateSession::kIID) {
            *object = static_cast<IDBCreateSession*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    KW_OLEDB_REFCOUNT

    HRESULT Initialize() override {
        return Run("Initialize", nullptr, [&] {
            const std::string source = PropertyText(DBPROP_INIT_DATASOURCE);
            const std::string catalog = PropertyText(DBPROP_INIT_CATALOG);
            std::string path = source;
            if (!catalog.empty()) path = source + "/" + catalog + ".db";
            Log("Initialize " + IdentityName() + " " + path + " user=" + PropertyText(DBPROP_AUTH_USERID) +
                " password=" + PropertyText(DBPROP_AUTH_PASSWORD));
            if (source.empty()) Throw(E_FAIL, "No data source", "08001");
            db_ = OpenDatabase(path, Who());
            db_->Catalog = catalog;
            return S_OK;
        });
    }
    HRESULT Uninitialize() override {
        Log("Uninitialize");
        db_.reset();
        return S_OK;
    }
    HRESULT GetProperties(ULONG count, const DBPROPIDSET sets[], ULONG* setCount, DBPROPSET** out) override {
        return Run("GetProperties", db_.get(), [&] {
            *setCount = count;
            *out = static_cast<DBPROPSET*>(AllocMem(std::max<ULONG>(count, 1) * sizeof(DBPROPSET)));
            bool any = false, all = true;
            for (ULONG s = 0; s < count; ++s) {
                const DBPROPIDSET& ids = sets[s];
                DBPROPSET& set = (*out)[s];
                set.guidPropertySet = ids.guidPropertySet;
                set.cProperties = ids.cPropertyIDs;
                set.rgProperties =
                    static_cast<DBPROP*>(AllocMem(std::max<ULONG>(ids.cPropertyIDs, 1) * sizeof(DBPROP)));
                for (ULONG i = 0; i < ids.cPropertyIDs; ++i) {
                    DBPROP& p = set.rgProperties[i];
                    std::memset(&p, 0, sizeof p);
                    p.dwPropertyID = ids.rgPropertyIDs[i];
                    p.colid = DB_NULLID;
                    if (ids.guidPropertySet == DBPROPSET_DATASOURCEINFO &&
                        InfoProperty(p.dwPropertyID, p.vValue)) {
                        any = true;
                    } else {
                        p.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
                        all = false;
                    }
                }
            }
            return all ? S_OK : any ? DB_S_ERRORSOCCURRED : DB_E_ERRORSOCCURRED;
        });
    }
    HRESULT GetPropertyInfo(ULONG, const DBPROPIDSET*, ULONG*, void**, OLECHAR**) override {
        return E_NOTIMPL;
    }
    HRESULT SetProperties(ULONG count, DBPROPSET sets[]) override {
        return Run("SetProperties", db_.get(), [&] {
            bool requiredFailed = false, optionalFailed = false;
            for (ULONG s = 0; s < count; ++s) {
                const GUID& g = sets[s].guidPropertySet;
                std::string line = "SetProperties " + PropSetName(g);
                bool known = g == DBPROPSET_DBINIT || g == DBPROPSET_DATASOURCE;
                if (g == DBPROPSET_SQLSERVERDBINIT) known = Who() == Identity::SqlServer;
                for (ULONG i = 0; i < sets[s].cProperties; ++i) {
                    DBPROP& p = sets[s].rgProperties[i];
                    line += " " + Hex(p.dwPropertyID) + "=" + VariantText(p.vValue);
                    const auto& refused = G().RefusedProperties;
                    const bool ok =
                        known && std::find(refused.begin(), refused.end(), p.dwPropertyID) == refused.end();
                    p.dwStatus = ok ? DBPROPSTATUS_OK : DBPROPSTATUS_NOTSUPPORTED;
                    if (!ok) {
                        (p.dwOptions == DBPROPOPTIONS_REQUIRED ? requiredFailed : optionalFailed) = true;
                        continue;
                    }
                    if (g == DBPROPSET_DBINIT) Keep(p.dwPropertyID, p.vValue);
                }
                Log(line);
            }
            if (requiredFailed) Throw(DB_E_ERRORSOCCURRED, "Some properties were not set", "HY000");
            return optionalFailed ? DB_S_ERRORSOCCURRED : S_OK;
        });
    }
    HRESULT CreateSession(IUnknown* outer, const IID& riid, IUnknown** session) override {
        return Run("CreateSession", db_.get(), [&] {
            *session = nullptr;
            if (outer != nullptr) return CLASS_E_NOAGGREGATION;
            if (!db_) Throw(E_UNEXPECTED, "The data source is not initialized", "HY000");
            auto* s = new TSession(static_cast<IDBInitialize*>(this), db_);
            const HRESULT hr = s->QueryInterface(riid, reinterpret_cast<void**>(session));
            static_cast<IDBCreateCommand*>(s)->Release();
            return hr;
        });
    }

private:
    void Keep(DBPROPID id, const VARIANT& v) {
        VARIANT& slot = properties_[id];
        G().Services->ClearVariant(&slot);
        slot = v;
        if (v.vt == VT_BSTR)
            slot.bstrVal = G().Services->AllocStringLen(
                v.bstrVal, uint32_t(std::u16string_view(v.bstrVal != nullptr ? v.bstrVal : u"").size()));
    }
    std::string PropertyText(DBPROPID id) const {
        auto it = properties_.find(id);
        if (it == properties_.end()) return "";
        if (it->second.vt == VT_BSTR) return Text(it->second.bstrVal);
        if (it->second.vt == VT_I4) return std::to_string(it->second.lVal);
        return "";
    }
    // The provider string's "KW IDENTITY=..." chooses the identity, else the test's default.
    Identity Who() const {
        const std::string text = PropertyText(DBPROP_INIT_PROVIDERSTRING);
        std::string upper = text;
        for (char& c : upper)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        const size_t at = upper.find("KW IDENTITY=");
        if (at == std::string::npos) return G().DefaultIdentity;
        const std::string value = upper.substr(at + 12, upper.find(';', at) - at - 12);
        if (value == "SQLSERVER") return Identity::SqlServer;
        if (value == "FOXPRO") return Identity::FoxPro;
        return Identity::Generic;
    }
    std::string IdentityName() const {
        switch (Who()) {
            case Identity::SqlServer:
                return "sqlserver";
            case Identity::FoxPro:
                return "foxpro";
            default:
                return "generic";
        }
    }
    bool InfoProperty(DBPROPID id, VARIANT& v) const {
        const Identity who = Who();
        auto text = [&v](const std::string& t) {
            v.vt = VT_BSTR;
            v.bstrVal = AllocText(t);
        };
        auto number = [&v](int32_t n) {
            v.vt = VT_I4;
            v.lVal = n;
        };
        switch (id) {
            case DBPROP_PROVIDERFRIENDLYNAME:
                text(who == Identity::SqlServer ? "Microsoft OLE DB Provider for SQL Server"
                     : who == Identity::FoxPro  ? "Microsoft OLE DB Provider for Visual FoxPro"
                                                : "KW SQLite Provider");
                return true;
            case DBPROP_DBMSNAME:
                text(who == Identity::SqlServer ? "Microsoft SQL Server"
                     : who == Identity::FoxPro  ? "Visual FoxPro"
                                                : "SQLite");
                return true;
            case DBPROP_DBMSVER:
                text(who == Identity::SqlServer ? "08.00.2039"
                     : who == Identity::FoxPro  ? "09.00.0000"
                                                : sqlite3_libversion());
                return true;
            case DBPROP_PROVIDERVER:
                text(who == Identity::SqlServer ? "08.10.1830" : "01.02.0003");
                return true;
            case DBPROP_SQLSUPPORT:
                number(who == Identity::FoxPro
                           ? (G().SqlSupport >= 0 ? G().SqlSupport : DBPROPVAL_SQL_ESCAPECLAUSES)
                           : DBPROPVAL_SQL_ODBC_MINIMUM | DBPROPVAL_SQL_ANSI92_INTERMEDIATE |
                                 DBPROPVAL_SQL_ESCAPECLAUSES);
                return true;
            case DBPROP_MULTIPLERESULTS:
                number(who == Identity::FoxPro ? 0 : 1);
                return true;
            case DBPROP_OUTPUTPARAMETERAVAILABILITY:
                number(who == Identity::SqlServer ? DBPROPVAL_OA_ATROWRELEASE : DBPROPVAL_OA_ATEXECUTE);
                return true;
            case DBPROP_PREPARECOMMITBEHAVIOR:
                number(who == Identity::SqlServer ? DBPROPVAL_CB_DELETE : DBPROPVAL_CB_PRESERVE);
                return true;
            case DBPROP_PREPAREABORTBEHAVIOR:
                number(DBPROPVAL_CB_DELETE);
                return true;
            default:
                return false;
        }
    }

    std::map<DBPROPID, VARIANT> properties_;
    std::shared_ptr<Database> db_;
};

class TClassFactory final : public TObject, public IClassFactory {
public:
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (iid == IUnknown::kIID || iid == IClassFactory::kIID) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    KW_OLEDB_REFCOUNT
    HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) override {
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* d = new TDataSource();
        Log("CreateInstance");
        const HRESULT hr = d->QueryInterface(iid, object);
        static_cast<IDBInitialize*>(d)->Release();
        return hr;
    }
    HRESULT LockServer(int32_t) override { return S_OK; }
};

}  // namespace

void PendingOutputs::Deliver() {
    if (Delivered) return;
    Delivered = true;
    if (Data == nullptr) return;
    for (const DBBINDING& b : Bindings) {
        auto it = Values.find(b.iOrdinal);
        WriteBound(b, static_cast<uint8_t*>(Data), it == Values.end() ? Value::Null() : it->second, nullptr);
    }
    Log("Outputs delivered");
}

Database::~Database() {
    if (Db != nullptr) sqlite3_close_v2(Db);
}

}  // namespace kwoledb

using namespace kwoledb;

KW_EXPORT void ComAttachServices(const TComServices* services) {
    G().Services = services;
}

KW_EXPORT HRESULT DllGetClassObject(const CLSID&, const IID& iid, void** object) {
    auto* f = new TClassFactory();
    const HRESULT hr = f->QueryInterface(iid, object);
    f->Release();
    return hr;
}

KW_EXPORT const char* KwStandinJournal() {
    return G().Journal.Text();
}

KW_EXPORT void KwStandinClearJournal() {
    G().Journal.Clear();
}

KW_EXPORT void KwOleDbStandinReset() {
    Global& g = G();
    std::lock_guard<std::recursive_mutex> guard(g.Lock);
    g.Journal.Clear();
    g.Failures.clear();
    g.DefaultIdentity = Identity::Generic;
    g.UnknownLengths = false;
    g.ShortReads = 0;
    g.RefusedProperties.clear();
    g.SqlSupport = -1;
    g.IgnoreTypeRestriction = false;
}

KW_EXPORT void KwOleDbStandinIdentity(const char* name) {
    std::lock_guard<std::recursive_mutex> guard(G().Lock);
    const std::string n = name != nullptr ? name : "";
    G().DefaultIdentity = n == "sqlserver" ? Identity::SqlServer
                          : n == "foxpro"  ? Identity::FoxPro
                                           : Identity::Generic;
}

KW_EXPORT void KwOleDbStandinFail(const char* call, int32_t hr, int32_t native, int count) {
    std::lock_guard<std::recursive_mutex> guard(G().Lock);
    if (count <= 0)
        G().Failures.erase(call);
    else
        G().Failures[call] = Global::FailRule{hr, native, count};
}

KW_EXPORT void KwOleDbStandinUnknownLengths(int on) {
    G().UnknownLengths = on != 0;
}

KW_EXPORT void KwOleDbStandinShortReads(int bytes) {
    G().ShortReads = bytes;
}

KW_EXPORT void KwOleDbStandinRefuseProperty(uint32_t id) {
    std::lock_guard<std::recursive_mutex> guard(G().Lock);
    G().RefusedProperties.push_back(id);
}

KW_EXPORT void KwOleDbStandinSqlSupport(int32_t value) {
    G().SqlSupport = value;
}

KW_EXPORT void KwOleDbStandinIgnoreTypeRestriction(int on) {
    G().IgnoreTypeRestriction = on != 0;
}

KW_EXPORT int KwOleDbStandinLiveObjects() {
    return G().Live.load();
}

KW_EXPORT int KwOleDbStandinOutstandingRows() {
    return G().OutstandingRows.load();
}

// database/drivers/OleDbDataLink.cpp: the data-link object and the initialisation-string
// reader (see OleDbDataLink.h).
#include "database/drivers/OleDbDataLink.h"

#include <atomic>

#include "rtl/Text.h"

namespace oledb {

namespace {

enum class State {
    Key,         // reading a key, up to its "="
    ValueStart,  // blanks before a value
    Plain,       // an unquoted value, up to ";"
    Quoted,      // inside a quoted value
    AfterQuote,  // after a closing quote: blanks, then ";" or the end
};

// What the string's trimming takes away: blanks and control characters, as rtl::Trim does.
bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

}  // namespace

bool ParseInitString(std::string_view text, std::vector<TInitStringPair>& pairs, std::string& error) {
    pairs.clear();
    error.clear();
    if (text.size() > kMaxInitStringLength) {
        error = "the string is longer than " + std::to_string(kMaxInitStringLength) + " characters";
        return false;
    }
    State state = State::Key;
    std::string key, value;
    char quote = 0;
    const auto finish = [&]() -> bool {
        const std::string k = rtl::Trim(key);
        if (k.empty()) {
            error = "a value has no key";
            return false;
        }
        pairs.push_back({k, state == State::Plain ? rtl::TrimRight(value) : value});
        key.clear();
        value.clear();
        return true;
    };
    for (size_t i = 0; i <= text.size(); ++i) {
        const bool end = i == text.size();
        const char c = end ? ';' : text[i];
        switch (state) {
            case State::Key:
                if (c == ';') {
                    if (!rtl::Trim(key).empty()) {
                        error = "'" + rtl::Trim(key) + "' has no '='";
                        return false;
                    }
                    key.clear();
                } else if (c == '=') {
                    if (!end && i + 1 < text.size() && text[i + 1] == '=') {
                        key += '=';
                        ++i;
                    } else {
                        state = State::ValueStart;
                    }
                } else {
                    key += c;
                }
                break;
            case State::ValueStart:
                if (IsBlank(c) && !end) break;
                if (c == '"' || c == '\'') {
                    quote = c;
                    state = State::Quoted;
                    break;
                }
                state = State::Plain;
                [[fallthrough]];
            case State::Plain:
                if (c == ';') {
                    if (!finish()) return false;
                    state = State::Key;
                } else {
                    value += c;
                }
                break;
            case State::Quoted:
                if (end) {
                    error = "the value of '" + rtl::Trim(key) + "' has no closing quote";
                    return false;
                }
                if (c == quote) {
                    if (i + 1 < text.size() && text[i + 1] == quote) {
                        value += c;
                        ++i;
                    } else {
                        state = State::AfterQuote;
                    }
                } else {
                    value += c;
                }
                break;
            case State::AfterQuote:
                if (c == ';') {
                    if (!finish()) return false;
                    state = State::Key;
                } else if (!IsBlank(c)) {
                    error = "text follows the quoted value of '" + rtl::Trim(key) + "'";
                    return false;
                }
                break;
        }
    }
    return true;
}

std::string QuoteInitValue(std::string_view value) {
    const bool edges = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
    if (!edges && value.find_first_of(";=\"'") == std::string_view::npos) return std::string(value);
    std::string out = "\"";
    for (char c : value) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string BuildInitString(const std::vector<TInitStringPair>& pairs) {
    std::string out;
    for (const TInitStringPair& p : pairs) {
        if (!out.empty()) out += ";";
        for (char c : p.Key)
            out += c == '=' ? std::string("==") : std::string(1, c);
        out += "=" + QuoteInitValue(p.Value);
    }
    return out;
}

bool FindInitValue(const std::vector<TInitStringPair>& pairs, std::string_view key, std::string& value) {
    bool found = false;
    for (const TInitStringPair& p : pairs)
        if (rtl::SameText(p.Key, std::string(key))) {
            value = p.Value;
            found = true;
        }
    return found;
}

DBPROPID InitPropertyOfKey(std::string_view key) {
    static const struct {
        const char* key;
        DBPROPID property;
    } keys[] = {
        {"DATA SOURCE", DBPROP_INIT_DATASOURCE},
        {"INITIAL CATALOG", DBPROP_INIT_CATALOG},
        {"USER ID", DBPROP_AUTH_USERID},
        {"UID", DBPROP_AUTH_USERID},
        {"PASSWORD", DBPROP_AUTH_PASSWORD},
        {"PWD", DBPROP_AUTH_PASSWORD},
        {"INTEGRATED SECURITY", DBPROP_AUTH_INTEGRATED},
        {"PERSIST SECURITY INFO", DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO},
        {"CONNECT TIMEOUT", DBPROP_INIT_TIMEOUT},
        {"LOCATION", DBPROP_INIT_LOCATION},
        {"EXTENDED PROPERTIES", DBPROP_INIT_PROVIDERSTRING},
    };
    for (const auto& k : keys)
        if (rtl::SameText(k.key, std::string(key))) return k.property;
    return 0;
}

namespace {

class TDataLink final : public IDataInitialize {
public:
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IUnknown::kIID || iid == IDataInitialize::kIID) {
            *object = static_cast<IDataInitialize*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

    HRESULT GetDataSource(IUnknown* outer, DWORD, const OLECHAR* initString, const IID& riid,
                          IUnknown** dataSource) override {
        if (dataSource == nullptr) return E_POINTER;
        *dataSource = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        try {
            return Open(BstrToText(initString), riid, dataSource);
        } catch (const std::exception& e) {
            // Nothing raised may leave an interface.
            return ReportError(E_FAIL, "Data link", e.what());
        }
    }
    HRESULT GetInitializationString(IUnknown*, uint8_t, OLECHAR**) override { return E_NOTIMPL; }
    HRESULT CreateDBInstance(const CLSID&, IUnknown*, DWORD, OLECHAR*, const IID&, IUnknown**) override {
        return E_NOTIMPL;
    }
    HRESULT CreateDBInstanceEx(const CLSID&, IUnknown*, DWORD, OLECHAR*, void*, ULONG, void*) override {
        return E_NOTIMPL;
    }
    HRESULT LoadStringFromStorage(const OLECHAR*, OLECHAR**) override { return E_NOTIMPL; }
    HRESULT WriteStringToStorage(const OLECHAR*, const OLECHAR*, DWORD) override { return E_NOTIMPL; }

private:
    ~TDataLink() = default;

    static HRESULT Open(const std::string& text, const IID& riid, IUnknown** dataSource) {
        std::vector<TInitStringPair> pairs;
        std::string error;
        if (!ParseInitString(text, pairs, error))
            return ReportError(E_INVALIDARG, "Data link", "Invalid initialization string: " + error);
        std::string provider;
        if (!FindInitValue(pairs, "PROVIDER", provider) || rtl::Trim(provider).empty())
            return ReportError(E_INVALIDARG, "Data link", "The initialization string names no provider");
        ComPtr<IUnknown> source;
        HRESULT hr = CreateProviderDataSource(rtl::Trim(provider), IUnknown::kIID, source.ReceiveVoid());
        if (FAILED(hr)) return hr;
        hr = SetInitProperties(source, pairs);
        if (FAILED(hr)) return hr;
        return source->QueryInterface(riid, reinterpret_cast<void**>(dataSource));
    }

    // The keys as initialisation properties, the unknown ones in the provider string.
    static HRESULT SetInitProperties(const ComPtr<IUnknown>& source,
                                     const std::vector<TInitStringPair>& pairs) {
        std::vector<DBPROP> props;
        std::string extended;
        std::vector<TInitStringPair> others;
        // Of repeated keys the last counts.
        std::vector<TInitStringPair> last;
        for (const TInitStringPair& p : pairs) {
            bool replaced = false;
            for (TInitStringPair& l : last)
                if (rtl::SameText(l.Key, p.Key)) {
                    l.Value = p.Value;
                    replaced = true;
                }
            if (!replaced) last.push_back(p);
        }
        for (const TInitStringPair& p : last) {
            if (rtl::SameText(p.Key, "PROVIDER")) continue;
            const DBPROPID id = InitPropertyOfKey(p.Key);
            if (id == 0) {
                others.push_back(p);
                continue;
            }
            if (id == DBPROP_INIT_PROVIDERSTRING) {
                extended = p.Value;
                continue;
            }
            DBPROP prop{};
            prop.dwPropertyID = id;
            prop.dwOptions = DBPROPOPTIONS_OPTIONAL;
            prop.colid = DB_NULLID;
            if (id == DBPROP_INIT_TIMEOUT) {
                int32_t seconds = 0;
                if (!rtl::TryStrToInt(rtl::Trim(p.Value), seconds)) seconds = 0;
                prop.vValue = MakeVariantI4(seconds);
            } else if (id == DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO) {
                prop.vValue = MakeVariantBool(rtl::SameText(rtl::Trim(p.Value), "TRUE"));
            } else {
                prop.vValue = MakeVariantText(p.Value);
            }
            props.push_back(prop);
        }
        std::string providerString = extended;
        if (!others.empty()) {
            if (!providerString.empty() && providerString.back() != ';') providerString += ";";
            providerString += BuildInitString(others);
        }
        if (!providerString.empty()) {
            DBPROP prop{};
            prop.dwPropertyID = DBPROP_INIT_PROVIDERSTRING;
            prop.dwOptions = DBPROPOPTIONS_OPTIONAL;
            prop.colid = DB_NULLID;
            prop.vValue = MakeVariantText(providerString);
            props.push_back(prop);
        }
        HRESULT hr = S_OK;
        if (!props.empty()) {
            ComPtr<IDBProperties> properties = source.As<IDBProperties>();
            if (!properties) {
                hr = ReportError(E_NOINTERFACE, "Data link", "The provider's data source has no properties");
            } else {
                DBPROPSET set{props.data(), ULONG(props.size()), DBPROPSET_DBINIT};
                hr = properties->SetProperties(1, &set);
                // Optional properties a provider lacks are no failure.
                if (hr == DB_E_ERRORSOCCURRED || hr == DB_S_ERRORSOCCURRED) hr = S_OK;
            }
        }
        for (DBPROP& p : props)
            VariantClear(&p.vValue);
        return hr;
    }

    std::atomic<ULONG> refs_{1};
};

}  // namespace

HRESULT CreateDataLink(const IID& iid, void** object) {
    if (object == nullptr) return E_POINTER;
    TDataLink* link = new TDataLink();
    const HRESULT hr = link->QueryInterface(iid, object);
    link->Release();
    return hr;
}

}  // namespace oledb

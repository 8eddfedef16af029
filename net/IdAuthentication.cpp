// net/IdAuthentication.cpp: Basic authentication and the scheme registry.
#include "net/IdAuthentication.h"

#include <mutex>
#include <vector>

#include "net/IdCoderMIME.h"
#include "rtl/Bytes.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

struct SchemeRegistry {
    std::mutex lock;
    std::vector<std::pair<std::string, TIdAuthenticationClass>> schemes;
};

SchemeRegistry& Schemes() {
    static SchemeRegistry r;
    return r;
}

void WipeLines(rtl::StringList& list) {
    for (int i = 0; i < list.Count(); ++i) {
        std::string line = list[i];
        rtl::secure_wipe(line.data(), line.size());
        list.Set(i, line);
    }
    list.Clear();
}

std::unique_ptr<TIdAuthentication> MakeBasic() { return std::make_unique<TIdBasicAuthentication>(); }

const bool kBasicRegistered = [] {
    RegisterAuthenticationScheme("Basic", &TIdBasicAuthentication::ClassInfo);
    return true;
}();

}  // namespace

const TIdAuthenticationClassInfo TIdBasicAuthentication::ClassInfo{"TIdBasicAuthentication", &MakeBasic};

void RegisterAuthenticationScheme(const std::string& name, TIdAuthenticationClass authClass) {
    SchemeRegistry& r = Schemes();
    std::lock_guard guard(r.lock);
    for (const auto& [n, c] : r.schemes)
        if (rtl::SameText(n, name))
            EIdException::RaiseIdException<EIdAlreadyRegisteredAuthenticationMethod>(rtl::Format(
                "This authentication method is already registered with class name %s.", std::string(c->Name)));
    r.schemes.emplace_back(name, authClass);
}

TIdAuthenticationClass FindAuthenticationClass(const std::string& name) {
    (void)kBasicRegistered;
    SchemeRegistry& r = Schemes();
    std::lock_guard guard(r.lock);
    for (const auto& [n, c] : r.schemes)
        if (rtl::SameText(n, name)) return c;
    return nullptr;
}

TIdAuthentication::TIdAuthentication() {
    Params.Separator = "=";
    Params.FoldOnWrite = false;
}

TIdAuthentication::~TIdAuthentication() {
    WipeLines(Params);
    if (authParams_) WipeLines(*authParams_);
}

void TIdAuthentication::SetAuthParams(const rtl::StringList& list) {
    if (!authParams_) authParams_ = std::make_unique<TIdHeaderList>();
    authParams_->Clear();
    authParams_->AddStrings(list);
}

std::string TIdAuthentication::ReadChallenge(const std::string& scheme) const {
    if (!authParams_) return {};
    for (const std::string& line : authParams_->Lines())
        if (line.compare(0, scheme.size(), scheme) == 0) return line;
    return {};
}

std::string TIdBasicAuthentication::Authentication() {
    std::string clear = GetUsername() + ":" + GetPassword();
    std::string text = "Basic " + TIdEncoderMIME::EncodeString(clear);
    rtl::secure_wipe(clear.data(), clear.size());
    return text;
}

TIdAuthNextStep TIdBasicAuthentication::DoNext() {
    std::string c = ReadChallenge("Basic");
    const size_t space = c.find(' ');
    c = space == std::string::npos ? std::string() : c.substr(space + 1);
    while (!c.empty()) {
        std::string part = CutAtDelimiter(c, ", ", true, true);
        const size_t eq = part.find('=');
        if (eq != std::string::npos) part.replace(eq, 1, Params.Separator);
        Params.Add(part);
    }
    const std::string realm = Params.GetValueByName("realm");
    Realm = realm.size() >= 2 ? realm.substr(1, realm.size() - 2) : std::string();
    switch (CurrentStep) {
        case 0:
            return GetUsername().empty() ? nsAskProgram : nsDoRequest;
        case 1:
            return nsFail;
        default:
            return nsDoRequest;
    }
}

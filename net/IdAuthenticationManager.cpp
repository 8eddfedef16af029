// net/IdAuthenticationManager.cpp: filing finished authentications.
#include "net/IdAuthenticationManager.h"

#include "rtl/Bytes.h"

TIdAuthenticationItem::~TIdAuthenticationItem() {
    for (int i = 0; i < Params.Count(); ++i) {
        std::string line = Params[i];
        rtl::secure_wipe(line.data(), line.size());
        Params.Set(i, line);
    }
}

void TIdAuthenticationManager::AddAuthentication(const TIdAuthentication& authentication, const std::string& uri) {
    auto item = std::make_unique<TIdAuthenticationItem>();
    TIdURI parsed(uri);
    item->URI.SetURI(parsed.Protocol.empty() || parsed.Host.empty() ? uri : parsed.BuildURI(false, false));
    item->Params.AddStrings(authentication.Params);
    Authentications.push_back(std::move(item));
}

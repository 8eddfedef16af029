// net/IdAuthenticationManager.h: a store of finished authentications (URL and parameters).
//
// A client may be given one; after a request whose authentication ran all its steps, the
// client files the URL (without user info and bookmark) and the authentication's parameters
// here. The items hold credentials: their parameters are wiped when they go.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "net/IdAuthentication.h"
#include "net/IdBaseComponent.h"

class TIdAuthenticationItem {
public:
    TIdAuthenticationItem() = default;
    ~TIdAuthenticationItem();
    TIdAuthenticationItem(const TIdAuthenticationItem&) = delete;
    TIdAuthenticationItem& operator=(const TIdAuthenticationItem&) = delete;

    TIdURI URI;
    rtl::StringList Params;
};

class TIdAuthenticationManager : public TIdBaseComponent {
public:
    using TIdBaseComponent::TIdBaseComponent;

    std::vector<std::unique_ptr<TIdAuthenticationItem>> Authentications;

    // Files the authentication for the URI text.
    void AddAuthentication(const TIdAuthentication& authentication, const std::string& uri);
};

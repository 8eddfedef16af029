// net/IdAuthentication.h: the objects that answer HTTP authentication challenges.
//
// An authentication object keeps the user name, the password and the challenge's parameters
// in Params (name=value lines, names in any case) and gives the header value of the
// "Authorization" or "Proxy-Authorization" line. A process-wide registry maps the scheme word
// of a challenge ("Basic") to the class that answers it; Basic is registered at start-up. The
// objects hold credentials: their parameters are wiped when the object goes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/IdHeaderList.h"
#include "net/IdURI.h"

RTL_EXCEPTION(EIdAlreadyRegisteredAuthenticationMethod, EIdException);

enum TIdAuthNextStep { nsAskProgram, nsDoRequest, nsFail };

class TIdAuthentication;

// A class of authentication object: its name and how to make one.
struct TIdAuthenticationClassInfo {
    const char* Name;
    std::unique_ptr<TIdAuthentication> (*Make)();
};
using TIdAuthenticationClass = const TIdAuthenticationClassInfo*;

class TIdAuthentication {
public:
    TIdAuthentication();
    virtual ~TIdAuthentication();
    TIdAuthentication(const TIdAuthentication&) = delete;
    TIdAuthentication& operator=(const TIdAuthentication&) = delete;

    TIdHeaderList Params;
    int32_t CurrentStep = 0;

    virtual TIdAuthenticationClass ClassType() const = 0;
    TIdHeaderList* AuthParams() const { return authParams_.get(); }
    void SetAuthParams(const rtl::StringList& list);
    // The first line of AuthParams that begins with the scheme name (exact case); empty
    // without one.
    std::string ReadChallenge(const std::string& scheme) const;
    TIdAuthNextStep Next() { return DoNext(); }
    virtual int32_t Steps() const { return 0; }
    virtual void Reset() {}
    virtual std::string Authentication() = 0;
    virtual bool KeepAlive() const = 0;

    std::string GetUsername() const { return Params.GetValueByName("username"); }
    std::string GetPassword() const { return Params.GetValueByName("password"); }
    virtual void SetUsername(const std::string& value) { Params.SetValueByName("Username", value); }
    virtual void SetPassword(const std::string& value) { Params.SetValueByName("Password", value); }

protected:
    virtual TIdAuthNextStep DoNext() = 0;

private:
    std::unique_ptr<TIdHeaderList> authParams_;
};

class TIdBasicAuthentication : public TIdAuthentication {
public:
    static const TIdAuthenticationClassInfo ClassInfo;
    TIdAuthenticationClass ClassType() const override { return &ClassInfo; }

    std::string Realm;

    int32_t Steps() const override { return 1; }
    void Reset() override { CurrentStep = 0; }
    // "Basic " and the Base64 of user name, ":" and password.
    std::string Authentication() override;
    bool KeepAlive() const override { return false; }

protected:
    TIdAuthNextStep DoNext() override;
};

// A second registration of a name raises EIdAlreadyRegisteredAuthenticationMethod.
void RegisterAuthenticationScheme(const std::string& name, TIdAuthenticationClass authClass);
// The class registered for the scheme (any case), nullptr when none.
TIdAuthenticationClass FindAuthenticationClass(const std::string& name);

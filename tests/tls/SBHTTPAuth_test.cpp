// Tests of HTTP authentication without a security support interface: the interface is never
// available, the scheme list stays as the client made it, the state resets, and names split
// into domain and user (or take this computer's name as the domain), and the Basic
// credentials a preemptive line carries.
#include "tls/SBHTTPAuth.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Workstation.h"
#include "rtl/Text.h"

namespace {

std::string ThisComputer() {
    std::string host = plat::HostName();
    host = host.substr(0, host.find('.'));
    return rtl::UpperCase(host.substr(0, 16));
}

TEST(HTTPAuth, SplitDomainUserTable) {
    struct Case {
        std::string name, user, domain;
    };
    const std::string here = ThisComputer();
    const Case cases[] = {
        {"DOM\\kw", "kw", "DOM"},
        {"DOM/kw", "kw", "DOM"},
        // A slash wins over a backslash wherever they stand; the first one splits.
        {"a\\b/c", "c", "a\\b"},
        {"a/b/c", "b/c", "a"},
        {"a\\b\\c", "b\\c", "a"},
        {"\\kw", "kw", ""},
        {"DOM\\", "", "DOM"},
        {"kw", "kw", here},
        {"", "", here},
        {"user@realm", "user@realm", here},
    };
    for (const Case& c : cases) {
        std::string user = "stale", domain = "stale";
        SplitDomainUser(c.name, user, domain);
        EXPECT_EQ(user, c.user) << c.name;
        EXPECT_EQ(domain, c.domain) << c.name;
    }
    EXPECT_FALSE(here.empty());
    EXPECT_LE(here.size(), 16u);
}

TEST(HTTPAuth, WithoutTheInterfaceNothingChanges) {
    EXPECT_FALSE(SecurityInterfaceAvailable());
    rtl::StringList schemes;
    schemes.Add("NTLM");
    schemes.Add("Basic");
    FilterAuthSchemes(schemes);
    ASSERT_EQ(schemes.Count(), 2);
    EXPECT_EQ(schemes[0], "NTLM");
    EXPECT_EQ(schemes[1], "Basic");
}

TEST(HTTPAuth, InitForgetsTheIdentityAndFreeTheHandles) {
    TSBAuthState state;
    state.FirstStep = false;
    state.CredentialsAcquired = state.ContextMade = true;
    state.Base64 = false;
    state.User = "kw";
    state.Domain = "DOM";
    state.Password = "pw";
    FreeAuthState(state);
    EXPECT_FALSE(state.CredentialsAcquired);
    EXPECT_FALSE(state.ContextMade);
    EXPECT_EQ(state.User, "kw");
    InitAuthState(state);
    EXPECT_TRUE(state.FirstStep);
    EXPECT_TRUE(state.Base64);
    EXPECT_EQ(state.User, "");
    EXPECT_EQ(state.Domain, "");
    EXPECT_EQ(state.Password, "");
}

}  // namespace

namespace {

TEST(HTTPAuth, BasicCredentialsTable) {
    struct Case {
        std::string user, password, value;
    };
    const Case cases[] = {
        {"Aladdin", "open sesame", "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
        {"u", "", "Basic dTo="},
        {"", "", "Basic Og=="},
        // A colon in the password stays: only the first one separates.
        {"pu", "a:b", "Basic cHU6YTpi"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BasicCredentials(c.user, c.password), c.value) << c.user;
}

}  // namespace

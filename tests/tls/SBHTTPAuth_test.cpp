// Tests of HTTP authentication that need no GSSAPI: a binding without its library is
// unavailable (and then the scheme list stays and no token is made), the scheme filter, the
// challenge reader (the scheme chosen and its token decoded, within the ceiling), the state's
// reset, names split into domain and user (or this computer's name as the domain), and the
// Basic credentials a preemptive line carries.
#include "tls/SBHTTPAuth.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/base/SBUtils.h"

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

TEST(HTTPAuth, WithoutTheLibraryTheInterfaceIsUnavailable) {
    const TSBSecurityInterface missing({"libkw-no-such-gssapi.so.2"});
    EXPECT_FALSE(missing.Available());
    EXPECT_EQ(missing.Reason().rfind("the GSSAPI library cannot be loaded: ", 0), 0u) << missing.Reason();
    EXPECT_TRUE(missing.Packages().empty());
    // A library without the entry points is no GSSAPI.
    const TSBSecurityInterface other({"libz.so.1"});
    EXPECT_FALSE(other.Available());
    EXPECT_EQ(other.Reason(), "the GSSAPI library libz.so.1 has no gss_import_name");

    const TSBSecurityInterfaceOverride unavailable(missing);
    EXPECT_FALSE(SecurityInterfaceAvailable());
    rtl::StringList schemes;
    schemes.Add("NTLM");
    schemes.Add("Basic");
    FilterAuthSchemes(schemes);
    ASSERT_EQ(schemes.Count(), 2) << "the packages cannot be listed: the list stays";
    EXPECT_EQ(schemes[0], "NTLM");
    TSBAuthState state;
    bool more = true;
    std::string token = "stale";
    EXPECT_FALSE(MakeAuthToken(state, "", "DOM\\kw", "pw", "NTLM", more, token));
    EXPECT_FALSE(more);
    EXPECT_EQ(token, "");
    std::string line = "stale";
    EXPECT_FALSE(BuildAuthHeader("NTLM", "", state, false, false, "pw", "DOM\\kw", more, line));
    EXPECT_EQ(line, "");
}

TEST(HTTPAuth, FilterAuthSchemesTable) {
    struct Case {
        const char* name;
        std::vector<std::string> schemes, packages, kept;
    };
    const Case cases[] = {
        {"NTLM installed", {"NTLM", "Basic"}, {"NTLM"}, {"NTLM", "Basic"}},
        {"no package named NTLM: only Basic stays", {"NTLM", "Basic"}, {"Kerberos"}, {"Basic"}},
        {"packages compare with case, basic without", {"ntlm", "BASIC", "Digest"}, {"NTLM"}, {"BASIC"}},
        {"no packages", {"NTLM", "basic"}, {}, {"basic"}},
    };
    for (const Case& c : cases) {
        rtl::StringList schemes;
        for (const std::string& s : c.schemes)
            schemes.Add(s);
        FilterAuthSchemes(schemes, c.packages);
        std::vector<std::string> kept;
        for (int i = 0; i < schemes.Count(); ++i)
            kept.push_back(schemes[i]);
        EXPECT_EQ(kept, c.kept) << c.name;
    }
}

TEST(HTTPAuth, ChooseAuthChallengeTable) {
    rtl::StringList allowed;
    allowed.Add("NTLM");
    allowed.Add("Basic");
    struct Case {
        const char* name;
        std::vector<std::string> challenges;
        bool found;
        std::string scheme, data;
    };
    const Case cases[] = {
        {"both offered: the allowed list's order wins", {"Basic realm=\"kw\"", "NTLM"}, true, "NTLM", ""},
        {"a challenge with data", {"NTLM TlRMTVNTUAACAAAA"}, true, "NTLM", "TlRMTVNTUAACAAAA"},
        {"any case, blanks around, the allowed spelling", {"  ntlm   abc=  "}, true, "NTLM", "abc="},
        {"only Basic", {"Negotiate", "Basic realm=\"kw\""}, true, "Basic", "realm=\"kw\""},
        {"a longer scheme name is another scheme", {"NTLMX abc", "Basicx"}, false, "", ""},
        {"nothing offered", {}, false, "", ""},
        {"an empty value", {"", "   "}, false, "", ""},
        {"a scheme we do not speak", {"Negotiate YIIG"}, false, "", ""},
    };
    for (const Case& c : cases) {
        std::string scheme = "stale", data = "stale";
        EXPECT_EQ(ChooseAuthChallenge(allowed, c.challenges, scheme, data), c.found) << c.name;
        if (!c.found) continue;
        EXPECT_EQ(scheme, c.scheme) << c.name;
        EXPECT_EQ(data, c.data) << c.name;
    }
}

TEST(HTTPAuth, DecodeAuthChallengeTable) {
    struct Case {
        const char* name;
        std::string data;
        bool ok;
        std::string token;
    };
    const std::string atLimit(kAuthTokenLimit, 'x');
    std::string encoded(atLimit.size() * 4 / 3 + 4, '\0');
    size_t size = encoded.size();
    EncodeBase64(atLimit.data(), atLimit.size(), encoded.data(), false, size);
    encoded.resize(size);
    const Case cases[] = {
        {"empty", "", true, ""},
        {"padded", "TlRMTQ==", true, "NTLM"},
        {"stops at the first character outside the alphabet", "TlRMTQ== trailing", true, "NTLM"},
        {"stops at once", ",TlRMTQ==", true, ""},
        {"at the ceiling", encoded, true, atLimit},
        {"one byte past the ceiling", encoded.substr(0, encoded.size() - 4) + "eHh4", false, ""},
        {"far past the ceiling", std::string(kAuthTokenLimit * 2, 'A'), false, ""},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> token{1, 2, 3};
        EXPECT_EQ(DecodeAuthChallenge(c.data, token), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(std::string(token.begin(), token.end()), c.token) << c.name;
        }
    }
}

TEST(HTTPAuth, InitForgetsTheIdentityAndFreeTheHandles) {
    TSBAuthState state;
    state.FirstStep = false;
    state.CredentialsAcquired = state.ContextMade = true;
    state.Base64 = false;
    state.User = "kw";
    state.Domain = "DOM";
    FreeAuthState(state);
    EXPECT_FALSE(state.CredentialsAcquired);
    EXPECT_FALSE(state.ContextMade);
    EXPECT_EQ(state.User, "kw");
    InitAuthState(state);
    EXPECT_TRUE(state.FirstStep);
    EXPECT_TRUE(state.Base64);
    EXPECT_EQ(state.User, "");
    EXPECT_EQ(state.Domain, "");
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

// Workstation identity from this machine's own sources.
#include "platform/Workstation.h"

#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

namespace {

bool IsDottedQuad(const std::string& s) {
    int parts = 0;
    size_t i = 0;
    while (i <= s.size()) {
        size_t j = s.find('.', i);
        if (j == std::string::npos) j = s.size();
        const std::string p = s.substr(i, j - i);
        if (p.empty() || p.size() > 3 || p.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(p) > 255)
            return false;
        ++parts;
        i = j + 1;
    }
    return parts == 4;
}

TEST(Workstation, HostNameIsTheKernels) {
    std::ifstream in("/proc/sys/kernel/hostname");
    std::string kernel;
    std::getline(in, kernel);
    EXPECT_EQ(plat::HostName(), kernel);
    EXPECT_FALSE(plat::OfficialHostName().empty());
}

TEST(Workstation, InterfacesIncludeLoopbackAndAreWellFormed) {
    const auto list = plat::NetworkInterfaces();
    ASSERT_FALSE(list.empty());
    bool sawLoopback = false;
    for (const auto& i : list) {
        EXPECT_FALSE(i.name.empty());
        EXPECT_TRUE(IsDottedQuad(i.address)) << i.address;
        EXPECT_TRUE(IsDottedQuad(i.mask)) << i.mask;
        EXPECT_TRUE(IsDottedQuad(i.broadcast)) << i.broadcast;
        if (i.loopback && i.address == "127.0.0.1") {
            sawLoopback = true;
            EXPECT_EQ(i.mask, "255.0.0.0");
            EXPECT_TRUE(i.up);
            EXPECT_FALSE(i.broadcasts);
            EXPECT_EQ(i.broadcast, "0.0.0.0");
        }
    }
    EXPECT_TRUE(sawLoopback);
}

TEST(Workstation, AddressIsTheFirstUpNetworkInterfaceElseLoopback) {
    std::string expected = "127.0.0.1";
    for (const auto& i : plat::NetworkInterfaces())
        if (i.up && !i.loopback) {
            expected = i.address;
            break;
        }
    EXPECT_EQ(plat::WorkstationIPv4(), expected);
}

TEST(Workstation, UserIsTheRealUsersName) {
    const std::string user = plat::LoggedOnUser();
    EXPECT_FALSE(user.empty());
    if (::getuid() == 0) {
        EXPECT_EQ(user, "root");
    }
}

TEST(Workstation, AddressLiteralsAreReadAsTheResolverReadsThem) {
    const struct Row {
        std::string host;
        std::string text;  // "" when the host is a name
    } rows[] = {
        {"127.0.0.1", "127.0.0.1"},
        {"127.1", "127.0.0.1"},
        {"127.0.1", "127.0.0.1"},
        {"0x7f.0.0.1", "127.0.0.1"},
        {"0X7F.1", "127.0.0.1"},
        {"2130706433", "127.0.0.1"},
        {"0x7f000001", "127.0.0.1"},
        {"0177.0.0.1", "127.0.0.1"},
        {"0127.0.0.1", "87.0.0.1"},
        {"127.000.0.1", "127.0.0.1"},
        {"1.65535", "1.0.255.255"},
        {"1.65536", "1.1.0.0"},
        {"::1", "::1"},
        {"[::1]", "::1"},
        {"[127.1]", "127.0.0.1"},
        {"::ffff:127.0.0.1", "::ffff:127.0.0.1"},
        {"0:0:0:0:0:0:0:1", "::1"},
        // Names, and what the resolver refuses as an address.
        {"localhost", ""},
        {"", ""},
        {"[]", ""},
        {"256.0.0.1", ""},
        {"1.2.3.4.5", ""},
        {"1.16777216", ""},
        {"4294967296", ""},
        {"127.0.0.1.", ""},
        {".127.0.0.1", ""},
        {"127..1", ""},
        {"127.0.0.1 ", ""},
        {"127.0.0.1 junk", ""},
        {"08.0.0.1", ""},
        {"0x.0.0.1", ""},
        {"-1", ""},
        {"a.0.0.1", ""},
        {"[::1", ""},
        {std::string("127.0.0.1\0.evil", 15), ""},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(plat::AddressLiteralText(r.host), r.text) << r.host;
        const std::vector<uint8_t> bytes = plat::AddressLiteralBytes(r.host);
        EXPECT_EQ(bytes.size(), r.text.empty()                          ? 0u
                                : r.text.find(':') == std::string::npos ? 4u
                                                                        : 16u)
            << r.host;
    }
    EXPECT_EQ(plat::AddressLiteralBytes("0127.0.0.1"), (std::vector<uint8_t>{87, 0, 0, 1}));
}

}  // namespace

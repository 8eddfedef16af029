// Workstation identity against the system's own tools: hostname, id and ip.
#include "platform/Workstation.h"

#include <cstdio>
#include <memory>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

// Runs a peer tool through the shell; false when it cannot run or fails.
bool RunTool(const std::string& cmd, std::string& out) {
    std::unique_ptr<FILE, int (*)(FILE*)> p(::popen((cmd + " 2>/dev/null").c_str(), "r"), ::pclose);
    if (!p) return false;
    char buf[4096];
    out.clear();
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p.get())) > 0)
        out.append(buf, n);
    return ::pclose(p.release()) == 0;
}

std::string Chomp(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

std::string MaskFromPrefix(int bits) {
    const uint32_t m = bits == 0 ? 0 : ~uint32_t(0) << (32 - bits);
    return std::to_string(m >> 24) + "." + std::to_string((m >> 16) & 255) + "." +
           std::to_string((m >> 8) & 255) + "." + std::to_string(m & 255);
}

TEST(WorkstationPeer, HostNameAndUserMatchTheTools) {
    std::string out;
    KW_REQUIRE_PEER(RunTool("hostname", out), "hostname");
    EXPECT_EQ(plat::HostName(), Chomp(out));
    KW_REQUIRE_PEER(RunTool("id -un", out), "id");
    EXPECT_EQ(plat::LoggedOnUser(), Chomp(out));
}

TEST(WorkstationPeer, InterfacesMatchIp) {
    std::string out;
    KW_REQUIRE_PEER(RunTool("ip -4 -o addr show", out), "ip (iproute2)");
    // Lines: "1: lo    inet 127.0.0.1/8 scope host lo ..."
    std::set<std::string> fromIp, ours;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream w(line);
        std::string idx, name, inet, cidr;
        w >> idx >> name >> inet >> cidr;
        const auto slash = cidr.find('/');
        ASSERT_NE(slash, std::string::npos) << line;
        fromIp.insert(name + " " + cidr.substr(0, slash) + " " +
                      MaskFromPrefix(std::stoi(cidr.substr(slash + 1))));
    }
    for (const auto& i : plat::NetworkInterfaces())
        ours.insert(i.name + " " + i.address + " " + i.mask);
    EXPECT_EQ(ours, fromIp);
}

}  // namespace

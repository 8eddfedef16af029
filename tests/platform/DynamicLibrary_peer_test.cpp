// A library loaded at run time answers as the same library does for another program (python3).
#include "platform/DynamicLibrary.h"

#include <cstdio>
#include <memory>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

bool Python(const std::string& code, std::string& out) {
    std::unique_ptr<FILE, int (*)(FILE*)> p(::popen(("python3 -c '" + code + "' 2>/dev/null").c_str(), "r"),
                                            ::pclose);
    if (!p) return false;
    char buf[512];
    out.clear();
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p.get())) > 0)
        out.append(buf, n);
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return ::pclose(p.release()) == 0;
}

TEST(DynamicLibraryPeer, ZlibAgreesWithPython) {
    std::string version;
    KW_REQUIRE_PEER(Python("import zlib; print(zlib.ZLIB_RUNTIME_VERSION)", version), "python3");
    plat::DynamicLibrary z;
    z.LoadOrThrow({"libz.so.1", "libz.so"});
    auto zlibVersion = z.Bind<const char* (*)()>("zlibVersion");
    EXPECT_EQ(std::string(zlibVersion()), version);

    auto crc32 = z.Bind<unsigned long (*)(unsigned long, const unsigned char*, unsigned)>("crc32");
    const std::string text = "kwLoader ação";
    std::string expected;
    ASSERT_TRUE(Python("import zlib; print(zlib.crc32(\"" + text + "\".encode()))", expected));
    EXPECT_EQ(
        std::to_string(crc32(0, reinterpret_cast<const unsigned char*>(text.data()), unsigned(text.size()))),
        expected);
}

}  // namespace

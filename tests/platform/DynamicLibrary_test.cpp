// Loading real shared libraries and binding their entry points.
#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

namespace {

TEST(DynamicLibrary, LoadsTheFirstCandidateThatExists) {
    plat::DynamicLibrary lib;
    EXPECT_FALSE(lib.IsLoaded());
    ASSERT_TRUE(lib.Load({"libkw-no-such-library.so.9", "", "libc.so.6"}));
    EXPECT_TRUE(lib.IsLoaded());
    EXPECT_EQ(lib.LoadedName(), "libc.so.6");

    // Bound entry points are the real functions.
    auto getpidFn = lib.Bind<pid_t (*)()>("getpid");
    EXPECT_EQ(getpidFn(), ::getpid());
    auto strlenFn = lib.Bind<size_t (*)(const char*)>("strlen");
    EXPECT_EQ(strlenFn("kwLoader"), std::strlen("kwLoader"));
    EXPECT_NE(lib.Symbol("malloc"), nullptr);
    EXPECT_EQ(lib.Symbol("kw_no_such_symbol"), nullptr);
}

TEST(DynamicLibrary, MissingEntryPointIsNamed) {
    plat::DynamicLibrary lib;
    ASSERT_TRUE(lib.Load("libz.so.1"));
    try {
        lib.Bind<void (*)()>("deflateKwNoSuchThing");
        ADD_FAILURE();
    } catch (const plat::EDynamicLibraryError& e) {
        EXPECT_NE(e.Message().find("deflateKwNoSuchThing"), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find("libz.so.1"), std::string::npos) << e.Message();
        EXPECT_STREQ(e.ClassName(), "EDynamicLibraryError");
    }
    EXPECT_EQ(lib.FirstMissing({"inflate", "deflate", "kwMissingOne", "kwMissingTwo"}), "kwMissingOne");
    EXPECT_EQ(lib.FirstMissing({"inflate", "crc32"}), "");

    // Without any library loaded, the error says so.
    plat::DynamicLibrary none;
    try {
        none.Bind<void (*)()>("inflate");
        ADD_FAILURE();
    } catch (const plat::EDynamicLibraryError& e) {
        EXPECT_NE(e.Message().find("no library loaded"), std::string::npos) << e.Message();
    }
}

TEST(DynamicLibrary, NoCandidateLoads) {
    plat::DynamicLibrary lib;
    EXPECT_FALSE(lib.Load({"libkw-absent-a.so", "/kw/no/such/libb.so"}));
    EXPECT_FALSE(lib.IsLoaded());
    EXPECT_NE(lib.LastError().find("libkw-absent-a.so"), std::string::npos) << lib.LastError();
    EXPECT_NE(lib.LastError().find("libb.so"), std::string::npos) << lib.LastError();
    try {
        lib.LoadOrThrow({"libkw-absent-a.so", "libkw-absent-b.so"});
        ADD_FAILURE();
    } catch (const plat::EDynamicLibraryError& e) {
        EXPECT_NE(e.Message().find("libkw-absent-a.so, libkw-absent-b.so"), std::string::npos) << e.Message();
    }
    // A failed load after a good one leaves nothing loaded.
    ASSERT_TRUE(lib.Load("libz.so.1"));
    EXPECT_FALSE(lib.Load("libkw-absent-a.so"));
    EXPECT_FALSE(lib.IsLoaded());
    EXPECT_EQ(lib.LoadedName(), "");
}

TEST(DynamicLibrary, MoveAndUnload) {
    plat::DynamicLibrary a;
    ASSERT_TRUE(a.Load("libz.so.1"));
    plat::DynamicLibrary b(std::move(a));
    EXPECT_FALSE(a.IsLoaded());  // NOLINT(bugprone-use-after-move): the moved-from state is defined
    EXPECT_TRUE(b.IsLoaded());
    EXPECT_NE(b.Symbol("zlibVersion"), nullptr);
    plat::DynamicLibrary c;
    c = std::move(b);
    EXPECT_EQ(c.LoadedName(), "libz.so.1");
    c.Unload();
    EXPECT_FALSE(c.IsLoaded());
    EXPECT_EQ(c.Symbol("zlibVersion"), nullptr);
}

TEST(DynamicLibrary, AKeptLibraryStaysInTheProcess) {
    const char* name = "libjpeg.so.62";  // not linked into this test program
    auto resident = [&] {
        void* h = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
        if (h != nullptr) dlclose(h);
        return h != nullptr;
    };
    ASSERT_FALSE(resident());
    {
        plat::DynamicLibrary lib;
        ASSERT_TRUE(lib.Load(name));
        EXPECT_TRUE(resident());
    }
    EXPECT_FALSE(resident());
    {
        plat::DynamicLibrary lib;
        ASSERT_TRUE(lib.Load(name));
        lib.KeepLoaded();
        lib.Unload();
        EXPECT_FALSE(lib.IsLoaded());
    }
    EXPECT_TRUE(resident());
}

TEST(DynamicLibrary, SplitNames) {
    struct Case {
        std::string list;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"ICLIT09B.DLL;ICLIT09A.DLL", {"ICLIT09B.DLL", "ICLIT09A.DLL"}},
        {" libpq.so.5 ; libpq.so ", {"libpq.so.5", "libpq.so"}},
        {";;a;;", {"a"}},
        {"", {}},
        {"  ", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(plat::DynamicLibrary::SplitNames(c.list), c.names) << c.list;
}

}  // namespace

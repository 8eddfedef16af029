// The PKCS#11 module list: reference counts, finalisation (objects first, then C_Finalize with
// a null argument) and unloading, as a stand-in library that counts its calls shows them.
#include "crypto/prov/SBPKCS11ModuleList.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The counters the stand-in library updates; fresh for every load.
struct Watch {
    int finalizeCalls = 0;
    int nonNullArguments = 0;
    int unloads = 0;
};

std::unique_ptr<TElPKCS11Module> LoadStub(Watch& watch) {
    plat::DynamicLibrary library;
    EXPECT_TRUE(library.Load(std::string(KW_PKCS11_STUB))) << library.LastError();
    auto setWatch = library.Bind<void (*)(int*, int*, int*)>("kw_pkcs11_watch");
    setWatch(&watch.finalizeCalls, &watch.nonNullArguments, &watch.unloads);
    return std::make_unique<TElPKCS11Module>(std::move(library));
}

// Records the order in which objects of a module go.
class Tracked final : public TElPKCS11ModuleObject {
public:
    Tracked(std::vector<int>& log, int id, const Watch& watch) : log_(log), id_(id), watch_(watch) {}
    ~Tracked() override {
        log_.push_back(id_);
        // Objects go before the library is finalised.
        EXPECT_EQ(watch_.finalizeCalls, 0);
    }

private:
    std::vector<int>& log_;
    int id_;
    const Watch& watch_;
};

TEST(PKCS11ModuleList, TheLastReleaseFinalisesFreesAndUnloads) {
    Watch watch;
    std::vector<int> freed;
    TElPKCS11ModuleList list;
    TElPKCS11Module* module = list.Add(LoadStub(watch));
    module->Initialized = true;
    module->Objects.push_back(std::make_unique<Tracked>(freed, 1, watch));
    module->Objects.push_back(std::make_unique<Tracked>(freed, 2, watch));
    list.AddReference(module);
    EXPECT_EQ(module->GetRefCount(), 2);

    list.ReleaseModule(module);
    EXPECT_EQ(list.GetCount(), 1);
    EXPECT_EQ(watch.finalizeCalls, 0);
    EXPECT_TRUE(freed.empty());

    list.ReleaseModule(module);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(freed, (std::vector<int>{1, 2}));
    EXPECT_EQ(watch.finalizeCalls, 1);
    EXPECT_EQ(watch.nonNullArguments, 0);
    EXPECT_EQ(watch.unloads, 1);
    // A record that is no longer in the list is left alone.
    list.ReleaseModule(module);
    EXPECT_EQ(watch.finalizeCalls, 1);
}

TEST(PKCS11ModuleList, ALibraryNeverInitialisedIsOnlyUnloaded) {
    Watch watch;
    bool objectFreed = false;
    struct Flag final : TElPKCS11ModuleObject {
        explicit Flag(bool& f) : flag(f) {}
        ~Flag() override { flag = true; }
        bool& flag;
    };
    {
        TElPKCS11ModuleList list;
        TElPKCS11Module* module = list.Add(LoadStub(watch));
        module->Objects.push_back(std::make_unique<Flag>(objectFreed));
        list.ReleaseModule(module);
        EXPECT_EQ(watch.finalizeCalls, 0);
        EXPECT_EQ(watch.unloads, 1);
        // The record's objects went with the record, untouched before.
    }
    EXPECT_TRUE(objectFreed);
}

TEST(PKCS11ModuleList, ClearAndDestructionReleaseEveryCount) {
    Watch a, b;
    {
        TElPKCS11ModuleList list;
        TElPKCS11Module* first = list.Add(LoadStub(a));
        first->Initialized = true;
        list.AddReference(first);
        list.AddReference(first);
        list.Clear();
        EXPECT_EQ(list.GetCount(), 0);
        EXPECT_EQ(a.finalizeCalls, 1);
        EXPECT_EQ(a.unloads, 1);
        TElPKCS11Module* second = list.Add(LoadStub(b));
        second->Initialized = true;
    }
    EXPECT_EQ(b.finalizeCalls, 1);
    EXPECT_EQ(b.unloads, 1);
    EXPECT_EQ(PKCS11ModuleList().GetCount(), 0);
}

}  // namespace

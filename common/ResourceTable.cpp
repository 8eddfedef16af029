// common/ResourceTable.cpp: lookups in the program's resource table and in tables
// that tests add.
#include "common/ResourceTable.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "rtl/Text.h"

namespace kwres {

namespace {

std::mutex gMutex;
std::vector<const ResourceSet*>& AddedSets() {
    static std::vector<const ResourceSet*> sets;
    return sets;
}

const Resource* FindIn(const ResourceSet& set, std::string_view name, std::string_view type) {
    for (size_t i = 0; i < set.count; ++i)
        if (rtl::SameText(set.entries[i].name, name) && rtl::SameText(set.entries[i].type, type))
            return &set.entries[i];
    return nullptr;
}

}  // namespace

std::optional<std::span<const unsigned char>> FindResource(std::string_view name, std::string_view type) {
    std::lock_guard lock(gMutex);
    const Resource* r = FindIn(kwProgramResources, name, type);
    for (size_t i = 0; r == nullptr && i < AddedSets().size(); ++i)
        r = FindIn(*AddedSets()[i], name, type);
    if (r == nullptr) return std::nullopt;
    return std::span<const unsigned char>(r->data, r->size);
}

void AddResourceSet(const ResourceSet& set) {
    std::lock_guard lock(gMutex);
    AddedSets().push_back(&set);
}

void RemoveResourceSet(const ResourceSet& set) {
    std::lock_guard lock(gMutex);
    auto& sets = AddedSets();
    sets.erase(std::remove(sets.begin(), sets.end(), &set), sets.end());
}

}  // namespace kwres

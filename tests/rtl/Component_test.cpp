// Free notification between components: each side of a link hears when the other goes, once,
// and a component that goes first takes its links with it.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "rtl/Component.h"

namespace {

class Listener final : public rtl::Component {
public:
    std::vector<rtl::Component*> removed;

protected:
    void Notification(rtl::Component* component, Operation operation) override {
        if (operation == Operation::Remove) removed.push_back(component);
    }
};

TEST(ComponentFreeNotification, TheOtherSideHearsOnceWhenALinkedComponentGoes) {
    Listener listener;
    auto a = std::make_unique<rtl::Component>();
    auto b = std::make_unique<rtl::Component>();
    rtl::Component* const aAddress = a.get();
    a->FreeNotification(&listener);
    a->FreeNotification(&listener);  // linking twice links once
    listener.FreeNotification(b.get());
    a.reset();
    ASSERT_EQ(listener.removed.size(), 1u);
    EXPECT_EQ(listener.removed[0], aAddress);
    b->RemoveFreeNotification(&listener);
    b.reset();
    EXPECT_EQ(listener.removed.size(), 1u);
}

TEST(ComponentFreeNotification, AListenerThatGoesFirstIsNotCalledLater) {
    // Under AddressSanitizer a call into the destroyed listener would be reported.
    auto a = std::make_unique<rtl::Component>();
    Listener stays;
    a->FreeNotification(&stays);
    {
        Listener goes;
        a->FreeNotification(&goes);
    }
    a.reset();
    EXPECT_EQ(stays.removed.size(), 1u);
}

TEST(ComponentFreeNotification, BothSidesOfALinkHear) {
    auto first = std::make_unique<Listener>();
    auto second = std::make_unique<Listener>();
    first->FreeNotification(second.get());
    rtl::Component* const firstAddress = first.get();
    first.reset();
    ASSERT_EQ(second->removed.size(), 1u);
    EXPECT_EQ(second->removed[0], firstAddress);
    Listener third;
    third.FreeNotification(second.get());
    second.reset();
    EXPECT_EQ(third.removed.size(), 1u);
}

}  // namespace

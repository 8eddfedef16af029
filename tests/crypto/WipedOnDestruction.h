// tests/crypto/WipedOnDestruction.h: shows that a key record clears its bytes when it goes
// away. The record is built in a byte buffer that outlives it, keyed, checked to hold
// something, destroyed, and the buffer is then read back.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <new>

namespace kwtest {

template <class T, class Fill>
::testing::AssertionResult WipedOnDestruction(Fill fill) {
    alignas(T) unsigned char storage[sizeof(T)] = {};
    T* record = new (storage) T();
    fill(*record);
    bool keyed = false;
    for (unsigned char b : storage)
        keyed |= b != 0;
    if (!keyed) {
        std::destroy_at(record);
        return ::testing::AssertionFailure() << "the keyed record is all zero: the check shows nothing";
    }
    std::destroy_at(record);
    // Read through volatile: the compiler treats the bytes of an ended object as undefined and
    // could otherwise read them from anywhere (or warn that they are uninitialised).
    const volatile unsigned char* bytes = storage;
    for (size_t i = 0; i < sizeof(storage); ++i)
        if (bytes[i] != 0) return ::testing::AssertionFailure() << "byte " << i << " survived destruction";
    return ::testing::AssertionSuccess();
}

}  // namespace kwtest

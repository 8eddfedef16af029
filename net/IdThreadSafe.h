// net/IdThreadSafe.h: values guarded by a critical section of their own.
#pragma once

#include <cstdint>

#include "net/IdGlobal.h"

class TIdThreadSafe {
public:
    void Lock() { lock_.Acquire(); }
    void Unlock() { lock_.Release(); }

private:
    TIdCriticalSection lock_;
};

class TIdThreadSafeInteger : public TIdThreadSafe {
public:
    // Add / subtract 1 under the lock; the old value.
    int32_t Increment();
    int32_t Decrement();
    int32_t Value();
    void SetValue(int32_t value);

private:
    int32_t value_ = 0;
};

// net/IdThreadSafe.cpp: the guarded integer.
#include "net/IdThreadSafe.h"

int32_t TIdThreadSafeInteger::Increment() {
    Lock();
    const int32_t old = value_++;
    Unlock();
    return old;
}

int32_t TIdThreadSafeInteger::Decrement() {
    Lock();
    const int32_t old = value_--;
    Unlock();
    return old;
}

int32_t TIdThreadSafeInteger::Value() {
    Lock();
    const int32_t v = value_;
    Unlock();
    return v;
}

void TIdThreadSafeInteger::SetValue(int32_t value) {
    Lock();
    value_ = value;
    Unlock();
}

// net/IdAntiFreezeBase.h: the hook that lets a single-threaded user interface breathe while
// the library blocks.
//
// At most one anti-freeze exists per process. The socket layers call ProcessIfActive during
// waits and sends; it does something only when the current anti-freeze applies to the calling
// thread (a derived class says which) and is active. This system has no derived class, so the
// hook stays idle unless a program or a test installs one.
#pragma once

#include <cstdint>

#include "net/IdBaseComponent.h"
#include "net/IdException.h"

class TIdAntiFreezeBase : public TIdBaseComponent {
public:
    // "Only one TIdAntiFreeze can exist per application." when one exists already (unless
    // this one is being designed).
    explicit TIdAntiFreezeBase(rtl::Component* owner = nullptr);
    ~TIdAntiFreezeBase() override;

    bool Active = true;
    bool ApplicationHasPriority = true;
    int32_t IdleTimeOut = 250;  // ms
    bool OnlyWhenIdle = true;

    // The derived class's processing of pending user-interface work.
    virtual void ProcessUserInterface() = 0;
    // Whether the hook serves the calling thread (false in the base).
    virtual bool AppliesToCaller() const { return false; }

    // The current anti-freeze, or nullptr.
    static TIdAntiFreezeBase* Current();
    // True when a current anti-freeze applies to the calling thread.
    static bool AppliesToCallingThread();
    // Processes user-interface work when the current anti-freeze applies to the calling
    // thread, is active, and the wait is idle (or OnlyWhenIdle is off, or force is set).
    static void ProcessIfActive(bool idle, bool force = false);
};

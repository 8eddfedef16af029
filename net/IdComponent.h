// net/IdComponent.h: the base of every component that talks to the network.
//
// It keeps the socket stack alive: the first such component makes the process's stack and
// the last one frees it, both under the component lock, so components may be made and freed
// in several threads and there is never a second stack, nor a stack freed while a component
// lives. It reports status changes through OnStatus with a ready-made text, and progress of
// reads and writes ("work") as begin, progress and end events, either itself or, when it has
// a work relay, through that component: a TCP connection is the relay of its IO handler, so
// the connection's events see every byte its handler moves.
//
// Work records per mode: Depth counts nested begins; only the outermost begin and end fire
// events; progress fires only inside a begin and reports the running total. A component's
// work records are used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "net/IdBaseComponent.h"
#include "net/IdGlobal.h"
#include "rtl/Format.h"

enum TWorkMode { wmRead, wmWrite };

enum TIdStatus {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText,
    ftpTransfer,
    ftpReady,
    ftpAborted
};

class TIdComponent;

using TIdStatusEvent = std::function<void(TIdComponent* ASender, TIdStatus AStatus, const std::string& AStatusText)>;
using TWorkBeginEvent = std::function<void(TIdComponent* ASender, TWorkMode AWorkMode, int64_t AWorkCountMax)>;
using TWorkEvent = std::function<void(TIdComponent* ASender, TWorkMode AWorkMode, int64_t AWorkCount)>;
using TWorkEndEvent = std::function<void(TIdComponent* ASender, TWorkMode AWorkMode)>;

// The status texts (Format patterns).
const char* IdStatusText(TIdStatus status);

class TIdComponent : public TIdBaseComponent {
public:
    explicit TIdComponent(rtl::Component* owner = nullptr);
    ~TIdComponent() override;

    TIdStatusEvent OnStatus;
    TWorkEvent OnWork;
    TWorkBeginEvent OnWorkBegin;
    TWorkEndEvent OnWorkEnd;

    // Formats the status's text with the arguments and calls OnStatus when set.
    template <typename... Args>
    void DoStatus(TIdStatus status, const Args&... args) {
        if (OnStatus) OnStatus(this, status, rtl::Format(IdStatusText(status), args...));
    }
    // The status with its "%s" (if any) left empty.
    void DoStatusPlain(TIdStatus status) { DoStatus(status, ""); }

    virtual void WorkBegin(TWorkMode mode, int64_t countMax);
    virtual void WorkProgress(TWorkMode mode, int64_t count);
    virtual void WorkEnd(TWorkMode mode);

    TIdComponent* WorkRelay() const { return workRelay_; }
    // Forwards this component's work to target (nullptr: report it here).
    void SetWorkRelay(TIdComponent* target);

    struct WorkInfo {
        int64_t Done = 0;
        int64_t Expected = 0;
        int32_t Depth = 0;
    };
    const WorkInfo& WorkInfoOf(TWorkMode mode) const { return workInfos_[mode]; }

    // The process-wide count of live components (for tests and diagnostics).
    static int ComponentCount();

protected:
    void Notification(rtl::Component* component, TOperation operation) override;
    bool HoldsLinkTo(const rtl::Component* other) const override;

private:
    void Prepare();

    WorkInfo workInfos_[2];
    TIdComponent* workRelay_ = nullptr;
};

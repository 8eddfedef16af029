// net/IdAntiFreezeBase.cpp: the one current anti-freeze.
#include "net/IdAntiFreezeBase.h"

#include <atomic>

namespace {
std::atomic<TIdAntiFreezeBase*> gCurrent{nullptr};
}

TIdAntiFreezeBase::TIdAntiFreezeBase(rtl::Component* owner) : TIdBaseComponent(owner) {
    if (!IsDesigning()) {
        TIdAntiFreezeBase* none = nullptr;
        if (!gCurrent.compare_exchange_strong(none, this))
            EIdException::RaiseIdException("Only one TIdAntiFreeze can exist per application.");
    }
}

TIdAntiFreezeBase::~TIdAntiFreezeBase() {
    TIdAntiFreezeBase* self = this;
    gCurrent.compare_exchange_strong(self, nullptr);
}

TIdAntiFreezeBase* TIdAntiFreezeBase::Current() { return gCurrent.load(); }

bool TIdAntiFreezeBase::AppliesToCallingThread() {
    const TIdAntiFreezeBase* current = gCurrent.load();
    return current != nullptr && current->AppliesToCaller();
}

void TIdAntiFreezeBase::ProcessIfActive(bool idle, bool force) {
    TIdAntiFreezeBase* current = gCurrent.load();
    if (current == nullptr || !current->AppliesToCaller()) return;
    if ((idle || !current->OnlyWhenIdle || force) && current->Active) current->ProcessUserInterface();
}

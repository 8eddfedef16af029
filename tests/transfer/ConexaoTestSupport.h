// tests/transfer/ConexaoTestSupport.h: what the tests of the server connections share: the
// gated clock installed for a test (its destructor lets every attempt and probe thread end
// before the clock goes), a status window that records what it was told and can run a test's
// step at each wait, and the wait for the connection threads.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "support/GatedClock.h"
#include "support/TestSupport.h"
#include "transfer/ukwTelaStatus.h"
#include "transfer/ukwUpdConexaoKw4Ping.h"
#include "transfer/ukwUpdConexaoKw4Threads.h"

namespace kwtest {

// Waits (bounded) until no attempt or probe thread runs; false when some are still running.
inline bool ConnectionThreadsEnded() {
    return Eventually(
        [] { return TkwThreadControlada::EmExecucao() == 0 && TSecureHTTPSClient::EmExecucao() == 0; },
        std::chrono::seconds(60));
}

// The gated clock for one test: time-out threads wait at the gate (closed unless asked),
// the test's own waits run on. Going away, it opens the gate and waits for the threads.
class AttemptClock {
public:
    explicit AttemptClock(bool open = false) : clock_(open), scoped_(clock_) {}
    ~AttemptClock() {
        clock_.Open();
        EXPECT_TRUE(ConnectionThreadsEnded()) << "connection threads left running";
    }
    GatedClock& Clock() { return clock_; }

private:
    GatedClock clock_;
    plat::ScopedClock scoped_;
};

// A status window that records the task texts and counts the waits; OnProcesse runs at each
// wait (on the thread that waits), OnTarefa at each task text.
class TelaDeTeste final : public IkwTelaStatus {
public:
    void DefinaTextoTarefa(const std::string& texto) override {
        tarefas.push_back(texto);
        if (OnTarefa) OnTarefa(texto);
    }
    void ProcesseMensagens() override {
        ++processadas;
        if (OnProcesse) OnProcesse();
    }

    std::vector<std::string> tarefas;
    int processadas = 0;
    std::function<void()> OnProcesse;
    std::function<void(const std::string&)> OnTarefa;
};

// Puts a GET in place for the HTTPS probes while the object lives.
class ScopedGetHTTPS {
public:
    explicit ScopedGetHTTPS(TkwGetHTTPS get) { DefinaGetHTTPS(std::move(get)); }
    ~ScopedGetHTTPS() {
        // A probe thread still running holds its own copy of the GET; the test waits for it
        // (AttemptClock) before what that GET uses goes.
        DefinaGetHTTPS({});
    }
};

}  // namespace kwtest

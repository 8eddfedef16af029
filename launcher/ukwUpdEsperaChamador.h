// launcher/ukwUpdEsperaChamador.h: waiting until the application has closed, so its files can
// be verified and replaced.
//
// Aguarde looks whether any running process executes the application's file, up to
// MaximoVerificacoes times, IntervaloMs apart, reporting each look that still finds it through
// OnAguardando and processing pending window messages after each pause, so the status window
// stays painted. The pause after the last look is followed by no further look: it fails. Time passes only
// through plat::GetClock(), so tests wait minutes in milliseconds.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class TkwUpdEsperaChamador {
public:
    // Waits for the executable at `aplicacao` (a local path, as the launcher builds it).
    explicit TkwUpdEsperaChamador(std::string aplicacao);

    // Returns when the application is not (or no longer) running; raises rtl::Exception
    // "A aplicação '<file name>' está em uso ou bloqueada por outra aplicação e não é possível
    // realizar a atualização." when it still runs after the last look.
    void Aguarde();

    // Whether a running process's program file is that file. The same file reached through a
    // path that differs only in letter case counts; a copy in another folder does not.
    static bool AplicacaoEmExecucao(const std::string& caminho);
    // The program file of a process; empty when it cannot be read (another user's process,
    // one that has ended).
    static std::string ObtenhaCaminhoProcesso(int pid);

    std::string Aplicacao;
    int32_t IntervaloMs = 300;
    int32_t MaximoVerificacoes = 400;
    std::function<void(const std::string&)> OnAguardando;
    bool Reticencias = false;
};

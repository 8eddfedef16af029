// transfer/ukwTelaStatus.h: what the server connections need of the launcher's status window.
//
// The connections to the application server and to the load balancers tell the user where
// they are connecting (the window's task line) and, while their main thread waits for a
// connection attempt or a reachability probe, keep the window alive by processing its pending
// messages: the launcher has no message loop of its own. The launcher's window implements
// this interface; the connections hold it without owning it.
//
// Only the main thread calls it. The connection's worker threads never touch the window.
//
// The file transfers have no window of their own to hand: while the launcher shows its
// window, the launcher names it as the program's window (DefinaTelaStatusPrograma), and the
// transfers' long waits (the download server's polling, the patch tool) process its messages
// through ProcesseMensagensPrograma.
#pragma once

#include <string>

class IkwTelaStatus {
public:
    virtual ~IkwTelaStatus() = default;
    // The task line shows the text exactly as given and is repainted.
    virtual void DefinaTextoTarefa(const std::string& texto) = 0;
    // Pending window messages are processed.
    virtual void ProcesseMensagens() = 0;
};

// Names the program's window (nullptr when it is gone); the launcher's run sets it while its
// window lives. Not owned.
void DefinaTelaStatusPrograma(IkwTelaStatus* tela);
IkwTelaStatus* TelaStatusPrograma();
// Processes the pending messages of the program's window; nothing when there is none.
void ProcesseMensagensPrograma();

// transfer/ukwTelaStatus.h: what the server connections need of the launcher's status window.
//
// The connections to the application server and to the load balancers tell the user where
// they are connecting (the window's task line) and, while their main thread waits for a
// connection attempt or a reachability probe, keep the window alive by processing its pending
// messages: the launcher has no message loop of its own. The launcher's window implements
// this interface; the connections hold it without owning it.
//
// Only the main thread calls it. The connection's worker threads never touch the window.
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

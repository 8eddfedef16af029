// transfer/ukwFuncoesSocket.h: the workstation's IPv4 interfaces as text, one line each, as the
// launcher sends them to the application server (through ukwFuncoesTCP.h).
//
// A line reads " IP=<address>, Mask=<mask>, Broadcast=<broadcast>, Status=UP|DOWN,
// Broadcasts=YES|NOT, Interface=NETWORK|LOOPBACK" followed by CR LF, addresses in dotted form,
// in the order the system lists the interfaces. The list comes from the platform
// (plat::NetworkInterfaces); when it cannot be read the text is empty. Never fails.
#pragma once

#include <string>

// The lines of every network interface, and of the loopback ones when incluiLoopback is set.
std::string ListeInfoInterfaces(bool incluiLoopback);

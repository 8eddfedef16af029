// transfer/ukwFuncoesTCP.h: the workstation's network interfaces as the application server
// takes them in the requisites request: one line "IP=<address>|MASK=<mask>" per network
// interface (loopback left out), each ended by CR LF, in the order the system lists them;
// empty when there is none.
#pragma once

#include <string>
#include <string_view>

std::string ListeInterfacesRede();

// The same lines from an interface text of ListeInfoInterfaces: blanks removed, each line read
// as comma-separated name=value items, "IP" and "Mask" taken (empty when an item is missing).
std::string LinhasInterfacesRede(std::string_view infoInterfaces);

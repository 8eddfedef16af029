// transfer/ukwFuncoesSocket.cpp: the interface lines over the platform's interface list.
#include "transfer/ukwFuncoesSocket.h"

#include "platform/Workstation.h"

std::string ListeInfoInterfaces(bool incluiLoopback) {
    std::string resultado;
    for (const plat::NetworkInterface& i : plat::NetworkInterfaces()) {
        if (i.loopback && !incluiLoopback) continue;
        resultado += " IP=" + i.address + "," + " Mask=" + i.mask + "," + " Broadcast=" + i.broadcast + ",";
        resultado += i.up ? " Status=UP," : " Status=DOWN,";
        resultado += i.broadcasts ? " Broadcasts=YES," : " Broadcasts=NOT,";
        resultado += i.loopback ? " Interface=LOOPBACK" : " Interface=NETWORK";
        resultado += "\r\n";
    }
    return resultado;
}

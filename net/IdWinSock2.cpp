// net/IdWinSock2.cpp: resolver results to Windows Sockets codes, and the binding's error.
#include "net/IdWinSock2.h"

#include "platform/WinError.h"

namespace {
constexpr int32_t kNoRecovery = 11003;  // WSANO_RECOVERY
}

EIdWinsockStubError::EIdWinsockStubError(const std::string& title, int32_t code)
    : EIdException(title), OsErrorCode(code), MessageTitle(title) {
    if (code != 0) {
        OsErrorText = plat::SystemErrorText(code);
        SetMessage(title + ": " + OsErrorText);
    }
}

int32_t GaiErrorToSocketError(int code, int errnoForSystem) {
    if (code == 0) return 0;
    const int win = plat::WinErrorFromAddrInfo(code, errnoForSystem);
    // A failure must never read as success: EAI_SYSTEM without an errno, or a code that the
    // table passes through as 0, becomes "non-recoverable".
    return win == 0 ? kNoRecovery : win;
}

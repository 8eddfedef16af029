// common/ukwUpdCriptografia.cpp: password descrambling, through the system's one
// descrambler (rtl/PasswordScramble.h), which the database layer shares.
#include "common/ukwUpdCriptografia.h"

#include "rtl/PasswordScramble.h"

std::string Descriptografe(std::string_view embaralhado) {
    return rtl::UnscramblePassword(embaralhado);
}

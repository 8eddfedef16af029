// database/facade/ukwCriptografia.cpp: the connection table's password descrambling.
#include "database/facade/ukwCriptografia.h"

#include "rtl/PasswordScramble.h"
#include "rtl/Text.h"

std::string DescriptografeSenha(std::string_view embaralhado) {
    if (rtl::Trim(embaralhado).empty()) return "";
    return rtl::UnscramblePassword(embaralhado);
}

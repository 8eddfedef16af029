// rtl/PasswordScramble.h: the one descrambler of the passwords the system keeps in scrambled
// form: the update sites' passwords in the requisites (common/, ukwUpdCriptografia) and
// the password of the application database's connection table (database, ukwCriptografia).
// Both layers call this routine, so the two can never drift apart.
//
// The scrambled form has 20 bytes: the clear password padded with blanks to 20, each group of
// four bytes reversed, then the key's byte added at each position (modulo 256). Only the way
// back exists. A value of more than 20 bytes is read as its first 20; a shorter one (which the
// scrambled form never is) is read as far as it goes, with nothing read past its end: the
// missing positions count as blanks of the padding.
#pragma once

#include <string>
#include <string_view>

namespace rtl {

// The clear password, trimmed of blanks at both ends. Never fails.
std::string UnscramblePassword(std::string_view scrambled);

}  // namespace rtl

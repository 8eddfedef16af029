// common/ukwUpdCriptografia.h: turns an update site's scrambled password back into
// the clear one.
//
// The scrambled form has 20 bytes: the clear password padded with blanks to 20, each group of
// four bytes reversed, then the key's byte added at each position (modulo 256). Only the way
// back exists here. A value of more than 20 bytes is read as its first 20; a shorter one
// (which the scrambled form never is) is read as far as it goes, with nothing read past its
// end: the missing positions count as blanks of the padding.
#pragma once

#include <string>
#include <string_view>

// The clear password, trimmed of blanks at both ends. Never fails.
std::string Descriptografe(std::string_view embaralhado);

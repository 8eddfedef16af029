// database/facade/ukwCriptografia.h: the clear password of the application database's connection
// table ("esegConexao", column deSenha), which the launcher's local road reconnects with.
//
// The scrambled form and its descrambling are the system's one routine
// (rtl/PasswordScramble.h), shared with the launcher's update-site passwords. This unit adds
// one rule of its own: a stored password that is empty or only blanks is an empty password
// (the key is not subtracted from blanks that are no scrambled text).
#pragma once

#include <string>
#include <string_view>

// 8-bit text in, 8-bit text out; never fails.
std::string DescriptografeSenha(std::string_view embaralhado);

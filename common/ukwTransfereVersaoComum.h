// common/ukwTransfereVersaoComum.h: the trace file of the file transfer, a text file
// in the launcher's folder that never grows much beyond 100 KB.
//
// Each write appends one line "dd/mm/yyyy hh:nn:ss.zzz - message" (the locale's date and time
// separators, CR LF at the end). Every 11th write (the first check on the 11th write after
// start) looks at the file's size: above 102400 bytes the older half of its lines, plus one,
// is dropped before the new line goes in. Writers are serialised by the unit's own lock.
#pragma once

#include <string>

// Appends the message to the trace file named (without folder) in the launcher's folder,
// creating it when missing. File errors raise (rtl::EFOpenError, rtl::EWriteError...).
void GraveLogDepuracao(const std::string& nomeArquivo, const std::string& mensagem);

// Sets the write counter back to its start value (tests).
void ReinicieContadorLogDepuracao();

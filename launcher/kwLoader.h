// launcher/kwLoader.h: the program kwLoader from its start to its end.
//
// Starts the user interface, creates the one launcher of the run, gives it the first
// database credentials and the command line, runs it (with the CRC check when the first
// argument is "/check" in any case), then frees it, which writes the log file, whatever
// happened. An exception that leaves the run (the offline application that cannot be started)
// is reported as one nobody handled, after the log was written.
//
// Exit status: 0 when the run started what it had to start (or found another launcher
// running), 1 when it ended in its error path, 2 when an exception left it, 3 when the run
// went well but its log file could not be written (standard error says why).
#pragma once

#include <functional>

class TkwUpdLoader;

// `prepara` runs on the new launcher before its run (a test launcher gives it a road of its
// own); the real program passes nothing.
int ExecuteProgramaKwLoader(int argc, const char* const* argv,
                            const std::function<void(TkwUpdLoader&)>& prepara = {});

// The program's end with its exit status: a connection or probe thread that lost its attempt
// and is still finishing is not waited for, and the program's static objects are not
// destroyed under it (the log was written when the launcher was freed).
int TermineProgramaKwLoader(int codigo);

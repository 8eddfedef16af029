// common/LauncherTestHooks.h: one call that points the launcher's base at a launcher
// folder of a test and forgets every process-wide state that came from the previous one.
//
// The base keeps process-wide objects (configuration, settings reader, message language,
// trace counter, last-error text, version path), as the launcher needs them for its whole
// run; tests of this and later units build temporary launcher folders and call this first.
#pragma once

#include <string>

// Sets the launcher's executable path (empty: the real one), frees the configuration and
// settings objects, forgets the language read, sets the trace counter back, empties
// UltimoErro, clears the version path and any version a test set.
void ResetLauncherBaseForTests(const std::string& executavel);

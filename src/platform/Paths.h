#pragma once
// Where the engine finds its files.
#include <string>

namespace ordalis::platform {

// The full path of the running executable (/proc/self/exe); empty when it
// cannot be read.
std::string ExecutablePath();

// Everything up to and including the last '/' or '\' of a path; the empty
// text when there is none.
std::string DirectoryOf(const std::string& path);

// $ORDALIS_HOME when set and not empty, with a trailing '/' added when
// missing; otherwise empty.
std::string HomeOverride();

// The log directory: the directory of the executable with its trailing '/',
// or $ORDALIS_HOME. quarzo.ini, the trace files and the carrier files are
// looked up there.
std::string LogPath();

// The component directory: the directory of the shared library that holds
// the engine, or of the executable when the engine is linked in statically
// (both found through dladdr on code of this file); $ORDALIS_HOME overrides.
// Ends in '/'.
std::string ComponentDirectory();

}  // namespace ordalis::platform

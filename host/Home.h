#pragma once
// The installation home the host hands to the engine as its log directory
// (quarzo.ini, traces, Carrier/, relative carrier paths of table Carrier).
#include <string>

namespace ordalis::host {

// The home for a run: `home_option` (--home) when given, else
// $ORDALIS_HOME, else the directory of `db_file` (an installation is a
// folder that may be moved); empty when none applies (--dsn alone: the
// engine's own default, the executable's directory). Absolute, with a
// trailing '/'.
std::string ResolveHome(const std::string& home_option, const std::string& db_file);

// Makes `home` the engine's home for engines created from now on (through
// ORDALIS_HOME, which the engine reads); nothing for an empty home.
void UseHome(const std::string& home);

}  // namespace ordalis::host

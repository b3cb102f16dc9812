#pragma once
// Checks of the values typed on the command line. Each returns an empty
// text when the value is good, else the one-line message for the user.
#include <initializer_list>
#include <string>

#include "ordalis/DateTime.h"

namespace ordalis::host {

// A day written YYYY-MM-DD that exists in the calendar.
std::string CheckDay(const std::string& text, const char* option, DateTime& day);
// A time of day written HH:MM:SS (or HH:MM).
std::string CheckTime(const std::string& text, const char* option, DateTime& time);
// A selection holding a WHERE clause (the only part of it the engine uses).
std::string CheckFilter(const std::string& filter);
// An operation mask: "0" and "1" only, one per rating step (at most 23).
std::string CheckOperation(const std::string& mask);

// Prints the first of the problems that is not empty as an error; whether
// there was one.
bool ReportUsageError(std::initializer_list<std::string> problems);

}  // namespace ordalis::host

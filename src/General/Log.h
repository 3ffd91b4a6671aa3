#pragma once

#include <string>
#include <string_view>

namespace zel {

// Lines for whoever runs the program from a terminal: real errors of the
// libraries and of our own lower layers (which tell the user through the
// notifier, not here). Each line is prefixed with the program's name.

// Names the program for the prefix ("zel-convert", "zel"); also decides
// whether informational lines are printed (only when verbose).
void SetLogProgram(std::string_view program, bool verbose);
bool LogVerbose();
const std::string& LogProgram();

// "<program>: <text>" on stderr, as one write so that lines of threads do
// not mix.
void LogError(std::string_view text);
// The same, only when verbose.
void LogInfo(std::string_view text);

}  // namespace zel

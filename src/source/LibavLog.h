#pragma once

namespace zel {

// Routes libav's own log lines through our log: silent by default (no
// "Estimating duration from bitrate" on a user's terminal), errors prefixed
// with the program's name, everything when the log is verbose
// (SetLogProgram). Called once by each front end at start-up.
void InstallLibavLog();

}  // namespace zel

// Running another program from a tool (qk2 runs osslsigncode).
#pragma once

#include <string>
#include <vector>

// The path of `program` found on PATH (on Windows with ".exe" added), or
// false when it is not there.
bool FindProgram(const std::string& program, std::string* path);

// Runs `program`, looked up on PATH (on Windows with ".exe" added), with
// `args`; its standard output and error both go to qk2's standard error, so
// that qk2's own output stays its own. Returns the program's exit code, or
// -1 when it could not be started: `*notFound` then tells whether it is
// missing, and `*error` says why.
int RunProgram(const std::string& program, const std::vector<std::string>& args, bool* notFound,
               std::string* error);

// One argument quoted for a Windows command line, so that the C runtime's
// parser gives it back unchanged.
std::string QuoteWindowsArgument(const std::string& arg);

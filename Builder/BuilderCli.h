// The command line of setup-builder: build, inspect, decode, encode.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace nvbuilder {

// Runs one command line (arguments after the program name, UTF-8). Output
// goes to out, the one-line error message to err. Returns the exit code: 0 on
// success, 1 on a failure, 2 on a usage error.
int RunBuilder(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace nvbuilder

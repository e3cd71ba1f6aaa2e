// setup-builder: makes setup packages. See BuilderCli.h.
#include <cstdio>
#include <string>
#include <vector>

#include "BuilderCli.h"
#include "BuilderText.h"

#ifdef _WIN32
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(nvbuilder::ToUtf8(argv[i]));
  return nvbuilder::RunBuilder(args, stdout, stderr);
}
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return nvbuilder::RunBuilder(args, stdout, stderr);
}
#endif

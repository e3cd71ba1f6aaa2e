#include "NvCommandLine.h"

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) {
  std::vector<std::wstring> args;
  size_t i = 0, n = commandLine.size();
  while (true) {
    while (i < n && commandLine[i] >= 1 && commandLine[i] <= 32) ++i;
    if (i >= n || commandLine[i] == 0) break;
    std::wstring arg;
    while (i < n && commandLine[i] > 32) {
      if (commandLine[i] == L'"') {
        ++i;
        while (i < n && commandLine[i] != 0 && commandLine[i] != L'"') arg += commandLine[i++];
        if (i < n && commandLine[i] == L'"') ++i;
      } else {
        arg += commandLine[i++];
      }
    }
    args.push_back(arg);
  }
  return args;
}

// Authoring projects written as XML text, the way a publisher writes them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace nvbuilder::test {

struct TProjectText {
  std::string BaseInfo = "AppTitle=\"{AppTitle}\" FullSetupFile=\"out\\Full.exe\" MiniSetupFile=\"out\\Mini.exe\" "
                         "FullDownloadUrl=\"http://127.0.0.1/Full.exe\" Version=\"{Version}\"";
  std::string Guid = "{3F2B8C1A-6D4E-4A7B-9C2D-1E5F7A9B0C3D}";  // empty: no GUID attribute
  std::string DefInstallPath = "{pf}\\{AppTitle}";             // empty: no DefInstallPath attribute
  std::vector<std::string> Files, Regs, Shortcuts, Runs;
  std::vector<std::string> Vars = {"VarName=\"{AppTitle}\" VarValue=\"测试产品\"",
                                   "VarName=\"{Version}\" VarValue=\"2.1.0.7\""};

  std::string Xml() const {
    auto list = [](const char* name, const char* item, const std::vector<std::string>& items) {
      std::string s = std::string("  <") + name + ">\n    <Items>\n";
      for (const auto& i : items) s += std::string("      <") + item + " " + i + "/>\n";
      return s + "    </Items>\n  </" + name + ">\n";
    };
    std::string info = BaseInfo;
    if (!Guid.empty()) info += " GUID=\"" + Guid + "\"";
    if (!DefInstallPath.empty()) info += " DefInstallPath=\"" + DefInstallPath + "\"";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TSetupScript>\n  <BaseInfo " + info + "/>\n" +
           list("FileList", "TSetupFile", Files) + list("RegList", "TSetupReg", Regs) +
           list("RunList", "TSetupRun", Runs) + list("ShortCutList", "TSetupShortCut", Shortcuts) +
           list("VarList", "TSetupVar", Vars) + "</TSetupScript>\n";
  }
};

// The example program: a small real Windows executable used as the runtime.
inline std::filesystem::path DemoRuntime() { return std::filesystem::path(NV_DEMO_APP); }

}  // namespace nvbuilder::test

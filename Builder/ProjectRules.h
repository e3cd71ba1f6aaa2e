// What a project must be for every install of it to do what the publisher
// meant: the checks of the strict build on the loaded project, each problem
// placed at the element or attribute it comes from.
#pragma once

#include <cstddef>
#include <vector>

#include "NvXmlUtils.h"
#include "ProjectProblems.h"
#include "SetupProject.h"

namespace nvbuilder {

// Where each part of a loaded project was read from (the elements the
// loader made each object from; empty or null when absent).
struct TProjectPlaces {
  const TXmlNode* Root = nullptr;
  const TXmlNode* BaseInfo = nullptr;
  std::vector<const TXmlNode*> Files, Regs, Runs, Shortcuts, Swipers, Vars;

  static TProjectPlaces Of(const TXmlNode& root);
  // The offset of the attribute of that name, else of the node; npos
  // without a node.
  static std::size_t At(const TXmlNode* node, const char* attribute);
  // The node of item i of a list of places, or null.
  static const TXmlNode* Item(const std::vector<const TXmlNode*>& list, int i);
};

// Checks a project whose variables have been applied (the variable list is
// that of the project), before its file masks are expanded. Errors: an
// empty AppTitle (or one that is not a valid folder name when {group} is
// used), a missing GUID or one not in registry form, nothing to build, a
// {Name} that no variable replaced, a DefInstallPath, DestDir, SaveDir,
// DstFile, WorkDir or IconFile that ParseLocation refuses (a relative run
// FileName is left to CheckProjectTargets), a file item without SourceMask
// or a mask without SourcePath, a shortcut Name that is not a file name, a
// registry item without key, a FullDownloadUrl or GotoUrl that is not an
// http(s) address (and no FullDownloadUrl for an online stub). Warnings:
// Checked and Condition away from their defaults, AllowModify, swiper
// entries, a registry item without RootKey, an empty or non-numeric
// Version, IncludeSubPath without SourcePath, a file item without content.
void CheckProjectRules(const TSetupScript& script, const TProjectPlaces& places, TProblemList& problems);

// Checks the run entries and shortcuts of a project whose file items are
// expanded: a DstFile or run FileName that is neither a file the package
// installs nor an absolute path is a warning.
void CheckProjectTargets(const TSetupScript& script, const TProjectPlaces& places, TProblemList& problems);

// Whether text is an http:// or https:// address with a host.
bool IsHttpAddress(const std::wstring& text);

}  // namespace nvbuilder

// The "new" command: a commented starter project that builds as it is.
#pragma once

#include <filesystem>
#include <string>

namespace nvbuilder {

// The starter project's text for a product identity (a GUID in registry form).
std::string StarterProjectXml(const std::wstring& guid);

// Writes project.xml (with a new GUID), files/readme.txt and license.txt into
// dir, creating it. Raises EBuildError when any of them exists already
// (nothing is overwritten) or cannot be written.
void WriteStarterProject(const std::filesystem::path& dir);

}  // namespace nvbuilder

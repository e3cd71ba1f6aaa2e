#include "StarterProject.h"

#include <system_error>

#include "BuilderText.h"
#include "NvSysUtils.h"
#include "PackageWriter.h"

namespace fs = std::filesystem;

namespace nvbuilder {

namespace {

const char kProject[] = R"XML(<?xml version="1.0" encoding="utf-8"?>
<!-- A setup project for setup-builder. Build it with
       setup-builder build project.xml
     which writes out/MyProductSetup.exe (and, with MiniSetupFile, an online
     stub). Every element and attribute is described in the builder's
     reference (docs/project-reference.md). Element and attribute names are
     those below; values go in attributes; relative file names are relative
     to this file's folder. -->
<TSetupScript>
  <!-- The product. GUID is its identity: keep it for every version, so that
       a new version replaces the old one; never copy it to another product.
       {pf} is Program Files (on 64-bit Windows: "Program Files (x86)"). -->
  <BaseInfo AppTitle="{AppTitle}" Version="{Version}" GUID="@GUID@"
            CompanyName="{CompanyName}" CompanyUrl="" ProductName="{AppTitle}"
            LegalCopyright="Copyright (C) {CompanyName}"
            DefInstallPath="{pf}\{CompanyName}\{AppTitle}"
            LicenseFile="license.txt" IconFile=""
            InstallFileDescription="{AppTitle} Setup" UninstallFileDescription="{AppTitle} Uninstall"
            FullSetupFile="out\MyProductSetup.exe" MiniSetupFile=""
            FullDownloadUrl="" GotoUrl="" GotoUrlMode="gumSilent"/>
  <FileList>
    <Items>
      <!-- Every file of files\ and its sub-folders, installed below {app},
           the folder the user picks. SourceMask may be a name ("app.exe")
           or a mask ("*.dll"). -->
      <TSetupFile DestDir="{app}" SourcePath="files" SourceMask="*.*" IncludeSubPath="True"/>
    </Items>
  </FileList>
  <RegList>
    <Items>
      <!-- RootKey: rrkLocalMachine, rrkCurrentUser, rrkClassesRoot, rrkUsers,
           rrkCurrentConfig. ValueType: rvtString or rvtDWord (a number).
           HKEY_LOCAL_MACHINE\Software is seen through its 32-bit view. -->
      <TSetupReg RootKey="rrkLocalMachine" SubKey="Software\{CompanyName}\{AppTitle}"
                 ValueName="InstallDir" ValueData="{app}" ValueType="rvtString"/>
    </Items>
  </RegList>
  <RunList>
    <Items>
      <!-- Programs started when the install has finished, for example:
      <TSetupRun FileName="{app}\MyProduct.exe" Params="" WorkDir="{app}"/> -->
    </Items>
  </RunList>
  <ShortCutList>
    <Items>
      <!-- {group}: the Start-menu folder named after AppTitle (all users);
           {desktop}: the desktop of the user who runs the setup. -->
      <TSetupShortCut Name="Read me" SaveDir="{group}" DstFile="{app}\readme.txt" WorkDir="{app}" IconFile=""/>
    </Items>
  </ShortCutList>
  <VarList>
    <Items>
      <!-- Variables replace their name, braces included, in every value
           above, once, in this order. -->
      <TSetupVar VarName="{AppTitle}" VarValue="My Product"/>
      <TSetupVar VarName="{Version}" VarValue="1.0.0.0"/>
      <TSetupVar VarName="{CompanyName}" VarValue="My Company"/>
    </Items>
  </VarList>
</TSetupScript>
)XML";

const char kReadme[] = "This file is installed into the product's folder. Replace the content of files\\ with your product.\r\n";
const char kLicense[] = "Replace this text with the agreement the user accepts before installing.\r\n";

}  // namespace

std::string StarterProjectXml(const std::wstring& guid) {
  std::string text = kProject;
  const std::string mark = "@GUID@";
  text.replace(text.find(mark), mark.size(), ToUtf8(guid));
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return crlf;
}

void WriteStarterProject(const fs::path& dir) {
  const std::vector<std::pair<fs::path, std::string>> files = {
      {dir / "project.xml", StarterProjectXml(TNvStrfn::NewGuidString())},
      {dir / "files" / "readme.txt", kReadme},
      {dir / "license.txt", kLicense},
  };
  for (const auto& [path, bytes] : files) {
    std::error_code ec;
    if (fs::exists(path, ec)) throw EBuildError(PathText(path) + ": the file exists already; nothing was written");
  }
  std::vector<std::pair<fs::path, const std::string*>> outputs;
  for (const auto& [path, bytes] : files) outputs.emplace_back(path, &bytes);
  WriteOutputs(outputs);
}

}  // namespace nvbuilder

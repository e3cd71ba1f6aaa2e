// The setup project: product information, project variables and the ordered
// lists of files, registry values, shortcuts, run entries and swiper entries.
//
// Every class is persistent through its published-property table: the table
// order is the element and attribute order of the stored project, an object
// property is a child element of that name, every other property an attribute,
// and list items are child elements of "Items" named after the item's class.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "NvTypInfo.h"
#include "NvXmlPersistent.h"

// ---- enumerations (stored by value name; a new property holds the first) ----

enum TRegRootKey : int32_t { rrkClassesRoot, rrkCurrentUser, rrkLocalMachine, rrkUsers, rrkCurrentConfig };
enum TRegValueType : int32_t { rvtString, rvtDWord };
enum TGotoUrlMode : int32_t { gumSilent, gumByBrowser };

extern const TEnumInfo RegRootKeyInfo;    // "TRegRootKey"
extern const TEnumInfo RegValueTypeInfo;  // "TRegValueType"
extern const TEnumInfo GotoUrlModeInfo;   // "TGotoUrlMode"

class TSetupVarList;

// ---- product information -----------------------------------------------------

class TSetupBaseInfo : public TXmlPersistent {
public:
  // GUID starts as a newly generated GUID in registry form.
  TSetupBaseInfo();

  bool AllowModify = false;
  std::wstring AppTitle;
  std::wstring CompanyName;
  std::wstring CompanyUrl;
  std::wstring Condition;
  std::wstring DefInstallPath;
  std::wstring FullDownloadUrl;
  std::wstring FullSetupFile;
  std::wstring GotoUrl;
  TGotoUrlMode GotoUrlMode = gumSilent;
  std::wstring GUID;
  std::wstring IconFile;
  std::wstring IconResID;
  std::wstring InstallFileDescription;
  std::wstring LegalCopyright;
  std::wstring LicenseFile;
  std::wstring LicenseResID;
  std::wstring MiniSetupFile;
  std::wstring ProductName;
  std::wstring UninstallFileDescription;
  std::wstring Version;

  // Splits Version into up to four numbers. Parts are delimited by "."; blanks
  // (codes 1..32) also end a part and are skipped; a double-quoted part is taken
  // whole. Each present part is parsed as a decimal integer; the first part that
  // is not one gives the value of its leading digits (0 without any) and leaves
  // the later outputs 0. Parts after the fourth are ignored. Never fails.
  void GetVersionNumbers(int32_t& major, int32_t& minor, int32_t& release, int32_t& build) const;

  NV_PUBLISHED(TSetupBaseInfo, TXmlPersistent,
    NV_FIELD(AllowModify),
    NV_FIELD(AppTitle),
    NV_FIELD(CompanyName),
    NV_FIELD(CompanyUrl),
    NV_FIELD(Condition),
    NV_FIELD(DefInstallPath),
    NV_FIELD(FullDownloadUrl),
    NV_FIELD(FullSetupFile),
    NV_FIELD(GotoUrl),
    NV_ENUM(GotoUrlMode, GotoUrlModeInfo),
    NV_FIELD(GUID),
    NV_FIELD(IconFile),
    NV_FIELD(IconResID),
    NV_FIELD(InstallFileDescription),
    NV_FIELD(LegalCopyright),
    NV_FIELD(LicenseFile),
    NV_FIELD(LicenseResID),
    NV_FIELD(MiniSetupFile),
    NV_FIELD(ProductName),
    NV_FIELD(UninstallFileDescription),
    NV_FIELD(Version));
};

// ---- items ---------------------------------------------------------------------

// The base of every list item. Checked and Condition are kept and written back;
// the install operations process every item regardless.
class TBaseSetupItem : public TXmlPersistent {
public:
  bool Checked = true;
  std::wstring Condition;

  // Replaces each of the item's text fields by varList.ExpandVars(field).
  // Subclasses expand the base fields first, then their own in a fixed order.
  virtual void ExpandVars(const TSetupVarList& varList);

  NV_PUBLISHED(TBaseSetupItem, TXmlPersistent,
    NV_FIELD(Checked),
    NV_FIELD(Condition));
};

// One file to install: content from the package resource ResID when
// FileBytes > 0, otherwise an empty file; target DestDir + SourceMask.
class TSetupFile : public TBaseSetupItem {
public:
  std::wstring DestDir;
  int32_t FileBytes = 0;
  bool IncludeSubPath = false;
  TDateTime LastWriteDate = 0;
  std::wstring ResID;
  std::wstring SourceMask;
  std::wstring SourcePath;

  // Condition, DestDir, SourceMask, SourcePath.
  void ExpandVars(const TSetupVarList& varList) override;

  NV_PUBLISHED(TSetupFile, TBaseSetupItem,
    NV_FIELD(DestDir),
    NV_FIELD(FileBytes),
    NV_FIELD(IncludeSubPath),
    NV_FIELD(LastWriteDate),
    NV_FIELD(ResID),
    NV_FIELD(SourceMask),
    NV_FIELD(SourcePath));
};

// One registry value.
class TSetupReg : public TBaseSetupItem {
public:
  TRegRootKey RootKey = rrkClassesRoot;
  std::wstring SubKey;
  std::wstring ValueData;
  std::wstring ValueName;
  TRegValueType ValueType = rvtString;

  // Condition, SubKey, ValueData, ValueName.
  void ExpandVars(const TSetupVarList& varList) override;

  NV_PUBLISHED(TSetupReg, TBaseSetupItem,
    NV_ENUM(RootKey, RegRootKeyInfo),
    NV_FIELD(SubKey),
    NV_FIELD(ValueData),
    NV_FIELD(ValueName),
    NV_ENUM(ValueType, RegValueTypeInfo));
};

// One shell shortcut: SaveDir\Name.lnk pointing at DstFile.
class TSetupShortCut : public TBaseSetupItem {
public:
  std::wstring DstFile;
  std::wstring IconFile;
  std::wstring Name;
  std::wstring SaveDir;
  std::wstring WorkDir;

  // Condition, DstFile, IconFile, Name, SaveDir, WorkDir.
  void ExpandVars(const TSetupVarList& varList) override;

  NV_PUBLISHED(TSetupShortCut, TBaseSetupItem,
    NV_FIELD(DstFile),
    NV_FIELD(IconFile),
    NV_FIELD(Name),
    NV_FIELD(SaveDir),
    NV_FIELD(WorkDir));
};

// One program to start after installing.
class TSetupRun : public TBaseSetupItem {
public:
  std::wstring FileName;
  std::wstring Params;
  bool Wait = false;
  std::wstring WorkDir;

  // Condition, Params, FileName, WorkDir.
  void ExpandVars(const TSetupVarList& varList) override;

  NV_PUBLISHED(TSetupRun, TBaseSetupItem,
    NV_FIELD(FileName),
    NV_FIELD(Params),
    NV_FIELD(Wait),
    NV_FIELD(WorkDir));
};

// One swiper entry: kept and written back, not installed.
class TSetupSwiper : public TBaseSetupItem {
public:
  std::wstring FileName;
  std::wstring ResID;

  // Condition, FileName.
  void ExpandVars(const TSetupVarList& varList) override;

  NV_PUBLISHED(TSetupSwiper, TBaseSetupItem,
    NV_FIELD(FileName),
    NV_FIELD(ResID));
};

// ---- variables -------------------------------------------------------------------

// One project variable. VarName is the whole placeholder, braces included
// (for example "{AppTitle}"); any text may serve as a name.
class TSetupVar : public TXmlPersistent {
public:
  bool Checked = true;
  std::wstring VarName;
  std::wstring VarValue;

  // The text with every occurrence of VarName (ignoring case) replaced by
  // VarValue, searched left to right without overlap; inserted values are not
  // searched again. Unchanged when unchecked or when VarName is empty.
  std::wstring Expand(const std::wstring& text) const;

  NV_PUBLISHED(TSetupVar, TXmlPersistent,
    NV_FIELD(Checked),
    NV_FIELD(VarName),
    NV_FIELD(VarValue));
};

// ---- lists (each factory ignores the class name and makes its one item class) ----

class TSetupFileList : public TXmlTypedList<TSetupFile> {
  NV_PUBLISHED(TSetupFileList, TXmlTypedList<TSetupFile>);
};

class TSetupRegList : public TXmlTypedList<TSetupReg> {
  NV_PUBLISHED(TSetupRegList, TXmlTypedList<TSetupReg>);
};

class TSetupShortCutList : public TXmlTypedList<TSetupShortCut> {
  NV_PUBLISHED(TSetupShortCutList, TXmlTypedList<TSetupShortCut>);
};

class TSetupRunList : public TXmlTypedList<TSetupRun> {
  NV_PUBLISHED(TSetupRunList, TXmlTypedList<TSetupRun>);
};

class TSetupSwiperList : public TXmlTypedList<TSetupSwiper> {
  NV_PUBLISHED(TSetupSwiperList, TXmlTypedList<TSetupSwiper>);
};

class TSetupVarList : public TXmlTypedList<TSetupVar> {
public:
  // A new list holds the ten default variables (AddDefaultVars).
  TSetupVarList();

  // Index of the first variable whose VarName equals name ignoring case, or -1.
  int IndexOfVar(const std::wstring& name) const;
  // That variable, or nullptr.
  TSetupVar* FindVar(const std::wstring& name) const;
  // The existing variable, or a new checked one with that name and an empty
  // value, appended.
  TSetupVar* EnsureVar(const std::wstring& name);
  // Ensures, in order, {AppTitle}, {Version}, {MainExeName}, {GUID}, {AppID},
  // {Copyright}, {CompanyName}, {CompanyUrl}, {DefaultFolder}, {Condition} and
  // sets their default values ({GUID}: a newly generated GUID).
  void AddDefaultVars();
  // The text passed through Expand of every variable in list order, each on
  // the result of the one before: one pass, no further recursion.
  std::wstring ExpandVars(const std::wstring& text) const;

  NV_PUBLISHED(TSetupVarList, TXmlTypedList<TSetupVar>);
};

// ---- the project -----------------------------------------------------------------

// The root of a stored project (element "TSetupScript"). Owns its seven
// sub-objects for its whole life; loading fills them and never replaces them.
class TSetupScript : public TXmlPersistent {
public:
  TSetupScript();
  ~TSetupScript() override;
  TSetupScript(const TSetupScript&) = delete;
  TSetupScript& operator=(const TSetupScript&) = delete;

  TSetupBaseInfo* BaseInfo() const { return FBaseInfo.get(); }
  TSetupFileList* FileList() const { return FFileList.get(); }
  TSetupRegList* RegList() const { return FRegList.get(); }
  TSetupRunList* RunList() const { return FRunList.get(); }
  TSetupShortCutList* ShortCutList() const { return FShortCutList.get(); }
  TSetupSwiperList* SwiperList() const { return FSwiperList.get(); }
  TSetupVarList* VarList() const { return FVarList.get(); }

private:
  std::unique_ptr<TSetupBaseInfo> FBaseInfo;
  std::unique_ptr<TSetupFileList> FFileList;
  std::unique_ptr<TSetupRegList> FRegList;
  std::unique_ptr<TSetupRunList> FRunList;
  std::unique_ptr<TSetupShortCutList> FShortCutList;
  std::unique_ptr<TSetupSwiperList> FSwiperList;
  std::unique_ptr<TSetupVarList> FVarList;

public:
  NV_PUBLISHED(TSetupScript, TXmlPersistent,
    NV_FIELD_AS("BaseInfo", FBaseInfo),
    NV_FIELD_AS("FileList", FFileList),
    NV_FIELD_AS("RegList", FRegList),
    NV_FIELD_AS("RunList", FRunList),
    NV_FIELD_AS("ShortCutList", FShortCutList),
    NV_FIELD_AS("SwiperList", FSwiperList),
    NV_FIELD_AS("VarList", FVarList));
};

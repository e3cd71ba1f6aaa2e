// Registry root keys of project registry items.
#include <gtest/gtest.h>

#include "NvPlatform.h"
#include "Win/RegRootKey.h"

TEST(RegRootKeyToHKey, EachRootKeyMapsToItsPredefinedKey) {
  EXPECT_EQ(RegRootKeyToHKey(rrkClassesRoot), HKEY_CLASSES_ROOT);
  EXPECT_EQ(RegRootKeyToHKey(rrkCurrentUser), HKEY_CURRENT_USER);
  EXPECT_EQ(RegRootKeyToHKey(rrkLocalMachine), HKEY_LOCAL_MACHINE);
  EXPECT_EQ(RegRootKeyToHKey(rrkUsers), HKEY_USERS);
  EXPECT_EQ(RegRootKeyToHKey(rrkCurrentConfig), HKEY_CURRENT_CONFIG);
}

TEST(RegRootKeyToHKey, AnyOtherOrdinalMapsToCurrentUser) {
  for (int ordinal : {5, 6, 100, -1, INT32_MAX, INT32_MIN})
    EXPECT_EQ(RegRootKeyToHKey(static_cast<TRegRootKey>(ordinal)), HKEY_CURRENT_USER) << ordinal;
}

// A value written under the mapped root of a loaded project's item is found
// there again through the plain predefined key.
TEST(RegRootKeyToHKey, MappedRootOfLoadedItemReachesTheRegistry) {
  TSetupScript script;
  TMemoryStream stream(R"(<TSetupScript><RegList><Items>
<TSetupReg RootKey="rrkCurrentUser" SubKey="Software\NvSetupModelTest" ValueName="v" ValueData="1"/>
</Items></RegList></TSetupScript>)");
  script.LoadFromStream(stream, 0);
  ASSERT_EQ(script.RegList()->Count(), 1);
  const TSetupReg* item = script.RegList()->Items(0);

  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(RegRootKeyToHKey(item->RootKey), item->SubKey.c_str(), 0, nullptr, 0,
                            NvRegAccess(KEY_WRITE), nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD data = 7;
  ASSERT_EQ(RegSetValueExW(key, item->ValueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                           sizeof data),
            ERROR_SUCCESS);
  RegCloseKey(key);

  DWORD read = 0, size = sizeof read;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, item->SubKey.c_str(), 0, NvRegAccess(KEY_READ), &key), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, item->ValueName.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&read), &size),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(read, 7u);
  RegDeleteTreeW(HKEY_CURRENT_USER, item->SubKey.c_str());
}

#include "Win/RegRootKey.h"

HKEY RegRootKeyToHKey(TRegRootKey rootKey) {
  switch (rootKey) {
    case rrkClassesRoot: return HKEY_CLASSES_ROOT;
    case rrkCurrentUser: return HKEY_CURRENT_USER;
    case rrkLocalMachine: return HKEY_LOCAL_MACHINE;
    case rrkUsers: return HKEY_USERS;
    case rrkCurrentConfig: return HKEY_CURRENT_CONFIG;
  }
  return HKEY_CURRENT_USER;
}

#pragma once
#include <windows.h>

#include <vector>

#include "app/AppState.h"

// One installed screen saver. Without a display name of its own it is shown by its base name.
struct SaverEntry {
  HeapString baseName;
  HeapString displayName;
  const wchar_t* Shown() const { return displayName ? displayName.get() : baseName.get(); }
};

// Every loadable "*.scr" in the directory, by display name. 0, or the system error code of a
// search that failed (no partial list then).
DWORD BuildSaverCatalogue(const wchar_t* systemDir, UINT systemDirLength, std::vector<SaverEntry>& entries);

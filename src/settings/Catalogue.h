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

// What one file gave when it was read, kept for the run: reading a saver's name maps its file, which
// costs far more than the search. A file whose size or write time changed is read again.
struct CatalogueCacheEntry {
  HeapString baseName;
  HeapString displayName;
  bool loadable;
  ULONGLONG size;
  FILETIME written;
};

// Every loadable "*.scr" in the directory, by display name. 0, or the system error code of a
// search that failed (no partial list then). The cache keeps only the files found this time.
DWORD BuildSaverCatalogue(const wchar_t* systemDir, UINT systemDirLength, std::vector<SaverEntry>& entries,
                          std::vector<CatalogueCacheEntry>& cache);

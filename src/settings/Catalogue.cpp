#include "settings/Catalogue.h"

#include <algorithm>
#include <cwchar>
#include <utility>

#include "app/Wow64Redirection.h"
#include "saver/Launcher.h"

namespace {

constexpr DWORD kResourceOnly = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE;
constexpr std::size_t kMaxFoundName = MAX_PATH;  // cFileName's size, terminator included
constexpr std::size_t kExtensionLength = 4;      // ".scr"

HeapString BaseName(const WIN32_FIND_DATAW& found) {
  const std::size_t nameLength = wcslen(found.cFileName);
  return CopyString(found.cFileName, nameLength >= kExtensionLength ? nameLength - kExtensionLength : 0);
}

ULONGLONG FileSize(const WIN32_FIND_DATAW& found) {
  return (ULONGLONG(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

CatalogueCacheEntry ReadFile(const wchar_t* path, const WIN32_FIND_DATAW& found, HeapString baseName) {
  CatalogueCacheEntry read{std::move(baseName), nullptr, false, FileSize(found), found.ftLastWriteTime};
  Wow64RedirectionOff redirection;
  HMODULE module = LoadLibraryExW(path, nullptr, kResourceOnly);
  if (!module) return read;
  read.loadable = true;
  const wchar_t* text = nullptr;
  const int textLength = LoadStringW(module, 1, reinterpret_cast<LPWSTR>(&text), 0);
  if (textLength > 0) read.displayName = CopyString(text, static_cast<std::size_t>(textLength));
  FreeLibrary(module);
  return read;
}

bool SameFile(const CatalogueCacheEntry& cached, const WIN32_FIND_DATAW& found, const wchar_t* baseName) {
  return lstrcmpiW(cached.baseName.get(), baseName) == 0 && cached.size == FileSize(found) &&
         CompareFileTime(&cached.written, &found.ftLastWriteTime) == 0;
}

}  // namespace

DWORD BuildSaverCatalogue(const wchar_t* systemDir, UINT systemDirLength, std::vector<SaverEntry>& entries,
                          std::vector<CatalogueCacheEntry>& cache) {
  entries.clear();
  const std::size_t capacity = systemDirLength + kMaxFoundName + 1;
  HeapString path(new wchar_t[capacity]);
  wchar_t* const fileName = PutSaverDirectory(path.get(), systemDir, systemDirLength);
  wcscpy(fileName, L"*.scr");

  WIN32_FIND_DATAW found;
  HANDLE search;
  {
    Wow64RedirectionOff redirection;
    search = FindFirstFileW(path.get(), &found);
  }
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) cache.clear();
    return error == ERROR_FILE_NOT_FOUND ? 0 : error;
  }
  std::vector<CatalogueCacheEntry> seen;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    wcscpy(fileName, found.cFileName);
    HeapString baseName = BaseName(found);
    const auto cached = std::find_if(cache.begin(), cache.end(), [&](const CatalogueCacheEntry& entry) {
      return entry.baseName && SameFile(entry, found, baseName.get());
    });
    seen.push_back(cached != cache.end() ? std::move(*cached) : ReadFile(path.get(), found, std::move(baseName)));
    const CatalogueCacheEntry& file = seen.back();
    if (!file.loadable) continue;
    SaverEntry entry;
    entry.baseName = CopyString(file.baseName.get());
    if (file.displayName) entry.displayName = CopyString(file.displayName.get());
    entries.push_back(std::move(entry));
  } while (FindNextFileW(search, &found));
  const DWORD error = GetLastError();
  FindClose(search);
  if (error != ERROR_NO_MORE_FILES) {
    entries.clear();
    return error;
  }
  // Files gone since the last opening leave the cache with this complete search.
  cache = std::move(seen);
  std::sort(entries.begin(), entries.end(),
            [](const SaverEntry& a, const SaverEntry& b) { return lstrcmpW(a.Shown(), b.Shown()) < 0; });
  return 0;
}

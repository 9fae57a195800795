#include "settings/Catalogue.h"

#include <algorithm>
#include <cwchar>

#include "app/Wow64Redirection.h"

namespace {

constexpr DWORD kResourceOnly = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE;
constexpr std::size_t kMaxFoundName = MAX_PATH;  // cFileName's size, terminator included
constexpr std::size_t kExtensionLength = 4;      // ".scr"


void AddEntry(const wchar_t* path, const wchar_t* fileName, std::vector<SaverEntry>& entries) {
  Wow64RedirectionOff redirection;
  HMODULE module = LoadLibraryExW(path, nullptr, kResourceOnly);
  if (!module) return;
  SaverEntry entry;
  const std::size_t nameLength = wcslen(fileName);
  entry.baseName = CopyString(fileName, nameLength >= kExtensionLength ? nameLength - kExtensionLength : 0);
  const wchar_t* text = nullptr;
  const int textLength = LoadStringW(module, 1, reinterpret_cast<LPWSTR>(&text), 0);
  if (textLength > 0) entry.displayName = CopyString(text, static_cast<std::size_t>(textLength));
  FreeLibrary(module);
  entries.push_back(std::move(entry));
}

}  // namespace

DWORD BuildSaverCatalogue(const wchar_t* systemDir, UINT systemDirLength, std::vector<SaverEntry>& entries) {
  entries.clear();
  const std::size_t capacity = systemDirLength + kMaxFoundName + 1;
  HeapString path(new wchar_t[capacity]);
  wmemcpy(path.get(), systemDir, systemDirLength);
  std::size_t prefixLength = systemDirLength;
  if (systemDirLength > 3) path[prefixLength++] = L'\\';
  wcscpy(path.get() + prefixLength, L"*.scr");

  WIN32_FIND_DATAW found;
  HANDLE search;
  {
    Wow64RedirectionOff redirection;
    search = FindFirstFileW(path.get(), &found);
  }
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : error;
  }
  DWORD error = 0;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    wcscpy(path.get() + prefixLength, found.cFileName);
    AddEntry(path.get(), found.cFileName, entries);
  } while (FindNextFileW(search, &found));
  error = GetLastError();
  FindClose(search);
  if (error != ERROR_NO_MORE_FILES) {
    entries.clear();
    return error;
  }
  std::sort(entries.begin(), entries.end(), [](const SaverEntry& a, const SaverEntry& b) {
    return lstrcmpW(a.Shown(), b.Shown()) < 0;
  });
  return 0;
}

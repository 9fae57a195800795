#include "settings/SettingsFile.h"

#include <cwchar>

#include "app/AppState.h"
#include "app/ReportError.h"

WriteFileFunction settingsWriteFile = WriteFile;

namespace {

// Version and reserved word are written, never read: a file of a later version still holds a name this one reads.
constexpr std::uint16_t kSettingsVersion = 1;
constexpr std::size_t kSettingsHeaderSize = 8;
constexpr std::size_t kMaxBaseNameLength = 255 - 4;  // a file name holds at most 255 characters, ".scr" included
constexpr wchar_t kNewFileSuffix[] = L".new";

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }
  void Close() {
    if (IsValid()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

std::uint16_t ReadU16(const std::uint8_t* bytes) { return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)); }

void PutU16(std::vector<std::uint8_t>& bytes, std::uint16_t value) {
  bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
  bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

bool ReportReadError(DWORD code) {
  ReportError(nullptr, L"設定ファイルの読み込みでエラーが発生しました。", code);
  return false;
}

bool WriteAll(HANDLE file, const std::vector<std::uint8_t>& bytes, DWORD& error) {
  DWORD written = 0;
  const DWORD headerSize = kSettingsHeaderSize;
  if (!settingsWriteFile(file, bytes.data(), headerSize, &written, nullptr)) {
    error = GetLastError();
    return false;
  }
  const auto nameSize = static_cast<DWORD>(bytes.size() - kSettingsHeaderSize);
  if (nameSize != 0 && !settingsWriteFile(file, bytes.data() + kSettingsHeaderSize, nameSize, &written, nullptr)) {
    error = GetLastError();
    return false;
  }
  return true;
}

}  // namespace

std::vector<std::uint8_t> EncodeSettings(const wchar_t* saverName) {
  const std::size_t length = saverName ? wcslen(saverName) : 0;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(kSettingsHeaderSize + 2 * length);
  PutU16(bytes, kSettingsMagic);
  PutU16(bytes, kSettingsVersion);
  PutU16(bytes, 0);
  PutU16(bytes, static_cast<std::uint16_t>(length));
  for (std::size_t i = 0; i < length; ++i) PutU16(bytes, static_cast<std::uint16_t>(saverName[i]));
  return bytes;
}

bool IsPlainBaseName(const wchar_t* name, std::size_t length) {
  if (length == 0 || length > kMaxBaseNameLength) return false;
  bool onlyDots = true;
  for (std::size_t i = 0; i < length; ++i) {
    const wchar_t c = name[i];
    if (c < 0x20 || c == 0x7F || wcschr(L"<>:\"/\\|?*", c)) return false;
    if (c != L'.') onlyDots = false;
  }
  // "." and ".." would name a directory; a trailing dot or space is dropped by the file system.
  return !onlyDots && name[length - 1] != L' ' && name[length - 1] != L'.';
}

bool LoadSettings() {
  // A reader stands in nobody's way: another program may hold the file open for writing, and a save replaces it
  // by a rename.
  FileHandle file(CreateFileW(app.settingsPath.get(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || ReportReadError(error);
  }
  std::uint8_t header[kSettingsHeaderSize];
  DWORD read = 0;
  if (!ReadFile(file.Get(), header, sizeof(header), &read, nullptr)) {
    const DWORD error = GetLastError();
    file.Close();
    return ReportReadError(error);
  }
  const std::uint16_t nameLength = ReadU16(header + 6);
  if (read < sizeof(header) || ReadU16(header) != kSettingsMagic || nameLength == 0) return true;

  HeapString name(new wchar_t[nameLength + 1u]);
  const DWORD nameBytes = 2u * nameLength;
  if (!ReadFile(file.Get(), name.get(), nameBytes, &read, nullptr)) {
    const DWORD error = GetLastError();
    file.Close();
    return ReportReadError(error);
  }
  if (read < nameBytes) return true;
  name[nameLength] = L'\0';
  if (!IsPlainBaseName(name.get(), nameLength)) return true;
  app.saverName = std::move(name);
  return true;
}

DWORD SaveSettings() {
  const std::vector<std::uint8_t> bytes = EncodeSettings(app.saverName.get());
  const std::size_t pathLength = wcslen(app.settingsPath.get());
  HeapString newPath(new wchar_t[pathLength + wcslen(kNewFileSuffix) + 1]);
  wmemcpy(newPath.get(), app.settingsPath.get(), pathLength);
  wcscpy(newPath.get() + pathLength, kNewFileSuffix);
  FileHandle file(CreateFileW(newPath.get(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return GetLastError();
  DWORD error = 0;
  bool complete = WriteAll(file.Get(), bytes, error);
  if (complete && !FlushFileBuffers(file.Get())) {
    error = GetLastError();
    complete = false;
  }
  file.Close();
  // Replace the old file only with a complete new one, so a failed or cut-off save keeps the old choice.
  if (complete &&
      !MoveFileExW(newPath.get(), app.settingsPath.get(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
    complete = false;
  }
  if (complete) return 0;
  DeleteFileW(newPath.get());
  return error != 0 ? error : ERROR_WRITE_FAULT;
}

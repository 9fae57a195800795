#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr std::uint16_t kSettingsMagic = 0xAA2A;

// The file's bytes for a saver name (null: no saver).
std::vector<std::uint8_t> EncodeSettings(const wchar_t* saverName);

// A stored name becomes part of a path and a command line: only a plain file base name may pass.
bool IsPlainBaseName(const wchar_t* name, std::size_t length);

// Reads "TAVO.dat" into saverName (left null when there is no usable name). False after a read
// error, which has been reported.
bool LoadSettings();
// Writes saverName; 0 on success, otherwise the system error code. The old file stays intact
// until the new content is complete on disk.
DWORD SaveSettings();

// The write call the save goes through; tests swap it to cut a save short.
using WriteFileFunction = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
extern WriteFileFunction settingsWriteFile;

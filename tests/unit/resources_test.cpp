// Reads the resources back out of the built Orvane.exe (named by ORVANE_EXE_PATH), mapped as an image
// resource file the way the shell and the loader see it.
// CMake needs, for this target: target_link_libraries(resources_test PRIVATE version) for VerQueryValueW,
// and add_dependencies(resources_test Orvane) so that the exe exists before the test runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "resource.h"

namespace {

constexpr WORD kJapanese = static_cast<WORD>(MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));

std::string Utf8(const std::wstring& text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return {};
  std::string converted(static_cast<size_t>(length - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, converted.data(), length, nullptr, nullptr);
  return converted;
}

std::wstring WindowsPathOfExe() {
  const char* unixPath = std::getenv("ORVANE_EXE_PATH");
  if (unixPath == nullptr || *unixPath == '\0') return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, unixPath, -1, nullptr, 0);
  if (length <= 1) return {};
  std::wstring converted(static_cast<size_t>(length - 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, unixPath, -1, converted.data(), length);
  std::replace(converted.begin(), converted.end(), L'/', L'\\');
  return L"Z:" + converted;
}

struct Bytes {
  const BYTE* data = nullptr;
  DWORD size = 0;
};

Bytes ResourceBytes(HMODULE module, LPCWSTR type, WORD id, WORD language) {
  HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(id), language);
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr) return {};
  return {static_cast<const BYTE*>(LockResource(loaded)), SizeofResource(module, found)};
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
  auto* names = reinterpret_cast<std::vector<ULONG_PTR>*>(param);
  names->push_back(IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name) : ~ULONG_PTR{0});
  return TRUE;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
  reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
  return TRUE;
}

// Sequential reader for resource templates; any read past the end clears ok() and yields zeros.
class Reader {
 public:
  Reader(const BYTE* data, DWORD size) : begin_(data), pos_(data), end_(data + size) {}

  bool ok() const { return ok_; }
  size_t remaining() const { return static_cast<size_t>(end_ - pos_); }

  BYTE Byte() { return Read<BYTE>(); }
  WORD Word() { return Read<WORD>(); }
  short Short() { return Read<short>(); }
  DWORD Dword() { return Read<DWORD>(); }

  std::wstring String() {
    std::wstring text;
    for (WORD c = Word(); ok_ && c != 0; c = Word()) text += static_cast<wchar_t>(c);
    return text;
  }

  // A string or an ordinal; an ordinal comes back as "#<number>".
  std::wstring NameOrOrdinal() {
    const WORD first = Word();
    if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
    if (first == 0) return {};
    return static_cast<wchar_t>(first) + String();
  }

  void AlignToDword() {
    const size_t offset = static_cast<size_t>(pos_ - begin_);
    Skip(((offset + 3) & ~size_t{3}) - offset);
  }

  void Skip(size_t count) {
    if (remaining() < count) {
      ok_ = false;
      pos_ = end_;
      return;
    }
    pos_ += count;
  }

 private:
  template <typename T>
  T Read() {
    T value{};
    if (remaining() < sizeof value) {
      ok_ = false;
      pos_ = end_;
      return value;
    }
    std::memcpy(&value, pos_, sizeof value);
    pos_ += sizeof value;
    return value;
  }

  const BYTE* begin_;
  const BYTE* pos_;
  const BYTE* end_;
  bool ok_ = true;
};

// The predefined control classes that rc and windres store as ordinals.
std::wstring ClassName(const std::wstring& stored) {
  if (stored == L"#128") return L"button";
  if (stored == L"#129") return L"edit";
  if (stored == L"#130") return L"static";
  if (stored == L"#131") return L"listbox";
  if (stored == L"#132") return L"scrollbar";
  if (stored == L"#133") return L"combobox";
  std::wstring lower = stored;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; });
  return lower;
}

// The opening tag "<name ...>" that starts at or after `from`, or empty.
std::string Tag(const std::string& xml, const std::string& name, size_t from = 0) {
  const size_t start = xml.find("<" + name + " ", from);
  if (start == std::string::npos) return {};
  const size_t end = xml.find('>', start);
  if (end == std::string::npos) return {};
  return xml.substr(start, end - start + 1);
}

std::string Attribute(const std::string& tag, const std::string& name) {
  const std::string key = " " + name + "=\"";
  const size_t start = tag.find(key);
  if (start == std::string::npos) return "<missing>";
  const size_t valueStart = start + key.size();
  const size_t end = tag.find('"', valueStart);
  if (end == std::string::npos) return "<missing>";
  return tag.substr(valueStart, end - valueStart);
}

#pragma pack(push, 2)
struct GroupIconHeader {
  WORD reserved;
  WORD type;
  WORD count;
};
struct GroupIconEntry {
  BYTE width;
  BYTE height;
  BYTE colorCount;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytesInRes;
  WORD id;
};
#pragma pack(pop)

DWORD BigEndian(const BYTE* p) {
  return (DWORD{p[0]} << 24) | (DWORD{p[1]} << 16) | (DWORD{p[2]} << 8) | DWORD{p[3]};
}

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = WindowsPathOfExe();
    ASSERT_FALSE(path_.empty()) << "ORVANE_EXE_PATH is not set";
    module_ = LoadLibraryExW(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << "cannot map " << Utf8(path_) << " as an image resource, error " << GetLastError();
  }

  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }

  std::wstring path_;
  HMODULE module_ = nullptr;
};

TEST_F(ResourcesTest, VersionRecordIsJapaneseVersion1001) {
  const Bytes resource = ResourceBytes(module_, RT_VERSION, 1, kJapanese);
  ASSERT_NE(resource.data, nullptr) << "no Japanese version record 1";
  // VerQueryValueW may write into the block it is given, so it works on a copy with room to spare.
  std::vector<BYTE> block(resource.data, resource.data + resource.size);
  block.resize(block.size() * 2);

  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u) << "1.0";
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u) << "0.1";
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u) << "1.0";
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u) << "0.1";
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);

  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 2 * sizeof(WORD));
  EXPECT_EQ(static_cast<const WORD*>(value)[0], 0x0411);
  EXPECT_EQ(static_cast<const WORD*>(value)[1], 0x04B0);

  const struct {
    const wchar_t* name;
    const wchar_t* text;
  } strings[] = {
      {L"FileDescription", L"Orvane"},    {L"ProductName", L"Orvane"},
      {L"FileVersion", L"1.0.0.1"},        {L"ProductVersion", L"1.00"},
      {L"InternalName", L"Orvane.exe"},    {L"OriginalFilename", L"Orvane.exe"},
  };
  for (const auto& expected : strings) {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\041104B0\\") + expected.name;
    value = nullptr;
    length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), &value, &length)) << Utf8(query);
    EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(value)), expected.text) << Utf8(query);
  }
}

TEST_F(ResourcesTest, TrayMenuHasExitThenSettings) {
  ASSERT_NE(FindResourceExW(module_, RT_MENU, MAKEINTRESOURCEW(IDR_TRAYMENU), kJapanese), nullptr)
      << "no Japanese menu 101";
  HMENU menu = LoadMenuW(module_, MAKEINTRESOURCEW(IDR_TRAYMENU));
  ASSERT_NE(menu, nullptr) << "error " << GetLastError();
  EXPECT_EQ(GetMenuItemCount(menu), 1);
  HMENU popup = GetSubMenu(menu, 0);
  ASSERT_NE(popup, nullptr);
  ASSERT_EQ(GetMenuItemCount(popup), 2);

  const struct {
    UINT id;
    const wchar_t* text;
  } items[] = {{IDM_EXIT, L"終了(&Q)"}, {IDM_SETTINGS, L"設定(&S)..."}};
  for (UINT position = 0; position < 2; ++position) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_SUBMENU;
    ASSERT_TRUE(GetMenuItemInfoW(popup, position, TRUE, &info));
    EXPECT_EQ(info.wID, items[position].id) << "item " << position;
    EXPECT_EQ(info.fType, static_cast<UINT>(MFT_STRING)) << "item " << position;
    EXPECT_EQ(info.fState, 0u) << "item " << position;
    EXPECT_EQ(info.hSubMenu, nullptr) << "item " << position;
    wchar_t text[64] = {};
    EXPECT_GT(GetMenuStringW(popup, position, text, 64, MF_BYPOSITION), 0) << "item " << position;
    EXPECT_EQ(std::wstring(text), items[position].text) << "item " << position;
  }
  DestroyMenu(menu);
}

TEST_F(ResourcesTest, IconGroupHoldsFiveSizesAt32BitsPerPixel) {
  HRSRC group = FindResourceW(module_, MAKEINTRESOURCEW(IDI_APP), RT_GROUP_ICON);
  ASSERT_NE(group, nullptr) << "no icon group 101";
  const auto* directory = static_cast<const BYTE*>(LockResource(LoadResource(module_, group)));
  const DWORD directorySize = SizeofResource(module_, group);
  ASSERT_NE(directory, nullptr);
  ASSERT_GE(directorySize, sizeof(GroupIconHeader));
  GroupIconHeader header;
  std::memcpy(&header, directory, sizeof header);
  EXPECT_EQ(header.reserved, 0);
  EXPECT_EQ(header.type, 1);
  ASSERT_EQ(header.count, 5);
  ASSERT_EQ(directorySize, sizeof(GroupIconHeader) + header.count * sizeof(GroupIconEntry));

  std::vector<int> sizes;
  for (WORD i = 0; i < header.count; ++i) {
    GroupIconEntry entry;
    std::memcpy(&entry, directory + sizeof header + i * sizeof entry, sizeof entry);
    const int size = entry.width == 0 ? 256 : entry.width;
    sizes.push_back(size);
    SCOPED_TRACE("icon " + std::to_string(size) + " px");
    EXPECT_EQ(entry.height, entry.width);
    EXPECT_EQ(entry.colorCount, 0);
    EXPECT_EQ(entry.planes, 1);
    EXPECT_EQ(entry.bitCount, 32);

    HRSRC image = FindResourceW(module_, MAKEINTRESOURCEW(entry.id), RT_ICON);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(SizeofResource(module_, image), entry.bytesInRes);
    const auto* bits = static_cast<const BYTE*>(LockResource(LoadResource(module_, image)));
    ASSERT_NE(bits, nullptr);
    static const BYTE pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (entry.bytesInRes >= 26 && std::memcmp(bits, pngSignature, 8) == 0) {
      ASSERT_EQ(std::memcmp(bits + 12, "IHDR", 4), 0);
      EXPECT_EQ(BigEndian(bits + 16), static_cast<DWORD>(size));
      EXPECT_EQ(BigEndian(bits + 20), static_cast<DWORD>(size));
      EXPECT_EQ(bits[24], 8) << "bits per channel";
      EXPECT_EQ(bits[25], 6) << "PNG colour type (RGBA)";
    } else {
      ASSERT_GE(entry.bytesInRes, sizeof(BITMAPINFOHEADER));
      BITMAPINFOHEADER info;
      std::memcpy(&info, bits, sizeof info);
      EXPECT_EQ(info.biSize, sizeof(BITMAPINFOHEADER));
      EXPECT_EQ(info.biWidth, size);
      EXPECT_EQ(info.biHeight, 2 * size) << "colour rows plus mask rows";
      EXPECT_EQ(info.biBitCount, 32);
      EXPECT_EQ(info.biCompression, static_cast<DWORD>(BI_RGB));
      const DWORD maskStride = static_cast<DWORD>((size + 31) / 32 * 4);
      EXPECT_EQ(entry.bytesInRes, sizeof info + static_cast<DWORD>(size * size * 4) + maskStride * static_cast<DWORD>(size));
    }

    EXPECT_EQ(LookupIconIdFromDirectoryEx(const_cast<BYTE*>(directory), TRUE, size, size, LR_DEFAULTCOLOR), entry.id)
        << "the system does not pick this image for its own size";
    HICON icon = CreateIconFromResourceEx(const_cast<BYTE*>(bits), entry.bytesInRes, TRUE, 0x00030000, size, size,
                                          LR_DEFAULTCOLOR);
    ASSERT_NE(icon, nullptr) << "the image does not decode";
    ICONINFO iconInfo{};
    ASSERT_TRUE(GetIconInfo(icon, &iconInfo));
    BITMAP bitmap{};
    ASSERT_NE(GetObjectW(iconInfo.hbmColor, sizeof bitmap, &bitmap), 0);
    EXPECT_EQ(bitmap.bmWidth, size);
    EXPECT_EQ(bitmap.bmHeight, size);
    DeleteObject(iconInfo.hbmColor);
    DeleteObject(iconInfo.hbmMask);
    DestroyIcon(icon);
  }
  std::sort(sizes.begin(), sizes.end());
  EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 48, 256}));
}

TEST_F(ResourcesTest, ManifestIsTheOnlyOneAndAsksForAsInvokerAndCommonControls6) {
  std::vector<ULONG_PTR> names;
  EnumResourceNamesW(module_, RT_MANIFEST, CollectName, reinterpret_cast<LONG_PTR>(&names));
  ASSERT_EQ(names, (std::vector<ULONG_PTR>{1})) << "exactly one manifest, number 1";
  std::vector<WORD> languages;
  EnumResourceLanguagesW(module_, RT_MANIFEST, MAKEINTRESOURCEW(1), CollectLanguage,
                         reinterpret_cast<LONG_PTR>(&languages));
  ASSERT_EQ(languages.size(), 1u) << "a second manifest 1 in another language (a toolchain default) is linked in";

  HRSRC found = FindResourceW(module_, MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_NE(found, nullptr);
  const auto* data = static_cast<const char*>(LockResource(LoadResource(module_, found)));
  ASSERT_NE(data, nullptr);
  const std::string xml(data, SizeofResource(module_, found));

  const std::string own = Tag(xml, "assemblyIdentity");
  EXPECT_EQ(Attribute(own, "name"), "Orvane") << own;
  EXPECT_EQ(Attribute(own, "version"), "1.0.0.1") << own;

  const std::string level = Tag(xml, "requestedExecutionLevel");
  EXPECT_EQ(Attribute(level, "level"), "asInvoker") << level;
  EXPECT_EQ(Attribute(level, "uiAccess"), "false") << level;

  const size_t dependency = xml.find("<dependentAssembly>");
  ASSERT_NE(dependency, std::string::npos) << xml;
  const std::string controls = Tag(xml, "assemblyIdentity", dependency);
  EXPECT_EQ(Attribute(controls, "type"), "win32") << controls;
  EXPECT_EQ(Attribute(controls, "name"), "Microsoft.Windows.Common-Controls") << controls;
  EXPECT_EQ(Attribute(controls, "version"), "6.0.0.0") << controls;
  EXPECT_EQ(Attribute(controls, "processorArchitecture"), "x86") << controls;
  EXPECT_EQ(Attribute(controls, "publicKeyToken"), "6595b64144ccf1df") << controls;
  EXPECT_EQ(Attribute(controls, "language"), "*") << controls;

  // Layered child windows (the host on the raised desktop) exist only for programs that declare Windows 8+.
  for (const char* id : {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                         "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                         "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
    EXPECT_NE(xml.find(std::string("<supportedOS Id=\"") + id + "\"/>"), std::string::npos) << id;
  }
}

TEST_F(ResourcesTest, SettingsDialogTemplateIsExact) {
  const Bytes resource = ResourceBytes(module_, RT_DIALOG, IDD_SETTINGS, kJapanese);
  ASSERT_NE(resource.data, nullptr) << "no Japanese dialog 101";
  Reader in(resource.data, resource.size);

  EXPECT_EQ(in.Word(), 1) << "dlgVer: an extended template";
  EXPECT_EQ(in.Word(), 0xFFFF) << "signature";
  EXPECT_EQ(in.Dword(), 0u) << "helpID";
  EXPECT_EQ(in.Dword(), 0u) << "exStyle";
  const DWORD style = in.Dword();
  EXPECT_EQ(style, static_cast<DWORD>(WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_SETFONT));
  EXPECT_EQ(style & (WS_POPUP | WS_VISIBLE), 0u);
  const WORD count = in.Word();
  EXPECT_EQ(in.Short(), 0);
  EXPECT_EQ(in.Short(), 0);
  EXPECT_EQ(in.Short(), 176);
  EXPECT_EQ(in.Short(), 192);
  EXPECT_EQ(in.NameOrOrdinal(), L"") << "menu";
  EXPECT_EQ(in.NameOrOrdinal(), L"") << "window class";
  EXPECT_EQ(in.String(), L"Orvane 設定");
  EXPECT_EQ(in.Word(), 9) << "point size";
  EXPECT_EQ(in.Word(), 0) << "weight";
  EXPECT_EQ(in.Byte(), 0) << "italic";
  EXPECT_EQ(in.Byte(), 1) << "character set";
  EXPECT_EQ(in.String(), L"MS UI Gothic");
  ASSERT_TRUE(in.ok());

  const struct {
    DWORD id;
    const wchar_t* className;
    const wchar_t* text;
    short x, y, cx, cy;
    DWORD style;
  } controls[] = {
      {IDC_PREVIEW, L"static", L"", 8, 8, 160, 120, WS_CHILD | WS_VISIBLE},
      {static_cast<DWORD>(-1), L"static", L"スクリーン セーバー(&S):", 8, 136, 60, 12,
       WS_CHILD | WS_VISIBLE | WS_GROUP},
      {IDC_SAVERLIST, L"combobox", L"", 8, 147, 116, 88,
       WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST},
      {IDC_CONFIGURE, L"button", L"設定(&T)...", 128, 146, 40, 14,
       WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | BS_PUSHBUTTON},
      {IDOK, L"button", L"OK", 40, 174, 40, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON},
      {IDCANCEL, L"button", L"キャンセル", 84, 174, 40, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON},
      {IDC_APPLY, L"button", L"適用(&A)", 128, 174, 40, 14,
       WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | BS_PUSHBUTTON},
  };
  ASSERT_EQ(count, std::size(controls));
  for (const auto& expected : controls) {
    SCOPED_TRACE("control " + std::to_string(static_cast<int>(expected.id)));
    in.AlignToDword();
    EXPECT_EQ(in.Dword(), 0u) << "helpID";
    EXPECT_EQ(in.Dword(), 0u) << "exStyle";
    EXPECT_EQ(in.Dword(), expected.style) << "style";
    EXPECT_EQ(in.Short(), expected.x);
    EXPECT_EQ(in.Short(), expected.y);
    EXPECT_EQ(in.Short(), expected.cx);
    EXPECT_EQ(in.Short(), expected.cy);
    EXPECT_EQ(in.Dword(), expected.id) << "id";
    EXPECT_EQ(ClassName(in.NameOrOrdinal()), expected.className);
    EXPECT_EQ(in.NameOrOrdinal(), expected.text);
    const WORD extra = in.Word();
    EXPECT_EQ(extra, 0) << "creation data";
    in.Skip(extra);
    ASSERT_TRUE(in.ok()) << "template ends early";
  }
  EXPECT_LT(in.remaining(), 4u) << "bytes after the last control";
}

}  // namespace

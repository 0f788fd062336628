// Bitmaps, icon group and manifest as the compiled module holds them: pixel
// formats, sizes, ids and languages, read from the raw resources and through
// the same loaders the dialog manager and the shell use.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "resources/resource_ids.h"

namespace {

constexpr LANGID kUiLanguage = 0x1009;        // English (Canada)
constexpr LANGID kManifestLanguage = 0x0409;  // English (United States)

std::string resourceBytes(LPCSTR type, LPCSTR name, LANGID lang) {
  HMODULE self = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceExA(self, type, name, lang);
  if (!found) return std::string();
  HGLOBAL loaded = LoadResource(self, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  return data ? std::string(static_cast<const char*>(data), SizeofResource(self, found)) : std::string();
}

// Collects the languages of one resource (a named function: lambdas lack the
// stdcall convention on i686).
BOOL CALLBACK collectLanguage(HMODULE, LPCSTR, LPCSTR, WORD lang, LONG_PTR param) {
  reinterpret_cast<std::vector<LANGID>*>(param)->push_back(lang);
  return TRUE;
}

BITMAPINFOHEADER infoHeader(const std::string& bytes) {
  BITMAPINFOHEADER h = {};
  if (bytes.size() >= sizeof(h)) std::memcpy(&h, bytes.data(), sizeof(h));
  return h;
}

size_t rowBytes(int width, int bits) { return static_cast<size_t>((width * bits + 31) / 32 * 4); }

TEST(ImageResources, BitmapsHaveTheirPixelFormats) {
  struct Case {
    WORD id;
    LONG width, height;
    WORD bits;
    DWORD colours;
  };
  const Case cases[] = {{IDB_WELCOME, 250, 125, 8, 255}, {IDB_HEADER, 88, 34, 24, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE("bitmap " + std::to_string(c.id));
    const std::string bytes = resourceBytes(MAKEINTRESOURCEA(2) /* RT_BITMAP */, MAKEINTRESOURCEA(c.id), kUiLanguage);
    ASSERT_FALSE(bytes.empty()) << "missing in language 0x1009";
    const BITMAPINFOHEADER h = infoHeader(bytes);
    EXPECT_EQ(sizeof(BITMAPINFOHEADER), h.biSize);
    EXPECT_EQ(c.width, h.biWidth);
    EXPECT_EQ(c.height, h.biHeight) << "a positive height: rows stored bottom-up";
    EXPECT_EQ(1, h.biPlanes);
    EXPECT_EQ(c.bits, h.biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), h.biCompression);
    EXPECT_EQ(c.colours, h.biClrUsed);
    // Header, palette and rows and nothing else: a truncated file shows here.
    EXPECT_EQ(sizeof(BITMAPINFOHEADER) + 4 * c.colours + rowBytes(c.width, c.bits) * c.height, bytes.size());

    // The static control loads it the same way.
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(c.id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(nullptr, bitmap) << "error " << GetLastError();
    BITMAP info = {};
    EXPECT_EQ(static_cast<int>(sizeof(info)), GetObjectA(bitmap, sizeof(info), &info));
    EXPECT_EQ(c.width, info.bmWidth);
    EXPECT_EQ(c.height, info.bmHeight);
    DeleteObject(bitmap);
  }
}

#pragma pack(push, 2)
struct GroupIconHeader {
  WORD reserved, type, count;
};
struct GroupIconEntry {
  BYTE width, height, colourCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInRes;
  WORD id;
};
#pragma pack(pop)

TEST(ImageResources, IconGroupHoldsTwoImagesInOrder) {
  const std::string group =
      resourceBytes(MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */, MAKEINTRESOURCEA(IDI_SETUP), kUiLanguage);
  ASSERT_GE(group.size(), sizeof(GroupIconHeader));
  GroupIconHeader header;
  std::memcpy(&header, group.data(), sizeof(header));
  EXPECT_EQ(0, header.reserved);
  EXPECT_EQ(1, header.type);
  ASSERT_EQ(2, header.count);
  ASSERT_EQ(sizeof(GroupIconHeader) + 2 * sizeof(GroupIconEntry), group.size());

  struct Case {
    WORD id;
    BYTE size;
    WORD bits;
  };
  const Case cases[] = {{1, 32, 8}, {2, 16, 4}};
  for (int i = 0; i < 2; ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE("image " + std::to_string(i + 1));
    GroupIconEntry entry;
    std::memcpy(&entry, group.data() + sizeof(header) + i * sizeof(entry), sizeof(entry));
    EXPECT_EQ(c.id, entry.id);
    EXPECT_EQ(c.size, entry.width);
    EXPECT_EQ(c.size, entry.height);
    EXPECT_EQ(c.bits, entry.bitCount);

    const std::string image = resourceBytes(MAKEINTRESOURCEA(3) /* RT_ICON */, MAKEINTRESOURCEA(c.id), kUiLanguage);
    ASSERT_FALSE(image.empty()) << "icon image missing in language 0x1009";
    EXPECT_EQ(entry.bytesInRes, image.size());
    const BITMAPINFOHEADER h = infoHeader(image);
    EXPECT_EQ(c.size, h.biWidth);
    EXPECT_EQ(2 * c.size, h.biHeight) << "colour rows and mask rows";
    EXPECT_EQ(c.bits, h.biBitCount);
    const size_t palette = 4u << c.bits;
    EXPECT_EQ(sizeof(BITMAPINFOHEADER) + palette + (rowBytes(c.size, c.bits) + rowBytes(c.size, 1)) * c.size,
              image.size());
  }

  // What the shell does when it shows the program's icon.
  for (int size : {32, 16}) {
    HICON icon = static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_SETUP), IMAGE_ICON, size, size, 0));
    EXPECT_NE(nullptr, icon) << "size " << size << ", error " << GetLastError();
    if (icon) DestroyIcon(icon);
  }
}

TEST(ImageResources, ManifestIsTheEmptyAssemblyInUsEnglish) {
  const std::string manifest =
      resourceBytes(MAKEINTRESOURCEA(24) /* RT_MANIFEST */, MAKEINTRESOURCEA(1), kManifestLanguage);
  EXPECT_EQ(86u, manifest.size());
  EXPECT_EQ(
      "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
      "</assembly>",
      manifest);
  EXPECT_EQ("", resourceBytes(MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1), kUiLanguage)) << "a second manifest";
}

// Every user-interface resource is in English (Canada) only: a resource left
// in another language would be found first on some systems.
TEST(ImageResources, UserInterfaceResourcesHaveOneLanguage) {
  HMODULE self = GetModuleHandleA(nullptr);
  struct Item {
    WORD type, id;
  };
  const Item items[] = {{5, IDD_FRAME},   {5, IDD_WELCOME},  {5, IDD_LICENSE}, {5, IDD_TYPE},
                        {5, IDD_TLDIR},   {5, IDD_PROGRESS}, {5, IDD_FINISHED}, {5, IDD_FSDIR},
                        {5, IDD_SIMCONNECT}, {2, IDB_WELCOME}, {2, IDB_HEADER}, {14, IDI_SETUP},
                        {3, 1},           {3, 2},            {24, 1}};
  for (const Item& item : items) {
    std::vector<LANGID> languages;
    EnumResourceLanguagesA(
        self, MAKEINTRESOURCEA(item.type), MAKEINTRESOURCEA(item.id),
        collectLanguage,
        reinterpret_cast<LONG_PTR>(&languages));
    ASSERT_EQ(1u, languages.size()) << "type " << item.type << " id " << item.id;
    EXPECT_EQ(item.type == 24 ? kManifestLanguage : kUiLanguage, languages[0])
        << "type " << item.type << " id " << item.id;
  }
}

}  // namespace

// The string table and loadResourceString, against this test program's own
// resources: the installer's table (ui.rc) plus a few test-only entries of
// lengths that sit on loadResourceString's buffer boundaries.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/support/test_support.h"
#include "test_strings.h"
#include "wizard/strings.h"

namespace {

constexpr LANGID kUiLanguage = 0x1009;  // English (Canada)

// Sets g_instance for one test and puts the previous value back.
class ScopedInstance {
 public:
  explicit ScopedInstance(HINSTANCE instance) : previous_(g_instance) { g_instance = instance; }
  ~ScopedInstance() { g_instance = previous_; }
  ScopedInstance(const ScopedInstance&) = delete;
  ScopedInstance& operator=(const ScopedInstance&) = delete;

 private:
  HINSTANCE previous_;
};

// Entry id of the raw string table in language lang, read without LoadStringA:
// the block of 16 counted UTF-16 strings that holds it. found=false when the
// block is missing; an empty entry of an existing block is found with no text.
struct RawString {
  bool found = false;
  std::string text;
};

RawString rawString(HMODULE module, UINT id, LANGID lang) {
  RawString out;
  HRSRC block = FindResourceExA(module, MAKEINTRESOURCEA(6) /* RT_STRING */, MAKEINTRESOURCEA(id / 16 + 1), lang);
  if (!block) return out;
  HGLOBAL loaded = LoadResource(module, block);
  const WORD* p = loaded ? static_cast<const WORD*>(LockResource(loaded)) : nullptr;
  if (!p) return out;
  const WORD* end = p + SizeofResource(module, block) / sizeof(WORD);
  for (UINT i = 0; i < id % 16 && p < end; ++i) p += 1 + *p;
  if (p >= end || p + 1 + *p > end) return out;
  out.found = true;
  for (WORD i = 1; i <= *p; ++i) out.text.push_back(p[i] < 0x80 ? static_cast<char>(p[i]) : '?');
  return out;
}

// Collects the languages of one resource (a named function: lambdas lack the
// stdcall convention on i686).
BOOL CALLBACK collectLanguage(HMODULE, LPCSTR, LPCSTR, WORD lang, LONG_PTR param) {
  reinterpret_cast<std::vector<LANGID>*>(param)->push_back(lang);
  return TRUE;
}

struct Entry {
  UINT id;
  const char* text;
};

// Every entry of the installer's table except the licence agreement, exactly
// as the installer must show it (including its spelling).
const std::vector<Entry>& expectedEntries() {
  static const std::vector<Entry> entries = {
      {105, "Welcome to TowerLink"},
      {106, "for Microsoft Flight Simulator"},
      {107,
       "TowerLink is the best way for online pilots to get access to live air traffic control services.  And this "
       "version makes it easier than ever."},
      {108,
       "You must have Microsoft Flight Simulator 2002, Flight Simulator 2004 or Flight Simulator X in order to use "
       "TowerLink."},
      {109, "END USER LICENSE AGREEMENT FOR TOWERLINK SOFTWARE"},
      {110, "An error occurred initializing the file extraction.\nThe installer will now close."},
      {111, "Deleting TowerLink program files"},
      {112, "TowerLink Installer"},
      {113, "Are you sure you want to exit without completing the installation of TowerLink?"},
      {121, "An error occurred while installing the files.\nThe installer will now close."},
      {122, "TowerLink Installer Error"},
      {123, "It is recommended that you exit all applications prior to running this installer."},
      {124, "Deleting TowerLink module DLL"},
      {125, "TowerLink"},
      {126, "Uninstall TowerLink"},
      {127, "User Guide"},
      {128,
       "A valid version of Microsoft Flight Simulator does not appear to be installed on your machine.\nTo use "
       "TowerLink you must have Microsoft Flight Simulator 2002, Microsoft Flight Simulator 2004 or Microsoft "
       "Flight Simulator X."},
      {129,
       "An error occurred while updating the system registry.\nEnsure you have adequate privileges to install "
       "software on this machine.\nThe installer will now close."},
      {130, "An error occurred while updating the Start Menu.\nThe installer will now close."},
      {131, "An error occurred while setting up the uninstaller application.\nThe installer will now close."},
      {132, "Deleting transponder DLL"},
      {133, "Deleting multiplayer auto-join DLL"},
      {134, "Clearing registry entries"},
      {136, "Deleting TowerLink default model set"},
      {137, "Deleting VIP model set"},
      {138, "Removing start menu"},
      {178, "Deleting FSX DLLs"},
      {179, "TowerLink (for Flight Simulator 2002 and 2004)"},
      {180, "TowerLink (for Flight Simulator X)"},
      {181, "An error occurred launching the SimConnect installer.  TowerLink installation cannot complete."},
      {182, "An error occurred while trying to modify Flight Simulator X configuration files."},
  };
  return entries;
}

TEST(StringResources, EveryEntryHasItsExactText) {
  ScopedInstance instance(GetModuleHandleA(nullptr));
  for (const Entry& e : expectedEntries()) {
    EXPECT_EQ(e.text, loadResourceString(e.id)) << "string " << e.id;
  }
}

// Everything between the first and the last id is either one of the entries
// above, a licence entry, or absent (114..120, 135): nothing stray.
TEST(StringResources, TableHoldsNothingElseAndOnlyInEnglishCanada) {
  HMODULE self = GetModuleHandleA(nullptr);
  for (UINT id = 96; id < 192; ++id) {
    const bool listed = std::any_of(expectedEntries().begin(), expectedEntries().end(),
                                    [id](const Entry& e) { return e.id == id; });
    const bool licence = id >= IDS_LICENSE_FIRST && id <= IDS_LICENSE_LAST;
    const RawString raw = rawString(self, id, kUiLanguage);
    ASSERT_TRUE(raw.found) << "block of string " << id << " missing in 0x1009";
    EXPECT_EQ(listed || licence, !raw.text.empty()) << "string " << id;
  }
  for (UINT block = 96 / 16 + 1; block <= 191 / 16 + 1; ++block) {
    std::vector<LANGID> languages;
    EnumResourceLanguagesA(
        self, MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(block),
        collectLanguage,
        reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(std::vector<LANGID>{kUiLanguage}, languages) << "languages of string block " << block;
  }
}

// The licence agreement: forty strings with the heading, each id present,
// with the lengths loadResourceString has to cope with.
TEST(StringResources, LicenceEntriesHaveTheDocumentedLengths) {
  ScopedInstance instance(GetModuleHandleA(nullptr));
  int over511 = 0, over1023 = 0;
  size_t longest = 0;
  UINT longestId = 0;
  for (UINT id = IDS_LICENSE_FIRST; id <= IDS_LICENSE_LAST; ++id) {
    const std::string text = loadResourceString(id);
    EXPECT_FALSE(text.empty()) << "licence string " << id << " missing";
    EXPECT_EQ(std::string::npos, text.find('\r')) << "string " << id << ": the page adds the line breaks";
    if (text.size() > 511) ++over511;
    if (text.size() > 1023) ++over1023;
    if (text.size() > longest) longest = text.size(), longestId = id;
  }
  EXPECT_EQ(39u, IDS_LICENSE_LAST - IDS_LICENSE_FIRST + 1);
  EXPECT_EQ(11, over511);
  EXPECT_EQ(2, over1023);
  EXPECT_EQ(1246u, longest) << "longest is string " << longestId;
}

// loadResourceString against the raw table: every entry of any length comes
// back whole, not cut at one of the buffer sizes it tries (63, 127, ... 1,023).
TEST(LoadResourceString, ReturnsEveryEntryWhole) {
  HMODULE self = GetModuleHandleA(nullptr);
  ScopedInstance instance(self);
  std::vector<UINT> ids;
  for (const Entry& e : expectedEntries()) ids.push_back(e.id);
  for (UINT id = IDS_LICENSE_FIRST; id <= IDS_LICENSE_LAST; ++id) ids.push_back(id);
  for (UINT id = IDS_TEST_FIRST; id <= IDS_TEST_LAST; ++id) ids.push_back(id);
  for (UINT id : ids) {
    const RawString raw = rawString(self, id, kUiLanguage);
    ASSERT_TRUE(raw.found) << "string " << id;
    const std::string loaded = loadResourceString(id);
    EXPECT_EQ(raw.text.size(), loaded.size()) << "string " << id;
    EXPECT_EQ(raw.text, loaded) << "string " << id;
  }
}

// Lengths on either side of each buffer size: size - 1 is the case that is
// loaded a second time with the doubled buffer.
TEST(LoadResourceString, LengthsAroundTheBufferSizes) {
  ScopedInstance instance(GetModuleHandleA(nullptr));
  struct Case {
    UINT id;
    size_t length;
  };
  const Case cases[] = {{IDS_TEST_LEN_1, 1},     {IDS_TEST_LEN_62, 62},   {IDS_TEST_LEN_63, 63},
                        {IDS_TEST_LEN_64, 64},   {IDS_TEST_LEN_127, 127}, {IDS_TEST_LEN_128, 128},
                        {IDS_TEST_LEN_1023, 1023}, {IDS_TEST_LEN_2047, 2047}};
  for (const Case& c : cases) {
    const std::string text = loadResourceString(c.id);
    EXPECT_EQ(c.length, text.size()) << "string " << c.id;
    // Each test text ends in a marker, so a cut shows even where lengths agree.
    ASSERT_FALSE(text.empty()) << "string " << c.id;
    EXPECT_EQ('#', text.back()) << "string " << c.id << " of length " << c.length;
  }
}

TEST(LoadResourceString, MissingEntryGivesEmptyText) {
  ScopedInstance instance(GetModuleHandleA(nullptr));
  EXPECT_EQ("", loadResourceString(135));    // a gap inside an existing block
  EXPECT_EQ("", loadResourceString(114));    // another gap
  EXPECT_EQ("", loadResourceString(20000));  // a block that does not exist
}

TEST(LoadResourceString, ModuleWithoutStringTableGivesEmptyText) {
  HMODULE empty = LoadLibraryExA(tltest::fixturePath("tl_empty_resources.dll").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, empty) << "error " << GetLastError();
  {
    ScopedInstance instance(empty);
    EXPECT_EQ("", loadResourceString(IDS_WELCOME_TITLE));
    EXPECT_EQ("", loadResourceString(IDS_LICENSE_FIRST));
  }
  FreeLibrary(empty);
}

}  // namespace

// Reads an extended dialog template (DLGTEMPLATEEX and its DLGITEMTEMPLATEEX
// items) from raw resource bytes, so tests can compare what the resource
// compiler produced with the layout the installer relies on.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace tltest {

// A name-or-ordinal field: an ordinal when isOrdinal, else text (UTF-16
// narrowed to ASCII; other characters become '?').
struct SzOrOrd {
  bool isOrdinal = false;
  WORD ordinal = 0;
  std::string text;
};

struct DialogItem {
  DWORD helpId = 0;
  DWORD exStyle = 0;
  DWORD style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  LONG id = 0;  // signed: -1 marks a control the code never addresses
  SzOrOrd windowClass;
  SzOrOrd title;
  WORD extraBytes = 0;
};

struct DialogTemplate {
  WORD version = 0;
  WORD signature = 0;
  DWORD helpId = 0;
  DWORD exStyle = 0;
  DWORD style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  SzOrOrd menu;
  SzOrOrd windowClass;
  std::string title;
  bool hasFont = false;
  WORD pointSize = 0;
  WORD weight = 0;
  BYTE italic = 0;
  BYTE charset = 0;
  std::string typeface;
  std::vector<DialogItem> items;
};

// Parses size bytes at data. False, with *error naming the field, when the
// bytes are not an extended template or end early; *out is then partly filled.
bool parseDialogTemplateEx(const void* data, size_t size, DialogTemplate* out, std::string* error);

// The class name of a predefined-class ordinal (0x0080 "BUTTON", 0x0081
// "EDIT", 0x0082 "STATIC", ...), or the text itself, upper-cased: window
// class names compare without regard to case.
std::string className(const SzOrOrd& cls);

}  // namespace tltest

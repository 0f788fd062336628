#include "dialog_template.h"

#include <cctype>
#include <cstring>

namespace tltest {

namespace {

// Reads little-endian fields with bounds checks; every read reports whether it fit.
class Reader {
 public:
  Reader(const BYTE* data, size_t size) : data_(data), size_(size) {}

  size_t offset() const { return pos_; }

  template <class T>
  bool read(T* value) {
    if (size_ - pos_ < sizeof(T)) return false;
    std::memcpy(value, data_ + pos_, sizeof(T));
    pos_ += sizeof(T);
    return true;
  }

  bool wideText(std::string* text) {
    text->clear();
    for (;;) {
      WORD ch;
      if (!read(&ch)) return false;
      if (ch == 0) return true;
      text->push_back(ch < 0x80 ? static_cast<char>(ch) : '?');
    }
  }

  bool szOrOrd(SzOrOrd* field) {
    WORD first;
    if (!read(&first)) return false;
    if (first == 0xFFFF) {
      field->isOrdinal = true;
      return read(&field->ordinal);
    }
    field->isOrdinal = false;
    if (first == 0) {
      field->text.clear();
      return true;
    }
    pos_ -= sizeof(WORD);
    return wideText(&field->text);
  }

  bool alignDword() {
    size_t aligned = (pos_ + 3) & ~static_cast<size_t>(3);
    if (aligned > size_) return false;
    pos_ = aligned;
    return true;
  }

  bool skip(size_t n) {
    if (size_ - pos_ < n) return false;
    pos_ += n;
    return true;
  }

 private:
  const BYTE* data_;
  size_t size_;
  size_t pos_ = 0;
};

bool fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

}  // namespace

bool parseDialogTemplateEx(const void* data, size_t size, DialogTemplate* out, std::string* error) {
  Reader r(static_cast<const BYTE*>(data), size);
  WORD count = 0;
  if (!r.read(&out->version) || !r.read(&out->signature)) return fail(error, "header");
  if (out->version != 1 || out->signature != 0xFFFF) return fail(error, "not an extended template");
  if (!r.read(&out->helpId) || !r.read(&out->exStyle) || !r.read(&out->style) || !r.read(&count) ||
      !r.read(&out->x) || !r.read(&out->y) || !r.read(&out->cx) || !r.read(&out->cy))
    return fail(error, "template fields");
  if (!r.szOrOrd(&out->menu)) return fail(error, "menu");
  if (!r.szOrOrd(&out->windowClass)) return fail(error, "class");
  if (!r.wideText(&out->title)) return fail(error, "title");
  // DS_SETFONT (or DS_SHELLFONT, which includes it) announces the font fields.
  out->hasFont = (out->style & DS_SETFONT) != 0;
  if (out->hasFont) {
    if (!r.read(&out->pointSize) || !r.read(&out->weight) || !r.read(&out->italic) || !r.read(&out->charset) ||
        !r.wideText(&out->typeface))
      return fail(error, "font");
  }
  out->items.clear();
  for (WORD i = 0; i < count; ++i) {
    DialogItem item;
    DWORD id = 0;
    const std::string where = "item " + std::to_string(i);
    if (!r.alignDword()) return fail(error, where + " alignment");
    if (!r.read(&item.helpId) || !r.read(&item.exStyle) || !r.read(&item.style) || !r.read(&item.x) ||
        !r.read(&item.y) || !r.read(&item.cx) || !r.read(&item.cy) || !r.read(&id))
      return fail(error, where + " fields");
    item.id = static_cast<LONG>(id);
    if (!r.szOrOrd(&item.windowClass)) return fail(error, where + " class");
    if (!r.szOrOrd(&item.title)) return fail(error, where + " title");
    if (!r.read(&item.extraBytes) || !r.skip(item.extraBytes)) return fail(error, where + " creation data");
    out->items.push_back(item);
  }
  return true;
}

std::string className(const SzOrOrd& cls) {
  if (cls.isOrdinal) {
    switch (cls.ordinal) {
      case 0x0080: return "BUTTON";
      case 0x0081: return "EDIT";
      case 0x0082: return "STATIC";
      case 0x0083: return "LISTBOX";
      case 0x0084: return "SCROLLBAR";
      case 0x0085: return "COMBOBOX";
      default: return "#" + std::to_string(cls.ordinal);
    }
  }
  std::string upper = cls.text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

}  // namespace tltest

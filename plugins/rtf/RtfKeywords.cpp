// Control word table of the RTF reader and its hash lookup.
#include "rtf/RtfKeywords.h"

#include <array>
#include <cstddef>

namespace scv::rtf {
namespace {

using K = TKeywordKind;

// Destinations skipped as a whole: tables, metadata, pictures and object data, field
// instructions, bookmarks, index and TOC entries, list definitions, shape properties, and
// page headers and footers (running page furniture repeated on every printed page, not body
// text). Field results, footnotes, list number texts and text boxes are kept.
constexpr TKeyword kKeywords[] = {
    {"fonttbl", K::kFontTable},
    {"colortbl", K::kSkipDest},
    {"stylesheet", K::kSkipDest},
    {"info", K::kSkipDest},
    {"pict", K::kSkipDest},
    {"objdata", K::kSkipDest},
    {"objclass", K::kSkipDest},
    {"objname", K::kSkipDest},
    {"objalias", K::kSkipDest},
    {"objsect", K::kSkipDest},
    {"objtime", K::kSkipDest},
    {"themedata", K::kSkipDest},
    {"colorschememapping", K::kSkipDest},
    {"datastore", K::kSkipDest},
    {"xmlnsdecls", K::kSkipDest},
    {"xmlopen", K::kSkipDest},
    {"xmlclose", K::kSkipDest},
    {"xmlattrname", K::kSkipDest},
    {"xmlattrvalue", K::kSkipDest},
    {"latentstyles", K::kSkipDest},
    {"generator", K::kSkipDest},
    {"listtable", K::kSkipDest},
    {"listoverridetable", K::kSkipDest},
    {"revtbl", K::kSkipDest},
    {"rsidtbl", K::kSkipDest},
    {"filetbl", K::kSkipDest},
    {"pgdsctbl", K::kSkipDest},
    {"protusertbl", K::kSkipDest},
    {"header", K::kSkipDest},
    {"headerl", K::kSkipDest},
    {"headerr", K::kSkipDest},
    {"headerf", K::kSkipDest},
    {"footer", K::kSkipDest},
    {"footerl", K::kSkipDest},
    {"footerr", K::kSkipDest},
    {"footerf", K::kSkipDest},
    {"fldinst", K::kSkipDest},
    {"datafield", K::kSkipDest},
    {"formfield", K::kSkipDest},
    {"bkmkstart", K::kSkipDest},
    {"bkmkend", K::kSkipDest},
    {"xe", K::kSkipDest},
    {"tc", K::kSkipDest},
    {"tcn", K::kSkipDest},
    {"txe", K::kSkipDest},
    {"rxe", K::kSkipDest},
    {"pxe", K::kSkipDest},
    {"pn", K::kSkipDest},
    {"pnseclvl", K::kSkipDest},
    {"pntxta", K::kSkipDest},
    {"pntxtb", K::kSkipDest},
    {"atnid", K::kSkipDest},
    {"atnauthor", K::kSkipDest},
    {"atndate", K::kSkipDest},
    {"atnicn", K::kSkipDest},
    {"atnref", K::kSkipDest},
    {"atntime", K::kSkipDest},
    {"atnparent", K::kSkipDest},
    {"atrfstart", K::kSkipDest},
    {"atrfend", K::kSkipDest},
    {"annotation", K::kSkipDest},
    {"ftnsep", K::kSkipDest},
    {"ftnsepc", K::kSkipDest},
    {"ftncn", K::kSkipDest},
    {"aftnsep", K::kSkipDest},
    {"aftnsepc", K::kSkipDest},
    {"aftncn", K::kSkipDest},
    {"template", K::kSkipDest},
    {"userprops", K::kSkipDest},
    {"docvar", K::kSkipDest},
    {"mmathPr", K::kSkipDest},
    {"sp", K::kSkipDest},
    {"sn", K::kSkipDest},
    {"sv", K::kSkipDest},
    {"shprslt", K::kSkipDest},
    {"nonshppict", K::kSkipDest},
    {"shppict", K::kSkipDest},
    {"nonesttables", K::kSkipDest},
    {"listpicture", K::kSkipDest},
    {"falt", K::kSkipDest},
    {"panose", K::kSkipDest},
    {"fname", K::kSkipDest},
    {"fontemb", K::kSkipDest},
    {"fontfile", K::kSkipDest},
    {"leveltext", K::kSkipDest},
    {"levelnumbers", K::kSkipDest},
    {"listname", K::kSkipDest},
    {"title", K::kSkipDest},
    {"subject", K::kSkipDest},
    {"author", K::kSkipDest},
    {"operator", K::kSkipDest},
    {"keywords", K::kSkipDest},
    {"comment", K::kSkipDest},
    {"doccomm", K::kSkipDest},
    {"company", K::kSkipDest},
    {"manager", K::kSkipDest},
    {"category", K::kSkipDest},
    {"hlinkbase", K::kSkipDest},
    {"buptim", K::kSkipDest},
    {"creatim", K::kSkipDest},
    {"printim", K::kSkipDest},
    {"revtim", K::kSkipDest},
    {"passwordhash", K::kSkipDest},
    {"password", K::kSkipDest},
    {"wgrffmtfilter", K::kSkipDest},
    {"fchars", K::kSkipDest},
    {"lchars", K::kSkipDest},
    {"oldcprops", K::kSkipDest},
    {"oldpprops", K::kSkipDest},
    {"oldsprops", K::kSkipDest},
    {"oldtprops", K::kSkipDest},
    {"factoidname", K::kSkipDest},
    {"ffdeftext", K::kSkipDest},
    {"ffentrymcr", K::kSkipDest},
    {"ffexitmcr", K::kSkipDest},
    {"ffformat", K::kSkipDest},
    {"ffhelptext", K::kSkipDest},
    {"ffl", K::kSkipDest},
    {"ffname", K::kSkipDest},
    {"ffstattext", K::kSkipDest},
    {"mhtmltag", K::kSkipDest},
    {"htmltag", K::kSkipDest},
    {"blipuid", K::kSkipDest},
    {"picprop", K::kSkipDest},
    {"defchp", K::kSkipDest},
    {"defpap", K::kSkipDest},
    {"background", K::kSkipDest},
    {"bookmark", K::kSkipDest},
    {"pgptbl", K::kSkipDest},
    // Holds the \nestrow that ends a nested table row, beside row properties without text.
    {"nesttableprops", K::kKeepDest},
    {"listtext", K::kKeepDest},
    {"pntext", K::kKeepDest},
    {"fldrslt", K::kKeepDest},
    {"field", K::kKeepDest},
    {"footnote", K::kFootnote},
    {"shp", K::kKeepDest},
    {"shpinst", K::kKeepDest},
    {"shptxt", K::kKeepDest},
    {"shpgrp", K::kKeepDest},
    {"result", K::kKeepDest},
    {"object", K::kKeepDest},
    {"upr", K::kUpr},
    {"ud", K::kUd},

    {"par", K::kBreak},
    {"line", K::kBreak},
    {"sect", K::kBreak},
    {"page", K::kBreak},
    {"tab", K::kTab},
    {"cell", K::kCell},
    {"nestcell", K::kCell},
    {"row", K::kRow},
    {"nestrow", K::kRow},

    {"emdash", K::kChar, 0x2014},
    {"endash", K::kChar, 0x2013},
    {"bullet", K::kChar, 0x2022},
    {"lquote", K::kChar, 0x2018},
    {"rquote", K::kChar, 0x2019},
    {"ldblquote", K::kChar, 0x201C},
    {"rdblquote", K::kChar, 0x201D},
    {"emspace", K::kChar, 0x2003},
    {"enspace", K::kChar, 0x2002},
    {"qmspace", K::kChar, 0x2005},
    {"zwj", K::kChar, 0x200D},
    {"zwnj", K::kChar, 0x200C},
    {"zwbo", K::kChar, 0x200B},
    {"zwnbo", K::kChar, 0x2060},
    {"ltrmark", K::kChar, 0x200E},
    {"rtlmark", K::kChar, 0x200F},

    {"f", K::kFont},
    {"fcharset", K::kFontCharset},
    {"cpg", K::kFontCodePage},
    {"ansicpg", K::kAnsiCodePage},
    {"deff", K::kDefaultFont},
    {"uc", K::kUnicodeSkip},
    {"u", K::kUnicode},
    {"bin", K::kBinary},
    {"v", K::kHidden},
    {"deleted", K::kDeleted},
    {"plain", K::kPlain},
    {"mac", K::kCharsetMac},
    {"pc", K::kCharsetPc},
    {"pca", K::kCharsetPca},
};

constexpr std::size_t kSlots = 1024; // power of two, well above twice the table size
static_assert(std::size(kKeywords) * 2 < kSlots);

constexpr std::uint32_t Hash(std::string_view s) {
  std::uint32_t h = 2166136261u;
  for (const char c : s) {
    h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  }
  return h;
}

// Open addressing over indexes + 1 (0 = empty slot), built at compile time.
constexpr std::array<std::uint16_t, kSlots> BuildSlots() {
  std::array<std::uint16_t, kSlots> slots{};
  for (std::size_t i = 0; i < std::size(kKeywords); ++i) {
    std::size_t s = Hash(kKeywords[i].name) & (kSlots - 1);
    while (slots[s] != 0) {
      s = (s + 1) & (kSlots - 1);
    }
    slots[s] = static_cast<std::uint16_t>(i + 1);
  }
  return slots;
}

constexpr auto kSlotTable = BuildSlots();

} // namespace

const TKeyword* FindKeyword(std::string_view name) {
  std::size_t s = Hash(name) & (kSlots - 1);
  while (const std::uint16_t index = kSlotTable[s]) {
    const TKeyword& k = kKeywords[index - 1];
    if (k.name == name) {
      return &k;
    }
    s = (s + 1) & (kSlots - 1);
  }
  return nullptr;
}

} // namespace scv::rtf

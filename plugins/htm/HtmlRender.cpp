// Rendering an HTML document as plain text, the way a reader sees it.
//
// libxml2's HTML parser does the tolerant part (tag soup, implied and misnested elements,
// entities) and reports a balanced stream of SAX events; TTextRenderer turns them into
// lines. No document tree is built, so memory stays close to the size of the text.
#include "HtmlRender.h"

#include "common/Ligatures.h"
#include "platform/Memory.h"

#include <algorithm>
#include <array>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace scv::htm {
namespace {

// What an element does to the text.
enum TElementFlags : unsigned {
  kBlock1 = 1u << 0, // starts and ends a line
  kBlock2 = 1u << 1, // starts and ends a paragraph: a blank line around it
  kDrop = 1u << 2,   // neither it nor its content is seen
  kPre = 1u << 3,    // whitespace inside is kept as it is
  kList = 1u << 4,   // a list: a paragraph at the top level, a line when nested
  kTable = 1u << 5,
  kRow = 1u << 6,
  kCell = 1u << 7,
  kBr = 1u << 8,
  kTitle = 1u << 9,
  kFormControl = 1u << 10, // a form control: its text stands apart from the words around it
  kInput = 1u << 11,       // <input>: its value is text for the types that show it
  kSelect = 1u << 12,      // <select>: shows its selected option, else its first
  kOption = 1u << 13,      // <option>: inside a select, a candidate for its text
};

struct TElement {
  const char* name;
  unsigned flags;
};

// Elements that affect the text; every other element is inline and only its content counts.
// Images and other replaced elements contribute nothing: no alt text is invented. Form
// controls show what a reader sees on them: button labels, the values of buttons and text
// fields, the option a select shows.
constexpr TElement kElements[] = {
    {"address", kBlock1},
    {"article", kBlock1},
    {"aside", kBlock1},
    {"blockquote", kBlock2},
    {"body", kBlock1},
    {"br", kBr},
    {"button", kFormControl},
    {"caption", kBlock1},
    {"center", kBlock1},
    {"datalist", kDrop},
    {"dd", kBlock1},
    {"details", kBlock1},
    {"dialog", kBlock1},
    {"dir", kList},
    {"div", kBlock1},
    {"dl", kList},
    {"dt", kBlock1},
    {"fieldset", kBlock1},
    {"figcaption", kBlock1},
    {"figure", kBlock2},
    {"footer", kBlock1},
    {"form", kBlock1},
    {"frameset", kBlock1},
    {"h1", kBlock2},
    {"h2", kBlock2},
    {"h3", kBlock2},
    {"h4", kBlock2},
    {"h5", kBlock2},
    {"h6", kBlock2},
    {"head", 0},
    {"header", kBlock1},
    {"hgroup", kBlock1},
    {"hr", kBlock2},
    {"html", kBlock1},
    {"iframe", kDrop},
    {"input", kFormControl | kInput},
    {"legend", kBlock1},
    {"li", kBlock1},
    {"listing", kBlock2 | kPre},
    {"main", kBlock1},
    {"menu", kList},
    {"nav", kBlock1},
    {"noembed", kDrop},
    {"noframes", kBlock1},
    {"ol", kList},
    {"optgroup", kBlock1},
    {"option", kBlock1 | kOption},
    {"p", kBlock2},
    {"plaintext", kBlock2 | kPre},
    {"pre", kBlock2 | kPre},
    {"script", kDrop},
    {"search", kBlock1},
    {"section", kBlock1},
    {"select", kFormControl | kSelect},
    {"style", kDrop},
    {"summary", kBlock1},
    {"svg", kDrop},
    {"table", kBlock2 | kTable},
    {"tbody", kBlock1},
    {"td", kCell},
    {"template", kDrop},
    {"textarea", kBlock1 | kPre},
    {"tfoot", kBlock1},
    {"th", kCell},
    {"thead", kBlock1},
    {"title", kTitle},
    {"tr", kBlock1 | kRow},
    {"ul", kList},
    {"xmp", kBlock2 | kPre},
};

unsigned FlagsOf(const char* name) {
  // The table is sorted by name; libxml2 reports HTML element names in lower case.
  const auto* end = std::end(kElements);
  const auto* it =
      std::lower_bound(std::begin(kElements), end, name,
                       [](const TElement& e, const char* n) { return std::strcmp(e.name, n) < 0; });
  return it != end && std::strcmp(it->name, name) == 0 ? it->flags : 0;
}

// Byte classes for text: plain bytes are copied in runs; the others need a look.
enum TByteClass : std::uint8_t {
  kPlain = 0,
  kSpace = 1,   // collapsible whitespace
  kControl = 2, // dropped
  kLook = 3,    // lead byte of a character that may be special (NBSP, soft hyphen, BOM)
};

constexpr std::array<std::uint8_t, 256> MakeByteClasses() {
  std::array<std::uint8_t, 256> t{};
  for (int b = 0; b < 0x20; ++b) {
    t[b] = kControl;
  }
  t[' '] = kSpace;
  t['\t'] = kSpace;
  t['\n'] = kSpace;
  t['\r'] = kSpace;
  t['\f'] = kSpace;
  t[0x7F] = kControl;
  t[0xC2] = kLook;
  t[0xEF] = kLook;
  return t;
}
constexpr std::array<std::uint8_t, 256> kByteClasses = MakeByteClasses();

bool IsPlain(char c) {
  return kByteClasses[static_cast<std::uint8_t>(c)] == kPlain;
}

#if defined(__SSE2__)
// The lanes of the 16 bytes at block that end a run of plain text: whitespace, controls and the
// lead bytes of characters that need a look, except a single space followed by a plain byte.
// The block holds one byte more, the one after the last lane.
unsigned RunStops(std::string_view block) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block.data()));
  const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(0x1F)), _mm_set1_epi8(0x1F));
  const __m128i del = _mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F));
  const __m128i c2 = _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xC2)));
  const __m128i ef = _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xEF)));
  const auto special = static_cast<unsigned>(
      _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(control, del), _mm_or_si128(c2, ef))));
  const auto space =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(' '))));
  // Lane k's next byte is lane k + 1's; the last lane's is the extra byte.
  const unsigned nextNotPlain = (special | space) >> 1 | (IsPlain(block[16]) ? 0u : 0x8000u);
  return special | (space & nextNotPlain);
}
#endif

// The end of the run of text starting at i that is copied as it stands: plain bytes, and
// single spaces between two of them (one space between words collapses to itself). The run
// never starts with a space.
std::size_t PlainRunEnd(std::string_view text, std::size_t i) {
  const std::size_t n = text.size();
  std::size_t j = i;
  while (j < n) {
#if defined(__SSE2__)
    // Sixteen bytes at a time once the run has started; each block's stop, if any, is where
    // the byte-wise rules below take over.
    while (j > i && n - j >= 17) {
      const unsigned stops = RunStops(text.substr(j, 17));
      if (stops != 0) {
        j += static_cast<std::size_t>(__builtin_ctz(stops));
        break;
      }
      j += 16;
    }
#endif
    if (IsPlain(text[j])) {
      ++j;
    } else if (text[j] == ' ' && j > i && j + 1 < n && IsPlain(text[j + 1])) {
      j += 2;
    } else {
      break;
    }
  }
  return j;
}

bool IsHiddenByAttributes(const xmlChar** atts) {
  if (atts == nullptr) {
    return false;
  }
  // NOLINTBEGIN(cppcoreguidelines-pro-bounds-pointer-arithmetic): libxml2 passes the
  // attributes as name and value pointers in one array ended by a null name; its length is
  // found only by walking it.
  for (std::size_t i = 0; atts[i] != nullptr; i += 2) {
    const char* name = reinterpret_cast<const char*>(atts[i]);
    const char* value = reinterpret_cast<const char*>(atts[i + 1]);
    // NOLINTEND(cppcoreguidelines-pro-bounds-pointer-arithmetic)
    if (std::strcmp(name, "hidden") == 0) {
      return true;
    }
    if (value != nullptr && std::strcmp(name, "style") == 0 && std::strstr(value, "none")) {
      std::string compact;
      for (const char c : std::string_view(value)) {
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
          compact.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
        }
      }
      if (compact.find("display:none") != std::string::npos) {
        return true;
      }
    }
  }
  return false;
}

// The value of the attribute name (libxml2 reports HTML attribute names in lower case), or
// nullptr when the element has none; an attribute written without a value has an empty one.
const char* AttributeOf(const xmlChar** atts, const char* name) {
  if (atts == nullptr) {
    return nullptr;
  }
  // NOLINTBEGIN(cppcoreguidelines-pro-bounds-pointer-arithmetic): the attribute array again.
  for (std::size_t i = 0; atts[i] != nullptr; i += 2) {
    if (std::strcmp(reinterpret_cast<const char*>(atts[i]), name) == 0) {
      const auto* value = reinterpret_cast<const char*>(atts[i + 1]);
      return value != nullptr ? value : "";
    }
  }
  // NOLINTEND(cppcoreguidelines-pro-bounds-pointer-arithmetic)
  return nullptr;
}

// The text an <input> shows on the page: the value of buttons (submit, reset, button) and of
// fields a reader types into (text, search, e-mail, ...; an unknown type is a text field).
// Hidden fields, passwords, check boxes, radio buttons, file, colour, range and date pickers
// and image buttons show no value as text; placeholders are hints, not text.
std::string_view InputText(const xmlChar** atts) {
  const char* value = AttributeOf(atts, "value");
  if (value == nullptr || *value == '\0') {
    return {};
  }
  std::string type;
  if (const char* t = AttributeOf(atts, "type")) {
    for (const char c : std::string_view(t)) {
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\f') {
        type.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
      }
    }
  }
  constexpr std::string_view kNoText[] = {
      "hidden", "password", "checkbox", "radio", "file", "image", "color",
      "range",  "date",     "datetime", "month", "week", "time",  "datetime-local",
  };
  if (std::find(std::begin(kNoText), std::end(kNoText), type) != std::end(kNoText)) {
    return {};
  }
  return value;
}

class TTextRenderer {
public:
  void SetContext(htmlParserCtxtPtr ctxt) { ctxt_ = ctxt; }
  // Room for text as long as the document: the text is shorter than its markup, and pages
  // never written to are never touched.
  void Reserve(std::size_t n) {
    out_.reserve(n);
    platform::AdviseLargeBuffer(out_.data(), out_.capacity());
  }
  bool Failed() const { return failed_; }

  void Start(const char* name, const xmlChar** atts) {
    unsigned flags = CachedFlagsOf(name);
    if (dropDepth_ == 0 && (flags & kDrop) == 0 && IsHiddenByAttributes(atts)) {
      flags |= kDrop;
    }
    if ((flags & kTitle) != 0 && titleDone_) {
      flags = kDrop; // only the first title names the document
    }
    TFrame frame{name, flags, breaks_};
    if (dropDepth_ > 0 || (flags & kDrop) != 0) {
      ++dropDepth_;
      frame.flags = kDrop;
      frames_.push_back(frame);
      return;
    }
    if (selectDepth_ > 0) {
      // Inside a select only its options count, and only as the select's text.
      frame.flags = flags & (kSelect | kOption);
      frames_.push_back(frame);
      if ((flags & kOption) != 0) {
        StartOption(atts);
      } else if ((flags & kSelect) != 0) {
        ++selectDepth_;
      }
      return;
    }
    frames_.push_back(frame);
    if ((flags & kSelect) != 0) {
      selectDepth_ = 1;
      optionCount_ = 0;
      haveChosen_ = false;
      capturingOption_ = false;
      firstOption_.clear();
      chosenOption_.clear();
      return;
    }
    if ((flags & kInput) != 0) {
      ControlText(InputText(atts));
      return;
    }
    if ((flags & kFormControl) != 0) {
      space_ = true; // a button's label is a word of its own
    }
    if ((flags & kTitle) != 0) {
      capturingTitle_ = !titleDone_;
      return;
    }
    if ((flags & kBr) != 0) {
      LineBreak();
      return;
    }
    if ((flags & kList) != 0) {
      Break(listDepth_ == 0 ? 2 : 1);
      ++listDepth_;
    }
    if ((flags & kBlock2) != 0) {
      Break(2);
    } else if ((flags & kBlock1) != 0) {
      Break(1);
    }
    if ((flags & kTable) != 0) {
      rowCells_.push_back(0);
    }
    if ((flags & kRow) != 0 && !rowCells_.empty()) {
      rowCells_.back() = 0;
    }
    if ((flags & kCell) != 0) {
      if (!rowCells_.empty() && rowCells_.back()++ > 0) {
        ++tabs_;
        space_ = false;
      }
      cells_.push_back({emitted_, breaks_});
    }
    if ((flags & kPre) != 0) {
      ++preDepth_;
      preStart_ = true;
    }
  }

  void End(const char* name) {
    // libxml2 reports balanced events; should a name not match, close up to the nearest open
    // element of that name, or ignore the end tag when none is open nearby.
    constexpr std::size_t kSearch = 64;
    std::size_t depth = 0;
    for (auto it = frames_.rbegin(); it != frames_.rend() && depth < kSearch; ++it, ++depth) {
      if (it->name == name || std::strcmp(it->name, name) == 0) {
        for (std::size_t k = 0; k <= depth; ++k) {
          PopFrame();
        }
        return;
      }
    }
  }

  void Characters(std::string_view text) {
    if (dropDepth_ > 0) {
      return;
    }
    if (selectDepth_ > 0) {
      if (capturingOption_) {
        optionText_.append(text);
      }
      return;
    }
    if (capturingTitle_) {
      AppendCollapsed(title_, text);
      return;
    }
    if (preDepth_ > 0) {
      PreText(text);
      return;
    }
    InlineText(text);
  }

  // Text outside preformatted blocks: whitespace collapses, no-break spaces are spaces, soft
  // hyphens and zero-width no-break spaces vanish, ligatures become their letters.
  void InlineText(std::string_view text) {
    const std::size_t n = text.size();
    std::size_t i = 0;
    bool spaced = false;  // whitespace since the last text written
    bool written = false; // this text has written some of itself
    // What is owed before the first text (line breaks, tabs, a space) is settled then; after
    // it, the line holds this text's own bytes, none of them a line end or TAB, so whitespace
    // between two of its words is exactly one space.
    const auto put = [&](std::string_view bytes) {
      if (!written) {
        space_ = space_ || spaced;
        FlushPending();
        written = true;
      } else if (spaced) {
        out_.push_back(' ');
      }
      spaced = false;
      out_.append(bytes);
    };
    while (i < n) {
      // A run of plain bytes, single spaces between words included, is copied as it stands:
      // most text goes a line at a time.
      if (const std::size_t j = PlainRunEnd(text, i); j > i) {
        put(text.substr(i, j - i));
        i = j;
        continue;
      }
      const auto b = static_cast<std::uint8_t>(text[i]);
      const std::uint8_t cls = kByteClasses[b];
      if (cls == kSpace) {
        spaced = true;
        ++i;
      } else if (cls == kControl) {
        ++i;
      } else if (b == 0xC2 && i + 1 < n && static_cast<std::uint8_t>(text[i + 1]) == 0xA0) {
        spaced = true; // no-break space: a space like any other in plain text
        i += 2;
      } else if (b == 0xC2 && i + 1 < n && static_cast<std::uint8_t>(text[i + 1]) == 0xAD) {
        i += 2; // soft hyphen: invisible unless a line is broken there
      } else if (b == 0xEF && i + 2 < n && static_cast<std::uint8_t>(text[i + 1]) == 0xBB &&
                 static_cast<std::uint8_t>(text[i + 2]) == 0xBF) {
        i += 3; // zero-width no-break space
      } else if (const std::string_view letters = plugin::LigatureAt(text, i); !letters.empty()) {
        put(letters);
        i += 3;
      } else {
        put(text.substr(i, 1));
        ++i;
      }
    }
    if (written) {
      ++emitted_;
      space_ = spaced;
    } else if (spaced) {
      space_ = true;
    }
  }

  void Fail() {
    failed_ = true;
    if (ctxt_ != nullptr) {
      xmlStopParser(ctxt_);
    }
  }

  std::string Finish() {
    while (!frames_.empty()) {
      PopFrame();
    }
    while (!out_.empty() && (out_.back() == ' ' || out_.back() == '\n')) {
      out_.pop_back();
    }
    if (!out_.empty()) {
      out_.push_back('\n');
    }
    std::string title = std::move(title_);
    TrimTrailingSpaces(title);
    if (title.empty()) {
      return std::move(out_);
    }
    // The title goes in front of the text, in the text's own buffer when it has room.
    title.append(out_.empty() ? "\n" : "\n\n");
    out_.insert(0, title);
    return std::move(out_);
  }

private:
  // libxml2 keeps element names in its dictionary for the whole parse, one copy per name, so
  // frames hold the pointer and a name's flags are cached by its address.
  unsigned CachedFlagsOf(const char* name) {
    const std::size_t slot = (reinterpret_cast<std::uintptr_t>(name) >> 3) % kFlagCacheSize;
    TFlagCache& entry = flagCache_[slot];
    if (entry.name != name) {
      entry.name = name;
      entry.flags = FlagsOf(name);
    }
    return entry.flags;
  }

  static constexpr std::size_t kFlagCacheSize = 61;
  struct TFlagCache {
    const char* name = nullptr;
    unsigned flags = 0;
  };

  struct TFrame {
    const char* name;
    unsigned flags;
    int breaksAtStart;
  };
  struct TCell {
    std::size_t emittedAtStart; // emission count when the cell opened
    int breaksAtStart;          // line breaks owed when the cell opened
  };

  void PopFrame() {
    const TFrame frame = frames_.back();
    frames_.pop_back();
    const unsigned flags = frame.flags;
    if ((flags & kDrop) != 0) {
      --dropDepth_;
      return;
    }
    if ((flags & kTitle) != 0) {
      if (capturingTitle_) {
        capturingTitle_ = false;
        titleDone_ = !title_.empty();
      }
      return;
    }
    if ((flags & kOption) != 0 && selectDepth_ > 0) {
      EndOption();
      return;
    }
    if ((flags & kSelect) != 0) {
      if (--selectDepth_ == 0) {
        ControlText(haveChosen_ ? chosenOption_ : firstOption_);
        firstOption_ = std::string();
        chosenOption_ = std::string();
      }
      return;
    }
    if ((flags & kFormControl) != 0 && (flags & kInput) == 0) {
      space_ = true; // after a button's label
    }
    if ((flags & kPre) != 0) {
      --preDepth_;
      preStart_ = false;
    }
    if ((flags & kCell) != 0 && !cells_.empty()) {
      const TCell cell = cells_.back();
      cells_.pop_back();
      // Line breaks a cell's own blocks ask for after its text do not split the row; a cell
      // without text leaves the breaks owed before it (the row's own) as they were.
      breaks_ = emitted_ != cell.emittedAtStart ? 0 : cell.breaksAtStart;
      space_ = false;
    }
    if ((flags & kTable) != 0 && !rowCells_.empty()) {
      rowCells_.pop_back();
    }
    if ((flags & kList) != 0) {
      --listDepth_;
      Break(listDepth_ == 0 ? 2 : 1);
    }
    if ((flags & kBlock2) != 0) {
      Break(2);
    } else if ((flags & kBlock1) != 0) {
      Break(1);
    }
  }

  // A block boundary: the next text starts n lines further down (n = 2 leaves a blank line).
  // Boundaries do not add up; a cell's blocks before its first text do not break the row.
  void Break(int n) {
    if (!cells_.empty() && cells_.back().emittedAtStart == emitted_) {
      return;
    }
    breaks_ = std::max(breaks_, n);
    space_ = false;
  }

  // <br>: each one ends a line, so several in a row leave empty lines.
  void LineBreak() {
    if (out_.empty() && tabs_ == 0) {
      return; // no empty lines before the first text
    }
    if (!cells_.empty() && cells_.back().emittedAtStart == emitted_) {
      return;
    }
    if (preDepth_ > 0) {
      // Inside preformatted text the line ends are the text's own: add one more.
      FlushPending();
      out_.push_back('\n');
      return;
    }
    ++breaks_;
    space_ = false;
  }

  // An option of the open select: its text is kept while it may be the one the select shows,
  // the first option or the first selected one. A label attribute is shown instead of the
  // text.
  void StartOption(const xmlChar** atts) {
    optionFirst_ = optionCount_++ == 0;
    optionSelected_ = !haveChosen_ && AttributeOf(atts, "selected") != nullptr;
    optionText_.clear();
    const char* label = AttributeOf(atts, "label");
    optionLabeled_ = label != nullptr && *label != '\0';
    if (optionLabeled_) {
      optionText_ = label;
    }
    capturingOption_ = !optionLabeled_ && (optionFirst_ || optionSelected_);
  }

  void EndOption() {
    capturingOption_ = false;
    if (optionFirst_) {
      firstOption_ = optionText_;
    }
    if (optionSelected_) {
      chosenOption_ = std::move(optionText_);
      haveChosen_ = true;
    }
    optionFirst_ = false;
    optionSelected_ = false;
    optionText_.clear();
  }

  // The text of a form control as a word (or words) of its own, whitespace collapsed.
  void ControlText(std::string_view text) {
    if (text.find_first_not_of(" \t\n\r\f") == std::string_view::npos) {
      return;
    }
    space_ = true;
    InlineText(text);
    space_ = true;
  }

  void FlushPending() {
    if (breaks_ > 0) {
      if (!out_.empty()) {
        TrimTrailingSpaces(out_);
        // Preformatted text may already have ended its line.
        int have = 0;
        for (auto it = out_.rbegin(); it != out_.rend() && *it == '\n' && have < breaks_; ++it) {
          ++have;
        }
        out_.append(static_cast<std::size_t>(breaks_ - have), '\n');
      }
      breaks_ = 0;
      space_ = false;
    }
    if (tabs_ > 0) {
      TrimTrailingSpaces(out_);
      out_.append(static_cast<std::size_t>(tabs_), '\t');
      tabs_ = 0;
      space_ = false;
    }
    if (space_) {
      if (!out_.empty() && out_.back() != '\n' && out_.back() != '\t') {
        out_.push_back(' ');
      }
      space_ = false;
    }
  }

  void PreText(std::string_view text) {
    const std::size_t n = text.size();
    std::size_t i = 0;
    // A newline right after the start tag only separates the tag from the text.
    if (preStart_ && n > 0) {
      if (text[0] == '\n') {
        i = 1;
      } else if (text[0] == '\r') {
        i = n > 1 && text[1] == '\n' ? 2 : 1;
      }
    }
    preStart_ = false;
    if (i >= n) {
      return;
    }
    FlushPending();
    for (; i < n; ++i) {
      const char c = text[i];
      if (c == '\xEF') {
        if (const std::string_view letters = plugin::LigatureAt(text, i); !letters.empty()) {
          out_.append(letters);
          i += 2;
          continue;
        }
      }
      if (c == '\r') {
        if (i + 1 < n && text[i + 1] == '\n') {
          continue;
        }
        out_.push_back('\n');
      } else if (c == '\f' || static_cast<unsigned char>(c) >= 0x20 || c == '\n' || c == '\t') {
        out_.push_back(c == '\f' ? ' ' : c);
      }
    }
    ++emitted_;
  }

  static void AppendCollapsed(std::string& to, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      const std::uint8_t cls = kByteClasses[static_cast<std::uint8_t>(c)];
      if (cls == kSpace) {
        if (!to.empty() && to.back() != ' ') {
          to.push_back(' ');
        }
      } else if (const std::string_view letters = plugin::LigatureAt(text, i); !letters.empty()) {
        to.append(letters);
        i += 2;
      } else if (cls != kControl) {
        to.push_back(c);
      }
    }
  }

  static void TrimTrailingSpaces(std::string& s) {
    while (!s.empty() && s.back() == ' ') {
      s.pop_back();
    }
  }

  htmlParserCtxtPtr ctxt_ = nullptr;
  std::array<TFlagCache, kFlagCacheSize> flagCache_{};
  std::string out_;
  std::string title_;
  std::vector<TFrame> frames_;
  std::vector<int> rowCells_; // cells seen in the current row, one entry per open table
  std::vector<TCell> cells_;  // open table cells
  std::size_t emitted_ = 0;   // count of text emissions, to tell whether a cell has text
  int breaks_ = 0;
  int tabs_ = 0;
  int dropDepth_ = 0;
  int preDepth_ = 0;
  int listDepth_ = 0;
  bool space_ = false;
  bool preStart_ = false;
  bool capturingTitle_ = false;
  bool titleDone_ = false;
  bool failed_ = false;
  // The open select (selects inside it are counted, not read) and its options.
  int selectDepth_ = 0;
  std::size_t optionCount_ = 0;
  std::string firstOption_;
  std::string chosenOption_;
  std::string optionText_;
  bool haveChosen_ = false;
  bool optionFirst_ = false;
  bool optionSelected_ = false;
  bool optionLabeled_ = false;
  bool capturingOption_ = false;
};

TTextRenderer& RendererOf(void* ctx) {
  return *static_cast<TTextRenderer*>(ctx);
}

// The SAX callbacks run inside libxml2's C code: nothing may be thrown through it.
void OnStartElement(void* ctx, const xmlChar* name, const xmlChar** atts) {
  try {
    RendererOf(ctx).Start(reinterpret_cast<const char*>(name), atts);
  } catch (...) {
    RendererOf(ctx).Fail();
  }
}

void OnEndElement(void* ctx, const xmlChar* name) {
  try {
    RendererOf(ctx).End(reinterpret_cast<const char*>(name));
  } catch (...) {
    RendererOf(ctx).Fail();
  }
}

void OnCharacters(void* ctx, const xmlChar* ch, int len) {
  if (len <= 0) {
    return;
  }
  try {
    RendererOf(ctx).Characters(
        std::string_view(reinterpret_cast<const char*>(ch), static_cast<std::size_t>(len)));
  } catch (...) {
    RendererOf(ctx).Fail();
  }
}

void OnDiagnostic(void* /*ctx*/, const char* /*msg*/, ...) {}
void OnStructuredError(void* /*ctx*/, xmlErrorPtr /*error*/) {}

// The parser reads the text as it reads a file, a block at a time, and keeps only a window of
// it: no copy of the whole document is made.
struct TTextSource {
  std::string_view text;
  std::size_t pos = 0;
};

int ReadSource(void* context, char* buffer, int len) {
  auto& source = *static_cast<TTextSource*>(context);
  if (buffer == nullptr || len <= 0) {
    return 0;
  }
  const std::string_view block = source.text.substr(source.pos, static_cast<std::size_t>(len));
  std::memcpy(buffer, block.data(), block.size());
  source.pos += block.size();
  return static_cast<int>(block.size());
}

// A parser over the text, or nullptr when memory runs out.
htmlParserCtxtPtr NewParser(TTextSource& source) {
  htmlParserCtxtPtr ctxt = htmlNewParserCtxt();
  if (ctxt == nullptr) {
    return nullptr;
  }
  xmlParserInputBufferPtr buffer =
      xmlParserInputBufferCreateIO(&ReadSource, nullptr, &source, XML_CHAR_ENCODING_NONE);
  if (buffer == nullptr) {
    htmlFreeParserCtxt(ctxt);
    return nullptr;
  }
  xmlParserInputPtr input = xmlNewIOInputStream(ctxt, buffer, XML_CHAR_ENCODING_NONE);
  if (input == nullptr) {
    xmlFreeParserInputBuffer(buffer);
    htmlFreeParserCtxt(ctxt);
    return nullptr;
  }
  if (inputPush(ctxt, input) < 0) { // the input is freed with it
    htmlFreeParserCtxt(ctxt);
    return nullptr;
  }
  // The first block is read now, so that what the parser sees at the start (a byte-order mark
  // skipped when the encoding is set) is what it would see with the whole text in memory.
  xmlParserInputGrow(ctxt->input, INPUT_CHUNK);
  return ctxt;
}

} // namespace

std::string RenderHtml(std::string_view utf8) {
  xmlInitParser();
  // Diagnostics go nowhere: the library never prints.
  xmlSetGenericErrorFunc(nullptr, &OnDiagnostic);
  xmlSetStructuredErrorFunc(nullptr, &OnStructuredError);

  if (utf8.empty()) {
    return {}; // the parser refuses an empty buffer; there is nothing to render anyway
  }
  if (utf8.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw std::bad_alloc(); // beyond what the parser can take in one buffer
  }
  // The whole-document parser, not the push parser: only it keeps content that follows the
  // end of <html>, as browsers do.
  TTextSource source{utf8};
  htmlParserCtxtPtr ctxt = NewParser(source);
  if (ctxt == nullptr || ctxt->sax == nullptr) {
    if (ctxt != nullptr) {
      htmlFreeParserCtxt(ctxt);
    }
    throw std::bad_alloc();
  }

  TTextRenderer renderer;
  renderer.Reserve(utf8.size());

  std::memset(ctxt->sax, 0, sizeof(htmlSAXHandler));
  ctxt->sax->startElement = &OnStartElement;
  ctxt->sax->endElement = &OnEndElement;
  ctxt->sax->characters = &OnCharacters;
  ctxt->sax->ignorableWhitespace = &OnCharacters;
  ctxt->sax->cdataBlock = &OnCharacters;
  ctxt->sax->warning = &OnDiagnostic;
  ctxt->sax->error = &OnDiagnostic;
  ctxt->sax->fatalError = &OnDiagnostic;
  ctxt->userData = &renderer;
  renderer.SetContext(ctxt);
  htmlCtxtUseOptions(ctxt, HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                               HTML_PARSE_NONET | HTML_PARSE_IGNORE_ENC);
  // The text is UTF-8 already; declarations inside it must not switch the decoding.
  xmlSwitchEncoding(ctxt, XML_CHAR_ENCODING_UTF8);
  htmlParseDocument(ctxt);
  if (ctxt->myDoc != nullptr) {
    xmlFreeDoc(ctxt->myDoc); // not built without tree callbacks, but never leak one
    ctxt->myDoc = nullptr;
  }
  htmlFreeParserCtxt(ctxt);
  if (renderer.Failed()) {
    throw std::bad_alloc();
  }
  return renderer.Finish();
}

} // namespace scv::htm

// Entity decoding and encoding of the XML reader, and an element's joined text.
#include "xml/XMLEntities.h"

#include "platform/CodePage.h"
#include "xml/XMLScan.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace scv::xml {

namespace {

bool HasNonBlank(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return UByte(c) > 32; });
}

} // namespace

namespace {

// A character reference at text[i] ("&#" seen): its length, and its character in c; 0 when
// the text there is none or names no character that may stand in text.
std::size_t CharacterReferenceAt(std::string_view text, std::size_t i, char32_t& c) {
  std::size_t k = i + 2;
  const bool hex = k < text.size() && text[k] == 'x';
  k += hex ? 1 : 0;
  const std::size_t digits = k;
  std::uint32_t value = 0;
  for (; k < text.size(); ++k) {
    const char d = text[k];
    std::uint32_t v = 0;
    if (d >= '0' && d <= '9') {
      v = static_cast<std::uint32_t>(d - '0');
    } else if (hex && d >= 'a' && d <= 'f') {
      v = static_cast<std::uint32_t>(d - 'a' + 10);
    } else if (hex && d >= 'A' && d <= 'F') {
      v = static_cast<std::uint32_t>(d - 'A' + 10);
    } else {
      break;
    }
    // Saturates above the last character, so that any number of digits is read once.
    value = std::min<std::uint32_t>(value * (hex ? 16u : 10u) + v, 0x110000u);
  }
  if (k == digits || k >= text.size() || text[k] != ';') {
    return 0;
  }
  if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return 0;
  }
  c = value;
  return k + 1 - i;
}

} // namespace

std::size_t ReferenceAt(std::string_view text, std::size_t i, char (&buf)[4],
                        std::string_view& to) {
  const std::string_view rest = text.substr(i);
  if (rest[0] == '<') {
    if (rest.starts_with(kEntities[0].from)) {
      to = kEntities[0].to;
      return kEntities[0].from.size();
    }
    return 0;
  }
  if (rest.size() > 1 && rest[1] == '#') {
    char32_t c = 0;
    const std::size_t n = CharacterReferenceAt(text, i, c);
    if (n != 0) {
      std::string utf8;
      platform::AppendUtf8(utf8, c);
      std::copy(utf8.begin(), utf8.end(), buf);
      to = std::string_view(buf, utf8.size());
    }
    return n;
  }
  for (std::size_t k = 1; k < kEntities.size(); ++k) {
    if (rest.starts_with(kEntities[k].from)) {
      to = kEntities[k].to;
      return kEntities[k].from.size();
    }
  }
  return 0;
}

std::size_t FindEntityStart(std::string_view text, std::size_t from) {
  if (text.size() - std::min(from, text.size()) >= kLongScan) {
    const std::size_t amp = Find(text, '&', from);
    const std::string_view head = text.substr(0, amp == std::string_view::npos ? text.size() : amp);
    const std::size_t lt = Find(head, '<', from);
    return lt != std::string_view::npos ? lt : amp;
  }
  for (std::size_t i = from; i < text.size(); ++i) {
    if (text[i] == '&' || text[i] == '<') {
      return i;
    }
  }
  return std::string_view::npos;
}

bool DecodeEntitiesInto(std::string_view text, std::string& out) {
  char buf[4];
  std::string_view to;
  std::size_t i = FindEntityStart(text, 0);
  std::size_t n = 0;
  while (i != std::string_view::npos && (n = ReferenceAt(text, i, buf, to)) == 0) {
    i = FindEntityStart(text, i + 1);
  }
  if (i == std::string_view::npos) {
    return false;
  }
  out.clear();
  out.reserve(text.size());
  std::size_t copied = 0;
  while (i != std::string_view::npos) {
    if (n != 0) {
      out.append(text.substr(copied, i - copied));
      out.append(to);
      copied = i + n;
      i = FindEntityStart(text, copied);
    } else {
      i = FindEntityStart(text, i + 1);
    }
    n = i == std::string_view::npos ? 0 : ReferenceAt(text, i, buf, to);
  }
  out.append(text.substr(copied));
  return true;
}

std::string DecodeEntities(std::string_view text) {
  std::string out;
  if (!DecodeEntitiesInto(text, out)) {
    return std::string(text);
  }
  return out;
}

std::string EncodeEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    case '\r':
      if (i + 1 < text.size() && text[i + 1] == '\n') {
        out += "<br/>";
        ++i;
      } else {
        out += c;
      }
      break;
    default:
      out += c;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// TJoinedText

void TJoinedText::Clear() {
  used_ = 0;
  nonBlank_ = false;
}

void TJoinedText::Join(std::string_view token, bool stableToken, bool verbatim) {
  if (!nonBlank_) {
    Clear();
  }
  if (used_ == pieces_.size()) {
    pieces_.emplace_back();
  }
  TPiece& piece = pieces_[used_++];
  if (!verbatim && DecodeEntitiesInto(token, piece.own)) {
    piece.owned = true;
  } else if (stableToken) {
    piece.owned = false;
    piece.view = token;
  } else {
    piece.owned = true;
    piece.own.assign(token);
  }
  nonBlank_ = nonBlank_ || HasNonBlank(piece.Text());
}

void TJoinedText::AppendTo(std::string& out) const {
  out.reserve(out.size() + Size());
  for (std::size_t k = 0; k < used_; ++k) {
    if (k != 0) {
      out += "\r\n";
    }
    out.append(pieces_[k].Text());
  }
}

std::size_t TJoinedText::Size() const {
  std::size_t n = used_ == 0 ? 0 : 2 * (used_ - 1);
  for (std::size_t k = 0; k < used_; ++k) {
    n += pieces_[k].Text().size();
  }
  return n;
}

} // namespace scv::xml

// Entity decoding and encoding of the XML reader, and the repeated decoding of an element's
// joined text.
#include "xml/XMLEntities.h"

#include "xml/XMLScan.h"

#include <cstdint>
#include <string>
#include <vector>

namespace scv::xml {

namespace {

std::size_t CountNonBlank(std::string_view text) {
  std::size_t n = 0;
  for (const char c : text) {
    n += UByte(c) > 32 ? 1 : 0;
  }
  return n;
}

} // namespace

const TEntity* EntityAt(std::string_view text, std::size_t i) {
  const std::string_view rest = text.substr(i);
  if (rest[0] == '<') {
    return rest.starts_with(kEntities[0].from) ? &kEntities[0] : nullptr;
  }
  for (std::size_t k = 1; k < kEntities.size(); ++k) {
    if (rest.starts_with(kEntities[k].from)) {
      return &kEntities[k];
    }
  }
  return nullptr;
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
  std::size_t i = FindEntityStart(text, 0);
  while (i != std::string_view::npos && EntityAt(text, i) == nullptr) {
    i = FindEntityStart(text, i + 1);
  }
  if (i == std::string_view::npos) {
    return false;
  }
  out.clear();
  out.reserve(text.size());
  std::size_t copied = 0;
  while (i != std::string_view::npos) {
    if (const TEntity* e = EntityAt(text, i)) {
      out.append(text.substr(copied, i - copied));
      out.append(e->to);
      copied = i + e->from.size();
      i = FindEntityStart(text, copied);
    } else {
      i = FindEntityStart(text, i + 1);
    }
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

// A piece whose decoding has not settled: its characters as a doubly linked list, so that a
// pass touches only the entities formed around the previous pass's output. Node 0 is never
// removed (a replacement keeps its first node).
struct TJoinedText::TCascade {
  std::string chars;
  std::vector<std::int32_t> next; // -1 at the end
  std::vector<std::int32_t> prev; // -1 at the start
  std::vector<std::int32_t> candidates;
  std::vector<std::uint32_t> seen;
  std::uint32_t stamp = 0;
  std::size_t size = 0;

  explicit TCascade(std::string_view text) : chars(text), size(text.size()) {
    const auto n = static_cast<std::int32_t>(text.size());
    next.resize(text.size());
    prev.resize(text.size());
    for (std::int32_t i = 0; i < n; ++i) {
      next[static_cast<std::size_t>(i)] = i + 1 < n ? i + 1 : -1;
      prev[static_cast<std::size_t>(i)] = i - 1;
    }
    seen.assign(text.size(), 0);
    for (std::size_t i = FindEntityStart(text, 0); i != std::string_view::npos;
         i = FindEntityStart(text, i + 1)) {
      candidates.push_back(static_cast<std::int32_t>(i));
    }
  }

  char At(std::int32_t node) const { return chars[static_cast<std::size_t>(node)]; }

  const TEntity* EntityAtNode(std::int32_t node) const {
    for (const TEntity& e : kEntities) {
      std::int32_t p = node;
      bool ok = true;
      for (const char c : e.from) {
        if (p < 0 || At(p) != c) {
          ok = false;
          break;
        }
        p = next[static_cast<std::size_t>(p)];
      }
      if (ok) {
        return &e;
      }
    }
    return nullptr;
  }

  // One decoding pass. Returns the change of the count of characters above 32; sets done
  // when no later pass can change anything. Every entity present after a pass contains a
  // character that pass produced ('&' or '<' at its start, '>' at the end of "<br/>"), so
  // the produced characters are the only places to look.
  std::ptrdiff_t Pass(bool& done) {
    ++stamp;
    std::vector<std::pair<std::int32_t, const TEntity*>> found;
    for (std::int32_t c : candidates) {
      if (At(c) == '>') {
        for (int k = 0; k < 4 && c >= 0; ++k) {
          c = prev[static_cast<std::size_t>(c)];
        }
        if (c < 0) {
          continue;
        }
      }
      if ((At(c) != '&' && At(c) != '<') || seen[static_cast<std::size_t>(c)] == stamp) {
        continue;
      }
      if (const TEntity* e = EntityAtNode(c)) {
        seen[static_cast<std::size_t>(c)] = stamp;
        found.emplace_back(c, e);
      }
    }
    std::ptrdiff_t delta = 0;
    std::vector<std::int32_t> produced;
    for (const auto& [start, e] : found) {
      std::int32_t keep = start;
      for (std::size_t k = 0; k < e->to.size(); ++k) {
        if (k != 0) {
          keep = next[static_cast<std::size_t>(keep)];
        }
        chars[static_cast<std::size_t>(keep)] = e->to[k];
      }
      std::int32_t drop = next[static_cast<std::size_t>(keep)];
      for (std::size_t k = e->to.size(); k < e->from.size(); ++k) {
        drop = next[static_cast<std::size_t>(drop)];
      }
      next[static_cast<std::size_t>(keep)] = drop;
      if (drop >= 0) {
        prev[static_cast<std::size_t>(drop)] = keep;
      }
      size -= e->from.size() - e->to.size();
      delta -= static_cast<std::ptrdiff_t>(e->from.size()) -
               static_cast<std::ptrdiff_t>(CountNonBlank(e->to));
      const char out = e->to[0];
      if (out == '&' || out == '<' || out == '>') {
        produced.push_back(start);
      }
    }
    candidates.swap(produced);
    done = candidates.empty();
    return delta;
  }

  void AppendTo(std::string& out) const {
    if (chars.empty()) {
      return;
    }
    out.reserve(out.size() + size);
    for (std::int32_t i = 0; i >= 0; i = next[static_cast<std::size_t>(i)]) {
      out += chars[static_cast<std::size_t>(i)];
    }
  }
};

TJoinedText::TJoinedText() = default;
TJoinedText::~TJoinedText() = default;
TJoinedText::TJoinedText(TJoinedText&&) noexcept = default;
TJoinedText& TJoinedText::operator=(TJoinedText&&) noexcept = default;

void TJoinedText::Clear() {
  pieces_.clear();
  unstable_.clear();
  nonBlank_ = 0;
}

void TJoinedText::AdvanceCascades() {
  std::size_t kept = 0;
  for (const std::size_t index : unstable_) {
    TPiece& piece = pieces_[index];
    bool done = false;
    const std::ptrdiff_t delta = piece.cascade->Pass(done);
    nonBlank_ = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(nonBlank_) + delta);
    if (done) {
      piece.own.clear();
      piece.cascade->AppendTo(piece.own);
      piece.view = {};
      piece.cascade.reset();
    } else {
      unstable_[kept++] = index;
    }
  }
  unstable_.resize(kept);
}

void TJoinedText::Join(std::string_view token, bool stableToken) {
  if (nonBlank_ == 0) {
    Clear();
  } else {
    // The whole joined text is decoded once more: settled pieces decode to themselves.
    AdvanceCascades();
  }
  TPiece piece;
  std::string decoded;
  if (DecodeEntitiesInto(token, decoded)) {
    // Does the result still hold an entity? Then later passes may change it.
    bool more = false;
    for (std::size_t i = FindEntityStart(decoded, 0); i != std::string::npos;
         i = FindEntityStart(decoded, i + 1)) {
      if (EntityAt(decoded, i) != nullptr) {
        more = true;
        break;
      }
    }
    nonBlank_ += CountNonBlank(decoded);
    if (more) {
      piece.cascade = std::make_unique<TCascade>(decoded);
      unstable_.push_back(pieces_.size());
    } else {
      piece.own = std::move(decoded);
    }
  } else {
    nonBlank_ += CountNonBlank(token);
    if (stableToken) {
      piece.view = token;
    } else {
      piece.own.assign(token);
    }
  }
  pieces_.push_back(std::move(piece));
}

bool TJoinedText::SingleView(std::string_view& view) const {
  if (pieces_.size() == 1 && !pieces_[0].cascade && pieces_[0].view.data() != nullptr) {
    view = pieces_[0].view;
    return true;
  }
  return false;
}

void TJoinedText::AppendTo(std::string& out) const {
  bool first = true;
  for (const TPiece& piece : pieces_) {
    if (!first) {
      out += "\r\n";
    }
    first = false;
    if (piece.cascade) {
      piece.cascade->AppendTo(out);
    } else if (piece.view.data() != nullptr) {
      out.append(piece.view);
    } else {
      out.append(piece.own);
    }
  }
}

std::size_t TJoinedText::Size() const {
  std::size_t n = pieces_.empty() ? 0 : 2 * (pieces_.size() - 1);
  for (const TPiece& piece : pieces_) {
    n += piece.cascade ? piece.cascade->size
                       : (piece.view.data() != nullptr ? piece.view.size() : piece.own.size());
  }
  return n;
}

} // namespace scv::xml

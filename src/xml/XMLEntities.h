// Entity decoding and encoding of the XML reader, and the text an element gathers from several
// text tokens.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace scv::xml {

// Single decoding pass: "<br/>" -> CR LF, "&lt;" -> "<", "&gt;" -> ">", "&quot;" -> '"',
// "&amp;" -> "&", "&apos;" -> "'", and character references ("&#65;", "&#x41;") -> the
// character's UTF-8 bytes (a reference to 0, to a surrogate or beyond U+10FFFF stays as
// written). Returns false (out untouched) when nothing would change.
bool DecodeEntitiesInto(std::string_view text, std::string& out);
std::string DecodeEntities(std::string_view text);
// "&" -> "&amp;", "<" -> "&lt;", ">" -> "&gt;", '"' -> "&quot;", CR LF -> "<br/>".
std::string EncodeEntities(std::string_view text);

// An element's text gathered from its text tokens and CDATA sections: each decoded once, as it
// joins; joined with CR LF, except that text joined to blank text replaces it. Kept as pieces,
// so that a text token that needs no decoding is a view of its bytes.
class TJoinedText {
public:
  void Clear();
  bool Empty() const { return used_ == 0; }
  // The text holds only characters of 32 or less (true for no text).
  bool IsBlank() const { return !nonBlank_; }
  // Joins one token: the element's text becomes (text, CR LF, token), or the token alone when
  // the text is blank. The token is decoded unless it is taken verbatim (a CDATA section).
  // stableToken: the token's bytes stay valid until the text is taken.
  void Join(std::string_view token, bool stableToken, bool verbatim = false);
  // True when the text is one piece: view is its bytes, and stable tells whether they are the
  // token's own (valid as long as the token) or a decoded or copied piece (valid until the
  // text changes).
  bool SinglePiece(std::string_view& view, bool& stable) const {
    if (used_ != 1) {
      return false;
    }
    view = pieces_[0].Text();
    stable = !pieces_[0].owned;
    return true;
  }
  // Appends the whole text to out.
  void AppendTo(std::string& out) const;
  std::size_t Size() const;

private:
  struct TPiece {
    std::string_view view; // into the token, or empty when own holds the text
    std::string own;
    bool owned = false;
    std::string_view Text() const { return owned ? std::string_view(own) : view; }
  };

  std::vector<TPiece> pieces_;
  std::size_t used_ = 0;  // pieces_[0, used_) hold the text; later ones keep their storage
  bool nonBlank_ = false; // some character above 32
};

} // namespace scv::xml

// Entity decoding and encoding of the XML reader, and the repeated decoding of the text an
// element gathers from several text tokens.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace scv::xml {

// Single decoding pass: "<br/>" -> CR LF, "&lt;" -> "<", "&gt;" -> ">", "&quot;" -> '"',
// "&amp;" -> "&". Returns false (out untouched) when nothing would change.
bool DecodeEntitiesInto(std::string_view text, std::string& out);
std::string DecodeEntities(std::string_view text);
// "&" -> "&amp;", "<" -> "&lt;", ">" -> "&gt;", '"' -> "&quot;", CR LF -> "<br/>".
std::string EncodeEntities(std::string_view text);

// Repeated decoding of an element's joined text. Each text token decodes once when it joins
// and once more for every later token joined to the same element. Since no entity spans the
// CR LF of a join, the text is kept as pieces; a piece that decodes to itself is final, and a
// piece that is not is advanced one pass per join at a cost proportional to the replacements
// made, so the whole text costs linear time however deeply its entities are nested.
class TJoinedText {
public:
  TJoinedText();
  ~TJoinedText();
  TJoinedText(TJoinedText&&) noexcept;
  TJoinedText& operator=(TJoinedText&&) noexcept;

  void Clear();
  bool Empty() const { return pieces_.empty(); }
  // The text holds only characters of 32 or less (true for no text).
  bool IsBlank() const { return nonBlank_ == 0; }
  // Joins one text token: the element's text becomes the decoding of (text, CR LF, token),
  // or of the token alone when the text is blank. stableToken: the token's bytes stay valid
  // until the text is taken.
  void Join(std::string_view token, bool stableToken);
  // True when the text is a single view that needs no copy.
  bool SingleView(std::string_view& view) const;
  // Appends the whole text to out.
  void AppendTo(std::string& out) const;
  std::size_t Size() const;

private:
  struct TCascade;
  struct TPiece {
    std::string_view view; // into the token, own_ or cascade output
    std::string own;
    std::unique_ptr<TCascade> cascade; // set while the piece may still change
  };
  void AdvanceCascades();

  std::vector<TPiece> pieces_;
  std::vector<std::size_t> unstable_; // indexes of pieces with a cascade
  std::size_t nonBlank_ = 0;
};

} // namespace scv::xml

// Office Open XML packages (docx, xlsx, pptx) to text: the package driver, which reads each
// part through the streaming walkers (or the tree when they give up) and stores the text.
#include "ooxml/OfficeXCvt.h"

#include "bytes/FormatError.h"
#include "bytes/MemoryStream.h"
#include "codecs/Inflate.h"
#include "ooxml/AllTextParts.h"
#include "ooxml/StreamSinks.h"
#include "ooxml/WalkSupport.h"
#include "ooxml/WorkbookAllText.h"
#include "platform/CodePage.h"
#include "platform/FileIo.h"
#include "platform/Memory.h"
#include "storage/CfbReader.h"
#include "storage/MappedFile.h"
#include "xml/XMLBuild.h"
#include "xml/XMLParser.h"
#include "xml/XMLTagParams.h"
#include "zip/ZipEntries.h"
#include "zip/ZipReader.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace scv::ooxml {

std::size_t gOfficeXTextLimit = kDefaultOfficeXTextLimit;

void ThrowTextTooLarge(std::size_t size) {
  throw bytes::EFormatError("text", size,
                            "grows beyond " + std::to_string(gOfficeXTextLimit) + " bytes");
}

namespace {

bool gAllText = false;

// Largest part read into memory; a larger entry counts as not extracted.
std::uint64_t gPartLimit = std::uint64_t{1} << 30;
std::size_t gPieceSize = codecs::TInflateStream::kDefaultPieceSize;
std::size_t gNotesAheadFrom = kNotesAheadFrom;
// A part read whole into the tree, or an entry decoded whole, may hold this many bytes per
// byte of the archive, and at least the floor: the tree costs up to about 16 bytes per byte
// of markup.
constexpr std::uint64_t kTreeCeilingFloor = std::uint64_t{16} << 20;
constexpr std::uint64_t kTreeCeilingPerByte = 16;
// What a streaming walk may hold beyond its output, in bytes per byte of the archive and at
// least the floor: the shared-string list (texts and 16 bytes for each), one token, and the
// open elements (about kOpenElementBytes each). More fails the conversion.
constexpr std::uint64_t kWalkCeilingFloor = std::uint64_t{64} << 20;
constexpr std::uint64_t kWalkCeilingPerByte = 64;
constexpr std::uint64_t kOpenElementBytes = 128;

// The module-wide objects: one ZIP reader, one document with its forwarder, the shared
// strings, and the compact tree parts are read into.
struct TOfficeXModule {
  zip::TZipReader zip;
  // Most bytes of a part read whole into the tree (see ReadPart).
  std::uint64_t treeCeiling = 0;
  // Most bytes a streaming walk may hold beyond its output (see kWalkCeilingFloor).
  std::uint64_t walkCeiling = 0;
  xml::TXMLParser document;
  xml::TXMLGhost ghost;
  TSharedStrings sharedStrings;
  xml::TXMLTree tree;

  TOfficeXModule() { ghost.SetPrimaryDocument(&document); }
  ~TOfficeXModule() { ghost.SetPrimaryDocument(nullptr); }
  TOfficeXModule(const TOfficeXModule&) = delete;
  TOfficeXModule& operator=(const TOfficeXModule&) = delete;
};

std::unique_ptr<TOfficeXModule>& ModuleSlot() {
  static std::unique_ptr<TOfficeXModule> module;
  return module;
}

TOfficeXModule& Module() {
  auto& slot = ModuleSlot();
  if (!slot) {
    slot = std::make_unique<TOfficeXModule>();
  }
  return *slot;
}

} // namespace

void TSharedStrings::Add(std::string_view text) {
  spans_.emplace_back(bytes_.size(), text.size());
  bytes_.append(text);
}

const TSharedStrings& SharedStrings() {
  return Module().sharedStrings;
}

void SetOfficeXTextLimit(std::size_t limit) {
  gOfficeXTextLimit = limit;
}
void SetOfficeXAllText(bool on) {
  gAllText = on;
}
bool OfficeXAllText() {
  return gAllText;
}
void SetOfficeXPartLimit(std::uint64_t limit) {
  gPartLimit = limit;
}
void SetOfficeXNotesAheadFrom(std::size_t slides) {
  gNotesAheadFrom = slides;
}

void SetOfficeXPieceSize(std::size_t size) {
  gPieceSize = size;
}

namespace {

// The bytes of a part, a piece at a time: the entries of a first name and, when none of them
// extracted completely, those of a second name behind them (the bytes of entries that fail
// stay, as whole extraction keeps them).
class TPartPieces final : public xml::TXMLPieceSource {
public:
  TPartPieces(zip::TZipReader& zip, std::string_view first, std::string_view second)
      : zip_(zip), second_(second) {
    Guard([&] { zip_.OpenPart(first); });
  }
  ~TPartPieces() override { zip_.ClosePart(); }
  TPartPieces(const TPartPieces&) = delete;
  TPartPieces& operator=(const TPartPieces&) = delete;

  std::string_view NextPiece() override {
    std::span<const std::uint8_t> piece;
    Guard([&] {
      piece = zip_.NextPiece();
      while (piece.empty() && !second_.empty()) {
        const std::string_view next = second_;
        second_ = {};
        if (zip_.PartExtracted() != 0) {
          break;
        }
        zip_.OpenPart(next);
        piece = zip_.NextPiece();
      }
    });
    size_ += piece.size();
    return {reinterpret_cast<const char*>(piece.data()), piece.size()};
  }
  // Reads what the walk left, so that every entry's outcome is known.
  void Finish() {
    while (!NextPiece().empty()) {
    }
  }
  // After Finish: an entry of the name read last (the second only when the first had none)
  // extracted completely.
  bool Found() const { return zip_.PartExtracted() > 0; }
  bool Empty() const { return size_ == 0; }
  std::size_t RoomBefore() const override { return zip_.PieceRoomBefore(); }
  // What the part's entry states it decodes to, bounded as the archive bounds it.
  std::uint64_t SizeHint() const { return zip_.PartSizeHint(); }
  // The archive itself failed (the failure is the conversion's, not the walk's).
  bool Failed() const { return failed_; }

private:
  template <typename F> void Guard(F f) {
    try {
      f();
    } catch (...) {
      failed_ = true;
      throw;
    }
  }

  zip::TZipReader& zip_;
  std::string_view second_;
  std::uint64_t size_ = 0;
  bool failed_ = false;
};

// One part read: whether an entry of it extracted completely, whether it had bytes at all,
// and its text (meaningful only when found and not empty).
struct TPartRead {
  bool found = false;
  bool empty = true;
  std::string text;
};

// Reads a part (the second name only when the first extracts nothing) as it streams by,
// through the sink. The shapes the streaming walk gives up on are extracted whole and read
// into the tree by treeText instead. A part none of whose entries extracts completely does
// not count, so the walk's own failures matter only for a part that is found.
template <typename Sink, typename TreeText>
TPartRead ReadPart(TOfficeXModule& m, std::string_view first, std::string_view second, Sink& sink,
                   TreeText treeText) {
  TPartRead read;
  {
    TPartPieces pieces(m.zip, first, second);
    if constexpr (requires { sink.ReserveText(std::uint64_t{}); }) {
      sink.ReserveText(std::min(pieces.SizeHint(), m.walkCeiling));
    }
    bool needTree = false;
    try {
      xml::TXMLLargeTokenizer tok(pieces, m.walkCeiling);
      needTree = !xml::BuildTree(tok, sink, m.walkCeiling / kOpenElementBytes);
      if (!needTree) {
        read.text = sink.Finish();
      }
    } catch (...) {
      if (pieces.Failed()) {
        throw;
      }
      const std::exception_ptr walkError = std::current_exception();
      pieces.Finish();
      if (pieces.Found()) {
        std::rethrow_exception(walkError);
      }
      return read;
    }
    if (!needTree) {
      pieces.Finish();
      read.found = pieces.Found();
      read.empty = pieces.Empty();
      return read;
    }
  }
  // The tree costs many times the markup it holds, so the part is read whole only up to a
  // ceiling set by the input's size; a larger part found complete fails the conversion.
  bytes::TMemoryStream stream;
  bool overCeiling = false;
  {
    TPartPieces pieces(m.zip, first, second);
    for (std::string_view piece = pieces.NextPiece(); !piece.empty(); piece = pieces.NextPiece()) {
      if (piece.size() > m.treeCeiling - std::min<std::uint64_t>(stream.Size(), m.treeCeiling)) {
        overCeiling = true;
        stream.Release();
        pieces.Finish();
        break;
      }
      stream.Write(piece.data(), piece.size());
    }
    read.found = pieces.Found();
    read.empty = pieces.Empty();
  }
  read.text.clear();
  if (read.found && overCeiling) {
    throw bytes::EFormatError(first, m.treeCeiling,
                              "too large to read whole (a tree of it would exceed the ceiling)");
  }
  if (read.found && !read.empty) {
    m.tree.Clear();
    xml::LoadXMLTree(std::string_view(reinterpret_cast<const char*>(stream.Data()), stream.Size()),
                     m.tree, m.walkCeiling / kOpenElementBytes,
                     sink.PreservingName()); // the tree keeps views into it
    read.text = treeText(m.tree);
    m.tree.Clear();
  }
  return read;
}

void ReadSharedStrings(TOfficeXModule& m) {
  TSharedStrings& strings = m.sharedStrings;
  strings.Clear();
  TSharedStringSink sink(strings, m.walkCeiling);
  const TPartRead read =
      ReadPart(m, "xl\\sharedStrings.xml", {}, sink, [&](const xml::TXMLTree& tree) {
        SharedStringsFromTree(tree, strings);
        return std::string();
      });
  if (!read.found || read.empty) {
    strings.Clear();
  }
}

// The texts of a package's sheets or slides, each behind its header line, joined once at the
// end into a buffer of the exact size (with room for the byte-order mark in front): appending
// them one by one would double the buffer as it grows, and briefly hold both copies.
class TPageTexts {
  // Freed text is given back to the system after this much, while the result fills.
  static constexpr std::size_t kReleaseEvery = std::size_t{2} << 20;

public:
  void Add(std::string_view header, std::size_t number, std::string text) {
    std::string line(header);
    line.append(std::to_string(number)).append(":\r\n");
    const std::size_t more = line.size() + text.size();
    CheckGrowth(size_, more);
    size_ += more;
    if (text.capacity() - text.size() > text.size() / 8) {
      text.shrink_to_fit(); // the slack of its growth would otherwise stay until the join
    }
    parts_.push_back(std::move(line));
    parts_.push_back(std::move(text));
  }
  // UTF-8 output: the mark and the texts straight into the result, each text given back once
  // stored, so that the texts and the result are never both held whole. The writer's room is
  // what it could need if every byte were a line end to widen (it never moves then; room that
  // is never written costs nothing).
  std::int32_t MoveToResult(TLineEndStyle style, TConversionResult& result) {
    TAdjustedResultWriter writer("\xEF\xBB\xBF", style, 2 * size_ + 4, result);
    std::size_t freed = 0;
    for (std::string& part : parts_) {
      writer.Append(part);
      freed += part.capacity();
      std::string().swap(part);
      if (freed >= kReleaseEvery) {
        platform::ReleaseFreedMemory(); // the result is a mapping of its own: it cannot reuse them
        freed = 0;
      }
    }
    parts_.clear();
    const std::int32_t length = writer.Finish();
    return length != 0 ? length : AppendAdjustedToResult("\xEF\xBB\xBF", "", style, result);
  }
  std::string Join() {
    std::string text;
    text.reserve(size_);
    platform::AdviseLargeBuffer(text.data(), text.capacity());
    for (std::string& part : parts_) {
      text.append(part);
      std::string().swap(part);
    }
    parts_.clear();
    return text;
  }

private:
  std::vector<std::string> parts_;
  std::size_t size_ = 0;
};

// Reads one worksheet or slide part and adds its header and text; false when no entry of it
// extracted.
bool ReadPagePart(TOfficeXModule& m, TPageTexts& texts, const std::string& name,
                  std::string_view header, std::size_t number, bool sheets) {
  m.ghost.Clear();
  m.tree.Clear();
  TPartRead read;
  if (sheets) {
    TSheetSink sink(m.sharedStrings);
    read = ReadPart(m, name, {}, sink,
                    [&](const xml::TXMLTree& t) { return SheetPartText(t, m.sharedStrings); });
  } else {
    TTextSink sink(false, 0);
    read = ReadPart(m, name, {}, sink, [](const xml::TXMLTree& t) { return SlidePartText(t); });
  }
  if (!read.found) {
    return false;
  }
  if (!read.empty) {
    texts.Add(header, number, std::move(read.text));
  }
  return true;
}

// Worksheets or slides: every number below the archive's entry count, in ascending order.
bool ReadNumberedParts(TOfficeXModule& m, TPageTexts& texts, std::string_view prefix,
                       std::string_view header, bool sheets) {
  bool missing = true;
  const std::size_t count = m.zip.Count();
  std::string name;
  for (std::size_t n = 0; n < count; ++n) {
    name.assign(prefix).append(std::to_string(n)).append(".xml");
    if (ReadPagePart(m, texts, name, header, n, sheets)) {
      missing = false;
    }
  }
  return missing;
}

bool EndsWithFolded(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         xml::SameTextAscii(text.substr(text.size() - suffix.size()), suffix);
}

// Worksheets under other names, for workbooks without a "sheet<N>.xml": every part directly
// under xl\worksheets\ whose name ends in ".xml", in name order (ignoring case), numbered 1,
// 2, ... as they extract.
bool ReadOtherSheets(TOfficeXModule& m, TPageTexts& texts) {
  std::vector<std::string> names;
  for (const zip::TZipEntry& entry : m.zip.Entries()) {
    const std::string& file = entry.fileName;
    // Names with wildcard characters would select other entries too.
    if (xml::SameTextAscii(entry.path, "xl\\worksheets\\") && file.size() > 4 &&
        EndsWithFolded(file, ".xml") && file.find_first_of("*?") == std::string::npos) {
      names.push_back(entry.FullName());
    }
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const auto fold = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; };
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) {
          return fold(static_cast<unsigned char>(x)) < fold(static_cast<unsigned char>(y));
        });
  });
  // Names that differ only in case name one part.
  names.erase(std::unique(names.begin(), names.end(),
                          [](const std::string& a, const std::string& b) {
                            return xml::SameTextAscii(a, b);
                          }),
              names.end());
  bool missing = true;
  std::size_t number = 0;
  for (const std::string& name : names) {
    if (ReadPagePart(m, texts, name, "sheet", number + 1, true)) {
      missing = false;
      ++number;
    }
  }
  return missing;
}

// The package as the all-text walks see it: parts by name (ignoring case, as the archive
// reader selects entries), read through the module's archive with the streaming walk (or the
// tree), small parts read whole into a tree.
class TModulePackage final : public TPackageAccess {
public:
  explicit TModulePackage(TOfficeXModule& m) : m_(m) {
    for (const zip::TZipEntry& entry : m_.zip.Entries()) {
      names_.insert(FoldedPartName(entry.FullName()));
    }
  }

  // Part names select entries ignoring case, as the archive reader matches them.
  bool HasPart(std::string_view name) const override {
    return names_.find(FoldedPartName(name)) != names_.end();
  }
  bool ReadStory(std::string_view first, std::string_view second, bool word, TStoryRules& rules,
                 std::string& text) override {
    m_.ghost.Clear();
    m_.tree.Clear();
    TStorySink sink(word, rules);
    TPartRead read = ReadPart(m_, first, second, sink, [&](const xml::TXMLTree& t) {
      return StoryTreeText(t, word, rules);
    });
    if (!read.found) {
      return false;
    }
    text = read.empty ? std::string() : std::move(read.text);
    return true;
  }
  bool ReadTree(std::string_view name, std::string& bytes, xml::TXMLTree& tree) override {
    bytes.clear();
    tree.Clear();
    if (!HasPart(name)) {
      return false;
    }
    bool over = false;
    bool found = false;
    {
      TPartPieces pieces(m_.zip, name, {});
      for (std::string_view piece = pieces.NextPiece(); !piece.empty();
           piece = pieces.NextPiece()) {
        if (piece.size() > m_.treeCeiling - std::min<std::uint64_t>(bytes.size(), m_.treeCeiling)) {
          over = true;
          pieces.Finish();
          break;
        }
        bytes.append(piece);
      }
      found = pieces.Found();
    }
    if (!found || over || bytes.empty()) {
      bytes.clear();
      return false;
    }
    xml::LoadXMLTree(bytes, tree, m_.walkCeiling / kOpenElementBytes);
    return true;
  }

  std::unique_ptr<TPackageAccess> Fork() const override;

private:
  TOfficeXModule& m_;
  std::unordered_set<std::string> names_;
};

// The package through a module of its own, for another thread: it reads the archive's
// directory again when opened and serves only if it found the archive the first module read.
class TForkedPackage final : public TPackageAccess {
public:
  TForkedPackage(const TOfficeXModule& m, zip::TZipReader::TIdentity identity)
      : name_(m.zip.ZipName()), identity_(identity), treeCeiling_(m.treeCeiling),
        walkCeiling_(m.walkCeiling) {}

  bool Open() override {
    try {
      own_.zip.SetEntrySizeLimit(gPartLimit);
      own_.zip.SetPieceSize(gPieceSize);
      own_.zip.SetZipName(name_);
      own_.zip.ReadZip();
    } catch (...) {
      return false;
    }
    if (own_.zip.Identity() != identity_) {
      return false;
    }
    own_.treeCeiling = treeCeiling_;
    own_.walkCeiling = walkCeiling_;
    own_.zip.SetWholeEntryLimit(treeCeiling_);
    package_ = std::make_unique<TModulePackage>(own_);
    return true;
  }
  bool HasPart(std::string_view name) const override { return package_->HasPart(name); }
  bool ReadStory(std::string_view first, std::string_view second, bool word, TStoryRules& rules,
                 std::string& text) override {
    return package_->ReadStory(first, second, word, rules, text);
  }
  bool ReadTree(std::string_view name, std::string& bytes, xml::TXMLTree& tree) override {
    return package_->ReadTree(name, bytes, tree);
  }

private:
  const std::u16string name_;
  const zip::TZipReader::TIdentity identity_;
  const std::uint64_t treeCeiling_;
  const std::uint64_t walkCeiling_;
  TOfficeXModule own_;
  std::unique_ptr<TModulePackage> package_;
};

std::unique_ptr<TPackageAccess> TModulePackage::Fork() const {
  const std::optional<zip::TZipReader::TIdentity> identity = m_.zip.Identity();
  if (!identity) {
    return nullptr;
  }
  return std::make_unique<TForkedPackage>(m_, *identity);
}

// A password-protected package: a compound file whose root holds an "EncryptedPackage" stream.
bool IsEncryptedPackage(const std::u16string& fileName) {
  std::span<const std::uint8_t> bytes;
  const std::shared_ptr<const void> owner = storage::LoadInputFile(fileName, bytes);
  static constexpr std::uint8_t kMagic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  if (owner == nullptr || bytes.size() < sizeof(kMagic) ||
      !std::equal(std::begin(kMagic), std::end(kMagic), bytes.begin())) {
    return false;
  }
  try {
    const std::shared_ptr<storage::TCfbFile> file = storage::TCfbFile::Open(owner, bytes);
    for (const std::u16string& name : file->RootEntryNames()) {
      if (name == u"EncryptedPackage") {
        return true;
      }
    }
  } catch (const bytes::EFormatError&) {
    // Not a compound file that can be read: a format error like any other non-archive.
  }
  return false;
}

// A CR not followed by LF, or an LF not preceded by CR.
bool HasLoneLineBreak(std::string_view text) {
  std::size_t i = 0;
  while (true) {
    const std::size_t cr = text.find('\r', i);
    const std::size_t lf = text.find('\n', i);
    if (cr == std::string_view::npos && lf == std::string_view::npos) {
      return false;
    }
    if (lf < cr || cr + 1 >= text.size() || text[cr + 1] != '\n') {
      return true;
    }
    i = cr + 2;
  }
}

// The package as the all-text workbook reads it: small parts loaded whole into a tree (their
// bytes kept while the trees live), worksheets streamed through the all-text layout.
class TWorkbookParts final : public TWorkbookPackage {
public:
  explicit TWorkbookParts(TOfficeXModule& m) : m_(m) {}

  bool LoadPart(std::string_view name, xml::TXMLTree& tree) override {
    tree.Clear();
    std::string& bytes = held_.emplace_back();
    bool found = false;
    {
      TPartPieces pieces(m_.zip, name, {});
      for (std::string_view piece = pieces.NextPiece(); !piece.empty();
           piece = pieces.NextPiece()) {
        if (piece.size() > m_.treeCeiling - std::min<std::uint64_t>(bytes.size(), m_.treeCeiling)) {
          pieces.Finish();
          return false; // too large for a part of this kind: read as absent
        }
        bytes.append(piece);
      }
      found = pieces.Found() && !pieces.Empty();
    }
    if (!found) {
      return false;
    }
    try {
      xml::LoadXMLTree(bytes, tree, m_.walkCeiling / kOpenElementBytes);
    } catch (const bytes::EFormatError&) {
      tree.Clear();
      return false; // no XML that can be read: as if it were absent
    }
    return true;
  }
  bool ReadSheet(std::string_view name, const TWorkbookCells& cells, std::string& text) override {
    m_.ghost.Clear();
    m_.tree.Clear();
    TSheetSinkOf<TAllTextLayout> sink(cells);
    TPartRead read = ReadPart(
        m_, name, {}, sink, [&](const xml::TXMLTree& t) { return AllTextSheetFromTree(t, cells); });
    if (read.found && !read.empty) {
      text = std::move(read.text);
    }
    return read.found;
  }
  const TSharedStrings& Shared() const override { return m_.sharedStrings; }
  std::vector<std::string> EntryNames() const override {
    std::vector<std::string> names;
    for (const zip::TZipEntry& entry : m_.zip.Entries()) {
      names.push_back(entry.FullName());
    }
    return names;
  }

private:
  TOfficeXModule& m_;
  std::deque<std::string> held_;
};

std::int32_t Convert(const std::u16string& fileName, TConversionResult& result,
                     std::int32_t lineEndOption, std::int32_t packageKind, std::int32_t codePage) {
  const std::string path = platform::WideToPath(fileName);
  if (!platform::FileExists(path) || platform::IsDirectory(path)) {
    return kResultNotFound;
  }
  TOfficeXModule& m = Module();
  try {
    m.zip.SetEntrySizeLimit(gPartLimit);
    m.zip.SetPieceSize(gPieceSize);
    m.zip.SetZipName(fileName);
    m.zip.ReadZip();
  } catch (...) {
    return kResultOpenError;
  }
  m.treeCeiling = std::max(kTreeCeilingFloor, kTreeCeilingPerByte * m.zip.ArchiveSize());
  m.zip.SetWholeEntryLimit(m.treeCeiling); // entries of the legacy methods are decoded whole
  m.walkCeiling = std::max(kWalkCeilingFloor, kWalkCeilingPerByte * m.zip.ArchiveSize());
  if (m.zip.Count() == 0) {
    return IsEncryptedPackage(fileName) ? kResultEncrypted : kResultBadFormat;
  }
  std::string text;
  bool missing = false;
  {
    switch (packageKind) {
    case kPackageDocument: {
      if (gAllText) {
        // The body, then the other stories of the document.
        TModulePackage package(m);
        TStoryRules rules(TStoryKind::kBody);
        missing =
            !package.ReadStory("word\\document.xml", "word\\wordDocument.xml", true, rules, text);
        std::unordered_set<std::string> done{"word\\document.xml"};
        if (!missing) {
          AppendDocumentStories(package, rules, done, text);
        }
        break;
      }
      // The second name is read only when the first extracts nothing, behind whatever bytes
      // the first left.
      TTextSink sink(true, 0);
      TPartRead read = ReadPart(m, "word\\document.xml", "word\\wordDocument.xml", sink,
                                [](const xml::TXMLTree& t) { return WordPartText(t); });
      missing = !read.found;
      text = std::move(read.text);
      break;
    }
    case kPackageWorkbook: {
      ReadSharedStrings(m);
      if (OfficeXAllText()) {
        TWorkbookParts parts(m);
        missing = !WorkbookAllText(parts, m.tree, text);
        break;
      }
      TPageTexts texts;
      missing = ReadNumberedParts(m, texts, "xl\\worksheets\\sheet", "sheet", true);
      if (missing) {
        missing = ReadOtherSheets(m, texts);
      }
      m.sharedStrings.Release(); // read by the sheets alone
      if (!missing && codePage == platform::kCpUtf8) {
        return texts.MoveToResult(LineEndStyleFromOption(lineEndOption), result);
      }
      text = texts.Join();
      break;
    }
    case kPackagePresentation: {
      if (gAllText) {
        // The slides in the presentation's order and their notes; a presentation part that
        // lists no slide leaves the slides by part name, as without the mode.
        TModulePackage package(m);
        if (PresentationText(package, text, gNotesAheadFrom)) {
          break;
        }
        text.clear();
      }
      TPageTexts texts;
      missing = ReadNumberedParts(m, texts, "ppt\\slides\\slide", "slide", false);
      if (!missing && codePage == platform::kCpUtf8) {
        return texts.MoveToResult(LineEndStyleFromOption(lineEndOption), result);
      }
      text = texts.Join();
      break;
    }
    default:
      missing = true;
    }
  }
  if (missing) {
    return kResultBadFormat;
  }
  const TLineEndStyle style = LineEndStyleFromOption(lineEndOption);
  if (codePage == platform::kCpUtf8) {
    // The mark and the adjusted text go straight into the result, without a copy of either.
    return AppendAdjustedToResult("\xEF\xBB\xBF", text, style, result);
  }
  std::string adjusted;
  if (style == kLineEndCrLf && !HasLoneLineBreak(text)) {
    adjusted.swap(text); // already CR LF throughout: normalising would copy it unchanged
  } else {
    adjusted = AdjustLineEnds(text, style);
    std::string().swap(text);
  }
  std::string output;
  if (!EncodeOfficeXText(adjusted, codePage, output)) {
    return kResultBadUtf8;
  }
  std::string().swap(adjusted);
  if (output.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) - 1) {
    return kResultBadFormat;
  }
  return AppendToResult(output, result);
}

} // namespace

std::int32_t OfficeXToText(const std::u16string& fileName, TConversionResult& result,
                           std::int32_t lineEndOption, std::int32_t packageKind,
                           std::int32_t codePage) {
  try {
    return Convert(fileName, result, lineEndOption, packageKind, codePage);
  } catch (...) {
    // A part that cannot be read (a stored entry ending early, a number that is none, text
    // beyond the limit, memory exhaustion) ends the extraction.
    if (ModuleSlot()) {
      ModuleSlot()->tree.Clear();
    }
    return kResultBadFormat;
  }
}

std::int32_t DocxToText(const std::u16string& fileName, std::int32_t /*byteLimit*/,
                        TConversionResult& result, std::int32_t codePage) {
  return OfficeXToText(fileName, result, 0, kPackageDocument, codePage);
}
std::int32_t XlsxToText(const std::u16string& fileName, std::int32_t /*byteLimit*/,
                        TConversionResult& result, std::int32_t codePage) {
  return OfficeXToText(fileName, result, 0, kPackageWorkbook, codePage);
}
std::int32_t PptxToText(const std::u16string& fileName, std::int32_t /*byteLimit*/,
                        TConversionResult& result, std::int32_t codePage) {
  return OfficeXToText(fileName, result, 0, kPackagePresentation, codePage);
}

void InitializeOfficeX() {
  Module();
}

void FinalizeOfficeX() {
  ModuleSlot().reset();
}

} // namespace scv::ooxml

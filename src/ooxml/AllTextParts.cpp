// The all-text mode of documents and presentations: relationships, the stories in the order a
// 97-2003 file keeps them, and the tree walk of a story part.
#include "ooxml/AllTextParts.h"

#include "bytes/FormatError.h"
#include "ooxml/SheetLayout.h"
#include "ooxml/WalkSupport.h"
#include "xml/XMLTagParams.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

namespace scv::ooxml {

bool TStoryRules::NeedsAttributes(std::string_view name) const {
  switch (kind_) {
  case TStoryKind::kBody:
    return name == "w:headerReference" || name == "w:footerReference";
  case TStoryKind::kNotes:
    return name == "w:footnote" || name == "w:endnote";
  case TStoryKind::kNotesPage:
    return name == "p:ph" || name == "a:fld";
  case TStoryKind::kPlain:
    break;
  }
  return false;
}

std::string StoryTreeText(const xml::TXMLTree& tree, bool word, TStoryRules& rules) {
  rules.Reset();
  std::string text;
  if (tree.NodeCount() == 0) {
    return text;
  }
  const TCompactAccess access{tree};
  std::size_t depth = 0;
  Walk(
      access, xml::TXMLTree::Root(),
      [&](auto n) {
        ++depth;
        const std::string_view name = access.Name(n);
        rules.Open(name, depth, text.size(),
                   [&](std::string_view attribute) { return access.ParamValue(n, attribute); });
        AppendElementText(access, n, name, word, text);
      },
      [&](auto n) {
        if (access.Name(n) == (word ? "w:p" : "a:p")) {
          CheckGrowth(text, 2);
          text += "\r\n";
        }
        rules.Close(depth, text);
        --depth;
      });
  return text;
}

std::string ResolveTarget(std::string_view part, std::string_view target) {
  if (target.empty() || target.find_first_of("*?") != std::string_view::npos) {
    return {};
  }
  std::vector<std::string_view> segments;
  if (target.front() != '/') {
    // The folder of the part that holds the relationship.
    std::string_view folder = part.substr(0, part.find_last_of('\\') + 1);
    while (!folder.empty()) {
      const std::size_t end = folder.find('\\');
      if (end != 0) {
        segments.push_back(folder.substr(0, end));
      }
      folder.remove_prefix(end + 1);
    }
  }
  std::string_view rest = target;
  while (!rest.empty()) {
    const std::size_t end = rest.find_first_of("/\\");
    const std::string_view segment = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (segment.empty() || segment == ".") {
      continue;
    }
    if (segment == "..") {
      if (segments.empty()) {
        return {}; // outside the package
      }
      segments.pop_back();
      continue;
    }
    segments.push_back(segment);
  }
  std::string name;
  for (const std::string_view segment : segments) {
    name.append(name.empty() ? "" : "\\").append(segment);
  }
  return name;
}

std::string FoldedPartName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  }
  return folded;
}

std::vector<TRelationship> ReadRelationships(TPackageAccess& package, std::string_view part) {
  std::vector<TRelationship> relationships;
  const std::size_t slash = part.find_last_of('\\') + 1;
  std::string name(part.substr(0, slash));
  name.append("_rels\\").append(part.substr(slash)).append(".rels");
  std::string bytes;
  xml::TXMLTree tree;
  try {
    if (!package.ReadTree(name, bytes, tree) || tree.NodeCount() == 0) {
      return relationships;
    }
  } catch (const bytes::EFormatError&) {
    return relationships; // damaged: as if missing
  }
  for (std::uint32_t n = tree.Node(xml::TXMLTree::Root()).firstChild; n != xml::TXMLTree::kNone;
       n = tree.Node(n).nextSibling) {
    const xml::TXMLTree::TNode& node = tree.Node(n);
    if (LocalName(node.name) != "Relationship") {
      continue;
    }
    TRelationship r;
    r.id.assign(tree.ParamValue(node, "Id"));
    r.type.assign(tree.ParamValue(node, "Type"));
    if (!xml::SameTextAscii(tree.ParamValue(node, "TargetMode"), "External")) {
      r.part = ResolveTarget(part, tree.ParamValue(node, "Target"));
    }
    relationships.push_back(std::move(r));
  }
  return relationships;
}

namespace {

// The relationship type's last segment ("http://.../relationships/footnotes" -> "footnotes"),
// so that the transitional and the strict spellings read alike.
std::string_view TypeName(std::string_view type) {
  return type.substr(type.find_last_of('/') + 1);
}

// The first relationship of a type, or null.
const TRelationship* FirstOfType(const std::vector<TRelationship>& relationships,
                                 std::string_view type) {
  for (const TRelationship& r : relationships) {
    if (TypeName(r.type) == type) {
      return &r;
    }
  }
  return nullptr;
}

// Reads a story part and appends its text; a damaged one (its markup broken, its entry cut
// short, its text or tree over the ceilings) is skipped.
void AppendPart(TPackageAccess& package, const std::string& part, bool word, TStoryKind kind,
                std::string& text) {
  TStoryRules rules(kind);
  std::string story;
  bool read = false;
  try {
    read = package.ReadStory(part, {}, word, rules, story);
  } catch (const bytes::EFormatError&) {
    read = false;
  }
  if (read) {
    CheckGrowth(text, story.size());
    text += story;
  }
}

// Reads a story part not read before and appends its text; a missing part is skipped, and so
// is a damaged one (its markup broken, its entry cut short, its text or tree over the
// ceilings): a footnote part should not cost the body its text.
void AppendStory(TPackageAccess& package, const TRelationship* relationship, bool word,
                 TStoryKind kind, std::unordered_set<std::string>& done, std::string& text) {
  if (relationship == nullptr || relationship->part.empty() ||
      !package.HasPart(relationship->part) ||
      !done.insert(FoldedPartName(relationship->part)).second) {
    return;
  }
  AppendPart(package, relationship->part, word, kind, text);
}

// What the second thread read: a slide's relationships, and a notes page's text. A failure is
// kept to be raised where reading it on this thread would have raised it.
struct TSlideAhead {
  std::vector<TRelationship> relationships;
  std::exception_ptr error;
};
struct TNotesPageAhead {
  bool read = false; // an entry of it extracted
  std::string story;
  std::exception_ptr error;
};

// Reads the relationships of each slide in turn, and each notes page they name (once however
// many name it), on a second thread through a fork of the package, while this thread reads
// the slides themselves.
class TNotesReader {
public:
  // slides: distinct part names.
  TNotesReader(const TPackageAccess& package, std::vector<std::string> slides)
      : slides_(std::move(slides)), results_(slides_.size()), fork_(package.Fork()) {
    if (fork_ == nullptr) {
      return;
    }
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      // No second thread: the notes are read as the slides come.
    }
  }
  ~TNotesReader() {
    if (thread_.joinable()) {
      {
        const std::lock_guard lock(mutex_);
        stop_ = true;
      }
      thread_.join();
    }
  }
  TNotesReader(const TNotesReader&) = delete;
  TNotesReader& operator=(const TNotesReader&) = delete;

  // Slide i's relationships, once read; null when the second thread cannot give them.
  TSlideAhead* Slide(std::size_t i) {
    if (!thread_.joinable()) {
      return nullptr;
    }
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return done_ > i || finished_; });
    return done_ > i ? &results_[i] : nullptr;
  }
  // A notes page that relationships given by Slide name, taken out; empty if it was not read.
  std::optional<TNotesPageAhead> TakePage(const std::string& folded) {
    const std::lock_guard lock(mutex_);
    const auto page = pages_.find(folded);
    if (page == pages_.end() || page->second.taken) {
      return std::nullopt;
    }
    page->second.taken = true;
    return std::move(page->second.page);
  }

private:
  struct TPageSlot {
    TNotesPageAhead page;
    bool taken = false;
  };

  void Run() {
    bool opened = false;
    try {
      opened = fork_->Open();
    } catch (...) {
      opened = false;
    }
    for (std::size_t i = 0; opened && i < slides_.size(); ++i) {
      {
        const std::lock_guard lock(mutex_);
        if (stop_) {
          break;
        }
      }
      ReadOne(slides_[i], results_[i]);
      {
        const std::lock_guard lock(mutex_);
        ++done_;
      }
      ready_.notify_all();
    }
    {
      const std::lock_guard lock(mutex_);
      finished_ = true;
    }
    ready_.notify_all();
  }

  void ReadOne(const std::string& slide, TSlideAhead& out) {
    try {
      out.relationships = ReadRelationships(*fork_, slide);
    } catch (...) {
      out.error = std::current_exception();
      return;
    }
    const TRelationship* page = FirstOfType(out.relationships, "notesSlide");
    if (page == nullptr || page->part.empty() || !fork_->HasPart(page->part)) {
      return;
    }
    std::string folded = FoldedPartName(page->part);
    {
      const std::lock_guard lock(mutex_);
      if (pages_.contains(folded)) {
        return; // read for an earlier slide
      }
    }
    TNotesPageAhead read;
    TStoryRules rules(TStoryKind::kNotesPage);
    try {
      read.read = fork_->ReadStory(page->part, {}, false, rules, read.story);
    } catch (const bytes::EFormatError&) {
      read.read = false;
    } catch (...) {
      read.error = std::current_exception();
    }
    const std::lock_guard lock(mutex_);
    pages_[std::move(folded)].page = std::move(read);
  }

  const std::vector<std::string> slides_;
  // results_[i] is the second thread's until done_ passes i, then the caller's.
  std::vector<TSlideAhead> results_;
  std::unique_ptr<TPackageAccess> fork_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::unordered_map<std::string, TPageSlot> pages_; // folded names; under mutex_
  std::size_t done_ = 0;
  bool finished_ = false;
  bool stop_ = false;
  std::thread thread_; // last: started once everything it uses exists
};

} // namespace

void AppendDocumentStories(TPackageAccess& package, const TStoryRules& bodyRules,
                           std::unordered_set<std::string>& done, std::string& text) {
  const std::vector<TRelationship> relationships = ReadRelationships(package, "word\\document.xml");
  AppendStory(package, FirstOfType(relationships, "footnotes"), true, TStoryKind::kNotes, done,
              text);
  // Headers and footers in the order the sections name them.
  std::unordered_map<std::string_view, const TRelationship*> byId;
  for (const TRelationship& r : relationships) {
    byId.emplace(r.id, &r);
  }
  for (const std::string& id : bodyRules.ReferenceIds()) {
    const auto found = byId.find(id);
    if (found != byId.end() &&
        (TypeName(found->second->type) == "header" || TypeName(found->second->type) == "footer")) {
      AppendStory(package, found->second, true, TStoryKind::kPlain, done, text);
    }
  }
  AppendStory(package, FirstOfType(relationships, "comments"), true, TStoryKind::kPlain, done,
              text);
  AppendStory(package, FirstOfType(relationships, "endnotes"), true, TStoryKind::kNotes, done,
              text);
  CheckGrowth(text, bodyRules.TextBoxes().size());
  text += bodyRules.TextBoxes();
}

bool PresentationText(TPackageAccess& package, std::string& text, std::size_t aheadFrom) {
  constexpr std::string_view kPresentation = "ppt\\presentation.xml";
  std::vector<std::string> ids;
  {
    std::string bytes;
    xml::TXMLTree tree;
    try {
      if (!package.ReadTree(kPresentation, bytes, tree) || tree.NodeCount() == 0) {
        return false;
      }
    } catch (const bytes::EFormatError&) {
      return false; // damaged: the slides by part name, as without the mode
    }
    const TCompactAccess access{tree};
    for (auto c = access.FirstChild(xml::TXMLTree::Root()); !access.Done(c); access.Next(c)) {
      const std::uint32_t list = access.Get(c);
      if (LocalName(access.Name(list)) != "sldIdLst") {
        continue;
      }
      for (auto s = access.FirstChild(list); !access.Done(s); access.Next(s)) {
        const std::uint32_t slide = access.Get(s);
        if (LocalName(access.Name(slide)) == "sldId") {
          ids.emplace_back(access.ParamValue(slide, "r:id"));
        }
      }
      break;
    }
  }
  const std::vector<TRelationship> relationships = ReadRelationships(package, kPresentation);
  std::unordered_map<std::string_view, const TRelationship*> byId;
  for (const TRelationship& r : relationships) {
    byId.emplace(r.id, &r);
  }
  // The slide a relationship names, whether or not it is read; the second thread takes each
  // distinct one in order.
  const auto slidePart = [&](const std::string& id) -> const std::string* {
    const auto slide = byId.find(id);
    if (slide == byId.end() || TypeName(slide->second->type) != "slide") {
      return nullptr;
    }
    const std::string& name = slide->second->part;
    return name.empty() || !package.HasPart(name) ? nullptr : &name;
  };
  std::vector<std::string> slides;
  std::unordered_map<std::string, std::size_t> slideIndex; // folded name -> place in slides
  for (const std::string& id : ids) {
    if (const std::string* name = slidePart(id)) {
      if (slideIndex.emplace(FoldedPartName(*name), slides.size()).second) {
        slides.push_back(*name);
      }
    }
  }
  std::optional<TNotesReader> ahead;
  if (slides.size() >= aheadFrom) {
    ahead.emplace(package, slides);
  }
  std::unordered_set<std::string> done{std::string(kPresentation)};
  std::string notes;
  bool found = false;
  for (const std::string& id : ids) {
    const std::string* name = slidePart(id);
    if (name == nullptr) {
      continue;
    }
    std::string folded = FoldedPartName(*name);
    const std::size_t at = slideIndex.at(folded);
    if (!done.insert(std::move(folded)).second) {
      continue;
    }
    TStoryRules rules(TStoryKind::kPlain);
    std::string slideText;
    if (!package.ReadStory(*name, {}, false, rules, slideText)) {
      continue;
    }
    found = true;
    CheckGrowth(text.size() + notes.size(), slideText.size());
    text += slideText;
    const std::size_t before = notes.size();
    if (TSlideAhead* read = ahead ? ahead->Slide(at) : nullptr) {
      // As AppendStory would have it, from what the second thread read.
      if (read->error) {
        std::rethrow_exception(read->error);
      }
      const TRelationship* page = FirstOfType(read->relationships, "notesSlide");
      if (page != nullptr && !page->part.empty() && package.HasPart(page->part) &&
          done.insert(FoldedPartName(page->part)).second) {
        std::optional<TNotesPageAhead> story = ahead->TakePage(FoldedPartName(page->part));
        if (!story) {
          AppendPart(package, page->part, false, TStoryKind::kNotesPage, notes);
        } else if (story->error) {
          std::rethrow_exception(story->error);
        } else if (story->read) {
          CheckGrowth(notes, story->story.size());
          notes += story->story;
        }
      }
      read->relationships.clear();
    } else {
      const std::vector<TRelationship> slideRelationships = ReadRelationships(package, *name);
      AppendStory(package, FirstOfType(slideRelationships, "notesSlide"), false,
                  TStoryKind::kNotesPage, done, notes);
    }
    CheckGrowth(text.size(), notes.size() - before);
  }
  CheckGrowth(text, notes.size());
  text += notes;
  return found;
}

} // namespace scv::ooxml

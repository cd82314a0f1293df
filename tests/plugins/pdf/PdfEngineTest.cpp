// The PDF text library through its export, as the bridge calls it.
#include "support/PdfBuilder.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <ScvConverter.h>
#include <algorithm>
#include <dlfcn.h>
#include <filesystem>
#include <string>
#include <utility>

namespace {

using scv::test::CorpusDir;
using scv::test::TTempDir;

std::string Collected;

void SCV_CDECL Sink(const char* data, int32_t count) {
  if (count > 0) {
    Collected.append(data, static_cast<std::size_t>(count));
  }
}

class TPdfLibrary : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    handle_ = dlopen((scv::test::BinDir() + "/scvpdf.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    entry_ = reinterpret_cast<FnPdfScvProc>(dlsym(handle_, SCV_EXPORT_PDF));
    ASSERT_NE(entry_, nullptr);
  }
  static void TearDownTestSuite() {
    if (handle_ != nullptr) {
      dlclose(handle_);
    }
  }

  // Converts a file named by UTF-8 path with layout switches s1 and s2, as the bridge does.
  static int32_t Convert(const std::string& path, int32_t s1 = 0, int32_t s2 = 0) {
    std::u16string name;
    std::filesystem::path p(path);
    for (const char16_t c : p.u16string()) {
      name.push_back(c);
    }
    Collected.clear();
    return entry_(reinterpret_cast<const uint16_t*>(name.c_str()),
                  static_cast<int32_t>(name.size() * 2), &Sink, 1, 0, s1, 1, s2, 2, "", "");
  }

  static inline void* handle_ = nullptr;
  static inline FnPdfScvProc entry_ = nullptr;
};

TEST_F(TPdfLibrary, ResultCodes) {
  TTempDir dir;
  struct Case {
    const char* name;
    std::string path;
    bool wantAnyFailure; // a negative value other than -1 and -3
    int32_t want;
  };
  const Case cases[] = {
      {"missing file", dir.File("absent.pdf"), false, SCV_PDF_OPEN_ERROR},
      {"a directory", dir.Path(), false, SCV_PDF_OPEN_ERROR},
      {"locked by a user password", CorpusDir("pdf") + "/libreoffice-writer-password.pdf", false,
       SCV_PDF_ENCRYPTED},
      {"not a PDF", dir.Write("junk.pdf", std::string(5000, 'x')), true, 0},
      {"empty file", dir.Write("empty.pdf", ""), true, 0},
      {"header only", dir.Write("head.pdf", "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<<"), true, 0},
      {"readable", CorpusDir("pdf") + "/quick.pdf", false, SCV_PDF_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int32_t rc = Convert(c.path);
    if (c.wantAnyFailure) {
      EXPECT_LT(rc, 0);
      EXPECT_NE(rc, SCV_PDF_OPEN_ERROR);
      EXPECT_NE(rc, SCV_PDF_ENCRYPTED);
    } else {
      EXPECT_EQ(rc, c.want);
    }
  }
}

TEST_F(TPdfLibrary, TruncatedDocumentsNeverCrash) {
  TTempDir dir;
  const std::string whole = scv::test::ReadFileBytes(CorpusDir("pdf") + "/pdflatex-4-pages.pdf");
  for (const std::size_t cut : {whole.size() / 10, whole.size() / 2, whole.size() - 100}) {
    SCOPED_TRACE(cut);
    const int32_t rc = Convert(dir.Write("cut.pdf", whole.substr(0, cut)));
    EXPECT_TRUE(rc == SCV_PDF_OK || (rc < 0 && rc != SCV_PDF_OPEN_ERROR && rc != SCV_PDF_ENCRYPTED))
        << rc;
  }
}

TEST_F(TPdfLibrary, PagesInOrderEachEndingWithAFormFeed) {
  ASSERT_EQ(Convert(CorpusDir("pdf") + "/pdflatex-4-pages.pdf"), SCV_PDF_OK);
  EXPECT_EQ(std::count(Collected.begin(), Collected.end(), '\f'), 4);
  EXPECT_EQ(Collected.back(), '\f');
  EXPECT_TRUE(Collected.starts_with("Hello, here is some text without a meaning."));
  ASSERT_EQ(Convert(CorpusDir("pdf") + "/quick.pdf"), SCV_PDF_OK);
  EXPECT_EQ(Collected, "The quick brown fox jumps over the lazy dog\r\n\r\n\f");
}

TEST_F(TPdfLibrary, LayoutSwitchesSelectTheLayouts) {
  const std::string file = CorpusDir("pdf") + "/two_column.pdf";
  ASSERT_EQ(Convert(file, 0, 0), SCV_PDF_OK);
  const std::string reading = Collected;
  ASSERT_EQ(Convert(file, 1, 0), SCV_PDF_OK);
  const std::string physical = Collected;
  ASSERT_EQ(Convert(file, 0, 1), SCV_PDF_OK);
  const std::string raw = Collected;
  EXPECT_NE(reading, physical);
  // The physical layout keeps both columns side by side: long runs of spaces.
  EXPECT_NE(physical.find("     "), std::string::npos);
  EXPECT_EQ(reading.find("     "), std::string::npos);
  EXPECT_FALSE(raw.empty());
}

TEST_F(TPdfLibrary, NonAsciiFileNamesAndText) {
  TTempDir dir;
  const std::string path = dir.Write("\xD1\x82\xD0\xB5\xD1\x81\xD1\x82 habibi.pdf",
                                     scv::test::ReadFileBytes(CorpusDir("pdf") + "/habibi.pdf"));
  ASSERT_EQ(Convert(path), SCV_PDF_OK);
  // Arabic text with its harakat, delivered as UTF-8.
  EXPECT_NE(Collected.find("\xD9\x8E"), std::string::npos);
  EXPECT_NE(Collected.find("habibi"), std::string::npos);
}

// A page in a font whose codes 1 to 7 stand for the ligatures U+FB00 to U+FB06, as their
// ToUnicode map says; poppler passes them through as those characters.
std::string LigaturePdf() {
  const std::string cmap = "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
                           "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> "
                           "def\n/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
                           "1 begincodespacerange\n<00> <FF>\nendcodespacerange\n"
                           "7 beginbfchar\n<01> <FB00>\n<02> <FB01>\n<03> <FB02>\n<04> <FB03>\n"
                           "<05> <FB04>\n<06> <FB05>\n<07> <FB06>\nendbfchar\nendcmap\n"
                           "CMapName currentdict /CMap defineresource pop\nend\nend";
  const std::string content =
      "BT /F1 24 Tf 72 700 Td (co\\001ee o\\004ce \\002ne \\003ow wa\\005e be\\006 fa\\007) Tj ET";
  std::string widths;
  for (int i = 1; i <= 122; ++i) {
    widths += " 600";
  }
  const std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources "
                           "<< /Font << /F1 4 0 R >> >> /Contents 5 0 R >>";
  return scv::test::BuildPdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      page,
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /FirstChar 1 /LastChar 122 /Widths [" +
          widths + " ] /ToUnicode 6 0 R >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
      "<< /Length " + std::to_string(cmap.size()) + " >>\nstream\n" + cmap + "\nendstream",
  });
}

TEST_F(TPdfLibrary, LigaturesBecomeLettersInEveryLayout) {
  TTempDir dir;
  const std::string path = dir.Write("ligatures.pdf", LigaturePdf());
  for (const auto& [s1, s2] : {std::pair{0, 0}, std::pair{1, 0}, std::pair{0, 1}}) {
    SCOPED_TRACE(std::to_string(s1) + std::to_string(s2));
    ASSERT_EQ(Convert(path, s1, s2), SCV_PDF_OK);
    EXPECT_TRUE(Collected.starts_with("coffee office fine flow waffle best fast\r\n")) << Collected;
    EXPECT_EQ(Collected.find("\xEF\xAC"), std::string::npos);
  }
}

TEST(PdfLibraryProcess, DamagedFilesPrintNothing) {
  // Poppler complains loudly about this file; none of it may reach the terminal.
  TTempDir dir;
  const auto r = scv::test::RunScvcmd(
      {"-o", "-c65001", CorpusDir("pdf") + "/unreadablemetadata.pdf", dir.File("out.txt")});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exitCode, 0);
  const auto j = scv::test::RunScvcmd(
      {"-o", dir.Write("junk.pdf", "%PDF-1.7\ngarbage"), dir.File("out2.txt")});
  EXPECT_EQ(j.err, "");
  EXPECT_EQ(j.out, "Input file \"" + dir.File("junk.pdf") + "\" format not correct\r\n");
}

} // namespace

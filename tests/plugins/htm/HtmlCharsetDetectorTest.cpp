// Legacy pages with and without a declaration: the text decoded exactly, per script and
// encoding. The pages are made from known UTF-8 text with the C library's iconv.
#include "HtmlCharsetDetector.h"

#include "HtmlEncoding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <iconv.h>
#include <string>
#include <vector>

namespace scv::htm {
namespace {

// The bytes of UTF-8 text in the encoding iconv knows as name; empty when iconv cannot
// convert all of it.
std::string Iconv(const std::string& utf8, const char* name) {
  const iconv_t cd = iconv_open(name, "UTF-8");
  if (reinterpret_cast<std::intptr_t>(cd) == -1) { // iconv_open failed
    return {};
  }
  std::string in = utf8;
  std::string out(in.size() * 4 + 16, '\0');
  char* src = in.data();
  std::size_t srcLeft = in.size();
  char* dst = out.data();
  std::size_t dstLeft = out.size();
  const std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1) || srcLeft != 0) {
    return {};
  }
  out.resize(out.size() - dstLeft);
  return out;
}

struct TScript {
  const char* name;
  const char* title;
  const char* heading;
  const char* text;
};

// The first article of the Universal Declaration of Human Rights, with the declaration's
// title and the article's heading: a short page of natural text in each script.
const TScript kGreek{
    "Greek", "Οικουμενική Διακήρυξη για τα Ανθρώπινα Δικαιώματα", "Άρθρο 1",
    "Όλοι οι άνθρωποι γεννιούνται ελεύθεροι και ίσοι στην αξιοπρέπεια και τα δικαιώματα. "
    "Είναι προικισμένοι με λογική και συνείδηση, και οφείλουν να συμπεριφέρονται μεταξύ τους "
    "με πνεύμα αδελφοσύνης."};
const TScript kCyrillic{
    "Cyrillic", "Всеобщая декларация прав человека", "Статья 1",
    "Все люди рождаются свободными и равными в своем достоинстве и правах. Они наделены "
    "разумом и совестью и должны поступать в отношении друг друга в духе братства."};
const TScript kHebrew{
    "Hebrew", "ההכרזה לכל באי עולם בדבר זכויות האדם", "סעיף 1",
    "כל בני אדם נולדו בני חורין ושווים בערכם ובזכויותיהם. כולם חוננו בתבונה ובמצפון, לפיכך "
    "חובה עליהם לנהוג איש ברעהו ברוח של אחוה."};
const TScript kArabic{
    "Arabic", "الإعلان العالمي لحقوق الإنسان", "المادة 1",
    "يولد جميع الناس أحرارًا متساوين في الكرامة والحقوق. وهم قد وهبوا العقل والوجدان وعليهم "
    "أن يعاملوا بعضهم بعضًا بروح الإخاء."};
const TScript kThai{"Thai", "ปฏิญญาสากลว่าด้วยสิทธิมนุษยชน", "ข้อ 1",
                    "มนุษย์ทั้งหลายเกิดมามีอิสระและเสมอภาคกันในเกียรติศักดิ์และสิทธิ "
                    "ต่างในตนมีเหตุผลและมโนธรรม และควรปฏิบัติต่อกันด้วยเจตนารมณ์แห่งภราดรภาพ"};
const TScript kTurkish{
    "Turkish", "İnsan Hakları Evrensel Beyannamesi", "Madde 1",
    "Bütün insanlar hür, haysiyet ve haklar bakımından eşit doğarlar. Akıl ve vicdana "
    "sahiptirler ve birbirlerine karşı kardeşlik zihniyeti ile hareket etmelidirler."};
const TScript kJapanese{
    "Japanese", "世界人権宣言", "第1条",
    "すべての人間は、生まれながらにして自由であり、かつ、尊厳と権利とについて平等である。"
    "人間は、理性と良心とを授けられており、互いに同胞の精神をもって行動しなければならない。"};
const TScript kKorean{
    "Korean", "세계 인권 선언", "제1조",
    "모든 인간은 태어날 때부터 자유로우며 그 존엄과 권리에 있어 동등하다. 인간은 천부적으로 "
    "이성과 양심을 부여받았으며 서로 형제애의 정신으로 행동하여야 한다."};
const TScript kSimplified{
    "Chinese", "世界人权宣言", "第一条",
    "人人生而自由，在尊严和权利上一律平等。他们赋有理性和良心，并应以兄弟关系的精神相对待。"};
const TScript kTraditional{
    "Chinese", "世界人權宣言", "第一條",
    "人人生而自由，在尊嚴和權利上一律平等。他們賦有理性和良心，並應以兄弟關係的精神相對待。"};

// Western and Central European pages, which windows-1252 read right before the detector
// was asked; English pages whose only non-ASCII characters are typographic ones.
const TScript kFrench{
    "French", "Déclaration universelle des droits de l'homme", "Article premier",
    "Tous les êtres humains naissent libres et égaux en dignité et en droits. Ils sont doués "
    "de raison et de conscience et doivent agir les uns envers les autres dans un esprit de "
    "fraternité."};
const TScript kGerman{
    "German", "Allgemeine Erklärung der Menschenrechte", "Artikel 1",
    "Alle Menschen sind frei und gleich an Würde und Rechten geboren. Sie sind mit Vernunft "
    "und Gewissen begabt und sollen einander im Geist der Brüderlichkeit begegnen."};
const TScript kSpanish{
    "Spanish", "Declaración Universal de los Derechos Humanos", "Artículo 1",
    "Todos los seres humanos nacen libres e iguales en dignidad y derechos y, dotados como "
    "están de razón y conciencia, deben comportarse fraternalmente los unos con los otros."};
const TScript kPortuguese{
    "Portuguese", "Declaração Universal dos Direitos Humanos", "Artigo 1.º",
    "Todos os seres humanos nascem livres e iguais em dignidade e em direitos. Dotados de "
    "razão e de consciência, devem agir uns para com os outros em espírito de fraternidade."};
const TScript kSwedish{
    "Swedish", "FN:s allmänna förklaring om de mänskliga rättigheterna", "Artikel 1",
    "Alla människor är födda fria och lika i värde och rättigheter. De har utrustats med "
    "förnuft och samvete och bör handla gentemot varandra i en anda av broderskap."};
const TScript kEnglishQuotes{
    "English", "Spring offers", "Don’t miss them",
    "It’s the “best” offer of the year — prices from €5… Order today and we’ll ship it "
    "tomorrow."};
const TScript kEnglishCopyright{
    "English", "About this site", "Contact",
    "Write to us at the address below. Copyright © 2004 Example Ltd. All rights reserved."};
const TScript kNorwegian{
    "Norwegian", "Verdenserklæringen om menneskerettighetene", "Artikkel 1",
    "Alle mennesker er født frie og med samme menneskeverd og menneskerettigheter. De er "
    "utstyrt med fornuft og samvittighet og bør handle mot hverandre i brorskapets ånd."};
const TScript kEnglishNames{
    "English", "Visitors", "From abroad",
    "Müller and Søren met at the Château in Besançon. Flights to Zürich from £10, 20°C and "
    "½ price."};
const TScript kPolish{
    "Polish", "Powszechna deklaracja praw człowieka", "Artykuł 1",
    "Wszyscy ludzie rodzą się wolni i równi pod względem swej godności i swych praw. Są oni "
    "obdarzeni rozumem i sumieniem i powinni postępować wobec innych w duchu braterstwa."};
const TScript kCzech{
    "Czech", "Všeobecná deklarace lidských práv", "Článek 1",
    "Všichni lidé rodí se svobodní a sobě rovní co do důstojnosti a práv. Jsou nadáni "
    "rozumem a svědomím a mají spolu jednat v duchu bratrství."};

struct TPageCase {
  const TScript& script;
  const char* iconvName;
  const char* label; // as a page declares it
};

const TPageCase kPages[] = {
    {kGreek, "ISO-8859-7", "iso-8859-7"},
    {kGreek, "CP1253", "windows-1253"},
    {kCyrillic, "CP1251", "windows-1251"},
    {kCyrillic, "KOI8-R", "koi8-r"},
    {kCyrillic, "ISO-8859-5", "iso-8859-5"},
    {kCyrillic, "CP866", "ibm866"},
    {kHebrew, "CP1255", "windows-1255"},
    {kHebrew, "ISO-8859-8", "iso-8859-8"},
    {kArabic, "CP1256", "windows-1256"},
    {kArabic, "ISO-8859-6", "iso-8859-6"},
    {kThai, "TIS-620", "tis-620"},
    {kThai, "CP874", "windows-874"},
    {kTurkish, "CP1254", "windows-1254"},
    {kTurkish, "ISO-8859-9", "iso-8859-9"},
    {kJapanese, "EUC-JP", "euc-jp"},
    {kJapanese, "CP932", "shift_jis"},
    {kKorean, "EUC-KR", "euc-kr"},
    {kSimplified, "GB2312", "gb2312"},
    {kSimplified, "GB18030", "gb18030"},
    {kTraditional, "BIG5", "big5"},
    {kFrench, "CP1252", "windows-1252"},
    {kFrench, "ISO-8859-1", "iso-8859-1"},
    {kGerman, "CP1252", "windows-1252"},
    {kGerman, "ISO-8859-15", "iso-8859-15"},
    {kSpanish, "CP1252", "windows-1252"},
    {kPortuguese, "CP1252", "windows-1252"},
    {kSwedish, "CP1252", "windows-1252"},
    {kEnglishQuotes, "CP1252", "windows-1252"},
    {kEnglishCopyright, "CP1252", "windows-1252"},
    {kNorwegian, "CP1252", "windows-1252"},
    {kEnglishNames, "CP1252", "windows-1252"},
    {kPolish, "CP1250", "windows-1250"},
    {kPolish, "ISO-8859-2", "iso-8859-2"},
    {kCzech, "CP1250", "windows-1250"},
    {kCzech, "ISO-8859-2", "iso-8859-2"},
};

std::string Page(const TScript& s, const char* label) {
  std::string meta = label != nullptr ? std::string("<meta charset=\"") + label + "\">\n" : "";
  return "<!DOCTYPE html>\n<html>\n<head>\n" + meta + "<title>" + s.title +
         "</title>\n</head>\n<body>\n<h1>" + s.title + "</h1>\n<h2>" + s.heading + "</h2>\n<p>" +
         s.text + "</p>\n</body>\n</html>\n";
}

// Decodes the page as the library does and tells whether the text came out as written.
bool DecodedExactly(const std::string& bytes, const std::string& utf8) {
  return DecodeToUtf8(bytes, DetectEncoding(bytes)) == utf8;
}

TEST(HtmlCharsetDetector, DeclaredAndUndeclaredLegacyPagesDecode) {
  int declaredExact = 0;
  int undeclaredExact = 0;
  int total = 0;
  std::string report;
  for (const TPageCase& c : kPages) {
    const std::string name = std::string(c.script.name) + " " + c.label;
    SCOPED_TRACE(name);
    const std::string declared = Page(c.script, c.label);
    const std::string undeclared = Page(c.script, nullptr);
    const std::string declaredBytes = Iconv(declared, c.iconvName);
    const std::string undeclaredBytes = Iconv(undeclared, c.iconvName);
    ASSERT_FALSE(declaredBytes.empty());
    ASSERT_FALSE(undeclaredBytes.empty());
    ++total;
    // A declaration is always followed.
    const bool withDeclaration = DecodedExactly(declaredBytes, declared);
    EXPECT_TRUE(withDeclaration);
    declaredExact += withDeclaration ? 1 : 0;
    // Without one the detector reads every one of these pages right.
    const bool withoutDeclaration = DecodedExactly(undeclaredBytes, undeclared);
    EXPECT_TRUE(withoutDeclaration);
    undeclaredExact += withoutDeclaration ? 1 : 0;
    const TEncoding guess = DetectEncoding(undeclaredBytes);
    report += "  " + name + ": declared " + (withDeclaration ? "exact" : "WRONG") +
              ", undeclared " + (withoutDeclaration ? "exact" : "WRONG") + " (read as " +
              std::to_string(guess.kind == TEncodingKind::kCodePage ? guess.codePage : 65001) +
              ")\n";
  }
  std::printf("%s  exact: declared %d/%d, undeclared %d/%d\n", report.c_str(), declaredExact, total,
              undeclaredExact, total);
}

} // namespace
} // namespace scv::htm

namespace scv::htm {
namespace {

// Long pages: the detector reads a sample of pieces that hold non-ASCII bytes, each ending
// between characters, wherever in the page the text is.
TEST(HtmlCharsetDetector, LongPagesAreSampledBetweenCharacters) {
  struct Case {
    const TScript& script;
    const char* iconvName;
    std::string head; // before the text
    int repeat;       // paragraphs of text
  };
  const std::string script = "<script>" + std::string(1 << 20, ';') + "</script>";
  const Case cases[] = {
      {kCyrillic, "CP1251", script, 1}, {kCyrillic, "KOI8-R", "", 2000},
      {kJapanese, "CP932", "", 2000},   {kJapanese, "EUC-JP", script, 3},
      {kTraditional, "BIG5", "", 2000}, {kSimplified, "GB18030", "", 2000},
      {kKorean, "EUC-KR", "", 2000},    {kGreek, "ISO-8859-7", script, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.script.name) + " " + c.iconvName + " x" + std::to_string(c.repeat));
    std::string body;
    for (int i = 0; i < c.repeat; ++i) {
      body += std::string("<p>") + c.script.text + "</p>\n";
    }
    const std::string page = "<html><head>" + c.head + "</head><body>" + body + "</body></html>";
    const std::string bytes = Iconv(page, c.iconvName);
    ASSERT_FALSE(bytes.empty());
    EXPECT_TRUE(DecodedExactly(bytes, page));
  }
}

TEST(HtmlCharsetDetector, DetectorNamesMapToCodePages) {
  struct Case {
    const char* name;
    std::int32_t want;
  };
  const Case cases[] = {
      {"WINDOWS-1251", 1251}, {"ISO-8859-1", 1252}, {"ISO-8859-9", 1254}, {"KOI8-R", 20866},
      {"IBM866", 866},        {"IBM855", 855},      {"TIS-620", 874},     {"SHIFT_JIS", 932},
      {"EUC-JP", 20932},      {"EUC-KR", 949},      {"UHC", 949},         {"GB18030", 54936},
      {"BIG5", 950},          {"UTF-8", 65001},     {"EUC-TW", 0},        {"", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CodePageFromDetectorName(c.name), c.want);
  }
}

TEST(HtmlCharsetDetector, OnlyUndeclaredLegacyPagesAreGuessed) {
  const std::string russian = Iconv(Page(kCyrillic, nullptr), "KOI8-R");
  const std::string declared1251 = "<meta charset=windows-1251>" + russian;
  struct Case {
    const char* name;
    std::string bytes;
    TEncodingKind kind;
    std::int32_t codePage;
  };
  const Case cases[] = {
      {"undeclared koi8-r is guessed", russian, TEncodingKind::kCodePage, 20866},
      // Browsers follow a declaration even when the bytes say otherwise.
      {"a declaration wins over the guess", declared1251, TEncodingKind::kCodePage, 1251},
      {"a byte-order mark wins", "\xEF\xBB\xBF" + russian, TEncodingKind::kUtf8, 0},
      {"valid utf-8 is not guessed", Page(kCyrillic, nullptr), TEncodingKind::kUtf8, 0},
      {"an unknown label is no declaration", "<meta charset=x-bogus>" + russian,
       TEncodingKind::kCodePage, 20866},
      {"no guess falls back to windows-1252", "<p>\x81\x8D\x8F\x90\x9D</p>",
       TEncodingKind::kCodePage, 1252},
      {"an iso-8859-3 guess is not taken", Iconv(Page(kEnglishNames, nullptr), "CP1252"),
       TEncodingKind::kCodePage, 1252},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TEncoding e = DetectEncoding(c.bytes);
    EXPECT_EQ(e.kind, c.kind);
    if (c.kind == TEncodingKind::kCodePage) {
      EXPECT_EQ(e.codePage, c.codePage);
    }
  }
}

} // namespace
} // namespace scv::htm

// The text-filter bridge: HTML, Windows help and RTF through converter libraries.
#include "bridges/FilterCvt.h"

#include "bridges/BridgeText.h"
#include "platform/CodePage.h"
#include "platform/DynamicLibrary.h"
#include "platform/FileIo.h"
#include "platform/Memory.h"

#include <ScvConverter.h>
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

namespace scv::bridges {
namespace {

// One filter library and its three exports; absent unless all three were found.
struct TFilterLibrary {
  platform::TDynamicLibrary library;
  CreateConverterProc create = nullptr;
  ReadConverterProc read = nullptr;
  CloseConverterProc close = nullptr;

  void Load(const char* name) {
    if (!library.Load(name)) {
      return;
    }
    create = reinterpret_cast<CreateConverterProc>(library.Symbol(SCV_EXPORT_CREATE));
    read = reinterpret_cast<ReadConverterProc>(library.Symbol(SCV_EXPORT_READ));
    close = reinterpret_cast<CloseConverterProc>(library.Symbol(SCV_EXPORT_CLOSE));
  }
  bool IsPresent() const { return create != nullptr && read != nullptr && close != nullptr; }
  void Unload() {
    create = nullptr;
    read = nullptr;
    close = nullptr;
    library.Unload();
  }
};

constexpr std::int32_t kPieceSize = 65536;
constexpr const char* kIniName = "scvhtm.ini";

// scvhtm.ini in the program's folder: its path and whether it existed before the HTML
// library was loaded.
std::string IniProgramPath;
bool IniProgramBefore = true;

bool Exists(const std::string& path) {
  return platform::FileExists(path) || platform::IsDirectory(path);
}

TFilterLibrary HlpLibrary;
TFilterLibrary HtmLibrary;
TFilterLibrary RtfLibrary;

// The records shared with the libraries. The file handle is -1 while no input is open, so a
// callback outside a conversion finds no file; a POSIX descriptor may legitimately be 0.
AppDataType AppData{-1, 0, SCV_CODEPAGE_UTF8, nullptr};
ConverterHost Host{};

// The open input behind AppData.fileHandle and the position the callbacks move.
platform::TFile InputFile;
std::uint64_t InputPosition = 0;

// One read buffer for the library's pieces, as large as the biggest piece asked for; it lives
// from the first conversion to finalisation.
std::unique_ptr<char[]> PieceBuffer;

// The file name in AppData: 32-bit byte length, the code units, a zero unit. Stored as
// 16-bit units so the name itself is suitably aligned; the length takes the first two.
std::vector<std::uint16_t> FileNameBuffer;

bool HasOpenFile(const ConverterHost* host) {
  (void)host;
  return AppData.fileHandle >= 0 && InputFile.IsOpen();
}

std::int32_t SCV_STDCALL HostGetSize(ConverterHost* host, std::uint32_t* sizeLow,
                                     std::uint32_t* sizeHigh) noexcept {
  if (!HasOpenFile(host)) {
    return SCV_HOST_NO_FILE;
  }
  const std::int64_t size = InputFile.Size();
  const std::uint64_t value = size > 0 ? static_cast<std::uint64_t>(size) : 0;
  if (sizeLow != nullptr) {
    *sizeLow = static_cast<std::uint32_t>(value & 0xFFFFFFFFu);
  }
  // The high part carries the rest of the size, so a file of 4 GiB or more is not
  // reported as a small one.
  if (sizeHigh != nullptr) {
    *sizeHigh = static_cast<std::uint32_t>(value >> 32);
  }
  InputPosition = 0;
  return SCV_HOST_OK;
}

std::int32_t SCV_STDCALL HostSeek(ConverterHost* host, std::int32_t* offset,
                                  std::int32_t /*ignoredHigh*/, std::int32_t origin) noexcept {
  if (!HasOpenFile(host)) {
    return SCV_HOST_NO_FILE;
  }
  const std::int64_t distance = offset != nullptr ? *offset : 0;
  std::int64_t base = 0;
  if (origin == 1) {
    base = static_cast<std::int64_t>(InputPosition);
  } else if (origin == 2) {
    base = InputFile.Size();
  }
  // A move before the start of the file leaves the position where it was, as the platform's
  // file pointer does.
  if (base >= 0 && base + distance >= 0) {
    InputPosition = static_cast<std::uint64_t>(base + distance);
  }
  return SCV_HOST_OK;
}

std::int32_t SCV_STDCALL HostRead(ConverterHost* host, void* buffer, std::int32_t count,
                                  std::int32_t* bytesRead) noexcept {
  if (!HasOpenFile(host)) {
    return SCV_HOST_NO_FILE;
  }
  std::int64_t got = 0;
  if (count > 0 && buffer != nullptr) {
    got = InputFile.ReadAt(InputPosition, std::span(static_cast<std::uint8_t*>(buffer),
                                                    static_cast<std::size_t>(count)));
  }
  if (got > 0) {
    InputPosition += static_cast<std::uint64_t>(got);
  }
  if (bytesRead != nullptr) {
    *bytesRead = got < 0 ? -1 : static_cast<std::int32_t>(got);
  }
  return SCV_HOST_OK;
}

std::int32_t SCV_STDCALL HostQueryText(ConverterHost* /*host*/, char* destination,
                                       std::int32_t /*ignored*/) noexcept {
  if (destination != nullptr) {
    *destination = '\0';
  }
  return 0;
}

std::int32_t SCV_STDCALL HostGetCodePage(ConverterHost* /*host*/) noexcept {
  return AppData.codePage;
}

void StoreFileName(const std::u16string& fileName) {
  // The byte length is a 32-bit field; names are far shorter than that in practice.
  const std::size_t units = std::min<std::size_t>(fileName.size(), 0x3FFFFFFF);
  const auto bytes = static_cast<std::uint32_t>(units * 2);
  FileNameBuffer.assign(2 + units + 1, 0);
  const std::span<std::uint16_t> buffer(FileNameBuffer);
  std::memcpy(buffer.data(), &bytes, sizeof bytes);
  std::memcpy(buffer.subspan(2).data(), fileName.data(), units * 2);
  AppData.fileName = buffer.subspan(2).data();
}

// Hands the library's pieces to store(piece) in call order. Returns false when the library
// refused the document: its first read failed. A failure after some pieces keeps what came
// before it.
template <typename TStore>
bool ReadPieces(const TFilterLibrary& lib, std::int32_t byteLimit, TStore&& store) {
  std::unique_ptr<char[]>& buffer = PieceBuffer;
  if (!buffer) {
    buffer = std::make_unique_for_overwrite<char[]>(kPieceSize);
  }
  // A limit reads one piece of that many bytes; it cannot exceed the buffer. A negative
  // limit means none.
  const bool onePiece = byteLimit > 0;
  const std::int32_t capacity = onePiece && byteLimit < kPieceSize ? byteLimit : kPieceSize;
  bool first = true;
  for (;;) {
    std::int32_t count = 0;
    if (lib.read(&Host, buffer.get(), capacity, &count) != 0) {
      return !first;
    }
    first = false;
    // A negative count is no text; a count beyond the capacity cannot be trusted past it.
    if (count <= 0) {
      return true;
    }
    store(std::string_view(buffer.get(), static_cast<std::size_t>(std::min(count, capacity))));
    if (onePiece) {
      return true;
    }
  }
}

std::int32_t FilterToText(TFilterLibrary& lib, const std::u16string& fileName,
                          std::int32_t byteLimit, TConversionResult& result, std::int32_t codePage,
                          std::int32_t lineEndOption, std::int32_t /*unused*/) {
  if (!lib.IsPresent()) {
    return kResultLibraryMissing;
  }
  platform::TFile file;
  if (!file.OpenRead(fileName)) {
    return kResultNotFound;
  }
  InputFile = std::move(file);
  InputPosition = 0;
  AppData.fileHandle = InputFile.Descriptor();

  // The text of an HTML, RTF or help file is rarely longer than the file; room for that much
  // saves regrowing a large text piece by piece (untouched room costs nothing).
  constexpr std::int64_t kMaxReserve = std::int64_t{1} << 28;
  const std::int64_t fileSize = InputFile.Size();
  const std::size_t sizeHint =
      fileSize > 0 ? static_cast<std::size_t>(std::min(fileSize, kMaxReserve)) : 0;
  const TLineEndStyle style = LineEndStyleFromOption(lineEndOption);
  // UTF-8 output is the library's text with its line ends adjusted: each piece goes straight
  // into the result, behind the byte-order mark. Other code pages encode the whole text.
  const bool direct = codePage == platform::kCpUtf8;
  TAdjustedResultWriter writer("\xEF\xBB\xBF", style, sizeHint + std::size_t{2} * kPieceSize,
                               result);
  std::string text;
  if (!direct && sizeHint > 0) {
    try {
      text.reserve(sizeHint);
      platform::AdviseLargeBuffer(text.data(), text.capacity());
    } catch (...) {
      // Only a hint: the text grows as it comes.
    }
  }
  bool accepted = false;
  bool failed = false;
  try {
    StoreFileName(fileName);
    AppData.codePage = SCV_CODEPAGE_UTF8;
    // A library that will not start, or whose first read fails, has rejected the document;
    // that is reported as a format error rather than as an empty conversion.
    if (lib.create(&Host) == 0) {
      if (direct) {
        accepted =
            ReadPieces(lib, byteLimit, [&](std::string_view piece) { writer.Append(piece); });
      } else {
        accepted = ReadPieces(lib, byteLimit, [&](std::string_view piece) { text.append(piece); });
      }
    }
  } catch (...) {
    failed = true; // out of memory while collecting
  }
  lib.close(&Host);
  InputFile.Close();
  AppData.fileHandle = -1;

  if (failed || !accepted) {
    return kResultBadFormat;
  }
  try {
    if (direct) {
      return writer.Finish();
    }
    if (text.empty()) {
      return 0;
    }
    const std::string adjusted = AdjustLineEnds(text, style);
    std::string().swap(text);
    return AppendToResult(EncodeLibraryText(adjusted, codePage, false), result);
  } catch (...) {
    return kResultBadFormat;
  }
}

} // namespace

void InitializeFilterBridge() {
  HlpLibrary.Load("scvhlp.dll");
  // scvhtm.ini is the HTML library's file. Ours never writes one; a library that does would
  // do so while loaded. A file of that name that was there before the library was loaded is
  // someone else's (the current folder may be any folder of the user's), so it is left alone.
  const bool iniHereBefore = Exists(kIniName);
  IniProgramPath = platform::ProgramDirectory() + kIniName;
  IniProgramBefore = Exists(IniProgramPath);
  HtmLibrary.Load("scvhtm.dll");
  if (!iniHereBefore && HtmLibrary.library.IsLoaded()) {
    platform::DeleteFile(kIniName);
  }
  RtfLibrary.Load("scvrtf.dll");
  Host.size = sizeof(ConverterHost);
  Host.appData = &AppData;
  Host.reserved = 0;
  Host.HostGetSize = &HostGetSize;
  Host.HostSeek = &HostSeek;
  Host.HostRead = &HostRead;
  Host.HostQueryText = &HostQueryText;
  Host.HostGetCodePage = &HostGetCodePage;
}

void FinalizeFilterBridge(const std::string& programDirectory) {
  const bool htmLoaded = HtmLibrary.library.IsLoaded();
  HlpLibrary.Unload();
  HtmLibrary.Unload();
  RtfLibrary.Unload();
  const std::string iniPath = programDirectory + kIniName;
  if (htmLoaded && !IniProgramBefore && iniPath == IniProgramPath) {
    platform::DeleteFile(iniPath); // appeared while the HTML library was loaded
  }
  AppData.fileName = nullptr;
  std::vector<std::uint16_t>().swap(FileNameBuffer);
  PieceBuffer.reset();
}

std::int32_t HlpToText(const std::u16string& fileName, std::int32_t byteLimit,
                       TConversionResult& result, std::int32_t codePage) {
  return FilterToText(HlpLibrary, fileName, byteLimit, result, codePage, 0, 0);
}

std::int32_t HtmToText(const std::u16string& fileName, std::int32_t byteLimit,
                       TConversionResult& result, std::int32_t codePage) {
  return FilterToText(HtmLibrary, fileName, byteLimit, result, codePage, 0, 0);
}

std::int32_t RtfToText(const std::u16string& fileName, std::int32_t byteLimit,
                       TConversionResult& result, std::int32_t codePage) {
  return FilterToText(RtfLibrary, fileName, byteLimit, result, codePage, 0, 0);
}

bool IsRtfFile(const std::u16string& fileName) {
  platform::TFile file;
  if (!file.OpenRead(fileName)) {
    return false;
  }
  std::array<std::uint8_t, 5> head{};
  if (file.Size() < static_cast<std::int64_t>(head.size()) ||
      file.ReadAt(0, head) != static_cast<std::int64_t>(head.size())) {
    return false;
  }
  return std::memcmp(head.data(), "{\\rtf", head.size()) == 0;
}

} // namespace scv::bridges

/* The C interface between scvcmd and its converter libraries (scvpdf, scvhtm, scvhlp, scvrtf).
 *
 * Two kinds of library plug in here:
 *
 *  - the PDF text library exports fnPdfScv (C calling convention). It opens the named file
 *    itself and hands its text to the host, UTF-8, through a PdfTextSink callback;
 *  - the text-filter libraries (HTML, WinHelp, RTF) export CreateConverter, ReadConverter and
 *    CloseConverter (standard calling convention). They read their input only through the
 *    host callbacks of ConverterHost and return UTF-8 text in pieces.
 *
 * Plain C: fixed-width integers, plain structs led by a size field, buffers as pointer plus
 * length. No export or callback may let an exception or a longjmp cross this interface, and
 * no library prints on any stream.
 *
 * Who owns and frees what:
 *  - ConverterHost and AppDataType belong to the host. They live for the whole process; a
 *    library reads them and never writes or frees them.
 *  - The file name that AppDataType.fileName points at belongs to the host and stays valid
 *    from before CreateConverter until CloseConverter has returned. A library that needs it
 *    later copies it.
 *  - The buffer passed to ReadConverter belongs to the host; the library writes at most
 *    `capacity` bytes into it and stores the number written in *count.
 *  - Everything a filter library allocates for a conversion is its own, from CreateConverter
 *    until CloseConverter frees it. The host calls CloseConverter exactly once after every
 *    CreateConverter call, whether CreateConverter succeeded or not, so CloseConverter must
 *    cope with a conversion that never started. After CloseConverter no state of that
 *    conversion may remain that would disturb the next one in the same process.
 *  - The bytes handed to PdfTextSink belong to the library and need only stay valid during
 *    that call; the host copies them. The file name and the two text arguments passed to
 *    fnPdfScv belong to the host and stay valid during that call only.
 *  - Buffers the host passes to a callback (HostRead's buffer, HostQueryText's destination)
 *    belong to the library that passes them.
 */
#ifndef SCV_CONVERTER_H
#define SCV_CONVERTER_H

#include <stdint.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Calling conventions. They mean something on 32-bit x86 only; on x86-64 every function
 * uses the one platform convention and both macros are empty. */
#if defined(__i386__) || defined(_M_IX86)
#if defined(_MSC_VER)
#define SCV_STDCALL __stdcall
#define SCV_CDECL __cdecl
#else
#define SCV_STDCALL __attribute__((stdcall))
#define SCV_CDECL __attribute__((cdecl))
#endif
#else
#define SCV_STDCALL
#define SCV_CDECL
#endif

/* Marks a library's exports; the libraries build with hidden visibility otherwise. */
#if defined(_WIN32)
#define SCV_EXPORT __declspec(dllexport)
#else
#define SCV_EXPORT __attribute__((visibility("default")))
#endif

/* Export names, as the host looks them up. */
#define SCV_EXPORT_PDF "fnPdfScv"
#define SCV_EXPORT_CREATE "CreateConverter"
#define SCV_EXPORT_READ "ReadConverter"
#define SCV_EXPORT_CLOSE "CloseConverter"

/* The code page a filter library is asked to deliver (UTF-8). */
#define SCV_CODEPAGE_UTF8 65001

/* Results of fnPdfScv. Any other non-zero value means the file could not be read. */
#define SCV_PDF_OK 0
#define SCV_PDF_OPEN_ERROR (-1)
#define SCV_PDF_ENCRYPTED (-3)

/* Results of the host callbacks. */
#define SCV_HOST_OK 0
#define SCV_HOST_NO_FILE 1

/* ---------------------------------------------------------------------------------------
 * PDF text library
 * ------------------------------------------------------------------------------------- */

/* Receives `count` bytes of UTF-8 text; the bytes of successive calls are appended in call
 * order. A count of 0 or less adds nothing. May be called any number of times during one
 * fnPdfScv call, on the caller's thread. */
typedef void(SCV_CDECL* PdfTextSink)(const char* data, int32_t count);

/* fnPdfScv arguments, in order:
 *   fileName       zero-terminated UTF-16 file name;
 *   fileNameBytes  2 x its code units, terminator not counted;
 *   sink           where the text goes;
 *   option4        1 from scvcmd;
 *   option5        0 from scvcmd;
 *   s1             1: physical ("original") layout;
 *   option7        1 from scvcmd;
 *   s2             1: raw content-stream order (s1 and s2 both 0: reading order);
 *   mode9          2 from scvcmd (3 and 1 are the other values the host can pass);
 *   text10, text11 zero-terminated texts, empty from scvcmd.
 * Result: SCV_PDF_OK, SCV_PDF_OPEN_ERROR, SCV_PDF_ENCRYPTED, or another negative value for a
 * file that cannot be read. */
typedef int32_t(SCV_CDECL* FnPdfScvProc)(const uint16_t* fileName, int32_t fileNameBytes,
                                         PdfTextSink sink, int32_t option4, int32_t option5,
                                         int32_t s1, int32_t option7, int32_t s2, int32_t mode9,
                                         const char* text10, const char* text11);

/* ---------------------------------------------------------------------------------------
 * Text-filter libraries
 * ------------------------------------------------------------------------------------- */

typedef struct ConverterHost ConverterHost;
typedef struct AppDataType AppDataType;

/* The host callbacks. Each receives the host record first and answers SCV_HOST_NO_FILE,
 * doing nothing else, when no input file is open. */

/* Stores the file size (low and high 32 bits) and sets the file position to 0. */
typedef int32_t(SCV_STDCALL* HostGetSizeProc)(ConverterHost* host, uint32_t* sizeLow,
                                              uint32_t* sizeHigh);
/* Moves the file position to *offset relative to origin (0 start, 1 current position,
 * 2 end). The high part is ignored; the new position is not reported. */
typedef int32_t(SCV_STDCALL* HostSeekProc)(ConverterHost* host, int32_t* offset,
                                           int32_t ignoredHigh, int32_t origin);
/* Reads up to count bytes at the current position into buffer and stores the number read
 * in *bytesRead (-1 on a read failure, 0 at the end of the file). */
typedef int32_t(SCV_STDCALL* HostReadProc)(ConverterHost* host, void* buffer, int32_t count,
                                           int32_t* bytesRead);
/* Writes an empty zero-terminated text (one zero byte) to destination; returns its
 * length, 0. */
typedef int32_t(SCV_STDCALL* HostQueryTextProc)(ConverterHost* host, char* destination,
                                                int32_t ignored);
/* Returns the code page the library is to deliver: AppDataType.codePage (65001). */
typedef int32_t(SCV_STDCALL* HostGetCodePageProc)(ConverterHost* host);

/* The open input file. On a 32-bit build this is exactly 16 bytes; on 64-bit builds the
 * handle, reserved and name fields are pointer-sized. */
struct AppDataType {
  intptr_t fileHandle;      /* POSIX file descriptor of the open input (not positive: none) */
  uintptr_t reserved;       /* 0 */
  int32_t codePage;         /* code page requested from the library: 65001 */
  const uint16_t* fileName; /* first code unit of a zero-terminated UTF-16 name; the 32-bit
                             byte length (terminator not counted) sits in the 4 bytes before
                             it. See ScvFileNameBytes. */
};

/* The host record, the first argument of every export and every callback. On a 32-bit
 * build this is exactly 32 bytes; `size` holds sizeof(ConverterHost). */
struct ConverterHost {
  uint32_t size;
  AppDataType* appData;
  uintptr_t reserved; /* 0 */
  HostGetSizeProc HostGetSize;
  HostSeekProc HostSeek;
  HostReadProc HostRead;
  HostQueryTextProc HostQueryText;
  HostGetCodePageProc HostGetCodePage;
};

/* The filter exports. */

/* Starts a conversion; 0 means started. Reads the input through the callbacks as it
 * needs. */
typedef int32_t(SCV_STDCALL* CreateConverterProc)(ConverterHost* host);
/* Places up to capacity bytes of UTF-8 text in buffer and their number in *count; 0 bytes
 * means the text is exhausted. Result 0 = success, anything else = failure (the host stops
 * reading). */
typedef int32_t(SCV_STDCALL* ReadConverterProc)(ConverterHost* host, char* buffer, int32_t capacity,
                                                int32_t* count);
/* Ends the conversion and frees its state. The result is not used. */
typedef int32_t(SCV_STDCALL* CloseConverterProc)(ConverterHost* host);

/* The exports themselves, as a library defines them. */
/* NOLINTNEXTLINE(readability-identifier-naming): the name the host looks up (SCV_EXPORT_PDF) */
SCV_EXPORT int32_t SCV_CDECL fnPdfScv(const uint16_t* fileName, int32_t fileNameBytes,
                                      PdfTextSink sink, int32_t option4, int32_t option5,
                                      int32_t s1, int32_t option7, int32_t s2, int32_t mode9,
                                      const char* text10, const char* text11);
SCV_EXPORT int32_t SCV_STDCALL CreateConverter(ConverterHost* host);
SCV_EXPORT int32_t SCV_STDCALL ReadConverter(ConverterHost* host, char* buffer, int32_t capacity,
                                             int32_t* count);
SCV_EXPORT int32_t SCV_STDCALL CloseConverter(ConverterHost* host);

/* The byte length stored before a length-prefixed file name (0 for a null name). */
static inline uint32_t ScvFileNameBytes(const uint16_t* fileName) {
  uint32_t n = 0;
  /* NOLINTBEGIN(modernize-use-nullptr, cppcoreguidelines-pro-bounds-pointer-arithmetic): plain C,
   * where there is no nullptr; the length sits in the 4 bytes before the name's first code
   * unit, outside the array the pointer addresses. */
  if (fileName != 0) {
    memcpy(&n, (const unsigned char*)fileName - 4, 4);
  }
  /* NOLINTEND(modernize-use-nullptr, cppcoreguidelines-pro-bounds-pointer-arithmetic) */
  return n;
}

#if defined(__i386__) || defined(_M_IX86)
#ifdef __cplusplus
static_assert(sizeof(ConverterHost) == 32, "ConverterHost is 32 bytes on 32-bit builds");
static_assert(sizeof(AppDataType) == 16, "AppDataType is 16 bytes on 32-bit builds");
#else
_Static_assert(sizeof(ConverterHost) == 32, "ConverterHost is 32 bytes on 32-bit builds");
_Static_assert(sizeof(AppDataType) == 16, "AppDataType is 16 bytes on 32-bit builds");
#endif
#endif

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* SCV_CONVERTER_H */

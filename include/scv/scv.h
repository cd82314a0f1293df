/* scv: document-to-text conversion as a C library (libscv), the engine of scvcmd.
 *
 * One call converts one document to text in a code page:
 *
 *   unsigned char* text = NULL;
 *   size_t length = 0;
 *   int32_t r = scv_convert_file("report.docx", NULL, 65001, 0, &text, &length);
 *   if (r == SCV_OK) fwrite(text, 1, length, stdout);
 *   else fprintf(stderr, "report.docx: %s\n", scv_result_message(r));
 *   scv_free(text);
 *
 * Build with: cc prog.c $(pkg-config --cflags --libs scv)
 *
 * Threads: the converters keep module-wide state (the archive reader of the Office Open XML
 * module, the buffers of the converter-library bridges), so the library runs one conversion
 * at a time. Every function may be called from any thread: conversions are serialised by one
 * lock and wait for one another (a long PDF holds the others back). For parallel conversions
 * use several processes. scv_free, scv_type_of, scv_types, scv_version and scv_result_message
 * take no lock.
 *
 * Side effects: none outside the conversion. The library reads the environment's locale
 * (LC_ALL, LC_*, LANG) into a locale object of its own and never changes the process locale;
 * it prints nothing and writes no file (a document converted from memory lives in an
 * anonymous in-memory file, or, where the system has none, in a temporary file that is
 * removed before the call returns).
 *
 * The text. The bytes are exactly those scvcmd writes for the same document and arguments,
 * byte-order mark included, line ends CR LF. Some outputs end with zero bytes that are part
 * of the text and counted in *length (the converters' own terminators; a C string function
 * stops at the first of them, and tools such as grep take such a file for binary data):
 *
 *   type               65001 (UTF-8)        1200 (UTF-16LE)    other code pages
 *   DOC                BOM, text, one 00    BOM, text          1252: text; others: text, 00
 *   PPT                BOM, text, one 00    BOM, text          text, 00
 *   XLS DOCX PPTX XLSX BOM, text            BOM, text, 00 00   text, 00 00
 *   PDF                BOM, text            BOM, text, 00 00   text, 00 00
 *   HTM RTF HLP        BOM, text            BOM, text          text, 00
 *
 * ("00 00" under "other code pages" is the converted zero character followed by one zero
 * byte.) A document without text gives the same frame without text: *length 0 for PDF, HTML,
 * RTF and WinHelp and for DOC in 1252, the byte-order mark or the terminator otherwise.
 */
#ifndef SCV_SCV_H
#define SCV_SCV_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(SCV_BUILDING_LIBRARY)
#define SCV_API __attribute__((visibility("default")))
#else
#define SCV_API
#endif

/* Results: the same values as the run results of the scvcmd command line. */
#define SCV_OK 0                      /* converted; *text and *length hold the text */
#define SCV_E_LIBRARY_MISSING (-1)    /* the converter library for the type cannot be loaded */
#define SCV_E_NOT_FOUND (-2)          /* the file does not exist, is a directory, or path is NULL */
#define SCV_E_TYPE_NOT_SUPPORTED (-3) /* no converter for the type (or no type for memory) */
#define SCV_E_OPEN (-4)               /* the document cannot be opened (or not stored) */
#define SCV_E_FORMAT (-5)             /* not in the expected format, damaged, or out of memory */
#define SCV_E_ENCRYPTED (-11)         /* the document is password-protected */
/* text or length is NULL, bytes is NULL with a size, a flag bit of the _ex conversions the
 * library does not know, or the code page is one the library cannot serve (scvcmd rejects
 * such a command line with its usage text and exit code 2) */
#define SCV_E_ARGUMENT (-22)

/* Loads the converter libraries (PDF, HTML, RTF, WinHelp) and reads the environment's locale.
 * The conversions call it on first use; calling it first is optional. Returns SCV_OK, or
 * SCV_E_LIBRARY_MISSING when it fails unexpectedly. */
SCV_API int32_t scv_initialize(void);

/* Unloads the converter libraries. Optional; scv_initialize may be called again after it. */
SCV_API void scv_finalize(void);

/* Converts the file at path (bytes of the file-system name).
 * type: "DOC", "DOCX", "PPT", "PPTX", "XLS", "XLSX", "PDF", "HTM", "HTML", "RTF", "HLP" in any
 *       case ("docx" is "DOCX"), or NULL to take it from the file name's extension.
 * code_page: 65001 UTF-8 with a byte-order mark, 1200 UTF-16LE with a byte-order mark, any
 *       Windows code page the library serves (the README lists them), or 0 for the locale's.
 * special_format: PDF layout (0 reading order, also without a value; 1 physical; 2 raw
 *       content order); DOC 1 keeps raw characters; ignored by the other types.
 * On SCV_OK, *text receives a buffer the caller frees with scv_free (it may be NULL when
 * *length is 0) and *length its byte count; on any other result both are set to NULL and 0. */
SCV_API int32_t scv_convert_file(const char* path, const char* type, int32_t code_page,
                                 int32_t special_format, unsigned char** text, size_t* length);

/* Converts a document held in memory (a mail attachment, an archive member): size bytes at
 * bytes. type is required (NULL gives SCV_E_TYPE_NOT_SUPPORTED); everything else is as for
 * scv_convert_file, with exactly the bytes and results a file of the same content gives. */
SCV_API int32_t scv_convert_memory(const void* bytes, size_t size, const char* type,
                                   int32_t code_page, int32_t special_format, unsigned char** text,
                                   size_t* length);

/* Flags of the _ex conversions. SCV_ALL_TEXT: every story of an Office Open XML package,
 * in the order its 97-2003 form keeps them, instead of its main part alone. A document
 * (DOCX) gives its body, then footnotes, headers and footers, comments, endnotes and text
 * boxes; a presentation (PPTX) its slides in the order the presentation shows them, then the
 * notes of each in the same order; a workbook (XLSX) its sheets in the workbook's order under
 * their names, laid out as an XLS sheet is, with every value shown through its number format.
 * The other types already give all their text and ignore the flag. */
#define SCV_ALL_TEXT 1u

/* scv_convert_file and scv_convert_memory with flags (SCV_ALL_TEXT, or 0 for exactly the
 * conversions without flags). A flag bit the library does not know gives SCV_E_ARGUMENT. */
SCV_API int32_t scv_convert_file_ex(const char* path, const char* type, int32_t code_page,
                                    int32_t special_format, uint32_t flags, unsigned char** text,
                                    size_t* length);
SCV_API int32_t scv_convert_memory_ex(const void* bytes, size_t size, const char* type,
                                      int32_t code_page, int32_t special_format, uint32_t flags,
                                      unsigned char** text, size_t* length);

/* Frees a buffer returned by a conversion; NULL is allowed. */
SCV_API void scv_free(void* text);

/* The message of a result as scvcmd words it, without file names: "Input file format not
 * correct" for SCV_E_FORMAT, "OK" for SCV_OK. Also words the command line's own run results 1
 * ("Output file already exists, convert canceled"), 2, -6 and -7; "Unknown result" for any
 * other value. The text is static; do not free it. */
SCV_API const char* scv_result_message(int32_t code);

/* The type text scv_convert_file derives from a file name: its upper-cased extension without
 * the dot ("" when there is none, "." for a trailing lone dot). Writes at most size bytes
 * including the terminating zero and returns the full length. */
SCV_API size_t scv_type_of(const char* path, char* buffer, size_t size);

/* The types the conversions offer, upper case and separated by blanks, in the order the
 * command line's usage text lists them: "PDF DOC PPT XLS DOCX PPTX XLSX RTF HTM HLP". The type
 * "HTML" (the extension of most HTML files) is also accepted and converts as "HTM". */
SCV_API const char* scv_types(void);

/* The library's version, "3.0.0". */
SCV_API const char* scv_version(void);

#ifdef __cplusplus
}
#endif

#endif /* SCV_SCV_H */

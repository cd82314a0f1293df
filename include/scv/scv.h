/* scv: document-to-text conversion as a C library (libscv), the engine of scvcmd.
 *
 * One call converts one document to text in a code page:
 *
 *   unsigned char* text = NULL;
 *   size_t length = 0;
 *   int32_t r = scv_convert_file("report.docx", NULL, 65001, 0, &text, &length);
 *   if (r == SCV_OK) fwrite(text, 1, length, stdout);
 *   scv_free(text);
 *
 * Thread safety: the converters keep module-wide state (the archive reader of the Office Open
 * XML module, the buffers of the converter-library bridges), so the library runs one
 * conversion at a time. Calls from several threads are safe: they are serialised by a lock
 * and wait for one another. For parallel conversions use several processes.
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

/* Result codes: the same values as the run results of the scvcmd command line. */
#define SCV_OK 0
#define SCV_E_LIBRARY_MISSING (-1) /* the converter library for the type cannot be loaded */
#define SCV_E_NOT_FOUND (-2)       /* the source does not exist (or path is NULL) */
#define SCV_E_TYPE_NOT_SUPPORTED (-3)
#define SCV_E_OPEN (-4)   /* the source cannot be opened */
#define SCV_E_FORMAT (-5) /* not in the expected format, or damaged */
#define SCV_E_ENCRYPTED (-11)
#define SCV_E_ARGUMENT (-22) /* text or length is NULL (library calls only) */

/* Loads the converter libraries (PDF, HTML, RTF, WinHelp) and sets the locale from the
 * environment. scv_convert_file calls it on first use; calling it first is optional. */
SCV_API int32_t scv_initialize(void);

/* Unloads the converter libraries. Optional; scv_initialize may be called again after it. */
SCV_API void scv_finalize(void);

/* Converts the file at path (bytes of the file-system name).
 * type: "DOC", "DOCX", "PPT", "PPTX", "XLS", "XLSX", "PDF", "HTM", "HTML", "RTF", "HLP"
 *       (upper case), or NULL to take it from the file name's extension.
 * code_page: 65001 UTF-8 with a byte-order mark, 1200 UTF-16LE with a byte-order mark, any
 *       Windows code page, or 0 for the locale's default.
 * special_format: PDF layout (0 reading order, 1 physical, 2 raw); DOC 1 keeps raw characters.
 * On SCV_OK, *text receives a buffer the caller frees with scv_free (it may be NULL when
 * *length is 0) and *length its byte count; on failure both are set to NULL and 0. */
SCV_API int32_t scv_convert_file(const char* path, const char* type, int32_t code_page,
                                 int32_t special_format, unsigned char** text, size_t* length);

/* Frees a buffer returned by scv_convert_file; NULL is allowed. */
SCV_API void scv_free(void* text);

/* The type text scv_convert_file derives from a file name: its upper-cased extension without
 * the dot ("" when there is none, "." for a trailing lone dot). Writes at most size bytes
 * including the terminating zero and returns the full length. */
SCV_API size_t scv_type_of(const char* path, char* buffer, size_t size);

/* The types scv_convert_file offers, upper case and separated by blanks, in the order the
 * command line's usage text lists them: "PDF DOC PPT XLS DOCX PPTX XLSX RTF HTM HLP". The type
 * "HTML" (the extension of most HTML files) is also accepted and converts as "HTM". */
SCV_API const char* scv_types(void);

/* The library's version, "3.0.0". */
SCV_API const char* scv_version(void);

#ifdef __cplusplus
}
#endif

#endif /* SCV_SCV_H */

/* Converts one document with libscv and writes its text to standard output.
 * Usage: scv_example FILE [CODEPAGE] */
#include "scv/scv.h"

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s FILE [CODEPAGE]\n", argv[0]);
    return 2;
  }
  const int32_t codePage = argc > 2 ? (int32_t)atoi(argv[2]) : 65001;
  unsigned char* text = NULL;
  size_t length = 0;
  const int32_t r = scv_convert_file(argv[1], NULL, codePage, 0, &text, &length);
  if (r != SCV_OK) {
    fprintf(stderr, "%s: %s (%d)\n", argv[1], scv_result_message(r), (int)r);
    return 1;
  }
  fwrite(text, 1, length, stdout);
  scv_free(text);
  scv_finalize();
  return 0;
}

/* Converts one document in a child process, so that whatever the document does to the
 * converters stays in the child, and writes its text to standard output.
 * Usage: scv_child_example FILE */
#include "scv/scv.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

/* Converts path in a child; the text arrives through a pipe and is the caller's to free().
 * Returns the result code, or SCV_E_FORMAT when the child died. A program that confines its
 * child (Landlock, seccomp) does so where the comment says, before the document is read. */
static int32_t ConvertInChild(const char* path, int32_t codePage, unsigned char** text,
                              size_t* length) {
  int fds[2];
  if (pipe(fds) != 0) {
    return SCV_E_FORMAT;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    /* confine this process here */
    unsigned char* out = NULL;
    size_t n = 0;
    const int32_t r = scv_convert_file(path, NULL, codePage, 0, &out, &n);
    for (size_t done = 0; r >= 0 && done < n;) {
      const ssize_t w = write(fds[1], out + done, n - done);
      if (w <= 0) {
        _exit(1);
      }
      done += (size_t)w;
    }
    _exit(r >= 0 ? 0 : 100 - r); /* a failure's code travels in the exit status */
  }
  close(fds[1]);
  size_t size = 0;
  size_t capacity = 0;
  unsigned char* buffer = NULL;
  for (;;) {
    if (size == capacity) {
      capacity = capacity != 0 ? 2 * capacity : 65536;
      unsigned char* larger = realloc(buffer, capacity);
      if (larger == NULL) {
        break;
      }
      buffer = larger;
    }
    const ssize_t got = pid > 0 ? read(fds[0], buffer + size, capacity - size) : 0;
    if (got <= 0) {
      break;
    }
    size += (size_t)got;
  }
  close(fds[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) == 1 || size == capacity) {
    free(buffer); /* died, or the text did not fit in memory */
    return SCV_E_FORMAT;
  }
  if (WEXITSTATUS(status) != 0) {
    free(buffer);
    return 100 - WEXITSTATUS(status);
  }
  *text = buffer;
  *length = size;
  return SCV_OK;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  unsigned char* text = NULL;
  size_t length = 0;
  const int32_t r = ConvertInChild(argv[1], 65001, &text, &length);
  if (r != SCV_OK) {
    fprintf(stderr, "%s: %s (%d)\n", argv[1], scv_result_message(r), (int)r);
    return 1;
  }
  fwrite(text, 1, length, stdout);
  free(text);
  return 0;
}

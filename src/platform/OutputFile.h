// The destination of a conversion, written as one whole: a temporary file beside it that is
// moved into place only once every byte is written, so a failure never leaves part of a text.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace scv::platform {

enum class TPlaceResult {
  kWritten,      // the destination holds every byte
  kExists,       // replace was false and a file of that name appeared meanwhile; nothing written
  kCreateFailed, // no file could be made there (missing folder, a directory, no permission)
  kWriteFailed,  // writing or closing failed (full disk, file-size limit); nothing is left
};

// Writes data to path. A regular file (or a name that does not exist yet) gets the bytes
// through a new file in the same folder, created exclusively with the permissions a direct
// create would give (an existing file's mode when replacing it), closed and then renamed over
// the destination; on any failure the temporary file is removed and the
// destination is as it was. Without replace the rename never replaces a file that appeared
// since the caller looked (kExists). Symbolic links are followed, so the file they point at
// gets the text. A destination that is not a regular file (a device, a pipe) is written
// directly, as is an existing file in a folder where no new file can be made.
TPlaceResult WriteFileAtomically(std::string_view path, std::span<const std::uint8_t> data,
                                 bool replace);

} // namespace scv::platform

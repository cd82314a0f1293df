// The destination file of a confined conversion, written by a process forked before the
// confinement: the converting process, which may write nothing in the file system, hands it the
// finished text through a pipe, and it places the text as platform::WriteFileAtomically does.
// Its one decision is taken from the program's arguments, never from the document, so a
// conversion gone wrong can at most give the destination other text.
#pragma once

#include "platform/OutputFile.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace scv::sandbox {

class TDestinationWriter {
public:
  TDestinationWriter() = default;
  // A writer that was started and never given text ends without touching the destination.
  ~TDestinationWriter();
  TDestinationWriter(const TDestinationWriter&) = delete;
  TDestinationWriter& operator=(const TDestinationWriter&) = delete;

  // Forks the writer for path; false when no process could be started.
  bool Start(std::string_view path, bool replace);
  bool Started() const { return pid_ > 0; }

  // Hands the text over and waits for the outcome; kWriteFailed when the writer is gone.
  platform::TPlaceResult Write(std::span<const std::uint8_t> data);

private:
  void Finish();

  pid_t pid_ = -1;
  int toWriter_ = -1;
  int fromWriter_ = -1;
};

} // namespace scv::sandbox

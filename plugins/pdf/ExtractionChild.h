// Running an extraction in a forked child process under memory and time ceilings, its text
// streamed back over a pipe. The PDF engine is third-party code that hostile input can drive
// into unbounded memory, endless loops or crashes; in a child none of that reaches the host.
#pragma once

#include "PdfText.h"

#include <ScvConverter.h>
#include <cstdint>

namespace scv::plugins::pdf {

struct TChildLimits {
  // Resident memory the child may hold beyond what its parent held when it started.
  std::uint64_t memoryBytes = 0;
  // Processor time of the child (user and system), whole seconds.
  std::uint32_t cpuSeconds = 0;
  // Wall-clock time from the start of the child to its end, milliseconds.
  std::uint32_t wallMilliseconds = 0;
};

// The ceilings for a document of inputBytes bytes.
TChildLimits LimitsForInput(std::uint64_t inputBytes);

// How a child ended.
enum class TChildEnd {
  kFinished,     // delivered all its text and its result, and exited normally
  kStartFailed,  // no pipe or no process could be made
  kMemoryLimit,  // killed: resident memory above the ceiling
  kTimeLimit,    // killed: wall-clock ceiling passed (the processor-time ceiling ends it
                 // with a signal, kAbnormalExit)
  kAbnormalExit, // crashed, was killed by a signal, or exited without delivering its result
  kBrokenStream, // wrote something that is not the stream format
};

struct TChildOutcome {
  std::int32_t result = kUnreadable; // the work's own result when kFinished
  TChildEnd end = TChildEnd::kAbnormalExit;
  std::uint64_t peakMemoryBytes = 0; // the highest memory growth of the child seen
};

// The work the child does: writes its text to out and returns a result code.
using TChildWork = std::int32_t (*)(void* context, TTextOutput& out);

// Runs work(context, ...) in a child process. The text it writes reaches sink in the same
// order and bytes, in pieces of at most 64 KiB. Unless the child finishes, the result is
// kUnreadable (kInternal when no child could be started); the sink may then have received
// part of the text, which the caller discards with the failure.
//
// The child gets /dev/null as standard input, output and error, its end of the pipe as
// descriptor 3 and no other descriptor of the parent, default handling of the fatal signals,
// a processor-time limit, no core dump, and dies with the parent.
// Single-threaded callers only (fork copies just the calling thread).
TChildOutcome RunInChild(const TChildLimits& limits, TChildWork work, void* context,
                         PdfTextSink sink) noexcept;

} // namespace scv::plugins::pdf

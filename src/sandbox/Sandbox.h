// Confinement of a conversion on Linux: Landlock limits the file system to reading the source
// and the files the loaded libraries need, and to no writes at all; a seccomp filter refuses
// starting programs, sockets and access to other processes' memory. Both are best effort: what
// the kernel lacks is left out, and the conversion runs as it would without it.
#pragma once

#include <string>
#include <string_view>

namespace scv::sandbox {

// The protections in force (or that a conversion would get).
struct TProtections {
  bool landlock = false;
  bool seccomp = false;
};

// True when SCV_NO_SANDBOX is set to a non-empty value other than "0": no confinement at all,
// for debugging.
bool SwitchedOff();

// What a conversion of this process would get on this kernel, without confining anything.
TProtections Available();

// "landlock, seccomp", "seccomp", "landlock", "none", or "off" when switched off.
std::string Describe(const TProtections& protections, bool switchedOff);

// Confines the calling process for the rest of its life: reading the source and what the
// loaded libraries open lazily (shared libraries, the engines beside converter libraries loaded
// from elsewhere, character-set modules, locale data, fonts and font configuration, the PDF
// engine's data, /proc, and the folders LOCPATH, GCONV_PATH, TZDIR, LD_LIBRARY_PATH and the
// font configuration's variables name), writing nothing in the file system, and the
// system-call filter. An empty source is standard input: its document is read back through an
// anonymous file no rule can name, so reads are not limited then. Descriptors that are already
// open keep working. Without fileSystem only the system-call filter applies (for a caller that
// must still write a file itself). Returns what was applied; nothing when switched off.
TProtections ConfineConversion(std::string_view source, bool fileSystem);

// The system-call filter for a forked worker (the PDF engine's child), whatever host forked
// it. Its file-system rules are its parent's: a Landlock domain of its own would shut it out
// of the parent's /proc entries, through which it reads a document held in memory. Returns
// what was applied; nothing when switched off.
TProtections ConfineWorker();

} // namespace scv::sandbox

// Hostile document shapes for the resource-limit tests: deep nesting, huge counts in headers,
// many tiny records, long runs of one character and huge dimensions, built in memory at a
// chosen size n so that a test can compare the cost at n and at a multiple of n.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace scv::test {

struct TShape {
  const char* name;
  const char* type; // forced type ("-t" value)
  std::function<std::string(std::size_t n)> build;
  std::size_t n;        // nominal size for the single run
  bool scaled;          // also compared against a run four times the size
  long rssPerByte = 0;  // peak resident bytes allowed per input byte, when not the default
  long rssSlackKb = 0;  // fixed room over the baseline, when not the default
  bool allText = false; // converted with --all-text
};

// Every shape, grouped by the parser it aims at.
const std::vector<TShape>& HostileShapes();

} // namespace scv::test

// Builds small PDF files for tests: numbered objects (the first is the catalog) with a correct
// cross-reference table.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace scv::test {

// A PDF whose objects 1, 2, ... are `objects`, in that order; object 1 is the document root.
inline std::string BuildPdf(const std::vector<std::string>& objects) {
  std::string pdf = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (const std::size_t off : offsets) {
    const std::string digits = std::to_string(off);
    pdf += std::string(10 - digits.size(), '0') + digits + " 00000 n \n";
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

} // namespace scv::test

// The program body: converts one document and exits with the run result's low byte.
#include "frontend/CommandLine.h"

int main(int argc, char** argv) {
  return static_cast<int>(static_cast<std::uint32_t>(scv::frontend::RunProgram(argc, argv)) &
                          0xFFu);
}

// quillbend-cli interpret over many files in one process: for each file
// named on standard input (one path a line), the line `quillbend-cli
// interpret FILE` prints, or "{}" when it fails. The check of real-world
// feeds runs this instead of starting the tool once per document, which
// costs more than the interpretation itself.
#include <iostream>
#include <sstream>
#include <string>

#include "tools/Cli.h"

int main() {
  std::string path;
  while (std::getline(std::cin, path)) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = qb::cli::RunCli({"interpret", path}, out, err);
    std::string line = out.str();
    if (status != 0 || line.empty()) line = "{}\n";
    std::cout << line;
    std::cout.flush();
  }
  return 0;
}

#include <iostream>
#include <string>
#include <vector>

#include "tools/Cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return qb::cli::RunCli(args, std::cout, std::cerr);
}

#include "tools/Cli.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "base/Text.h"

namespace qb::cli {

namespace {

std::map<std::string, CliCommand>& Registry() {
  static std::map<std::string, CliCommand> commands;
  return commands;
}

void PrintHelp(std::ostream& out) {
  out << "quillbend-cli: the Quillbend feed reader without a window\n\n"
         "Usage: quillbend-cli [--data FILE] COMMAND [ARGS]\n\n"
         "Commands:\n";
  for (const auto& [name, command] : Registry()) out << "  " << command.usage << "\n";
  for (const auto& [name, command] : Registry()) {
    if (!command.notes.empty()) out << "\n" << command.notes << "\n";
  }
  out << "\nOptions:\n"
         "  --data FILE   use FILE as the data file instead of the user's own\n"
         "  --help        show this help\n"
         "  --version     show the version\n";
}

}  // namespace

bool RegisterCommand(CliCommand command) {
  std::string name = command.name;
  Registry().emplace(std::move(name), std::move(command));
  return true;
}

bool ReadFileBytes(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  bytes = ss.str();
  return !in.bad();
}

std::string TerminalText(std::u16string_view text) {
  std::u16string safe(text);
  for (char16_t& c : safe) {
    if ((c < 0x20 && c != u'\t') || (c >= 0x7F && c <= 0x9F)) c = 0xFFFD;
  }
  return Utf16ToUtf8(safe);
}

std::string TerminalText(std::string_view utf8) { return TerminalText(Utf8ToUtf16(utf8)); }

void PrintJsonLine(std::ostream& out, const std::string& json) {
  out << json << '\n';
  out.flush();
}

namespace {

int Run(const std::vector<std::string>& argv, std::istream* in, std::ostream& out, std::ostream& err,
        const IClock& clock) {
  std::vector<std::string> rest;
  std::optional<std::string> dataFile;
  std::optional<std::string> commandName;
  bool literal = false;  // after "--" everything is an argument
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (!literal && a == "--") {
      literal = true;
      rest.push_back(a);
    } else if (!literal && a == "--data") {
      if (i + 1 >= argv.size()) {
        err << "quillbend-cli: --data needs a file name\n";
        return 2;
      }
      dataFile = argv[++i];
    } else if (!literal && !commandName && (a == "--help" || a == "-h")) {
      PrintHelp(out);
      return 0;
    } else if (!literal && !commandName && a == "--version") {
      out << "quillbend-cli " << QB_VERSION << "\n";
      return 0;
    } else if (!commandName) {
      commandName = a;
    } else {
      rest.push_back(a);
    }
  }
  if (!commandName) {
    PrintHelp(err);
    return 2;
  }
  auto it = Registry().find(*commandName);
  if (it == Registry().end()) {
    err << "quillbend-cli: unknown command '" << *commandName << "' (see --help)\n";
    return 2;
  }
  CliContext ctx{std::move(rest), dataFile, out, err, clock, nullptr, in};
  return it->second.run(ctx);
}

}  // namespace

int RunCli(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err, const IClock& clock) {
  return Run(argv, nullptr, out, err, clock);
}

int RunCli(const std::vector<std::string>& argv, std::istream& in, std::ostream& out, std::ostream& err,
           const IClock& clock) {
  return Run(argv, &in, out, err, clock);
}

}  // namespace qb::cli

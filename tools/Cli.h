// quillbend-cli: the headless command-line tool. Each command registers
// itself from its own source file with QB_CLI_COMMAND.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Clock.h"

namespace qb::cli {

class CUserDataSession;

struct CliContext {
  std::vector<std::string> args;      // after the command name, --data removed
  std::optional<std::string> dataFile;  // --data FILE, before or after the command
  std::ostream& out;
  std::ostream& err;
  const IClock& clock;  // given to every model the command loads
  // The library a command loaded, until it saves (tools/UserData.h).
  std::shared_ptr<CUserDataSession> session;
  // Standard input; null: the process's own (a terminal's echo can be
  // turned off there).
  std::istream* in = nullptr;
};

struct CliCommand {
  std::string name;
  std::string usage;    // one line for --help
  std::function<int(CliContext&)> run;  // returns the exit status
  // More for --help, a paragraph of its own after the list of commands;
  // empty for none.
  std::string notes = {};
};

bool RegisterCommand(CliCommand command);

// Runs the tool on argv (without the program name); returns the exit status.
// Models read `clock` (tests give a fake one).
int RunCli(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err,
           const IClock& clock = SystemClock());
// The same with `in` for standard input.
int RunCli(const std::vector<std::string>& argv, std::istream& in, std::ostream& out, std::ostream& err,
           const IClock& clock = SystemClock());

// Reads a whole file as bytes; false when it cannot be opened.
bool ReadFileBytes(const std::string& path, std::string& bytes);

// Writes one canonical JSON line.
void PrintJsonLine(std::ostream& out, const std::string& json);

// Text from a feed, a file or a server as a line of human-readable output:
// UTF-8, with every control character but tab (C0, DEL and C1, line ends
// included) replaced by U+FFFD, so that no text can move the cursor, set
// the terminal's title or colours, or start a line of its own.
std::string TerminalText(std::u16string_view text);
std::string TerminalText(std::string_view utf8);

}  // namespace qb::cli

#define QB_CLI_CONCAT_(a, b) a##b
#define QB_CLI_CONCAT(a, b) QB_CLI_CONCAT_(a, b)
#define QB_CLI_COMMAND(...) \
  static const bool QB_CLI_CONCAT(qb_cli_registered_, __LINE__) = ::qb::cli::RegisterCommand(__VA_ARGS__)

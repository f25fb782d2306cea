// The `tarn` command: each subcommand lives in its own cmd_*.cpp file and
// registers itself with a static Registration object, so that subsystems add
// commands without touching a shared table.
#pragma once

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::cli {

enum ExitCode : int { kSuccess = 0, kFailure = 1, kUsage = 2 };

using CommandFn = int (*)(const std::vector<std::string>& args);

struct Command {
    const char* name;     // "send", or "book show" for a two-word command
    const char* usage;    // UTF-8, one or more lines after "tarn "
    const char* summary;  // UTF-8, one line for `tarn --help`
    CommandFn run;        // receives the arguments after the command's name
};

struct Registration {
    explicit Registration(const Command& command);
};

const std::vector<Command>& commands();

// Writes UTF-8 text to stdout / stderr.
void out(std::string_view utf8);
void err(std::string_view utf8);
// Converts Shift_JIS text from the core to UTF-8 for the terminal
// (undecodable bytes are shown as U+FFFD rather than dropped).
std::string fromSjis(std::string_view sjis);
// UTF-8 from the terminal or an option to Shift_JIS. On a character CP932 cannot
// hold, prints which one (with `what` naming the option) and returns nullopt.
std::optional<std::string> toSjis(std::string_view utf8, std::string_view what);

// Prints "tarn: MESSAGE" on stderr and returns kFailure.
int fail(std::string_view utf8Message);
// Prints the usage of `command` on stderr with a reason and returns kUsage.
int usageError(const Command& command, std::string_view reason);

// A small option parser: options may repeat; "--name VALUE" or "--name=VALUE";
// anything not starting with "--" is positional; "--" ends the options.
class Args {
public:
    // valueOptions take a value; flagOptions do not. Unknown options are errors.
    Args(const std::vector<std::string>& args, std::vector<std::string> valueOptions,
         std::vector<std::string> flagOptions);

    bool ok() const { return m_error.empty(); }
    const std::string& error() const { return m_error; }
    const std::vector<std::string>& positional() const { return m_positional; }
    bool has(const std::string& name) const;
    std::optional<std::string> value(const std::string& name) const;  // the last one given
    std::vector<std::string> values(const std::string& name) const;   // all, in order

private:
    std::multimap<std::string, std::string> m_values;
    std::vector<std::pair<std::string, std::string>> m_ordered;
    std::vector<std::string> m_positional;
    std::string m_error;
};

// JSON string literal (UTF-8 in, escaped out).
std::string jsonString(std::string_view utf8);

}  // namespace tarn::cli

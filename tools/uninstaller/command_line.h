// The companion uninstaller's command line:
//   tluninstall.exe <record name> [/S | /quiet | /passive]
// and, between its own two processes, "/from <path>" naming the original
// program that the copy in the temporary folder stands in for. Pure: no
// <windows.h>.
#pragma once

#include <string>
#include <vector>

#include "platform/ansi_chars.h"

namespace uninst {

enum class UiLevel {
  Full,     // confirmation, progress window, final message box
  Passive,  // progress window only; no question, no final box; log file
  Silent,   // no window at all; log file
};

struct CommandLine {
  std::string recordName;    // subkey of ...\CurrentVersion\Uninstall
  UiLevel ui = UiLevel::Full;
  std::string originalPath;  // set only in the temporary copy ("/from")
};

enum class CommandLineProblem {
  None = 0,
  NoRecordName = 1,
  UnknownOption = 2,
  ExtraArgument = 3,      // a second record name
  MissingOptionValue = 4, // "/from" at the end
  BadRecordName = 5,      // holds a backslash: it would reach a deeper key
};

// Splits the arguments that follow the program name with the usual Windows
// rules (whitespace separates; quotes group; 2n backslashes before a quote give
// n backslashes and the quote toggles grouping; 2n+1 give n and a literal
// quote; other backslashes are literal). leadBytes are those of the ANSI code
// page the text is in: a two-byte character is one, so the second byte of
// code page 932's "表" (0x5C) never escapes a quote, as in the C runtime's
// multibyte parser.
std::vector<std::string> splitArguments(const std::string& text, const LeadBytes& leadBytes = LeadBytes());

// The inverse of splitArguments for one argument: quoted only when needed,
// with backslashes before quotes doubled (characters as splitArguments reads
// them).
std::string quoteArgument(const std::string& argument, const LeadBytes& leadBytes = LeadBytes());

// The text after the program name. A quoted program name ends at its closing
// quote, as the installer writes it now; earlier versions wrote it unquoted
// ("C:\Program Files\TowerLink\tluninstall.exe TowerLink"), so an unquoted
// program path with spaces is recognised by the running program's own path
// (modulePath, compared case-insensitively), or else by the first ".exe"
// followed by a space.
std::string argumentsAfterProgramName(const std::string& commandLine, const std::string& modulePath);

// Parses the whole command line (program name included). On success returns
// None and fills *out. On failure returns the first problem and sets
// *offending to the argument at fault (empty when none); *out still holds the
// UI level and whatever else was understood, so a scripted run that asked for
// /S is not stopped by a message box.
// A record name holds no backslash character (leadBytes as for splitArguments).
CommandLineProblem parseCommandLine(const std::string& commandLine, const std::string& modulePath,
                                    CommandLine* out, std::string* offending,
                                    const LeadBytes& leadBytes = LeadBytes());

// Arguments for the temporary copy: the record name, the UI option if any, and
// "/from" with the original program's path, each quoted as needed.
std::string buildCopyArguments(const CommandLine& args, const std::string& originalPath,
                               const LeadBytes& leadBytes = LeadBytes());

}  // namespace uninst

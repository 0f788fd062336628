#include "tools/uninstaller/command_line.h"

namespace uninst {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t'; }

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithIgnoreCase(const std::string& text, size_t at, const std::string& prefix) {
  if (text.size() - at < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (lowerAscii(text[at + i]) != lowerAscii(prefix[i])) return false;
  }
  return true;
}

bool equalsIgnoreCase(const std::string& a, const char* b) {
  return a.size() == std::char_traits<char>::length(b) && startsWithIgnoreCase(a, 0, b);
}

// Whether text[i] starts a character of two bytes. No double-byte code page
// has a second byte below 0x40, so a space, tab or quote after a lead byte
// (text that is not valid in the code page) stays a character of its own.
bool startsPair(const std::string& text, size_t i, const LeadBytes& leadBytes) {
  return i + 1 < text.size() && leadBytes.isLead(static_cast<unsigned char>(text[i])) &&
         static_cast<unsigned char>(text[i + 1]) >= 0x40;
}

}  // namespace

std::vector<std::string> splitArguments(const std::string& text, const LeadBytes& leadBytes) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = text.size();
  while (true) {
    while (i < n && isSpace(text[i])) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || !isSpace(text[i]))) {
      if (startsPair(text, i, leadBytes)) {
        // One character of two bytes; its second byte is never a backslash
        // of its own.
        arg.append(text, i, 2);
        i += 2;
      } else if (text[i] == '\\') {
        size_t slashes = 0;
        while (i < n && text[i] == '\\') {
          ++slashes;
          ++i;
        }
        if (i < n && text[i] == '"') {
          arg.append(slashes / 2, '\\');
          if (slashes % 2) {
            arg.push_back('"');
            ++i;
          }
          // An even count leaves the quote to the branch below.
        } else {
          arg.append(slashes, '\\');
        }
      } else if (text[i] == '"') {
        // Inside quotes, "" is one literal quote (the runtime's rule).
        if (quoted && i + 1 < n && text[i + 1] == '"') {
          arg.push_back('"');
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg.push_back(text[i]);
        ++i;
      }
    }
    args.push_back(arg);
  }
  return args;
}

std::string quoteArgument(const std::string& argument, const LeadBytes& leadBytes) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string out = "\"";
  size_t slashes = 0;  // backslashes just copied, which a quote would turn into escapes
  bool trail = false;  // the second byte of a two-byte character comes next
  for (size_t i = 0; i < argument.size(); ++i) {
    const char c = argument[i];
    if (trail) {
      trail = false;
      slashes = 0;
    } else if (startsPair(argument, i, leadBytes)) {
      trail = true;
      slashes = 0;
    } else if (c == '"') {
      // Those copied backslashes must be doubled, and the quote escaped.
      out.append(slashes + 1, '\\');
      slashes = 0;
    } else {
      slashes = (c == '\\') ? slashes + 1 : 0;
    }
    out.push_back(c);
  }
  // Backslashes before the closing quote must be doubled or they escape it.
  out.append(slashes, '\\');
  out.push_back('"');
  return out;
}

std::string argumentsAfterProgramName(const std::string& commandLine, const std::string& modulePath) {
  size_t i = 0;
  const size_t n = commandLine.size();
  while (i < n && isSpace(commandLine[i])) ++i;
  if (i < n && commandLine[i] == '"') {
    size_t close = commandLine.find('"', i + 1);
    return close == std::string::npos ? std::string() : commandLine.substr(close + 1);
  }
  if (!modulePath.empty() && startsWithIgnoreCase(commandLine, i, modulePath) &&
      (i + modulePath.size() == n || isSpace(commandLine[i + modulePath.size()]))) {
    return commandLine.substr(i + modulePath.size());
  }
  // The first ".exe" that ends a word ends the program path, spaces or not.
  for (size_t at = i; at + 4 <= n; ++at) {
    if (commandLine[at] == '"') break;
    if (startsWithIgnoreCase(commandLine, at, ".exe") && (at + 4 == n || isSpace(commandLine[at + 4]))) {
      return commandLine.substr(at + 4);
    }
  }
  while (i < n && !isSpace(commandLine[i])) ++i;
  return commandLine.substr(i);
}

CommandLineProblem parseCommandLine(const std::string& commandLine, const std::string& modulePath,
                                    CommandLine* out, std::string* offending, const LeadBytes& leadBytes) {
  *out = CommandLine();
  offending->clear();
  std::vector<std::string> args = splitArguments(argumentsAfterProgramName(commandLine, modulePath), leadBytes);
  // Every argument is looked at even after a problem, so that /S still keeps
  // a scripted run from showing a message box about the problem.
  CommandLineProblem problem = CommandLineProblem::None;
  auto note = [&](CommandLineProblem p, const std::string& arg) {
    if (problem == CommandLineProblem::None) {
      problem = p;
      *offending = arg;
    }
  };
  bool haveName = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!a.empty() && (a[0] == '/' || a[0] == '-')) {
      std::string option = a.substr(1);
      if (equalsIgnoreCase(option, "S") || equalsIgnoreCase(option, "quiet") || equalsIgnoreCase(option, "silent")) {
        out->ui = UiLevel::Silent;
      } else if (equalsIgnoreCase(option, "passive")) {
        if (out->ui != UiLevel::Silent) out->ui = UiLevel::Passive;
      } else if (equalsIgnoreCase(option, "from")) {
        if (i + 1 >= args.size() || args[i + 1].empty()) {
          note(CommandLineProblem::MissingOptionValue, a);
        } else {
          out->originalPath = args[++i];
        }
      } else {
        note(CommandLineProblem::UnknownOption, a);
      }
      continue;
    }
    if (haveName) {
      note(CommandLineProblem::ExtraArgument, a);
      continue;
    }
    if (a.empty() || findLastBackslash(a, leadBytes) != std::string::npos) {
      note(CommandLineProblem::BadRecordName, a);
      continue;
    }
    out->recordName = a;
    haveName = true;
  }
  if (!haveName) note(CommandLineProblem::NoRecordName, std::string());
  return problem;
}

std::string buildCopyArguments(const CommandLine& args, const std::string& originalPath, const LeadBytes& leadBytes) {
  std::string text = quoteArgument(args.recordName, leadBytes);
  if (args.ui == UiLevel::Silent) text += " /S";
  if (args.ui == UiLevel::Passive) text += " /passive";
  text += " /from ";
  text += quoteArgument(originalPath, leadBytes);
  return text;
}

}  // namespace uninst

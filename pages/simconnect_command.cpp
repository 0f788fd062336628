#include "pages/simconnect_command.h"

#include <cstring>

std::string msiexecPath(const std::string& systemDir, const LeadBytes& leadBytes) {
  if (systemDir.empty()) return std::string();
  std::string path = systemDir;
  if (!lastCharIsBackslash(path, leadBytes)) path += '\\';
  path += "msiexec.exe";
  return path;
}

bool buildSimConnectCommandLine(const std::string& productDir, char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return false;
  const std::string command = std::string("msiexec /i \"") + productDir + kSimConnectPackage + "\"";
  if (command.size() + 1 > size) {
    buffer[0] = '\0';
    return false;
  }
  std::memcpy(buffer, command.c_str(), command.size() + 1);
  return true;
}

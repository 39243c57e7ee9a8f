#include "import/command_line.h"

#include <filesystem>
#include <utility>

namespace prodloader {

namespace {

std::vector<std::string> SplitAtBlanks(const std::string& text) {
  std::vector<std::string> tokens;
  size_t start = 0;
  for (;;) {
    const size_t blank = text.find(' ', start);
    if (blank == std::string::npos) {
      tokens.push_back(text.substr(start));
      return tokens;
    }
    tokens.push_back(text.substr(start, blank - start));
    start = blank + 1;
  }
}

std::string* SettingFor(Settings& s, const std::string& name) {
  static const std::pair<const char*, std::string Settings::*> kSwitches[] = {
      {"/DBSERVER", &Settings::DbServer},
      {"/USER", &Settings::DbUser},
      {"/PWD", &Settings::DbPwd},
      {"/WEBSERVER", &Settings::HostName},
      {"/KELMOR", &Settings::KelmorDb},
      {"/KELMORUSER", &Settings::KelmorDbUser},
      {"/KELMORPWD", &Settings::KelmorPwd},
      {"/BREVANE", &Settings::BrevaneDb},
      {"/BREVANEUSER", &Settings::BrevaneDbUser},
      {"/BREVANEPWD", &Settings::BrevanePwd},
      {"/FALCREST", &Settings::FalcrestDb},
      {"/FALCRESTUSER", &Settings::FalcrestDbUser},
      {"/FALCRESTPWD", &Settings::FalcrestPwd},
      {"/EXCHANGE", &Settings::SchemeFolder},
      {"/LOG", &Settings::LogFolder},
      {"/VER", &Settings::VornVersion},
  };
  for (const auto& [text, member] : kSwitches)
    if (name == text) return &(s.*member);
  return nullptr;
}

}  // namespace

std::string Settings::PackageName() const { return "Prodloader_" + VornVersion + "_" + KelmorDb; }

std::string Settings::PackageLogFolder() const {
  return LogFolder + static_cast<char>(std::filesystem::path::preferred_separator) + PackageName();
}

Settings ParseCommandLine(const std::string& command_line) {
  Settings settings;
  const std::vector<std::string> tokens = SplitAtBlanks(command_line);
  for (size_t i = 0; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    const size_t colon = token.find(':');
    const std::string name = colon == std::string::npos ? token : token.substr(0, colon);
    std::string value = colon == std::string::npos ? std::string() : token.substr(colon + 1);
    if (value.find('"') != std::string::npos) {
      const bool closed_here = value.size() >= 2 && value.back() == '"';
      bool closed = closed_here;
      if (!closed_here) {
        while (i + 1 < tokens.size()) {
          ++i;
          value += " " + tokens[i];
          if (tokens[i].find('"') != std::string::npos) {
            closed = true;
            break;
          }
        }
      }
      if (closed) {
        value = value.substr(1, value.size() - 2);
      } else if (value.front() == '"') {
        // The closing quote never came: the value runs to the last token.
        value.erase(0, 1);
      }
    }
    if (std::string* setting = SettingFor(settings, name)) *setting = std::move(value);
  }
  return settings;
}

std::string JoinArguments(const std::vector<std::string>& arguments) {
  std::string text;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i) text += ' ';
    const std::string& a = arguments[i];
    if (a.find(' ') == std::string::npos || a.find('"') != std::string::npos) {
      text += a;
      continue;
    }
    const size_t colon = a.find(':');
    if (colon == std::string::npos)
      text += "\"" + a + "\"";
    else
      text += a.substr(0, colon + 1) + "\"" + a.substr(colon + 1) + "\"";
  }
  return text;
}

}  // namespace prodloader

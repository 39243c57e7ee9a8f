// The settings of prodloader and how its command line gives them. The
// command line is one text split at single blanks; a token "NAME:VALUE"
// sets the setting whose switch is NAME (compared exactly, so "/ver:" is
// not "/VER:"); a value opening a double quote runs on over the following
// tokens up to the one holding the closing quote, and loses its quotes. A
// later switch replaces an earlier one; anything else is ignored.
//
// Thread-safety: plain functions and a value type.
#pragma once

#include <string>
#include <vector>

namespace prodloader {

struct Settings {
  std::string DbServer;        // /DBSERVER
  std::string DbUser;          // /USER
  std::string DbPwd;           // /PWD
  std::string HostName;        // /WEBSERVER (accepted, not used)
  std::string KelmorDb;        // /KELMOR
  std::string KelmorDbUser;    // /KELMORUSER (accepted, not used)
  std::string KelmorPwd;       // /KELMORPWD (accepted, not used)
  std::string BrevaneDb;       // /BREVANE
  std::string BrevaneDbUser;   // /BREVANEUSER (accepted, not used)
  std::string BrevanePwd;      // /BREVANEPWD (accepted, not used)
  std::string FalcrestDb;      // /FALCREST (accepted, not used)
  std::string FalcrestDbUser;  // /FALCRESTUSER (accepted, not used)
  std::string FalcrestPwd;     // /FALCRESTPWD (accepted, not used)
  std::string SchemeFolder;    // /EXCHANGE
  std::string LogFolder;       // /LOG
  std::string VornVersion;     // /VER

  // "Prodloader_" + VornVersion + "_" + KelmorDb.
  std::string PackageName() const;
  // LogFolder + separator + PackageName.
  std::string PackageLogFolder() const;
};

// Parses a command line text. A quoted value whose closing quote never
// comes ends at the last token and loses only its opening quote.
Settings ParseCommandLine(const std::string& command_line);

// The command line as one text from a program's arguments. The shell has
// already taken the quotes off an argument holding blanks; they are put
// back around its value so the text splits as it was typed.
std::string JoinArguments(const std::vector<std::string>& arguments);

}  // namespace prodloader

// The parsed command line: the command, its arguments and the options, which
// may stand before or after the command ("--opt value" or "--opt=value"; "--"
// ends the options). Parsing checks only the form; each command checks which
// options it takes.
//
//   CommandLine line = CommandLine::parse(argc, argv);   // throws CommandError(kUsage)
//   if (line.getCommand() == "dump") ...
#pragma once

#include <string>
#include <vector>

namespace vesk::legacy::hollinctl {

enum class OutputFormat { Text, Json, Xml };

class CommandLine {
  public:
    static CommandLine parse(int argc, const char* const* argv);

    // Empty when none was given (then only --help makes sense).
    const std::string& getCommand() const { return mCommand; }
    const std::vector<std::string>& getArguments() const { return mArguments; }
    bool isHelpRequested() const { return mHelp; }

    // The connection string; "" (the current user) unless --entity was given.
    const std::string& getEntity() const { return mEntity; }
    bool hasEntity() const { return mHasEntity; }
    OutputFormat getFormat() const { return mFormat; }
    bool hasFormat() const { return mHasFormat; }
    const std::string& getLocale() const { return mLocale; }
    bool hasLocale() const { return mHasLocale; }
    // The account named by --user (hollinctl cache refresh).
    const std::string& getUser() const { return mUser; }
    bool hasUser() const { return mHasUser; }

  private:
    std::string mCommand;
    std::vector<std::string> mArguments;
    bool mHelp = false;
    std::string mEntity;
    bool mHasEntity = false;
    OutputFormat mFormat = OutputFormat::Text;
    bool mHasFormat = false;
    std::string mLocale;
    bool mHasLocale = false;
    std::string mUser;
    bool mHasUser = false;
};

}  // namespace vesk::legacy::hollinctl

// zytfilt: the command-line host of the filter module.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/zytfilt/Commands.h"

namespace {

const char kUsage[] =
    "usage: zytfilt COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  reg      read and write the machine's registry (export, import, query)\n"
    "  help     show this text, or a command's with 'zytfilt help COMMAND'\n"
    "\n"
    "environment:\n"
    "  ZYT_REGISTRY   the registry file (default ~/.local/share/zyt/registry.db)\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    if (args.size() >= 2 && args[0] == "help" && args[1] == "reg") return RunRegCommand({"--help"});
    std::fputs(kUsage, stdout);
    return args.empty() ? 2 : 0;
  }
  std::string command = args[0];
  args.erase(args.begin());
  if (command == "reg") return RunRegCommand(args);
  std::fprintf(stderr, "zytfilt: unknown command '%s' (see 'zytfilt --help')\n", command.c_str());
  return 2;
}

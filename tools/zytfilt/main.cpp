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
    "  dump        filter files as the indexer would and print every chunk\n"
    "  setup       prepare this machine: registry, settings, modules (safe to repeat)\n"
    "  register    run a module's DllRegisterServer\n"
    "  unregister  run a module's DllUnregisterServer\n"
    "  index       filter a catalog's folders into its search index\n"
    "  catalog     list, add and remove the indexer's catalogs\n"
    "  search      find files in a catalog's index by words and properties\n"
    "  doctypes    choose per extension the filter, converter and thumbnailer\n"
    "  reg         read and write the machine's registry (export, import, query)\n"
    "  help        this text; 'zytfilt COMMAND --help' for a command's\n"
    "\n"
    "environment:\n"
    "  ZYT_REGISTRY    the registry file (default ~/.local/share/zyt/registry.db)\n"
    "  ZYT_SETTINGS    the settings file (default ~/.local/share/zyt/settings.xml)\n"
    "  ZYT_MODULE_DIR  where the modules are (default: ../lib/zytfilters or ../lib beside zytfilt)\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    if (args.size() >= 2 && args[0] == "help") {
      args = {args[1], "--help"};
    } else {
      std::fputs(kUsage, args.empty() ? stderr : stdout);
      return args.empty() ? 2 : 0;
    }
  }
  std::string command = args[0];
  args.erase(args.begin());
  if (command == "reg") return RunRegCommand(args);
  if (command == "setup") return RunSetupCommand(args);
  if (command == "dump") return RunDumpCommand(args);
  if (command == "index") return RunIndexCommand(args);
  if (command == "index-worker") return RunIndexWorker(args);
  if (command == "catalog") return RunCatalogCommand(args);
  if (command == "search") return RunSearchCommand(args);
  if (command == "doctypes") return RunDoctypesCommand(args);
  if (command == "register") return RunRegisterCommand(args, true);
  if (command == "unregister") return RunRegisterCommand(args, false);
  std::fprintf(stderr, "zytfilt: unknown command '%s' (see 'zytfilt --help')\n", command.c_str());
  return 2;
}

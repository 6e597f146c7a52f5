// zytfilt catalog: the indexer's catalogs and the folders they cover.
#include <cstdio>

#include "platform/indexer/Catalogs.h"
#include "platform/win32/WinError.h"
#include "platform/win32/Strings.h"
#include "tools/zytfilt/Commands.h"
#include "tools/zytfilt/IndexStore.h"

namespace {

const char kCatalogUsage[] =
    "usage: zytfilt catalog list\n"
    "       zytfilt catalog add NAME LOCATION FOLDER... [--machine MACHINE]\n"
    "       zytfilt catalog remove NAME\n"
    "A catalog covers its folders and everything below them; MACHINE (default '.',\n"
    "this machine) names the machine that serves it. 'list' shows a line per\n"
    "catalog: name, machine, location, index database, folders, between tabs.\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "zytfilt catalog: %s\n", message.c_str());
  return 1;
}

}  // namespace

int RunCatalogCommand(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kCatalogUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "list") {
    for (const ZYT::CatalogInfo& c : ZYT::ListCatalogs()) {
      std::printf("%s\t%s\t%s\t%s", ZYT::WideToUtf8(c.name).c_str(), ZYT::WideToUtf8(c.machine).c_str(),
                  ZYT::WideToUtf8(c.location).c_str(), ZYT::Index::DatabasePath(c).c_str());
      for (const auto& scope : c.scopes) std::printf("\t%s", ZYT::WideToUtf8(scope).c_str());
      std::printf("\n");
    }
    return 0;
  }
  if (args[0] == "add") {
    ZYT::CatalogInfo info;
    info.machine = u".";
    std::vector<std::string> rest;
    for (size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "--machine") {
        if (i + 1 >= args.size()) return Fail("--machine needs a name");
        info.machine = ZYT::Utf8ToWide(args[++i]);
      } else {
        rest.push_back(args[i]);
      }
    }
    if (rest.size() < 3) return Fail("add needs NAME LOCATION FOLDER...");
    info.name = ZYT::Utf8ToWide(rest[0]);
    info.location = ZYT::Utf8ToWide(rest[1]);
    for (size_t i = 2; i < rest.size(); ++i) info.scopes.push_back(ZYT::Utf8ToWide(rest[i]));
    LONG rc = ZYT::AddCatalog(info);
    return rc == ERROR_SUCCESS ? 0 : Fail("cannot write the catalog (error " + std::to_string(rc) + ")");
  }
  if (args[0] == "remove") {
    if (args.size() < 2) return Fail("remove needs a NAME");
    LONG rc = ZYT::RemoveCatalog(ZYT::Utf8ToWide(args[1]));
    if (rc == ERROR_FILE_NOT_FOUND) return Fail("no catalog named '" + args[1] + "'");
    return rc == ERROR_SUCCESS ? 0 : Fail("cannot remove the catalog (error " + std::to_string(rc) + ")");
  }
  return Fail("unknown subcommand '" + args[0] + "' (see 'zytfilt catalog --help')");
}

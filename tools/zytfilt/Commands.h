#pragma once

#include <string>
#include <vector>

// Each command takes its arguments (without the command word) and returns the
// process exit code; errors are one line on stderr.
int RunRegCommand(const std::vector<std::string>& args);
int RunRegisterCommand(const std::vector<std::string>& args, bool doRegister);
int RunSetupCommand(const std::vector<std::string>& args);
int RunDumpCommand(const std::vector<std::string>& args);
int RunCatalogCommand(const std::vector<std::string>& args);
int RunDoctypesCommand(const std::vector<std::string>& args);
int RunIndexCommand(const std::vector<std::string>& args);
// The filter host zytfilt index starts; not for people.
int RunIndexWorker(const std::vector<std::string>& args);
int RunSearchCommand(const std::vector<std::string>& args);
// Binds the office document types to the XML proxy through the document type
// manager (setup --product); the module must be registered.
int BindProductDocTypes();

// Prepares the machine (registry, components, settings, module); idempotent.
int Setup(bool quiet);
// The folder of the modules: $ZYT_MODULE_DIR, else ../lib/zytfilters beside
// zytfilt when installed, else ../lib (a build tree).
std::string ModuleDirectory();

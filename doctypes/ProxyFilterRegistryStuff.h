#pragma once

#include <string>

// The registry work that registration and the document type manager share:
// inventories of the machine's IFilters and extensions as small XML documents,
// the catalog proxy put in front of every IFilter or taken away again, the
// product's extension choices re-applied or undone, and this module kept in
// the indexer's list of filter modules. Made on the stack for one sequence.
class CProxyFilterRegistryStuff {
 public:
  virtual ~CProxyFilterRegistryStuff() = default;

  // "<registered-filters>" with one "filter" per handler that has an IFilter
  // add-in. Throws _com_error.
  std::u16string InventoryRegisteredFilters();
  // Swallows its errors: a handler it cannot change is left as it was.
  void ApplyProxyToFilters(bool doRegister, const std::u16string& registeredFiltersXml);
  // "<inventory-extensions-ret>" with every extension that has a handler.
  // Throws _com_error.
  std::u16string InventoryExtensions();
  // Throws _com_error, or std::runtime_error("Fail, no default value").
  void ApplyExtensionChoices(bool doRegister, const std::u16string& extensionsXml);
  // Swallows its errors.
  void UpdateDllsToRegister(bool doRegister);
};

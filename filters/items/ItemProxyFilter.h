// What the PIM, feed and web item filters share on top of the proxy base:
// a fixed list of own value chunks, each with one value, and the temporary
// file (the PIM item, the copied page) that the PIM and web item filters hand
// to the filter they drive and remove again at release or when Load fails.
#pragma once

#include <span>
#include <string>

#include "framework/AbstractProxyFilter.h"

class CItemProxyFilter : public CAbstractProxyFilter {
 protected:
  // ownChunks: the product property ids of the own chunks, in their order;
  // label: the source file label of the subclass for its log entries.
  CItemProxyFilter(const char16_t* tag, const char* label, std::span<const PROPID> ownChunks)
      : CAbstractProxyFilter(tag), m_label(label), m_ownChunks(ownChunks) {}

  // The base's, then the temporary file goes.
  void FinalRelease() noexcept;

  HRESULT getPropertyChunk(ULONG ordinal, STAT_CHUNK& chunk) final;
  HRESULT getPropertyValue(const STAT_CHUNK& chunk, PROPVARIANT& value) final;
  void releaseDocument() final;

  // The value of an own property; an id of no own chunk leaves VT_EMPTY.
  virtual void fillValue(PROPID id, PROPVARIANT& value) = 0;
  // Forgets what the previous document gave the members.
  virtual void clearItem() = 0;

  // A task-allocated copy of text (an empty string for an empty one); throws
  // E_OUTOFMEMORY.
  static void SetString(PROPVARIANT& value, const std::u16string& text);

  // Makes m_tempFilePath (getTempFile) and refuses, deleting it again, one
  // that a monitor request could not carry whole.
  HRESULT MakeTempFile(const std::u16string& prefix, bool forMonitor);
  // Loads the proxied filter with a task-allocated copy of m_tempFilePath; a
  // failure is logged as "Load: <filterName> filter returned 0x..." and the
  // temporary file is deleted at once.
  HRESULT LoadTempFile(IPersistFile* proxied, DWORD mode, const char* filterName);
  // Deletes the temporary file (if any); a failure is logged only when asked.
  void DeleteTempFile(bool logFailure);
  // Logs "Load: file size = <size>".
  void LogFileSize(DWORD size);

  const char* m_label;
  std::u16string m_tempFilePath;

 private:
  std::span<const PROPID> m_ownChunks;
};

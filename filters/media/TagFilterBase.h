// The chunk model the MP3 and Ogg Vorbis filters share: four property value
// chunks (title, title, artist, genre), a header text ("Artist: ...", "Title:
// ...", "Genre: ..."), then one text chunk per tag text. The formats differ
// only in how the tags are read and in a few rules the hooks below state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "filters/media/ByteSource.h"
#include "filters/media/TagLimits.h"
#include "framework/AutoHandle.h"
#include "framework/FilterInit.h"
#include "framework/PersistFileBase.h"
#include "framework/SimpleLogger.h"

class CTagFilterBase : public IFilter, public CPersistFileBase {
 public:
  // IFilter
  HRESULT Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) override;
  HRESULT GetChunk(STAT_CHUNK* pStat) override;
  HRESULT GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) override;
  HRESULT GetValue(PROPVARIANT** ppPropValue) override;
  HRESULT BindRegion(FILTERREGION, REFIID, void** ppunk) override;

 protected:
  // logPrefix: the start of the name of the log file, written only when a
  // limit cuts a file's tag.
  CTagFilterBase(REFCLSID clsid, std::u16string logPrefix)
      : CPersistFileBase(clsid), m_log(std::move(logPrefix), true, true) {}
  ~CTagFilterBase() = default;

  // Reads the tags of the newly opened file (fills m_items and the fields)
  // within the limits; true when a limit cut them.
  virtual bool ReadTags(const IByteSource& file, const TagLimits& limits) = 0;
  // Whether GetChunk ends at once (no chunk of any kind wanted or possible).
  virtual bool EndsAtOnce() const { return !m_initFlags.property && !m_initFlags.list; }
  // Whether another value chunk is due; called before each one.
  virtual bool ValueChunkDue() const { return m_chunkNumber < 4 && m_initFlags.property; }
  virtual void ValueChunkEmitted() {}
  // The field a value chunk gives: 1 and 2 title, 3 artist, 4 genre.
  virtual std::u16string Field(ULONG idChunk) const = 0;
  virtual std::u16string Header() const = 0;
  // Whether the last text item is followed by a space like the others.
  virtual bool SpaceAfterLastItem() const = 0;

  std::vector<std::u16string> m_items;
  ZYT::FilterInitFlags m_initFlags;

 private:
  CSimpleLogger m_log;
  ZYT::CAutoHandle m_file;
  size_t m_itemIndex = 0;
  ULONG m_chunkNumber = 0;
  // The text of the current chunk not yet returned by GetText: a view of the
  // header or of an item (a picture's text may be a megabyte: it is neither
  // copied nor moved as GetText takes it), then the space after the item.
  std::u16string m_header;
  std::u16string_view m_pending;
  bool m_spacePending = false;
  bool m_valueReturned = true;
  bool m_valueChunk = false;
  bool m_headerMade = false;
};

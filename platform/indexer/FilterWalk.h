// Walks a filter as the indexer does: Init, then GetChunk with GetText (in
// buffers of a chosen size) or GetValue, until the chunks end. In probe mode
// it also asks what a well-behaved filter must refuse (GetValue on a text
// chunk, GetText on a value chunk, a second GetValue, GetText after the end
// of a chunk's text, GetChunk after the end) and records every answer that
// breaks the protocol.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/com/Filter.h"

namespace ZYT {

struct WalkedChunk {
  STAT_CHUNK stat{};           // attribute.psProperty.lpwstr is not kept; see propertyName
  std::u16string propertyName;  // for PRSPEC_LPWSTR attributes
  std::u16string text;          // all the text of a text chunk
  bool hasValue = false;
  VARTYPE vt = VT_EMPTY;
  std::string valueJson;  // the value's data as JSON (a string, number, array or null)
};

struct WalkOptions {
  ULONG initFlags = IFILTER_INIT_APPLY_INDEX_ATTRIBUTES;
  std::vector<FULLPROPSPEC> attributes;
  ULONG bufferSize = 256;
  bool probe = false;
  // What idChunkSource must be: the chunk's own id, or for value chunks 0
  // where a filter's format says so, or anything (derived chunks).
  enum class SourceRule { SameAsId, ZeroForValues, Any } sourceRule = SourceRule::SameAsId;
  // Proxy filters pass GetText on to the filter they drive, even on their own
  // value chunks; any refusal is then right, not only FILTER_E_NO_TEXT.
  bool valueTextForwarded = false;
  // A filter that answers GetValue on a text chunk with FILTER_E_NO_MORE_VALUES
  // (and GetText on a value chunk with FILTER_E_NO_MORE_TEXT): any refusal of
  // the other kind's call is right.
  bool crossCallsAnyRefusal = false;
  // The walk stops after this many chunks when the filter has more.
  size_t maxChunks = 100000;
  // When set, each chunk goes here as soon as it is walked and is not kept in
  // the result, so a file of millions of chunks costs one chunk's memory.
  std::function<void(const WalkedChunk&)> onChunk;
};

struct WalkResult {
  HRESULT init = S_OK;
  ULONG initOutFlags = 0;
  std::vector<WalkedChunk> chunks;  // empty when the options had onChunk
  size_t walked = 0;                // chunks walked, kept or not
  HRESULT end = S_OK;  // what GetChunk answered last (FILTER_E_END_OF_CHUNKS when all is well)
  bool cut = false;    // maxChunks stopped the walk before the filter's end; end is then S_OK
  std::vector<std::string> violations;
};

WalkResult WalkFilter(IFilter* filter, const WalkOptions& options);

// "{GUID}/0x<propid>" or "{GUID}/name".
std::u16string AttributeText(const WalkedChunk& chunk);
// The JSON text of a value's data; strings escaped.
std::string ValueJson(const PROPVARIANT& value);
std::string JsonString(std::u16string_view text);

}  // namespace ZYT

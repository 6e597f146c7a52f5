// Drives a filter as the indexer does and checks the IFilter protocol on the
// way: chunk ids non-zero and increasing, valid flags and break types,
// idChunkSource, GetText/GetValue answers that match the chunk kind, end codes
// repeated, the same chunks after a second Init, no task memory left behind.
#pragma once

#include <gtest/gtest.h>

#include "platform/indexer/FilterWalk.h"

namespace ZYT::Test {

struct DriveOptions : WalkOptions {
  bool checkReinit = true;
};

// The chunks of one walk; every breach of the protocol is in violations.
WalkResult DriveFilter(IFilter* filter, const DriveOptions& options = {});

::testing::AssertionResult ObeysProtocol(const WalkResult& result);

// Texts of the text chunks, values (as JSON) of the value chunks, in order.
std::vector<std::u16string> Texts(const WalkResult& result);
std::vector<std::string> Values(const WalkResult& result);

// An attribute named by property set and id, for Init's attribute list.
inline FULLPROPSPEC PropertyAttribute(REFGUID set, PROPID id) {
  FULLPROPSPEC attribute{};
  attribute.guidPropSet = set;
  attribute.psProperty.ulKind = PRSPEC_PROPID;
  attribute.psProperty.propid = id;
  return attribute;
}

}  // namespace ZYT::Test

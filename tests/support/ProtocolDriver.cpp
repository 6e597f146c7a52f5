#include "tests/support/ProtocolDriver.h"

#include "platform/com/TaskAllocator.h"
#include "platform/win32/Strings.h"

namespace ZYT::Test {

namespace {

bool SameChunks(const WalkResult& a, const WalkResult& b, std::string& why) {
  if (a.chunks.size() != b.chunks.size()) {
    why = std::to_string(a.chunks.size()) + " chunks, then " + std::to_string(b.chunks.size());
    return false;
  }
  for (size_t i = 0; i < a.chunks.size(); ++i) {
    const WalkedChunk &x = a.chunks[i], &y = b.chunks[i];
    if (x.stat.idChunk != y.stat.idChunk || x.stat.flags != y.stat.flags || x.stat.breakType != y.stat.breakType ||
        x.text != y.text || x.valueJson != y.valueJson || AttributeText(x) != AttributeText(y)) {
      why = "chunk #" + std::to_string(i + 1) + " differs";
      return false;
    }
  }
  if (a.end != b.end) {
    why = "a different end code";
    return false;
  }
  return true;
}

}  // namespace

WalkResult DriveFilter(IFilter* filter, const DriveOptions& options) {
  WalkOptions walk = options;
  walk.probe = true;
  LONG before = OutstandingTaskAllocations();
  WalkResult first = WalkFilter(filter, walk);
  if (OutstandingTaskAllocations() != before)
    first.violations.push_back("task memory left behind: " + std::to_string(OutstandingTaskAllocations() - before) +
                               " blocks");
  if (options.checkReinit && SUCCEEDED(first.init)) {
    WalkResult second = WalkFilter(filter, walk);
    std::string why;
    if (!SameChunks(first, second, why)) first.violations.push_back("a second Init gives other chunks: " + why);
    for (const std::string& v : second.violations) first.violations.push_back("after a second Init, " + v);
  }
  return first;
}

::testing::AssertionResult ObeysProtocol(const WalkResult& result) {
  if (result.violations.empty()) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure();
  for (const std::string& v : result.violations) failure << v << "\n";
  return failure;
}

std::vector<std::u16string> Texts(const WalkResult& result) {
  std::vector<std::u16string> texts;
  for (const WalkedChunk& c : result.chunks)
    if (c.stat.flags & CHUNK_TEXT) texts.push_back(c.text);
  return texts;
}

std::vector<std::string> Values(const WalkResult& result) {
  std::vector<std::string> values;
  for (const WalkedChunk& c : result.chunks)
    if (!(c.stat.flags & CHUNK_TEXT)) values.push_back(c.valueJson);
  return values;
}

}  // namespace ZYT::Test

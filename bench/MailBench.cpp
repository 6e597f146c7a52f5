// Mail messages through CEmailFilter, with zyt-monitor serving them, beside
// GMime parsing the same messages directly; and the monitor's pipe round
// trip alone. One run; rates and the per-message cost of the round trip.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "filters/items/MonitorRequest.h"
#include "bench/BenchSupport.h"
#include "bench/Corpus.h"
#include "platform/com/ComPtr.h"
#include "platform/indexer/FilterWalk.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/mime/MimeMessage.h"
#include "platform/win32/ObjectNames.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The documents (.qhm naming an .eml each) through the message filter with
// the monitor, then the same messages parsed by GMime directly: one line
// each with messages/s and MB/s of message bytes.
void Compare(const std::string& label, const std::vector<std::string>& documents, double megabytes) {
  size_t chunks = 0;
  auto start = Clock::now();
  for (const std::string& qhm : documents) {
    ZYT::ComPtr<IFilter> filter;
    if (FAILED(LoadIFilter(ZYT::Utf8ToWide(qhm).c_str(), nullptr, filter.put_void()))) continue;
    chunks += ZYT::WalkFilter(filter.get(), ZYT::WalkOptions()).chunks.size();
  }
  double filtered = Seconds(start);

  size_t parts = 0;
  start = Clock::now();
  for (const std::string& qhm : documents) {
    std::ifstream in(qhm.substr(0, qhm.size() - 4) + ".eml", std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    ZYT::MimeMessage message;
    message.Parse(bytes.str());
    parts += message.Parts().size();
  }
  double gmime = Seconds(start);
  const double count = static_cast<double>(documents.size());
  std::string name = label + "CEmailFilter with zyt-monitor (all chunks)";
  std::printf("%-46s %8.0f messages/s %7.1f MB/s  (%zu chunks)\n", name.c_str(), count / filtered,
              megabytes / filtered, chunks);
  name = label + "GMime parsing the files directly";
  std::printf("%-46s %8.0f messages/s %7.1f MB/s  zytFilters takes %.1fx as long\n", name.c_str(), count / gmime,
              megabytes / gmime, filtered / gmime);
}

// Writes the messages and their .qhm documents under dir; returns the documents.
std::vector<std::string> WriteMessages(const std::string& dir, const std::string& prefix,
                                       const std::vector<std::string>& messages) {
  std::vector<std::string> documents;
  for (size_t i = 0; i < messages.size(); ++i) {
    std::string eml = dir + "/" + prefix + std::to_string(i) + ".eml", qhm = dir + "/" + prefix + std::to_string(i) + ".qhm";
    std::ofstream(eml, std::ios::binary) << messages[i];
    std::ofstream(qhm) << "message: " << eml << "\n";
    documents.push_back(qhm);
  }
  return documents;
}

double Megabytes(const std::vector<std::string>& messages) {
  double bytes = 0;
  for (const std::string& m : messages) bytes += static_cast<double>(m.size());
  return bytes / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 500;
  BenchMachine machine("zytmail");
  if (!machine.Ready()) return 1;
  const std::string& dir = machine.Dir();
  setenv("ZYT_PIPE_DIR", (dir + "/pipes").c_str(), 1);
  setenv("ZYT_OBJECT_NAMESPACE", ("zytbench" + std::to_string(getpid())).c_str(), 1);
  std::ofstream(dir + "/settings.xml") << "<settings><repository><user location=\"" << dir
                                       << "/repo\"/></repository></settings>";
  if (!RegisterBuiltModule(ZYT_COMPONENTS_MODULE) || !RegisterBuiltModule(ZYT_FILTERS_MODULE)) {
    std::fprintf(stderr, "mail_bench: cannot register the modules\n");
    return 1;
  }
  pid_t monitor = 0;
  char* args[] = {const_cast<char*>(ZYT_MONITOR), nullptr};
  if (posix_spawn(&monitor, ZYT_MONITOR, nullptr, nullptr, args, environ) != 0) {
    std::fprintf(stderr, "mail_bench: cannot start zyt-monitor\n");
    return 1;
  }
  std::string socket = ZYT::SocketPathFor(kMessageServerPipe);
  for (int i = 0; i < 500 && !std::filesystem::exists(socket); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));

  std::mt19937 rng(439);
  std::vector<std::string> messages, realistic;
  for (int i = 0; i < count; ++i) messages.push_back(SmallMailMessage(rng, i));
  // Messages of a few hundred KB: a fifth as many.
  for (int i = 0; i < std::max(count / 5, 3); ++i) realistic.push_back(RealisticMailMessage(rng, i));
  std::vector<std::string> documents = WriteMessages(dir, "m", messages);
  std::vector<std::string> realisticDocuments = WriteMessages(dir, "r", realistic);

  std::printf("%d messages of about %zu bytes, %.1f MB\n", count, messages.empty() ? 0 : messages[0].size(),
              Megabytes(messages));
  Compare("", documents, Megabytes(messages));
  std::printf("realistic: %zu messages with attachments (multipart/alternative, base64 of 200 to 500 KB, "
              "message/rfc822), %.1f MB\n", realistic.size(), Megabytes(realistic));
  Compare("realistic: ", realisticDocuments, Megabytes(realistic));

  auto start = Clock::now();
  int trips = 0;
  for (const std::string& qhm : documents) {
    std::string target = dir + "/trip.tmp";
    std::ofstream(target).close();
    if (SUCCEEDED(CMonitorRequest::FetchMessage(ZYT::Utf8ToWide(qhm), ZYT::Utf8ToWide(target), 1, 0))) ++trips;
    std::filesystem::remove(target);
  }
  double roundTrips = Seconds(start);

  kill(monitor, SIGTERM);
  waitpid(monitor, nullptr, 0);
  std::printf("%-46s %8.1f us per message (%d trips)\n", "monitor pipe round trip (event, pipe, copy)",
              roundTrips / trips * 1e6, trips);
  return 0;
}

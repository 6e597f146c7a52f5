// Mail messages through CEmailFilter, with zyt-monitor serving them, beside
// GMime parsing the same messages directly; and the monitor's pipe round
// trip alone. One run; rates and the per-message cost of the round trip.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
// each with messages/s and MB/s of message bytes. Three rounds, alternating,
// each figure the best of its rounds: on a shared machine a burst of other
// work then spoils one round of one measure rather than the ratio.
void Compare(const std::string& label, const std::vector<std::string>& documents, double megabytes) {
  size_t chunks = 0;
  double filtered = 1e30, gmime = 1e30;
  for (int round = 0; round < 3; ++round) {
    chunks = 0;
    auto start = Clock::now();
    for (const std::string& qhm : documents) {
      ZYT::ComPtr<IFilter> filter;
      if (FAILED(LoadIFilter(ZYT::Utf8ToWide(qhm).c_str(), nullptr, filter.put_void()))) continue;
      chunks += ZYT::WalkFilter(filter.get(), ZYT::WalkOptions()).chunks.size();
    }
    filtered = std::min(filtered, Seconds(start));

    start = Clock::now();
    for (const std::string& qhm : documents) {
      std::ifstream in(qhm.substr(0, qhm.size() - 4) + ".eml", std::ios::binary);
      std::stringstream bytes;
      bytes << in.rdbuf();
      ZYT::MimeMessage message;
      message.Parse(bytes.str());
    }
    gmime = std::min(gmime, Seconds(start));
  }
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

  // The round trip alone: the request, the monitor's copy and the answer.
  // The empty target the caller makes first is timed apart: on a file system
  // that recycles inodes slowly its creation can cost more than the whole
  // trip. Best of three rounds.
  double tripMean = 1e30, tripMedian = 1e30, making = 1e30;
  int trips = 0;
  const std::string target = dir + "/trip.tmp";
  const std::u16string targetW = ZYT::Utf8ToWide(target);
  for (int round = 0; round < 3; ++round) {
    std::vector<double> times;
    double made = 0;
    trips = 0;
    for (const std::string& qhm : documents) {
      auto start = Clock::now();
      std::ofstream(target).close();
      made += Seconds(start);
      std::u16string source = ZYT::Utf8ToWide(qhm);
      start = Clock::now();
      HRESULT hr = CMonitorRequest::FetchMessage(source, targetW, 1, 0);
      double took = Seconds(start);
      if (SUCCEEDED(hr)) {
        ++trips;
        times.push_back(took);
      }
      std::filesystem::remove(target);
    }
    if (!times.empty()) {
      double sum = 0;
      for (double t : times) sum += t;
      std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
      tripMean = std::min(tripMean, sum / times.size());
      tripMedian = std::min(tripMedian, times[times.size() / 2]);
    }
    making = std::min(making, made / count);
  }

  kill(monitor, SIGTERM);
  waitpid(monitor, nullptr, 0);
  std::printf("%-46s %8.1f us per message (median %.1f us, %d trips)\n", "monitor pipe round trip (event, pipe, copy)",
              tripMean * 1e6, tripMedian * 1e6, trips);
  std::printf("%-46s %8.1f us per message\n", "making the empty target (not in the trip)", making * 1e6);
  return 0;
}

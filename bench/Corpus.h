// Deterministic corpora for the benchmarks, made in code (the same seed gives
// the same bytes):
// - the small media corpus: MP3s with a short ID3v2.3 tag and an ID3v1 tag
//   in Latin-1 over real MPEG frame headers, and Ogg Vorbis files encoded by
//   libvorbis (real, CRC-correct pages) with four comments;
// - the realistic media corpus: MP3s with ID3v2.3 and ID3v2.4 tags (v2.4
//   frame sizes syncsafe, non-ASCII text in UTF-8), comment, user text, URL
//   and private frames, padding, a 100 KB cover (APIC) in every third file,
//   an ID3v1 tag in two of three; Ogg Vorbis files with 120 and more
//   comments (lyrics, credits, MusicBrainz ids) and, in every third file, a
//   METADATA_BLOCK_PICTURE of about 100 KB of base64 that spans pages;
// - mail messages (CorpusMail.cpp, no libvorbis needed): small
//   multipart/mixed ones, and realistic ones with a multipart/alternative
//   body, a base64 attachment of a few hundred KB and, in some, a forwarded
//   message/rfc822.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

struct CorpusFile {
  std::string path;
  std::string title, artist, genre;
  uint64_t bytes = 0;
};

// Writes count files of each kind into folder.
std::vector<CorpusFile> MakeCorpus(const std::string& folder, int count, unsigned seed);
std::vector<CorpusFile> MakeRealisticCorpus(const std::string& folder, int count, unsigned seed);

uint64_t CorpusBytes(const std::vector<CorpusFile>& files);

// Message i of a mail corpus, CRLF line ends.
std::string SmallMailMessage(std::mt19937& rng, int i);
std::string RealisticMailMessage(std::mt19937& rng, int i);

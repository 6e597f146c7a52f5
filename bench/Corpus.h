// A deterministic corpus of tagged media files: MP3s with ID3v2.3 and ID3v1
// tags in Latin-1 over real MPEG frame headers, and Ogg Vorbis files encoded
// by libvorbis (real, CRC-correct pages).
#pragma once

#include <string>
#include <vector>

struct CorpusFile {
  std::string path;
  std::string title, artist, genre;
};

// Writes count files of each kind into folder; the same seed gives the same bytes.
std::vector<CorpusFile> MakeCorpus(const std::string& folder, int count, unsigned seed);

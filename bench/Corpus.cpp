#include "bench/Corpus.h"

#include <ogg/ogg.h>
#include <vorbis/vorbisenc.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <random>
#include <stdexcept>

namespace {

const char* const kWords[] = {"Moon", "River", "Caf\xe9", "Night", "Blue", "Stone", "Garden", "Fire",
                              "Ocean", "Kiss", "Dance", "Ber\xfchrung", "Light", "Road", "Echo", "Sol"};
const char* const kGenres[] = {"Rock", "Jazz", "Blues", "Classical", "Pop", "Techno"};

// A corpus that could not be written would make every rate meaningless.
void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string Words(std::mt19937& rng, int n) {
  std::string text;
  for (int i = 0; i < n; ++i) {
    if (i) text += ' ';
    text += kWords[rng() % 16];
  }
  return text;
}

std::string Frame(const char* id, const std::string& latin1) {
  std::string body = std::string(1, '\0') + latin1;  // encoding 0: ISO-8859-1
  uint32_t size = static_cast<uint32_t>(body.size());
  std::string frame = id;
  for (int shift = 24; shift >= 0; shift -= 8) frame += static_cast<char>((size >> shift) & 0xFF);
  frame += std::string(2, '\0');  // flags
  return frame + body;
}

std::string Fixed(const std::string& text, size_t n) {
  std::string out = text.substr(0, n);
  out.resize(n, '\0');
  return out;
}

void WriteMp3(const std::string& path, const CorpusFile& f, std::mt19937& rng) {
  std::string frames = Frame("TIT2", f.title) + Frame("TPE1", f.artist) + Frame("TALB", Words(rng, 2)) +
                       Frame("TCON", f.genre) + Frame("TYER", std::to_string(1960 + rng() % 60));
  uint32_t size = static_cast<uint32_t>(frames.size());
  std::string tag = "ID3\x03";
  tag += '\0';
  tag += '\0';
  for (int shift = 21; shift >= 0; shift -= 7) tag += static_cast<char>((size >> shift) & 0x7F);
  tag += frames;
  // MPEG-1 layer III, 128 kbit/s, 44.1 kHz: 417-byte frames of silence.
  std::string audio;
  for (int i = 0; i < 40; ++i) {
    std::string frame = "\xFF\xFB\x90\x64";
    frame.resize(417, '\0');
    audio += frame;
  }
  std::string v1 = "TAG" + Fixed(f.title, 30) + Fixed(f.artist, 30) + Fixed(Words(rng, 2), 30) + Fixed("1999", 4) +
                   Fixed(Words(rng, 3), 30) + std::string(1, '\x11');
  WriteFile(path, tag + audio + v1);
}

// Vorbis comments are UTF-8; the word list is Latin-1.
std::string Utf8(const std::string& latin1) {
  std::string out;
  for (unsigned char c : latin1) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

using Comments = std::vector<std::pair<std::string, std::string>>;

// An Ogg Vorbis stream of `samples` samples of silence with these comments.
// The headers are paged as encoders page them (ogg_stream_flush: at most 255
// segments a page), so a comment packet over about 64 KB spans pages.
std::string OggBytes(const Comments& comments, unsigned serial, int samples) {
  std::string out;
  vorbis_info vi;
  vorbis_info_init(&vi);
  vorbis_encode_init_vbr(&vi, 1, 22050, 0.0f);
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  for (const auto& [key, value] : comments) vorbis_comment_add_tag(&vc, key.c_str(), value.c_str());
  vorbis_dsp_state vd;
  vorbis_block vb;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, static_cast<int>(serial));
  ogg_packet header, comment, code;
  vorbis_analysis_headerout(&vd, &vc, &header, &comment, &code);
  ogg_stream_packetin(&os, &header);
  ogg_stream_packetin(&os, &comment);
  ogg_stream_packetin(&os, &code);
  ogg_page page;
  auto write = [&](const ogg_page& p) {
    out.append(reinterpret_cast<const char*>(p.header), static_cast<size_t>(p.header_len));
    out.append(reinterpret_cast<const char*>(p.body), static_cast<size_t>(p.body_len));
  };
  // The identification header alone on the first page, as the format requires.
  while (ogg_stream_flush(&os, &page)) write(page);
  for (int done = 0; done < samples;) {
    int n = std::min(samples - done, 1024);
    float** buffer = vorbis_analysis_buffer(&vd, n);
    for (int i = 0; i < n; ++i) buffer[0][i] = 0.0f;
    vorbis_analysis_wrote(&vd, n);
    done += n;
  }
  vorbis_analysis_wrote(&vd, 0);
  ogg_packet packet;
  while (vorbis_analysis_blockout(&vd, &vb) == 1) {
    vorbis_analysis(&vb, nullptr);
    vorbis_bitrate_addblock(&vb);
    while (vorbis_bitrate_flushpacket(&vd, &packet)) {
      ogg_stream_packetin(&os, &packet);
      while (ogg_stream_pageout(&os, &page)) write(page);
    }
  }
  while (ogg_stream_flush(&os, &page)) write(page);
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return out;
}

void WriteOgg(const std::string& path, const CorpusFile& f, unsigned serial) {
  WriteFile(path, OggBytes({{"TITLE", Utf8(f.title)}, {"ARTIST", Utf8(f.artist)}, {"GENRE", f.genre},
                            {"ALBUM", "Corpus"}},
                           serial, 2205));
}

// --- the realistic corpus -------------------------------------------------

const char* const kNames[] = {"Ana Ruiz",     "Bj\xf6rn Lind", "Chlo\xe9 Martin", "Dmitri Orlov", "Emeka Obi",
                              "Fatima Zahra", "Georg Weber",  "Hana Sato",        "Ines Costa",   "Jon Berg"};
const char* const kInstruments[] = {"guitar", "bass", "drums", "piano", "violin", "vocals", "cello", "trumpet"};

bool Ascii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

std::string BigEndian32(uint32_t v) {
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
  return out;
}

// Seven bits a byte: the tag size of every version, the frame sizes of v2.4.
std::string Syncsafe(uint32_t v) {
  std::string out;
  for (int shift = 21; shift >= 0; shift -= 7) out += static_cast<char>((v >> shift) & 0x7F);
  return out;
}

std::string Id3Frame(const std::string& id, const std::string& body, int version) {
  uint32_t size = static_cast<uint32_t>(body.size());
  return id + (version == 4 ? Syncsafe(size) : BigEndian32(size)) + std::string(2, '\0') + body;
}

// A text frame as taggers write them: Latin-1 in v2.3; in v2.4 Latin-1 for
// ASCII text and UTF-8 (encoding 3) for the rest.
std::string Id3Text(const std::string& id, const std::string& latin1, int version) {
  if (version == 4 && !Ascii(latin1)) return Id3Frame(id, "\x03" + Utf8(latin1), version);
  return Id3Frame(id, std::string(1, '\0') + latin1, version);
}

// Picture bytes that start like a JFIF file and do not compress.
std::string Picture(std::mt19937& rng, size_t size) {
  std::string data = std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20);
  while (data.size() < size - 2) data += static_cast<char>(rng() & 0xFF);
  return data + "\xFF\xD9";
}

std::string Base64(const std::string& bytes) {
  static const char* const kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
    if (i + 1 < bytes.size()) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) v |= uint8_t(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[v & 63] : '=';
  }
  return out;
}

std::string Uuid(std::mt19937& rng) {
  char text[40];
  std::snprintf(text, sizeof text, "%08x-%04x-4%03x-a%03x-%08x%04x", unsigned(rng()), unsigned(rng() & 0xFFFF),
                unsigned(rng() & 0xFFF), unsigned(rng() & 0xFFF), unsigned(rng()), unsigned(rng() & 0xFFFF));
  return text;
}

std::string Lyrics(std::mt19937& rng, int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) text += Words(rng, 4 + static_cast<int>(rng() % 5)) + "\r\n";
  return text;
}

void WriteRealisticMp3(const std::string& path, const CorpusFile& f, int index, std::mt19937& rng) {
  const int version = index % 2 ? 4 : 3;
  const bool cover = index % 3 == 0;
  std::string album = Words(rng, 2);
  std::string year = std::to_string(1960 + rng() % 60);
  std::string frames = Id3Text("TIT2", f.title, version) + Id3Text("TPE1", f.artist, version);
  std::string picture;
  if (cover)
    picture = Id3Frame("APIC", std::string("\0image/jpeg\0\x03\0", 14) + Picture(rng, 100 * 1024), version);
  // Some taggers write the cover first, some among the text, some last.
  if (cover && index % 9 == 0) frames = picture + frames;
  if (cover && index % 9 == 3) frames += picture;
  frames += Id3Text("TALB", album, version) + Id3Text("TCON", f.genre, version) +
            Id3Text(version == 4 ? "TDRC" : "TYER", year, version) +
            Id3Text("TRCK", std::to_string(1 + index % 12) + "/12", version) + Id3Text("TPE2", f.artist, version) +
            Id3Text("TCOM", kNames[rng() % 10], version) + Id3Text("TSSE", "LAME 3.100", version) +
            Id3Text("TLEN", std::to_string(180000 + rng() % 120000), version) +
            Id3Frame("COMM", std::string("\0eng\0", 5) + Words(rng, 12), version) +
            Id3Frame("TXXX", std::string("\0MusicBrainz Album Id\0", 22) + Uuid(rng), version) +
            Id3Frame("WOAR", "https://artists.example.org/" + std::to_string(rng() % 10000), version) +
            Id3Frame("PRIV", std::string("WM/MediaClassPrimaryID\0", 23) + Picture(rng, 16), version) +
            Id3Frame("USLT", std::string("\0eng\0", 5) + Lyrics(rng, 20), version);
  if (cover && index % 9 == 6) frames += picture;
  // Padding, so that a tag can grow without rewriting the file.
  frames += std::string(1024 + rng() % 3072, '\0');
  std::string tag = std::string("ID3") + static_cast<char>(version) + '\0' + '\0' +
                    Syncsafe(static_cast<uint32_t>(frames.size())) + frames;
  // MPEG-1 layer III, 128 kbit/s, 44.1 kHz: about three seconds of 417-byte frames.
  std::string audio;
  for (int i = 0; i < 120; ++i) {
    std::string frame = "\xFF\xFB\x90\x64";
    frame.resize(417, static_cast<char>(i & 0x55));
    audio += frame;
  }
  std::string v1;
  if (index % 3 != 2)
    v1 = "TAG" + Fixed(f.title, 30) + Fixed(f.artist, 30) + Fixed(album, 30) + Fixed(year, 4) +
         Fixed(Words(rng, 3), 28) + std::string(1, '\0') + static_cast<char>(1 + index % 12) +
         static_cast<char>(rng() % 3 ? rng() % 148 : 255);
  WriteFile(path, tag + audio + v1);
}

// A FLAC picture block (the METADATA_BLOCK_PICTURE comment's content).
std::string PictureBlock(std::mt19937& rng, size_t size) {
  std::string mime = "image/jpeg", description = "Cover (front)";
  std::string data = Picture(rng, size);
  return BigEndian32(3) + BigEndian32(static_cast<uint32_t>(mime.size())) + mime +
         BigEndian32(static_cast<uint32_t>(description.size())) + description + BigEndian32(500) +
         BigEndian32(500) + BigEndian32(24) + BigEndian32(0) + BigEndian32(static_cast<uint32_t>(data.size())) +
         data;
}

void WriteRealisticOgg(const std::string& path, const CorpusFile& f, int index, unsigned serial, std::mt19937& rng) {
  Comments comments = {{"TITLE", Utf8(f.title)},
                       {"ARTIST", Utf8(f.artist)},
                       {"ALBUM", Utf8(Words(rng, 2))},
                       {"GENRE", f.genre},
                       {"DATE", std::to_string(1960 + rng() % 60)},
                       {"TRACKNUMBER", std::to_string(1 + index % 12)},
                       {"TRACKTOTAL", "12"},
                       {"DISCNUMBER", "1"},
                       {"ALBUMARTIST", Utf8(f.artist)},
                       {"COMPOSER", Utf8(kNames[rng() % 10])},
                       {"ORGANIZATION", "Corpus Records"},
                       {"COPYRIGHT", "(C) 2026 Corpus Records"},
                       {"ISRC", "XX-C26-" + std::to_string(10000 + rng() % 90000)},
                       {"REPLAYGAIN_TRACK_GAIN", "-7.42 dB"},
                       {"REPLAYGAIN_TRACK_PEAK", "0.988525"},
                       {"MUSICBRAINZ_TRACKID", Uuid(rng)},
                       {"MUSICBRAINZ_ALBUMID", Uuid(rng)},
                       {"MUSICBRAINZ_ARTISTID", Uuid(rng)},
                       {"DESCRIPTION", Utf8(Words(rng, 30))},
                       {"LYRICS", Utf8(Lyrics(rng, 40))}};
  // Credits, as taggers that fetch them write them: one comment per person.
  int credits = 100 + static_cast<int>(rng() % 40);
  for (int i = 0; i < credits; ++i)
    comments.push_back({i % 2 ? "PERFORMER" : "ARTISTS",
                        Utf8(kNames[rng() % 10]) + " (" + kInstruments[rng() % 8] + ")"});
  if (index % 3 == 0) comments.push_back({"METADATA_BLOCK_PICTURE", Base64(PictureBlock(rng, 75 * 1024))});
  WriteFile(path, OggBytes(comments, serial, 22050));
}

}  // namespace

std::vector<CorpusFile> MakeCorpus(const std::string& folder, int count, unsigned seed) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  std::mt19937 rng(seed);
  std::vector<CorpusFile> files;
  for (int i = 0; i < count; ++i) {
    CorpusFile mp3{folder + "/track" + std::to_string(i) + ".mp3", Words(rng, 3), Words(rng, 2), kGenres[rng() % 6]};
    WriteMp3(mp3.path, mp3, rng);
    files.push_back(mp3);
    CorpusFile ogg{folder + "/track" + std::to_string(i) + ".ogg", Words(rng, 3), Words(rng, 2), kGenres[rng() % 6]};
    WriteOgg(ogg.path, ogg, seed + static_cast<unsigned>(i));
    files.push_back(ogg);
  }
  for (CorpusFile& f : files) f.bytes = std::filesystem::file_size(f.path);
  return files;
}

std::vector<CorpusFile> MakeRealisticCorpus(const std::string& folder, int count, unsigned seed) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  std::mt19937 rng(seed);
  std::vector<CorpusFile> files;
  for (int i = 0; i < count; ++i) {
    CorpusFile mp3{folder + "/song" + std::to_string(i) + ".mp3", Words(rng, 3), Words(rng, 2), kGenres[rng() % 6]};
    WriteRealisticMp3(mp3.path, mp3, i, rng);
    files.push_back(mp3);
    CorpusFile ogg{folder + "/song" + std::to_string(i) + ".ogg", Words(rng, 3), Words(rng, 2), kGenres[rng() % 6]};
    WriteRealisticOgg(ogg.path, ogg, i, seed + static_cast<unsigned>(i), rng);
    files.push_back(ogg);
  }
  for (CorpusFile& f : files) f.bytes = std::filesystem::file_size(f.path);
  return files;
}

uint64_t CorpusBytes(const std::vector<CorpusFile>& files) {
  uint64_t total = 0;
  for (const CorpusFile& f : files) total += f.bytes;
  return total;
}

#include "bench/Corpus.h"

#include <ogg/ogg.h>
#include <vorbis/vorbisenc.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

const char* const kWords[] = {"Moon", "River", "Caf\xe9", "Night", "Blue", "Stone", "Garden", "Fire",
                              "Ocean", "Kiss", "Dance", "Ber\xfchrung", "Light", "Road", "Echo", "Sol"};
const char* const kGenres[] = {"Rock", "Jazz", "Blues", "Classical", "Pop", "Techno"};

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
  std::ofstream(path, std::ios::binary) << tag << audio << v1;
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

void WriteOgg(const std::string& path, const CorpusFile& f, unsigned serial) {
  std::ofstream out(path, std::ios::binary);
  vorbis_info vi;
  vorbis_info_init(&vi);
  vorbis_encode_init_vbr(&vi, 1, 22050, 0.0f);
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_comment_add_tag(&vc, "TITLE", Utf8(f.title).c_str());
  vorbis_comment_add_tag(&vc, "ARTIST", Utf8(f.artist).c_str());
  vorbis_comment_add_tag(&vc, "GENRE", f.genre.c_str());
  vorbis_comment_add_tag(&vc, "ALBUM", "Corpus");
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
    out.write(reinterpret_cast<const char*>(p.header), p.header_len);
    out.write(reinterpret_cast<const char*>(p.body), p.body_len);
  };
  // The identification header alone on the first page, as the format requires.
  while (ogg_stream_flush(&os, &page)) write(page);
  float** buffer = vorbis_analysis_buffer(&vd, 2205);
  for (int i = 0; i < 2205; ++i) buffer[0][i] = 0.0f;
  vorbis_analysis_wrote(&vd, 2205);
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
  return files;
}

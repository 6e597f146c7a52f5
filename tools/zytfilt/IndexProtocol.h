// What zytfilt index and its workers say to each other over two pipes: frames
// of a kind byte, a 4-byte little-endian length and that many bytes.
//   parent -> worker: Path (an absolute path).
//   worker -> parent: any number of Text (a text chunk, UTF-8) and Property
//   (AttributeText, a NUL, ValueJson) frames, then Done or Failed (the step,
//   a NUL, the HRESULT in decimal).
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

namespace ZYT::Zytfilt::IndexProtocol {

enum Kind : char { kPath = 'F', kText = 'T', kProperty = 'P', kDone = 'D', kFailed = 'X' };

// The worker's descriptors: requests in, results out.
inline constexpr int kRequestFd = 3;
inline constexpr int kResultFd = 4;
inline constexpr size_t kHeaderBytes = 5;
// Paths are at most PATH_MAX; a request beyond this is no path.
inline constexpr size_t kMaxPathFrame = 4096;

inline bool WriteAll(int fd, const char* data, size_t size) {
  while (size) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

inline std::string Header(Kind kind, size_t size) {
  std::string h(kHeaderBytes, '\0');
  h[0] = kind;
  for (int i = 0; i < 4; ++i) h[1 + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
  return h;
}

inline bool WriteFrame(int fd, Kind kind, std::string_view payload) {
  if (payload.size() > 0xFFFFFFFFu) return false;
  std::string frame = Header(kind, payload.size());
  frame.append(payload);
  return WriteAll(fd, frame.data(), frame.size());
}

// The length a header announces.
inline size_t FrameLength(const char* header) {
  size_t size = 0;
  for (int i = 0; i < 4; ++i) size |= static_cast<size_t>(static_cast<unsigned char>(header[1 + i])) << (8 * i);
  return size;
}

// Reads one whole frame (blocking); false at the end of the pipe, on an error,
// or when the frame is longer than most.
inline bool ReadFrame(int fd, size_t most, char& kind, std::string& payload) {
  auto readAll = [fd](char* data, size_t size) {
    while (size) {
      ssize_t n = read(fd, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  };
  char header[kHeaderBytes];
  if (!readAll(header, sizeof header)) return false;
  size_t size = FrameLength(header);
  if (size > most) return false;
  kind = header[0];
  payload.assign(size, '\0');
  return readAll(payload.data(), size);
}

}  // namespace ZYT::Zytfilt::IndexProtocol

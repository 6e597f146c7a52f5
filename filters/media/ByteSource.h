// Where a format reader's bytes come from: an open file or a buffer. Reads
// never pass the end; a short count tells the reader where the data ends.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/win32/FileApi.h"

class IByteSource {
 public:
  virtual ~IByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Bytes read at offset, fewer than n at the end (0 past it or on error).
  virtual size_t ReadAt(uint64_t offset, void* buffer, size_t n) const = 0;
};

class CMemoryByteSource final : public IByteSource {
 public:
  explicit CMemoryByteSource(std::string_view bytes) : m_bytes(bytes) {}
  uint64_t Size() const override { return m_bytes.size(); }
  size_t ReadAt(uint64_t offset, void* buffer, size_t n) const override {
    if (offset >= m_bytes.size()) return 0;
    size_t count = std::min<uint64_t>(n, m_bytes.size() - offset);
    std::memcpy(buffer, m_bytes.data() + offset, count);
    return count;
  }

 private:
  std::string_view m_bytes;
};

// Reads through an open Win32 file handle; does not own it.
class CFileByteSource final : public IByteSource {
 public:
  explicit CFileByteSource(HANDLE file) : m_file(file) {}
  uint64_t Size() const override {
    LARGE_INTEGER size;
    return GetFileSizeEx(m_file, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
  }
  size_t ReadAt(uint64_t offset, void* buffer, size_t n) const override {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    if (!ReadFile(m_file, buffer, static_cast<DWORD>(std::min<size_t>(n, 0x7FFFFFFF)), &read, &at)) return 0;
    return read;
  }

 private:
  HANDLE m_file;
};

// Small reads served from a window of the source, so that a reader walking
// millions of frame headers or comment lengths makes few calls to the file.
class CByteWindow {
 public:
  // first: the size of the first read, when a reader expects what it needs
  // at the start (an MP3 tag's text frames), else the capacity.
  explicit CByteWindow(const IByteSource& source, size_t capacity = 64 * 1024, size_t first = 0)
      : m_source(source), m_size(source.Size()), m_capacity(capacity), m_next(first ? std::min(first, capacity) : capacity) {}
  uint64_t Size() const { return m_size; }
  // All n bytes at offset, or false (nothing beyond the source is read).
  bool Read(uint64_t offset, void* buffer, size_t n) {
    if (offset > m_size || n > m_size - offset) return false;
    BYTE* out = static_cast<BYTE*>(buffer);
    while (n > 0) {
      size_t count = n;
      const BYTE* bytes = Peek(offset, count);
      if (!bytes) return false;
      std::memcpy(out, bytes, count);
      out += count;
      offset += count;
      n -= count;
    }
    return true;
  }
  // The bytes at offset as they lie in the window, without a copy: at most
  // n, and n set to how many (at least 1); null at the end or on an error.
  const BYTE* Peek(uint64_t offset, size_t& n) {
    if (offset >= m_size || n == 0) return nullptr;
    if (offset < m_start || offset >= m_start + m_length) {
      if (!m_bytes) m_bytes.reset(new BYTE[static_cast<size_t>(std::min<uint64_t>(m_capacity, m_size))]);
      m_start = offset;
      m_length = m_source.ReadAt(offset, m_bytes.get(), static_cast<size_t>(std::min<uint64_t>(m_next, m_size - offset)));
      m_next = m_capacity;
      if (m_length == 0) return nullptr;
    }
    size_t at = static_cast<size_t>(offset - m_start);
    n = std::min(n, m_length - at);
    return m_bytes.get() + at;
  }

 private:
  const IByteSource& m_source;
  uint64_t m_size;
  size_t m_capacity;
  size_t m_next;
  uint64_t m_start = 0;
  size_t m_length = 0;
  std::unique_ptr<BYTE[]> m_bytes;  // not cleared: only the m_length bytes read are looked at
};

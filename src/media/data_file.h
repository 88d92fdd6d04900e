// Opening the show's data files: only a regular file is opened for reading, and
// a FIFO, device, folder or socket is told apart without blocking on it (a FIFO
// with no writer would hold an open forever).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace vornisk {

struct CloseFile {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, CloseFile>;

struct DataFile {
  FileHandle file;  // null when the file is missing, unreadable or not a regular file
  std::uint64_t size = 0;
  // Why a file that exists was not opened, e.g. "a folder, not a regular file";
  // empty when it was opened or could not be opened at all.
  std::string notRegular;
};

DataFile openDataFile(const std::string& path);

// The music file's bytes, read with a limit: never more than `limit` bytes are
// read or allocated, whatever the file claims or grows to.
struct MusicImage {
  char* bytes = nullptr;  // malloc'd, at least one byte; null on failure
  int length = 0;
  std::string problem;  // empty when read, "" with null bytes: could not open
};

// Larger music files are refused before any byte is read: four times a
// 174-second CD-quality WAV, room for 24-bit 96 kHz stereo; compressed formats
// need a tenth of it.
inline constexpr std::uint64_t kMaxMusicBytes = 128u << 20;

MusicImage readMusicFile(const std::string& path, std::uint64_t limit = kMaxMusicBytes);

}  // namespace vornisk

// Data files are checked with fstat on a descriptor opened without blocking
// (POSIX), so a FIFO, a device or a file swapped between a check and the open
// cannot hold the show; elsewhere the status is asked before the open.
#include "media/data_file.h"

#include <cstdlib>
#include <filesystem>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vornisk {
namespace {

namespace fs = std::filesystem;

std::string notRegularText(fs::file_type type) {
  switch (type) {
    case fs::file_type::directory:
      return "a folder, not a regular file";
    case fs::file_type::fifo:
      return "a FIFO, not a regular file";
    case fs::file_type::block:
    case fs::file_type::character:
      return "a device, not a regular file";
    case fs::file_type::socket:
      return "a socket, not a regular file";
    default:
      return "not a regular file";
  }
}

#ifndef _WIN32
fs::file_type typeOf(mode_t mode) {
  if (S_ISDIR(mode)) return fs::file_type::directory;
  if (S_ISFIFO(mode)) return fs::file_type::fifo;
  if (S_ISCHR(mode)) return fs::file_type::character;
  if (S_ISBLK(mode)) return fs::file_type::block;
  if (S_ISSOCK(mode)) return fs::file_type::socket;
  return S_ISREG(mode) ? fs::file_type::regular : fs::file_type::unknown;
}
#endif

}  // namespace

DataFile openDataFile(const std::string& path) {
  DataFile data;
#ifndef _WIN32
  struct stat status {};
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    // A socket cannot be opened at all: say what it is all the same.
    if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
      data.notRegular = notRegularText(typeOf(status.st_mode));
    }
    return data;
  }
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    data.notRegular = notRegularText(typeOf(status.st_mode));
    ::close(fd);
    return data;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  data.file.reset(::fdopen(fd, "rb"));
  if (!data.file) {
    ::close(fd);
    return data;
  }
  data.size = static_cast<std::uint64_t>(status.st_size);
#else
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (!error && fs::exists(status) && !fs::is_regular_file(status)) {
    data.notRegular = notRegularText(status.type());
    return data;
  }
  data.file.reset(std::fopen(path.c_str(), "rb"));
  if (data.file) data.size = fs::file_size(path, error);
#endif
  return data;
}

MusicImage readMusicFile(const std::string& path, std::uint64_t limit) {
  MusicImage music;
  DataFile data = openDataFile(path);
  if (!data.file) {
    music.problem = data.notRegular;
    return music;
  }
  if (data.size > limit) {
    const std::string most = limit >= (1u << 20) ? std::to_string(limit >> 20) + " MiB"
                                                 : std::to_string(limit) + " bytes";
    music.problem =
        std::to_string(data.size) + " bytes, more than the " + most + " a music file may have";
    return music;
  }
  const auto size = static_cast<std::size_t>(data.size);
  // One byte at least, so that an empty file still yields a block.
  auto* bytes = static_cast<char*>(std::malloc(size > 0 ? size : 1));
  if (bytes == nullptr) {
    music.problem = "not enough memory for its " + std::to_string(size) + " bytes";
    return music;
  }
  // Whatever the file holds by now, no more than its measured size is read.
  music.length = static_cast<int>(std::fread(bytes, 1, size, data.file.get()));
  music.bytes = bytes;
  return music;
}

}  // namespace vornisk

// vornisk-datagen: writes the show's default data files, made entirely by our
// own code, into a folder: "title._vq" and "title2._vq" (the opening and
// closing pictures) and "music._vq" (the soundtrack, a WAV file). With
// --icons it writes the application icon instead, as an icon theme tree:
// <folder>/<N>x<N>/apps/vornisk.png for every size of the hicolor theme.
// Usage: vornisk-datagen [--icons] <output folder>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "capture/png_writer.h"
#include "icons.h"
#include "soundtrack.h"
#include "title_pictures.h"

namespace {

bool writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "vornisk-datagen: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

bool writeIcons(const std::string& folder) {
  capture::PngWriter png(1);
  for (const int size : datagen::kIconSizes) {
    const std::string sizeName = std::to_string(size) + "x" + std::to_string(size);
    const std::string appsFolder = folder + sizeName + "/apps";
    std::error_code error;
    std::filesystem::create_directories(appsFolder, error);
    if (error) {
      std::fprintf(stderr, "vornisk-datagen: cannot create %s\n", appsFolder.c_str());
      return false;
    }
    const std::vector<std::uint32_t> icon = datagen::makeIcon(size);
    const std::string failure = png.write(appsFolder + "/vornisk.png", icon.data(), size, size);
    if (!failure.empty()) {
      std::fprintf(stderr, "vornisk-datagen: %s\n", failure.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool icons = argc == 3 && std::string_view(argv[1]) == "--icons";
  if (argc != 2 && !icons) {
    std::fprintf(stderr, "usage: vornisk-datagen [--icons] <output folder>\n");
    return 2;
  }
  std::string folder = argv[argc - 1];
  if (!folder.empty() && folder.back() != '/') folder += '/';
  if (icons) return writeIcons(folder) ? 0 : 1;
  using datagen::TitlePicture;
  const bool written =
      writeFile(folder + "title._vq", datagen::makeTitlePicture(TitlePicture::Opening)) &&
      writeFile(folder + "title2._vq", datagen::makeTitlePicture(TitlePicture::Closing)) &&
      writeFile(folder + "music._vq", datagen::makeSoundtrack());
  return written ? 0 : 1;
}

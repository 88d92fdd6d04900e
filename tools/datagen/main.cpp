// vornisk-datagen: writes the show's default data files, made entirely by our
// own code, into a folder: "title._vq" and "title2._vq" (the opening and
// closing pictures) and "music._vq" (the soundtrack, a WAV file).
// Usage: vornisk-datagen <output folder>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vornisk-datagen <output folder>\n");
    return 2;
  }
  std::string folder = argv[1];
  if (!folder.empty() && folder.back() != '/') folder += '/';
  using datagen::TitlePicture;
  const bool written =
      writeFile(folder + "title._vq", datagen::makeTitlePicture(TitlePicture::Opening)) &&
      writeFile(folder + "title2._vq", datagen::makeTitlePicture(TitlePicture::Closing)) &&
      writeFile(folder + "music._vq", datagen::makeSoundtrack());
  return written ? 0 : 1;
}

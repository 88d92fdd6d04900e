// vornisk-datagen: writes the show's default data files, made entirely by our
// own code, into a folder: "title._vq" and "title2._vq" (the opening and
// closing pictures) and "music._vq" (the soundtrack, MP3). --soundtrack-wav
// FILE also writes the soundtrack as it was before encoding, a WAV file: the
// same bytes on every machine, where the encoder's need not be. With --icons
// it writes the application icon instead, as an icon theme tree:
// <folder>/<N>x<N>/apps/vornisk.png for every size of the hicolor theme; with
// --web-icons as <folder>/icon-<N>.png in the sizes the web page wants.
// Usage: vornisk-datagen [--soundtrack-wav FILE] <output folder>
//        vornisk-datagen --icons|--web-icons <output folder>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "capture/png_writer.h"
#include "icons.h"
#include "mp3_encoder.h"
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

bool writeIcon(capture::PngWriter& png, const std::string& folder, const std::string& name,
               int size) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    std::fprintf(stderr, "vornisk-datagen: cannot create %s\n", folder.c_str());
    return false;
  }
  const std::vector<std::uint32_t> icon = datagen::makeIcon(size);
  const std::string failure = png.write(folder + "/" + name, icon.data(), size, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "vornisk-datagen: %s\n", failure.c_str());
    return false;
  }
  return true;
}

bool writeIcons(const std::string& folder) {
  capture::PngWriter png(1);
  for (const int size : datagen::kIconSizes) {
    const std::string sizeName = std::to_string(size) + "x" + std::to_string(size);
    if (!writeIcon(png, folder + sizeName + "/apps", "vornisk.png", size)) return false;
  }
  return true;
}

bool writeWebIcons(const std::string& folder) {
  capture::PngWriter png(1);
  for (const int size : datagen::kWebIconSizes) {
    if (!writeIcon(png, folder, "icon-" + std::to_string(size) + ".png", size)) return false;
  }
  return true;
}

bool writeData(const std::string& folder, const std::string& soundtrackWav) {
  using datagen::TitlePicture;
  if (!writeFile(folder + "title._vq", datagen::makeTitlePicture(TitlePicture::Opening)) ||
      !writeFile(folder + "title2._vq", datagen::makeTitlePicture(TitlePicture::Closing))) {
    return false;
  }
  const std::vector<std::int16_t> samples = datagen::makeSoundtrackSamples();
  if (!soundtrackWav.empty() && !writeFile(soundtrackWav, datagen::wavFile(samples))) return false;
  std::string error;
  const std::vector<unsigned char> mp3 =
      datagen::encodeMp3(samples, datagen::kSampleRate, datagen::kSoundtrackKbps, error);
  if (mp3.empty()) {
    std::fprintf(stderr, "vornisk-datagen: %s\n", error.c_str());
    return false;
  }
  return writeFile(folder + "music._vq", mp3);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> arguments(argv + 1, argv + argc);
  const bool icons = arguments.size() == 2 && arguments[0] == "--icons";
  const bool webIcons = arguments.size() == 2 && arguments[0] == "--web-icons";
  const bool withWav = arguments.size() == 3 && arguments[0] == "--soundtrack-wav";
  if (arguments.size() != 1 && !icons && !webIcons && !withWav) {
    std::fprintf(stderr,
                 "usage: vornisk-datagen [--soundtrack-wav FILE] <output folder>\n"
                 "       vornisk-datagen --icons|--web-icons <output folder>\n");
    return 2;
  }
  std::string folder(arguments.back());
  if (!folder.empty() && folder.back() != '/') folder += '/';
  if (icons) return writeIcons(folder) ? 0 : 1;
  if (webIcons) return writeWebIcons(folder) ? 0 : 1;
  return writeData(folder, withWav ? std::string(arguments[1]) : std::string()) ? 0 : 1;
}

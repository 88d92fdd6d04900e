// Drawing of the title pictures. Everything is computed per pixel in double
// precision with the deterministic maths kit, then ordered-dithered to 8 bits,
// so the files come out byte-identical on every build.
#include "title_pictures.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <string>

#include "deterministic_math.h"

namespace datagen {
namespace {

struct Colour {
  double r = 0, g = 0, b = 0;
};

Colour rgb(int hex) {
  return {((hex >> 16) & 0xFF) / 255.0, ((hex >> 8) & 0xFF) / 255.0, (hex & 0xFF) / 255.0};
}
Colour mixColour(Colour a, Colour b, double t) {
  return {mix(a.r, b.r, t), mix(a.g, b.g, t), mix(a.b, b.b, t)};
}
Colour scale(Colour c, double k) {
  return {c.r * k, c.g * k, c.b * k};
}
Colour add(Colour a, Colour b) {
  return {a.r + b.r, a.g + b.g, a.b + b.b};
}

// A colour ramp through evenly spaced stops.
template <std::size_t N>
Colour ramp(const std::array<Colour, N>& stops, double t) {
  const double position = clamp01(t) * static_cast<double>(N - 1);
  std::size_t index = static_cast<std::size_t>(position);
  if (index >= N - 1) index = N - 2;
  return mixColour(stops[index], stops[index + 1], position - static_cast<double>(index));
}

// ---------------------------------------------------------------------------
// The font: 5 × 7 cells per glyph, drawn blocky and smoothed when scaled (see
// glyphCovers), one column of space between letters.

constexpr int kGlyphColumns = 5;
constexpr int kGlyphRows = 7;
constexpr int kAdvanceColumns = 6;

using Glyph = std::array<const char*, kGlyphRows>;

Glyph glyphFor(char c) {
  switch (c) {
    case 'A':
      return {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"};
    case 'C':
      return {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."};
    case 'D':
      return {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."};
    case 'E':
      return {"#####", "#....", "#....", "####.", "#....", "#....", "#####"};
    case 'F':
      return {"#####", "#....", "#....", "####.", "#....", "#....", "#...."};
    case 'G':
      return {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"};
    case 'H':
      return {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"};
    case 'I':
      return {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"};
    case 'K':
      return {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"};
    case 'L':
      return {"#....", "#....", "#....", "#....", "#....", "#....", "#####"};
    case 'M':
      return {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"};
    case 'N':
      return {"#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"};
    case 'O':
      return {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."};
    case 'P':
      return {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."};
    case 'R':
      return {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"};
    case 'S':
      return {".####", "#....", "#....", ".###.", "....#", "....#", "####."};
    case 'T':
      return {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."};
    case 'U':
      return {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."};
    case 'V':
      return {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."};
    case 'W':
      return {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "##.##", "#...#"};
    case 'Y':
      return {"#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."};
    case '-':
      return {".....", ".....", ".....", ".###.", ".....", ".....", "....."};
    case '.':
      return {".....", ".....", ".....", ".....", ".....", ".##..", ".##.."};
    default:
      return {".....", ".....", ".....", ".....", ".....", ".....", "....."};
  }
}

bool cellOn(const Glyph& glyph, int column, int row) {
  if (column < 0 || column >= kGlyphColumns || row < 0 || row >= kGlyphRows) return false;
  return glyph[static_cast<std::size_t>(row)][column] == '#';
}

// Whether a point (in cell units, y downward) of a glyph is ink. Square cells
// alone would give stair-stepped diagonals when scaled up, so corners are
// smoothed the way pixel-art scalers do it: an empty cell takes a triangle in
// a corner where both its neighbours towards that corner are ink (joining
// diagonals, rounding inside corners), and an ink cell loses its corner where
// everything towards that corner is empty (rounding outside corners).
bool glyphCovers(const Glyph& glyph, double u, double v) {
  if (u < 0.0 || v < 0.0 || u >= kGlyphColumns || v >= kGlyphRows) return false;
  const int column = static_cast<int>(u);
  const int row = static_cast<int>(v);
  const double fx = u - column;
  const double fy = v - row;
  const int towardX = fx < 0.5 ? -1 : 1;
  const int towardY = fy < 0.5 ? -1 : 1;
  const double fromCornerX = towardX < 0 ? fx : 1.0 - fx;
  const double fromCornerY = towardY < 0 ? fy : 1.0 - fy;
  const bool sideX = cellOn(glyph, column + towardX, row);
  const bool sideY = cellOn(glyph, column, row + towardY);
  const bool diagonal = cellOn(glyph, column + towardX, row + towardY);
  if (cellOn(glyph, column, row)) {
    return sideX || sideY || diagonal || fromCornerX + fromCornerY >= 0.42;
  }
  return sideX && sideY && fromCornerX + fromCornerY < 0.5;
}

// A line of text placed on the picture, with cells of cellWidth × cellHeight pixels.
struct TextLine {
  std::string text;
  double left;
  double top;
  double cellWidth;
  double cellHeight;

  double width() const {
    return (static_cast<double>(text.size()) * kAdvanceColumns - 1.0) * cellWidth;
  }
  double height() const { return kGlyphRows * cellHeight; }

  bool covers(double x, double y) const {
    const double u = (x - left) / cellWidth;
    const double v = (y - top) / cellHeight;
    if (u < 0.0 || v < 0.0 || v >= kGlyphRows) return false;
    const std::size_t letter = static_cast<std::size_t>(u / kAdvanceColumns);
    if (letter >= text.size()) return false;
    return glyphCovers(glyphFor(text[letter]), u - static_cast<double>(letter) * kAdvanceColumns,
                       v);
  }

  // Ink coverage of the pixel whose top-left corner is (x, y), 4 × 4 samples.
  double coverage(double x, double y) const {
    int hits = 0;
    for (int sy = 0; sy < 4; ++sy) {
      for (int sx = 0; sx < 4; ++sx) {
        if (covers(x + (sx + 0.5) / 4.0, y + (sy + 0.5) / 4.0)) ++hits;
      }
    }
    return hits / 16.0;
  }
};

TextLine centred(const std::string& text, double top, double cellWidth, double cellHeight) {
  TextLine line{text, 0.0, top, cellWidth, cellHeight};
  line.left = static_cast<double>(static_cast<int>((kTitleWidth - line.width()) / 2.0));
  return line;
}

// ---------------------------------------------------------------------------
// The scene behind the lettering.

struct Scene {
  double horizon;  // screen row of the horizon
  double sunX, sunY, sunRadius;
  Colour skyTop, skyMiddle, skyHorizon;
  Colour gridColour;
  double gridScroll;
};

Colour sunColour(const Scene& scene, double y) {
  static const std::array<Colour, 4> stops = {rgb(0xFFF59A), rgb(0xFFC040), rgb(0xFF6A3A),
                                              rgb(0xF0208A)};
  return ramp(stops, (y - (scene.sunY - scene.sunRadius)) / (scene.sunRadius * 1.05));
}

// The sun's ink at (x, y): a disc whose lower part is cut by bands that widen
// towards the horizon. Anti-aliased by 4 × 4 samples.
double sunCoverage(const Scene& scene, double x, double y) {
  int hits = 0;
  for (int sy = 0; sy < 4; ++sy) {
    for (int sx = 0; sx < 4; ++sx) {
      const double px = x + (sx + 0.5) / 4.0;
      const double py = y + (sy + 0.5) / 4.0;
      const double dx = px - scene.sunX;
      const double dy = py - scene.sunY;
      if (dx * dx + dy * dy > scene.sunRadius * scene.sunRadius) continue;
      // Bands from a third of the way down the disc, widening as they sink.
      const double below = (py - (scene.sunY - scene.sunRadius * 0.62)) / scene.sunRadius;
      if (below > 0.0) {
        const double period = 7.0;
        const double phase = (scene.sunY + scene.sunRadius - py) / period;
        const double inBand = phase - static_cast<double>(static_cast<int>(phase));
        if (inBand < 0.08 + below * 0.45) continue;
      }
      ++hits;
    }
  }
  return hits / 16.0;
}

// The mountain ridge's screen row at column x: a few sines, tallest at the sides.
double ridgeRow(const Scene& scene, double x) {
  const double u = x / kTitleWidth;
  double height = 9.0 + 6.0 * sineOfCycles(u * 2.3 + 0.1) + 3.5 * sineOfCycles(u * 5.7 + 0.4) +
                  1.5 * sineOfCycles(u * 13.1 + 0.7) + 0.7 * sineOfCycles(u * 29.0);
  const double fromCentre = (x - scene.sunX) / (kTitleWidth * 0.5);
  height *= 0.35 + 0.9 * fromCentre * fromCentre;
  return scene.horizon - height;
}

Colour sky(const Scene& scene, double x, double y) {
  const double t = y / scene.horizon;
  Colour c = t < 0.55 ? mixColour(scene.skyTop, scene.skyMiddle, t / 0.55)
                      : mixColour(scene.skyMiddle, scene.skyHorizon, (t - 0.55) / 0.45);
  // Glow around the sun, fading with distance from its rim.
  const double dx = x - scene.sunX;
  const double dy = y - scene.sunY;
  const double distance = std::sqrt(dx * dx + dy * dy);
  if (distance > scene.sunRadius) {
    const double glow = 0.42 * exponential(-(distance - scene.sunRadius) / 22.0);
    c = add(c, scale(rgb(0xFF3C8C), glow));
  }
  return c;
}

void drawStars(std::vector<Colour>& image, const Scene& scene, std::uint32_t seed) {
  Noise noise(seed);
  for (int i = 0; i < 260; ++i) {
    const int x = static_cast<int>(noise.nextUnit() * kTitleWidth);
    const int y = static_cast<int>(noise.nextUnit() * (scene.horizon - 20.0));
    const double brightness = 0.25 + 0.75 * noise.nextUnit() * noise.nextUnit();
    const double tint = noise.nextUnit();
    // Dimmer towards the horizon's haze.
    const double fade = 1.0 - smoothStep(0.35, 0.9, y / scene.horizon);
    const Colour star = scale(mixColour(rgb(0xA8C8FF), rgb(0xFFE8D0), tint), brightness * fade);
    auto plot = [&](int px, int py, double k) {
      if (px < 0 || py < 0 || px >= kTitleWidth || py >= kTitleHeight) return;
      Colour& pixel = image[static_cast<std::size_t>(py * kTitleWidth + px)];
      pixel = add(pixel, scale(star, k));
    };
    plot(x, y, 1.0);
    if (brightness > 0.8) {  // the brightest few get a small cross-shaped flare
      for (int d = 1; d <= 2; ++d) {
        const double k = d == 1 ? 0.55 : 0.2;
        plot(x - d, y, k);
        plot(x + d, y, k);
        plot(x, y - d, k);
        plot(x, y + d, k);
      }
    }
  }
}

Colour floorColour(const Scene& scene, double x, double y) {
  const double dy = y + 0.5 - scene.horizon;
  // Perspective: the ground plane one unit below the eye, 80 pixels of focal length.
  const double depth = 80.0 / dy;
  const double across = (x + 0.5 - scene.sunX) / dy;
  Colour c = mixColour(rgb(0x2A0838), rgb(0x070010), smoothStep(0.0, 70.0, dy));

  // Grid lines, anti-aliased by their distance in pixels.
  const double columnUnits = across / 0.55;
  const double columnFraction =
      columnUnits -
      static_cast<double>(static_cast<std::int64_t>(columnUnits + (columnUnits < 0 ? -0.5 : 0.5)));
  // Distances across a column line are measured perpendicular to it: far to
  // the sides the lines lie almost flat.
  const double slope = std::sqrt(1.0 + across * across);
  const double columnPixels =
      (columnFraction < 0 ? -columnFraction : columnFraction) * 0.55 * dy / slope;
  const double columnSpacing = 0.55 * dy / slope;
  const double rowUnits = depth + scene.gridScroll;
  const double rowFraction =
      rowUnits - static_cast<double>(static_cast<std::int64_t>(rowUnits + 0.5));
  const double rowPixels = (rowFraction < 0 ? -rowFraction : rowFraction) * dy * dy / 80.0;
  const double lineWidth = 0.9;
  double line = clamp01(1.2 - columnPixels / lineWidth) * smoothStep(2.5, 7.0, columnSpacing);
  // Lines closer together than a few pixels would only shimmer: they fade out.
  const double rowSpacing = dy * dy / 80.0;
  const double rowLine = clamp01(1.2 - rowPixels / lineWidth) * smoothStep(3.0, 8.0, rowSpacing);
  if (rowLine > line) line = rowLine;
  const double nearness = smoothStep(0.0, 50.0, dy);
  c = add(c, scale(scene.gridColour, line * (0.25 + 0.75 * nearness)));
  // A soft halo around lines near the viewer.
  const double halo =
      clamp01(1.0 - columnPixels / 4.0) * 0.12 * nearness * smoothStep(6.0, 14.0, columnSpacing);
  c = add(c, scale(scene.gridColour, halo));

  // The sun's reflection: broken horizontal streaks under it.
  const double fromSun = (x + 0.5 - scene.sunX) / (scene.sunRadius * 0.85);
  if (fromSun > -1.0 && fromSun < 1.0) {
    const double streak = static_cast<int>(y) % 3 == 0 ? 1.0 : 0.35;
    const double strength = (1.0 - fromSun * fromSun) * (1.0 - smoothStep(0.0, 60.0, dy));
    c = add(c, scale(sunColour(scene, scene.horizon - dy * 0.6), 0.28 * strength * streak));
  }
  // Haze at the horizon.
  c = mixColour(c, rgb(0xFF5AA0), 0.55 * exponential(-dy / 5.0));
  return c;
}

std::vector<Colour> drawScene(const Scene& scene, std::uint32_t starSeed) {
  std::vector<Colour> image(static_cast<std::size_t>(kTitleWidth * kTitleHeight));
  for (int y = 0; y < kTitleHeight; ++y) {
    for (int x = 0; x < kTitleWidth; ++x) {
      image[static_cast<std::size_t>(y * kTitleWidth + x)] =
          y < scene.horizon ? sky(scene, x + 0.5, y + 0.5) : floorColour(scene, x, y);
    }
  }
  drawStars(image, scene, starSeed);
  for (int y = 0; y < static_cast<int>(scene.horizon); ++y) {
    for (int x = 0; x < kTitleWidth; ++x) {
      Colour& pixel = image[static_cast<std::size_t>(y * kTitleWidth + x)];
      const double sunInk = sunCoverage(scene, x, y);
      if (sunInk > 0.0) pixel = mixColour(pixel, sunColour(scene, y + 0.5), sunInk);
      // Mountains in front of the sun, with a thin rim lit from behind.
      const double ridge = ridgeRow(scene, x + 0.5);
      const double intoRock = y + 0.5 - ridge;
      if (intoRock > -0.5) {
        const double rock = clamp01(intoRock + 0.5);
        const Colour rockColour = mixColour(rgb(0x150622), rgb(0x240A36), (y - ridge) / 20.0);
        pixel = mixColour(pixel, rockColour, rock);
        if (intoRock < 1.5) pixel = add(pixel, scale(rgb(0xFF70B0), 0.35 * (1.5 - intoRock) / 2.0));
      }
    }
  }
  // The horizon line itself.
  const int horizonRow = static_cast<int>(scene.horizon);
  for (int x = 0; x < kTitleWidth; ++x) {
    Colour& pixel = image[static_cast<std::size_t>(horizonRow * kTitleWidth + x)];
    pixel = add(pixel, scale(rgb(0xFFB0E0), 0.5));
  }
  return image;
}

// ---------------------------------------------------------------------------
// Lettering.

enum class Finish { Chrome, Neon };

// Chrome: a sky-blue-to-white upper half over a dark horizon line and a
// brown-to-gold lower half, as if the letters reflected a desert sunset.
Colour chrome(double t) {
  static const std::array<Colour, 4> upper = {rgb(0x1A2C78), rgb(0x4F86D8), rgb(0xBFE0FF),
                                              rgb(0xFFFFFF)};
  static const std::array<Colour, 4> lower = {rgb(0x3A1206), rgb(0x9A4A12), rgb(0xF0A040),
                                              rgb(0xFFF0B8)};
  if (t < 0.5) return ramp(upper, t / 0.5);
  if (t < 0.56) return mixColour(rgb(0x1A0A20), rgb(0x3A1206), (t - 0.5) / 0.06);
  return ramp(lower, (t - 0.56) / 0.44);
}

Colour neon(double t) {
  static const std::array<Colour, 3> stops = {rgb(0xE8FFFF), rgb(0x60E8FF), rgb(0x2090FF)};
  return ramp(stops, t);
}

void drawLettering(std::vector<Colour>& image, const TextLine& line, Finish finish, int depth) {
  const int left = static_cast<int>(line.left) - 2;
  const int top = static_cast<int>(line.top) - 2;
  const int right = static_cast<int>(line.left + line.width()) + depth + 10;
  const int bottom = static_cast<int>(line.top + line.height()) + depth + 10;
  const double shadowOffset = depth + 4.0;
  for (int y = top; y < bottom && y < kTitleHeight; ++y) {
    if (y < 0) continue;
    for (int x = left; x < right && x < kTitleWidth; ++x) {
      if (x < 0) continue;
      Colour& pixel = image[static_cast<std::size_t>(y * kTitleWidth + x)];
      // Soft drop shadow on the backdrop.
      double shadow = 0.0;
      for (int sy = -1; sy <= 1; ++sy) {
        for (int sx = -1; sx <= 1; ++sx) {
          shadow += line.coverage(x - shadowOffset + sx * 1.5, y - shadowOffset + sy * 1.5);
        }
      }
      pixel = scale(pixel, 1.0 - 0.6 * shadow / 9.0);
      // Dark outline one pixel around everything the letters cover.
      double outline = 0.0;
      for (int k = 0; k <= depth; ++k) {
        for (int sy = -1; sy <= 1; ++sy) {
          for (int sx = -1; sx <= 1; ++sx) {
            const double c = line.coverage(x - k + sx, y - k + sy);
            if (c > outline) outline = c;
          }
        }
        if (outline >= 1.0) break;
      }
      pixel = mixColour(pixel, rgb(0x06010C), outline);
      // The extruded sides: copies stepping down-right, darker with depth.
      for (int k = depth; k >= 1; --k) {
        const double side = line.coverage(x - k, y - k);
        if (side <= 0.0) continue;
        const double shade = 1.0 - static_cast<double>(k) / (depth + 1.0);
        const Colour sideColour = finish == Finish::Chrome
                                      ? mixColour(rgb(0x1E0838), rgb(0x8A2C8A), shade * shade)
                                      : mixColour(rgb(0x041838), rgb(0x1870B0), shade * shade);
        pixel = mixColour(pixel, sideColour, side);
      }
      // The face, with a bevel: lit along its top-left edges, shaded along the bottom-right.
      const double face = line.coverage(x, y);
      if (face <= 0.0) continue;
      const double t = (y + 0.5 - line.top) / line.height();
      Colour faceColour = finish == Finish::Chrome ? chrome(t) : neon(t);
      const double litEdge = face - line.coverage(x - 1.5, y - 1.5);
      const double shadedEdge = face - line.coverage(x + 1.5, y + 1.5);
      if (litEdge > 0.0) faceColour = mixColour(faceColour, rgb(0xFFFFFF), 0.7 * litEdge);
      if (shadedEdge > 0.0) faceColour = scale(faceColour, 1.0 - 0.45 * shadedEdge);
      // A diagonal gleam across the chrome.
      if (finish == Finish::Chrome) {
        const double across = (x - line.left) * 0.35 + (y - line.top);
        const double band = across - 30.0 * static_cast<double>(static_cast<int>(across / 30.0));
        if (band < 2.0)
          faceColour = mixColour(faceColour, rgb(0xFFFFFF), 0.35 * (1.0 - band / 2.0));
      }
      pixel = mixColour(pixel, faceColour, face);
    }
  }
}

// A four-pointed sparkle, as on polished chrome.
void drawSparkle(std::vector<Colour>& image, int cx, int cy, int size) {
  for (int d = -size; d <= size; ++d) {
    const double k = 1.0 - (d < 0 ? -d : d) / (size + 1.0);
    for (const auto& [x, y] : {std::pair{cx + d, cy}, std::pair{cx, cy + d}}) {
      if (x < 0 || y < 0 || x >= kTitleWidth || y >= kTitleHeight) continue;
      Colour& pixel = image[static_cast<std::size_t>(y * kTitleWidth + x)];
      pixel = mixColour(pixel, rgb(0xFFFFFF), k * k);
    }
  }
}

// ---------------------------------------------------------------------------

std::vector<unsigned char> encode(const std::vector<Colour>& image) {
  // 4 × 4 ordered dither: smooth gradients without banding, and no randomness.
  static const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  std::vector<unsigned char> file = {0,
                                     0,
                                     2,
                                     0,
                                     0,
                                     0,
                                     0,
                                     0,
                                     0,
                                     0,
                                     0,
                                     0,
                                     static_cast<unsigned char>(kTitleWidth & 0xFF),
                                     static_cast<unsigned char>(kTitleWidth >> 8),
                                     static_cast<unsigned char>(kTitleHeight & 0xFF),
                                     static_cast<unsigned char>(kTitleHeight >> 8),
                                     24,
                                     0};
  file.reserve(file.size() + static_cast<std::size_t>(kTitleWidth * kTitleHeight * 3));
  auto quantise = [](double v, int threshold) {
    const double level = clamp01(v) * 255.0 + (threshold - 7.5) / 16.0;
    const int byte = static_cast<int>(level + 0.5);
    return static_cast<unsigned char>(byte < 0 ? 0 : (byte > 255 ? 255 : byte));
  };
  for (int y = kTitleHeight - 1; y >= 0; --y) {  // bottom row first
    for (int x = 0; x < kTitleWidth; ++x) {
      const Colour& c = image[static_cast<std::size_t>(y * kTitleWidth + x)];
      const int threshold = bayer[y & 3][x & 3];
      file.push_back(quantise(c.b, threshold));
      file.push_back(quantise(c.g, threshold));
      file.push_back(quantise(c.r, threshold));
    }
  }
  return file;
}

}  // namespace

std::vector<unsigned char> makeTitlePicture(TitlePicture which) {
  if (which == TitlePicture::Opening) {
    const Scene scene{150.0,         160.0,         150.0,         60.0, rgb(0x020110),
                      rgb(0x1A0940), rgb(0x7A1468), rgb(0xFF2AD0), 0.3};
    std::vector<Colour> image = drawScene(scene, 0x5EED1234u);
    drawLettering(image, centred("VORNISK", 22.0, 7.0, 9.0), Finish::Chrome, 5);
    drawLettering(image, centred("A REAL-TIME DEMO", 204.0, 2.5, 3.0), Finish::Neon, 2);
    drawSparkle(image, 52, 26, 6);
    drawSparkle(image, 268, 76, 4);
    return encode(image);
  }
  // The closing picture: the same world at dusk, the sun half set.
  const Scene scene{150.0,         160.0,         170.0,         66.0, rgb(0x000006),
                    rgb(0x0E0830), rgb(0x6A1A60), rgb(0x40C0FF), 0.65};
  std::vector<Colour> image = drawScene(scene, 0x0BADCAFEu);
  drawLettering(image, centred("VORNISK", 18.0, 5.0, 6.0), Finish::Chrome, 4);
  drawLettering(image, centred("THANKS FOR WATCHING", 182.0, 2.5, 3.0), Finish::Neon, 2);
  drawSparkle(image, 88, 22, 5);
  return encode(image);
}

}  // namespace datagen

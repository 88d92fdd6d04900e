// The show's conductor: which effects run in a frame follows the elapsed clock
// and random draws weighted by Intensity; every motion follows the frame counter.
#include "shell/show.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "clock/clock.h"
#include "console/demo_console.h"
#include "console/random.h"
#include "console/show_state.h"
#include "effects/effects.h"
#include "media/music.h"
#include "metaballs/blob_field.h"
#include "metaballs/field_pipeline.h"

namespace vornisk {
namespace {

// Unsigned 32-bit difference: a clock that wraps during the show changes nothing.
std::uint32_t elapsedMs() {
  return timeGetTime() - startTime;
}

// Intensity products are formed in double precision and truncated toward zero.
std::uint32_t intensityModulus(double factor) {
  return static_cast<std::uint32_t>(static_cast<double>(Intensity) * factor);
}

// Loads a title picture; a failure names the file it was about.
void loadTitle(DemoConsole& console, const std::string& path) {
  try {
    console.loadTitleImage(path.c_str());
  } catch (const ptc::DynamicError& error) {
    throw ptc::DynamicError(path + ": " + error.message());
  }
}

// Glitch phase: the title (plain or in a jitter burst), a rare clear, a rare
// checkerboard, then the copper bars (which test the clock themselves).
void drawGlitchPhase(DemoConsole& console) {
  const std::uint32_t r = nextRandom() % 10;
  if (static_cast<double>(Intensity) * 4 > r) {
    if (jitterFrames == 0) {
      console.copyTitle();
    } else {
      console.jitterTitle();
      jitterFrames -= 1;
    }
    if (nextRandom() % intensityModulus(1000) < 10) {
      jitterFrames = static_cast<std::int32_t>(nextRandom() % 50 + 50);
    }
  }
  if (nextRandom() % intensityModulus(1000) == 0) console.clearFrame();
  if (nextRandom() % intensityModulus(600) == 0) console.drawCheckerboard(8, 128);
  drawCopperBars(console);
}

std::string dataPath(const std::string& directory, const char* name) {
  if (directory.empty()) return name;
  return directory.back() == '/' ? directory + name : directory + '/' + name;
}

}  // namespace

void drawShowFrame(DemoConsole& console, FieldPipeline& fields, FrameLoopState& state) {
  // Every effect of a frame reports where it draws, so a title copy or a clear
  // need only undo what was drawn since the last one.
  console.trackDrawing(true);
  console.lock();
  if (!state.secondTitleLoaded && elapsedMs() > 153500) {
    state.secondTitleLoaded = true;
    loadTitle(console, state.secondTitlePath);
  }
  if (elapsedMs() < 23200) {
    console.clearFrame();
  } else if (elapsedMs() > 153500) {
    console.copyTitle();
  } else {
    drawGlitchPhase(console);
  }
  if (elapsedMs() > 46200 && elapsedMs() < 69500) drawSpinningTriangles(console);

  // The field (reset, the six balls) and its wire net: prepared ahead, as they
  // depend on the frame counter alone.
  FieldPipeline::Prepared& field = fields.frame(console.frameCounter, console);
  const std::uint32_t r = nextRandom() % 10;
  if (static_cast<double>(Intensity) * 6 > r) {
    field.field.renderPrepared(console, field.net, fields.lines(), fields.draws());
  }
  fields.finishFrame();
  console.present();
}

int runShow(const ShowSetup& setup) {
  // Paths are made before the loop: the frame path allocates nothing.
  const std::string titlePath = dataPath(setup.dataDirectory, "title._vq");
  FrameLoopState loop;
  loop.secondTitlePath = dataPath(setup.dataDirectory, "title2._vq");
  const std::string musicPath = dataPath(setup.dataDirectory, "music._vq");

  resetShowState();
  seedRandom(timeGetTime());
  DemoConsole console;
  if (setup.makeBackend) console.setBackend(setup.makeBackend());
  FieldPipeline fields(setup.fieldThreads);

  try {
    console.open("Vornisk", 320, 240, true);
    loadTitle(console, titlePath);
    startMusic(musicPath.c_str());
    startTime = timeGetTime();
    if (!console.keyPressed()) {
      while (elapsedMs() < kShowLengthMs) {
        drawShowFrame(console, fields, loop);
        if (console.keyPressed()) break;
      }
    }
  } catch (const ptc::DynamicError& error) {
    // Toolkit failures (no display, a bad title picture) end the show cleanly.
    std::fprintf(stderr, "vornisk: %s\n", error.message());
    std::fflush(stderr);
    stopMusic();
    console.close();
    return 1;
  }
  stopMusic();
  console.close();
  return 0;
}

}  // namespace vornisk

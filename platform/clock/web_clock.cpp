// The millisecond clock in a web browser: the page's monotonic clock
// (performance.now), kept in step with the music while it plays, so that
// picture and sound stay together even when the audio device's clock runs a
// little fast or slow, or the sound starts late.
//
// The sound layer (platform/fsound/web_audio.cpp) notes in Module.vorniskAudio
// which reading of this clock the music started at and where the audio
// context's own clock then stood. Each reading compares the two clocks and moves
// a correction a small step toward the music, so the audio clock's coarse steps
// do not show. Readings never go back: the show takes unsigned differences, and
// a reading below startTime would look like the end of time.
//
// The page can hold the clock (Module.vorniskClock.hold(), release()) while
// it pauses the picture and the music, as in a hidden tab: readings stand still
// while it is held, and the time it was held is taken out of every later one.
#include <emscripten.h>

#include "clock/clock.h"

namespace {

// clang-format off
EM_JS(double, readPageClock, (), {
  var clock = Module.vorniskClock;
  if (!clock) {
    clock = Module.vorniskClock = {offset: 0, last: 0, heldAt: null};
    clock.hold = function() {
      if (clock.heldAt === null) clock.heldAt = performance.now();
    };
    clock.release = function() {
      if (clock.heldAt === null) return;
      clock.offset -= performance.now() - clock.heldAt;
      clock.heldAt = null;
    };
  }
  var now = clock.heldAt === null ? performance.now() : clock.heldAt;
  var audio = Module.vorniskAudio;
  if (clock.heldAt === null && audio && audio.playing && audio.context.state === 'running') {
    var musicMs = audio.startMs + (audio.context.currentTime - audio.startContextTime) * 1000;
    clock.offset += (musicMs - (now + clock.offset)) * 0.05;
  }
  clock.last = Math.max(clock.last, Math.floor(now + clock.offset));
  return clock.last;
});
// clang-format on

}  // namespace

namespace timing {

std::uint32_t monotonicMilliseconds() {
  // Keep the low 32 bits: readings wrap like the classic multimedia timer.
  return static_cast<std::uint32_t>(static_cast<unsigned long long>(readPageClock()));
}

}  // namespace timing

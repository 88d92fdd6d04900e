// The soundtrack's synthesiser and arrangement. One pass over the samples: at
// every sixteenth-note step the arrangement triggers the instruments, which
// then run sample by sample. All maths is deterministic (see
// deterministic_math.h), so the file is the same on every build.
//
// Tempo. The show changes at 23.2 s (the glitch phase), 46.2 s (triangles),
// 69.5 s (colour bars) and 153.5 s (closing picture). With bars of 1.44726 s
// those times are bars 16, 32, 48 and 106 (23.156, 46.312, 69.468 and
// 153.410 s): every change lands within 0.12 s (about one sixteenth note) of
// a bar line, and the first three on 16-bar phrase boundaries. That is
// 165.83 BPM in 4/4, a drum'n'bass tempo; the glitch section runs it in half
// time. A step (a sixteenth note) is a whole number of samples, 3989, so
// every event starts on an exact sample.
#include "soundtrack.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <memory>

#include "deterministic_math.h"

namespace datagen {
namespace {

constexpr double kRate = kSampleRate;
constexpr std::int64_t kFramesPerStep = 3989;
constexpr int kStepsPerBar = 16;

// Section starts, in bars.
constexpr int kGlitchBar = 16;
constexpr int kTrianglesBar = 32;
constexpr int kGrooveBar = 48;
constexpr int kOutroBar = 106;
// The master fade of the outro, in bars; silence after it.
constexpr double kFadeStartBar = 110.0;
constexpr double kFadeEndBar = 117.0;

double decayPerSample(double seconds) {
  return exponential(-1.0 / (seconds * kRate));
}
double onePoleCoefficient(double hz) {
  return 1.0 - exponential(-2.0 * kPi * hz / kRate);
}

// ---------------------------------------------------------------------------
// Building blocks.

// Band-limited sawtooth (polyBLEP), phase in cycles.
struct Saw {
  double phase = 0.0;
  double next(double hz) {
    const double step = hz / kRate;
    double value = 2.0 * phase - 1.0;
    if (phase < step) {
      const double t = phase / step;
      value -= t + t - t * t - 1.0;
    } else if (phase > 1.0 - step) {
      const double t = (phase - 1.0) / step;
      value -= t * t + t + t + 1.0;
    }
    phase += step;
    if (phase >= 1.0) phase -= 1.0;
    return value;
  }
};

struct Sine {
  double phase = 0.0;
  double next(double hz) {
    const double value = sineOfCycles(phase);
    phase += hz / kRate;
    if (phase >= 1.0) phase -= 1.0;
    return value;
  }
};

// Chamberlin state-variable filter; stable for cut-offs up to about 7 kHz.
struct Filter {
  double low = 0.0, band = 0.0;
  double f = 0.1, damping = 1.0;
  void set(double hz, double resonance) {
    f = 2.0 * sineOfCycles(hz / (2.0 * kRate));
    damping = 1.0 / resonance;
  }
  double lowPass(double in) {
    low += f * band;
    const double high = in - low - damping * band;
    band += f * high;
    return low;
  }
  double bandPass(double in) {
    lowPass(in);
    return band;
  }
};

struct Stereo {
  double left = 0.0, right = 0.0;
};

void addPanned(Stereo& out, double value, double pan) {
  out.left += value * (pan > 0.0 ? 1.0 - pan : 1.0);
  out.right += value * (pan < 0.0 ? 1.0 + pan : 1.0);
}

// ---------------------------------------------------------------------------
// Drums.

struct Kick {
  double amplitude = 0.0, pitch = 0.0, click = 0.0;
  Sine body;
  const double ampDecay = decayPerSample(0.30);
  const double pitchDecay = decayPerSample(0.032);
  const double clickDecay = decayPerSample(0.002);
  void hit(double velocity) {
    amplitude = velocity;
    pitch = 1.0;
    click = velocity * 0.3;
    body.phase = 0.0;
  }
  double next(Noise& noise) {
    if (amplitude < 1e-5) return 0.0;
    const double value = body.next(46.0 + 130.0 * pitch) * amplitude + noise.nextSigned() * click;
    amplitude *= ampDecay;
    pitch *= pitchDecay;
    click *= clickDecay;
    return value;
  }
};

struct Snare {
  double tone = 0.0, rattle = 0.0, pitch = 0.0;
  Sine body;
  Filter colour;
  const double toneDecay = decayPerSample(0.05);
  const double rattleDecay = decayPerSample(0.13);
  const double pitchDecay = decayPerSample(0.02);
  Snare() { colour.set(3800.0, 0.9); }
  void hit(double velocity) {
    tone = velocity;
    rattle = velocity;
    pitch = 1.0;
  }
  double next(Noise& noise) {
    if (rattle < 1e-5) return 0.0;
    const double value = body.next(180.0 + 90.0 * pitch) * tone * 0.55 +
                         colour.bandPass(noise.nextSigned()) * rattle * 0.9;
    tone *= toneDecay;
    rattle *= rattleDecay;
    pitch *= pitchDecay;
    return value;
  }
};

// Hi-hats, open hats and the crash: high-passed noise with a decay of their own.
struct Metal {
  double amplitude = 0.0, decay = 0.0, previous = 0.0, smoothed = 0.0;
  double brightness;
  explicit Metal(double brightnessCoefficient) : brightness(brightnessCoefficient) {}
  void hit(double velocity, double seconds) {
    amplitude = velocity;
    decay = decayPerSample(seconds);
  }
  double next(Noise& noise) {
    if (amplitude < 1e-5) return 0.0;
    const double white = noise.nextSigned();
    const double high = white - previous;  // first difference: a gentle high-pass
    previous = white;
    smoothed += (high - smoothed) * brightness;
    const double value = smoothed * amplitude;
    amplitude *= decay;
    return value;
  }
};

// ---------------------------------------------------------------------------
// Tonal instruments.

// Attack, then exponential decay towards a sustain level, exponential release.
struct Envelope {
  double level = 0.0, attackStep = 0.0, sustain = 0.0, decay = 0.0, release = 0.0;
  bool attacking = false, held = false;
  void start(double attackSeconds, double decaySeconds, double sustainLevel,
             double releaseSeconds) {
    attackStep = 1.0 / (attackSeconds * kRate);
    decay = decayPerSample(decaySeconds);
    release = decayPerSample(releaseSeconds);
    sustain = sustainLevel;
    attacking = true;
    held = true;
  }
  void stop() { held = false; }
  double next() {
    if (attacking) {
      level += attackStep;
      if (level >= 1.0) {
        level = 1.0;
        attacking = false;
      }
    } else if (held) {
      level = sustain + (level - sustain) * decay;
    } else {
      attacking = false;
      level *= release;
    }
    return level;
  }
  bool silent() const { return !held && level < 1e-5; }
};

// A reese-style bass: a sub sine under two detuned saws through a low-pass
// whose cut-off follows a short envelope.
struct Bass {
  Envelope envelope;
  Sine sub;
  Saw sawA, sawB;
  Filter filter;
  double hz = 55.0;
  double sawLevel = 0.0;
  double filterEnvelope = 0.0;
  const double filterDecay = decayPerSample(0.12);
  std::int64_t gateFrames = 0;
  int counter = 0;
  void play(int midiNote, std::int64_t frames, double saws) {
    hz = noteHz(midiNote);
    gateFrames = frames;
    sawLevel = saws;
    filterEnvelope = 1.0;
    envelope.start(0.004, 0.25, 0.75, 0.05);
  }
  double next() {
    if (gateFrames > 0 && --gateFrames == 0) envelope.stop();
    if (envelope.silent()) return 0.0;
    if (counter++ % 16 == 0) filter.set(180.0 + 1600.0 * filterEnvelope, 1.4);
    filterEnvelope *= filterDecay;
    const double saws = (sawA.next(hz * 1.006) + sawB.next(hz * 0.994)) * sawLevel;
    const double value = sub.next(hz) * 0.8 + filter.lowPass(saws) * 0.45;
    return value * envelope.next();
  }
};

// Pads: each chord note is two detuned saws, one per side.
struct PadVoice {
  Envelope envelope;
  Saw left, right;
  double hz = 0.0;
};

struct Pad {
  std::array<PadVoice, 8> voices;
  std::size_t nextVoice = 0;
  Filter filterLeft, filterRight;
  int counter = 0;
  double cutoff = 600.0;
  void chord(const std::array<int, 4>& notes) {
    for (PadVoice& voice : voices)
      voice.envelope.stop();
    for (int note : notes) {
      if (note == 0) continue;
      PadVoice& voice = voices[nextVoice];
      nextVoice = (nextVoice + 1) % voices.size();
      voice.hz = noteHz(note);
      voice.envelope.start(0.35, 1.5, 0.8, 0.6);
    }
  }
  void release() {
    for (PadVoice& voice : voices)
      voice.envelope.stop();
  }
  Stereo next() {
    Stereo out;
    for (PadVoice& voice : voices) {
      if (voice.envelope.silent()) continue;
      const double level = voice.envelope.next();
      out.left += voice.left.next(voice.hz * 1.0035) * level;
      out.right += voice.right.next(voice.hz * 0.9965) * level;
    }
    if (counter++ % 32 == 0) {
      filterLeft.set(cutoff, 0.9);
      filterRight.set(cutoff, 0.9);
    }
    return {filterLeft.lowPass(out.left), filterRight.lowPass(out.right)};
  }
};

// A two-operator FM bell for the arpeggio.
struct Bell {
  double amplitude = 0.0, index = 0.0, hz = 0.0;
  Sine modulator;
  double carrierPhase = 0.0;
  const double ampDecay = decayPerSample(0.35);
  const double indexDecay = decayPerSample(0.08);
  void strike(int midiNote, double velocity) {
    hz = noteHz(midiNote);
    amplitude = velocity;
    index = 1.6;
  }
  double next() {
    if (amplitude < 1e-5) return 0.0;
    const double modulation = modulator.next(hz * 2.0) * index / (2.0 * kPi);
    const double value = sineOfCycles(carrierPhase + modulation) * amplitude;
    carrierPhase += hz / kRate;
    if (carrierPhase >= 1.0) carrierPhase -= 1.0;
    amplitude *= ampDecay;
    index *= indexDecay;
    return value;
  }
};

// The lead: saw and square (two saws half a cycle apart) with glide and a
// vibrato that comes in after the note has sounded a while.
struct Lead {
  Envelope envelope;
  Saw sawA, sawB;
  Sine vibrato;
  Filter filter;
  double hz = 440.0, targetHz = 440.0;
  double octaveUp = 0.0;
  std::int64_t gateFrames = 0, age = 0;
  int counter = 0;
  const double glide = onePoleCoefficient(40.0);
  void play(int midiNote, std::int64_t frames, double withOctave) {
    targetHz = noteHz(midiNote);
    if (envelope.silent()) hz = targetHz;
    gateFrames = frames;
    age = 0;
    octaveUp = withOctave;
    envelope.start(0.006, 0.4, 0.7, 0.09);
  }
  double next() {
    if (gateFrames > 0 && --gateFrames == 0) envelope.stop();
    if (envelope.silent()) return 0.0;
    hz += (targetHz - hz) * glide;
    const double depth = smoothStep(0.15 * kRate, 0.45 * kRate, static_cast<double>(age++));
    const double pitch = hz * (1.0 + 0.006 * depth * vibrato.next(5.5));
    sawB.phase = sawA.phase + 0.5 - static_cast<double>(static_cast<int>(sawA.phase + 0.5));
    const double square = sawA.next(pitch) - sawB.next(pitch);
    double value = square * 0.45;
    if (octaveUp > 0.0) value += octaveUp * 0.6 * sineOfCycles(sawA.phase * 2.0);
    if (counter++ % 16 == 0) filter.set(2400.0, 1.1);
    return filter.lowPass(value) * envelope.next();
  }
};

// ---------------------------------------------------------------------------
// Effects.

// Ping-pong echo of a dotted eighth (three steps).
struct Echo {
  std::vector<double> left, right;
  std::size_t position = 0;
  double dampLeft = 0.0, dampRight = 0.0;
  const double damping = onePoleCoefficient(2800.0);
  Echo()
      : left(static_cast<std::size_t>(3 * kFramesPerStep)),
        right(static_cast<std::size_t>(3 * kFramesPerStep)) {}
  Stereo next(double in) {
    const double outLeft = left[position];
    const double outRight = right[position];
    dampLeft += (outLeft - dampLeft) * damping;
    dampRight += (outRight - dampRight) * damping;
    left[position] = in + dampRight * 0.45;  // crossed feedback: the echo bounces
    right[position] = dampLeft * 0.45;
    position = (position + 1) % left.size();
    return {outLeft, outRight};
  }
};

// A small Schroeder-Moorer reverb: damped combs in parallel, allpasses in series.
struct Reverb {
  struct Comb {
    std::vector<double> buffer;
    std::size_t position = 0;
    double store = 0.0;
    explicit Comb(std::size_t length) : buffer(length) {}
    double next(double in) {
      const double out = buffer[position];
      store = out * 0.7 + store * 0.3;
      buffer[position] = in + store * 0.83;
      position = (position + 1) % buffer.size();
      return out;
    }
  };
  struct Allpass {
    std::vector<double> buffer;
    std::size_t position = 0;
    explicit Allpass(std::size_t length) : buffer(length) {}
    double next(double in) {
      const double delayed = buffer[position];
      buffer[position] = in + delayed * 0.5;
      position = (position + 1) % buffer.size();
      return delayed - in;
    }
  };
  std::array<Comb, 4> combsLeft{Comb(1116), Comb(1188), Comb(1277), Comb(1356)};
  std::array<Comb, 4> combsRight{Comb(1139), Comb(1211), Comb(1300), Comb(1379)};
  std::array<Allpass, 2> allpassLeft{Allpass(556), Allpass(441)};
  std::array<Allpass, 2> allpassRight{Allpass(579), Allpass(464)};
  Stereo next(double in) {
    double left = 0.0, right = 0.0;
    for (Comb& comb : combsLeft)
      left += comb.next(in);
    for (Comb& comb : combsRight)
      right += comb.next(in);
    for (Allpass& allpass : allpassLeft)
      left = allpass.next(left);
    for (Allpass& allpass : allpassRight)
      right = allpass.next(right);
    return {left * 0.25, right * 0.25};
  }
};

// tanh-like soft limiter (a Padé approximant), reaching ±1 at ±3 and flat beyond.
double softLimit(double x) {
  if (x >= 3.0) return 1.0;
  if (x <= -3.0) return -1.0;
  const double x2 = x * x;
  return x * (27.0 + x2) / (27.0 + 9.0 * x2);
}

// ---------------------------------------------------------------------------
// The arrangement.

struct Chord {
  int bassRoot;
  std::array<int, 4> padNotes;  // 0: unused
};

constexpr Chord kAminor{33, {57, 60, 64, 69}};
constexpr Chord kFmajor{29, {57, 60, 65, 0}};
constexpr Chord kCmajor{36, {55, 60, 64, 67}};
constexpr Chord kGmajor{31, {55, 59, 62, 67}};
constexpr Chord kEminor{28, {55, 59, 64, 0}};

// Two bars per chord, eight-bar cycles.
Chord chordAt(int bar) {
  const int slot = (bar / 2) % 4;
  if (bar >= kTrianglesBar && bar < kGrooveBar) {  // the triangles' own progression
    constexpr std::array<Chord, 4> shifted{kFmajor, kGmajor, kEminor, kAminor};
    return shifted[static_cast<std::size_t>(slot)];
  }
  if (bar >= kOutroBar) {
    constexpr std::array<Chord, 4> closing{kAminor, kFmajor, kCmajor, kAminor};
    return bar >= kOutroBar + 8 ? kAminor : closing[static_cast<std::size_t>(slot)];
  }
  constexpr std::array<Chord, 4> main{kAminor, kFmajor, kCmajor, kGmajor};
  return main[static_cast<std::size_t>(slot)];
}

struct Note {
  int step;    // within the eight-bar phrase
  int length;  // in steps
  int midi;
};

// Melody A, over Am F C G.
constexpr std::array<Note, 27> kMelodyA{{
    {0, 6, 76},   {6, 2, 74},   {8, 4, 72},   {12, 4, 74},  {16, 6, 76},  {22, 2, 79},  {24, 8, 81},
    {32, 6, 81},  {38, 2, 79},  {40, 4, 77},  {44, 4, 76},  {48, 8, 72},  {56, 8, 69},  {64, 6, 67},
    {70, 2, 72},  {72, 4, 76},  {76, 4, 79},  {80, 6, 76},  {86, 2, 74},  {88, 8, 72},  {96, 6, 74},
    {102, 2, 71}, {104, 4, 74}, {108, 4, 79}, {112, 8, 74}, {120, 4, 71}, {124, 4, 76},
}};

// Melody B: a busier hook, higher.
constexpr std::array<Note, 31> kMelodyB{{
    {0, 2, 81},   {3, 2, 81},   {6, 2, 79},   {8, 4, 76},  {14, 2, 79}, {16, 2, 81}, {19, 2, 81},
    {22, 2, 84},  {24, 8, 84},  {32, 2, 84},  {35, 2, 84}, {38, 2, 83}, {40, 4, 81}, {46, 2, 77},
    {48, 8, 81},  {56, 8, 77},  {64, 2, 79},  {67, 2, 79}, {70, 2, 76}, {72, 4, 79}, {78, 2, 76},
    {80, 2, 79},  {83, 2, 81},  {86, 2, 79},  {88, 8, 76}, {96, 2, 74}, {99, 2, 74}, {102, 2, 76},
    {104, 4, 79}, {112, 8, 79}, {120, 8, 71},
}};

// The closing phrase, long notes over Am F C Am.
constexpr std::array<Note, 6> kMelodyClosing{{
    {0, 24, 76},
    {24, 8, 74},
    {32, 32, 72},
    {64, 16, 76},
    {80, 16, 79},
    {96, 32, 69},
}};

class Soundtrack {
 public:
  Soundtrack() : noise_(0xC0FFEEu), hatNoise_(0x1234567u), crashNoise_(0x7654321u) {}

  // Everything that starts on this step.
  void onStep(std::int64_t step) {
    const int bar = static_cast<int>(step / kStepsPerBar);
    const int s = static_cast<int>(step % kStepsPerBar);
    const Chord chord = chordAt(bar);
    const int phraseStep = static_cast<int>(step % (8 * kStepsPerBar));

    if (s == 0 && bar % 2 == 0 && bar < kOutroBar + 10) pad_.chord(chord.padNotes);
    if (bar == kOutroBar + 10 && s == 0) pad_.release();
    arrangeDrums(bar, s);
    arrangeBass(bar, s, chord);
    arrangeBell(bar, s, chord);
    arrangeLead(bar, phraseStep);
  }

  Stereo next(double bar) {
    // Automation, by the bar position (fractional).
    pad_.cutoff = padCutoff(bar);
    // The opening is quiet: the pad fades in and swells a little towards the beat.
    const double padGain =
        bar < kGlitchBar ? 0.1 * smoothStep(0.0, 4.0, bar) + 0.06 * bar / kGlitchBar : 0.2;

    double drums = kick_.next(noise_) * 0.85 + snare_.next(noise_) * 0.42;
    const double hats = hat_.next(hatNoise_) * 0.3;
    const double crash = crash_.next(crashNoise_) * 0.35;
    drums = crush(drums, bar);

    const Stereo pad = pad_.next();
    const double bass = bass_.next() * 0.42;
    const double bell = bell_.next() * 0.16;
    const double lead = lead_.next() * 0.2;
    const double riser = nextRiser(bar);

    Stereo out;
    addPanned(out, drums, 0.0);
    addPanned(out, hats, 0.25);
    addPanned(out, crash, -0.2);
    addPanned(out, bass, 0.0);
    out.left += pad.left * padGain;
    out.right += pad.right * padGain;
    addPanned(out, bell, -0.3);
    addPanned(out, lead, 0.1);
    addPanned(out, riser, 0.0);

    const Stereo echo = echo_.next(lead * 0.5 + bell * 0.6);
    const Stereo room = reverb_.next((pad.left + pad.right) * padGain * 0.25 + lead * 0.3 +
                                     bell * 0.4 + drums * 0.06);
    out.left += echo.left * 0.55 + room.left;
    out.right += echo.right * 0.55 + room.right;
    return out;
  }

 private:
  void arrangeDrums(int bar, int s) {
    const bool crashBar = bar == kGlitchBar || bar == kTrianglesBar || bar == kGrooveBar ||
                          bar == 88 || bar == kOutroBar;
    if (crashBar && s == 0) crash_.hit(1.0, 1.6);
    if (bar < kGlitchBar) {
      // The opening's only drums: a snare roll into the beat.
      if (bar == kGlitchBar - 1 && s >= 8) snare_.hit(0.25 + 0.05 * (s - 8));
      return;
    }
    if (bar >= kOutroBar) return;
    if (bar < kTrianglesBar) {
      // Half time: kick, snare on the third beat, eighth-note hats with ghosts.
      if (s == 0 || s == 10 || (bar % 2 == 1 && s == 7)) kick_.hit(1.0);
      if (s == 8) snare_.hit(0.9);
      hat_.hit(s % 2 == 0 ? 0.55 : 0.2, 0.03);
      if (bar == kTrianglesBar - 1 && s >= 12) snare_.hit(0.5 + 0.1 * (s - 12));
      return;
    }
    const bool breakdown = bar >= 80 && bar < 88;
    if (breakdown) {
      if (s == 0) kick_.hit(0.9);
      if (s % 2 == 0) hat_.hit(0.35, 0.03);
      if (bar >= 86 && (bar == 87 || s % 2 == 0)) {
        snare_.hit(0.2 + 0.04 * ((bar - 86) * 16 + s) / 2.0);
      }
      return;
    }
    // Two-step: kicks on 1 and the "and" of 3, snares on 2 and 4, ghost notes between.
    if (s == 0 || s == 10) kick_.hit(1.0);
    if (s == 4 || s == 12) snare_.hit(0.95);
    if (s == 7 || s == 15) snare_.hit(0.18);
    const bool groove = bar >= kGrooveBar;
    if (groove && (s == 2 || s == 6 || s == 14)) {
      hat_.hit(0.45, 0.16);  // open hats
    } else {
      hat_.hit(s % 2 == 0 ? 0.55 : 0.28, 0.028);
    }
    const bool fill =
        bar == kGrooveBar - 1 || bar == 63 || bar == 79 || bar == 103 || bar == kOutroBar - 1;
    if (fill && s >= 12) snare_.hit(0.5 + 0.12 * (s - 12));
  }

  void arrangeBass(int bar, int s, const Chord& chord) {
    if (bar < kGlitchBar || bar >= kOutroBar) return;
    const std::int64_t step = kFramesPerStep;
    const int root = chord.bassRoot;
    if (bar < kTrianglesBar) {
      if (s == 0) bass_.play(root, 7 * step, 0.0);
      if (s == 10) bass_.play(root, 5 * step, 0.0);
      return;
    }
    if (bar >= 80 && bar < 88) {  // breakdown: one long note per chord
      if (s == 0 && bar % 2 == 0) bass_.play(root, 30 * step, 0.3);
      return;
    }
    const double saws = bar < kGrooveBar ? 0.7 : 1.0;
    switch (s) {
      case 0:
        bass_.play(root, 4 * step, saws);
        break;
      case 6:
        bass_.play(root, 2 * step, saws);
        break;
      case 8:
        bass_.play(root + 12, 2 * step, saws);
        break;
      case 10:
        bass_.play(root, 3 * step, saws);
        break;
      case 14:
        bass_.play(root + 7, 2 * step, saws);
        break;
      default:
        break;
    }
  }

  void arrangeBell(int bar, int s, const Chord& chord) {
    if (bar < 6 || bar >= kOutroBar + 8) return;
    // Chord tones an octave up, walking up and down.
    const std::array<int, 6> order{0, 1, 2, 3, 2, 1};
    auto tone = [&](int i) {
      const int note = chord.padNotes[static_cast<std::size_t>(i)];
      return (note != 0 ? note : chord.padNotes[0] + 12) + 12;
    };
    const bool sixteenths = bar >= kTrianglesBar && bar < kGrooveBar;
    if (!sixteenths && s % 2 != 0) return;
    const int index = sixteenths ? s : s / 2;
    double velocity = bar < kGlitchBar ? 0.35 + 0.04 * (bar - 6) : 0.6;
    if (bar >= kOutroBar) velocity = 0.5 - 0.05 * (bar - kOutroBar);
    if (sixteenths) velocity *= s % 4 == 0 ? 0.9 : 0.55;
    bell_.strike(tone(order[static_cast<std::size_t>(index % 6)]), velocity);
  }

  void arrangeLead(int bar, int phraseStep) {
    const std::int64_t step = kFramesPerStep;
    auto play = [&](const auto& melody, double octave) {
      for (const Note& note : melody) {
        if (note.step == phraseStep) lead_.play(note.midi, note.length * step - step / 4, octave);
      }
    };
    if ((bar >= 56 && bar < 72) || (bar >= 88 && bar < 104)) {
      play(kMelodyA, bar >= 88 ? 0.5 : 0.0);
    } else if (bar >= 72 && bar < 80) {
      play(kMelodyB, 0.3);
    } else if (bar >= kOutroBar && bar < kOutroBar + 8) {
      play(kMelodyClosing, 0.0);
    }
  }

  // The pad opens through the opening, stays bright, closes again in the outro.
  static double padCutoff(double bar) {
    if (bar < kGlitchBar) return 350.0 + 1500.0 * smoothStep(0.0, kGlitchBar, bar);
    if (bar < kGrooveBar) return 1900.0;
    if (bar < kOutroBar) return 2600.0;
    return 2600.0 - 2100.0 * smoothStep(kOutroBar, kFadeEndBar, bar);
  }

  // The glitch: drums sample-and-held and cut to a few bits for half a bar.
  double crush(double drums, double bar) {
    const int wholeBar = static_cast<int>(bar);
    const double inBar = bar - wholeBar;
    const bool glitchBar =
        (wholeBar >= kGlitchBar && wholeBar < kTrianglesBar && wholeBar % 4 == 3 && inBar >= 0.5) ||
        ((wholeBar == 63 || wholeBar == 95) && inBar >= 0.75);
    if (!glitchBar) return drums;
    if (holdCounter_++ % 7 == 0) held_ = drums;
    return static_cast<double>(static_cast<int>(held_ * 12.0)) / 12.0;
  }

  // Filtered noise sweeping up into the beat and into the break's return.
  double nextRiser(double bar) {
    const bool rising = (bar >= kGlitchBar - 2 && bar < kGlitchBar) || (bar >= 86 && bar < 88);
    if (!rising) return 0.0;
    const double t = bar >= 86 ? (bar - 86.0) / 2.0 : (bar - (kGlitchBar - 2)) / 2.0;
    if (riserCounter_++ % 32 == 0) riserFilter_.set(300.0 + 5000.0 * t * t, 2.5);
    return riserFilter_.bandPass(noise_.nextSigned()) * 0.35 * t * t;
  }

  Noise noise_, hatNoise_, crashNoise_;
  Kick kick_;
  Snare snare_;
  Metal hat_{0.8};
  Metal crash_{0.35};
  Bass bass_;
  Pad pad_;
  Bell bell_;
  Lead lead_;
  Echo echo_;
  Reverb reverb_;
  Filter riserFilter_;
  int riserCounter_ = 0;
  int holdCounter_ = 0;
  double held_ = 0.0;
};

}  // namespace

std::vector<std::int16_t> makeSoundtrackSamples() {
  std::vector<std::int16_t> samples;
  samples.reserve(static_cast<std::size_t>(kSoundtrackFrames) * 2);

  auto song = std::make_unique<Soundtrack>();
  // A DC blocker per side: the limiter is symmetric, the mix need not be.
  double dcInLeft = 0.0, dcOutLeft = 0.0, dcInRight = 0.0, dcOutRight = 0.0;
  constexpr double kFramesPerBar = static_cast<double>(kFramesPerStep * kStepsPerBar);
  for (std::int64_t frame = 0; frame < kSoundtrackFrames; ++frame) {
    if (frame % kFramesPerStep == 0) song->onStep(frame / kFramesPerStep);
    const double bar = static_cast<double>(frame) / kFramesPerBar;
    Stereo mixed = song->next(bar);

    const double leftBlocked = mixed.left - dcInLeft + 0.9995 * dcOutLeft;
    dcInLeft = mixed.left;
    dcOutLeft = leftBlocked;
    const double rightBlocked = mixed.right - dcInRight + 0.9995 * dcOutRight;
    dcInRight = mixed.right;
    dcOutRight = rightBlocked;

    const double fade = 1.0 - smoothStep(kFadeStartBar, kFadeEndBar, bar);
    const double gain = 0.62 * fade;
    for (const double value : {leftBlocked * gain, rightBlocked * gain}) {
      // Just under full scale, so that the loudest peak never clips.
      const double scaled = softLimit(value) * 32000.0;
      samples.push_back(static_cast<std::int16_t>(scaled < 0.0 ? scaled - 0.5 : scaled + 0.5));
    }
  }
  return samples;
}

namespace {

void putLittleEndian(std::vector<unsigned char>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void putTag(std::vector<unsigned char>& out, const char* tag) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<unsigned char>(tag[i]));
}

}  // namespace

std::vector<unsigned char> wavFile(const std::vector<std::int16_t>& samples) {
  constexpr std::uint32_t kChannels = 2;
  constexpr std::uint32_t kBytesPerSample = 2;
  const auto dataBytes = static_cast<std::uint32_t>(samples.size() * kBytesPerSample);

  std::vector<unsigned char> file;
  file.reserve(44 + dataBytes);
  putTag(file, "RIFF");
  putLittleEndian(file, 36 + dataBytes, 4);
  putTag(file, "WAVE");
  putTag(file, "fmt ");
  putLittleEndian(file, 16, 4);
  putLittleEndian(file, 1, 2);  // PCM
  putLittleEndian(file, kChannels, 2);
  putLittleEndian(file, kSampleRate, 4);
  putLittleEndian(file, kSampleRate * kChannels * kBytesPerSample, 4);
  putLittleEndian(file, kChannels * kBytesPerSample, 2);
  putLittleEndian(file, 16, 2);
  putTag(file, "data");
  putLittleEndian(file, dataBytes, 4);
  for (const std::int16_t sample : samples)
    putLittleEndian(file, static_cast<std::uint16_t>(sample), 2);
  return file;
}

}  // namespace datagen

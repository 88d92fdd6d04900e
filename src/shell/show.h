// The whole show: start-up, the frame loop and shut-down. The demo and the
// capture tool both run it; what differs between them is supplied from outside:
// the clock (timeGetTime's source), the console's backend (which also delivers
// key presses) and the folder holding the data files.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "metaballs/field_threads.h"
#include "ptc/ptc.h"

namespace vornisk {

class DemoConsole;
class FieldPipeline;

struct ShowSetup {
  // Folder with "title._vq", "title2._vq" and "music._vq"; empty for the working directory.
  std::string dataDirectory;
  // Makes the console's backend; empty for the toolkit's own window.
  std::function<std::unique_ptr<ptc::Backend>()> makeBackend;
  FieldThreads fieldThreads = FieldThreads::Adaptive;
};

// Runs the show and returns the process exit status: 0 after a normal end (time
// up or a key), 1 after a toolkit error (reported as one line on standard error,
// with the music stopped and the console closed).
int runShow(const ShowSetup& setup);

// What the loop carries from frame to frame besides the process-wide values.
struct FrameLoopState {
  bool secondTitleLoaded = false;
  std::string secondTitlePath;  // loaded once the show is past 153.5 s
};

// Locks, draws and presents one frame at the clock's current reading; the body
// of runShow's loop, open to benchmarks. The console tracks its drawing from
// the first frame on (DemoConsole::trackDrawing): nothing else may write its
// back buffer or z-buffer between frames.
void drawShowFrame(DemoConsole& console, FieldPipeline& fields, FrameLoopState& state);

// One show time, used by tests and the capture tool.
inline constexpr unsigned kShowLengthMs = 174000;

}  // namespace vornisk

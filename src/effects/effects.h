// Effects that are free functions of the console rather than its operations.
#pragma once

namespace vornisk {

class DemoConsole;

// Five red-to-yellow bars that swing with the frame counter; draws only once more
// than 69.5 s of the show have passed.
void drawCopperBars(DemoConsole& console);

// Eight spinning green wireframe triangles on a Lissajous path.
void drawSpinningTriangles(DemoConsole& console);

}  // namespace vornisk

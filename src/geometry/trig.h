// Sine and cosine that give the same bits on every platform.
//
// The C libraries' sin and cos differ in the last bit between platforms and
// even between processors (glibc picks an FMA or an SSE2 variant when it
// loads); through the ball paths or the copper bars such a bit can move a
// pixel. These are computed by code of our own, with double and integer
// arithmetic only: x87 sinl and cosl (glibc's) rounded to double, as the show
// has always used, by construction on every platform (trig.cpp).
#pragma once

namespace vornisk {

double portableSin(double x);
double portableCos(double x);

}  // namespace vornisk

// Sine and cosine that give the same bits on every x86-64 machine.
//
// glibc chooses its double sin and cos when it loads, by processor features
// (an FMA variant or a plain SSE2 one), and the variants disagree in the last
// bit for about one argument in a thousand; through the ball paths or the
// copper bars such a bit can move a pixel. The extended-precision sinl and cosl
// have one implementation everywhere, built only from IEEE-exact x87
// operations, and rounded to double they are correctly rounded but for rare
// ties. These functions return exactly sinl and cosl rounded to double.
#pragma once

namespace vornisk {

double portableSin(double x);
double portableCos(double x);

}  // namespace vornisk

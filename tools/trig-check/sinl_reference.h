// The sine and cosine the show used before its own (x87 sinl and cosl of
// glibc, rounded to double, through a quick reduction), kept as the reference
// of vornisk-trig-check. Only x86-64 builds with glibc have it.
#pragma once

namespace trig_check {

// Whether this build has the reference (x86-64, glibc, 64-bit long double).
bool haveSinlReference();
// sinl(x) and cosl(x) rounded to double; 0 where the build lacks them.
double sinlReference(double x);
double coslReference(double x);

}  // namespace trig_check

// Homogeneous 3-D coordinates in double precision: points (w = 1) and, with
// w = 0, directions that translations leave alone.
#pragma once

#include <cmath>

namespace vornisk {

struct Vector {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
  double w = 0.0;  // the default vector has w = 0, not 1

  constexpr Vector() = default;
  constexpr Vector(double x0, double y0, double z0, double w0) : x(x0), y(y0), z(z0), w(w0) {}
  constexpr Vector(double x0, double y0, double z0) : x(x0), y(y0), z(z0), w(1.0) {}

  // √((x·x + y·y) + z·z); w plays no part.
  double length() const { return std::sqrt((x * x + y * y) + z * z); }

  // Divides x, y, z by their length; w becomes 1.
  void normalize() {
    const double l = length();
    w = 1.0;
    x /= l;
    y /= l;
    z /= l;
  }

  // Divides x, y, z by w; w becomes 1.
  void homogenize() {
    x /= w;
    y /= w;
    z /= w;
    w = 1.0;
  }

  // x, y, z scaled by s; w copied unscaled.
  constexpr Vector scaled(double s) const { return Vector(s * x, s * y, s * z, w); }

  // Right-handed cross product this × b, with w = 1.
  constexpr Vector cross(const Vector& b) const {
    return Vector(y * b.z - z * b.y, z * b.x - x * b.z, x * b.y - y * b.x, 1.0);
  }

  // this − b in x, y, z, with w = 1.
  constexpr Vector minus(const Vector& b) const { return Vector(x - b.x, y - b.y, z - b.z, 1.0); }
};

}  // namespace vornisk

// 4 × 4 transforms in double precision, row-major, applied to column vectors
// (M·v): translations sit in column 3, and in A·B the matrix B acts first.
#pragma once

#include "geometry/vector.h"

namespace vornisk {

// Codes of the typed constructors. One-parameter kinds: 0-3, 5-7, 9-11, 13, 15,
// 17, 19-21; three-parameter kinds: 4, 8, 12, 14, 16, 18.
enum MatrixKind : int {
  Identity = 0,
  RotateX = 1,
  RotateY = 2,
  RotateZ = 3,
  Rotate = 4,
  TranslateX = 5,
  TranslateY = 6,
  TranslateZ = 7,
  Translate = 8,
  ScaleX = 9,
  ScaleY = 10,
  ScaleZ = 11,
  Scale = 12,
  ShearByX = 13,
  ShearByZPair = 14,
  ShearByY = 15,
  ShearByXPair = 16,
  ShearByZ = 17,
  ShearByYPair = 18,
  PerspectiveToParallel = 19,
  ForwardDifference = 20,
  BezierBasis = 21,
};

struct Matrix {
  double m[4][4] = {};  // m[row][column]; the default matrix is all zeros

  constexpr Matrix() = default;
  // Sixteen values, row by row.
  constexpr Matrix(double m00, double m01, double m02, double m03, double m10, double m11,
                   double m12, double m13, double m20, double m21, double m22, double m23,
                   double m30, double m31, double m32, double m33)
      : m{{m00, m01, m02, m03}, {m10, m11, m12, m13}, {m20, m21, m22, m23}, {m30, m31, m32, m33}} {}
  // A one-parameter kind. Any other code is fatal: a message on standard output
  // and exit status -1.
  Matrix(int kind, double p);
  // A three-parameter kind. Any other code is fatal, as above.
  Matrix(int kind, double p1, double p2, double p3);

  // M·v, all four rows, each summed from 0.0 in column order.
  Vector transform(const Vector& v) const;
  // this·b, each element summed from 0.0 in order k = 0..3.
  Matrix times(const Matrix& b) const;
};

}  // namespace vornisk

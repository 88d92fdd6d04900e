// Matrix: the typed constructors, M·v and the product. Every sum starts from 0.0
// and adds its terms in index order, so results are the same on every build.
#include "geometry/matrix.h"
#include "geometry/trig.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vornisk {

namespace {

// A kind code the called constructor does not take is a programming error: one
// line on standard output, then the normal exit path so exit handlers still run.
[[noreturn]] void failDeclaration() {
  std::fputs("Error in Matrix declaration - ERROR\n", stdout);
  std::fflush(stdout);
  std::exit(-1);
}

constexpr Matrix identity() {
  return Matrix(1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0);
}

}  // namespace

Matrix::Matrix(int kind, double p) : Matrix(identity()) {
  switch (kind) {
    case Identity:
      break;
    case RotateX: {
      const double c = portableCos(p);
      const double s = portableSin(p);
      m[1][1] = c;
      m[1][2] = -s;
      m[2][1] = s;
      m[2][2] = c;
      break;
    }
    case RotateY: {
      const double c = portableCos(p);
      const double s = portableSin(p);
      m[0][0] = c;
      m[0][2] = s;
      m[2][0] = -s;
      m[2][2] = c;
      break;
    }
    case RotateZ: {
      const double c = portableCos(p);
      const double s = portableSin(p);
      m[0][0] = c;
      m[0][1] = -s;
      m[1][0] = s;
      m[1][1] = c;
      break;
    }
    case TranslateX:
      m[0][3] = p;
      break;
    case TranslateY:
      m[1][3] = p;
      break;
    case TranslateZ:
      m[2][3] = p;
      break;
    case ScaleX:
      m[0][0] = p;
      break;
    case ScaleY:
      m[1][1] = p;
      break;
    case ScaleZ:
      m[2][2] = p;
      break;
    case ShearByX:
      m[1][0] = p;
      m[2][0] = p;
      break;
    case ShearByY:
      m[0][1] = p;
      m[2][1] = p;
      break;
    case ShearByZ:
      m[0][2] = p;
      m[1][2] = p;
      break;
    case PerspectiveToParallel:
      m[2][2] = 1.0 / (p + 1.0);
      m[2][3] = -(p / (p + 1.0));
      m[3][2] = -1.0;
      m[3][3] = 0.0;
      break;
    case ForwardDifference: {
      const double p2 = p * p;
      const double p3 = p2 * p;
      *this = Matrix(0.0, 0.0, 0.0, 1.0,           //
                     p3, p2, p, 0.0,               //
                     p3 * 6.0, p2 + p2, 0.0, 0.0,  //
                     p3 * 6.0, 0.0, 0.0, 0.0);
      break;
    }
    case BezierBasis:
      *this = Matrix(-1.0, 3.0, -3.0, 1.0,  //
                     3.0, -6.0, 3.0, 0.0,   //
                     -3.0, 3.0, 0.0, 0.0,   //
                     1.0, 0.0, 0.0, 0.0);
      break;
    default:
      failDeclaration();
  }
}

Matrix::Matrix(int kind, double p1, double p2, double p3) : Matrix(identity()) {
  switch (kind) {
    case Rotate:
      // Built by products, not by a closed form: (X·Y)·Z, so z acts first.
      *this = Matrix(RotateX, p1).times(Matrix(RotateY, p2)).times(Matrix(RotateZ, p3));
      break;
    case Translate:
      m[0][3] = p1;
      m[1][3] = p2;
      m[2][3] = p3;
      break;
    case Scale:
      *this = Matrix(ScaleX, p1).times(Matrix(ScaleY, p2)).times(Matrix(ScaleZ, p3));
      break;
    case ShearByZPair:  // p3 unused
      m[0][2] = p1;
      m[1][2] = p2;
      break;
    case ShearByXPair:  // p1 unused
      m[1][0] = p2;
      m[2][0] = p3;
      break;
    case ShearByYPair:  // p2 unused
      m[0][1] = p1;
      m[2][1] = p3;
      break;
    default:
      failDeclaration();
  }
}

Vector Matrix::transform(const Vector& v) const {
  const double in[4] = {v.x, v.y, v.z, v.w};
  double out[4];
  for (int i = 0; i < 4; ++i) {
    double sum = 0.0;
    for (int k = 0; k < 4; ++k)
      sum += m[i][k] * in[k];
    out[i] = sum;
  }
  return Vector(out[0], out[1], out[2], out[3]);
}

Matrix Matrix::times(const Matrix& b) const {
  Matrix product;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      double sum = 0.0;
      for (int k = 0; k < 4; ++k)
        sum += m[i][k] * b.m[k][j];
      product.m[i][j] = sum;
    }
  }
  return product;
}

}  // namespace vornisk

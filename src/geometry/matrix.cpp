// Placeholder until the matrices land.
#include "geometry/matrix.h"

namespace vornisk {

Matrix::Matrix(int, double) {}
Matrix::Matrix(int, double, double, double) {}
Vector Matrix::transform(const Vector&) const { return {}; }
Matrix Matrix::times(const Matrix&) const { return {}; }

}  // namespace vornisk

// Vectors, the typed matrices with their fatal error, and the camera matrix,
// against values worked out by hand. The show builds only a few kinds and one
// camera, which its golden hashes pin; these cases cover the rest.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <set>
#include <tuple>
#include <utility>

#include "console/demo_console.h"
#include "geometry/matrix.h"
#include "geometry/trig.h"
#include "geometry/vector.h"

namespace vornisk {
namespace {

std::array<double, 4> parts(const Vector& v) {
  return {v.x, v.y, v.z, v.w};
}

std::array<double, 16> elements(const Matrix& m) {
  std::array<double, 16> all;
  std::copy(&m.m[0][0], &m.m[0][0] + 16, all.begin());
  return all;
}

Matrix identityExcept(std::initializer_list<std::tuple<int, int, double>> changes) {
  Matrix m(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
  for (const auto& [row, column, value] : changes)
    m.m[row][column] = value;
  return m;
}

TEST(Vector, OperationsAndTheWeightsTheyLeave) {
  Vector normalized(3, 4, 0, 7);
  normalized.normalize();  // the length comes from x, y and z alone
  Vector homogenized(2, 4, 6, 2);
  homogenized.homogenize();
  const Matrix shift(Translate, 1, 2, 3);
  const std::pair<Vector, std::array<double, 4>> cases[] = {
      {Vector(), {0, 0, 0, 0}},  // a direction, which translations leave alone
      {Vector(1, 2, 3), {1, 2, 3, 1}},
      {normalized, {0.6, 0.8, 0, 1}},
      {homogenized, {1, 2, 3, 1}},
      {Vector(1, 2, 3, 5).scaled(2), {2, 4, 6, 5}},
      {Vector(1, 2, 3).cross(Vector(4, 5, 6)), {-3, 6, -3, 1}},
      {Vector(5, 5, 5, 0).minus(Vector(1, 2, 3, 0)), {4, 3, 2, 1}},
      {shift.transform(Vector()), {0, 0, 0, 0}},
      {shift.transform(Vector(0, 0, 0)), {1, 2, 3, 1}},
      // cos(π/2) is not exactly 0 in double arithmetic, and must not be made so.
      {Matrix(RotateZ, std::numbers::pi / 2).transform(Vector(1, 0, 0)),
       {6.123233995736766e-17, 1, 0, 1}},
      {Matrix(PerspectiveToParallel, 1).transform(Vector(0, 0, -2)), {0, 0, -1.5, 2}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(parts(cases[i].first), cases[i].second) << "case " << i;
}

TEST(Matrix, EveryKindPlacesItsElements) {
  const double p = 0.7;
  const double c = portableCos(p);
  const double s = portableSin(p);
  const std::pair<Matrix, Matrix> cases[] = {
      {Matrix(), Matrix(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0)},
      {Matrix(Identity, 7.5), identityExcept({})},
      {Matrix(RotateX, p), identityExcept({{1, 1, c}, {1, 2, -s}, {2, 1, s}, {2, 2, c}})},
      {Matrix(RotateY, p), identityExcept({{0, 0, c}, {0, 2, s}, {2, 0, -s}, {2, 2, c}})},
      {Matrix(RotateZ, p), identityExcept({{0, 0, c}, {0, 1, -s}, {1, 0, s}, {1, 1, c}})},
      {Matrix(TranslateX, p), identityExcept({{0, 3, p}})},
      {Matrix(TranslateY, p), identityExcept({{1, 3, p}})},
      {Matrix(TranslateZ, p), identityExcept({{2, 3, p}})},
      {Matrix(ScaleX, p), identityExcept({{0, 0, p}})},
      {Matrix(ScaleY, p), identityExcept({{1, 1, p}})},
      {Matrix(ScaleZ, p), identityExcept({{2, 2, p}})},
      {Matrix(ShearByX, p), identityExcept({{1, 0, p}, {2, 0, p}})},
      {Matrix(ShearByY, p), identityExcept({{0, 1, p}, {2, 1, p}})},
      {Matrix(ShearByZ, p), identityExcept({{0, 2, p}, {1, 2, p}})},
      {Matrix(PerspectiveToParallel, 3),
       identityExcept({{2, 2, 0.25}, {2, 3, -0.75}, {3, 2, -1}, {3, 3, 0}})},
      {Matrix(ForwardDifference, 0.5),
       Matrix(0, 0, 0, 1, 0.125, 0.25, 0.5, 0, 0.75, 0.5, 0, 0, 0.75, 0, 0, 0)},
      {Matrix(BezierBasis, -12.5), Matrix(-1, 3, -3, 1, 3, -6, 3, 0, -3, 3, 0, 0, 1, 0, 0, 0)},
      // Rotate is the product (X·Y)·Z, so z turns first, rounded as formed.
      {Matrix(Rotate, 0.5, 0.6, 0.7),
       Matrix(RotateX, 0.5).times(Matrix(RotateY, 0.6)).times(Matrix(RotateZ, 0.7))},
      {Matrix(Translate, 1, 2, 3), identityExcept({{0, 3, 1}, {1, 3, 2}, {2, 3, 3}})},
      {Matrix(Scale, 2, 3, 4), identityExcept({{0, 0, 2}, {1, 1, 3}, {2, 2, 4}})},
      // Each pair shear ignores one of its three parameters.
      {Matrix(ShearByZPair, 5, 6, 99), identityExcept({{0, 2, 5}, {1, 2, 6}})},
      {Matrix(ShearByXPair, 99, 2, 3), identityExcept({{1, 0, 2}, {2, 0, 3}})},
      {Matrix(ShearByYPair, 7, 99, 8), identityExcept({{0, 1, 7}, {2, 1, 8}})},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(elements(cases[i].first), elements(cases[i].second)) << "case " << i;
}

// Each constructor takes only its own kinds; any other code, given to either,
// prints one line on standard output and exits with −1 (status 255).
TEST(MatrixDeathTest, KindsOutsideTheCalledFormEndTheProcess) {
  const std::set<int> threeParameterKinds = {Rotate,       Translate,    Scale,
                                             ShearByZPair, ShearByXPair, ShearByYPair};
  for (int kind = -1; kind <= 22; ++kind) {
    for (const bool three : {false, true}) {
      const auto construct = [&] {
        static_cast<void>(three ? Matrix(kind, 1.0, 2.0, 3.0) : Matrix(kind, 5.0));
      };
      if (kind >= 0 && kind <= 21 && threeParameterKinds.contains(kind) == three) {
        construct();
        continue;
      }
      // The child's standard output goes where the death test reads, its
      // standard error nowhere.
      EXPECT_EXIT(
          {
            dup2(STDERR_FILENO, STDOUT_FILENO);
            if (std::freopen("/dev/null", "w", stderr) == nullptr) std::abort();
            construct();
          },
          ::testing::ExitedWithCode(255), ::testing::StrEq("Error in Matrix declaration - ERROR\n"))
          << "kind " << kind << (three ? " with three parameters" : " with one");
    }
  }
}

// The renderer's camera (target at the origin, normal along z, eye at z = 300)
// unless told otherwise, on a console of width × height.
Matrix camera(int width, int height, Vector target = Vector(0, 0, 0),
              Vector normal = Vector(0, 0, 1), Vector eye = Vector(0, 0, 300)) {
  DemoConsole console;
  console.width = width;
  console.height = height;
  return console.viewTransform(320.0, 240.0, target, normal, eye);
}

// Agreement to `digits` significant digits.
void expectSignificant(const Matrix& actual, const double (&expected)[4][4], int digits) {
  for (int i = 0; i < 16; ++i) {
    const double e = expected[i / 4][i % 4];
    const double tolerance = e == 0.0 ? 1e-12 : std::fabs(e) * 0.5 * std::pow(10.0, 1 - digits);
    EXPECT_NEAR(actual.m[i / 4][i % 4], e, tolerance)
        << "element (" << i / 4 << ", " << i % 4 << ")";
  }
}

TEST(ViewTransform, WorkedCameras) {
  const double renderer[4][4] = {{1.016949153, 0, -0.5423728814, 162.7118644},
                                 {0, 1.016949153, -0.406779661, 122.0338983},
                                 {0, 0, 0.4033613445, -242.0168067},
                                 {0, 0, -0.003389830508, 1.016949153}};
  expectSignificant(camera(320, 240), renderer, 10);
  // The normal is normalised first: a longer one gives the same camera.
  expectSignificant(camera(320, 240, Vector(0, 0, 0), Vector(0, 0, 5, 1)), renderer, 10);

  // The target is subtracted from the eye as passed, so it shifts the picture.
  const double oblique[4][4] = {{0.801298101, -0.333492162, -0.822919637, 142.347226},
                                {-0.321193921, 0.564975379, -0.963581763, 162.519693},
                                {0.129581208, 0.259162416, 0.388743625, -240.480524},
                                {-0.00109086221, -0.00218172442, -0.00327258664, 1.00404523}};
  expectSignificant(camera(320, 240, Vector(10, -20, 5), Vector(1, 2, 3), Vector(3, -4, 250)),
                    oblique, 9);

  // An odd console size keeps the centre on a whole pixel: (160, 120), not (160.5, 120.5).
  Vector origin = camera(321, 241).transform(Vector(0, 0, 0));
  origin.homogenize();
  EXPECT_NEAR(origin.x, 160.0, 1e-12);
  EXPECT_NEAR(origin.y, 120.0, 1e-12);

  // A normal along "up" leaves u of length zero: its row, and all it feeds, is NaN.
  const Matrix degenerate = camera(320, 240, Vector(0, 0, 0), Vector(0, 1, 0));
  EXPECT_TRUE(std::isnan(degenerate.m[0][0]));
  EXPECT_TRUE(std::isnan(degenerate.m[3][2]));
}

}  // namespace
}  // namespace vornisk

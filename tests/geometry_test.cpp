// Vectors, the typed matrices with their fatal error, and the camera matrix,
// checked against values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <tuple>

#include "geometry/matrix.h"
#include "geometry/trig.h"
#include "geometry/vector.h"
#include "shell/demo_console.h"
#include "support/test_support.h"

namespace vornisk {
namespace {

void expectVector(const Vector& v, double x, double y, double z, double w, double tolerance = 0.0) {
  EXPECT_NEAR(v.x, x, tolerance);
  EXPECT_NEAR(v.y, y, tolerance);
  EXPECT_NEAR(v.z, z, tolerance);
  EXPECT_NEAR(v.w, w, tolerance);
}

void expectMatrix(const Matrix& actual, const double (&expected)[4][4]) {
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      EXPECT_EQ(actual.m[i][j], expected[i][j]) << "element (" << i << ", " << j << ")";
    }
  }
}

// Agreement to `digits` significant digits (zeros must be zero within 1e-12).
void expectSignificant(const Matrix& actual, const double (&expected)[4][4], int digits) {
  const double relative = 0.5 * std::pow(10.0, 1 - digits);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      const double e = expected[i][j];
      const double tolerance = e == 0.0 ? 1e-12 : std::fabs(e) * relative;
      EXPECT_NEAR(actual.m[i][j], e, tolerance) << "element (" << i << ", " << j << ")";
    }
  }
}

Matrix identityExcept(std::initializer_list<std::tuple<int, int, double>> changes) {
  Matrix m(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
  for (const auto& [row, column, value] : changes)
    m.m[row][column] = value;
  return m;
}

TEST(Vector, ConstructionAndWeight) {
  expectVector(Vector(), 0, 0, 0, 0);
  expectVector(Vector(1, 2, 3), 1, 2, 3, 1);
  expectVector(Vector(1, 2, 3, 0), 1, 2, 3, 0);
  // The default vector is a direction: a translation leaves it where it is.
  const Matrix shift(Translate, 1, 2, 3);
  expectVector(shift.transform(Vector()), 0, 0, 0, 0);
  expectVector(shift.transform(Vector(0, 0, 0)), 1, 2, 3, 1);
}

TEST(Vector, LengthNormalizeHomogenizeScale) {
  EXPECT_EQ(Vector(3, 4, 0, 7).length(), 5.0);

  Vector v(3, 4, 0, 7);
  v.normalize();
  expectVector(v, 0.6, 0.8, 0.0, 1.0);

  Vector h(2, 4, 6, 2);
  h.homogenize();
  expectVector(h, 1, 2, 3, 1);
  Vector unit(1.5, -2.5, 7.25, 1.0);
  unit.homogenize();
  expectVector(unit, 1.5, -2.5, 7.25, 1.0);

  const Vector original(1, 2, 3, 5);
  expectVector(original.scaled(2), 2, 4, 6, 5);
  expectVector(original, 1, 2, 3, 5);

  Vector zero(0, 0, 0, 4);
  zero.normalize();
  EXPECT_TRUE(std::isnan(zero.x) && std::isnan(zero.y) && std::isnan(zero.z));
  EXPECT_EQ(zero.w, 1.0);
}

TEST(Vector, CrossAndMinusGiveWeightOne) {
  expectVector(Vector(1, 0, 0, 0).cross(Vector(0, 1, 0, 0)), 0, 0, 1, 1);
  expectVector(Vector(0, 1, 0, 1).cross(Vector(0, 0, 1, 1)), 1, 0, 0, 1);
  expectVector(Vector(0, 0, 1, 1).cross(Vector(0, 1, 0, 1)), -1, 0, 0, 1);
  expectVector(Vector(2, 4, 6, 3).cross(Vector(1, 2, 3, 9)), 0, 0, 0, 1);
  // A non-trivial one, each component's order of terms visible.
  expectVector(Vector(1, 2, 3).cross(Vector(4, 5, 6)), -3, 6, -3, 1);
  expectVector(Vector(5, 5, 5, 0).minus(Vector(1, 2, 3, 0)), 4, 3, 2, 1);
}

TEST(Matrix, DefaultIsZeroAndIdentityIgnoresItsParameter) {
  expectVector(Matrix().transform(Vector(1, 2, 3, 4)), 0, 0, 0, 0);
  const double identity[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  expectMatrix(Matrix(Identity, 7.5), identity);
  // Sixteen values go in row by row.
  const Matrix counted(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  EXPECT_EQ(counted.m[0][3], 3.0);
  EXPECT_EQ(counted.m[3][0], 12.0);
  EXPECT_EQ(counted.m[2][1], 9.0);
}

TEST(Matrix, EveryOneParameterKindPlacesItsElements) {
  const double p = 0.7;
  const double c = portableCos(p);
  const double s = portableSin(p);
  struct Case {
    int kind;
    Matrix expected;
  };
  const Case cases[] = {
      {RotateX, identityExcept({{1, 1, c}, {1, 2, -s}, {2, 1, s}, {2, 2, c}})},
      {RotateY, identityExcept({{0, 0, c}, {0, 2, s}, {2, 0, -s}, {2, 2, c}})},
      {RotateZ, identityExcept({{0, 0, c}, {0, 1, -s}, {1, 0, s}, {1, 1, c}})},
      {TranslateX, identityExcept({{0, 3, p}})},
      {TranslateY, identityExcept({{1, 3, p}})},
      {TranslateZ, identityExcept({{2, 3, p}})},
      {ScaleX, identityExcept({{0, 0, p}})},
      {ScaleY, identityExcept({{1, 1, p}})},
      {ScaleZ, identityExcept({{2, 2, p}})},
      {ShearByX, identityExcept({{1, 0, p}, {2, 0, p}})},
      {ShearByY, identityExcept({{0, 1, p}, {2, 1, p}})},
      {ShearByZ, identityExcept({{0, 2, p}, {1, 2, p}})},
      {PerspectiveToParallel,
       identityExcept({{2, 2, 1.0 / (p + 1)}, {2, 3, -(p / (p + 1))}, {3, 2, -1}, {3, 3, 0}})},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.kind);
    expectMatrix(Matrix(test.kind, p), test.expected.m);
  }
}

TEST(Matrix, WorkedCasesOfTheTypedKinds) {
  expectVector(Matrix(Translate, 1, 2, 3).transform(Vector(0, 0, 0, 1)), 1, 2, 3, 1);
  expectVector(Matrix(Translate, 1, 2, 3).transform(Vector(1, 0, 0, 0)), 1, 0, 0, 0);
  expectVector(Matrix(TranslateX, 4).transform(Vector(1, 1, 1, 1)), 5, 1, 1, 1);

  // cos(π/2) is not exactly 0 in double arithmetic, and must not be made so.
  const Vector turned = Matrix(RotateZ, std::numbers::pi / 2).transform(Vector(1, 0, 0, 1));
  EXPECT_EQ(turned.x, 6.123233995736766e-17);  // cos(pi/2) correctly rounded, not 0
  EXPECT_EQ(turned.y, 1.0);

  // Rotate is X·Y·Z: z turns x onto y first, then x turns y onto z.
  expectVector(
      Matrix(Rotate, std::numbers::pi / 2, 0, std::numbers::pi / 2).transform(Vector(1, 0, 0, 1)),
      0, 0, 1, 1, 1e-15);
  const double angles[3] = {0.3, -1.1, 2.5};
  const Matrix byProducts = Matrix(RotateX, angles[0])
                                .times(Matrix(RotateY, angles[1]))
                                .times(Matrix(RotateZ, angles[2]));
  expectMatrix(Matrix(Rotate, angles[0], angles[1], angles[2]), byProducts.m);

  const double diagonal[4][4] = {{2, 0, 0, 0}, {0, 3, 0, 0}, {0, 0, 4, 0}, {0, 0, 0, 1}};
  expectMatrix(Matrix(Scale, 2, 3, 4), diagonal);

  // Each pair shear ignores one of its three parameters.
  expectMatrix(Matrix(ShearByZPair, 5, 6, 99), identityExcept({{0, 2, 5}, {1, 2, 6}}).m);
  expectMatrix(Matrix(ShearByXPair, 99, 2, 3), identityExcept({{1, 0, 2}, {2, 0, 3}}).m);
  expectMatrix(Matrix(ShearByYPair, 7, 99, 8), identityExcept({{0, 1, 7}, {2, 1, 8}}).m);
  expectVector(Matrix(ShearByXPair, 9, 2, 3).transform(Vector(1, 0, 0, 1)), 1, 2, 3, 1);
  expectVector(Matrix(ShearByX, 2).transform(Vector(1, 0, 0, 1)), 1, 2, 2, 1);
  expectVector(Matrix(ShearByZ, 2).transform(Vector(0, 0, 1, 1)), 2, 2, 1, 1);

  const double difference[4][4] = {
      {0, 0, 0, 1}, {0.125, 0.25, 0.5, 0}, {0.75, 0.5, 0, 0}, {0.75, 0, 0, 0}};
  expectMatrix(Matrix(ForwardDifference, 0.5), difference);
  const double bezier[4][4] = {{-1, 3, -3, 1}, {3, -6, 3, 0}, {-3, 3, 0, 0}, {1, 0, 0, 0}};
  expectMatrix(Matrix(BezierBasis, 0.0), bezier);
  expectMatrix(Matrix(BezierBasis, -12.5), bezier);

  const Matrix parallel(PerspectiveToParallel, 1);
  EXPECT_EQ(parallel.m[2][2], 0.5);
  EXPECT_EQ(parallel.m[2][3], -0.5);
  expectVector(parallel.transform(Vector(0, 0, -2, 1)), 0, 0, -1.5, 2);
}

TEST(Matrix, ProductsComposeAndMayOverwriteAnOperand) {
  const Matrix a = Matrix(RotateY, 0.4).times(Matrix(Translate, 1, -2, 3));
  const Matrix b(0.5, 1, 2, 3, -1, 2, 0.25, 4, 7, -3, 1, 0, 0.125, 0, 2, 1);
  const Vector v(1.5, -2, 0.75, 1);
  const Vector direct = a.times(b).transform(v);
  const Vector stepwise = a.transform(b.transform(v));
  expectVector(direct, stepwise.x, stepwise.y, stepwise.z, stepwise.w, 1e-12);
  // B acts first: translate then rotate is not rotate then translate.
  const Vector swapped = b.times(a).transform(v);
  EXPECT_GT(std::fabs(swapped.x - direct.x), 1e-3);

  Matrix overwritten = a;
  overwritten = overwritten.times(b);
  expectMatrix(overwritten, a.times(b).m);
  // The sum runs over k in order from 0.0: element (0, 0) of a product by hand.
  const Matrix p = b.times(b);
  EXPECT_EQ(p.m[0][0], ((0.0 + 0.5 * 0.5) + 1 * -1) + 2 * 7 + 3 * 0.125);
}

// The fatal path: the message goes to standard output, so the death-test child
// sends its standard output to a file that the parent reads back.
class MatrixDeclaration : public ::testing::Test {
 protected:
  void SetUp() override { path_ = vornisk::testing::makeTempDirectory() + "/stdout.txt"; }
  void TearDown() override { std::remove(path_.c_str()); }

  std::string captured() const {
    std::ifstream in(path_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  void expectFatal(int kind, bool threeParameters) {
    SCOPED_TRACE(::testing::Message() << "kind " << kind << (threeParameters ? " (3)" : " (1)"));
    std::remove(path_.c_str());
    EXPECT_EXIT(
        {
          if (std::freopen(path_.c_str(), "w", stdout) == nullptr) std::abort();
          if (threeParameters) {
            static_cast<void>(Matrix(kind, 0.0, 0.0, 0.0));
          } else {
            static_cast<void>(Matrix(kind, 5.0));
          }
        },
        ::testing::ExitedWithCode(255), "");
    EXPECT_EQ(captured(), "Error in Matrix declaration - ERROR\n");
  }

  std::string path_;
};

TEST_F(MatrixDeclaration, KindsOutsideTheCalledFormEndTheProcess) {
  expectFatal(Translate, false);
  expectFatal(RotateZ, true);
  expectFatal(22, false);
  expectFatal(-1, false);
  expectFatal(22, true);
  expectFatal(-1, true);
  // Every three-parameter kind is refused by the one-parameter form and the
  // reverse, so the two sets do not overlap.
  for (int kind : {Rotate, Scale, ShearByZPair, ShearByXPair, ShearByYPair}) {
    expectFatal(kind, false);
  }
  for (int kind : {Identity, TranslateX, ScaleZ, ShearByY, PerspectiveToParallel, BezierBasis}) {
    expectFatal(kind, true);
  }
}

// The renderer's camera on a 320 × 240 console.
Matrix rendererCamera(DemoConsole& console) {
  return console.viewTransform(320.0, 240.0, Vector(0, 0, 0, 1), Vector(0, 0, 1, 1),
                               Vector(0, 0, 300, 1));
}

Vector landed(const Matrix& camera, const Vector& world) {
  Vector v = camera.transform(world);
  v.homogenize();
  return v;
}

TEST(ViewTransform, RendererCameraMatrixAndLandingPixels) {
  DemoConsole console;
  console.width = 320;
  console.height = 240;
  const Matrix camera = rendererCamera(console);
  const double expected[4][4] = {{1.016949153, 0, -0.5423728814, 162.7118644},
                                 {0, 1.016949153, -0.406779661, 122.0338983},
                                 {0, 0, 0.4033613445, -242.0168067},
                                 {0, 0, -0.003389830508, 1.016949153}};
  expectSignificant(camera, expected, 10);

  struct Landing {
    Vector world;
    double x, y, tolerance;
  };
  for (const Landing& l :
       {Landing{Vector(0, 0, 0), 160, 120, 1e-12}, Landing{Vector(100, 0, 0), 260, 120, 1e-9},
        Landing{Vector(0, 100, 0), 160, 220, 1e-9},
        Landing{Vector(100, 0, -300), 210, 120, 1e-9},  // twice as far
        Landing{Vector(0, 0, 100), 160, 120, 1e-13}}) {
    const Vector pixel = landed(camera, l.world);
    EXPECT_NEAR(pixel.x, l.x, l.tolerance) << l.world.x << ", " << l.world.y << ", " << l.world.z;
    EXPECT_NEAR(pixel.y, l.y, l.tolerance) << l.world.x << ", " << l.world.y << ", " << l.world.z;
  }
  // Points in front of the eye come out with a positive weight.
  EXPECT_GT(camera.transform(Vector(0, 0, 0)).w, 0.0);

  // The normal is normalised in the operation's own copy.
  const Vector longNormal(0, 0, 5, 1);
  const Matrix same =
      console.viewTransform(320.0, 240.0, Vector(0, 0, 0, 1), longNormal, Vector(0, 0, 300, 1));
  expectMatrix(same, camera.m);
  EXPECT_EQ(longNormal.z, 5.0);
}

TEST(ViewTransform, OffsetTargetObliqueNormalAndShear) {
  DemoConsole console;
  console.width = 320;
  console.height = 240;
  const Vector target(10, -20, 5);
  const Matrix camera =
      console.viewTransform(320.0, 240.0, target, Vector(1, 2, 3), Vector(3, -4, 250));
  const double expected[4][4] = {{0.801298101, -0.333492162, -0.822919637, 142.347226},
                                 {-0.321193921, 0.564975379, -0.963581763, 162.519693},
                                 {0.129581208, 0.259162416, 0.388743625, -240.480524},
                                 {-0.00109086221, -0.00218172442, -0.00327258664, 1.00404523}};
  expectSignificant(camera, expected, 9);
  // The target is subtracted from the eye as passed, so it misses the centre.
  const Vector lands = landed(camera, target);
  EXPECT_NEAR(lands.x, 149.857143, 5e-7);
  EXPECT_NEAR(lands.y, 140.326531, 5e-7);
  // A target at the origin lands at the centre whatever the normal and eye.
  const Matrix centred =
      console.viewTransform(320.0, 240.0, Vector(0, 0, 0), Vector(1, 2, 3), Vector(3, -4, 250));
  const Vector centre = landed(centred, Vector(0, 0, 0));
  EXPECT_NEAR(centre.x, 160.0, 1e-9);
  EXPECT_NEAR(centre.y, 120.0, 1e-9);
}

TEST(ViewTransform, IntegerHalvesAndDegenerateNormal) {
  DemoConsole console;
  console.width = 321;
  console.height = 241;
  const Matrix odd = rendererCamera(console);
  const Vector origin = landed(odd, Vector(0, 0, 0));
  EXPECT_NEAR(origin.x, 160.0, 1e-12);  // not 160.5
  EXPECT_NEAR(origin.y, 120.0, 1e-12);

  console.width = 320;
  console.height = 240;
  const Matrix degenerate =
      console.viewTransform(320.0, 240.0, Vector(0, 0, 0), Vector(0, 1, 0), Vector(0, 0, 300));
  // u has length zero; the rotation's first row, and so every column it feeds, is NaN.
  EXPECT_TRUE(std::isnan(degenerate.m[0][0]));
  EXPECT_TRUE(std::isnan(degenerate.m[3][2]));
}

}  // namespace
}  // namespace vornisk

// The perspective camera as one world-to-pixel matrix. The factors are built and
// multiplied one by one in the camera's own order rather than folded into a
// closed form: the rounding of every intermediate product shows in the pixels.
#include "console/demo_console.h"

namespace vornisk {

Matrix DemoConsole::viewTransform(double windowWidth, double windowHeight, Vector target,
                                  Vector viewNormal, Vector eye) const {
  const Vector up(0.0, 1.0, 0.0, 1.0);
  constexpr double kDepthOffset = 5.0;

  const Matrix toTarget(Translate, -target.x, -target.y, -target.z);

  Vector n = viewNormal;
  n.normalize();
  Vector u = up.cross(n);
  u.normalize();
  Vector v = n.cross(u);
  v.normalize();
  const Matrix rotation(u.x, u.y, u.z, 0.0,  //
                        v.x, v.y, v.z, 0.0,  //
                        n.x, n.y, n.z, 0.0,  //
                        0.0, 0.0, 0.0, 1.0);

  const Matrix toEye(Translate, -eye.x, -eye.y, -eye.z);

  // The target is in world coordinates and the eye in view coordinates; the
  // difference is taken as passed, so an off-origin target shifts the picture.
  const Vector d = target.minus(eye);
  const Matrix shear(ShearByZPair, -(d.x / d.z), -(d.y / d.z), 0.0);

  const double pz = shear.times(toEye).transform(Vector(0.0, 0.0, 0.0, 1.0)).z;

  const double b = pz + kDepthOffset;
  const Matrix perspectiveScale(Scale, (pz + pz) / (b * windowWidth),
                                (pz + pz) / (b * windowHeight), -1.0 / b);

  const double zm = pz / b;
  const Matrix toParallel(1.0, 0.0, 0.0, 0.0,                              //
                          0.0, 1.0, 0.0, 0.0,                              //
                          0.0, 0.0, 1.0 / (zm + 1.0), -(zm / (zm + 1.0)),  //
                          0.0, 0.0, -1.0, 0.0);

  // Integer halves: an odd console size keeps the centre on a whole pixel.
  const double hw = static_cast<double>(width / 2);
  const double hh = static_cast<double>(height / 2);
  // Depth is scaled by the full height, not its half.
  const Matrix viewportScale(Scale, hw, hh, static_cast<double>(height));
  const Matrix viewportShift(Translate, hw, hh, 0.0);

  return viewportShift.times(viewportScale)
      .times(toParallel)
      .times(perspectiveScale)
      .times(shear)
      .times(toEye)
      .times(rotation)
      .times(toTarget);
}

}  // namespace vornisk

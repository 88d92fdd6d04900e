// Placeholder until the field lands.
#include "metaballs/blob_field.h"

namespace vornisk {

float jitter[6] = {};

void BlobField::reset() {}
void BlobField::addBall(double, double, double, double, double) {}

}  // namespace vornisk

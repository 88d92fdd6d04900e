// Placeholder until the extraction lands.
#include "metaballs/blob_field.h"

namespace vornisk {

void BlobField::computeCrossings() {}
std::optional<ContourSegment> BlobField::faceSegment(FaceFamily, int, int, int) const {
  return std::nullopt;
}

}  // namespace vornisk

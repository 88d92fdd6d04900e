// Placeholder until the renderer lands.
#include "metaballs/blob_field.h"

namespace vornisk {

void BlobField::render(DemoConsole&, double, int) {}

}  // namespace vornisk

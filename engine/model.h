// The model behind a handle: the network that classifies glyphs, the pattern that feeds it
// and the two statistics tables, read from the resources embedded in the library.
#ifndef OCRB_ENGINE_MODEL_H_
#define OCRB_ENGINE_MODEL_H_

#include "engine/context.h"

namespace ocrb {

// Names of the embedded model resources, in the order they are read.
inline constexpr char kNetworkResource[] = "OCRB16NET";
inline constexpr char kProfilesResource[] = "OCRB16STA";
inline constexpr char kTemplatesResource[] = "OCRB163DSTA";

// Reads the network, the class profiles and the template counts from the active resource
// provider into the context's model, in this order, stopping at the first failure, which it
// raises. The network is checked and compiled straight from its resource bytes; its object
// graph is built only if someone asks for it.
void LoadModel(TEngineContext& context);

}  // namespace ocrb

#endif  // OCRB_ENGINE_MODEL_H_

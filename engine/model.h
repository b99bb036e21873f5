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

// Makes the pattern (256 inputs, 15 outputs) and a 256-64-15 network with learning rate 0.45
// and momentum 0.9, which loading then replaces whole. Raises on failure.
void CreateModel(TEngineContext& context);

// Reads the network, the class profiles and the template counts from the active resource
// provider, in this order, stopping at the first failure, which it raises.
void LoadModel(TEngineContext& context);

// Frees the network, then the pattern.
void ReleaseModel(TEngineContext& context);

}  // namespace ocrb

#endif  // OCRB_ENGINE_MODEL_H_

#include "engine/model.h"

#include "classify/tables.h"
#include "platform/resources.h"

namespace ocrb {

void LoadModel(TEngineContext& context) {
  const platform::ResourceBytes network = platform::FindResourceBytes(kNetworkResource);
  context.Model.LoadNetwork(network.data, network.size);
  // Each stream is released as soon as its table is read, also when reading fails.
  LoadClassProfiles(*platform::OpenResourceStream(kProfilesResource), context.Model.ClassProfiles);
  LoadTemplateCounts(*platform::OpenResourceStream(kTemplatesResource),
                     context.Model.TemplateCounts);
}

}  // namespace ocrb

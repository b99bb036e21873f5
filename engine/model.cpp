#include "engine/model.h"

#include "classify/tables.h"
#include "platform/resources.h"

namespace ocrb {
namespace {

constexpr int32_t kPatternInputs = 256;
constexpr int32_t kPatternOutputs = 15;
constexpr double kLearningRate = 0.45;
constexpr double kMomentum = 0.9;

}  // namespace

void CreateModel(TEngineContext& context) {
  context.Pattern = std::make_unique<TPattern>(kPatternInputs, kPatternOutputs);
  // The constructor's network only has to exist; the stored one replaces it on loading.
  context.Network = std::make_unique<TBackpropNetwork>(
      3, kLearningRate, kMomentum, std::vector<int32_t>{kPatternInputs, 64, kPatternOutputs});
}

void LoadModel(TEngineContext& context) {
  // Each stream is released as soon as its table is read, also when reading fails.
  context.Network->LoadFromStream(*platform::OpenResourceStream(kNetworkResource));
  LoadClassProfiles(*platform::OpenResourceStream(kProfilesResource), context.ClassProfiles);
  LoadTemplateCounts(*platform::OpenResourceStream(kTemplatesResource), context.TemplateCounts);
}

void ReleaseModel(TEngineContext& context) {
  context.Network.reset();
  context.Pattern.reset();
}

}  // namespace ocrb

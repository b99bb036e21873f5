// Model start-up inside OCRB_Init: the embedded model, and every way reading it can fail.
#include "engine/model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "classify/classifier.h"
#include "dib_test_util.h"
#include "engine/context.h"
#include "engine/handles.h"
#include "neural/backprop.h"
#include "ocrb.h"
#include "platform/resources.h"

namespace ocrb {
namespace {

TEngineContext& Context(OCRB_HANDLE handle) {
  return *ocrb::ContextOf(handle);  // @@
}

// The object graph of the stream Model was loaded from.
std::unique_ptr<TBackpropNetwork> Graph(const TModel& model) {
  auto network = std::make_unique<TBackpropNetwork>();
  TReadOnlyMemoryStream stream(model.NetworkData(), static_cast<int64_t>(model.NetworkSize()));
  network->LoadFromStream(stream);
  return network;
}

std::vector<uint8_t> NetworkBytes(const TBackpropNetwork& network) {
  TMemoryStream stream;
  network.SaveToStream(stream);
  return stream.Bytes();
}

TEST(ModelStartUp, EmbeddedModelIsTheStoredShapeWithItsRatesInEveryUnit) {
  OCRB_HANDLE handle = nullptr;
  ASSERT_EQ(OCRB_Init("", "", &handle), OCRB_STATUS_OK);
  const std::unique_ptr<TBackpropNetwork> graph = Graph(Context(handle).Model);
  const TBackpropNetwork& network = *graph;
  EXPECT_EQ(network.NodeCount(), 399);
  EXPECT_EQ(network.LinkCount(), 34688);
  EXPECT_EQ(network.LayerCount(), 3);
  EXPECT_EQ(network.LayerSize(0), 256);
  EXPECT_EQ(network.LayerSize(1), 128);
  EXPECT_EQ(network.LayerSize(2), 15);
  EXPECT_EQ(network.FirstHidden(), 256);
  EXPECT_EQ(network.FirstOutput(), 384);
  for (int i = network.FirstHidden(); i < network.NodeCount(); ++i) {
    ASSERT_EQ(network.GetNode(i).GetValue(1), 0.45) << i;
    ASSERT_EQ(network.GetNode(i).GetValue(2), 0.9) << i;
  }
  EXPECT_EQ(NetworkBytes(network).size(), 429744u);
  EXPECT_EQ(OCRB_Done(handle), OCRB_STATUS_OK);
}

TEST(ModelStartUp, TwoHandlesHoldEqualModelsAndClassifyAlike) {
  OCRB_HANDLE a = nullptr, b = nullptr;
  ASSERT_EQ(OCRB_Init("", "", &a), OCRB_STATUS_OK);
  ASSERT_EQ(OCRB_Init("", "", &b), OCRB_STATUS_OK);
  EXPECT_EQ(NetworkBytes(*Graph(Context(a).Model)), NetworkBytes(*Graph(Context(b).Model)));
  const TModel& ma = Context(a).Model;
  const TModel& mb = Context(b).Model;
  EXPECT_EQ(std::memcmp(ma.TemplateCounts, mb.TemplateCounts, sizeof ma.TemplateCounts), 0);
  EXPECT_EQ(std::memcmp(ma.ClassProfiles, mb.ClassProfiles, sizeof ma.ClassProfiles), 0);
  // A rough "0": both handles must agree to the bit.
  std::vector<std::string> art(20, std::string(12, '.'));
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 12; ++x)
      if (x < 2 || x >= 10 || y < 2 || y >= 18) art[y][x] = '#';
  auto glyph = testing_util::FromArt(art);
  for (int templates = 0; templates <= 1; ++templates) {
    char ca = 0, cb = 0;
    double fa = -1, fb = -2;
    const TClassifierSettings settings{templates, 8};
    ClassifyGlyph(Context(a).Model, settings, *glyph, TRect{0, 0, 11, 19}, ca, fa);
    ClassifyGlyph(Context(b).Model, settings, *glyph, TRect{0, 0, 11, 19}, cb, fb);
    EXPECT_EQ(ca, cb);
    EXPECT_EQ(fa, fb);
    EXPECT_EQ(ca, '0') << "templates " << templates;
  }
  EXPECT_EQ(OCRB_Done(a), OCRB_STATUS_OK);
  EXPECT_EQ(OCRB_Done(b), OCRB_STATUS_OK);
}

// The embedded resources with one left out or cut short, recording what was asked for.
class StagedResources : public platform::ResourceProvider {
 public:
  bool Find(std::string_view name, platform::ResourceBytes& out) const override {
    asked.emplace_back(name);
    if (name == missing) return false;
    if (!platform::EmbeddedResources().Find(name, out)) return false;
    if (name == truncated) out.size = keep;
    return true;
  }
  std::string missing, truncated;
  size_t keep = 0;
  mutable std::vector<std::string> asked;
};

struct FailureCase {
  const char* what;
  std::string missing, truncated;
  size_t keep;
  std::vector<std::string> asked;
};

TEST(ModelStartUp, UnreadableResourcesFailWithoutTouchingTheHandle) {
  const std::vector<std::string> all = {kNetworkResource, kProfilesResource, kTemplatesResource};
  const FailureCase cases[] = {
      {"templates missing", kTemplatesResource, "", 0, all},
      {"profiles missing", kProfilesResource, "", 0, {kNetworkResource, kProfilesResource}},
      {"network missing", kNetworkResource, "", 0, {kNetworkResource}},
      {"network cut short", "", kNetworkResource, 429744 - 1, {kNetworkResource}},
      {"network header only", "", kNetworkResource, 28, {kNetworkResource}},
      {"network empty", "", kNetworkResource, 0, {kNetworkResource}},
  };
  for (const FailureCase& c : cases) {
    StagedResources staged;
    staged.missing = c.missing;
    staged.truncated = c.truncated;
    staged.keep = c.keep;
    platform::ScopedResourceProvider scope(staged);
    OCRB_HANDLE handle = reinterpret_cast<OCRB_HANDLE>(uintptr_t{0x5A5A});
    EXPECT_EQ(OCRB_Init("", "", &handle), OCRB_STATUS_MODEL_FAILED) << c.what;
    EXPECT_EQ(handle, reinterpret_cast<OCRB_HANDLE>(uintptr_t{0x5A5A})) << c.what;
    EXPECT_EQ(staged.asked, c.asked) << c.what;
  }
}

TEST(ModelStartUp, ShortTablesLoadWithTheirMissingValuesZero) {
  StagedResources staged;
  staged.truncated = kTemplatesResource;
  staged.keep = 100;
  platform::ScopedResourceProvider scope(staged);
  OCRB_HANDLE handle = nullptr;
  ASSERT_EQ(OCRB_Init("", "", &handle), OCRB_STATUS_OK);
  EXPECT_EQ(Context(handle).Model.TemplateCounts[1][14][255], 0);
  EXPECT_EQ(OCRB_Done(handle), OCRB_STATUS_OK);
}

}  // namespace
}  // namespace ocrb

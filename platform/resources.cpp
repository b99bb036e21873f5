#include "platform/resources.h"

#include <atomic>

#include "platform/error.h"

namespace ocrb::platform {

// Generated at build time from resources/ (cmake/embed_resources.cmake).
struct EmbeddedResource {
  const char* name;
  const uint8_t* data;
  size_t size;
};
extern const EmbeddedResource kEmbeddedResources[];
extern const size_t kEmbeddedResourceCount;

namespace {

class EmbeddedProvider : public ResourceProvider {
 public:
  bool Find(std::string_view name, ResourceBytes& out) const override {
    for (size_t i = 0; i < kEmbeddedResourceCount; ++i) {
      if (name == kEmbeddedResources[i].name) {
        out = ResourceBytes{kEmbeddedResources[i].data, kEmbeddedResources[i].size};
        return true;
      }
    }
    return false;
  }
};

std::atomic<const ResourceProvider*> active_provider{nullptr};

}  // namespace

const ResourceProvider& EmbeddedResources() {
  static const EmbeddedProvider provider;
  return provider;
}

const ResourceProvider& ActiveResourceProvider() {
  const ResourceProvider* provider = active_provider.load();
  return provider != nullptr ? *provider : EmbeddedResources();
}

ScopedResourceProvider::ScopedResourceProvider(const ResourceProvider& provider)
    : previous_(active_provider.exchange(&provider)) {}

ScopedResourceProvider::~ScopedResourceProvider() {
  active_provider.store(previous_);
}

ResourceBytes FindResourceBytes(std::string_view name) {
  ResourceBytes bytes;
  if (!ActiveResourceProvider().Find(name, bytes))
    throw Error("Resource " + std::string(name) + " not found");
  return bytes;
}

std::unique_ptr<TStream> OpenResourceStream(std::string_view name) {
  const ResourceBytes bytes = FindResourceBytes(name);
  return std::make_unique<TReadOnlyMemoryStream>(bytes.data, static_cast<int64_t>(bytes.size));
}

}  // namespace ocrb::platform

// Named resources: the model files that travel inside the library. The build turns every
// file of resources/ into a resource registered under the file's name (on Windows a module
// resource of type "CUSTOMDATA", elsewhere a byte array); the engine finds them through the
// active provider, which tests may replace to stage a missing or damaged resource.
#ifndef OCRB_PLATFORM_RESOURCES_H_
#define OCRB_PLATFORM_RESOURCES_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/stream.h"

namespace ocrb::platform {

struct ResourceBytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

class ResourceProvider {
 public:
  virtual ~ResourceProvider() = default;
  // The bytes of resource Name, alive as long as the provider; false when there is none.
  virtual bool Find(std::string_view name, ResourceBytes& out) const = 0;
};

// The resources built into the library: on Windows those of the module that holds the
// engine's code, elsewhere the compiled-in arrays.
const ResourceProvider& EmbeddedResources();

// The provider the engine consults: the embedded one unless a test installed another.
const ResourceProvider& ActiveResourceProvider();

// Installs Provider for the lifetime of this object, then restores the previous one. The
// provider is process-wide: install it before handles are created and keep it alive.
class ScopedResourceProvider {
 public:
  explicit ScopedResourceProvider(const ResourceProvider& provider);
  ~ScopedResourceProvider();
  ScopedResourceProvider(const ScopedResourceProvider&) = delete;
  ScopedResourceProvider& operator=(const ScopedResourceProvider&) = delete;

 private:
  const ResourceProvider* previous_;
};

// The bytes of resource Name of the active provider, alive as long as that provider. Raises
// "Resource NAME not found" when there is none.
ResourceBytes FindResourceBytes(std::string_view name);

// A read-only stream over resource Name of the active provider. Raises
// "Resource NAME not found" when there is none. The caller owns the stream.
std::unique_ptr<TStream> OpenResourceStream(std::string_view name);

}  // namespace ocrb::platform

#endif  // OCRB_PLATFORM_RESOURCES_H_

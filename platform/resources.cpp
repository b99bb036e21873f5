// Where the model's bytes come from. On Windows the build puts every file of resources/ into
// the module as a resource of type "CUSTOMDATA" (engine/ocrb.rc), and the engine finds it
// by name in the module its own code lives in: the DLL when a host loaded ocrb.dll, the
// program itself when the core is linked statically. Elsewhere the build compiles the same
// files into byte arrays (tools/embed) and a table lookup finds them.
#include "platform/resources.h"

#include <atomic>
#include <string>

#include "platform/error.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace ocrb::platform {

#ifdef _WIN32

namespace {

constexpr char kResourceType[] = "CUSTOMDATA";

class ModuleProvider : public ResourceProvider {
 public:
  bool Find(std::string_view name, ResourceBytes& out) const override {
    HMODULE module = OwnModule();
    if (module == nullptr) return false;
    const std::string id(name);  // FindResource wants a NUL-terminated name
    HRSRC info = ::FindResourceA(module, id.c_str(), kResourceType);
    if (info == nullptr) return false;
    HGLOBAL loaded = ::LoadResource(module, info);
    if (loaded == nullptr) return false;
    // A module's resources stay mapped while the module is loaded, which outlives every
    // engine handle: nothing is unlocked or freed here.
    const void* data = ::LockResource(loaded);
    if (data == nullptr) return false;
    out = ResourceBytes{static_cast<const uint8_t*>(data), ::SizeofResource(module, info)};
    return true;
  }

 private:
  // The module that holds this code. Asking by address instead of by file name finds the
  // right module whatever the DLL was renamed to, and leaves its reference count alone.
  static HMODULE OwnModule() {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&kResourceType), &module))
      return nullptr;
    return module;
  }
};

using BuiltInProvider = ModuleProvider;

}  // namespace

#else

// Generated at build time from resources/ by tools/embed.
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

using BuiltInProvider = EmbeddedProvider;

}  // namespace

#endif

namespace {
std::atomic<const ResourceProvider*> active_provider{nullptr};
}  // namespace

const ResourceProvider& EmbeddedResources() {
  static const BuiltInProvider provider;
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

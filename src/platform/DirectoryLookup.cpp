#include "ordalis/DirectoryLookup.h"

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <vector>

#include "ordalis/ComponentError.h"
#include "ordalis/KeyedCollection.h"
#include "platform/Paths.h"

namespace ordalis {

namespace {

constexpr std::int32_t kErrCannotCreate = 429;
constexpr char kLookupSymbol[] = "LookupInAddressBook";
using LookupFn = int (*)(const char*, char*, int);

struct FactoryTable {
  std::mutex mu;
  std::map<std::string, DirectoryLookupFactory> factories;  // by folded name
};

FactoryTable& Factories() {
  static FactoryTable table;
  return table;
}

// A lookup object backed by a library's C entry point. Holds the library
// open while it lives.
class LibraryLookup final : public DirectoryLookup {
 public:
  LibraryLookup(std::shared_ptr<void> library, LookupFn fn, std::string source)
      : library_(std::move(library)), fn_(fn), source_(std::move(source)) {}

  std::string LookupInAddressBook(const std::string& number) override {
    std::vector<char> buf(256);
    for (int attempt = 0; attempt < 2; ++attempt) {
      buf[0] = '\0';
      int n = fn_(number.c_str(), buf.data(), static_cast<int>(buf.size()));
      if (n < 0) {
        throw ComponentError(n, "LookupInAddressBook failed for " + number + " (code " + std::to_string(n) + ")",
                             source_);
      }
      if (static_cast<std::size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<std::size_t>(n));
      buf.assign(static_cast<std::size_t>(n) + 1, '\0');
    }
    // The name grew between the two calls: keep what fits.
    return std::string(buf.data(), buf.size() - 1);
  }

 private:
  std::shared_ptr<void> library_;
  LookupFn fn_;
  std::string source_;
};

std::unique_ptr<DirectoryLookup> LoadLibraryLookup(const std::string& name) {
  if (name.find('/') != std::string::npos) {
    throw ComponentError(kErrCannotCreate, "ActiveX component can't create object: invalid name " + name);
  }
  std::string file = "lib" + name + ".so";
  std::string path = platform::LogPath() + file;
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    throw ComponentError(kErrCannotCreate,
                         "ActiveX component can't create object: " + std::string(why ? why : path));
  }
  std::shared_ptr<void> library(handle, [](void* h) { ::dlclose(h); });
  ::dlerror();
  void* sym = ::dlsym(handle, kLookupSymbol);
  if (sym == nullptr) {
    throw ComponentError(kErrCannotCreate,
                         "ActiveX component can't create object: " + path + " does not export " + kLookupSymbol);
  }
  return std::make_unique<LibraryLookup>(std::move(library), reinterpret_cast<LookupFn>(sym), file);
}

}  // namespace

void RegisterLookupFactory(const std::string& name, DirectoryLookupFactory factory) {
  FactoryTable& t = Factories();
  std::lock_guard<std::mutex> lock(t.mu);
  if (factory) {
    t.factories[FoldKey(name)] = std::move(factory);
  } else {
    t.factories.erase(FoldKey(name));
  }
}

std::unique_ptr<DirectoryLookup> CreateLookupObject(const std::string& name) {
  DirectoryLookupFactory factory;
  {
    FactoryTable& t = Factories();
    std::lock_guard<std::mutex> lock(t.mu);
    auto it = t.factories.find(FoldKey(name));
    if (it != t.factories.end()) factory = it->second;
  }
  if (factory) {
    auto object = factory();
    if (!object) throw ComponentError(kErrCannotCreate, "ActiveX component can't create object: " + name);
    return object;
  }
  return LoadLibraryLookup(name);
}

}  // namespace ordalis

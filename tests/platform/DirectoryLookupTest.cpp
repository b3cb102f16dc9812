#include "ordalis/DirectoryLookup.h"

#include <gtest/gtest.h>

#include "ordalis/ComponentError.h"
#include "platform/TempDir.h"

using namespace ordalis;
using ordalis::testing::ScopedEnv;

namespace {

class MapLookup : public DirectoryLookup {
 public:
  std::string LookupInAddressBook(const std::string& number) override {
    return number == "0612345678" ? "From factory" : "";
  }
};

std::int32_t CreationError(const std::string& name, std::string* description = nullptr) {
  try {
    CreateLookupObject(name);
  } catch (const ComponentError& e) {
    if (description) *description = e.Description();
    return e.Number();
  }
  return 0;
}

}  // namespace

TEST(DirectoryLookup, InProcessFactoryIsFoundByNameInAnyCase) {
  int created = 0;
  RegisterLookupFactory("Partner.DirLookup", [&] {
    ++created;
    return std::make_unique<MapLookup>();
  });
  auto a = CreateLookupObject("partner.dirlookup");
  auto b = CreateLookupObject("PARTNER.DIRLOOKUP");
  EXPECT_EQ(created, 2);  // a new object for every creation
  EXPECT_EQ(a->LookupInAddressBook("0612345678"), "From factory");
  EXPECT_EQ(b->LookupInAddressBook("000"), "");

  RegisterLookupFactory("Partner.DirLookup", nullptr);
  ScopedEnv home("ORDALIS_HOME", "/nonexistent-ordalis-home");
  EXPECT_EQ(CreationError("Partner.DirLookup"), 429);
}

TEST(DirectoryLookup, LibraryInTheLogDirectoryAnswersThroughItsCEntryPoint) {
  ScopedEnv home("ORDALIS_HOME", ORDALIS_LOOKUP_FIXTURE_DIR);
  // A factory of the same name comes first.
  RegisterLookupFactory("OrdalisTestDir", [] { return std::make_unique<MapLookup>(); });
  EXPECT_EQ(CreateLookupObject("OrdalisTestDir")->LookupInAddressBook("0612345678"), "From factory");
  RegisterLookupFactory("OrdalisTestDir", nullptr);

  auto lookup = CreateLookupObject("OrdalisTestDir");
  ASSERT_NE(lookup, nullptr);
  EXPECT_EQ(lookup->LookupInAddressBook("0612345678"), "Rossi Mario");
  EXPECT_EQ(lookup->LookupInAddressBook("0000"), "");

  // Longer than the first buffer: asked again with room for all of it.
  std::string longer = lookup->LookupInAddressBook("long");
  ASSERT_EQ(longer.size(), 300u);
  EXPECT_EQ(longer.front(), 'A');
  EXPECT_EQ(longer.back(), 'Z');

  try {
    lookup->LookupInAddressBook("broken");
    FAIL() << "a failing lookup must raise";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), -7);
    EXPECT_FALSE(e.Description().empty());
  }
}

TEST(DirectoryLookup, MissingLibraryOrEntryPointIsACreationError) {
  ScopedEnv home("ORDALIS_HOME", ORDALIS_LOOKUP_FIXTURE_DIR);
  std::string why;
  EXPECT_EQ(CreationError("NoSuchPartner", &why), 429);
  EXPECT_NE(why.find("libNoSuchPartner.so"), std::string::npos) << why;
  EXPECT_EQ(CreationError("OrdalisTestNoEntry", &why), 429);
  EXPECT_NE(why.find("LookupInAddressBook"), std::string::npos) << why;
  EXPECT_EQ(CreationError("../OrdalisTestDir"), 429);
}

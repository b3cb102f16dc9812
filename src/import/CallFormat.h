#pragma once
// CallFormat: how the records of one kind of file become calls, and the
// field readers the formats share.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "import/ImportedCall.h"
#include "ordalis/CallImport.h"

namespace ordalis::import {

class ExtensionRule;

// A record that cannot be imported; what() says why.
class BadRow : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CallFormat {
 public:
  virtual ~CallFormat() = default;
  // Given the first record of a file: true when it is a header and was
  // taken as one. Throws BadRow when the format needs a header and this is
  // not a valid one.
  virtual bool Header(const std::vector<std::string_view>& fields) = 0;
  // Fills `call` from a record. Throws BadRow when the record is not a
  // call this format can read.
  virtual void Read(const std::vector<std::string_view>& fields, ImportedCall& call) = 0;
};

// The format's reader; `extensions` must outlive it.
std::unique_ptr<CallFormat> MakeCsvFormat(const ImportOptions& options);
std::unique_ptr<CallFormat> MakeAsteriskFormat(const ImportOptions& options, ExtensionRule& extensions);
std::unique_ptr<CallFormat> MakeFreeSwitchFormat(const ImportOptions& options, ExtensionRule& extensions);

// "YYYY-MM-DD HH:MM:SS" (or with "T"; a fraction of a second is dropped).
// Throws BadRow naming `what`.
DateTime ParseStart(std::string_view text, const char* what);
// A whole number of seconds (digits only, blanks around allowed); a
// duration is never read as days. Throws BadRow naming `what`.
std::int64_t ParseSeconds(std::string_view text, const char* what);
// A whole number in [low, high]. Throws BadRow naming `what`.
std::int64_t ParseWhole(std::string_view text, const char* what, std::int64_t low, std::int64_t high);

// Which side of a two-party record is an extension of the site decides the
// type: both internal ("E"), the caller outgoing ("O"), the called side
// incoming ("I"). Fills type, extension and number; throws BadRow when
// neither side is an extension. A side is given by its number and, where
// the exchange names it, the peer its channel belongs to.
void AssignSides(ExtensionRule& extensions, std::string_view caller, std::string_view caller_peer,
                 std::string_view called, std::string_view called_peer, ImportedCall& call);

}  // namespace ordalis::import

#pragma once
// The one exception type of the component: a numbered error with a
// description and a source, as a host sees it.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "ordalis/Export.h"

namespace ordalis {

// Base of the component's object errors; a Part's offset is added to it.
inline constexpr std::int32_t kObjectErrorBase = static_cast<std::int32_t>(0x80040000u);

// Numbers of the runtime errors the shared types raise.
inline constexpr std::int32_t kErrInvalidCall = 5;      // missing key or index
inline constexpr std::int32_t kErrOverflow = 6;         // money or integer out of range
inline constexpr std::int32_t kErrTypeMismatch = 13;    // text that is not a date or number
inline constexpr std::int32_t kErrDuplicateKey = 457;   // key already in a collection
inline constexpr std::int32_t kErrProcessor = 111;      // RaiseProcessorError
inline constexpr char kProcessorSource[] = "Valmer Processor";
inline constexpr char kComponentSource[] = "Ordalis";

class ORDALIS_API ComponentError : public std::runtime_error {
 public:
  ComponentError(std::int32_t number, std::string description, std::string source = kComponentSource)
      : std::runtime_error(description),
        number_(number),
        description_(std::move(description)),
        source_(std::move(source)) {}

  std::int32_t Number() const noexcept { return number_; }
  const std::string& Description() const noexcept { return description_; }
  const std::string& Source() const noexcept { return source_; }

 private:
  std::int32_t number_;
  std::string description_;
  std::string source_;
};

// The object-error number for a Part's offset (0x80040000 + offset).
constexpr std::int32_t ObjectError(std::int32_t offset) { return kObjectErrorBase + offset; }

}  // namespace ordalis

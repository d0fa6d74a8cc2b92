#include "base/failure.h"

#include "base/text.h"

namespace zkq {

Failure::Failure(std::u16string description)
    : std::runtime_error(ToUtf8(description)), description_(std::move(description)) {}

}  // namespace zkq

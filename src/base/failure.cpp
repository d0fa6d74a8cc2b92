#include "base/failure.h"

#include <exception>

#include "base/text.h"

namespace zkq {

Failure::Failure(std::u16string description, int number)
    : std::runtime_error(ToUtf8(description)),
      description_(std::move(description)),
      number_(number) {}

std::u16string CurrentFailureDescription() noexcept {
  try {
    try {
      throw;
    } catch (const Failure& failure) {
      return failure.Description();
    } catch (const std::exception& error) {
      return FromUtf8(error.what());
    } catch (...) {
      return kUnknownFailure;
    }
  } catch (...) {
    return {};  // out of memory while describing it
  }
}

}  // namespace zkq

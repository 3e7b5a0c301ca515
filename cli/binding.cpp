#include "cli/binding.h"

#include <cassert>
#include <charconv>

namespace cli {

SetOutcome Binding::set_flag(bool) {
  assert(false && "set_flag on a value binding");
  return SetOutcome::failure("binding takes no flag");
}

SetOutcome Binding::set_value(const std::string&) {
  assert(false && "set_value on a flag binding");
  return SetOutcome::failure("binding takes no value");
}

std::string FlagBinding::value_text(std::size_t i) const {
  if (i != 0) return {};
  return target_ ? "true" : "false";
}

SetOutcome FlagBinding::set_flag(bool value) {
  target_ = value;
  return SetOutcome::success(MatchKind::consumed);
}

SetOutcome CallbackFlagBinding::set_flag(bool value) {
  target_ = value;
  return SetOutcome::success(MatchKind::stop_all);
}

std::optional<std::uint64_t> parse_decimal(std::string_view text, std::uint64_t max) {
  // Digits only: signs, blanks and radix prefixes are refused before conversion,
  // because from_chars alone would stop early at them.
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || value > max) return std::nullopt;
  return value;
}

SetOutcome conversion_failure(std::string_view text) {
  return SetOutcome::failure("Unable to convert '" + std::string(text) + "' to destination type");
}

SetOutcome ChoiceList::check(std::string_view text) const {
  for (const std::string& value : values_) {
    if (value == text) return SetOutcome::success(MatchKind::consumed);
  }
  std::string message = "Value '" + std::string(text) + "' not expected. Allowed values are: ";
  for (std::size_t i = 0; i < values_.size(); ++i) {
    if (i != 0) message += ", ";
    message += values_[i];
  }
  return SetOutcome::failure(std::move(message));
}

}  // namespace cli

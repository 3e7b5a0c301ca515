#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "cli/outcome.h"

namespace cli {

/// The link from an option to the variable it sets. Shared by all copies of an
/// option; the variable must outlive every parse.
class Binding {
 public:
  virtual ~Binding() = default;
  /// True for bindings that collect several values (none in this program).
  virtual bool is_container() const { return false; }
  virtual bool is_flag() const = 0;
  /// How many values value_text can show: 1 for a variable, 0 for a callback.
  virtual std::size_t value_count() const = 0;
  /// The variable's current value as text for i == 0; empty text otherwise.
  virtual std::string value_text(std::size_t i) const = 0;
  /// Stores a flag; only flag bindings accept one.
  virtual SetOutcome set_flag(bool value);
  /// Converts and stores a value; only value bindings accept one.
  virtual SetOutcome set_value(const std::string& text);
};

/// A flag stored in a bool.
class FlagBinding final : public Binding {
 public:
  explicit FlagBinding(bool& target) : target_(target) {}
  bool is_flag() const override { return true; }
  std::size_t value_count() const override { return 1; }
  std::string value_text(std::size_t i) const override;
  SetOutcome set_flag(bool value) override;

 private:
  bool& target_;
};

/// A flag that also stops the whole parse once set (the help switch).
class CallbackFlagBinding final : public Binding {
 public:
  explicit CallbackFlagBinding(bool& target) : target_(target) {}
  bool is_flag() const override { return true; }
  std::size_t value_count() const override { return 0; }
  std::string value_text(std::size_t) const override { return {}; }
  SetOutcome set_flag(bool value) override;

 private:
  bool& target_;
};

/// The decimal value of `text` if it is digits only and at most `max`.
std::optional<std::uint64_t> parse_decimal(std::string_view text, std::uint64_t max);

/// "Unable to convert '<text>' to destination type".
SetOutcome conversion_failure(std::string_view text);

/// A value stored in an unsigned 32-bit, unsigned 64-bit or string variable.
template <typename T>
class ValueBinding final : public Binding {
  static_assert(std::is_same_v<T, std::uint32_t> || std::is_same_v<T, std::uint64_t> ||
                    std::is_same_v<T, std::string>,
                "ValueBinding supports unsigned 32-bit, unsigned 64-bit and string targets");

 public:
  explicit ValueBinding(T& target) : target_(target) {}
  bool is_flag() const override { return false; }
  std::size_t value_count() const override { return 1; }
  std::string value_text(std::size_t i) const override {
    if (i != 0) return {};
    if constexpr (std::is_same_v<T, std::string>) {
      return target_;
    } else {
      return std::to_string(target_);
    }
  }
  SetOutcome set_value(const std::string& text) override {
    if constexpr (std::is_same_v<T, std::string>) {
      target_ = text;
    } else {
      const auto value = parse_decimal(text, std::numeric_limits<T>::max());
      if (!value) return conversion_failure(text);
      target_ = static_cast<T>(*value);
    }
    return SetOutcome::success(MatchKind::consumed);
  }

 private:
  T& target_;
};

/// The allowed value texts of an option, in order. Shared by all copies of it.
class ChoiceList {
 public:
  explicit ChoiceList(std::vector<std::string> values) : values_(std::move(values)) {}
  /// Ok when `text` equals one of the values exactly; otherwise a failure that
  /// lists them.
  SetOutcome check(std::string_view text) const;
  const std::vector<std::string>& values() const { return values_; }

 private:
  std::vector<std::string> values_;
};

}  // namespace cli

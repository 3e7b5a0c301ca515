#pragma once

#include <string>

namespace solver {

/// `value` as the C conversion "%f" prints it (six decimals, "nan", "inf").
std::string format_fixed(double value);

}  // namespace solver

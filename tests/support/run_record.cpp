#include "tests/support/run_record.h"

#include "tests/support/test_support.h"

namespace testing_support {

std::string RunRecord(const std::string& program) {
  std::string text;
  if (!ReadFileBytes(program + ".ran", &text)) return "";
  return text;
}

bool HasLine(const std::string& record, const std::string& line) {
  return ("\n" + record).find("\n" + line + "\n") != std::string::npos;
}

}  // namespace testing_support

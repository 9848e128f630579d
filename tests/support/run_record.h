// The record that the runner test program (tests/payload/runner_test_program.cpp) leaves beside
// itself in "<its path>.ran": one line each for its command line, process id, working folder and
// its end.
#ifndef TESTS_SUPPORT_RUN_RECORD_H_
#define TESTS_SUPPORT_RUN_RECORD_H_

#include <string>

namespace testing_support {

// The record of the program at this path, or "" when it has not run.
std::string RunRecord(const std::string& program);

// True when the record holds exactly this line.
bool HasLine(const std::string& record, const std::string& line);

}  // namespace testing_support

#endif  // TESTS_SUPPORT_RUN_RECORD_H_

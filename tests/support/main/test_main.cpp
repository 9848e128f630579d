// Entry point of the test programs: GoogleTest with its usual flags.
//
// Output is written unbuffered, and a crash names the test it happened in: under CTest the output
// goes to a pipe, and a crashing program would otherwise take its buffered report with it and
// leave an empty log behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  std::fprintf(stderr, "\nCRASH: exception 0x%08lX at %p in %s.%s\n",
               static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
               exception->ExceptionRecord->ExceptionAddress,
               test ? test->test_suite_name() : "(no test)", test ? test->name() : "");
  std::fflush(stderr);
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  SetUnhandledExceptionFilter(ReportCrash);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

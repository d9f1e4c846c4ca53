// A very small test runner for the Windows test program: named cases, checks
// that report file and line, and a closing "N passed, M failed" line.
#pragma once

#include <sstream>
#include <string>

namespace testkit {

using TestFunction = void (*)();

bool registerTest(const char* name, TestFunction function);
int runAll(); // the number of failed cases

void fail(const std::string& what, const char* file, int line);

template <class A, class B>
void checkEqual(const A& actual, const B& expected, const char* text, const char* file, int line)
{
    if (actual == expected)
        return;
    std::ostringstream out;
    out << text << "\n      actual:   [" << actual << "]\n      expected: [" << expected << "]";
    fail(out.str(), file, line);
}

} // namespace testkit

#define TEST_CASE(name)                                                                            \
    static void name();                                                                            \
    static const bool name##_registered = testkit::registerTest(#name, name);                      \
    static void name()

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition))                                                                          \
            testkit::fail(#condition, __FILE__, __LINE__);                                         \
    } while (0)

#define CHECK_EQ(actual, expected)                                                                 \
    testkit::checkEqual((actual), (expected), #actual " == " #expected, __FILE__, __LINE__)

#include "testkit.h"

#include <cstdio>
#include <vector>

namespace testkit {

namespace {

struct Registered {
    const char* name;
    TestFunction function;
};

std::vector<Registered>& registry()
{
    static std::vector<Registered> tests;
    return tests;
}

bool g_currentFailed = false;

} // namespace

bool registerTest(const char* name, TestFunction function)
{
    registry().push_back({name, function});
    return true;
}

void fail(const std::string& what, const char* file, int line)
{
    g_currentFailed = true;
    std::printf("    FAILED %s:%d: %s\n", file, line, what.c_str());
}

int runAll()
{
    int passed = 0, failed = 0;
    for (const Registered& test : registry()) {
        std::printf("[ RUN  ] %s\n", test.name);
        g_currentFailed = false;
        test.function();
        std::printf("[ %s ] %s\n", g_currentFailed ? "FAIL" : " OK ", test.name);
        (g_currentFailed ? failed : passed)++;
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed;
}

} // namespace testkit

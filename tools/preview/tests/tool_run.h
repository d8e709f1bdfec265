// What the tests of the command line share: a scratch file the tool reads or
// writes, removed with the test, and one run of the tool as main() runs it.
#pragma once

#include "cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

struct TempFile {
    explicit TempFile(const std::string& content)
        : path((std::filesystem::temp_directory_path() /
                ("jqpreview-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".reg"))
                   .string())
    {
        std::ofstream(path, std::ios::binary) << content;
    }
    ~TempFile() { std::filesystem::remove(path); }
    const std::string path;
    static inline int counter = 0;
};

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

inline ToolRun tool(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    const int status = preview::runTool(args, out, err);
    return ToolRun{status, out.str(), err.str()};
}

// The tool's output, where the run must end with `expected`.
inline std::string reportOf(const std::vector<std::string>& args, int expected = preview::ExitOk)
{
    const ToolRun t = tool(args);
    EXPECT_EQ(t.status, expected) << t.err;
    return t.out;
}

// Arbitrary bytes as a registry file for the preview tool's reader. A file
// it refuses must be refused with ParseError; a file it accepts must be
// written out again, in both file formats, as a file that the reader takes
// back to the same registry.
#include "reg_file.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "reg file: %s\n", what);
        std::abort();
    }
}

void roundTrip(const regfile::Registry& registry, const regfile::WriteOptions& options)
{
    const std::string written = regfile::write(registry, options);
    regfile::Registry again;
    try {
        regfile::parse(written, "written.reg", again);
    } catch (const regfile::ParseError& e) {
        std::fprintf(stderr, "line %zu: %s\n", e.line(), e.reason().c_str());
        require(false, "the reader refuses what the writer wrote");
    }
    require(regfile::write(again, options) == written,
            "a written file does not read back to the same registry");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    regfile::Registry registry;
    try {
        regfile::parse(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.reg",
                       registry);
    } catch (const regfile::ParseError&) {
        return 0;
    }
    roundTrip(registry, regfile::WriteOptions{regfile::Format::Version5, regfile::Encoding::Utf16Le});
    roundTrip(registry, regfile::WriteOptions{regfile::Format::Regedit4, regfile::Encoding::Ansi});
    return 0;
}

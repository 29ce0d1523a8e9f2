// The picture of a run without the window: each look of a cell in its pixels, an
// agent's dot over the cells, the whitening flags of the step's pass, and the PNG
// encoder's file.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "png_encoding.h"
#include "sim_test_support.h"
#include "world_picture.h"

namespace {

Pixel At(const std::vector<Pixel>& picture, int x, int y)
{
    return picture[static_cast<std::size_t>(y) * kPictureSide + x];
}

}  // namespace

// One cell of cell size 4 at (1, 1) (pixels 4..7 on both axes) on an otherwise
// empty, white grid, drawn in each look; the pixels next to its square stay white.
TEST(WorldPicture, EveryLookOfACellShowsInItsSquare)
{
    struct Case {
        std::int32_t kind;
        int grayLevel;
        bool allBlack, noDestinations;
        Pixel expected;
    };
    const Case cases[] = {
        {kObstacle, 255, false, false, 0xFF000080},    {kResidential, 255, false, false, 0xFF008000},
        {kDestination, 255, false, false, 0xFF00FF00}, {kService, 255, false, false, 0xFFFF0000},
        {kIndustry, 255, false, false, 0xFF0066CC},    {kEmpty, 77, false, false, 0xFF4D4D4D},
        {kResidential, 77, false, true, 0xFF4D4D4D},   {kObstacle, 77, false, true, 0xFF000080},
        {kService, 77, true, false, 0xFF000000},       {kDestination, 77, true, false, 0xFFFFFFFF},
        {kObstacle, 77, true, false, 0xFF000080},      {kEmpty, 77, true, false, 0xFF4D4D4D},
    };
    for (const Case& c : cases) {
        Simulation sim;
        MakeEmptyRun(sim, 101, 101, 4);
        for (TCell& cell : sim.run.cells.InPassOrder()) cell.grayLevel = 255;
        TCell& cell = sim.run.cells(1, 1);
        cell.kind = c.kind;
        cell.grayLevel = c.grayLevel;
        cell.allBlack = c.allBlack;
        sim.controls.cb_noDesti = c.noDestinations;
        const std::vector<Pixel> picture = WorldPixels(sim);
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << ", all black " << c.allBlack << ", no destinations "
                                        << c.noDestinations);
        EXPECT_EQ(At(picture, 4, 4), c.expected);
        EXPECT_EQ(At(picture, 7, 7), c.expected);
        EXPECT_EQ(At(picture, 8, 7), colors::kWhite);
        EXPECT_EQ(At(picture, 7, 3), colors::kWhite);
    }
}

// The agent's 3 x 3 dot over the cells only while agents are shown, and the
// cells left white by "all cells white" and, empty ones, by "show no tracks".
TEST(WorldPicture, AgentsAndWhiteningFlags)
{
    Simulation sim;
    MakeEmptyRun(sim, 101, 101, 4);
    for (TCell& cell : sim.run.cells.InPassOrder()) cell.grayLevel = 0;
    sim.run.cells(5, 5).kind = kResidential;  // pixels 20..23
    TAgent& agent = AddAgentAt(sim, 0, 0);
    agent.SetPixelX(21);
    agent.SetPixelY(30);
    agent.mode = kReturning;

    std::vector<Pixel> picture = WorldPixels(sim);
    EXPECT_EQ(At(picture, 21, 30), colors::kBlack);  // no agents shown
    sim.controls.CB_showAg = true;
    picture = WorldPixels(sim);
    EXPECT_EQ(At(picture, 21, 30), colors::kLime);
    EXPECT_EQ(At(picture, 20, 30), colors::kLime);
    EXPECT_EQ(At(picture, 22, 31), colors::kGray);
    EXPECT_EQ(At(picture, 23, 30), colors::kBlack);
    EXPECT_EQ(At(picture, 21, 21), colors::kGreen);

    sim.controls.CB_showOrig = true;
    picture = WorldPixels(sim);
    EXPECT_EQ(At(picture, 0, 0), colors::kWhite);
    EXPECT_EQ(At(picture, 21, 21), colors::kGreen);
    EXPECT_EQ(At(picture, 21, 30), colors::kLime);
    sim.controls.CB_noTracks = true;
    picture = WorldPixels(sim);
    EXPECT_EQ(At(picture, 21, 21), colors::kWhite);
    EXPECT_EQ(At(picture, 21, 29), colors::kLime);

    // The RGB bytes are the pixels' channels, and the PNG file starts with its signature.
    const std::vector<std::uint8_t> rgb = WorldPictureRgb(sim);
    ASSERT_EQ(rgb.size(), picture.size() * 3);
    const std::size_t centre = (30u * kPictureSide + 21u) * 3u;
    EXPECT_EQ(rgb[centre], 0);
    EXPECT_EQ(rgb[centre + 1], 255);
    EXPECT_EQ(rgb[centre + 2], 0);
    const std::vector<std::uint8_t> png = EncodePng(rgb, kPictureSide, kPictureSide);
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(std::memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8), 0);
    EXPECT_THROW(EncodePng(rgb, kPictureSide, kPictureSide + 1), PngError);
}

// The picture of a run without the window: each look of a cell in its pixels, an
// agent's dot over the cells, the whitening flags of the step's pass, the panel
// as the composition of its two layers, and the PNG encoder's files.
#include <gtest/gtest.h>

#include <png.h>

#include <cstring>
#include <vector>

#include "png/png_encoding.h"
#include "sim/core/program_start.h"
#include "sim/core/time_step.h"
#include "sim/drawing/world_picture.h"
#include "tests/sim/sim_test_support.h"

namespace {

Pixel At(const std::vector<Pixel>& picture, int x, int y)
{
    return picture[static_cast<std::size_t>(y) * kPictureSide + x];
}

std::vector<std::uint8_t> RgbOf(const std::vector<Pixel>& pixels)
{
    std::vector<std::uint8_t> rgb;
    for (const Pixel p : pixels) rgb.insert(rgb.end(), {colors::RedOf(p), colors::GreenOf(p), colors::BlueOf(p)});
    return rgb;
}

// The RGB pixels a PNG file decodes to with libpng, rows top to bottom; empty when
// libpng refuses it or it is not width x height.
std::vector<std::uint8_t> DecodedRgb(const std::vector<std::uint8_t>& file, int width, int height)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, file.data(), file.size()) == 0) return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
    const bool read = png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) != 0;
    const bool sized = image.width == static_cast<png_uint_32>(width) && image.height == static_cast<png_uint_32>(height);
    png_image_free(&image);
    if (!read || !sized) return {};
    return rgb;
}

// The default run with its drawing recorded and its agents shown, after `steps` steps.
struct RecordedRun {
    explicit RecordedRun(int steps)
    {
        sim.SetScreen(&recorder);
        StartProgram(sim, {{"CB_showAg", "1"}});
        for (int i = 0; i < steps; ++i) TimeStep(sim);
    }
    Simulation sim;
    DrawingRecorder recorder{sim};
};

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

// The panel is the agent layer over the cell layer, pixel for pixel, whichever
// flags whiten cells or hide the agents.
TEST(WorldPicture, PanelIsTheAgentLayerOverTheCellLayer)
{
    RecordedRun run(60);
    Simulation& sim = run.sim;
    struct Case {
        bool showAgents, noTracks, showOrig;
    };
    const Case cases[] = {{true, false, false}, {false, false, false}, {true, true, false}, {true, false, true}};
    constexpr std::size_t kCount = static_cast<std::size_t>(kPictureSide) * kPictureSide;
    for (const Case& c : cases) {
        sim.controls.CB_showAg = c.showAgents;
        sim.controls.CB_noTracks = c.noTracks;
        sim.controls.CB_showOrig = c.showOrig;
        std::vector<Pixel> cells(kCount), agents(kCount);
        PaintCellLayer(PixelView(cells.data(), kPictureSide, kPictureSide, kPictureSide), sim);
        PaintAgentLayer(PixelView(agents.data(), kPictureSide, kPictureSide, kPictureSide), sim);
        for (std::size_t i = 0; i < kCount; ++i) cells[i] = Composed(cells[i], agents[i]);
        SCOPED_TRACE(testing::Message() << "agents " << c.showAgents << ", no tracks " << c.noTracks
                                        << ", only kinds " << c.showOrig);
        EXPECT_TRUE(WorldPixels(sim) == cells);
    }
}

// Every file decodes with libpng to the pixels it was given, from RGB triples and
// from the painter's words alike (the same file from both): indexed colour up to
// 256 colours, RGB beyond.
TEST(WorldPicture, PngFilesDecodeToTheirPixels)
{
    RecordedRun run(150);
    // Colour i of n: distinct grays first, then other colours, spread over the image.
    const auto colours = [](int n, int width, int height) {
        std::vector<Pixel> pixels(static_cast<std::size_t>(width) * height);
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            const int k = static_cast<int>((i * 7) % static_cast<std::size_t>(n));
            pixels[i] = k < 256 ? colors::GrayOf(k) : 0xFF000000u | static_cast<Pixel>(k) << 8;
        }
        return pixels;
    };
    struct Case {
        const char* name;
        std::vector<Pixel> pixels;
        int width, height;
        int colourType;  // in the header: 3 indexed, 2 RGB
    };
    const Case cases[] = {
        {"one colour", std::vector<Pixel>(6, colors::kNavy), 3, 2, PNG_COLOR_TYPE_PALETTE},
        {"256 colours", colours(256, 100, 30), 100, 30, PNG_COLOR_TYPE_PALETTE},
        {"257 colours", colours(257, 100, 30), 100, 30, PNG_COLOR_TYPE_RGB},
        {"a run's panel", WorldPixels(run.sim), kPictureSide, kPictureSide, PNG_COLOR_TYPE_PALETTE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::uint8_t> rgb = RgbOf(c.pixels);
        const std::vector<std::uint8_t> file = EncodePng(rgb, c.width, c.height);
        ASSERT_GT(file.size(), 26u);
        EXPECT_EQ(file[25], c.colourType);
        EXPECT_TRUE(EncodePng(c.pixels, c.width, c.height) == file);
        EXPECT_TRUE(DecodedRgb(file, c.width, c.height) == rgb);
    }
    EXPECT_THROW(EncodePng(std::vector<Pixel>(5), 3, 2), PngError);
}

#include "app/display_check.h"

#include <gtest/gtest.h>

namespace {

bool CanShow(const std::string& platforms, bool x11, bool wayland)
{
    return !MissingDisplayReason(DisplayEnvironment{platforms, x11, wayland}).has_value();
}

}  // namespace

TEST(DisplayCheck, DefaultPlatformNeedsX11OrWayland)
{
    EXPECT_FALSE(CanShow("", false, false));
    EXPECT_TRUE(CanShow("", true, false));
    EXPECT_TRUE(CanShow("", false, true));
    EXPECT_NE(MissingDisplayReason({"", false, false})->find("DISPLAY"), std::string::npos);
}

TEST(DisplayCheck, DisplayServerPlatformsNeedTheirOwnDisplay)
{
    EXPECT_FALSE(CanShow("xcb", false, true));
    EXPECT_TRUE(CanShow("xcb", true, false));
    EXPECT_FALSE(CanShow("wayland", true, false));
    EXPECT_TRUE(CanShow("wayland-egl", false, true));
    EXPECT_FALSE(CanShow("xcb:nomitshm", false, false));  // options after a colon
    EXPECT_NE(MissingDisplayReason({"wayland", false, false})->find("\"wayland\""), std::string::npos);
}

TEST(DisplayCheck, PlatformsWithoutADisplayServerAlwaysStart)
{
    for (const char* platform : {"offscreen", "minimal", "vnc:size=800x600", "eglfs", "linuxfb"})
        EXPECT_TRUE(CanShow(platform, false, false)) << platform;
}

TEST(DisplayCheck, AListStartsWhenAnyOfItsPlatformsCan)
{
    EXPECT_TRUE(CanShow("wayland;xcb", true, false));
    EXPECT_TRUE(CanShow("xcb;offscreen", false, false));
    EXPECT_FALSE(CanShow("wayland;xcb", false, false));
    EXPECT_FALSE(CanShow(";", false, false));
}

TEST(DisplayCheck, ThePlatformArgumentOutranksTheEnvironment)
{
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    EXPECT_EQ(CurrentDisplayEnvironment({"landuse"}).platforms, "xcb");
    EXPECT_EQ(CurrentDisplayEnvironment({"landuse", "-platform", "offscreen"}).platforms, "offscreen");
    EXPECT_EQ(CurrentDisplayEnvironment({"landuse", "--platform", "minimal"}).platforms, "minimal");
    EXPECT_EQ(CurrentDisplayEnvironment({"landuse", "-platform"}).platforms, "xcb");
    unsetenv("QT_QPA_PLATFORM");
    EXPECT_EQ(CurrentDisplayEnvironment({"landuse"}).platforms, "");
}

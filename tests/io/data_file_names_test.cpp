#include "io/data_file_names.h"

#include <gtest/gtest.h>

namespace kelmar {
namespace {

TEST(SiteFileName, AppendsTheExtensionOnlyWhenTheFileNameHasNoFullStop) {
    const struct {
        const char* name;
        const char* formed;
    } cases[] = {
        {"C:\\data\\soil", "C:\\data\\soil.sit"},
        {"C:\\data\\soil.txt", "C:\\data\\soil.txt"},
        {"C:\\data.old\\soil", "C:\\data.old\\soil.sit"},  // a folder's full stop does not count
        {"/home/j.smith/project.v2/soil", "/home/j.smith/project.v2/soil.sit"},
        {"/home/u/soil", "/home/u/soil.sit"},
        {"/home/u/soil.", "/home/u/soil."},
        {"soil.sit", "soil.sit"},
    };
    for (const auto& c : cases) EXPECT_EQ(SiteFileName(c.name), c.formed) << "name " << c.name;
}

TEST(ReplaceExtension, ReplacesOrAppendsInTheLastPathComponent) {
    const struct {
        const char* name;
        const char* formed;
    } cases[] = {
        {"C:\\data\\climat", "C:\\data\\climat.cld"},
        {"C:\\data\\climat.txt", "C:\\data\\climat.cld"},
        {"C:\\data\\climat.cld", "C:\\data\\climat.cld"},
        {"C:\\data.old\\climat", "C:\\data.old\\climat.cld"},
        {"/data.old/climat.2020.txt", "/data.old/climat.2020.cld"},
        {"/data/climat.", "/data/climat.cld"},
        {"climat", "climat.cld"},
    };
    for (const auto& c : cases) EXPECT_EQ(ReplaceExtension(c.name, CLIMATOLOGY_EXTENSION), c.formed) << "name " << c.name;
    EXPECT_EQ(ReplaceExtension("/data/weather.txt", WEATHER_EXTENSION), "/data/weather.wed");
}

}  // namespace
}  // namespace kelmar

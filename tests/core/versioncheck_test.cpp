#include "versioncheck.h"

#include <gtest/gtest.h>

using vardune::VersionCheck;

TEST(VersionCheck, BodiesAndTheirOutcome)
{
    const struct {
        std::string body;
        std::optional<std::string> latest;
        bool newer;
    } cases[] = {
        {"Vardune03.00.01", "03.00.01", false},
        {"Vardune03.00.02\r\n", "03.00.02", true},
        {"Vardune3.00.00x", "3.00.00x", true},  // the digit 3 sorts after 0
        {"Vardune02.09.09", "02.09.09", false},
        {"Vardune3.00.01", "3.00.01", true},     // exactly 14 characters
        {"Vardune03.00.", std::nullopt, false},  // 13 characters
        {"Vardune03.00.0", "03.00.0", false},    // 14: a shorter version that begins the same
        {"vardune03.00.02", std::nullopt, false},
        {"<html>404 Not Found</html>", std::nullopt, false},
        {"", std::nullopt, false},
        {"Vardune03.00.01 and a long tail of anything", "03.00.01", false},
        {"Vardune\xff" "3.00.01", "\xff" "3.00.01", true},  // Latin-1 bytes compare by code
        {"Vardune03.00.010", "03.00.01", false},  // only eight characters count
    };
    for (const auto& c : cases) {
        const auto latest = VersionCheck::LatestVersion(c.body);
        EXPECT_EQ(latest, c.latest) << c.body;
        if (latest) {
            EXPECT_EQ(VersionCheck::IsNewer(*latest, "03.00.01"), c.newer) << c.body;
        }
    }
    EXPECT_TRUE(VersionCheck::IsNewer("03.00.01 ", "03.00.01"));
}

// Frames held against reference images: tests/<folder>/reference/<name>.ppm.
//
// A frame matches when at most 0.5% of its pixels differ by more than 8 in
// any channel from the reference, which leaves room for a driver's rounding
// but not for a mirrored wing, a wrong pose or a missing texture. Running
// with GLIMMERWING_UPDATE_REFERENCES=1 writes the references instead of
// comparing (look at them before committing). A frame that does not match is
// written next to the build as <name>-actual.ppm.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TestScene.h"

namespace testing_support {

constexpr int kReferenceChannelTolerance = 8;
constexpr double kReferenceDifferingShare = 0.005;

inline std::filesystem::path ReferenceFile(const std::string& folder, const std::string& name) {
    return std::filesystem::path(GLIMMERWING_SOURCE_DIR) / "tests" / folder / "reference" / (name + ".ppm");
}

inline void ExpectMatchesReference(const std::string& folder, const std::string& name,
                                   const std::vector<std::uint32_t>& pixels, int width, int height) {
    ASSERT_EQ(pixels.size(), static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    const std::filesystem::path file = ReferenceFile(folder, name);
    const char* update = std::getenv("GLIMMERWING_UPDATE_REFERENCES");
    if (update && std::string(update) == "1") {
        std::error_code ec;
        std::filesystem::create_directories(file.parent_path(), ec);
        ASSERT_TRUE(SaverScene::WritePpm(file, pixels, width, height)) << file;
        std::printf("wrote %s\n", file.c_str());
        return;
    }
    std::vector<std::uint32_t> reference;
    int referenceWidth = 0, referenceHeight = 0;
    ASSERT_TRUE(SaverScene::ReadPpm(file, reference, referenceWidth, referenceHeight))
        << file << " is missing or unreadable; write it with GLIMMERWING_UPDATE_REFERENCES=1";
    ASSERT_EQ(referenceWidth, width);
    ASSERT_EQ(referenceHeight, height);

    std::size_t differing = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const std::uint32_t a = pixels[i], b = reference[i];
        if (std::abs(Red(a) - Red(b)) > kReferenceChannelTolerance ||
            std::abs(Green(a) - Green(b)) > kReferenceChannelTolerance ||
            std::abs(Blue(a) - Blue(b)) > kReferenceChannelTolerance)
            ++differing;
    }
    const auto allowed = static_cast<std::size_t>(kReferenceDifferingShare * static_cast<double>(pixels.size()));
    EXPECT_LE(differing, allowed) << name << ": " << differing << " pixels differ by more than "
                                  << kReferenceChannelTolerance;
    if (differing > allowed) {
        const auto actual = std::filesystem::path(GLIMMERWING_BINARY_DIR) / (name + "-actual.ppm");
        SaverScene::WritePpm(actual, pixels, width, height);
        ADD_FAILURE() << "the frame drawn is in " << actual;
    }
}

}  // namespace testing_support

#pragma once

#include "support/ScratchSpace.h"
#include "support/ZipBuilder.h"

#include "halvexconnector/latestversion/kciextractor/KCIExtractor.h"

#include <fl/filesystem/path_conversion.h>
#include <foundation/log/testing/RecordCapture.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace kcitest {

namespace fs = std::filesystem;
namespace kci = halvexconnector::latestversion::kciextractor;

// A scratch tree "work" (holding the archive) and "outside" (which no archive may reach).
struct ExtractorFixture : ::testing::Test {
    qbtest::TempDirectory scratch;
    fs::path work = scratch / "work";
    fs::path outside = scratch / "outside";
    fs::path archive = work / "kci_test.zip";
    foundation::log::testing::RecordCapture log;

    void SetUp() override {
        fs::create_directories(work);
        fs::create_directories(outside);
    }

    fs::path extracted() const { return work / "kci_test.extracted"; }

    std::pair<fl::filesystem::basic_path, std::string>
    extract(const kci::ExtractionLimits& limits = {}) const {
        return kci::extractKCIAndReturnVersion(fl::filesystem::path_from_native(archive), limits);
    }

    // Every path below `root`, relative and sorted; links are listed, never followed.
    static std::vector<std::string> treeBelow(const fs::path& root) {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            names.push_back(fs::relative(entry.path(), root).string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // The scratch tree holds nothing but what the test put there.
    void expectNothingWritten() const {
        EXPECT_EQ(treeBelow(scratch.path()),
                  (std::vector<std::string>{"outside", "work", "work/kci_test.zip"}));
    }

    // Extraction throws an error that names `entry`, and leaves nothing behind. Returns the
    // error's text.
    std::string expectRefused(const std::string& entry,
                              const kci::ExtractionLimits& limits = {}) const {
        std::string text;
        try {
            extract(limits);
            ADD_FAILURE() << "extraction of a hostile archive succeeded";
        } catch (const kci::KCIExtractionError& error) {
            text = error.what();
            EXPECT_EQ(error.entry(), entry) << text;
            EXPECT_NE(text.find("\"" + entry + "\""), std::string::npos) << text;
        }
        expectNothingWritten();
        return text;
    }
};

} // namespace kcitest

// A scratch folder per test where test plugins are copied under the file
// names a case needs, and the log their entry points write.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/errors.h"
#include "plugins/plugins.h"

namespace plugintest {

namespace fs = std::filesystem;

inline std::string ReadText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class PluginFixture : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("qb_plugins_" + std::to_string(::getpid()) + "_" + info->test_suite_name() + "_" + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        log_ = dir_ / "calls.log";
        ::setenv("QB_TEST_PLUGIN_LOG", log_.c_str(), 1);
    }
    void TearDown() override {
        FreePluginList();
        ::unsetenv("QB_TEST_PLUGIN_LOG");
        fs::remove_all(dir_);
    }

    // The built variant copied as folder/fileName (folder below the scratch
    // folder; empty for the scratch folder itself).
    fs::path Place(const std::string& variant, const std::string& fileName, const std::string& folder = "") {
        fs::path target = dir_ / folder;
        fs::create_directories(target);
        target /= fileName;
        fs::copy_file(fs::path(QB_TEST_PLUGIN_DIR) / (variant + ".qbp"), target,
                      fs::copy_options::overwrite_existing);
        return target;
    }

    std::string Log() const {
        std::ifstream in(log_);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    static int Count(const std::string& text, const std::string& piece) {
        int n = 0;
        for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
        return n;
    }

    static std::string ErrorText(int code) {
        char text[kErrorTextSize];
        GetErrorText(code, text);
        return text;
    }

    fs::path dir_;
    fs::path log_;
};

}  // namespace plugintest

// A VM, a scratch folder and fresh start-up records for loading applets that
// the applet writer builds.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/applet.h"
#include "core/appletload.h"
#include "core/linkeddata.h"
#include "core/vmhost.h"
#include "display/icons.h"
#include "lib/applet_writer.h"
#include "player/options.h"
#include "player/startup.h"
#include "scratch.h"
#include "vm/vm.h"

class AppletFixture : public ::testing::Test {
protected:
    void SetUp() override {
        startDir_ = std::filesystem::current_path();
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        FreeIconPaths();
        TimerSettings = {};
        LinkedDataOffset = 0;
    }
    void TearDown() override {
        DeleteTemporaryFiles();
        FreeIconPaths();
        VmClose(L_);
        LinkedDataOffset = 0;
        std::filesystem::current_path(startDir_);
    }

    std::string Write(const std::vector<uint8_t>& bytes, const std::string& name = "test.qba") {
        return dir_.Write(name, std::string(bytes.begin(), bytes.end()));
    }

    // Loads the bytes into fresh records.
    int LoadBytes(const std::vector<uint8_t>& bytes, const std::string& name = "test.qba") {
        path_ = Write(bytes, name);
        applet_ = qbApplet{};
        cl_ = qbCommandLine{};
        VmRegistrySetLightUserdata(L_, "applet", &applet_);
        VmRegistrySetLightUserdata(L_, "clargs", &cl_);
        std::snprintf(cl_.scriptPath, sizeof cl_.scriptPath, "%s", path_.c_str());
        cl_.quiet = 1;
        return LoadScriptOrApplet(L_, &cl_, &applet_);
    }

    int Load(const AppletDesc& desc, const std::string& name = "test.qba") { return LoadBytes(BuildApplet(desc), name); }

    // An applet with a version and a small body.
    static AppletDesc Minimal(AppletVersionPair version = {6, 1}) {
        AppletDesc desc;
        desc.version = version;
        desc.body = std::vector<uint8_t>{0x1B, 'Q', 'B', 'B'};
        return desc;
    }

    std::vector<uint8_t> ReadAt(const std::string& path, uint64_t offset, uint64_t size) {
        std::ifstream in(path, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(offset));
        std::vector<uint8_t> out(size);
        in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size));
        out.resize(static_cast<size_t>(in.gcount()));
        return out;
    }

    std::filesystem::path startDir_;
    ScratchDir dir_;
    std::string path_;
    ScriptState* L_ = nullptr;
    qbApplet applet_;
    qbCommandLine cl_;
};

// Display 1 (100 x 80) with the bgpic, draw and vectorgraphics libraries
// open: paths built by their commands and drawn by DrawPath or straight
// through the renderer into images.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "draw/draw.h"
#include "imaging/bitmap.h"
#include "objects/bgpiclib.h"
#include "objects/objectoptions.h"
#include "objects/show_fixture.h"
#include "vector/path.h"
#include "vector/pathrender.h"
#include "vector/vectorlib.h"

class PathWorld : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitDrawLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitVectorLibrary(L_), 0);
        VmSetTop(L_, 0);
        *GetDrawState() = DefaultDrawState();
    }
    void TearDown() override {
        *GetDrawState() = DefaultDrawState();
        FreeVectorLibrary(L_);
        FreeDrawLibrary(L_);
        ShowWorld::TearDown();
    }

    int Cmd(const char* command, std::initializer_list<double> args) { return RunNumbers(command, args); }
    // A closed polygon path of id through the points.
    void Polygon(int id, std::initializer_list<double> xy) {
        ASSERT_EQ(Cmd("StartPath", {double(id)}), 0);
        const std::vector<double> v(xy);
        for (size_t i = 0; i + 1 < v.size(); i += 2)
            ASSERT_EQ(Cmd(i ? "LineTo" : "MoveTo", {double(id), v[i], v[i + 1]}), 0);
        ASSERT_EQ(Cmd("ClosePath", {double(id)}), 0);
    }
    // Fills the whole picture with one colour.
    void Clear(uint32_t colour) { FillBitmapRect(display_->spriteFreeBuffer.get(), 0, 0, 100, 80, colour); }
    std::vector<uint32_t> Picture() {
        std::vector<uint32_t> all;
        for (int32_t y = 0; y < 80; ++y)
            for (int32_t x = 0; x < 100; ++x) all.push_back(Shown(x, y));
        return all;
    }
    // The largest difference of one channel between two pictures.
    static int WorstChannel(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
        int worst = 0;
        for (size_t i = 0; i < a.size(); ++i)
            for (int s = 0; s < 24; s += 8)
                worst = std::max(worst, std::abs(int((a[i] >> s) & 0xFF) - int((b[i] >> s) & 0xFF)));
        return worst;
    }

    // The path drawn by the renderer into images under the matrix, with
    // the draw state in force.
    struct Drawn {
        qbPathImages images;
        ~Drawn() {
            FreeBitmap(images.bitmap);
            FreeAlphaChannel(images.alpha);
        }
    };
    int Render(int id, Drawn* out, const double* matrix = nullptr, int32_t x = 0, int32_t y = 0) {
        qbPath* path = nullptr;
        if (int err = GetPath(ObjectID{id, nullptr}, &path)) return err;
        qbPathRequest r;
        r.commands = path->commands.get();
        r.capacity = path->capacity;
        r.style = SnapshotPathStyle(*GetDrawState());
        qbTransformOptions t;
        if (matrix) std::copy(matrix, matrix + 4, t.matrix);
        qbLayerOptions l;
        return RenderPath(L_, nullptr, nullptr, x, y, &r, &t, &l, 0, &out->images, 0);
    }
};

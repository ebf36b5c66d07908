// A VM with the dos library open, commands called by name with plain C++
// values, and a scratch folder for the files they make.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "command_call.h"
#include "core/objectlist.h"
#include "core/hosted_fixture.h"
#include "core/scratch.h"
#include "libs/dos.h"

namespace dostest {

using Arg = std::variant<double, std::string, std::nullptr_t, void*>;

class DosFixture : public coretest::HostedVmFixture {
protected:
    void SetUp() override {
        HostedVmFixture::SetUp();
        SetRuntimeTag(kTagQuiet, 1);
        // The commands go into the table on the stack top: the globals.
        VmPushValue(L, kGlobalsIndex);
        ASSERT_EQ(InitDosLibrary(L), 0);
        VmSetTop(L, 0);
    }
    void TearDown() override {
        FreeDosObjects(L);
        HostedVmFixture::TearDown();
    }

    // Calls the command on a cleared stack; its results stay there (1, 2 ...).
    int Call(const char* command, const std::vector<Arg>& args) {
        VmSetTop(L, 0);
        for (const Arg& a : args) Push(a);
        return CallCommand(L, command, static_cast<int>(args.size()), kMultRet);
    }
    void Push(const Arg& a) {
        if (auto* d = std::get_if<double>(&a)) VmPushNumber(L, *d);
        else if (auto* s = std::get_if<std::string>(&a)) VmPushLString(L, s->data(), s->size());
        else if (auto* p = std::get_if<void*>(&a)) VmPushLightUserdata(L, *p);
        else VmPushNil(L);
    }
    double Num(int idx) { return VmToNumber(L, idx); }
    std::string Str(int idx) {
        const char* s = VmToCString(L, idx);
        return s ? std::string(s, VmStrLen(L, idx)) : std::string();
    }
    void* Handle(int idx) { return const_cast<void*>(VmToPointer(L, idx)); }
    int FileCount() {
        int n = 0;
        for (qbObject* o = FileListHead()->head; o; o = o->next) ++n;
        return n;
    }
    // Open descriptors of the process, to see that a file was closed.
    static int OpenDescriptors() {
        int n = 0;
        std::error_code ec;
        for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
             !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
            ++n;
        return n;
    }
    // Standard output of a shell command.
    static std::string Shell(const std::string& command) {
        std::string out;
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        if (!pipe) return out;
        char buf[4096];
        while (size_t n = std::fread(buf, 1, sizeof buf, pipe.get())) out.append(buf, n);
        return out;
    }

    ScratchDir dir_;
};

inline std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

}  // namespace dostest

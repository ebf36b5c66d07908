// A rename on a file system that can't rename without replacing (the
// system answers EINVAL to that flag): a file still moves to a free name,
// a taken name or a folder still refuses, and neither leaves a second name
// behind. The child process that renames is given such a system by a
// seccomp filter.
#include <gtest/gtest.h>

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstddef>
#include <iterator>
#include <string>

#include "bounded_child.h"
#include "core/fileops.h"
#include "scratch.h"

namespace {

// renameat2 fails with EINVAL; every other call goes through.
bool RenameWithoutNoReplace() {
#if defined(__x86_64__)
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_renameat2, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
#else
    return false;
#endif
}

nlink_t Links(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_nlink : 0;
}

TEST(FileOpsFallback, ARenameWithoutNoReplaceMovesOnlyToAFreeName) {
#if !defined(__x86_64__)
    GTEST_SKIP() << "the filter is written for x86-64";
#endif
    ScratchDir dir;
    const std::string a = dir.Write("a", "first"), taken = dir.Write("taken", "second");
    const std::string freeName = dir / "free";
    EXPECT_EQ(CreateDir((dir / "folder").c_str()), 0);
    const std::string folder = dir / "folder", folderTo = dir / "moved";
    const int result = test_child::InChild([&] {
        if (!RenameWithoutNoReplace()) return 100;
        int failed = 0;
        if (RenameFile(a.c_str(), freeName.c_str()) != 1) failed |= 1;
        if (RenameFile(freeName.c_str(), taken.c_str()) != 0) failed |= 2;
        if (RenameFile(folder.c_str(), folderTo.c_str()) != 0) failed |= 4;
        return failed;
    });
    ASSERT_NE(result, 100) << "no seccomp filter here";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Links(a), 0u);
    EXPECT_EQ(ScratchDir::Read(freeName), "first");
    EXPECT_EQ(Links(freeName), 1u);
    EXPECT_EQ(ScratchDir::Read(taken), "second");
    EXPECT_EQ(Links(taken), 1u);
    EXPECT_EQ(Links(folderTo), 0u);
    EXPECT_NE(Links(folder), 0u);
}

}  // namespace

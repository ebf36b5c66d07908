#include "libs/blockstring.h"

#include <cstring>
#include <memory>

#include "vm/vm.h"

namespace {

// A first block starts small and doubles up to a whole block: a short line
// costs little, and the doubling lands on kStringBlock exactly.
constexpr size_t kFirstBlock = 256;
static_assert(kStringBlock % kFirstBlock == 0 && ((kStringBlock / kFirstBlock) & (kStringBlock / kFirstBlock - 1)) == 0);

}  // namespace

void AppendByte(qbBlockString* s, char c) {
    if (s->blocks.empty() || s->blocks.back().size() >= kStringBlock) {
        std::string block;
        block.reserve(s->blocks.empty() ? kFirstBlock : kStringBlock);
        s->blocks.push_back(std::move(block));
    }
    s->blocks.back().push_back(c);
    ++s->size;
}

char* AppendBlock(qbBlockString* s, size_t n) {
    std::string block;
    block.resize(n);
    s->blocks.push_back(std::move(block));
    s->size += n;
    return s->blocks.back().data();
}

void TrimLastBlock(qbBlockString* s, size_t unused) {
    std::string& last = s->blocks.back();
    last.resize(last.size() - unused);
    s->size -= unused;
}

void PushBlockString(ScriptState* L, qbBlockString* s) {
    if (s->blocks.size() <= 1) {
        if (s->blocks.empty())
            VmPushLString(L, "", 0);
        else
            VmPushLString(L, s->blocks[0].data(), s->blocks[0].size());
    } else {
        auto whole = std::make_unique_for_overwrite<char[]>(s->size);
        size_t at = 0;
        for (std::string& block : s->blocks) {
            std::memcpy(whole.get() + at, block.data(), block.size());
            at += block.size();
            std::string().swap(block);
        }
        VmPushLString(L, whole.get(), s->size);
    }
    s->blocks.clear();
    s->size = 0;
}

std::string JoinBlocks(const qbBlockString& s) {
    std::string text;
    text.reserve(s.size);
    for (const std::string& block : s.blocks) text += block;
    return text;
}

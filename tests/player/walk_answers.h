// What a command gives its user on the all-commands walk's plausible call:
// its results, or the error it ended with, and a hash of the pixels the
// user sees if the call changed them. The walk compares each command's
// answer with the one recorded in walk_answers.txt.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct ScriptState;

namespace walkworld {

// What differs from process to process and is written as a name instead:
// the walk's scratch folder, the player's temporary home and the port of
// the world's server.
// Fields of a table a result holds that are left out of it (LeftOut).
struct AnswerPlaces {
    std::string scratch;
    std::string home;
    int port = 0;
    const std::vector<std::string>* unsteadyKeys = nullptr;
};

// The results at base+1..base+count of L's stack, each written in one word or
// bracketed table: numbers with nine digits (integers whole), texts of up
// to 200 bytes in full, longer ones as their length and hash, tables with
// their keys sorted, three levels deep.
std::string DescribeResults(ScriptState* L, int base, int count, const AnswerPlaces& places);

// A hash of what display 1 shows and draws into (its window, its back
// buffers and double buffer), of every brush and of the layers of display 1.
uint64_t SeenPixels(ScriptState* L);

// What a folder's files hold: each file's name (below the folder) with a
// hash of its size and bytes, not of its times.
std::map<std::string, uint64_t> FilesIn(const std::string& folder);

// " wrote " and a hash of the files that are new, changed or gone from
// before to after; empty when none is.
std::string Wrote(const std::map<std::string, uint64_t>& before, const std::map<std::string, uint64_t>& after);

// The answers of walk_answers.txt, by command.
const std::map<std::string, std::string>& RecordedAnswers();

// What of a command's answer the walk leaves out, and why: all of it, the
// pixels it drew, the files it wrote, or the fields of its tables that the
// keys name. Of a call with the numbers told apart, under "Name#distinct",
// all of it; of one with an option set otherwise, under "Name@6.key", what
// it names.
enum class Unsteady { kAll, kPixels, kKeys, kFiles };
struct LeftOut {
    Unsteady what;
    const char* why;
    std::vector<std::string> keys = {};
};
const LeftOut* LeftOutOf(const std::string& command);

}  // namespace walkworld

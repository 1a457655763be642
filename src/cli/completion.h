// Shell completion scripts for tarsel-cli (bash, zsh, fish), made from the parser's own
// command definitions: its commands, their options, and the values the validators take
// (settings groups, code pages, font items, picture slots, line speeds, ...). The
// scripts complete the ports at completion time with `tarsel-cli ports`.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tarsel::cli {

// What a word in some place may be.
struct CompletionValues {
    enum class Kind { None, Words, Files, Ports };
    Kind kind = Kind::None;
    std::vector<std::string> words; // Kind::Words
};

struct CompletionOption {
    std::vector<std::string> names; // "-p", "--port"
    std::string help;               // its first sentence
    bool takesValue = false;
    CompletionValues values;
};

struct CompletionCommand {
    std::string path;                                              // "", "settings", "settings put"
    std::vector<std::pair<std::string, std::string>> subcommands; // name and help
    std::vector<CompletionOption> options;  // its own and those it takes from the commands above it
    std::vector<CompletionValues> positionals;
    bool lastRepeats = false;               // the last positional takes any number of words
};

// Every command of the parser, the program itself first (path "").
std::vector<CompletionCommand> CompletionTree();

// The completion script for "bash", "zsh" or "fish"; empty for another shell.
std::string CompletionScript(const std::string& shell);

} // namespace tarsel::cli

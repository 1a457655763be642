#include "cli/completion.h"

#include "cli/arguments.h"
#include "link/models.h"
#include "pictures/slots.h"
#include "settings/tables.h"
#include "transfer/catalogue.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <functional>
#include <regex>

namespace tarsel::cli {

namespace {

using Values = CompletionValues;

// The first sentence of a help text, on one line and short enough for a menu.
std::string shortHelp(std::string text)
{
    text = text.substr(0, text.find('\n'));
    for (const char* end : {". ", "; ", " ("})
        text = text.substr(0, text.find(end));
    while (!text.empty() && (text.back() == ':' || text.back() == '.' || text.back() == ' '))
        text.pop_back();
    constexpr std::size_t kMax = 60;
    if (text.size() > kMax) {
        text.resize(text.rfind(' ', kMax));
        text += "...";
    }
    return text;
}

Values words(std::vector<std::string> list) { return {Values::Kind::Words, std::move(list)}; }

// The values the program's own validators accept, named by the validator's description
// (as --help shows it): a member list "{a,b}", a range "INT in [1 - 10]", or one of the
// tables the arguments are looked up in.
Values validatorValues(const std::string& description)
{
    if (description.size() >= 2 && description.front() == '{' && description.back() == '}') {
        std::vector<std::string> list;
        std::string item;
        for (char c : description.substr(1, description.size() - 2)) {
            if (c == ',') {
                list.push_back(item);
                item.clear();
            } else {
                item += c;
            }
        }
        list.push_back(item);
        return words(list);
    }
    static const std::regex range(R"(.*\[(-?\d+) - (-?\d+)\])");
    std::smatch m;
    if (std::regex_match(description, m, range)) {
        const int low = std::stoi(m[1]), high = std::stoi(m[2]);
        std::vector<std::string> list;
        for (int v = low; v <= high && high - low <= 100; ++v)
            list.push_back(std::to_string(v));
        return words(list);
    }
    std::vector<std::string> list;
    if (description == "FONT" || description == "ITEM") {
        for (int pos = 1; pos <= kCatalogueSize; ++pos)
            if (description == "ITEM" || (pos >= kFirstFontPos && pos <= kLastFontPos) || pos == kBig52GbkPos)
                list.emplace_back(DownloadItemAt(pos).Name);
    } else if (description == "SLOT") {
        for (int slot = kFirstSlot; slot <= kLastSlot; ++slot)
            list.push_back(std::to_string(slot));
        for (int pos = kFirstPicturePos; pos <= kLastPicturePos; ++pos)
            list.emplace_back(DownloadItemAt(pos).Name);
    } else if (description == "CODEPAGE") {
        for (const auto& page : CodePageTable)
            list.emplace_back(page.DisplayName);
    } else if (description == "MODEL") {
        list.assign(ModelList.begin(), ModelList.end());
    } else {
        return {};
    }
    return words(list);
}

// What an option's or positional's value may be: the validators' values first, else
// by what the value is called (PORT, FILE, PROFILE).
Values valuesOf(CLI::Option* option, const std::string& name)
{
    for (int i = 0;; ++i) {
        CLI::Validator* validator = nullptr;
        try {
            validator = option->get_validator(i);
        } catch (const CLI::OptionNotFound&) {
            break;
        }
        Values v = validatorValues(validator->get_description());
        if (v.kind != Values::Kind::None)
            return v;
    }
    if (name == "PORT")
        return {Values::Kind::Ports, {}};
    if (name.find("FILE") != std::string::npos || name == "PROFILE")
        return {Values::Kind::Files, {}};
    return {};
}

void walk(CLI::App& app, const std::string& path, const std::vector<CompletionOption>& above,
          std::vector<CompletionCommand>& tree)
{
    CompletionCommand command;
    command.path = path;
    std::vector<CompletionOption> own;
    for (CLI::Option* option : app.get_options()) {
        if (!option->nonpositional()) {
            command.positionals.push_back(valuesOf(option, option->get_name()));
            command.lastRepeats = option->get_items_expected_max() > 1;
            continue;
        }
        CompletionOption o;
        for (const std::string& s : option->get_snames())
            o.names.push_back("-" + s);
        for (const std::string& l : option->get_lnames())
            o.names.push_back("--" + l);
        o.help = shortHelp(option->get_description());
        o.takesValue = option->get_items_expected_max() > 0;
        if (o.takesValue) {
            const std::string type = option->get_type_name();
            o.values = valuesOf(option, type.substr(0, type.find(':')));
        }
        own.push_back(std::move(o));
    }
    // The common options may follow any command; a command's own (its --help) wins.
    if (app.get_fallthrough()) {
        for (const CompletionOption& o : above) {
            const bool shadowed = std::any_of(own.begin(), own.end(), [&](const CompletionOption& mine) {
                return std::find_first_of(mine.names.begin(), mine.names.end(), o.names.begin(), o.names.end()) !=
                       mine.names.end();
            });
            if (!shadowed)
                command.options.push_back(o);
        }
    }
    command.options.insert(command.options.end(), own.begin(), own.end());
    // Option groups are subcommands without a name: not words of the command line.
    const std::vector<CLI::App*> subs = app.get_subcommands([](CLI::App* sub) { return !sub->get_name().empty(); });
    for (CLI::App* sub : subs)
        command.subcommands.emplace_back(sub->get_name(), shortHelp(sub->get_description()));
    const std::vector<CompletionOption> options = command.options;
    tree.push_back(std::move(command));
    for (CLI::App* sub : subs)
        walk(*sub, path.empty() ? sub->get_name() : path + " " + sub->get_name(), options, tree);
}

// --- the scripts ----------------------------------------------------------------
// Each script walks the words before the cursor as the parser would (options that
// take a value skip it, a command's subcommand moves into it, other words are its
// positionals) and offers what may come next. The tables come from the tree.

// 'text' for bash and zsh.
std::string quoted(const std::string& text)
{
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// 'text' for fish, where a backslash escapes inside single quotes too.
std::string fishQuoted(const std::string& text)
{
    std::string q = "'";
    for (char c : text) {
        if (c == '\'' || c == '\\')
            q += '\\';
        q += c;
    }
    return q + "'";
}

std::string key(const std::string& path, const std::string& token) { return path + "|" + token; }

// One entry of a lookup table: the case labels (several keys, possibly a key ending in
// a pattern), and the value for them.
struct Entry {
    std::vector<std::string> keys;
    bool wildcard = false; // the (single) key is followed by "*"
    Values values;
};

// The value entries: "path|option" for each option that takes a value, "path|#N" for
// positional N, "path|#"* for a repeating last positional.
std::vector<Entry> valueEntries(const std::vector<CompletionCommand>& tree)
{
    std::vector<Entry> entries;
    for (const CompletionCommand& c : tree) {
        for (const CompletionOption& o : c.options) {
            if (!o.takesValue)
                continue;
            Entry e;
            for (const std::string& n : o.names)
                e.keys.push_back(key(c.path, n));
            e.values = o.values;
            entries.push_back(std::move(e));
        }
        for (std::size_t i = 0; i < c.positionals.size(); ++i) {
            const bool repeats = c.lastRepeats && i + 1 == c.positionals.size();
            if (repeats)
                entries.push_back({{key(c.path, "#")}, true, c.positionals[i]});
            else
                entries.push_back({{key(c.path, "#" + std::to_string(i))}, false, c.positionals[i]});
        }
    }
    // A repeating positional's pattern would also match the positionals before it.
    std::stable_partition(entries.begin(), entries.end(), [](const Entry& e) { return !e.wildcard; });
    return entries;
}

std::vector<std::string> optionWords(const CompletionCommand& c)
{
    std::vector<std::string> list;
    for (const CompletionOption& o : c.options)
        list.insert(list.end(), o.names.begin(), o.names.end());
    return list;
}

std::string joined(const std::vector<std::string>& list, const std::string& separator = " ")
{
    std::string text;
    for (const std::string& s : list)
        text += (text.empty() ? "" : separator) + s;
    return text;
}

// bash and zsh case labels: 'a'|'b' or 'a'*.
std::string caseLabel(const Entry& e)
{
    std::vector<std::string> labels;
    for (const std::string& k : e.keys)
        labels.push_back(quoted(k) + (e.wildcard ? "*" : ""));
    return joined(labels, "|");
}

std::string valueWord(const Values& v)
{
    switch (v.kind) {
    case Values::Kind::Files: return "@files";
    case Values::Kind::Ports: return "@ports";
    case Values::Kind::Words: return joined(v.words);
    case Values::Kind::None: break;
    }
    return {};
}

const char* const kHeader = "# Completion of tarsel-cli's commands, options and their values; made by\n"
                            "# `tarsel-cli completion %s` from the program's own command definitions.\n";

std::string header(const std::string& shell)
{
    std::string text = kHeader;
    text.replace(text.find("%s"), 2, shell);
    return text;
}

std::string bashScript(const std::vector<CompletionCommand>& tree)
{
    std::string s = header("bash");
    s += "\n_tarsel_cli_commands() {\n    case $1 in\n";
    for (const CompletionCommand& c : tree) {
        std::vector<std::string> names;
        for (const auto& [name, help] : c.subcommands)
            names.push_back(name);
        if (!names.empty())
            s += "    " + quoted(c.path) + ") REPLY=" + quoted(joined(names)) + " ;;\n";
    }
    s += "    *) REPLY='' ;;\n    esac\n}\n\n_tarsel_cli_options() {\n    case $1 in\n";
    for (const CompletionCommand& c : tree)
        s += "    " + quoted(c.path) + ") REPLY=" + quoted(joined(optionWords(c))) + " ;;\n";
    s += "    *) REPLY='' ;;\n    esac\n}\n\n_tarsel_cli_values() {\n    case $1 in\n";
    for (const Entry& e : valueEntries(tree))
        s += "    " + caseLabel(e) + ") REPLY=" + quoted(valueWord(e.values)) + " ;;\n";
    s += "    *) return 1 ;;\n    esac\n}\n";
    s += R"SCRIPT(
_tarsel_cli_ports() {
    "${COMP_WORDS[0]}" ports 2>/dev/null | while read -r port _; do
        [[ $port == /* ]] && printf '%s\n' "$port"
    done
}

_tarsel_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} cmdpath='' npos=0 value_of='' word i REPLY
    [[ $cur == = ]] && cur=''
    for (( i = 1; i < COMP_CWORD; i++ )); do
        word=${COMP_WORDS[i]}
        if [[ -n $value_of ]]; then
            # "--port=VALUE" comes as three words.
            [[ $word == = ]] || value_of=''
            continue
        fi
        case $word in
        --*=*) continue ;;
        -*) _tarsel_cli_values "$cmdpath|$word" && value_of=$word; continue ;;
        esac
        _tarsel_cli_commands "$cmdpath"
        if [[ " $REPLY " == *" $word "* ]]; then
            cmdpath=${cmdpath:+$cmdpath }$word
            npos=0
        else
            npos=$((npos + 1))
        fi
    done

    COMPREPLY=()
    if [[ -n $value_of ]]; then
        _tarsel_cli_values "$cmdpath|$value_of"
    elif [[ $cur == -* ]]; then
        _tarsel_cli_options "$cmdpath"
    else
        _tarsel_cli_commands "$cmdpath"
        [[ -n $REPLY ]] || _tarsel_cli_values "$cmdpath|#$npos" || REPLY=''
    fi
    case $REPLY in
    @files)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
    @ports) mapfile -t COMPREPLY < <(compgen -W "$(_tarsel_cli_ports)" -- "$cur") ;;
    *)
        # The program takes names in any case (cp437 for CP437).
        local value
        for value in $REPLY; do
            [[ ${value,,} == "${cur,,}"* ]] && COMPREPLY+=("$value")
        done ;;
    esac
}

complete -F _tarsel_cli tarsel-cli
)SCRIPT";
    return s;
}

// name:help for zsh's _describe, with the name's colons escaped.
std::string described(const std::string& name, const std::string& help)
{
    std::string n;
    for (char c : name)
        n += c == ':' ? std::string("\\:") : std::string(1, c);
    return quoted(n + ":" + help);
}

std::string zshScript(const std::vector<CompletionCommand>& tree)
{
    std::string s = "#compdef tarsel-cli\n" + header("zsh");
    s += "\n_tarsel_cli_commands() {\n    case $1 in\n";
    for (const CompletionCommand& c : tree) {
        if (c.subcommands.empty())
            continue;
        s += "    (" + quoted(c.path) + ") reply=(";
        for (const auto& [name, help] : c.subcommands)
            s += "\n        " + described(name, help);
        s += "\n    ) ;;\n";
    }
    s += "    (*) reply=() ;;\n    esac\n}\n\n_tarsel_cli_options() {\n    case $1 in\n";
    for (const CompletionCommand& c : tree) {
        s += "    (" + quoted(c.path) + ") reply=(";
        for (const CompletionOption& o : c.options)
            for (const std::string& n : o.names)
                s += "\n        " + described(n, o.help);
        s += "\n    ) ;;\n";
    }
    s += "    (*) reply=() ;;\n    esac\n}\n\n_tarsel_cli_values() {\n    case $1 in\n";
    for (const Entry& e : valueEntries(tree)) {
        s += "    (" + caseLabel(e) + ") reply=(";
        if (e.values.kind == Values::Kind::Words) {
            for (const std::string& w : e.values.words)
                s += " " + quoted(w);
        } else if (e.values.kind != Values::Kind::None) {
            s += valueWord(e.values);
        }
        s += ") ;;\n";
    }
    s += "    (*) return 1 ;;\n    esac\n}\n";
    s += R"SCRIPT(
_tarsel-cli() {
    local cur=${words[CURRENT]} cmdpath='' value_of='' word
    local -a reply ports
    integer npos=0 i
    for (( i = 2; i < CURRENT; i++ )); do
        word=${words[i]}
        if [[ -n $value_of ]]; then
            value_of=''
            continue
        fi
        case $word in
        (--*=*) continue ;;
        (-*) _tarsel_cli_values "$cmdpath|$word" && value_of=$word; continue ;;
        esac
        _tarsel_cli_commands "$cmdpath"
        if (( ${reply[(I)$word:*]} )); then
            cmdpath=${cmdpath:+$cmdpath }$word
            npos=0
        else
            (( npos++ ))
        fi
    done

    if [[ -z $value_of && $cur == --*=* ]]; then
        value_of=${cur%%=*}
        compset -P '*='
        _tarsel_cli_values "$cmdpath|$value_of" || return 1
    elif [[ -n $value_of ]]; then
        _tarsel_cli_values "$cmdpath|$value_of" || return 1
    elif [[ $cur == -* ]]; then
        _tarsel_cli_options "$cmdpath"
        _describe -t options 'option' reply
        return
    else
        _tarsel_cli_commands "$cmdpath"
        if (( $#reply )); then
            _describe -t commands 'tarsel-cli command' reply
            return
        fi
        _tarsel_cli_values "$cmdpath|#$npos" || return 1
    fi
    case ${reply[1]} in
    (@files) _files ;;
    (@ports)
        ports=(${${(f)"$(${words[1]} ports 2>/dev/null)"}%% *})
        compadd -- ${(M)ports:#/*} ;;
    (*) compadd -- $reply ;;
    esac
}

if [[ ${zsh_eval_context[-1]} == loadautofunc ]]; then
    _tarsel-cli "$@"
else
    compdef _tarsel-cli tarsel-cli
fi
)SCRIPT";
    return s;
}

std::string fishScript(const std::vector<CompletionCommand>& tree)
{
    std::string s = header("fish");
    s += "\nfunction __tarsel_cli_commands\n    switch $argv[1]\n";
    for (const CompletionCommand& c : tree) {
        if (c.subcommands.empty())
            continue;
        s += "        case " + fishQuoted(c.path) + "\n            printf '%s\\t%s\\n'";
        for (const auto& [name, help] : c.subcommands)
            s += " \\\n                " + fishQuoted(name) + " " + fishQuoted(help);
        s += "\n";
    }
    s += "    end\nend\n\nfunction __tarsel_cli_options\n    switch $argv[1]\n";
    for (const CompletionCommand& c : tree) {
        s += "        case " + fishQuoted(c.path) + "\n            printf '%s\\t%s\\n'";
        for (const CompletionOption& o : c.options)
            for (const std::string& n : o.names)
                s += " \\\n                " + fishQuoted(n) + " " + fishQuoted(o.help);
        s += "\n";
    }
    s += "    end\nend\n\nfunction __tarsel_cli_values\n    switch $argv[1]\n";
    for (const Entry& e : valueEntries(tree)) {
        s += "        case";
        for (const std::string& k : e.keys)
            s += " " + fishQuoted(k + (e.wildcard ? "*" : ""));
        std::string print = "printf '%s\\n'";
        if (e.values.kind == Values::Kind::Words) {
            for (const std::string& w : e.values.words)
                print += " " + fishQuoted(w);
        } else if (e.values.kind != Values::Kind::None) {
            print += " " + fishQuoted(valueWord(e.values));
        } else {
            print = "true"; // a value of its own (a text, a number): nothing to offer
        }
        s += "\n            " + print + "\n";
    }
    s += "        case '*'\n            return 1\n    end\nend\n";
    s += R"SCRIPT(
function __tarsel_cli_complete
    set -l words (commandline -opc)
    set -l cur (commandline -ct)
    set -l program $words[1]
    set -e words[1]
    set -l cmdpath ''
    set -l npos 0
    set -l value_of ''
    set -l prefix ''
    for word in $words
        if test -n "$value_of"
            set value_of ''
            continue
        end
        switch $word
            case '--*=*'
                continue
            case '-*'
                if __tarsel_cli_values "$cmdpath|$word" >/dev/null
                    set value_of $word
                end
                continue
        end
        if contains -- $word (__tarsel_cli_commands $cmdpath | string replace -r '\t.*' '')
            set cmdpath (string trim -- "$cmdpath $word")
            set npos 0
        else
            set npos (math $npos + 1)
        end
    end

    set -l values
    if test -z "$value_of"; and string match -q -- '--*=*' $cur
        set value_of (string replace -r '=.*' '' -- $cur)
        set prefix $value_of=
        set cur (string replace -r '^[^=]*=' '' -- $cur)
    end
    if test -n "$value_of"
        set values (__tarsel_cli_values "$cmdpath|$value_of")
    else if string match -q -- '-*' $cur
        __tarsel_cli_options $cmdpath
        return
    else
        set -l commands (__tarsel_cli_commands $cmdpath)
        if test (count $commands) -gt 0
            printf '%s\n' $commands
            return
        end
        set values (__tarsel_cli_values "$cmdpath|#$npos")
    end
    switch "$values[1]"
        case '@files'
            set values (__fish_complete_path $cur)
        case '@ports'
            set values ($program ports 2>/dev/null | string match -r '^/\S+')
    end
    for value in $values
        printf '%s%s\n' $prefix $value
    end
end

complete -c tarsel-cli -f -a '(__tarsel_cli_complete)'
)SCRIPT";
    return s;
}

} // namespace

std::vector<CompletionCommand> CompletionTree()
{
    std::vector<CompletionCommand> tree;
    VisitCommandDefinitions([&tree](CLI::App& app) { walk(app, "", {}, tree); });
    return tree;
}

std::string CompletionScript(const std::string& shell)
{
    const std::vector<CompletionCommand> tree = CompletionTree();
    if (shell == "bash")
        return bashScript(tree);
    if (shell == "zsh")
        return zshScript(tree);
    if (shell == "fish")
        return fishScript(tree);
    return {};
}

} // namespace tarsel::cli

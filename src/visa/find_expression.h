// A compiled viFindRsrc search expression: '?', '\', '[list]', '[^list]' with ranges, '*' and '+'
// on the preceding character or group, '(exp)' and '|' (lowest precedence). Matches whole names,
// case-insensitively, in time linear in the name (no backtracking).
#pragma once

#include <bitset>
#include <string>
#include <vector>

namespace visa {

class FindExpression
{
public:
    // False for an invalid expression; a trailing '{attribute expression}' is refused as well.
    bool compile(const std::string &expression);
    bool matches(const std::string &name) const;

private:
    struct State
    {
        enum class Kind
        {
            Char,
            Split,
            Match
        };
        Kind kind = Kind::Char;
        std::bitset<256> chars;
        int out = -1;
        int out1 = -1;
    };
    struct Fragment
    {
        int start = -1;
        std::vector<std::pair<int, int>> openEnds; // (state, 0 = out / 1 = out1)
    };
    class Parser;

    void addState(std::vector<int> &list, std::vector<unsigned> &marks, unsigned mark,
                  int state) const;

    std::vector<State> states_;
    int start_ = -1;
};

} // namespace visa

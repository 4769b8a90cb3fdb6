#include "find_expression.h"

#include <cctype>

namespace visa {

// Recursive descent over the expression, building a Thompson automaton fragment per construct.
class FindExpression::Parser
{
public:
    Parser(const std::string &text, std::vector<State> &states)
        : text_(text)
        , states_(states)
    {
    }

    bool parse(Fragment *result)
    {
        if (!parseAlternation(result))
            return false;
        return pos_ == text_.size();
    }

private:
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }

    int newState(State::Kind kind)
    {
        State state;
        state.kind = kind;
        states_.push_back(state);
        return static_cast<int>(states_.size() - 1);
    }

    void patch(const std::vector<std::pair<int, int>> &ends, int target)
    {
        for (const auto &end : ends) {
            if (end.second == 0)
                states_[end.first].out = target;
            else
                states_[end.first].out1 = target;
        }
    }

    static void addFolded(std::bitset<256> &chars, unsigned char c)
    {
        chars.set(c);
        chars.set(static_cast<unsigned char>(std::tolower(c)));
        chars.set(static_cast<unsigned char>(std::toupper(c)));
    }

    Fragment charFragment(const std::bitset<256> &chars)
    {
        const int state = newState(State::Kind::Char);
        states_[state].chars = chars;
        return Fragment{state, {{state, 0}}};
    }

    bool parseAlternation(Fragment *result)
    {
        Fragment left;
        if (!parseSequence(&left))
            return false;
        while (!atEnd() && peek() == '|') {
            ++pos_;
            Fragment right;
            if (!parseSequence(&right))
                return false;
            const int split = newState(State::Kind::Split);
            states_[split].out = left.start;
            states_[split].out1 = right.start;
            left.start = split;
            left.openEnds.insert(left.openEnds.end(), right.openEnds.begin(), right.openEnds.end());
        }
        *result = left;
        return true;
    }

    // One or more pieces; an empty alternative or group is an error.
    bool parseSequence(Fragment *result)
    {
        Fragment sequence;
        while (!atEnd() && peek() != '|' && peek() != ')') {
            Fragment piece;
            if (!parsePiece(&piece))
                return false;
            if (sequence.start < 0) {
                sequence = piece;
            } else {
                patch(sequence.openEnds, piece.start);
                sequence.openEnds = piece.openEnds;
            }
        }
        if (sequence.start < 0)
            return false;
        *result = sequence;
        return true;
    }

    bool parsePiece(Fragment *result)
    {
        Fragment atom;
        if (!parseAtom(&atom))
            return false;
        if (!atEnd() && (peek() == '*' || peek() == '+')) {
            const bool star = peek() == '*';
            ++pos_;
            if (!atEnd() && (peek() == '*' || peek() == '+'))
                return false;
            const int split = newState(State::Kind::Split);
            states_[split].out = atom.start;
            patch(atom.openEnds, split);
            atom.start = star ? split : atom.start;
            atom.openEnds = {{split, 1}};
        }
        *result = atom;
        return true;
    }

    bool parseAtom(Fragment *result)
    {
        const char c = peek();
        switch (c) {
        case '*':
        case '+':
        case '{': // attribute expressions are not supported
        case '}':
            return false;
        case '?': {
            ++pos_;
            std::bitset<256> any;
            any.set();
            *result = charFragment(any);
            return true;
        }
        case '\\': {
            if (pos_ + 1 >= text_.size())
                return false;
            std::bitset<256> chars;
            addFolded(chars, static_cast<unsigned char>(text_[pos_ + 1]));
            pos_ += 2;
            *result = charFragment(chars);
            return true;
        }
        case '[':
            return parseList(result);
        case '(': {
            ++pos_;
            Fragment inner;
            if (!parseAlternation(&inner) || atEnd() || peek() != ')')
                return false;
            ++pos_;
            *result = inner;
            return true;
        }
        default: {
            ++pos_;
            std::bitset<256> chars;
            addFolded(chars, static_cast<unsigned char>(c));
            *result = charFragment(chars);
            return true;
        }
        }
    }

    bool listChar(unsigned char *c)
    {
        if (atEnd())
            return false;
        if (peek() == '\\') {
            if (pos_ + 1 >= text_.size())
                return false;
            *c = static_cast<unsigned char>(text_[pos_ + 1]);
            pos_ += 2;
            return true;
        }
        *c = static_cast<unsigned char>(peek());
        ++pos_;
        return true;
    }

    bool parseList(Fragment *result)
    {
        ++pos_; // '['
        bool negate = false;
        if (!atEnd() && peek() == '^') {
            negate = true;
            ++pos_;
        }
        std::bitset<256> chars;
        bool empty = true;
        while (!atEnd() && peek() != ']') {
            unsigned char low = 0;
            if (!listChar(&low))
                return false;
            unsigned char high = low;
            // A '-' between two characters is a range; first or last it is literal.
            if (!atEnd() && peek() == '-' && pos_ + 1 < text_.size() && text_[pos_ + 1] != ']') {
                ++pos_;
                if (!listChar(&high) || high < low)
                    return false;
            }
            for (unsigned value = low; value <= high; ++value)
                addFolded(chars, static_cast<unsigned char>(value));
            empty = false;
        }
        if (atEnd() || empty)
            return false;
        ++pos_; // ']'
        if (negate)
            chars.flip();
        *result = charFragment(chars);
        return true;
    }

    const std::string &text_;
    std::vector<State> &states_;
    size_t pos_ = 0;
};

bool FindExpression::compile(const std::string &expression)
{
    states_.clear();
    start_ = -1;
    std::vector<State> states;
    Parser parser(expression, states);
    Fragment whole;
    if (expression.empty() || !parser.parse(&whole))
        return false;
    State match;
    match.kind = State::Kind::Match;
    states.push_back(match);
    const int matchState = static_cast<int>(states.size() - 1);
    for (const auto &end : whole.openEnds) {
        if (end.second == 0)
            states[end.first].out = matchState;
        else
            states[end.first].out1 = matchState;
    }
    states_ = std::move(states);
    start_ = whole.start;
    return true;
}

void FindExpression::addState(std::vector<int> &list, std::vector<unsigned> &marks, unsigned mark,
                              int state) const
{
    std::vector<int> pending{state};
    while (!pending.empty()) {
        const int current = pending.back();
        pending.pop_back();
        if (current < 0 || marks[current] == mark)
            continue;
        marks[current] = mark;
        const State &s = states_[current];
        if (s.kind == State::Kind::Split) {
            pending.push_back(s.out1);
            pending.push_back(s.out);
        } else {
            list.push_back(current);
        }
    }
}

bool FindExpression::matches(const std::string &name) const
{
    if (start_ < 0)
        return false;
    std::vector<unsigned> marks(states_.size(), 0);
    unsigned mark = 1;
    std::vector<int> current;
    std::vector<int> next;
    addState(current, marks, mark, start_);
    for (char ch : name) {
        const unsigned char c = static_cast<unsigned char>(ch);
        ++mark;
        next.clear();
        for (int state : current) {
            const State &s = states_[state];
            if (s.kind == State::Kind::Char && s.chars.test(c))
                addState(next, marks, mark, s.out);
        }
        current.swap(next);
        if (current.empty())
            return false;
    }
    for (int state : current) {
        if (states_[state].kind == State::Kind::Match)
            return true;
    }
    return false;
}

} // namespace visa

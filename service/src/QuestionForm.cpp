#include "QuestionForm.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "QuestionText.h"

namespace kelvora {

namespace {

// Longest first, so that 单项选择题 is taken whole rather than as 选择题.
constexpr std::u32string_view TypeWords[] = {
    U"不定项选择题", U"单项选择题", U"多项选择题", U"案例分析题", U"材料分析题", U"名词解释", U"阅读理解",
    U"完形填空",     U"单选题",     U"多选题",     U"判断题",     U"填空题",     U"简答题",   U"问答题",
    U"选择题",       U"计算题",     U"论述题",     U"辨析题",     U"分析题",     U"综合题",   U"是非题",
    U"不定项",       U"单选",       U"多选",       U"判断",       U"填空",       U"简答"};
// Words that may stand beside a type word or score inside a marker.
constexpr std::u32string_view MarkerFillers[] = {U"题型", U"本题", U"分值", U"满分", U"共", U"题"};
// Labels of the question itself at its start (题目：...).
constexpr std::u32string_view QuestionLabels[] = {U"题目", U"题干", U"问题"};

constexpr size_t LongestMarker = 24;
constexpr size_t ShortestStem = 4;

bool IsSpace(char32_t c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0x3000 || c == 0xA0;
}

bool IsAsciiLetterOrDigit(char32_t c)
{
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsChineseNumeral(char32_t c)
{
    return std::u32string_view(U"一二三四五六七八九十百零〇两").find(c) != std::u32string_view::npos;
}

// The brackets told apart in a question: each opening one with its closing one.
constexpr std::pair<char32_t, char32_t> Brackets[] = {{'(', ')'},     {'[', ']'},     {U'【', U'】'},
                                                      {U'〔', U'〕'}, {U'〖', U'〗'}, {U'「', U'」'}};

char32_t ClosingBracket(char32_t open)
{
    auto pair = std::find_if(std::begin(Brackets), std::end(Brackets), [&](auto& b) { return b.first == open; });
    return pair == std::end(Brackets) ? 0 : pair->second;
}

char32_t OpeningBracket(char32_t close)
{
    auto pair = std::find_if(std::begin(Brackets), std::end(Brackets), [&](auto& b) { return b.second == close; });
    return pair == std::end(Brackets) ? 0 : pair->first;
}

// What may follow a type word or a number that labels a question.
bool IsLabelSeparator(char32_t c)
{
    return c == ':' || c == '.' || c == U'、' || c == ')' || c == ']' || c == U'】' || c == '-' || c == ',' ||
           c == U'，' || IsSpace(c);
}

void Trim(std::u32string_view& text)
{
    while (!text.empty() && IsSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back()))
        text.remove_suffix(1);
}

bool StartsWith(std::u32string_view text, std::u32string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

size_t TypeWordAt(std::u32string_view text)
{
    for (std::u32string_view word : TypeWords) {
        if (StartsWith(text, word))
            return word.size();
    }
    return 0;
}

// A score: 2分, 2.5 分, 10分.
size_t ScoreAt(std::u32string_view text)
{
    size_t i = 0;
    while (i < text.size() && IsDigit(text[i]))
        ++i;
    if (i == 0)
        return 0;
    if (i + 1 < text.size() && text[i] == '.' && IsDigit(text[i + 1])) {
        ++i;
        while (i < text.size() && IsDigit(text[i]))
            ++i;
    }
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    return i < text.size() && text[i] == U'分' ? i + 1 : 0;
}

// The inside of a bracketed marker: type words, scores, a few filler words
// and separators, and at least one type word or score.
bool IsMarkerContent(std::u32string_view inside)
{
    bool marker = false;
    while (!inside.empty()) {
        char32_t c = inside.front();
        if (IsSpace(c) || c == ',' || c == U'，' || c == ';' || c == U'；' || c == '/' || c == U'、' || c == ':' ||
            c == '-' || c == '|') {
            inside.remove_prefix(1);
            continue;
        }
        if (size_t n = TypeWordAt(inside)) {
            inside.remove_prefix(n);
            marker = true;
            continue;
        }
        if (size_t n = ScoreAt(inside)) {
            inside.remove_prefix(n);
            marker = true;
            continue;
        }
        bool filler = false;
        for (std::u32string_view word : MarkerFillers) {
            if (StartsWith(inside, word)) {
                inside.remove_prefix(word.size());
                filler = true;
                break;
            }
        }
        if (!filler)
            return false;
    }
    return marker;
}

bool IsNumberContent(std::u32string_view inside)
{
    Trim(inside);
    return !inside.empty() && inside.size() <= 3 &&
           std::all_of(inside.begin(), inside.end(), [](char32_t c) { return IsDigit(c) || IsChineseNumeral(c); });
}

// Removes one leading marker or number; false when there is none.
bool DropLeadingLabel(std::u32string_view& text)
{
    if (text.empty())
        return false;
    // (单选题), 【多选题】, [2分], (1)
    if (char32_t close = ClosingBracket(text.front())) {
        size_t end = text.find(close, 1);
        if (end != std::u32string_view::npos && end <= LongestMarker) {
            std::u32string_view inside = text.substr(1, end - 1);
            if (IsMarkerContent(inside) || IsNumberContent(inside)) {
                text.remove_prefix(end + 1);
                return true;
            }
        }
    }
    // 单选题：, 判断题 ..., 单选题下列... (a type word ending in 题 needs no separator)
    if (size_t n = TypeWordAt(text)) {
        if (n < text.size() && IsLabelSeparator(text[n])) {
            text.remove_prefix(n + 1);
            return true;
        }
        if (text[n - 1] == U'题' && text.size() - n > ShortestStem) {
            text.remove_prefix(n);
            return true;
        }
    }
    for (std::u32string_view label : QuestionLabels) {
        if (StartsWith(text, label) && label.size() < text.size() && text[label.size()] == ':') {
            text.remove_prefix(label.size() + 1);
            return true;
        }
    }
    // 第3题, 第十二题
    if (text.front() == U'第') {
        size_t i = 1;
        while (i < text.size() && i <= 4 && (IsDigit(text[i]) || IsChineseNumeral(text[i])))
            ++i;
        if (i > 1 && i < text.size() && text[i] == U'题') {
            text.remove_prefix(i + 1);
            return true;
        }
    }
    // 1. / 3、 / 12) / 2: but not 1.5 or 3.14
    size_t digits = 0;
    while (digits < text.size() && IsDigit(text[digits]))
        ++digits;
    if (digits >= 1 && digits <= 3 && digits + 1 < text.size()) {
        char32_t separator = text[digits];
        bool numbering = separator == U'、' || separator == ')' || separator == ':' ||
                         (separator == '.' && !IsDigit(text[digits + 1]));
        if (numbering) {
            text.remove_prefix(digits + 1);
            return true;
        }
    }
    return false;
}

// Removes one trailing bracketed marker: （单选题）, (2分), 【多选题】.
bool DropTrailingLabel(std::u32string_view& text)
{
    if (text.empty())
        return false;
    char32_t open = OpeningBracket(text.back());
    if (!open)
        return false;
    size_t start = text.rfind(open, text.size() - 1);
    if (start == std::u32string_view::npos || text.size() - start > LongestMarker + 1)
        return false;
    if (!IsMarkerContent(text.substr(start + 1, text.size() - start - 2)))
        return false;
    text.remove_suffix(text.size() - start);
    return true;
}

void DropLabels(std::u32string_view& text, bool leading)
{
    std::u32string_view before = text;
    for (int round = 0; round < 8; ++round) {
        Trim(text);
        if (!(leading ? DropLeadingLabel(text) : DropTrailingLabel(text)))
            break;
    }
    Trim(text);
    // Never the whole text: a question that is nothing but a marker stays as it is.
    size_t letters =
        std::count_if(text.begin(), text.end(), [](char32_t c) { return c > 0x7F || IsAsciiLetterOrDigit(c); });
    if (letters < 2)
        text = before;
}

// Option label `letter` at i: the letter after a break (start, space, a
// non-letter) and before a separator. A label before a space must follow a
// space itself, so that "维生素A B." does not read as options.
bool IsOptionLabel(std::u32string_view text, size_t i, char32_t letter)
{
    if (i + 1 >= text.size() || text[i] != letter)
        return false;
    char32_t before = i > 0 ? text[i - 1] : ' ';
    if (IsAsciiLetterOrDigit(before) || before == '.')
        return false;
    char32_t after = text[i + 1];
    if (after == '.' || after == U'、' || after == ':' || after == ')' || after == U'．')
        return true;
    bool afterBreak = IsSpace(before) || before == '(' || before == ')' || before == '|' || i == 0;
    // "A 北京", and "A北京" after a space.
    return afterBreak && (IsSpace(after) || after >= 0x2E80);
}

size_t CountBlanks(std::u32string_view text)
{
    size_t blanks = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '_') {
            ++blanks;
            while (i + 1 < text.size() && text[i + 1] == '_')
                ++i;
        } else if (char32_t close = ClosingBracket(text[i])) {
            size_t j = i + 1;
            while (j < text.size() && (IsSpace(text[j]) || text[j] == '_'))
                ++j;
            if (j < text.size() && text[j] == close) {
                ++blanks;
                i = j;
            }
        }
    }
    return blanks;
}

QuestionParts& Finished(QuestionParts& parts, std::u32string_view whole, std::u32string_view stem)
{
    parts.stem = stem.empty() ? std::u32string(whole) : std::u32string(stem);
    parts.blanks = CountBlanks(parts.stem);
    return parts;
}

} // namespace

QuestionParts SplitQuestion(std::u32string_view text)
{
    QuestionParts parts;
    std::u32string_view whole = text;
    DropLabels(text, true);
    DropLabels(text, false);

    // A trailing options list: the last "A." that a "B." follows (the last
    // one before the last "B."), then C, D, ...
    size_t labelA = std::u32string_view::npos;
    size_t labelB = text.size();
    while (labelB-- > 0 && !IsOptionLabel(text, labelB, 'B')) {
    }
    for (size_t i = labelB < text.size() ? labelB : 0; i-- > 0;) {
        if (IsOptionLabel(text, i, 'A') && i + 2 <= labelB) {
            labelA = i;
            break;
        }
    }
    if (labelA != std::u32string_view::npos) {
        std::u32string_view stem = text.substr(0, labelA);
        DropLabels(stem, false);
        size_t stemLetters =
            std::count_if(stem.begin(), stem.end(), [](char32_t c) { return c > 0x7F || IsAsciiLetterOrDigit(c); });
        if (stemLetters >= ShortestStem) {
            std::vector<size_t> labels{labelA};
            char32_t next = 'B';
            for (size_t j = labelA + 2; j < text.size() && next <= 'H'; ++j) {
                if (IsOptionLabel(text, j, next)) {
                    labels.push_back(j);
                    ++next;
                }
            }
            // "A 点和 B 点之间" is not a list: a label without a mark after it
            // counts only in a list of three or more.
            char32_t mark = text[labelA + 1];
            bool marked = mark == '.' || mark == U'、' || mark == ':' || mark == ')' || mark == U'．';
            if (!marked && labels.size() < 3)
                return Finished(parts, whole, text);
            labels.push_back(text.size());
            for (size_t k = 0; k + 1 < labels.size(); ++k) {
                size_t from = labels[k] + (text[labels[k] + 1] < 0x2E80 ? 2 : 1); // "A鲸" has no mark
                size_t to = std::max(from, labels[k + 1]);
                std::u32string_view option = text.substr(std::min(from, text.size()), to - std::min(from, text.size()));
                Trim(option);
                parts.options.emplace_back(option);
            }
            text = stem;
        }
    }
    return Finished(parts, whole, text);
}

} // namespace kelvora

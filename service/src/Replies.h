#pragma once
// The bodies the desktop tool reads. The tool cuts the lookup key out of the
// page byte-wise, so everything up to and including "<body>" is ASCII; JSON is
// pure ASCII with \u escapes, which parses the same in any code page.
#include <string>
#include <string_view>

namespace kelvora {

// Answers that are service notices: each holds a word the tool rejects, so
// the tool shows the configured notice text instead.
inline constexpr std::string_view NoMatchAnswer = "查无此题";
inline constexpr std::string_view BadKeyAnswer = "秘钥无效或已过期，请重新查询";
inline constexpr std::string_view BadRequestAnswer = "查无此题：请求无效";
inline constexpr std::string_view UnavailableAnswer = "查无此题：题库暂时不可用";
inline constexpr std::string_view TooManyAnswer = "查无此题：查询过于频繁，请稍后再试";

inline constexpr std::string_view DefaultNotice = "Kelvora 答案服务";
inline constexpr std::string_view DefaultRejectNotice = "没有找到这道题的答案，请核对题目后重新查询。";

std::string LookupPageHtml(std::string_view key);

// The answer request template: "<public URL>/api/answer?q=题目&k=密钥".
std::string AnswerUrlTemplate(std::string_view publicUrl);

std::string ConfigJson(std::string_view notice, std::string_view answerUrlTemplate, std::string_view rejectNotice);

std::string AnswerJson(std::string_view answer, std::string_view title);

} // namespace kelvora

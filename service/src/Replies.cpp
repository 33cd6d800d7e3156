#include "Replies.h"

#include <nlohmann/json.hpp>

namespace kelvora {

namespace {

std::string AsciiJson(const nlohmann::json& value)
{
    // Invalid UTF-8 never reaches here; replacing it keeps the dump from throwing anyway.
    return value.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

} // namespace

std::string LookupPageHtml(std::string_view key)
{
    std::string page = "<html><head><meta charset=\"utf-8\"></head><body>";
    page.append(key);
    page.append("</body></html>");
    return page;
}

std::string AnswerUrlTemplate(std::string_view publicUrl)
{
    std::string url(publicUrl);
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    return url + "/api/answer?q=题目&k=密钥";
}

std::string ConfigJson(std::string_view notice, std::string_view answerUrlTemplate, std::string_view rejectNotice)
{
    nlohmann::json reply = nlohmann::json::object();
    reply["title"] = std::string(notice);
    reply["api"] = std::string(answerUrlTemplate);
    reply["log"] = std::string(rejectNotice);
    return AsciiJson(reply);
}

std::string AnswerJson(std::string_view answer, std::string_view title)
{
    nlohmann::json reply = nlohmann::json::object();
    reply["answer"] = std::string(answer);
    reply["title"] = std::string(title);
    return AsciiJson(reply);
}

} // namespace kelvora

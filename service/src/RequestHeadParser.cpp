#include "RequestHeadParser.h"

#include <boost/beast/core/string.hpp>
#include <boost/beast/http/error.hpp>

namespace kelvora {

namespace http = boost::beast::http;
using boost::beast::error_code;
using boost::beast::string_view;

RequestHeadParser::RequestHeadParser(size_t maxHeaderLine, size_t maxHeaderCount, size_t maxHeadBytes)
    : maxHeaderLine_(maxHeaderLine), maxHeaderCount_(maxHeaderCount)
{
    header_limit(static_cast<std::uint32_t>(maxHeadBytes));
    // No endpoint takes a body; the listener refuses one before reading it.
    body_limit(0);
    eager(false);
}

bool RequestHeadParser::AnnouncesBody() const
{
    if (transferCoding_ || chunked())
        return true;
    auto length = content_length();
    return length && *length > 0;
}

void RequestHeadParser::on_request_impl(http::verb method, string_view methodText, string_view target, int version,
                                        error_code&)
{
    gotRequestLine_ = true;
    method_ = method;
    methodText_.assign(methodText.data(), methodText.size());
    target_.assign(target.data(), target.size());
    version_ = version;
}

void RequestHeadParser::on_response_impl(int, string_view, int, error_code& ec)
{
    ec = http::error::bad_method;
}

void RequestHeadParser::on_field_impl(http::field name, string_view nameText, string_view value, error_code& ec)
{
    if (++fieldCount_ > maxHeaderCount_ || nameText.size() + 2 + value.size() > maxHeaderLine_) {
        fieldsOverLimit_ = true;
        ec = http::error::header_limit;
        return;
    }
    if (boost::beast::iequals(nameText, "X-Forwarded-For"))
        forwardedFor_.assign(value.data(), value.size());
    if (name == http::field::transfer_encoding)
        transferCoding_ = true;
}

size_t RequestHeadParser::on_body_impl(string_view, error_code& ec)
{
    ec = http::error::body_limit;
    return 0;
}

void RequestHeadParser::on_chunk_header_impl(std::uint64_t, string_view, error_code& ec)
{
    ec = http::error::body_limit;
}

size_t RequestHeadParser::on_chunk_body_impl(std::uint64_t, string_view, error_code& ec)
{
    ec = http::error::body_limit;
    return 0;
}

} // namespace kelvora

#pragma once
// Reads one request head with Beast's HTTP parser and keeps only what the
// service needs. Limits are enforced while the head is parsed: the number of
// header lines and the length of each. The parser stores no fields of its own,
// so a head costs no more memory than the bytes buffered for it.
#include <boost/beast/http/basic_parser.hpp>
#include <cstddef>
#include <string>

namespace kelvora {

class RequestHeadParser : public boost::beast::http::basic_parser<true> {
public:
    RequestHeadParser(size_t maxHeaderLine, size_t maxHeaderCount, size_t maxHeadBytes);

    bool GotRequestLine() const { return gotRequestLine_; }
    // Set when a header line or the count of them went over its limit.
    bool FieldsOverLimit() const { return fieldsOverLimit_; }
    size_t FieldCount() const { return fieldCount_; }
    boost::beast::http::verb Method() const { return method_; }
    const std::string& MethodText() const { return methodText_; }
    const std::string& Target() const { return target_; }
    int Version() const { return version_; }
    // The value of the last X-Forwarded-For line, empty without one.
    const std::string& ForwardedFor() const { return forwardedFor_; }
    // After the head: whether a body follows (a length above 0, or any transfer coding).
    bool AnnouncesBody() const;

private:
    void on_request_impl(boost::beast::http::verb method, boost::beast::string_view methodText,
                         boost::beast::string_view target, int version, boost::beast::error_code& ec) override;
    void on_response_impl(int, boost::beast::string_view, int, boost::beast::error_code& ec) override;
    void on_field_impl(boost::beast::http::field name, boost::beast::string_view nameText,
                       boost::beast::string_view value, boost::beast::error_code& ec) override;
    void on_header_impl(boost::beast::error_code&) override {}
    void on_body_init_impl(const boost::optional<std::uint64_t>&, boost::beast::error_code&) override {}
    size_t on_body_impl(boost::beast::string_view body, boost::beast::error_code& ec) override;
    void on_chunk_header_impl(std::uint64_t, boost::beast::string_view, boost::beast::error_code& ec) override;
    size_t on_chunk_body_impl(std::uint64_t, boost::beast::string_view body, boost::beast::error_code& ec) override;
    void on_finish_impl(boost::beast::error_code&) override {}

    size_t maxHeaderLine_;
    size_t maxHeaderCount_;
    size_t fieldCount_ = 0;
    bool gotRequestLine_ = false;
    bool fieldsOverLimit_ = false;
    bool transferCoding_ = false;
    boost::beast::http::verb method_ = boost::beast::http::verb::unknown;
    std::string methodText_;
    std::string target_;
    int version_ = 0;
    std::string forwardedFor_;
};

} // namespace kelvora

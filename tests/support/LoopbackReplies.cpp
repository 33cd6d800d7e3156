// Replies and request records of the loopback test server: everything that
// is plain data, apart from the sockets.
#include "tests/support/LoopbackServer.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string Trim(std::string_view text)
{
    size_t first = 0;
    while (first < text.size() && (text[first] == ' ' || text[first] == '\t'))
        ++first;
    size_t last = text.size();
    while (last > first && (text[last - 1] == ' ' || text[last - 1] == '\t'))
        --last;
    return std::string(text.substr(first, last - first));
}

const char* ReasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

bool HasHeaderNamed(const Reply& reply, std::string_view name)
{
    return std::any_of(reply.headers.begin(), reply.headers.end(),
                       [&](const auto& header) { return EqualsNoCase(header.first, name); });
}

Reply WithContentType(Reply reply, std::string contentType)
{
    if (!contentType.empty())
        reply.headers.emplace_back("Content-Type", std::move(contentType));
    return reply;
}

} // namespace

std::string RecordedRequest::Path() const
{
    return target.substr(0, target.find('?'));
}

std::string RecordedRequest::Query() const
{
    size_t mark = target.find('?');
    return mark == std::string::npos ? std::string() : target.substr(mark + 1);
}

std::string RecordedRequest::Header(std::string_view name) const
{
    for (const auto& [key, value] : headers) {
        if (EqualsNoCase(key, name))
            return value;
    }
    return {};
}

bool RecordedRequest::HasHeader(std::string_view name) const
{
    return HeaderCount(name) > 0;
}

size_t RecordedRequest::HeaderCount(std::string_view name) const
{
    return static_cast<size_t>(std::count_if(headers.begin(), headers.end(),
                                             [&](const auto& header) { return EqualsNoCase(header.first, name); }));
}

std::string FormatReplyHead(const Reply& reply, bool withLength, uint64_t length)
{
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " +
                       (reply.reason.empty() ? ReasonPhrase(reply.status) : reply.reason) + "\r\n";
    for (const auto& [name, value] : reply.headers)
        head += name + ": " + value + "\r\n";
    if (withLength && !HasHeaderNamed(reply, "Content-Length"))
        head += "Content-Length: " + std::to_string(length) + "\r\n";
    if (!HasHeaderNamed(reply, "Connection"))
        head += "Connection: close\r\n";
    return head + "\r\n";
}

RecordedRequest ParseRecordedRequest(std::string raw)
{
    RecordedRequest request;
    request.raw = std::move(raw);
    std::string_view bytes = request.raw;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x16 && bytes[1] == 0x03) {
        request.tlsHandshake = true;
        return request;
    }

    size_t headEnd = bytes.find("\r\n\r\n");
    std::string_view head = bytes.substr(0, headEnd);
    size_t lineEnd = head.find("\r\n");
    std::string_view requestLine = head.substr(0, lineEnd);
    size_t firstBlank = requestLine.find(' ');
    size_t lastBlank = requestLine.rfind(' ');
    if (firstBlank != std::string_view::npos) {
        request.method = requestLine.substr(0, firstBlank);
        if (lastBlank > firstBlank) {
            request.target = requestLine.substr(firstBlank + 1, lastBlank - firstBlank - 1);
            request.version = requestLine.substr(lastBlank + 1);
        } else {
            request.target = requestLine.substr(firstBlank + 1);
        }
    }

    while (lineEnd != std::string_view::npos) {
        size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        std::string_view line =
            head.substr(start, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - start);
        size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        request.headers.emplace_back(std::string(line.substr(0, colon)), Trim(line.substr(colon + 1)));
    }

    if (headEnd != std::string_view::npos) {
        std::string_view rest = bytes.substr(headEnd + 4);
        uint64_t length = std::strtoull(request.Header("Content-Length").c_str(), nullptr, 10);
        request.body = rest.substr(0, static_cast<size_t>(std::min<uint64_t>(length, rest.size())));
    }
    return request;
}

Reply Reply::Ok(std::string body, std::string contentType)
{
    return Status(200, std::move(body), std::move(contentType));
}

Reply Reply::Status(int status, std::string body, std::string contentType)
{
    Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    return WithContentType(std::move(reply), std::move(contentType));
}

Reply Reply::Redirect(std::string location, int status)
{
    Reply reply = Status(status, "<html><body>moved</body></html>");
    reply.headers.emplace_back("Location", std::move(location));
    return reply;
}

Reply Reply::WithoutLength(std::string body)
{
    Reply reply = Ok(std::move(body));
    reply.mode = ReplyMode::NoLength;
    return reply;
}

Reply Reply::WrongLength(std::string body, uint64_t announcedLength)
{
    Reply reply = Ok(std::move(body));
    reply.mode = ReplyMode::AnnouncedLength;
    reply.announcedLength = announcedLength;
    return reply;
}

Reply Reply::EarlyClose(std::string body, size_t sendBytes)
{
    Reply reply = Ok(std::move(body));
    reply.mode = ReplyMode::EarlyClose;
    reply.sendBytes = sendBytes;
    return reply;
}

Reply Reply::Trickle(std::string body, size_t chunkBytes, int delayMs)
{
    Reply reply = Ok(std::move(body));
    reply.mode = ReplyMode::Trickle;
    reply.chunkBytes = chunkBytes == 0 ? 1 : chunkBytes;
    reply.delayMs = delayMs;
    return reply;
}

Reply Reply::Raw(std::string bytes)
{
    Reply reply;
    reply.body = std::move(bytes);
    reply.mode = ReplyMode::Raw;
    return reply;
}

Reply Reply::HoldOpen(std::string bytesFirst)
{
    Reply reply;
    reply.body = std::move(bytesFirst);
    reply.mode = ReplyMode::HoldOpen;
    return reply;
}

Reply Reply::Delayed(Reply reply, int delayMs)
{
    reply.delayFirstMs = delayMs;
    return reply;
}

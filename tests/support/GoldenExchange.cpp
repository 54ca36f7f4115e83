#include "tests/support/GoldenExchange.h"

#include <stdexcept>

#include "tests/support/TempDir.h"

namespace testsupport {

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

using TKind = TGoldenExchange::TStep::TKind;

TGoldenExchange::TStep Directive(std::string_view text)
{
    if (text == "close") return {TKind::Close, {}};
    if (text == "reset") return {TKind::Reset, {}};
    if (text == "shutdown") return {TKind::Shutdown, {}};
    if (text == "read-to-end") return {TKind::ReadToEnd, {}};
    if (text.starts_with("pause ")) return {TKind::Pause, {}, std::stoi(std::string(text.substr(6)))};
    throw std::runtime_error("unknown directive: " + std::string(text));
}

} // namespace

std::string TestDataPath(const std::string& relative) { return std::string(SCRIVLET_TEST_DATA_DIR) + "/" + relative; }

std::string DecodeEscapes(std::string_view text)
{
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        if (++i == text.size()) throw std::runtime_error("escape at the end of a line");
        switch (text[i]) {
        case 'r': bytes += '\r'; break;
        case 'n': bytes += '\n'; break;
        case 't': bytes += '\t'; break;
        case '0': bytes += '\0'; break;
        case '\\': bytes += '\\'; break;
        case 'x': {
            const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
            if (high < 0 || low < 0) throw std::runtime_error("\\x needs two hex digits");
            bytes += static_cast<char>(high * 16 + low);
            i += 2;
            break;
        }
        default: throw std::runtime_error(std::string("unknown escape \\") + text[i]);
        }
    }
    return bytes;
}

TGoldenExchange TGoldenExchange::Load(const std::string& relative)
{
    const std::string path = TestDataPath(relative);
    std::string text = ReadTextFile(path);
    if (text.empty()) throw std::runtime_error("missing or empty golden exchange " + path);
    return Parse(text);
}

TGoldenExchange TGoldenExchange::Parse(std::string_view text)
{
    TGoldenExchange exchange;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.empty() || line[0] == '#') continue;
        const char marker = line[0];
        line.remove_prefix(1);
        if (line.starts_with(' ')) line.remove_prefix(1);
        if (marker == '!') {
            exchange.steps_.push_back(Directive(line));
            continue;
        }
        if (marker != '>' && marker != '<') throw std::runtime_error("a line starts with >, <, ! or #");
        const TKind kind = marker == '>' ? TKind::Client : TKind::Server;
        if (exchange.steps_.empty() || exchange.steps_.back().kind != kind) exchange.steps_.push_back({kind, {}});
        exchange.steps_.back().bytes += DecodeEscapes(line);
    }
    return exchange;
}

std::string TGoldenExchange::Request() const
{
    std::string bytes;
    for (const TStep& step : steps_)
        if (step.kind == TKind::Client) bytes += step.bytes;
    return bytes;
}

std::string TGoldenExchange::Reply() const
{
    std::string bytes;
    for (const TStep& step : steps_)
        if (step.kind == TKind::Server) bytes += step.bytes;
    return bytes;
}

std::vector<std::string> TGoldenExchange::TConnections::RequestsOn(int port) const
{
    const std::string marker = "$PORT", value = std::to_string(port);
    std::vector<std::string> out = requests;
    for (std::string& request : out)
        for (size_t at = request.find(marker); at != std::string::npos; at = request.find(marker, at + value.size()))
            request.replace(at, marker.size(), value);
    return out;
}

TGoldenExchange::TConnections TGoldenExchange::Connections(TClientRead read, std::size_t pieceSize, int pauseMs) const
{
    TConnections connections;
    bool open = false;
    for (const TStep& step : steps_) {
        if (!open) {
            connections.scripts.emplace_back();
            connections.requests.emplace_back();
            open = true;
        }
        TConnectionScript& script = connections.scripts.back();
        switch (step.kind) {
        case TKind::Client:
            if (read == TClientRead::AsHttpRequest) {
                script.ReadHttpRequest();
            } else {
                script.ReadCount(step.bytes.size());
            }
            connections.requests.back() += step.bytes;
            ++connections.clientPieces;
            break;
        case TKind::Server: script.Send(step.bytes, pieceSize, pauseMs); break;
        case TKind::Close:
            script.Close();
            open = false;
            break;
        case TKind::Reset:
            script.Reset();
            open = false;
            break;
        case TKind::Shutdown: script.ShutdownWrite(); break;
        case TKind::Pause: script.Pause(step.pauseMs); break;
        case TKind::ReadToEnd: script.ReadToEnd(); break;
        }
    }
    return connections;
}

TConnectionScript TGoldenExchange::Script(std::size_t pieceSize, int pauseMs) const
{
    TConnections connections = Connections(TClientRead::ByLength, pieceSize, pauseMs);
    if (connections.scripts.size() > 1) throw std::runtime_error("the exchange spans more than one connection");
    return connections.scripts.empty() ? TConnectionScript() : std::move(connections.scripts.front());
}

} // namespace testsupport

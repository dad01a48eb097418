// Masking the password of a database connection text (see database_url.h).
#include "production/database_url.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "serial/number_text.h"

namespace vantor::production {

namespace {

constexpr std::string_view kMask = "***";

// Where a password lies in a connection text: [begin, end).
struct Span {
  std::size_t begin;
  std::size_t end;
};

bool IsUri(std::string_view text) {
  return text.rfind("postgresql://", 0) == 0 || text.rfind("postgres://", 0) == 0;
}

// The passwords of `text`: the URI's user-info one, and the value of every "password" keyword
// (a URI's query parameter, or the keyword form's, quoted or not).
std::vector<Span> PasswordSpans(std::string_view text) {
  std::vector<Span> spans;
  const bool uri = IsUri(text);
  if (uri) {
    const std::size_t authority = text.find("://") + 3;
    const std::size_t query = text.find('?', authority);
    const std::size_t at = text.substr(0, query).rfind('@');
    if (at != std::string_view::npos && at > authority) {
      const std::size_t colon = text.substr(0, at).find(':', authority);
      if (colon != std::string_view::npos)
        spans.push_back({colon + 1, at});
    }
  }
  constexpr std::string_view kKey = "password";
  for (std::size_t at = text.find(kKey); at != std::string_view::npos;
       at = text.find(kKey, at + kKey.size())) {
    const bool wordStart = at == 0 || std::isspace(static_cast<unsigned char>(text[at - 1])) ||
                           text[at - 1] == '?' || text[at - 1] == '&';
    std::size_t i = at + kKey.size();
    while (!uri && i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
      ++i;
    if (!wordStart || i >= text.size() || text[i] != '=')
      continue;
    ++i;
    while (!uri && i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
      ++i;
    std::size_t end = i;
    if (!uri && end < text.size() && text[end] == '\'') {
      // 'quoted value', a backslash escaping the next character.
      for (++end; end < text.size() && text[end] != '\''; ++end) {
        if (text[end] == '\\')
          ++end;
      }
      end = std::min(end + 1, text.size());
    } else {
      const std::string_view stops = uri ? "&#" : " \t\r\n";
      end = std::min(text.find_first_of(stops, i), text.size());
    }
    spans.push_back({i, end});
  }
  return spans;
}

std::string PercentDecoded(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte =
        text[i] == '%' && i + 2 < text.size()
            ? serial::ParseNumber<std::uint8_t>(text.substr(i + 1, 2), serial::NumberSyntax::kHex)
            : std::nullopt;
    if (byte) {
      decoded += static_cast<char>(*byte);
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

void ReplaceAll(std::string& text, std::string_view what) {
  if (what.empty())
    return;
  for (std::size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + kMask.size()))
    text.replace(at, what.size(), kMask);
}

}  // namespace

std::string MaskPassword(std::string_view conninfo) {
  std::string masked(conninfo);
  const std::vector<Span> spans = PasswordSpans(conninfo);
  // From the last: earlier positions stay valid.
  for (auto span = spans.rbegin(); span != spans.rend(); ++span)
    masked.replace(span->begin, span->end - span->begin, kMask);
  return masked;
}

std::string MaskPasswordsIn(std::string_view text, std::string_view conninfo) {
  std::string masked = MaskPassword(text);
  for (const Span& span : PasswordSpans(conninfo)) {
    std::string_view password = conninfo.substr(span.begin, span.end - span.begin);
    // A quoted value as libpq reads it: without its quotes (the closing one may be missing).
    if (!password.empty() && password.front() == '\'') {
      password.remove_prefix(1);
      if (!password.empty() && password.back() == '\'')
        password.remove_suffix(1);
    }
    ReplaceAll(masked, password);
    ReplaceAll(masked, PercentDecoded(password));
  }
  return masked;
}

}  // namespace vantor::production

// A small reader for the tool's own one-line JSON objects.
#include "support/flat_json.h"

#include <cctype>
#include <cstdint>

namespace vantor::cli {

namespace {

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

class Reader {
 public:
  explicit Reader(std::string_view s) : m_s(s) {}
  void Skip() {
    while (m_i < m_s.size() && std::isspace(static_cast<unsigned char>(m_s[m_i])))
      ++m_i;
  }
  bool Take(char c) {
    Skip();
    if (m_i < m_s.size() && m_s[m_i] == c) {
      ++m_i;
      return true;
    }
    return false;
  }
  bool String(std::string& out) {
    if (!Take('"'))
      return false;
    while (m_i < m_s.size()) {
      const char c = m_s[m_i++];
      if (c == '"')
        return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (m_i >= m_s.size())
        return false;
      const char e = m_s[m_i++];
      switch (e) {
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          if (m_i + 4 > m_s.size())
            return false;
          const std::uint32_t cp = std::stoul(std::string(m_s.substr(m_i, 4)), nullptr, 16);
          m_i += 4;
          AppendUtf8(out, cp);
          break;
        }
        default:
          out += e;
      }
    }
    return false;
  }
  bool Scalar(std::string& out) {
    Skip();
    while (m_i < m_s.size() && m_s[m_i] != ',' && m_s[m_i] != '}' &&
           !std::isspace(static_cast<unsigned char>(m_s[m_i])))
      out += m_s[m_i++];
    return !out.empty();
  }
  bool AtEnd() {
    Skip();
    return m_i == m_s.size();
  }
  bool PeekQuote() {
    Skip();
    return m_i < m_s.size() && m_s[m_i] == '"';
  }

 private:
  std::string_view m_s;
  std::size_t m_i = 0;
};

}  // namespace

std::optional<std::map<std::string, std::string>> ParseFlatJson(std::string_view line) {
  Reader r(line);
  std::map<std::string, std::string> members;
  if (!r.Take('{'))
    return std::nullopt;
  if (r.Take('}'))
    return r.AtEnd() ? std::optional(members) : std::nullopt;
  for (;;) {
    std::string key, value;
    if (!r.String(key) || !r.Take(':'))
      return std::nullopt;
    if (r.PeekQuote() ? !r.String(value) : !r.Scalar(value))
      return std::nullopt;
    members[key] = value;
    if (r.Take(','))
      continue;
    if (r.Take('}') && r.AtEnd())
      return members;
    return std::nullopt;
  }
}

}  // namespace vantor::cli

// A small JSON reader for the record lines the tools write (see record_reader.h).
#include "production/record_reader.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "production/unit_numbers.h"

namespace vantor::production {

namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : m_text(text) {}

  bool Document(RecordFields& fields) {
    if (!Value("", fields))
      return false;
    Blank();
    return m_at == m_text.size();
  }

 private:
  void Blank() {
    while (m_at < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_at])))
      ++m_at;
  }
  bool Next(char c) {
    Blank();
    if (m_at < m_text.size() && m_text[m_at] == c) {
      ++m_at;
      return true;
    }
    return false;
  }
  static std::string Join(const std::string& prefix, const std::string& key) {
    return prefix.empty() ? key : prefix + "." + key;
  }

  bool Value(const std::string& key, RecordFields& fields) {
    Blank();
    if (m_at >= m_text.size() || ++m_depth > 16)
      return false;
    bool ok = false;
    const char c = m_text[m_at];
    if (c == '{') {
      ok = Object(key, fields);
    } else if (c == '[') {
      ok = Array(key, fields);
    } else if (c == '"') {
      std::string text;
      ok = String(text);
      fields[key] = text;
    } else {
      const std::size_t start = m_at;
      while (m_at < m_text.size() &&
             (std::isalnum(static_cast<unsigned char>(m_text[m_at])) || m_text[m_at] == '-' ||
              m_text[m_at] == '+' || m_text[m_at] == '.'))
        ++m_at;
      ok = m_at > start;
      fields[key] = std::string(m_text.substr(start, m_at - start));
    }
    --m_depth;
    return ok;
  }

  bool Object(const std::string& prefix, RecordFields& fields) {
    ++m_at;
    if (Next('}'))
      return true;
    do {
      std::string key;
      Blank();
      if (!String(key) || !Next(':') || !Value(Join(prefix, key), fields))
        return false;
    } while (Next(','));
    return Next('}');
  }

  bool Array(const std::string& prefix, RecordFields& fields) {
    ++m_at;
    std::size_t count = 0;
    if (!Next(']')) {
      do {
        if (!Value(Join(prefix, std::to_string(count++)), fields))
          return false;
      } while (Next(','));
      if (!Next(']'))
        return false;
    }
    fields[prefix] = std::to_string(count);
    return true;
  }

  static void Utf8(std::string& out, std::uint32_t cp) {
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

  bool String(std::string& out) {
    if (m_at >= m_text.size() || m_text[m_at] != '"')
      return false;
    for (++m_at; m_at < m_text.size();) {
      const char c = m_text[m_at++];
      if (c == '"')
        return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (m_at >= m_text.size())
        return false;
      const char escaped = m_text[m_at++];
      if (escaped == 'u') {
        std::uint64_t cp = 0;
        if (m_at + 4 > m_text.size() ||
            !ParseUnsignedNumber("0x" + std::string(m_text.substr(m_at, 4)), cp))
          return false;
        m_at += 4;
        Utf8(out, static_cast<std::uint32_t>(cp));
      } else {
        const std::string_view from = "nrtbf";
        const std::string_view to = "\n\r\t\b\f";
        const std::size_t i = from.find(escaped);
        out += i == std::string_view::npos ? escaped : to[i];
      }
    }
    return false;
  }

  std::string_view m_text;
  std::size_t m_at = 0;
  int m_depth = 0;
};

// Days since 1970-01-01 of a civil date (the proleptic Gregorian calendar).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

std::optional<RecordFields> ReadRecordFields(std::string_view line) {
  RecordFields fields;
  Parser parser(line);
  if (line.empty() || line.front() != '{' || !parser.Document(fields))
    return std::nullopt;
  return fields;
}

bool ParseIsoUtc(const std::string& text, std::int64_t& ms) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, milli = 0;
  char z = 0;
  if (text.size() != 24 ||
      std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c", &y, &mo, &d, &h, &mi, &s, &milli,
                  &z) != 8 ||
      z != 'Z' || mo < 1 || mo > 12 || d < 1 || d > 31)
    return false;
  ms =
      ((DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 24 + h) * 60 + mi) *
          60000 +
      s * 1000 + milli;
  return true;
}

bool SummarizeRecordLine(std::string_view line, RecordSummary& summary, std::string& error) {
  const auto fields = ReadRecordFields(line);
  if (!fields) {
    error = "not a JSON object";
    return false;
  }
  const auto get = [&](const char* key) {
    const auto it = fields->find(key);
    return it == fields->end() ? std::string() : it->second;
  };
  summary = RecordSummary{};
  summary.id = get("id");
  summary.port = get("port");
  if (!ParseIsoUtc(get("started"), summary.startedMs) ||
      !ParseIsoUtc(get("finished"), summary.finishedMs)) {
    error = "no started/finished time";
    return false;
  }
  try {
    summary.code = std::stoi(get("result.code"));
  } catch (const std::exception&) {
    error = "no result code";
    return false;
  }
  std::uint64_t number = 0;
  if (ParseUnsignedNumber(get("unit.number"), number))
    summary.unit = number;
  return true;
}

bool ReadRecordFile(const std::string& path, std::vector<std::string>& lines,
                    std::vector<RecordSummary>& records, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.empty())
      continue;
    RecordSummary summary;
    if (!SummarizeRecordLine(line, summary, error)) {
      error = path + ":" + std::to_string(number) + ": not a record (" + error + ")";
      return false;
    }
    lines.push_back(std::move(line));
    records.push_back(std::move(summary));
  }
  return true;
}

}  // namespace vantor::production

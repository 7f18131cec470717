#include "Json.h"

#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace orvana::cli::json {

namespace {

// Length of the valid UTF-8 sequence starting at s[i], 0 when the byte there starts none
// (a stray continuation byte, an overlong form, a surrogate, beyond U+10FFFF, cut short).
std::size_t utf8Length(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = byte(i);
  std::size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    if (b == 0xE0) lo = 0xA0;  // overlong
    if (b == 0xED) hi = 0x9F;  // surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    if (b == 0xF0) lo = 0x90;  // overlong
    if (b == 0xF4) hi = 0x8F;  // beyond U+10FFFF
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  return n;
}

void appendEscape(std::string& out, unsigned code) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\u%04x", code);
  out += buf;
}

}  // namespace

std::string quote(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      switch (c) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '\b':
          out += "\\b";
          break;
        case '\f':
          out += "\\f";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\t':
          out += "\\t";
          break;
        default:
          if (c < 0x20)
            appendEscape(out, c);
          else
            out += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    if (const std::size_t n = utf8Length(text, i); n != 0) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      appendEscape(out, c);
      ++i;
    }
  }
  out += '"';
  return out;
}

void Writer::beforeValue() {
  if (stack_.empty()) {
    assert(out_.empty() && "one document per writer");
    return;
  }
  Level& top = stack_.back();
  if (top.object) {
    assert(top.keyed && "a value in an object needs its key first");
    top.keyed = false;
  } else {
    if (!top.empty) out_ += ',';
    top.empty = false;
  }
}

void Writer::raw(std::string_view text) {
  beforeValue();
  out_.append(text);
}

Writer& Writer::key(std::string_view name) {
  assert(!stack_.empty() && stack_.back().object && !stack_.back().keyed);
  Level& top = stack_.back();
  if (!top.empty) out_ += ',';
  top.empty = false;
  top.keyed = true;
  out_ += quote(name);
  out_ += ':';
  return *this;
}

Writer& Writer::beginObject() {
  raw("{");
  stack_.push_back({true});
  return *this;
}

Writer& Writer::endObject() {
  assert(!stack_.empty() && stack_.back().object && !stack_.back().keyed);
  stack_.pop_back();
  out_ += '}';
  return *this;
}

Writer& Writer::beginArray() {
  raw("[");
  stack_.push_back({false});
  return *this;
}

Writer& Writer::endArray() {
  assert(!stack_.empty() && !stack_.back().object);
  stack_.pop_back();
  out_ += ']';
  return *this;
}

Writer& Writer::value(std::string_view text) {
  raw(quote(text));
  return *this;
}

Writer& Writer::value(bool b) {
  raw(b ? "true" : "false");
  return *this;
}

Writer& Writer::value(std::int64_t n) {
  raw(std::to_string(n));
  return *this;
}

Writer& Writer::value(std::uint64_t n) {
  raw(std::to_string(n));
  return *this;
}

Writer& Writer::value(double d) {
  if (!std::isfinite(d)) return null();
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, d);
  raw(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
  return *this;
}

Writer& Writer::null() {
  raw("null");
  return *this;
}

void print(const Writer& w) {
  assert(w.complete());
  std::fwrite(w.str().data(), 1, w.str().size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace orvana::cli::json

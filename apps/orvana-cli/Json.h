#pragma once

// A small JSON writer for the commands' --json output: one document, written compactly.
//
//   json::Writer w;
//   w.beginObject().field("chip", 2).key("clips").beginArray();
//   ...
//   w.endArray().endObject();
//   json::print(w);  // the document and a newline on stdout
//
// Commas and nesting are the writer's business; a key is given before every value inside an
// object and never inside an array.

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace orvana::cli::json {

// `text` as a JSON string, quotes included. Valid UTF-8 is kept as it is; control characters,
// and each byte outside a valid UTF-8 sequence (read as Latin-1), become \u escapes,
// so the result is always valid JSON whatever the bytes were.
std::string quote(std::string_view text);

class Writer {
 public:
  Writer& beginObject();
  Writer& endObject();
  Writer& beginArray();
  Writer& endArray();
  Writer& key(std::string_view name);

  Writer& value(std::string_view text);
  Writer& value(const char* text) { return value(std::string_view(text)); }
  Writer& value(const std::string& text) { return value(std::string_view(text)); }
  Writer& value(bool b);
  Writer& value(std::int64_t n);
  Writer& value(std::uint64_t n);
  // Any other integer type goes through the 64-bit ones (bool has its own overload).
  template <std::integral T>
  requires(!std::same_as<T, bool>) Writer& value(T n) {
    if constexpr (std::is_signed_v<T>)
      return value(static_cast<std::int64_t>(n));
    else
      return value(static_cast<std::uint64_t>(n));
  }
  // The shortest text that reads back as the same double; null when not finite, as JSON has no
  // NaN or infinity.
  Writer& value(double d);
  Writer& null();
  template <class T>
  Writer& value(const std::optional<T>& v) {
    return v ? value(*v) : null();
  }

  // key(name).value(v) in one call.
  template <class T>
  Writer& field(std::string_view name, const T& v) {
    return key(name).value(v);
  }

  // The document so far; complete once every object and array begun has ended.
  const std::string& str() const { return out_; }
  bool complete() const { return stack_.empty() && !out_.empty(); }

 private:
  void beforeValue();
  void raw(std::string_view text);

  struct Level {
    bool object;
    bool empty = true;
    bool keyed = false;  // an object's key awaits its value
  };
  std::vector<Level> stack_;
  std::string out_;
};

// Writes the finished document and a newline to stdout and flushes it: the only thing a command
// prints on stdout under --json.
void print(const Writer& w);

}  // namespace orvana::cli::json

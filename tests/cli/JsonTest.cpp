// The --json writer of the command line: what it makes of any bytes, and documents a JSON reader
// accepts and reads back as they were built.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "Json.h"

namespace orvana {
namespace {

using cli::json::quote;
using cli::json::Writer;

QJsonDocument parse(const std::string& text) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError)
      << text << ": " << error.errorString().toStdString();
  return doc;
}

TEST(JsonTest, QuoteKeepsValidUtf8AndEscapesEverythingElse) {
  struct Case {
    const char* name;
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"plain", "clip 5", "\"clip 5\""},
      {"empty", "", "\"\""},
      {"quote and backslash", "say \"hi\" C:\\x", R"("say \"hi\" C:\\x")"},
      {"short escapes", "\b\f\n\r\t", R"("\b\f\n\r\t")"},
      {"other controls", std::string("\x01\x1f", 2) + std::string(1, '\0') + "\x7f",
       "\"\\u0001\\u001f\\u0000\x7f\""},
      {"two, three and four byte UTF-8", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xac",
       "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xac\""},
      {"Windows-1252 bytes", "\xe9\x80", "\"\\u00e9\\u0080\""},
      {"stray continuation",
       "a\xbf"
       "b",
       "\"a\\u00bfb\""},
      {"cut short at the end", "x\xe2\x82", "\"x\\u00e2\\u0082\""},
      {"overlong slash", "\xc0\xaf", "\"\\u00c0\\u00af\""},
      {"overlong three bytes", "\xe0\x80\xaf", "\"\\u00e0\\u0080\\u00af\""},
      {"surrogate", "\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},
      {"beyond U+10FFFF", "\xf4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},
      {"highest code point", "\xf4\x8f\xbf\xbf", "\"\xf4\x8f\xbf\xbf\""},
      {"lead byte then ASCII", "\xc3(", "\"\\u00c3(\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string q = quote(c.in);
    EXPECT_EQ(q, c.out);
    // Whatever the bytes, the result is a string a reader takes.
    const QJsonDocument doc = parse("[" + q + "]");
    ASSERT_TRUE(doc.isArray());
    EXPECT_TRUE(doc.array().at(0).isString());
  }
}

TEST(JsonTest, NestedDocumentReadsBackAsBuilt) {
  Writer w;
  w.beginObject()
      .field("name", "caf\xc3\xa9 \"1\"")
      .field("count", 3)
      .field("negative", std::int64_t{-9000000000})
      .field("big", std::uint32_t{4294967295u})
      .field("byte", std::uint8_t{224})
      .field("yes", true)
      .field("no", false)
      .field("third", 1.0 / 3.0)
      .field("nan", std::nan(""))
      .field("infinite", std::numeric_limits<double>::infinity())
      .field("missing", std::optional<std::string>{})
      .field("present", std::optional<int>{7})
      .key("empty_object")
      .beginObject()
      .endObject()
      .key("empty_array")
      .beginArray()
      .endArray()
      .key("rows")
      .beginArray();
  for (int i = 0; i < 3; ++i)
    w.beginObject()
        .field("i", i)
        .key("pair")
        .beginArray()
        .value(i)
        .value(-i)
        .endArray()
        .endObject();
  w.beginArray().endArray().value("last").endArray().endObject();
  ASSERT_TRUE(w.complete());
  // Compact: one line, the only space the one inside "name".
  EXPECT_EQ(std::count(w.str().begin(), w.str().end(), ' '), 1) << w.str();
  EXPECT_EQ(w.str().find('\n'), std::string::npos) << w.str();

  const QJsonObject o = parse(w.str()).object();
  EXPECT_EQ(o.value("name").toString(), QString::fromUtf8("caf\xc3\xa9 \"1\""));
  EXPECT_EQ(o.value("count").toInt(), 3);
  EXPECT_EQ(o.value("negative").toInteger(), -9000000000);
  EXPECT_EQ(o.value("big").toInteger(), 4294967295);
  EXPECT_EQ(o.value("byte").toInt(), 224);
  EXPECT_TRUE(o.value("yes").isBool() && o.value("yes").toBool());
  EXPECT_TRUE(o.value("no").isBool() && !o.value("no").toBool());
  EXPECT_EQ(o.value("third").toDouble(), 1.0 / 3.0);  // shortest form still reads back exactly
  EXPECT_TRUE(o.value("nan").isNull());
  EXPECT_TRUE(o.value("infinite").isNull());
  EXPECT_TRUE(o.value("missing").isNull());
  EXPECT_EQ(o.value("present").toInt(), 7);
  EXPECT_TRUE(o.value("empty_object").isObject() && o.value("empty_object").toObject().isEmpty());
  EXPECT_TRUE(o.value("empty_array").isArray() && o.value("empty_array").toArray().isEmpty());
  const QJsonArray rows = o.value("rows").toArray();
  ASSERT_EQ(rows.size(), 5);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(rows.at(i).toObject().value("i").toInt(), i);
    EXPECT_EQ(rows.at(i).toObject().value("pair").toArray(), (QJsonArray{i, -i}));
  }
  EXPECT_TRUE(rows.at(3).isArray() && rows.at(3).toArray().isEmpty());
  EXPECT_EQ(rows.at(4).toString(), "last");
  EXPECT_EQ(o.size(), 15);  // no key lost or doubled
}

}  // namespace
}  // namespace orvana

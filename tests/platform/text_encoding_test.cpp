// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QString>
#include <QStringDecoder>

#include "platform/text_encoding.h"

namespace wx {
namespace {

// Judged by Qt's own decoder, not by the code under test.
bool IsUtf8(const std::string& s) {
  QStringDecoder decoder(QStringDecoder::Utf8);
  const QString decoded = decoder(QByteArray::fromStdString(s));
  return !decoder.hasError() && decoded.toUtf8().toStdString() == s;
}

TEST(TextEncoding, SingleByteTextBecomesUtf8AndUtf8Stays) {
  // Windows-1252 where it defines 0x80..0x9F; its five gaps keep their C1 code point.
  EXPECT_EQ(ToUtf8("\x80\x8C\x93x\x94\x99\x9F"), "€Œ“x”™Ÿ");
  EXPECT_EQ(ToUtf8("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
  for (int b = 0xA0; b <= 0xFF; ++b) {
    const char c = static_cast<char>(b);
    EXPECT_EQ(ToUtf8(std::string(1, c)), QString::fromLatin1(&c, 1).toUtf8().toStdString()) << b;
  }
  for (const char* ok : {"café € 😀", "\xC2\x80", "\xED\x9F\xBF", "\xEE\x80\x80", "\xF4\x8F\xBF\xBF"})
    EXPECT_EQ(ToUtf8(ok), ok);
  // Overlong, surrogate, beyond U+10FFFF, cut short, lone continuation: byte by byte.
  EXPECT_EQ(ToUtf8("\xC0\xAF"), "À¯");
  EXPECT_EQ(ToUtf8("\xE0\x80\xAF"), "à€¯");
  EXPECT_EQ(ToUtf8("\xED\xA0\x80"), "í\xC2\xA0€");
  EXPECT_EQ(ToUtf8("\xF4\x90\x80\x80"), "ô\xC2\x90€€");
  EXPECT_EQ(ToUtf8("ab\xE2\x82"), "abâ‚");
  EXPECT_EQ(ToUtf8("\xC3(\xA9"), "Ã(©");
  // Every pair of bytes, and each after a lead byte, ends as UTF-8 that stays as it is.
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) {
      const std::string in{static_cast<char>(a), static_cast<char>(b), '\xE1', static_cast<char>(b)};
      const std::string out = ToUtf8(in);
      ASSERT_TRUE(IsUtf8(out)) << a << " " << b;
      ASSERT_EQ(ToUtf8(out), out) << a << " " << b;
    }
}

TEST(TextEncoding, JsonHtmlAndCsvEscaping) {
  EXPECT_EQ(JsonString("a\tb\x01\x7F</\"\\"), R"("a\u0009b\u0001\u007f\u003c/\"\\")");
  const QJsonDocument doc = QJsonDocument::fromJson(("[" + JsonString("caf\xE9 \x80\n<x>") + "]").c_str());
  EXPECT_EQ(doc.array().at(0).toString(), QString::fromUtf8("café €\n<x>"));
  EXPECT_EQ(HtmlEscape("<a href=\"x\">&'\xE9"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;é");
  for (const char* as_is : {"plain text", "", "caf\xC3\xA9"}) EXPECT_EQ(CsvField(as_is), as_is);
  EXPECT_EQ(CsvField("caf\xE9"), "café");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  for (const std::string quoted : {"a,b", "two\nlines", "cr\r", " lead", "trail\t"})
    EXPECT_EQ(CsvField(quoted), "\"" + quoted + "\"");
  EXPECT_EQ(Trim(" \t x y \t"), "x y");
  EXPECT_EQ(TrimLeft(" \t x y \t"), "x y \t");
  EXPECT_EQ(Trim(" \t "), "");
  EXPECT_EQ(Trim("\nx"), "\nx");
}

TEST(TextEncoding, CompassPointsTurnedByTheVaneOffset) {
  const char* const points[16] = {"N", "NNE", "NE", "ENE", "E", "ESE", "SE", "SSE",
                                  "S", "SSW", "SW", "WSW", "W", "WNW", "NW", "NNW"};
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(CompassPoint(i, 0), points[i]);
    EXPECT_EQ(CompassLabel(i, 0), i == 0 ? " N " : points[i]);
    EXPECT_DOUBLE_EQ(CompassDegrees(i, 0), i * 22.5);
    for (int offset = -16; offset < 32; ++offset) {
      const int turned = ((i + offset) % 16 + 16) % 16;
      EXPECT_EQ(CompassPoint(i, offset), points[turned]) << i << "+" << offset;
      EXPECT_EQ(CompassLabel(i, offset), CompassLabel(turned, 0));
      EXPECT_DOUBLE_EQ(CompassDegrees(i, offset), CompassDegrees(turned, 0));
    }
  }
  for (int bad : {-1, 16, 17}) {
    EXPECT_EQ(CompassPoint(bad, 9), "");
    EXPECT_EQ(CompassLabel(bad, 9), "???");
    EXPECT_EQ(CompassDegrees(bad, 9), -1.0);
  }
}

}  // namespace
}  // namespace wx

#include "control/protocol_text.h"

#include <gtest/gtest.h>

TEST(HeaderBlock, EmptyValuesKeepEveryLineAndEndInFourLineEnds) {
  pellox::StationAnnouncement station;
  EXPECT_EQ(pellox::headerBlock(station),
            "icy-name:\r\nicy-genre:\r\nicy-pub:0\r\nicy-br:\r\nicy-url:\r\nicy-irc:\r\n"
            "icy-icq:\r\nicy-aim:\r\nicy-metadata:1\r\ncontent-type:video/nsv\r\n\r\n\r\n\r\n");
}

TEST(HeaderBlock, ValuesGoInUntrimmedAndSignedYp) {
  pellox::StationAnnouncement station;
  station.stream_name = QStringLiteral(" My TV ");
  station.genre = QStringLiteral("News");
  station.yp = -1;
  station.bitrate = QStringLiteral("300");
  station.url = QStringLiteral("http://tv.example/");
  station.irc = QStringLiteral("#tv");
  station.icq = QStringLiteral("123");
  station.aim = QStringLiteral("tvaim");
  const QByteArray block = pellox::headerBlock(station);
  EXPECT_TRUE(block.startsWith("icy-name: My TV \r\nicy-genre:News\r\nicy-pub:-1\r\nicy-br:300\r\n"
                               "icy-url:http://tv.example/\r\nicy-irc:#tv\r\nicy-icq:123\r\nicy-aim:tvaim\r\n"));
  station.yp = 1;
  EXPECT_TRUE(pellox::headerBlock(station).contains("\r\nicy-pub:1\r\n"));
}

TEST(LoginLine, IsThePasswordAndLineEnd) {
  EXPECT_EQ(pellox::loginLine(QStringLiteral("setmenow")), "setmenow\r\n");
  EXPECT_EQ(pellox::loginLine(QStringLiteral("p\u00e4ss\u20ac")), "p\xe4ss?\r\n");
}

TEST(EscapeQueryValue, EncodesOnlyWhatChangesTheQuery) {
  EXPECT_EQ(pellox::escapeQueryValue(QStringLiteral("Evening News")), "Evening%20News");
  EXPECT_EQ(pellox::escapeQueryValue(QStringLiteral("a  b")), "a%20%20b");
  EXPECT_EQ(pellox::escapeQueryValue(QStringLiteral("100% & #1 + more")), "100%25%20%26%20%231%20%2B%20more");
  EXPECT_EQ(pellox::escapeQueryValue(QStringLiteral("tab\there\x7f")), "tab%09here%7F");
  EXPECT_EQ(pellox::escapeQueryValue(QStringLiteral("?=/:;'\"<>")), "?=/:;'\"<>");
  EXPECT_EQ(pellox::escapeQueryValue(QString(QChar(0x85))), "%85");
  EXPECT_EQ(pellox::escapeQueryValue(QString()), "");
}

TEST(TitleRequest, HasTheExactShape) {
  EXPECT_EQ(pellox::titleRequest(QStringLiteral("pw"), QStringLiteral("Evening News")),
            "GET /admin.cgi?pass=pw&mode=updinfo&song=Evening%20News HTTP/1.0\r\n"
            "User-Agent:Pellox(Mozilla)\r\n\r\n");
}

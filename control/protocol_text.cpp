#include "control/protocol_text.h"

namespace pellox {

namespace {

const QByteArray kLineEnd = QByteArrayLiteral("\r\n");

QByteArray headerValue(const QString &value) {
  QByteArray bytes = protocolText(value);
  bytes.replace('\r', ' ');
  bytes.replace('\n', ' ');
  return bytes;
}

bool isControlByte(unsigned char byte) {
  return byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F);
}

} // namespace

QByteArray protocolText(const QString &text) { return text.toLatin1(); }

QByteArray loginLine(const QString &password) { return protocolText(password) + kLineEnd; }

QByteArray headerBlock(const StationAnnouncement &station) {
  QByteArray block;
  block += "icy-name:" + headerValue(station.stream_name) + kLineEnd;
  block += "icy-genre:" + headerValue(station.genre) + kLineEnd;
  block += "icy-pub:" + QByteArray::number(station.yp) + kLineEnd;
  block += "icy-br:" + headerValue(station.bitrate) + kLineEnd;
  block += "icy-url:" + headerValue(station.url) + kLineEnd;
  block += "icy-irc:" + headerValue(station.irc) + kLineEnd;
  block += "icy-icq:" + headerValue(station.icq) + kLineEnd;
  block += "icy-aim:" + headerValue(station.aim) + kLineEnd;
  block += "icy-metadata:1" + kLineEnd;
  block += "content-type:video/nsv" + kLineEnd;
  block += kLineEnd + kLineEnd + kLineEnd;
  return block;
}

QByteArray escapeQueryValue(const QString &value) {
  static const char kHex[] = "0123456789ABCDEF";
  const QByteArray bytes = protocolText(value);
  QByteArray escaped;
  escaped.reserve(bytes.size());
  for (const char character : bytes) {
    const auto byte = static_cast<unsigned char>(character);
    const bool needs_escape = byte == ' ' || byte == '%' || byte == '&' || byte == '#' ||
                              byte == '+' || isControlByte(byte);
    if (needs_escape) {
      escaped.append('%');
      escaped.append(kHex[byte >> 4]);
      escaped.append(kHex[byte & 0x0F]);
    } else {
      escaped.append(character);
    }
  }
  return escaped;
}

QByteArray titleRequest(const QString &password, const QString &title) {
  return "GET /admin.cgi?pass=" + escapeQueryValue(password) + "&mode=updinfo&song=" +
         escapeQueryValue(title) + " HTTP/1.0" + kLineEnd + "User-Agent:Pellox(Mozilla)" +
         kLineEnd + kLineEnd;
}

} // namespace pellox

#pragma once

// A listener on an Icecast mount, and the check that what it heard is a
// decodable NSV stream.

#include "tests/integration/icecast_server.h"
#include "tests/support/nsv_fixtures.h"
#include "tests/support/media_tools.h"
#include "tests/support/wait_until.h"

#include "nsv/nsv_joiner.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QTcpSocket>

// The whole NSV frames in bytes, from the first sync header on.
inline QByteArray wholeFrames(const QByteArray &bytes, int *frame_count) {
  QBuffer buffer;
  buffer.setData(bytes);
  buffer.open(QIODevice::ReadOnly);
  nsv::FrameReader reader(buffer);
  nsv::FrameReader::RawFrame frame;
  QByteArray frames;
  *frame_count = 0;
  while (reader.next(&frame)) {
    frames += frame.bytes;
    ++*frame_count;
  }
  return frames;
}

// Listens on the server's mount until frame_count whole frames have arrived;
// the body received, or what came before the timeout.
inline QByteArray hear(const IcecastServer &server, int frame_count, int timeout_ms) {
  QTcpSocket socket;
  QByteArray received;
  QObject::connect(&socket, &QTcpSocket::readyRead, [&] { received += socket.readAll(); });
  socket.connectToHost(QHostAddress::LocalHost, server.port());
  if (!socket.waitForConnected(3000)) {
    return QByteArray();
  }
  socket.write("GET " + server.mount().toLatin1() + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  auto body = [&received] {
    const int end = received.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : received.mid(end + 4);
  };
  waitUntil(
      [&] {
        int frames = 0;
        wholeFrames(body(), &frames);
        return frames >= frame_count || socket.state() == QAbstractSocket::UnconnectedState;
      },
      timeout_ms);
  return body();
}

// The body from its first sync header on is whole frames back to back (no
// gap, no stray bytes such as in-band metadata), and ffmpeg decodes the video
// of every one of them without a complaint.
inline void expectDecodableFromFirstSync(const QByteArray &body, const QString &dump_path, int min_frames) {
  int frame_count = 0;
  const QByteArray frames = wholeFrames(body, &frame_count);
  ASSERT_GE(frame_count, min_frames) << body.size() << " bytes";
  const qsizetype first_sync = body.indexOf("NSVs");
  EXPECT_TRUE(body.mid(first_sync, frames.size()) == frames) << "bytes between frames";
  ASSERT_TRUE(fixtures::writeFile(dump_path, frames));
  EXPECT_EQ(media::probeReceivedNsv(dump_path), "vp8," + QByteArray::number(frame_count));
}

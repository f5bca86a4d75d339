#include "broadcaster/http/api_token.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace http_api {
namespace {

constexpr int kNewTokenBytes = 32;
// A token file is a line; anything much larger is not one.
constexpr qint64 kLargestFileBytes = 4096;

QString systemError(int number) { return QString::fromLocal8Bit(std::strerror(number)); }

// O_EXCL: a file someone else made in the meantime is read, never overwritten.
bool createTokenFile(const QString &path, QString *error) {
  QByteArray token(kNewTokenBytes, '\0');
  QRandomGenerator::system()->generate(token.begin(), token.end());
  const QByteArray line = token.toHex() + '\n';
  const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = QStringLiteral("The token file %1 cannot be created: %2").arg(path, systemError(errno));
    return false;
  }
  const ssize_t written = ::write(fd, line.constData(), static_cast<size_t>(line.size()));
  const int write_errno = errno;
  const bool closed = ::close(fd) == 0;
  if (written != line.size() || !closed) {
    ::unlink(QFile::encodeName(path).constData());
    *error = QStringLiteral("The token file %1 cannot be written: %2").arg(path, systemError(write_errno));
    return false;
  }
  return true;
}

} // namespace

bool ApiToken::load(const QString &path, bool *created, QString *error) {
  *created = false;
  struct stat info {};
  if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
    if (errno != ENOENT) {
      *error = QStringLiteral("The token file %1 cannot be read: %2").arg(path, systemError(errno));
      return false;
    }
    if (!createTokenFile(path, error)) {
      return false;
    }
    *created = true;
  } else if (!S_ISREG(info.st_mode)) {
    *error = QStringLiteral("The token file %1 is not a regular file.").arg(path);
    return false;
  } else if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    *error = QStringLiteral("The token file %1 can be read or changed by other users (mode %2): its token is no "
                            "secret. Make a new token, or restrict the file with: chmod 600 %1")
                 .arg(path, QString::number(info.st_mode & 07777, 8));
    return false;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    *error = QStringLiteral("The token file %1 cannot be read: %2").arg(path, file.errorString());
    return false;
  }
  const QByteArray token = file.read(kLargestFileBytes + 1).trimmed();
  const bool printable =
      std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 127; });
  if (token.size() < kShortestTokenChars || token.size() > kLargestFileBytes || !printable) {
    *error = QStringLiteral("The token file %1 must hold one token of at least %2 printable characters and no "
                            "spaces; remove it to have a new one made.")
                 .arg(path)
                 .arg(kShortestTokenChars);
    return false;
  }
  token_ = token;
  return true;
}

bool ApiToken::matches(const QByteArray &given) const {
  if (token_.isEmpty()) {
    return false;
  }
  // Digests of equal length, compared in full: neither the length of the
  // token nor the position of the first difference shows in the time taken.
  const QByteArray expected_digest = QCryptographicHash::hash(token_, QCryptographicHash::Sha256);
  const QByteArray given_digest = QCryptographicHash::hash(given, QCryptographicHash::Sha256);
  unsigned char difference = 0;
  for (int index = 0; index < expected_digest.size(); ++index) {
    difference |= static_cast<unsigned char>(expected_digest[index] ^ given_digest[index]);
  }
  return difference == 0;
}

QByteArray bearerToken(const QByteArray &authorization) {
  const QByteArray value = authorization.trimmed();
  static const QByteArray kScheme = QByteArrayLiteral("bearer ");
  if (value.size() <= kScheme.size() || value.left(kScheme.size()).toLower() != kScheme) {
    return QByteArray();
  }
  return value.mid(kScheme.size()).trimmed();
}

} // namespace http_api

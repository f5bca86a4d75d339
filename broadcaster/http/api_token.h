#pragma once

#include <QByteArray>
#include <QString>

namespace http_api {

// The secret that every change through the HTTP API must carry as
// "Authorization: Bearer TOKEN". It lives in a file only its owner may
// read: a missing file is created with a new random token and mode 0600;
// one that others can read or write is refused, since its token is no
// secret any more.
class ApiToken {
public:
  static constexpr int kShortestTokenChars = 16;

  // Reads the token file, or makes it when it does not exist. False with
  // the reason in error; created tells whether the file is new.
  bool load(const QString &path, bool *created, QString *error);

  bool isSet() const { return !token_.isEmpty(); }
  // Compares in a time that does not depend on where the texts differ.
  bool matches(const QByteArray &given) const;

private:
  QByteArray token_;
};

// The token of "Bearer TOKEN" (the scheme in any case); empty for anything else.
QByteArray bearerToken(const QByteArray &authorization);

} // namespace http_api

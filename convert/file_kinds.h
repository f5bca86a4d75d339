#pragma once

#include <QString>

// What stands at a path given by the operator, found without opening it:
// opening a FIFO blocks until a writer comes, and a device or a socket
// never ends like a file.
namespace convert {

enum class FileKind { Missing, LinkInACircle, Unreachable, RegularFile, Folder, Fifo, Socket, Device };

struct PathKind {
  FileKind kind = FileKind::Missing;
  int system_error = 0; // errno of the look, for Unreachable

  // Why such a path cannot be converted or listed, for the operator ("no
  // such file or folder", "a FIFO (named pipe), not a regular file; ...").
  // Empty for a regular file or a folder.
  QString problem() const;
};

// Follows links, as an open would.
PathKind pathKindAt(const QString &path);

} // namespace convert

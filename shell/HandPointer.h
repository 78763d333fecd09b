#pragma once

// The hand pointer: HAND-M.CUR, a Windows cursor file looked for beside the
// program, read once per page load and never written. Called from the
// user-interface thread only.

#include <QByteArray>
#include <QCursor>
#include <QString>
#include <optional>

class Page;

// True when the file's time of last change can be read; false on any error.
// Never throws.
bool FileExists(const QString& path);

// Reads a Windows .cur file (the image nearest to 32x32, its hotspot from the
// file's header); nothing when the file cannot be read as a pointer image.
// CursorFromCurData does the same for the file's bytes.
std::optional<QCursor> LoadCursorFile(const QString& path);
std::optional<QCursor> CursorFromCurData(const QByteArray& data);

// Where the hand pointer file is looked for: HAND-M.CUR beside the program.
// Tests may point to another folder instead (an empty folder name restores
// the program's own).
QString HandPointerPath();
void SetHandPointerFolder(const QString& folder);

// The page's MouseIcon from HAND-M.CUR beside the program, if that exists and
// reads as a pointer image; otherwise MouseIcon is left as it is.
void LoadHandPointer(Page& page);

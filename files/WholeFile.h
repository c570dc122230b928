#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace velkor {

// Refuses, with its reason, a path where no regular file may be written: one
// that is a folder, a FIFO, a device or a socket, or a symbolic link to one
// (writing there would replace a device node with a plain file, or block).
// A path that does not exist yet passes, as does a regular file, a link to
// one and a link to nothing. Throws std::runtime_error ("cannot write FILE:
// it is a FIFO, not a regular file"). The writers below check it too; a
// command checks its files with it before it touches the port.
void CheckOutputFile(const std::filesystem::path& file);

// Replaces file with contents as a whole: they go to a new temporary file of
// a unique, short name in the same folder (created exclusively, so a link
// planted there is never followed), are flushed to the disk and renamed over
// the file, so that a kill or a failure at any moment leaves either the old
// file or the new one, never a part, and no temporary file after a failure.
// The replaced file keeps its permission bits; a new one gets the usual
// mode. A file the user may not write is not replaced. Concurrent writers of
// one file each replace it whole; the last rename wins. Throws
// std::runtime_error with the reason when the file cannot be written.
void WriteFileWhole(const std::filesystem::path& file, std::string_view contents);

// Appends contents to the end of file, created when missing, and flushes it
// to the disk before returning; headerWhenEmpty goes first into a file that
// has nothing in it yet. The file is locked from the look at its size to the
// end of the write, so that of concurrent writers of a new file only the
// first writes the header. Throws std::runtime_error with the reason when
// the file cannot be written.
void AppendToFile(const std::filesystem::path& file, std::string_view contents, std::string_view headerWhenEmpty);

// Creates a new file holding contents under the first name no file has of
// first, then first with "-2", "-3"... before its extension; each is
// created exclusively under that final name, so that concurrent writers in
// one folder each get a file of their own and no existing file, nor a
// planted link, is ever opened. Flushed to the disk; gives the file's path.
// Throws std::runtime_error with the reason, leaving no file behind.
std::filesystem::path WriteNewFile(const std::filesystem::path& first, std::string_view contents);
// The names WriteNewFile tries: a folder that full has a fault of its own.
constexpr int kMostNumberedFiles = 9999;

// The nth name WriteNewFile tries (n from 1): first's file name itself, then
// with "-n" before its extension.
std::string NumberedFileName(const std::filesystem::path& first, int n);

// A fresh random name for a temporary file: short, so that it fits wherever
// the name of the file it stands in for does.
std::string TemporaryFileName();

}  // namespace velkor

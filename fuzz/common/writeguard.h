#pragma once

#include <QByteArray>
#include <QByteArrayList>

// Watches every file creation, write-open and directory creation of the process at the C
// library boundary (open, open64, openat, openat64, creat, creat64, mkdir, mkdirat are defined
// by this program and take precedence over the C library's for Qt too). While armed, each
// such call whose final location, after the directories and links on the way are resolved,
// lies outside the root is refused (EACCES) before it reaches the system and recorded as a
// violation. So a fault in the code under test shows up as a finding and never writes outside.
namespace WriteGuard {

// Starts watching; root must be a canonical absolute path.
void arm(const QByteArray &root);
// Stops watching and returns the violations seen since arm(), one text each.
QByteArrayList disarm();
// The number of guarded calls seen while armed, refused or not; proves the guard is active.
int callsSeen();

} // namespace WriteGuard
